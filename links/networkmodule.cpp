#include "links/networkmodule.h"

#include <QDebug>
#include <QTcpSocket>
#include <QTimer>

#include "links/gatewaylog.h"
#include "links/gatewayprotocol.h"
#include "links/zigbeeclient.h"

using namespace GatewayProtocol;

namespace
{

// A message whose end its bytes do not tell is handled once this much waits for the pause.
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
}

NetworkModule::~NetworkModule()
{
    server.close();
    // The server deletes its sockets after this body; none of them may reach a slot of a
    // module that is half gone.
    for (auto it = clients.cbegin(); it != clients.cend(); ++it)
        it.key()->disconnect(this);
    for (Pending* p : qAsConst(pending)) {
        delete p->gap;
        delete p;
    }
    pending.clear();
    qDeleteAll(clients);
    clients.clear();
}

QString NetworkModule::peerText(const ZigBeeClient* client)
{
    return client && client->socket ? client->socket->peerAddress().toString() : QString();
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
    // A write can end a connection on the spot, and with it its entry: walk a copy and skip
    // whatever has gone meanwhile.
    const QList<QTcpSocket*> sockets = clients.keys();
    for (QTcpSocket* socket : sockets) {
        const ZigBeeClient* record = clients.value(socket);
        if (record && (!client || record == client))
            write(socket, data);
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
    p->peer = socket->peerAddress().toString();
    p->gap = new QTimer;
    p->gap->setSingleShot(true);
    p->gap->setInterval(readGap);
    connect(p->gap, &QTimer::timeout, this, [this, socket] { readEnded(socket); });

    connect(socket, &QTcpSocket::disconnected, this, &NetworkModule::slotSocketDisconnected);
    connect(socket, &QTcpSocket::readyRead, this, &NetworkModule::slotSocketReadyRead);
    clients.insert(socket, client);
    pending.insert(socket, p);
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
    // A receiver of one of this connection's messages wrote to it and the write ended it:
    // the record stays until that handling is over.
    if (p->busy > 0) {
        p->ended = true;
        return;
    }
    finish(socket);
}

// A read runs until the gateway pauses for the read gap. Messages whose end their own bytes
// tell are handled at once; the rest of a read waits for the pause.
void NetworkModule::takeBytes(QTcpSocket* socket)
{
    Pending* p = pending.value(socket);
    ZigBeeClient* client = clients.value(socket);
    if (!p || !client)
        return;
    const QByteArray bytes = socket->readAll();
    if (!p->discarding)
        p->buffer += bytes;
    ++p->busy;
    handleKnown(socket, p);
    // An unknown head makes the rest of its read worthless; bytes without an end in sight
    // are not collected for ever.
    if (!p->discarding && !p->buffer.isEmpty()
        && ((p->buffer.size() >= 4 && headOf(p->buffer) == Head::Unknown) || p->buffer.size() > kMaxPending)) {
        const QByteArray rest = p->buffer;
        p->buffer.clear();
        p->discarding = true;
        handleMessage(client, p->peer, rest);
    }
    if (!p->buffer.isEmpty() || p->discarding)
        p->gap->start();
    release(socket, p);
}

void NetworkModule::handleKnown(QTcpSocket* socket, Pending* p)
{
    QByteArray data;
    data.swap(p->buffer);
    int at = 0;
    for (;;) {
        const int n = knownLength(QByteArray::fromRawData(data.constData() + at, data.size() - at));
        if (n <= 0)
            break;
        handleMessage(clients.value(socket), p->peer, data.mid(at, n));
        at += n;
    }
    p->buffer.prepend(data.mid(at));
}

void NetworkModule::readEnded(QTcpSocket* socket)
{
    Pending* p = pending.value(socket);
    if (!p)
        return;
    if (socket->bytesAvailable() > 0) {
        takeBytes(socket);
        return;
    }
    ++p->busy;
    const QByteArray rest = p->buffer;
    p->buffer.clear();
    p->discarding = false;
    if (!rest.isEmpty())
        handleMessage(clients.value(socket), p->peer, rest);
    release(socket, p);
}

void NetworkModule::release(QTcpSocket* socket, Pending* p)
{
    if (--p->busy == 0 && p->ended)
        finish(socket);
}

// The last bytes of a connection are handled before its record goes.
void NetworkModule::finish(QTcpSocket* socket)
{
    Pending* p = pending.value(socket);
    ZigBeeClient* client = clients.value(socket);
    if (!p || !client)
        return;
    ++p->busy;
    p->ended = false;
    if (socket->bytesAvailable() > 0 && !p->discarding)
        p->buffer += socket->readAll();
    handleKnown(socket, p);
    if (!p->buffer.isEmpty() && !p->discarding)
        handleMessage(client, p->peer, p->buffer);

    emit signalInterfNetworkMess(GatewayLog::disconnected(client->name, p->peer));
    emit signalDisconnected(client);

    clients.remove(socket);
    pending.remove(socket);
    delete p->gap;
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
        const int zero = body.indexOf('\0');
        if (zero < 0) {
            qDebug("Conn without a name dropped");
            return;
        }
        client->name = QString::fromUtf8(body.constData(), zero);
        emit signalInterfNetworkMess(GatewayLog::connected(client->name, peer));
        emit signalNewConnection(client);
        return;
    }
    case Head::Mess: {
        const Cast cast = parseCast(body);
        if (cast.eui64.isEmpty()) {
            qDebug("Mess without a sensor address dropped");
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
