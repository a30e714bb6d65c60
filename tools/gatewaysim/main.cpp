// Stands in for remote gateways: each one connects to the program over TCP, announces itself
// and its modem, forwards the messages of its simulated sensors and prints the sleep intervals
// the program sends it.

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QTextStream>

#include <memory>
#include <vector>

#include "tools/gatewaysim/simulatedgateway.h"

namespace
{

QTextStream& out()
{
    static QTextStream stream(stdout);
    return stream;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("gatewaysim"));

    QCommandLineParser options;
    options.setApplicationDescription(
        QStringLiteral("Simulated remote gateways. Each forwards its own sensors to the program's Modem/NetworkPort."));
    options.addHelpOption();
    const QCommandLineOption hostOption("host", "Address of the program.", "address", "127.0.0.1");
    const QCommandLineOption portOption({ "p", "port" }, "The program's Modem/NetworkPort.", "port", "6238");
    const QCommandLineOption gatewaysOption({ "g", "gateways" }, "Number of gateways connected at once.", "count", "1");
    const QCommandLineOption sensorsOption({ "n", "sensors" }, "Sensors per gateway.", "count", "4");
    const QCommandLineOption intervalOption(
        { "i", "interval" }, "Milliseconds between two messages of one sensor.", "ms", "10000");
    const QCommandLineOption countOption(
        { "c", "count" }, "Messages per sensor, then the gateway leaves (0: run until stopped).", "count", "0");
    const QCommandLineOption lingerOption(
        "linger", "Milliseconds a gateway stays connected after its last message.", "ms", "500");
    const QCommandLineOption burstOption("burst", "Send every message as soon as the program takes it.");
    const QCommandLineOption nameOption("name", "Gateway names: this text and the gateway's number.", "text", "Шлюз ");
    const QCommandLineOption unconnectedOption("unconnected", "Report the gateways' modems as not connected.");
    const QCommandLineOption seedOption("seed", "Seed of the simulated readings.", "number", "1");
    // modemsim numbers its sensors from 0: both simulators feeding one program keep apart.
    const QCommandLineOption firstOption("first-sensor",
        "Number of the first sensor; sensor n has the EUI64 000D6F0000C0A000 + n (hexadecimal). "
        "The default, 4096 (000D6F0000C0B000), keeps clear of modemsim's sensors.",
        "n", "4096");
    const QCommandLineOption quietOption({ "q", "quiet" }, "Print only the sleep intervals, errors and totals.");
    options.addOptions({ hostOption, portOption, gatewaysOption, sensorsOption, intervalOption, countOption,
        lingerOption, burstOption, nameOption, unconnectedOption, seedOption, firstOption, quietOption });
    options.process(app);

    bool portOk = false;
    const uint port = options.value(portOption).toUInt(&portOk);
    const int gateways = options.value(gatewaysOption).toInt();
    bool firstOk = false;
    const int firstSensor = options.value(firstOption).toInt(&firstOk);
    GatewaySettings settings;
    settings.host = options.value(hostOption);
    settings.port = quint16(port);
    settings.sensors = options.value(sensorsOption).toInt();
    settings.interval = options.value(intervalOption).toInt();
    settings.count = options.value(countOption).toInt();
    settings.linger = options.value(lingerOption).toInt();
    settings.burst = options.isSet(burstOption);
    settings.modemConnected = !options.isSet(unconnectedOption);
    settings.quiet = options.isSet(quietOption);
    if (!portOk || port < 1 || port > 65535 || gateways < 1 || settings.sensors < 0 || settings.interval <= 0
        || settings.count < 0 || settings.linger < 0 || !firstOk || firstSensor < 0) {
        out() << "gatewaysim: bad --port, --gateways, --sensors, --interval, --count or --first-sensor\n";
        return 2;
    }
    const quint32 seed = options.value(seedOption).toUInt();

    std::vector<std::unique_ptr<SimulatedGateway>> all;
    int running = gateways;
    int sending = gateways;
    bool failed = false;
    qint64 total = 0;
    for (int g = 0; g < gateways; ++g) {
        const QString name = options.value(nameOption) + QString::number(g + 1);
        // Sensor addresses do not repeat across gateways.
        all.push_back(std::make_unique<SimulatedGateway>(
            g, firstSensor + g * settings.sensors, name, settings, seed + quint32(g)));
        SimulatedGateway* gateway = all.back().get();
        QObject::connect(gateway, &SimulatedGateway::line, [&](const QString& text) { out() << text << Qt::endl; });
        QObject::connect(gateway, &SimulatedGateway::allSent, [&] {
            if (--sending == 0)
                out() << "all sent" << Qt::endl;
        });
        QObject::connect(gateway, &SimulatedGateway::finished, [&, gateway](bool ok) {
            failed = failed || !ok;
            total += gateway->sent();
            if (--running == 0) {
                out() << "total sent: " << total << Qt::endl;
                app.exit(failed ? 1 : 0);
            }
        });
    }
    for (auto& gateway : all)
        gateway->start();
    return app.exec();
}
