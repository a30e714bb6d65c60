#include "tools/gatewaysim/simulatedgateway.h"

#include "links/gatewayprotocol.h"

namespace
{

// Bytes kept queued in burst mode: enough to keep the program busy, few enough to stop soon.
constexpr qint64 kBurstQueue = 32 * 1024;

} // namespace

SimulatedGateway::SimulatedGateway(
    int index, int firstSensor, const QString& name, const GatewaySettings& settings, quint32 seed)
    : gatewayName(name)
    , modemEui64(QStringLiteral("000D6F00000B%1").arg(index, 4, 16, QLatin1Char('0')).toUpper())
    , settings(settings)
    , random(seed)
{
    sensors.reserve(settings.sensors);
    for (int i = 0; i < settings.sensors; ++i)
        sensors.emplace_back(firstSensor + i, &random);
    socket.setSocketOption(QAbstractSocket::LowDelayOption, 1);
    connect(&socket, &QTcpSocket::connected, this, &SimulatedGateway::onConnected);
    connect(&socket, &QTcpSocket::readyRead, this, &SimulatedGateway::onReadyRead);
    connect(&socket, &QTcpSocket::bytesWritten, this, [this] {
        if (this->settings.burst)
            topUp();
    });
    connect(&socket, &QTcpSocket::disconnected, this, [this] {
        if (!this->settings.quiet)
            emit line(gatewayName + QStringLiteral(": disconnected after %1 messages").arg(messagesSent));
        if (!ended) {
            ended = true;
            emit finished(true);
        }
    });
    connect(&socket, &QAbstractSocket::errorOccurred, this, [this](QAbstractSocket::SocketError error) {
        if (error == QAbstractSocket::RemoteHostClosedError)
            return;
        emit line(gatewayName + QStringLiteral(": ") + socket.errorString());
        if (!ended) {
            ended = true;
            emit finished(false);
        }
    });
    // Spread the sensors evenly over one interval.
    pace.setInterval(qMax(1, settings.interval / qMax(1, settings.sensors)));
    connect(&pace, &QTimer::timeout, this, &SimulatedGateway::sendOne);
}

QByteArray SimulatedGateway::connMessage(const QString& name)
{
    return QByteArray("Conn") + name.toUtf8() + '\0';
}

QByteArray SimulatedGateway::statusMessage(bool connected, const QString& modemEui64)
{
    QByteArray m("Stat");
    const QStringList fields = connected ? QStringList { "Connected", "Telegesis ETRX357", "R309C", modemEui64, "COO",
        "11", "3", "1A2B", "000D6F0000AB1A2B" }
                                         : QStringList { "Disconnected", "Modem not found" };
    for (const QString& f : fields)
        m += f.toUtf8() + '\0';
    return m;
}

QByteArray SimulatedGateway::castMessage(const QString& sensorEui64, const QByteArray& payload)
{
    return QByteArray("Mess") + sensorEui64.toUtf8().leftJustified(GatewayProtocol::kEuiBlock, '\0', true) + payload;
}

QStringList SimulatedGateway::splitFields(const QByteArray& bytes)
{
    QStringList fields;
    int start = 0;
    for (int zero = bytes.indexOf('\0'); zero >= 0; zero = bytes.indexOf('\0', start)) {
        fields << QString::fromUtf8(bytes.constData() + start, zero - start);
        start = zero + 1;
    }
    return fields;
}

QStringList SimulatedGateway::takeSlepLines(QByteArray& bytes)
{
    QStringList lines;
    while (bytes.startsWith("Slep")) {
        // A message ends where the next one starts; the last one once its pairs are whole.
        int end = bytes.indexOf("Slep", 4);
        const bool last = end < 0;
        if (last)
            end = bytes.size();
        const QByteArray body = bytes.mid(4, end - 4);
        if (last && ((!body.isEmpty() && !body.endsWith('\0')) || body.count('\0') % 2 != 0))
            break;
        const QStringList fields = splitFields(body);
        QString text = QStringLiteral("Slep");
        for (int i = 0; i + 1 < fields.size(); i += 2)
            text += QStringLiteral(" %1=%2").arg(fields[i], fields[i + 1]);
        if (fields.size() % 2 != 0)
            text += QStringLiteral(" %1=?").arg(fields.last());
        lines << text;
        bytes.remove(0, end);
    }
    if (bytes.size() >= 4 && !bytes.startsWith("Slep")) {
        lines << QStringLiteral("unexpected bytes: ") + QString::fromLatin1(bytes.toHex());
        bytes.clear();
    }
    return lines;
}

void SimulatedGateway::start()
{
    socket.connectToHost(settings.host, settings.port);
}

void SimulatedGateway::onConnected()
{
    if (!settings.quiet)
        emit line(gatewayName + QStringLiteral(": connected"));
    socket.write(connMessage(gatewayName) + statusMessage(settings.modemConnected, modemEui64));
    if (sensors.empty())
        return;
    if (settings.burst)
        topUp();
    else
        pace.start();
}

void SimulatedGateway::onReadyRead()
{
    received += socket.readAll();
    for (const QString& l : takeSlepLines(received))
        emit line(gatewayName + QStringLiteral(": ") + l);
}

bool SimulatedGateway::done() const
{
    return settings.count > 0 && messagesSent >= qint64(settings.count) * qint64(sensors.size());
}

void SimulatedGateway::sendOne()
{
    if (done() || socket.state() != QAbstractSocket::ConnectedState)
        return;
    SimulatedSensor& s = sensors[size_t(next)];
    next = (next + 1) % int(sensors.size());
    socket.write(castMessage(s.eui64(), s.nextPayload()));
    ++messagesSent;
    if (done()) {
        pace.stop();
        emit allSent();
        // disconnectFromHost leaves once everything written has gone out.
        QTimer::singleShot(settings.linger, &socket, [this] { socket.disconnectFromHost(); });
    }
}

void SimulatedGateway::topUp()
{
    while (!done() && socket.state() == QAbstractSocket::ConnectedState && socket.bytesToWrite() < kBurstQueue)
        sendOne();
}
