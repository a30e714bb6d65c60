#include "links/networkmodule.h"

#include <QTcpSocket>

#ifdef Q_OS_UNIX
#include <sys/socket.h>
#endif

#include "links/gatewaylog.h"
#include "links/gatewayprotocol.h"
#include "links/zigbeeclient.h"

using namespace GatewayProtocol;

NetworkModule::NetworkModule(quint16 port)
{
    clock.start();
    reportTimer.setSingleShot(true);
    connect(&reportTimer, &QTimer::timeout, this, &NetworkModule::reportDueRejections);
    connect(&server, &QTcpServer::newConnection, this, &NetworkModule::slotNewConnection);
    // Port 0 would make the system pick one no gateway knows.
    if (port == 0)
        qWarning("Gateway server not started: the network port 0 is outside 1-65535");
    else if (!server.listen(QHostAddress::Any, port)) {
        qWarning("Gateway server cannot listen on port %u: %s", unsigned(port), qPrintable(server.errorString()));
        listenProblem = GatewayLog::cannotListen(port, server.errorString());
    } else
        widenBacklog();
}

void NetworkModule::announceListenFailure()
{
    if (!listenProblem.isEmpty())
        emit signalInterfNetworkMess(GatewayLog::line(listenProblem));
}

// The system's largest backlog rather than Qt's 50: hundreds of gateways connecting at once
// (after an outage or a restart) wait in line instead of retrying after seconds.
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

void NetworkModule::stop()
{
    server.close();
    for (auto it = clients.cbegin(); it != clients.cend(); ++it) {
        // Disconnected first: the end of a connection would otherwise handle its last bytes.
        it.key()->disconnect(this);
        it.key()->abort();
    }
}

void NetworkModule::setLimits(const Limits& newLimits)
{
    limits = newLimits;
}

bool NetworkModule::sensorListDue(const ZigBeeClient* client)
{
    Pending* p = client && live.contains(client) ? pending.value(client->socket) : nullptr;
    if (!p || p->cutOff || client->socket->state() != QAbstractSocket::ConnectedState)
        return false;
    const qint64 now = clock.elapsed();
    if (p->listSentAt >= 0 && now - p->listSentAt < limits.sensorListPauseMs)
        return false;
    p->listSentAt = now;
    return true;
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
    // A gateway that does not read leaves all it is sent in this program's memory: past the
    // bound its connection ends instead, and the end's log line says why.
    if (socket->bytesToWrite() > limits.maxUnsent) {
        if (Pending* p = pending.value(socket))
            p->cutOff = true;
        socket->abort();
    }
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
    p->rejections = RejectionTally(limits.reportIntervalMs);
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
    // A name or a status is decided by a zero or a control byte, or by its length: until then
    // the bytes waiting need no second look, however finely the gateway cuts them.
    const Head waiting = headOf(p->buffer);
    const bool textWaits
        = waiting == Head::Conn || waiting == Head::Stat || waiting == Head::Init || waiting == Head::Clos;
    p->buffer += bytes;
    ++p->busy;
    // A text still without its end after kMaxPending bytes is refused as one (frontFrame).
    if (!textWaits || mayEndText(bytes) || p->buffer.size() > kMaxPending)
        handleWhole(socket, p);
    release(socket, p);
}

void NetworkModule::handleWhole(QTcpSocket* socket, Pending* p, bool ended)
{
    QByteArray data;
    data.swap(p->buffer);
    int at = 0;
    while (at < data.size() && !p->cutOff) {
        const QByteArray rest = QByteArray::fromRawData(data.constData() + at, data.size() - at);
        const Frame frame = frontFrame(rest, ended);
        if (frame.kind == Frame::Incomplete)
            break;
        if (frame.kind == Frame::Rejected) {
            reject(socket, p, frame.fault);
        } else {
            p->afterRejection = false;
            handleMessage(clients.value(socket), p->peer, data.mid(at, frame.length));
        }
        at += frame.length;
    }
    p->buffer = p->cutOff ? QByteArray() : data.mid(at);
}

// Bytes without a head of their own right behind dropped ones are the rest of those, not one
// more message. The first drop after a quiet interval is reported at once, the others with
// the next line.
void NetworkModule::reject(QTcpSocket* socket, Pending* p, Fault fault)
{
    const bool continued = fault == Fault::UnknownHead && p->afterRejection;
    p->afterRejection = true;
    if (continued)
        return;
    const qint64 now = clock.elapsed();
    if (p->rejections.add(fault, now)) {
        reportRejections(socket, p);
        return;
    }
    const qint64 due = p->rejections.dueIn(now);
    if (!reportTimer.isActive() || reportTimer.remainingTime() > due)
        reportTimer.start(int(due));
}

void NetworkModule::reportRejections(QTcpSocket* socket, Pending* p)
{
    const ZigBeeClient* client = clients.value(socket);
    emit signalInterfNetworkMess(
        GatewayLog::rejected(client ? client->name : QString(), p->peer, p->rejections.take(clock.elapsed())));
}

void NetworkModule::reportDueRejections()
{
    qint64 now = clock.elapsed();
    QVector<QTcpSocket*> due;
    for (auto it = pending.cbegin(); it != pending.cend(); ++it) {
        if (it.value()->rejections.dueIn(now) == 0)
            due.append(it.key());
    }
    // A receiver of a line may end a connection: each is looked up again.
    for (QTcpSocket* socket : qAsConst(due)) {
        if (Pending* p = pending.value(socket))
            reportRejections(socket, p);
    }
    now = clock.elapsed();
    qint64 next = -1;
    for (const Pending* p : qAsConst(pending)) {
        const qint64 in = p->rejections.dueIn(now);
        if (in >= 0 && (next < 0 || in < next))
            next = in;
    }
    if (next >= 0)
        reportTimer.start(int(next));
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
    // What a gateway sent before the program ended its connection is not handled.
    if (!p->cutOff) {
        if (socket->bytesAvailable() > 0)
            p->buffer += socket->readAll();
        handleWhole(socket, p, true);
        if (!p->buffer.isEmpty())
            reject(socket, p, headOf(p->buffer) == Head::Unknown ? Fault::UnknownHead : Fault::Cut);
    }
    if (!p->rejections.isEmpty())
        reportRejections(socket, p);

    emit signalInterfNetworkMess(p->cutOff ? GatewayLog::cutOffNotReading(client->name, p->peer, limits.maxUnsent)
                                           : GatewayLog::disconnected(client->name, p->peer));
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
    // The framing lets only whole, valid messages through; the checks here keep every field
    // read within its message all the same.
    case Head::Conn: {
        if (!parseConn(body, &client->name))
            return;
        emit signalInterfNetworkMess(GatewayLog::connected(client->name, peer));
        emit signalNewConnection(client);
        return;
    }
    case Head::Mess: {
        const Cast cast = parseCast(body);
        emit signalNetworkCastReceived(client, cast.eui64, cast.payload);
        return;
    }
    case Head::Stat:
    case Head::Init:
    case Head::Clos: {
        Status s;
        if (!parseStatus(body, &s))
            return;
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
        return;
    }
}
