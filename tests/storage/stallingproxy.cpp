#include "stallingproxy.h"

#include <QSet>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

StallingProxy::StallingProxy(quint16 target)
    : m_target(target)
{
}

StallingProxy::~StallingProxy()
{
    quit();
    wait();
}

bool StallingProxy::listen()
{
    start();
    m_ready.acquire();
    return m_port != 0;
}

void StallingProxy::run()
{
    QTcpServer server;
    if (!server.listen(QHostAddress::LocalHost, 0)) {
        m_ready.release();
        return;
    }
    m_port = server.serverPort();
    // Each client with its connection to the server; both sockets are children of the server.
    QList<QPair<QTcpSocket*, QTcpSocket*>> pairs;
    QSet<QTcpSocket*> held; // clients that sent the mark
    const auto pump = [this, &pairs, &held] {
        if (m_stalled)
            return;
        for (const auto& pair : qAsConst(pairs)) {
            if (held.contains(pair.first))
                continue;
            if (!m_mark.isEmpty() && pair.first->peek(pair.first->bytesAvailable()).contains(m_mark)) {
                held.insert(pair.first);
                ++m_held;
                continue;
            }
            if (pair.second->state() == QAbstractSocket::ConnectedState)
                pair.second->write(pair.first->readAll());
            pair.first->write(pair.second->readAll());
        }
    };
    QObject::connect(&server, &QTcpServer::newConnection, [&] {
        while (QTcpSocket* client = server.nextPendingConnection()) {
            client->setParent(&server);
            auto* upstream = new QTcpSocket(&server);
            pairs.append(qMakePair(client, upstream));
            for (QTcpSocket* socket : { client, upstream }) {
                QObject::connect(socket, &QTcpSocket::readyRead, pump);
                QObject::connect(socket, &QTcpSocket::connected, pump);
            }
            // Either side closing closes the other once what it sent is through.
            QObject::connect(client, &QTcpSocket::disconnected, upstream, &QTcpSocket::disconnectFromHost);
            QObject::connect(upstream, &QTcpSocket::disconnected, client, &QTcpSocket::disconnectFromHost);
            upstream->connectToHost(QHostAddress::LocalHost, m_target);
        }
    });
    // What was held while stalled goes through soon after resume().
    QTimer tick;
    QObject::connect(&tick, &QTimer::timeout, pump);
    tick.start(20);
    m_ready.release();
    exec();
}
