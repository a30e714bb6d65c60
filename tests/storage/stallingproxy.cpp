#include "stallingproxy.h"

#include <QSet>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

namespace
{

// A COM_QUERY packet whose text is COMMIT (after a statement closed, which has no reply).
const QByteArray kCommit("\x07\x00\x00\x00\x03"
                         "COMMIT",
    11);

} // namespace

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
    const auto forward = [this](QTcpSocket* client, QTcpSocket* upstream) {
        QByteArray bytes = client->readAll();
        const bool cutHere = cuts > 0 && bytes.endsWith(kCommit);
        if (cutHere && swallow)
            bytes.chop(kCommit.size());
        upstream->write(bytes);
        if (!cutHere)
            return;
        --cuts;
        ++cut;
        upstream->waitForBytesWritten(1000);
        upstream->disconnectFromHost();
        client->abort();
    };
    const auto pump = [&] {
        if (m_stalled)
            return;
        for (const auto& [client, upstream] : qAsConst(pairs)) {
            if (held.contains(client))
                continue;
            if (!m_mark.isEmpty() && client->peek(client->bytesAvailable()).contains(m_mark)) {
                held.insert(client);
                ++m_held;
                continue;
            }
            if (client->bytesAvailable() && upstream->state() == QAbstractSocket::ConnectedState)
                forward(client, upstream);
            if (upstream->bytesAvailable() && client->state() != QAbstractSocket::UnconnectedState)
                client->write(upstream->readAll());
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
