#pragma once

#include <QByteArray>
#include <QHash>
#include <QMap>
#include <QObject>
#include <QSet>
#include <QString>
#include <QTcpServer>
#include <QVector>

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
    // The client's peer address as text, as the log and the gateway binding show it: an IPv4
    // peer in dotted form, although a server on every address sees it IPv4-mapped.
    static QString peerText(const ZigBeeClient* client);
    static QString addressText(const QHostAddress& address);

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
    void slotStatSend(ZigBeeClient* client);
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
    };

    void takeBytes(QTcpSocket* socket);
    void handleWhole(QTcpSocket* socket, Pending* p);
    void handleMessage(ZigBeeClient* client, const QString& peer, const QByteArray& message);
    void finish(QTcpSocket* socket);
    void release(QTcpSocket* socket, Pending* p);
    void sendTo(ZigBeeClient* client, const QByteArray& data);
    void write(QTcpSocket* socket, const QByteArray& data);

    QTcpServer server;
    QHash<QTcpSocket*, Pending*> pending;
    // The records handed out and not yet gone: a send checks its target here.
    QSet<const ZigBeeClient*> live;
    // Sends under way: a connection that a write ends meanwhile is finished after them.
    int sending = 0;
    QVector<QTcpSocket*> endedWhileSending;
};
