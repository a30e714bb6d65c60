// Views under load.
//   bench_views --scenario refresh [--sensors N] [--refreshes K] [--tab 0|1]
//     GUI-thread CPU time of one refresh of the summary (or measurement) tab with N sensors,
//     the window shown.
//   bench_views --scenario graph [--seconds S] [--db cache.db3] [--tab T] [--rate R] [--program path]
//     The real program on the graph tab (or tab T), "1 год", a year of one-minute readings of
//     20 sensors, the same 20 sensors reporting R messages a second in all (200 by default; 0.33
//     is once a minute each) through the modem: message to reply latency beside a bare pty
//     ping-pong, the main thread's and the whole program's busy share, and the WAL file's size.
//   bench_views --scenario flood [--sensors N] [--program path]
//     The real program while one gateway connection brings N new sensor addresses; a probe
//     sensor on the modem every 10 ms: its longest wait for a reply is the longest stall.
//   bench_views --scenario register [--sensors N] [--rate R] [--tab T] [--program path]
//     The real program while N sensors it has never heard register through the modem, R
//     messages a second: their replies beside a bare pty ping-pong timed in the same run.
//   bench_views --scenario ratios [--sensors N] [--rate R] [--tab T] [--seconds S] [--program path]
//     The register scenario at 10, 1,000 and 10,000 sensors (or N), each followed by S seconds (20 by
//     default) of the same sensors reporting at R a second: reply p99 against the anchor's p99
//     of the same stretch, in a table at the end.
//   bench_views --scenario gateways [--gateways G] [--rate R] [--tab T] [--program path]
//     The real program while G gateways connect, each with a name of its own (a room each),
//     R a second, and 10 known sensors report through the modem 200 times a second in all.
#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QHash>
#include <QLoggingCategory>
#include <QQueue>
#include <QRandomGenerator>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <ctime>

#include "app/appstate.h"
#include "bench/common/modemprobe.h"
#include "bench/percentile.h"
#include "bench/views/programrun.h"
#include "bench/views/ptyanchor.h"
#include "storage/sqlbasemodule.h"
#include "tools/datagen/datagenerator.h"
#include "tools/gatewaysim/simulatedgateway.h"
#include "tools/modemsim/simulatedsensor.h"
#include "ui/interfacemodule.h"
#include "ui/mainwindow.h"
#include "ui_mainwindow.h"

namespace
{

double threadCpuMs()
{
    timespec ts {};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return ts.tv_sec * 1e3 + ts.tv_nsec / 1e6;
}

// Runs the event loop, sleeping between events, until `done` or the time-out.
void waitFor(const std::function<bool()>& done, int timeoutMs)
{
    QEventLoop loop;
    QTimer check;
    QObject::connect(&check, &QTimer::timeout, &loop, [&] {
        if (done())
            loop.quit();
    });
    check.start(2);
    QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
    if (!done())
        loop.exec();
}

// --- GUI time per refresh ----------------------------------------------------------------

int refreshScenario(int sensors, int refreshes, int tab)
{
    QTemporaryDir dir;
    QDir::setCurrent(dir.path());
    QDir().mkdir(QStringLiteral("data"));
    AppState state;
    state.loadConfig();
    SQLBaseModule sql;
    sql.init(0, QString(), QString(), QString(), QString(), 0);
    const qint64 now = QDateTime::currentSecsSinceEpoch();
    QSqlDatabase db = QSqlDatabase::database();
    db.transaction();
    QSqlQuery q;
    const int rooms = std::max(1, sensors / 50);
    for (int r = 0; r < rooms; ++r) {
        auto* l = new Location;
        l->name = QStringLiteral("Помещение %1").arg(r);
        state.locations << l;
        q.exec(QStringLiteral("INSERT INTO locations (id, name, EUI64, ip) VALUES (%1, '%2', '', '')")
                   .arg(r)
                   .arg(l->name));
    }
    for (int i = 0; i < sensors; ++i) {
        auto* s = new Sensor;
        s->EUI64 = QStringLiteral("00137A%1").arg(i, 10, 16, QLatin1Char('0')).toUpper();
        s->name = QStringLiteral("Датчик %1").arg(i);
        s->location = i % rooms;
        s->online = true;
        s->lastSeen = now * 1000;
        s->lastData = { true, true, true, 20.0 + i % 15, 50.0 + i % 40, 3.0 };
        state.sensors << s;
        q.prepare(QStringLiteral("INSERT INTO sensors (id, EUI64, name, location, sleepInterval, datecheck) VALUES "
                                 "(?,?,?,?,60,'2026.01.01')"));
        q.addBindValue(i + 1);
        q.addBindValue(s->EUI64);
        q.addBindValue(s->name);
        q.addBindValue(s->location);
        q.exec();
        for (const char* table : { "measure", "last" }) {
            q.prepare(QStringLiteral(
                "INSERT INTO %1 (sensor_id, timemeasure, temperature, wetness, battery) VALUES (?,?,?,?,3.0)")
                          .arg(QLatin1String(table)));
            q.addBindValue(i + 1);
            q.addBindValue(now - 60);
            q.addBindValue(s->lastData.temperature);
            q.addBindValue(s->lastData.wetness);
            q.exec();
        }
    }
    db.commit();

    InterfaceModule interface;
    interface.slotStopInitializing();
    MainWindow* w = interface.mainWindow;
    w->resize(1579, 900);
    w->ui->tabWidget->setCurrentIndex(tab);
    w->show();
    auto settle = [w](int before) {
        waitFor([&] { return w->refreshes > before && !w->loading(); }, 60000);
        QCoreApplication::processEvents();
    };
    settle(0);
    QVector<double> cost;
    for (int i = 0; i < refreshes; ++i) {
        const int before = w->refreshes;
        const double start = threadCpuMs();
        w->slotRefresh();
        settle(before);
        cost << threadCpuMs() - start;
    }
    std::printf("refresh of tab %d, %d sensors in %d rooms, window shown: GUI thread median %.2f ms, "
                "p90 %.2f ms (of %d)\n",
        tab, sensors, rooms, percentile(cost, 0.5), percentile(cost, 0.9), refreshes);
    interface.slotStopModule();
    sql.slotStopModule();
    return 0;
}

// --- The real program under a modem stream -----------------------------------------------

// Simulated gateways in a thread of their own: the sockets of thousands of them would slow
// down the modem line's thread, which times the replies.
class GatewayThread
{
public:
    GatewayThread()
    {
        context.moveToThread(&thread);
        thread.start();
    }
    ~GatewayThread()
    {
        run([this] { context.moveToThread(QCoreApplication::instance()->thread()); });
        thread.quit();
        thread.wait();
    }
    void run(const std::function<void()>& f) { QMetaObject::invokeMethod(&context, f, Qt::BlockingQueuedConnection); }

    QObject context;
    QThread thread;
};

bool startProgram(ProgramRun& run, ModemProbe& line, const QString& program, quint16 networkPort)
{
    if (!run.writeConfig(line.portName(), networkPort))
        return false;
    if (!run.start(program)) {
        std::fprintf(stderr, "cannot start %s\n", qPrintable(program));
        return false;
    }
    QElapsedTimer t;
    t.start();
    waitFor([&] { return line.scriptDone(); }, 900000);
    if (!line.scriptDone()) {
        std::fprintf(stderr, "the program never initialised the modem:\n%s\n", qPrintable(run.output()));
        return false;
    }
    std::printf("program up and modem initialised in %.1f s\n", t.elapsed() / 1000.0);
    return true;
}

QString datagenKey(int i)
{
    return QStringLiteral("00137A%1").arg(i, 10, 16, QLatin1Char('0')).toUpper();
}

void reportReplies(
    const char* what, const QVector<double>& replies, const QVector<double>& anchor, int unanswered, double busy);

bool makeYearDatabase(const QString& target, const QString& cache)
{
    if (!cache.isEmpty() && QFile::exists(cache))
        return QFile::copy(cache, target);
    QElapsedTimer t;
    t.start();
    {
        // The program's own schema, through its module, in the working folder of the target.
        const QString previous = QDir::currentPath();
        QDir::setCurrent(QFileInfo(target).absolutePath() + QStringLiteral("/.."));
        SQLBaseModule sql;
        sql.init(0, QString(), QString(), QString(), QString(), 0);
        DataGenerator::Options options;
        options.sensors = 20;
        options.locations = 4;
        options.days = 365;
        options.end = QDateTime::currentSecsSinceEpoch() - 60;
        DataGenerator gen(sql.db, options);
        QString error;
        const bool ok = gen.run(&error);
        sql.slotStopModule();
        QDir::setCurrent(previous);
        if (!ok) {
            std::fprintf(stderr, "filling failed: %s\n", qPrintable(error));
            return false;
        }
        std::printf("filled %lld readings in %.0f s\n", gen.measurementsWritten(), t.elapsed() / 1000.0);
    }
    QSqlDatabase::removeDatabase(QLatin1String(QSqlDatabase::defaultConnection));
    return cache.isEmpty() || QFile::copy(target, cache);
}

int graphScenario(
    int seconds, const QString& cache, const QString& program, const QString& refreshAction, int tab, double rate)
{
    ProgramRun run;
    if (!makeYearDatabase(run.path(QStringLiteral("data/measurement.db3")), cache))
        return 1;
    run.writeView(tab, 17, refreshAction);
    ModemProbe line;
    if (!line.open() || !startProgram(run, line, program, ProgramRun::freePort()))
        return 1;
    QThread::sleep(3); // the first load

    QRandomGenerator random(3);
    QVector<SimulatedSensor> sensors;
    for (int i = 0; i < 20; ++i)
        sensors.append(SimulatedSensor(i, &random));
    int next = 0;
    PtyAnchor anchor;
    if (!anchor.start(5)) {
        std::fprintf(stderr, "cannot open the anchor's pseudo-terminal\n");
        return 1;
    }
    const qint64 cpu0 = run.mainThreadCpuMs();
    const qint64 all0 = run.processCpuMs();
    QElapsedTimer wall;
    wall.start();
    line.startTicking(std::max(1, int(1000 / rate)), [&] {
        SimulatedSensor& s = sensors[next % 20];
        line.send(datagenKey(next % 20 + 1), s.nextPayload());
        ++next;
    });
    qint64 walMax = 0;
    while (wall.elapsed() < seconds * 1000LL) {
        waitFor([] { return false; }, 1000);
        walMax = std::max(walMax, run.fileSize(QStringLiteral("data/measurement.db3-wal")));
    }
    line.stopTicking();
    const double busy = double(run.mainThreadCpuMs() - cpu0) / double(wall.elapsed());
    const double all = double(run.processCpuMs() - all0) / double(wall.elapsed());
    waitFor([] { return false; }, 1000);
    const QVector<double> pings = anchor.stop();
    const QVector<double> l = line.takeLatencies();
    const qint64 walEnd = run.fileSize(QStringLiteral("data/measurement.db3-wal"));
    const QByteArray what = QStringLiteral("tab %1, \"1 год\", 20 sensors, %2 messages/s for %3 s (%4 sent)")
                                .arg(tab)
                                .arg(rate)
                                .arg(seconds)
                                .arg(next)
                                .toUtf8();
    reportReplies(what.constData(), l, pings, line.unanswered(), busy);
    std::printf("  the whole program busy %.1f %% of one core\n", all * 100);
    std::printf("  WAL file: %.1f MB at the end, %.1f MB at most\n", walEnd / 1e6, walMax / 1e6);
    run.stop();
    return 0;
}

// The program on an empty database, showing tab `tab` with the "last" window entry `last`.
bool startEmptyProgram(ProgramRun& run, ModemProbe& line, const QString& program, quint16 port, int tab, int last = 17)
{
    {
        const QString previous = QDir::currentPath();
        QDir::setCurrent(run.path(QString()));
        SQLBaseModule sql;
        sql.init(0, QString(), QString(), QString(), QString(), 0);
        sql.slotStopModule();
        QDir::setCurrent(previous);
    }
    QSqlDatabase::removeDatabase(QLatin1String(QSqlDatabase::defaultConnection));
    run.writeView(tab, last, QStringLiteral("actRefrDirect"));
    return line.open() && startProgram(run, line, program, port);
}

// --- A flood of new sensors from one gateway ---------------------------------------------

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

    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("count"));
    db.setDatabaseName(run.path(QStringLiteral("data/measurement.db3")));
    db.open();
    int registered = 0;
    while (registered < newSensors + 1 && t.elapsed() < 600000) {
        waitFor([] { return false; }, 200);
        QSqlQuery q(QStringLiteral("SELECT COUNT(*) FROM sensors"), db);
        if (q.next())
            registered = q.value(0).toInt();
    }
    const double took = t.elapsed() / 1000.0;
    waitFor([] { return false; }, 1000);
    line.stopTicking();
    const QVector<double> l = line.takeLatencies();
    std::printf(
        "probe before the flood: median %.2f ms, max %.2f ms\n", percentile(baseline, 0.5), percentile(baseline, 1.0));
    std::printf("%d new sensors from one gateway: %d registered in %.1f s\n", newSensors, registered - 1, took);
    std::printf("probe during the flood: median %.2f ms, p99 %.2f ms, longest stall %.0f ms\n", percentile(l, 0.5),
        percentile(l, 0.99), percentile(l, 1.0));
    gateways.run([&] { delete gateway; });
    db.close();
    run.stop();
    return registered == newSensors + 1 ? 0 : 1;
}

// --- Registration beside the pty anchor ---------------------------------------------------

void reportReplies(
    const char* what, const QVector<double>& replies, const QVector<double>& anchor, int unanswered, double busy)
{
    const double p99 = percentile(replies, 0.99);
    const double anchor99 = percentile(anchor, 0.99);
    std::printf("%s: %d replies, %d unanswered\n", what, replies.size(), unanswered);
    std::printf("  reply   median %.2f ms, p99 %.2f ms, max %.2f ms\n", percentile(replies, 0.5), p99,
        percentile(replies, 1.0));
    std::printf("  anchor  median %.2f ms, p99 %.2f ms, max %.2f ms (bare pty ping-pong, %d pings)\n",
        percentile(anchor, 0.5), anchor99, percentile(anchor, 1.0), anchor.size());
    std::printf("  reply p99 / anchor p99 = %.2f\n", anchor99 > 0 ? p99 / anchor99 : 0.0);
    std::printf("  main thread busy %.1f %% of the time\n", busy * 100);
}

// Replies and the anchor's pings of one stretch of a run.
struct Phase {
    QVector<double> replies;
    QVector<double> anchor;
    int unanswered = 0;
    double busy = 0;
    double seconds = 0;
    double ratio() const
    {
        const double floor = percentile(anchor, 0.99);
        return floor > 0 ? percentile(replies, 0.99) / floor : 0.0;
    }
};

// Ticks `tick` at `rate` a second until `done`, beside a pty anchor of its own.
bool runPhase(ProgramRun& run, ModemProbe& line, int rate, const std::function<void()>& tick,
    const std::function<bool()>& done, int timeoutMs, Phase* phase)
{
    line.takeLatencies();
    PtyAnchor anchor;
    if (!anchor.start(5)) {
        std::fprintf(stderr, "cannot open the anchor's pseudo-terminal\n");
        return false;
    }
    QElapsedTimer wall;
    wall.start();
    const qint64 cpu0 = run.mainThreadCpuMs();
    line.startTicking(std::max(1, 1000 / rate), tick);
    waitFor(done, timeoutMs);
    phase->busy = double(run.mainThreadCpuMs() - cpu0) / double(wall.elapsed());
    line.stopTicking();
    phase->seconds = wall.elapsed() / 1000.0;
    phase->anchor = anchor.stop();
    phase->replies = line.takeLatencies();
    phase->unanswered = line.unanswered();
    return true;
}

QString newSensorKey(int i)
{
    return QStringLiteral("000D6F0001%1").arg(i, 6, 16, QLatin1Char('0')).toUpper();
}

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

int gatewaysScenario(int gateways, int rate, int tab, const QString& program)
{
    ProgramRun run;
    ModemProbe line;
    const quint16 port = ProgramRun::freePort();
    if (!startEmptyProgram(run, line, program, port, tab))
        return 1;
    QRandomGenerator random(7);
    QVector<SimulatedSensor> probes;
    for (int i = 0; i < 10; ++i)
        probes.append(SimulatedSensor(i, &random));
    int next = 0;
    line.startTicking(5, [&] {
        SimulatedSensor& s = probes[next++ % probes.size()];
        line.send(s.eui64(), s.nextPayload());
    });
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
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("count"));
    db.setDatabaseName(run.path(QStringLiteral("data/measurement.db3")));
    db.open();
    int rooms = 0;
    while (rooms < gateways && wall.elapsed() < gateways * 1000LL / rate + 120000) {
        waitFor([] { return false; }, 500);
        QSqlQuery q(QStringLiteral("SELECT COUNT(*) FROM locations"), db);
        if (q.next())
            rooms = q.value(0).toInt();
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
    db.close();
    run.stop();
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    // Debug output of the program's own categories would only blur the timings.
    QLoggingCategory::setFilterRules(QStringLiteral("*.debug=false"));
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QCommandLineParser cli;
    cli.addHelpOption();
    cli.addOption({ "scenario", "refresh, graph, flood, register, ratios or gateways.", "name", "refresh" });
    cli.addOption({ "sensors", "Sensors (refresh) or new sensors (flood).", "N", "" });
    cli.addOption({ "refreshes", "Refreshes timed.", "K", "30" });
    cli.addOption({ "tab", "Tab of the refresh scenario: 0 summary, 1 measurements.", "index", "0" });
    cli.addOption({ "seconds", "Length of the stream.", "S", "60" });
    cli.addOption({ "refresh",
        "Refresh action of the graph scenario (actRefr1min: no refresh on arrival, "
        "to tell the views' share from the intake's).",
        "name", "actRefrDirect" });
    cli.addOption({ "rate", "Messages (register) or gateways (gateways) a second.", "R", "200" });
    cli.addOption({ "gateways", "Gateways that connect (gateways).", "G", "2000" });
    cli.addOption({ "db", "Keep the filled year database here and reuse it.", "file" });
    cli.addOption({ "program", "The program to run.", "path", QStringLiteral(OSTRIVEL_PROGRAM) });
    cli.process(app);
    const QString scenario = cli.value("scenario");
    const QString db = cli.isSet("db") ? QFileInfo(cli.value("db")).absoluteFilePath() : QString();
    const QString program = QFileInfo(cli.value("program")).absoluteFilePath();
    if (scenario == QLatin1String("refresh"))
        return refreshScenario(cli.value("sensors").isEmpty() ? 5000 : cli.value("sensors").toInt(),
            std::max(1, cli.value("refreshes").toInt()), cli.value("tab").toInt());
    if (scenario == QLatin1String("graph"))
        return graphScenario(std::max(1, cli.value("seconds").toInt()), db, program, cli.value("refresh"),
            cli.isSet("tab") ? cli.value("tab").toInt() : 2,
            cli.isSet("rate") ? std::max(0.01, cli.value("rate").toDouble()) : 200.0);
    if (scenario == QLatin1String("flood"))
        return floodScenario(cli.value("sensors").isEmpty() ? 3000 : cli.value("sensors").toInt(), program);
    const int rate = std::max(1, cli.value("rate").toInt());
    if (scenario == QLatin1String("register"))
        return registerScenario(cli.value("sensors").isEmpty() ? 10000 : cli.value("sensors").toInt(), rate,
            cli.value("tab").toInt(), program);
    if (scenario == QLatin1String("ratios"))
        return ratiosScenario(cli.value("sensors").isEmpty() ? QVector<int> { 10, 1000, 10000 }
                                                             : QVector<int> { cli.value("sensors").toInt() },
            rate, cli.value("tab").toInt(), cli.isSet("seconds") ? cli.value("seconds").toInt() : 20, program);
    if (scenario == QLatin1String("gateways"))
        return gatewaysScenario(std::max(1, cli.value("gateways").toInt()), rate, cli.value("tab").toInt(), program);
    std::fprintf(stderr, "unknown scenario\n");
    return 2;
}
