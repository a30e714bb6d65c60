#include "links/networkmodule.h"

#include <QDebug>
#include <QTcpSocket>

#ifdef Q_OS_UNIX
#include <sys/socket.h>
#endif

#include "links/gatewaylog.h"
#include "links/gatewayprotocol.h"
#include "links/zigbeeclient.h"

using namespace GatewayProtocol;

namespace
{

// The most a connection keeps of a message that has not ended yet.
constexpr int kMaxPending = 1 << 20;

} // namespace

NetworkModule::NetworkModule(quint16 port)
{
    connect(&server, &QTcpServer::newConnection, this, &NetworkModule::slotNewConnection);
    // Port 0 would make the system pick one no gateway knows.
    if (port == 0)
        qWarning("Gateway server not started: the network port 0 is outside 1-65535");
    else if (!server.listen(QHostAddress::Any, port))
        qWarning("Gateway server cannot listen on port %u: %s", unsigned(port), qPrintable(server.errorString()));
    else
        widenBacklog();
}

// Qt listens with a backlog of 50 connections. When hundreds of gateways connect at once (after
// a network outage or a restart of the program) the rest of their handshakes are dropped, and
// each such gateway tries again only after 1, 3, 7, 15... seconds. Listening again with the
// system's maximum lets them all wait in line instead; where the system keeps the first
// backlog, nothing changes.
void NetworkModule::widenBacklog()
{
#ifdef Q_OS_UNIX
    ::listen(int(server.socketDescriptor()), SOMAXCONN);
#endif
    server.setMaxPendingConnections(4096);
}

NetworkModule::~NetworkModule()
{
    server.close();
    // The server deletes its sockets after this body; none of them may reach a slot of a
    // module that is half gone.
    for (auto it = clients.cbegin(); it != clients.cend(); ++it)
        it.key()->disconnect(this);
    qDeleteAll(pending);
    pending.clear();
    live.clear();
    qDeleteAll(clients);
    clients.clear();
}

QString NetworkModule::peerText(const ZigBeeClient* client)
{
    return client && client->socket ? addressText(client->socket->peerAddress()) : QString();
}

QString NetworkModule::addressText(const QHostAddress& address)
{
    bool v4 = false;
    const quint32 ip = address.toIPv4Address(&v4);
    return v4 ? QHostAddress(ip).toString() : address.toString();
}

void NetworkModule::slotSlepSend(ZigBeeClient* client, QByteArray data)
{
    sendTo(client, data);
}

void NetworkModule::slotSlepSend2(ZigBeeClient* client, QString eui64, int interval)
{
    sendTo(client, slepFrame({ qMakePair(eui64, interval) }));
}

void NetworkModule::slotStatSend(ZigBeeClient* client)
{
    if (client)
        sendTo(client, QByteArrayLiteral("Stat"));
}

void NetworkModule::sendTo(ZigBeeClient* client, const QByteArray& data)
{
    ++sending;
    if (client) {
        if (live.contains(client))
            write(client->socket, data);
    } else {
        for (auto it = clients.cbegin(); it != clients.cend(); ++it)
            write(it.key(), data);
    }
    // A write can end a connection on the spot; its record went on living until here so that
    // the walk above never meets a removed entry.
    if (--sending == 0 && !endedWhileSending.isEmpty()) {
        const QVector<QTcpSocket*> ended = endedWhileSending;
        endedWhileSending.clear();
        for (QTcpSocket* socket : ended) {
            Pending* p = pending.value(socket);
            if (p && p->busy == 0)
                finish(socket);
        }
    }
}

void NetworkModule::write(QTcpSocket* socket, const QByteArray& data)
{
    if (socket->state() != QAbstractSocket::ConnectedState)
        return;
    socket->write(data);
    socket->flush();
}

void NetworkModule::slotNewConnection()
{
    QTcpSocket* socket = server.nextPendingConnection();
    if (!socket)
        return;
    auto* client = new ZigBeeClient;
    client->socket = socket;
    client->connectTime = QDateTime::currentDateTime();

    auto* p = new Pending;
    p->peer = addressText(socket->peerAddress());

    connect(socket, &QTcpSocket::disconnected, this, &NetworkModule::slotSocketDisconnected);
    connect(socket, &QTcpSocket::readyRead, this, &NetworkModule::slotSocketReadyRead);
    clients.insert(socket, client);
    pending.insert(socket, p);
    live.insert(client);
}

void NetworkModule::slotSocketReadyRead()
{
    takeBytes(qobject_cast<QTcpSocket*>(sender()));
}

void NetworkModule::slotSocketDisconnected()
{
    auto* socket = qobject_cast<QTcpSocket*>(sender());
    Pending* p = pending.value(socket);
    if (!p)
        return;
    // A receiver of one of this connection's messages, or a send, wrote to it and the write
    // ended it: the record stays until that handling is over.
    if (p->busy > 0 || sending > 0) {
        p->ended = true;
        if (sending > 0 && !endedWhileSending.contains(socket))
            endedWhileSending.append(socket);
        return;
    }
    finish(socket);
}

// Whatever arrives joins the bytes still waiting; every message that is whole by now is
// handled, the start of the next one waits for its rest however long the gateway pauses.
void NetworkModule::takeBytes(QTcpSocket* socket)
{
    Pending* p = pending.value(socket);
    if (!p || !clients.contains(socket))
        return;
    const QByteArray bytes = socket->readAll();
    // A name or a status ends at a zero byte: while none arrives, the bytes waiting need no
    // second look, however finely the gateway cuts them.
    const Head waiting = headOf(p->buffer);
    const bool needsZero
        = waiting == Head::Conn || waiting == Head::Stat || waiting == Head::Init || waiting == Head::Clos;
    p->buffer += bytes;
    ++p->busy;
    if (!needsZero || bytes.contains('\0'))
        handleWhole(socket, p);
    // A message that would still be incomplete after this much is no message: the bytes go,
    // and the stream finds its feet again at the next head.
    if (p->buffer.size() > kMaxPending) {
        qDebug().noquote() << headText(p->buffer) << "over 1 MB without its end dropped";
        p->buffer.clear();
    }
    release(socket, p);
}

void NetworkModule::handleWhole(QTcpSocket* socket, Pending* p)
{
    QByteArray data;
    data.swap(p->buffer);
    int at = 0;
    while (at < data.size()) {
        const QByteArray rest = QByteArray::fromRawData(data.constData() + at, data.size() - at);
        const Frame frame = frontFrame(rest);
        if (frame.kind == Frame::Incomplete)
            break;
        if (frame.kind == Frame::Junk)
            qDebug().noquote() << "Unknown head:" << headText(rest.left(frame.length));
        else
            handleMessage(clients.value(socket), p->peer, data.mid(at, frame.length));
        at += frame.length;
    }
    p->buffer = data.mid(at);
}

void NetworkModule::release(QTcpSocket* socket, Pending* p)
{
    if (--p->busy == 0 && p->ended && sending == 0)
        finish(socket);
}

// The last bytes of a connection are handled before its record goes; a message they leave
// incomplete is never handled as if it were whole.
void NetworkModule::finish(QTcpSocket* socket)
{
    Pending* p = pending.value(socket);
    ZigBeeClient* client = clients.value(socket);
    if (!p || !client)
        return;
    ++p->busy;
    p->ended = false;
    if (socket->bytesAvailable() > 0)
        p->buffer += socket->readAll();
    handleWhole(socket, p);
    if (!p->buffer.isEmpty())
        qDebug().noquote() << "Incomplete" << headText(p->buffer) << "dropped at the end of the connection";

    emit signalInterfNetworkMess(GatewayLog::disconnected(client->name, p->peer));
    emit signalDisconnected(client);

    clients.remove(socket);
    pending.remove(socket);
    live.remove(client);
    delete p;
    delete client;
    socket->disconnect(this);
    socket->deleteLater();
}

void NetworkModule::handleMessage(ZigBeeClient* client, const QString& peer, const QByteArray& message)
{
    const Head head = headOf(message);
    const QByteArray body = message.mid(4);
    switch (head) {
    case Head::Conn: {
        if (!parseConn(body, &client->name)) {
            qDebug("Conn without a name dropped");
            return;
        }
        emit signalInterfNetworkMess(GatewayLog::connected(client->name, peer));
        emit signalNewConnection(client);
        return;
    }
    case Head::Mess: {
        const Cast cast = parseCast(body);
        // The registry and the database know sensors by 16 hexadecimal digits only: any other
        // address would show as a live sensor whose rows the database refuses.
        if (!isEui64(cast.eui64)) {
            emit signalInterfNetworkMess(GatewayLog::badAddress(client->name, peer, cast.eui64));
            return;
        }
        emit signalNetworkCastReceived(client, cast.eui64, cast.payload);
        return;
    }
    case Head::Stat:
    case Head::Init:
    case Head::Clos: {
        Status s;
        if (!parseStatus(body, &s)) {
            qDebug().noquote() << headText(message) << "with too few fields dropped";
            return;
        }
        client->modemConnected = s.connected;
        if (s.connected) {
            client->modem.DeviceName = s.deviceName;
            client->modem.FirmwareRevision = s.firmwareRevision;
            client->modem.EUI64 = s.eui64;
            client->DeviceType = s.deviceType;
            client->Channel = s.channel;
            client->Power = s.power;
            client->PanID = s.panId;
            client->ExtendedPanID = s.extendedPanId;
            emit signalInterfNetworkMess(
                GatewayLog::modemConnected(client->name, peer, s.deviceName, s.firmwareRevision, s.eui64));
        } else {
            client->statusText = s.statusText;
            emit signalInterfNetworkMess(GatewayLog::modemDisconnected(client->name, peer, s.statusText));
        }
        if (head == Head::Init)
            emit signalInitReceived(client);
        else if (head == Head::Clos)
            emit signalClosReceived(client);
        else
            emit signalStatReceived(client);
        return;
    }
    case Head::Unknown:
        qDebug().noquote() << "Unknown head:" << headText(message);
        return;
    }
}
