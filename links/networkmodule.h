#pragma once

#include <QByteArray>
#include <QElapsedTimer>
#include <QHash>
#include <QMap>
#include <QObject>
#include <QSet>
#include <QString>
#include <QTcpServer>
#include <QTimer>
#include <QVector>

#include "links/gatewayprotocol.h"
#include "links/rejectiontally.h"

class QTcpSocket;
class ZigBeeClient;

// TCP server through which remote gateways reach the program: one record per accepted
// connection, the stream cut into messages, one log line per connection event.
class NetworkModule : public QObject
{
    Q_OBJECT
public:
    // Listens on every local address; a port of 0 or a failed listen is logged as a warning
    // and the program runs without gateways.
    explicit NetworkModule(quint16 port);
    ~NetworkModule() override;

    QMap<QTcpSocket*, ZigBeeClient*> clients;

    bool isListening() const { return server.isListening(); }
    quint16 serverPort() const { return server.serverPort(); }
    // Why the gateway port could not be opened, naming it; empty while the server listens
    // (or was not asked to).
    QString listenFailure() const { return listenProblem; }
    // The same as a line of the network log; nothing while the server listens. The log exists
    // only once the main window does, which is long after the listen.
    void announceListenFailure();
    // The client's peer address as text, as the log and the gateway binding show it: an IPv4
    // peer in dotted form, although a server on every address sees it IPv4-mapped.
    static QString peerText(const ZigBeeClient* client);
    static QString addressText(const QHostAddress& address);

    // What one connection may cost the program. The report interval holds for connections
    // accepted after it is set.
    struct Limits {
        // Output a gateway leaves unread: past this its connection is ended.
        qint64 maxUnsent = 1 << 20;
        // The sensor list goes to one connection at most once in this time (see sensorListDue).
        int sensorListPauseMs = 5000;
        // One network-log line per connection in this time at most for its dropped messages.
        int reportIntervalMs = 1000;
    };
    void setLimits(const Limits& limits);

    // Whether the sensor list may be sent to the client again now; true at most once per
    // sensorListPauseMs for one connection, and only while it is open. A gateway that forwards
    // measurements before it is bound is told the list again, but not for every measurement:
    // a list of thousands of sensors per message would outgrow anything it sends.
    bool sensorListDue(const ZigBeeClient* client);

    // At close: the server stops listening and every connection ends at once; what a gateway
    // still sends is neither read nor handled. The records stay until the module goes.
    void stop();

signals:
    void signalNewConnection(ZigBeeClient* client);
    void signalNetworkCastReceived(ZigBeeClient* client, QString eui64, QByteArray payload);
    void signalInitReceived(ZigBeeClient* client);
    void signalClosReceived(ZigBeeClient* client);
    void signalStatReceived(ZigBeeClient* client);
    void signalDisconnected(ZigBeeClient* client);
    void signalInterfNetworkMess(QString text);

public slots:
    void slotSlepSend(ZigBeeClient* client, QByteArray data);
    void slotSlepSend2(ZigBeeClient* client, QString eui64, int interval);
    void slotNewConnection();
    void slotSocketDisconnected();
    void slotSocketReadyRead();

private:
    void widenBacklog();
    // What a connection keeps between two reads of its socket.
    struct Pending {
        QByteArray buffer; // the start of a message whose rest has not arrived
        QString peer;
        int busy = 0; // messages of this connection are being handled
        bool ended = false; // disconnected while busy: finished when the handling unwinds
        bool cutOff = false; // ended by the program: what it still sent is not handled
        bool afterRejection = false; // the last bytes handled were dropped
        qint64 listSentAt = -1; // when the sensor list was last allowed (module clock)
        RejectionTally rejections;
    };

    void takeBytes(QTcpSocket* socket);
    void handleWhole(QTcpSocket* socket, Pending* p, bool ended = false);
    void handleMessage(ZigBeeClient* client, const QString& peer, const QByteArray& message);
    void reject(QTcpSocket* socket, Pending* p, GatewayProtocol::Fault fault);
    void reportRejections(QTcpSocket* socket, Pending* p);
    void reportDueRejections();
    void finish(QTcpSocket* socket);
    void release(QTcpSocket* socket, Pending* p);
    void sendTo(ZigBeeClient* client, const QByteArray& data);
    void write(QTcpSocket* socket, const QByteArray& data);

    QTcpServer server;
    QString listenProblem;
    Limits limits;
    QElapsedTimer clock;
    // Writes the rejection lines that had to wait for their interval.
    QTimer reportTimer;
    QHash<QTcpSocket*, Pending*> pending;
    // The records handed out and not yet gone: a send checks its target here.
    QSet<const ZigBeeClient*> live;
    // Sends under way: a connection that a write ends meanwhile is finished after them.
    int sending = 0;
    QVector<QTcpSocket*> endedWhileSending;
};
