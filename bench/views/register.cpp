// New sensors: a flood through one gateway, and registrations through the modem beside a pty
// anchor, at 10, 1,000 and 10,000 sensors.
#include <QElapsedTimer>
#include <QRandomGenerator>

#include <cstdio>

#include "bench/common/modemprobe.h"
#include "bench/percentile.h"
#include "bench/views/programrun.h"
#include "bench/views/viewsbench.h"
#include "tools/gatewaysim/simulatedgateway.h"
#include "tools/modemsim/simulatedsensor.h"

using namespace ViewsBench;

int floodScenario(int newSensors, const QString& program)
{
    ProgramRun run;
    ModemProbe line;
    const quint16 port = ProgramRun::freePort();
    if (!startEmptyProgram(run, line, program, port, 0, 10))
        return 1;

    QRandomGenerator random(5);
    SimulatedSensor probe(0, &random);
    line.startTicking(10, [&] { line.send(probe.eui64(), probe.nextPayload()); });
    waitFor([] { return false; }, 2000);
    const QVector<double> baseline = line.takeLatencies();

    GatewaySettings settings;
    settings.port = port;
    settings.sensors = newSensors;
    settings.count = 1;
    settings.interval = newSensors; // one message a millisecond
    settings.linger = 600000;
    settings.quiet = true;
    // The gateway lives in the peer's thread, socket and timers included.
    GatewayThread gateways;
    SimulatedGateway* gateway = nullptr;
    QElapsedTimer t;
    t.start();
    gateways.run([&] {
        gateway = new SimulatedGateway(0, 1000, QStringLiteral("Шлюз 1"), settings, 11);
        gateway->start();
    });

    qint64 registered = 0;
    while (registered < newSensors + 1 && t.elapsed() < 600000) {
        waitFor([] { return false; }, 200);
        registered = storedRows(run, QStringLiteral("sensors"));
    }
    const double took = t.elapsed() / 1000.0;
    waitFor([] { return false; }, 1000);
    line.stopTicking();
    const QVector<double> l = line.takeLatencies();
    std::printf(
        "probe before the flood: median %.2f ms, max %.2f ms\n", percentile(baseline, 0.5), percentile(baseline, 1.0));
    std::printf("%d new sensors from one gateway: %d registered in %.1f s\n", newSensors, int(registered - 1), took);
    std::printf("probe during the flood: median %.2f ms, p99 %.2f ms, longest stall %.0f ms\n", percentile(l, 0.5),
        percentile(l, 0.99), percentile(l, 1.0));
    gateways.run([&] { delete gateway; });
    run.stop();
    return registered == newSensors + 1 ? 0 : 1;
}

namespace
{

// N sensors the program has never heard register at `rate` a second; then, with `seconds`
// above zero, the same sensors, known by now, report at that rate for that long.
bool registerAndReport(
    int sensors, int rate, int tab, int seconds, const QString& program, Phase* registering, Phase* reporting)
{
    ProgramRun run;
    ModemProbe line;
    if (!startEmptyProgram(run, line, program, ProgramRun::freePort(), tab))
        return false;
    waitFor([] { return false; }, 1000);
    const QByteArray payload = SimulatedSensor::payload(21.5, 40.0, 3.0);
    int next = 0;
    if (!runPhase(
            run, line, rate,
            [&] {
                if (next < sensors)
                    line.send(newSensorKey(next++), payload);
            },
            [&] { return next >= sensors && line.unanswered() == 0; }, sensors * 1000 / rate + 120000, registering))
        return false;
    // "<what> at <rate>/s, tab <tab>, <seconds> s", then the figures.
    auto print = [rate, tab](const QString& what, const Phase& p) {
        const QByteArray head = QStringLiteral("%1 at %2/s, tab %3, %4 s")
                                    .arg(what)
                                    .arg(rate)
                                    .arg(tab)
                                    .arg(p.seconds, 0, 'f', 1)
                                    .toUtf8();
        reportReplies(head.constData(), p.replies, p.anchor, p.unanswered, p.busy);
    };
    print(QStringLiteral("%1 new sensors on the modem").arg(sensors), *registering);
    if (seconds <= 0)
        return true;
    waitFor([] { return false; }, 1000);
    QElapsedTimer clock;
    clock.start();
    next = 0;
    if (!runPhase(
            run, line, rate, [&] { line.send(newSensorKey(next++ % sensors), payload); },
            [&] { return clock.elapsed() >= seconds * 1000LL; }, seconds * 1000 + 1000, reporting))
        return false;
    print(QStringLiteral("the same %1 sensors, known,").arg(sensors), *reporting);
    return true;
}

} // namespace

int registerScenario(int newSensors, int rate, int tab, const QString& program)
{
    Phase registering;
    Phase reporting;
    return registerAndReport(newSensors, rate, tab, 0, program, &registering, &reporting) ? 0 : 1;
}

// The reply's p99 against the anchor's at 10, 1,000 and 10,000 sensors, registering and known.
int ratiosScenario(const QVector<int>& counts, int rate, int tab, int seconds, const QString& program)
{
    struct Row {
        int sensors;
        Phase registering;
        Phase reporting;
    };
    QVector<Row> rows;
    for (int n : counts)
        rows.append({ n, {}, {} });
    for (Row& row : rows) {
        if (!registerAndReport(row.sensors, rate, tab, seconds, program, &row.registering, &row.reporting))
            return 1;
    }
    std::printf("\nreply p99 / anchor p99, tab %d, %d messages/s (target at most 1.5):\n", tab, rate);
    std::printf("  %8s  %-34s  %-34s\n", "sensors", "registering", "known, reporting");
    auto cell = [](const Phase& p) {
        return QStringLiteral("%1 ms / %2 ms = %3 (%4)")
            .arg(percentile(p.replies, 0.99), 0, 'f', 2)
            .arg(percentile(p.anchor, 0.99), 0, 'f', 2)
            .arg(p.ratio(), 0, 'f', 2)
            .arg(p.replies.size())
            .toUtf8();
    };
    for (const Row& row : rows)
        std::printf(
            "  %8d  %-34s  %-34s\n", row.sensors, cell(row.registering).constData(), cell(row.reporting).constData());
    return 0;
}
