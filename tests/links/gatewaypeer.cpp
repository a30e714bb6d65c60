#include "gatewaypeer.h"

#include <QFile>
#include <QMutexLocker>
#include <QRandomGenerator>
#include <QTcpServer>
#include <QTcpSocket>

#include "links/networkmodule.h"

std::unique_ptr<NetworkModule> startGatewayServer()
{
    for (int attempt = 0; attempt < 20; ++attempt) {
        QTcpServer probe;
        if (!probe.listen(QHostAddress::Any, 0))
            continue;
        const quint16 port = probe.serverPort();
        probe.close();
        auto server = std::make_unique<NetworkModule>(port);
        if (server->isListening())
            return server;
    }
    return nullptr;
}

quint16 portForAProgram()
{
    QFile range(QStringLiteral("/proc/sys/net/ipv4/ip_local_port_range"));
    const int ephemeral = range.open(QIODevice::ReadOnly) ? range.readLine().split('\t').value(0).trimmed().toInt() : 0;
    const int first = 10000;
    for (int attempt = 0; attempt < 100 && ephemeral > first; ++attempt) {
        const quint16 port = quint16(first + QRandomGenerator::global()->bounded(ephemeral - first));
        QTcpServer probe;
        if (probe.listen(QHostAddress::Any, port))
            return port;
    }
    return 0;
}

namespace
{

// The peer's calls arrive through this object's event handler, which the thread checks see
// (tests/tsanqtlocks.cpp); a plain QObject's is Qt's own.
class PeerContext : public QObject
{
};

} // namespace

GatewayPeer::GatewayPeer()
{
    context = new PeerContext;
    context->moveToThread(&thread);
    thread.start();
}

GatewayPeer::~GatewayPeer()
{
    onPeerThread([this] {
        delete socket;
        socket = nullptr;
    });
    context->deleteLater();
    thread.quit();
    thread.wait();
}

template <typename F> void GatewayPeer::onPeerThread(F&& f)
{
    QMetaObject::invokeMethod(context, std::forward<F>(f), Qt::BlockingQueuedConnection);
}

bool GatewayPeer::connectTo(quint16 port, QString* error)
{
    bool ok = false;
    onPeerThread([&] {
        socket = new QTcpSocket;
        socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
        QObject::connect(socket, &QTcpSocket::readyRead, socket, [this] {
            const QByteArray data = socket->readAll();
            QMutexLocker locker(&lock);
            bytes += data;
        });
        socket->connectToHost(QStringLiteral("127.0.0.1"), port);
        ok = socket->waitForConnected(5000);
        if (!ok)
            failure = socket->errorString();
    });
    if (!ok && error)
        *error = failure;
    return ok;
}

bool GatewayPeer::send(const QByteArray& data)
{
    bool ok = false;
    onPeerThread([&] { ok = socket && socket->write(data) == data.size() && socket->waitForBytesWritten(5000); });
    return ok;
}

bool GatewayPeer::sendAndClose(const QByteArray& data)
{
    bool ok = false;
    onPeerThread([&] {
        ok = socket && socket->write(data) == data.size() && socket->waitForBytesWritten(5000);
        if (socket)
            socket->disconnectFromHost();
    });
    return ok;
}

void GatewayPeer::close()
{
    onPeerThread([&] {
        if (socket)
            socket->disconnectFromHost();
    });
}

bool GatewayPeer::isConnected()
{
    bool connected = false;
    onPeerThread([&] {
        // Notices a close by the program.
        if (socket)
            socket->waitForReadyRead(0);
        connected = socket && socket->state() == QAbstractSocket::ConnectedState;
    });
    return connected;
}

QByteArray GatewayPeer::received() const
{
    QMutexLocker locker(&lock);
    return bytes;
}
