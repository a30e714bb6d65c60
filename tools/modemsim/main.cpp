// Stands in for the ZigBee modem: answers the program's initialisation script on a
// pseudo-terminal and sends measurements from simulated sensors at a chosen rate.

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>
#include <QRandomGenerator>
#include <QTextStream>
#include <QTimer>
#include <QtEndian>

#include <memory>
#include <vector>

#include "tools/modemsim/modempeer.h"
#include "tools/modemsim/simulatedsensor.h"

namespace
{

QTextStream& out()
{
    static QTextStream stream(stdout);
    return stream;
}

QString printable(const QByteArray& bytes)
{
    QString s;
    for (const char c : bytes) {
        const auto u = uchar(c);
        s += (u >= 0x20 && u < 0x7f) ? QString(QChar(u)) : QStringLiteral("\\x%1").arg(u, 2, 16, QLatin1Char('0'));
    }
    return s;
}

// The program answers each sensor with a one-record payload: type 4, its sleep interval.
QString describeReply(const QByteArray& data)
{
    if (data.size() == 8 && data.startsWith(QByteArray("\x01\x04\x01\x04", 4)))
        return QStringLiteral("sleep interval %1 s").arg(qFromLittleEndian<qint32>(data.constData() + 4));
    return printable(data);
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("modemsim"));

    QCommandLineParser options;
    options.setApplicationDescription(
        QStringLiteral("Simulated ZigBee modem on a pseudo-terminal. Put the printed line in the [Modem] section of "
                       "data/config.ini."));
    options.addHelpOption();
    const QCommandLineOption sensorsOption({ "n", "sensors" }, "Number of simulated sensors.", "count", "4");
    const QCommandLineOption intervalOption(
        { "i", "interval" }, "Milliseconds between two messages of one sensor.", "ms", "10000");
    const QCommandLineOption kindOption("kind", "Message kind: UCAST, MCAST or BCAST.", "kind", "UCAST");
    const QCommandLineOption noNetworkOption("no-network", "Start without a network, so that AT+EN is needed.");
    const QCommandLineOption seedOption("seed", "Seed of the simulated readings.", "number", "1");
    const QCommandLineOption linkOption("link", "Also make a symbolic link with this path to the port.", "path");
    const QCommandLineOption firstOption("first-sensor",
        "Number of the first sensor; sensor n has the EUI64 000D6F0000C0A000 + n (hexadecimal). "
        "gatewaysim starts at 4096 by default.",
        "n", "0");
    const QCommandLineOption quietOption({ "q", "quiet" }, "Print only the port and the replies to sensors.");
    options.addOptions({ sensorsOption, intervalOption, kindOption, noNetworkOption, seedOption, linkOption,
        firstOption, quietOption });
    options.process(app);

    const int sensorCount = options.value(sensorsOption).toInt();
    const int interval = options.value(intervalOption).toInt();
    const QString kind = options.value(kindOption);
    bool firstOk = false;
    const int firstSensor = options.value(firstOption).toInt(&firstOk);
    if (sensorCount < 0 || interval <= 0 || !QStringList({ "UCAST", "MCAST", "BCAST" }).contains(kind) || !firstOk
        || firstSensor < 0) {
        out() << "modemsim: bad --sensors, --interval, --kind or --first-sensor\n";
        return 2;
    }
    const bool quiet = options.isSet(quietOption);

    ModemPeer peer;
    QString error;
    if (!peer.open(&error)) {
        out() << "modemsim: " << error << '\n';
        return 1;
    }
    const QString link = options.value(linkOption);
    if (!link.isEmpty()) {
        QFile::remove(link);
        if (!QFile::link(peer.portName(), link)) {
            out() << "modemsim: cannot link " << link << '\n';
            return 1;
        }
    }
    peer.setRecording(false);
    peer.setNetwork(options.isSet(noNetworkOption) ? ModemPeer::Network::None : ModemPeer::Network::Formed);

    QRandomGenerator random(options.value(seedOption).toUInt());
    std::vector<std::unique_ptr<SimulatedSensor>> sensors;
    QByteArray reports;
    for (int i = 0; i < sensorCount; ++i) {
        sensors.push_back(std::make_unique<SimulatedSensor>(firstSensor + i, &random));
        reports += "SED:" + sensors.back()->eui64().toLatin1() + ',' + QByteArray::number(0x4A10 + i, 16).toUpper()
            + "\r\n";
    }
    peer.setDeviceReports(reports);

    QObject::connect(&peer, &ModemPeer::commandReceived, [&](const QByteArray& command) {
        if (!quiet && !command.startsWith("AT+UCASTB:"))
            out() << "<- " << printable(command.chopped(1)) << Qt::endl;
    });
    QObject::connect(&peer, &ModemPeer::unicastReceived, [&](const QString& eui64, const QByteArray& data) {
        out() << "<- reply to " << eui64 << ": " << describeReply(data) << Qt::endl;
    });

    // Sensors start once the program has configured the modem, spread over one interval.
    bool sending = false;
    QObject::connect(&peer, &ModemPeer::scriptDone, [&]() {
        out() << "initialised; " << sensorCount << " sensors every " << interval << " ms" << Qt::endl;
        if (sending)
            return;
        sending = true;
        for (int i = 0; i < sensorCount; ++i) {
            SimulatedSensor* sensor = sensors[size_t(i)].get();
            auto tick = [&, sensor]() {
                peer.sendCast(kind, sensor->eui64(), sensor->nextPayload());
                if (!quiet)
                    out() << "-> " << kind << ' ' << sensor->eui64()
                          << QStringLiteral(" t=%1 h=%2 b=%3")
                                 .arg(sensor->temperature, 0, 'f', 2)
                                 .arg(sensor->humidity, 0, 'f', 2)
                                 .arg(sensor->battery, 0, 'f', 3)
                          << Qt::endl;
            };
            auto* timer = new QTimer(&app);
            QObject::connect(timer, &QTimer::timeout, tick);
            QTimer::singleShot(int(qint64(interval) * i / qMax(1, sensorCount)), timer, [timer, interval, tick]() {
                timer->start(interval);
                tick();
            });
        }
    });

    QTimer release;
    QObject::connect(&release, &QTimer::timeout, [&]() { peer.releaseIfAbandoned({ peer.portName(), link }); });
    release.start(500);

    // The line as it stands in the [Modem] section of data/config.ini.
    out() << "PortName = " << (link.isEmpty() ? peer.portName() : link) << Qt::endl;
    const int code = app.exec();
    if (!link.isEmpty())
        QFile::remove(link);
    return code;
}
