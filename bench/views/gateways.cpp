// Gateways that connect in a crowd, and gateways that stay connected and report, with modem
// sensors answered all along.
#include <QElapsedTimer>
#include <QRandomGenerator>
#include <QTimer>

#include <algorithm>
#include <functional>
#include <cstdio>

#include "bench/common/modemprobe.h"
#include "bench/percentile.h"
#include "bench/views/programrun.h"
#include "bench/views/ptyanchor.h"
#include "bench/views/viewsbench.h"
#include "tools/gatewaysim/simulatedgateway.h"
#include "tools/modemsim/simulatedsensor.h"

using namespace ViewsBench;

namespace
{

// Ten known sensors on the modem line, one message each 5 ms in turn, while gateways come and go.
struct ProbeSensors
{
    void start(ModemProbe& line)
    {
        for (int i = 0; i < 10; ++i)
            sensors.append(SimulatedSensor(i, &random));
        line.startTicking(5, [this, &line] {
            SimulatedSensor& s = sensors[next++ % sensors.size()];
            line.send(s.eui64(), s.nextPayload());
        });
    }
    QRandomGenerator random { 7 };
    QVector<SimulatedSensor> sensors;
    int next = 0;
};

} // namespace

int gatewaysScenario(int gateways, int rate, int tab, const QString& program)
{
    ProgramRun run;
    ModemProbe line;
    const quint16 port = ProgramRun::freePort();
    if (!startEmptyProgram(run, line, program, port, tab))
        return 1;
    ProbeSensors probes;
    probes.start(line);
    waitFor([] { return false; }, 2000); // the probes are registered
    line.takeLatencies();
    PtyAnchor anchor;
    if (!anchor.start(5)) {
        std::fprintf(stderr, "cannot open the anchor's pseudo-terminal\n");
        return 1;
    }
    GatewaySettings settings;
    settings.port = port;
    settings.sensors = 1;
    settings.interval = 600000;
    settings.quiet = true;
    QVector<SimulatedGateway*> connected;
    GatewayThread gatewayThread;
    auto* connector = new QTimer;
    connector->setTimerType(Qt::PreciseTimer);
    connector->setInterval(std::max(1, 1000 / rate));
    connector->moveToThread(&gatewayThread.thread);
    QElapsedTimer wall;
    // As many as the rate asks for by now, however late a tick comes.
    QObject::connect(connector, &QTimer::timeout, &gatewayThread.context, [&] {
        const int due = std::min<qint64>(gateways, wall.elapsed() * rate / 1000 + 1);
        while (connected.size() < due) {
            const int i = connected.size();
            auto* g = new SimulatedGateway(i, 0x20000 + i, QStringLiteral("Шлюз %1").arg(i + 1), settings, quint32(i));
            g->start();
            connected << g;
        }
    });
    wall.start();
    const qint64 cpu0 = run.mainThreadCpuMs();
    QMetaObject::invokeMethod(connector, [connector] { connector->start(); });
    qint64 rooms = 0;
    while (rooms < gateways && wall.elapsed() < gateways * 1000LL / rate + 120000) {
        waitFor([] { return false; }, 500);
        rooms = storedRows(run, QStringLiteral("locations"));
    }
    waitFor([] { return false; }, 1000);
    const double busy = double(run.mainThreadCpuMs() - cpu0) / double(wall.elapsed());
    line.stopTicking();
    gatewayThread.run([&] {
        delete connector;
        qDeleteAll(connected);
    });
    const QVector<double> pings = anchor.stop();
    const QVector<double> replies = line.takeLatencies();
    const QByteArray what = QStringLiteral("%1 gateways at %2/s (%3 rooms stored), 10 sensors at 200/s, tab %4, %5 s")
                                .arg(gateways)
                                .arg(rate)
                                .arg(rooms)
                                .arg(tab)
                                .arg(wall.elapsed() / 1000.0, 0, 'f', 1)
                                .toUtf8();
    reportReplies(what.constData(), replies, pings, line.unanswered(), busy);
    run.stop();
    return 0;
}

namespace
{

// `gateways` simulated gateways on `port`, each reporting one sensor of its own once a second,
// connected at 400 a second; a modem sensor 200 times a second on `line` all along. `stretch`
// is called once they are all connected.
bool withGateways(int gateways, quint16 port, ModemProbe& line, const std::function<bool()>& connected,
    const std::function<void()>& stretch)
{
    ProbeSensors probes;
    probes.start(line);
    GatewaySettings settings;
    settings.port = port;
    settings.sensors = 1;
    settings.interval = 1000;
    settings.quiet = true;
    QVector<SimulatedGateway*> all;
    GatewayThread thread;
    thread.run([&] {
        for (int i = 0; i < gateways; ++i)
            all << new SimulatedGateway(i, 0x20000 + i, QStringLiteral("Шлюз %1").arg(i + 1), settings, quint32(i));
    });
    for (int i = 0; i < gateways; i += 40) {
        thread.run([&] {
            for (int k = i; k < std::min(gateways, i + 40); ++k)
                all[k]->start();
        });
        pause(100);
    }
    waitFor(connected, 120000);
    pause(3000);
    const bool ok = connected();
    if (ok)
        stretch();
    line.stopTicking();
    thread.run([&] { qDeleteAll(all); });
    return ok;
}

struct StreamSample {
    double cpu = 0;
    double p99 = 0;
};

StreamSample measureStretch(ProgramRun& run, ModemProbe& line, int seconds)
{
    line.takeLatencies();
    QElapsedTimer wall;
    wall.start();
    const qint64 cpu0 = run.processCpuMs();
    pause(seconds * 1000);
    StreamSample s;
    s.cpu = 100.0 * double(run.processCpuMs() - cpu0) / double(wall.elapsed());
    s.p99 = percentile(line.takeLatencies(), 0.99);
    return s;
}

} // namespace

int gatewayStreamScenario(int gateways, int seconds, int runs, int tab, const QString& program)
{
    QVector<double> anchorCpu, anchorP99, cpu, p99;
    {
        ProgramRun anchor;
        ModemProbe line;
        const quint16 port = ProgramRun::freePort();
        if (!line.open() || !anchor.start(QStringLiteral(EPOLL_ANCHOR), { line.portName(), QString::number(port) })
            || !anchor.waitForOutput("ready", 10000)) {
            std::fprintf(stderr, "the epoll anchor did not start: %s\n", qPrintable(anchor.output()));
            return 1;
        }
        withGateways(
            gateways, port, line, [] { return true; },
            [&] {
                for (int k = 0; k < runs; ++k) {
                    const StreamSample s = measureStretch(anchor, line, seconds);
                    std::printf("epoll anchor, %d gateways, run %d: %.2f %% of a core, modem reply p99 %.2f ms\n",
                        gateways, k + 1, s.cpu, s.p99);
                    anchorCpu << s.cpu;
                    anchorP99 << s.p99;
                }
            });
    }
    ProgramRun run;
    ModemProbe line;
    const quint16 port = ProgramRun::freePort();
    if (!startEmptyProgram(run, line, program, port, tab))
        return 1;
    auto roomsStored = [&] { return storedRows(run, QStringLiteral("locations")) >= gateways + 1; };
    const bool ok = withGateways(gateways, port, line, roomsStored, [&] {
        for (int k = 0; k < runs; ++k) {
            const StreamSample s = measureStretch(run, line, seconds);
            std::printf("program, %d gateways, tab %d, run %d: %.2f %% of a core, modem reply p99 %.2f ms\n", gateways,
                tab, k + 1, s.cpu, s.p99);
            cpu << s.cpu;
            p99 << s.p99;
        }
    });
    if (!ok) {
        std::fprintf(stderr, "not every gateway's room was stored\n");
        return 1;
    }
    const double a99 = percentile(anchorP99, 0.5);
    std::printf("\n%d gateways at one reading a second, modem sensors at 200/s, medians of %d:\n", gateways, runs);
    std::printf("  program CPU %.1f %% of a core (target <= 50), epoll anchor %.2f %%\n", percentile(cpu, 0.5),
        percentile(anchorCpu, 0.5));
    std::printf("  modem reply p99 %.2f ms, epoll anchor %.2f ms: ratio %.2f (target <= 3)\n", percentile(p99, 0.5),
        a99, a99 > 0 ? percentile(p99, 0.5) / a99 : 0.0);
    return 0;
}
