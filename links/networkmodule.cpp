#include "links/networkmodule.h"

#include <QTcpSocket>

#include "links/zigbeeclient.h"

NetworkModule::NetworkModule(quint16 port)
{
    connect(&server, &QTcpServer::newConnection, this, &NetworkModule::slotNewConnection);
    server.listen(QHostAddress::Any, port);
}

NetworkModule::~NetworkModule()
{
    qDeleteAll(clients);
    clients.clear();
}

void NetworkModule::slotSlepSend(ZigBeeClient*, QByteArray)
{
}

void NetworkModule::slotSlepSend2(ZigBeeClient*, QString, int)
{
}

void NetworkModule::slotStatSend(ZigBeeClient*)
{
}

void NetworkModule::slotNewConnection()
{
    while (QTcpSocket* socket = server.nextPendingConnection())
        socket->abort();
}

void NetworkModule::slotSocketDisconnected()
{
}

void NetworkModule::slotSocketReadyRead()
{
}
