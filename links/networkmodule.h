#pragma once

#include <QByteArray>
#include <QMap>
#include <QObject>
#include <QString>
#include <QTcpServer>

class QTcpSocket;
class ZigBeeClient;

// TCP server through which remote gateways reach the program.
class NetworkModule : public QObject
{
    Q_OBJECT
public:
    explicit NetworkModule(quint16 port);
    ~NetworkModule() override;

    QMap<QTcpSocket*, ZigBeeClient*> clients;

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
    QTcpServer server;
};
