// Storage benchmark: measurements stored the way the program stores them (handed to the
// database writer, which commits them in batches), and the purge of expired rows from a large
// measure table, started by the module's own timer and run by the writer in slices while
// measurements keep arriving.
//   bench_storage [--mysql] [--measurements N] [--sensors S] [--rows R] [--expired X] [--interval I]
// SQLite runs in a temporary working folder; --mysql starts a private MariaDB server and
// reaches it through unixODBC, as the storage tests do. Exits with 1 when a figure cannot
// be trusted (rows missing, the purge removing the wrong number).
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDate>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QMutex>
#include <QRandomGenerator>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QThread>
#include <QTimerEvent>
#include <QVariantList>
#include <QVector>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <functional>
#include <memory>

#include "bench/percentile.h"
#include "app/appstate.h"
#include "storage/databasewriter.h"
#include "storage/registrywriter.h"
#include "storage/sqlbasemodule.h"
#include "tests/storage/mariadbserver.h"
#include "tools/datagen/datagenerator.h"
#include "tools/modemsim/simulatedsensor.h"

namespace
{

// The module as the program runs it, with a stopwatch around each tick of its purge timer.
class TimedModule : public SQLBaseModule
{
public:
    // Duration of every tick so far; a short interval may tick again before the loop looks.
    QVector<double> tickSeconds;

protected:
    void timerEvent(QTimerEvent* event) override
    {
        QElapsedTimer clock;
        clock.start();
        SQLBaseModule::timerEvent(event);
        tickSeconds.append(clock.nsecsElapsed() / 1e9);
    }
};

struct Settings {
    bool mysql = false;
    int measurements = 20000;
    int sensors = 50;
    qint64 rows = 10000000;
    qint64 expired = 1000000;
    int interval = 60; // seconds between two readings of a sensor in the filled history
};

qint64 scalar(const QSqlDatabase& db, const QString& sql, const QVariantList& values = {})
{
    QSqlQuery q(db);
    q.setForwardOnly(true);
    q.prepare(sql);
    for (const QVariant& value : values)
        q.addBindValue(value);
    if (!q.exec() || !q.next()) {
        std::fprintf(stderr, "query failed: %s [%s]\n", qPrintable(q.lastError().text()), qPrintable(sql));
        return -1;
    }
    return q.value(0).toLongLong();
}

// Sensors and days for the generator, which writes one reading every `interval` seconds per
// sensor: the longest history (up to maxDays) that comes within 0.1 % of `rows`, else the
// closest split. A short interval gives few sensors with many readings each.
DataGenerator::Options shapeFor(qint64 rows, int maxDays, int interval)
{
    DataGenerator::Options o;
    o.days = 1;
    o.sensors = 1;
    o.interval = interval;
    qint64 bestError = -1;
    for (int days = 1; days <= maxDays; ++days) {
        const qint64 perSensor = qint64(days) * 86400 / interval;
        const qint64 sensors = std::max<qint64>(1, std::llround(double(rows) / double(perSensor)));
        const qint64 error = std::llabs(sensors * perSensor - rows);
        if (bestError < 0 || error <= std::max(bestError, rows / 1000)) {
            bestError = std::min(bestError < 0 ? error : bestError, error);
            o.days = days;
            o.sensors = int(sensors);
        }
    }
    return o;
}

class Bench
{
public:
    explicit Bench(const Settings& s)
        : settings(s)
        , type(s.mysql ? 1 : 0)
    {
    }

    bool run();

private:
    bool open(TimedModule* module);
    bool storePhase(const char* title, TimedModule* module);
    void roundTrip(TimedModule* module);
    bool fill(TimedModule* module);
    bool purgePhase(TimedModule* module);
    struct ArrivalWaits {
        int sent = 0;
        QVector<double> waits; // ms
    };
    ArrivalWaits arrivals(TimedModule* module, const std::function<bool()>& going);

    Settings settings;
    int type;
    MariaDbServer server;
    QRandomGenerator random { 11 };
    QVector<SimulatedSensor> fleet;
    int closeCode = 0;
    qint64 expectedExpired = 0;
    int daysSave = 0;
    qint64 firstReading = 0;
};

bool Bench::open(TimedModule* module)
{
    closeCode = 0;
    QObject::connect(module, &SQLBaseModule::signalCloseApplication, [this](int code) { closeCode = code; });
    const auto print = [](const QString& text) { std::fprintf(stderr, "%s\n", qPrintable(text)); };
    QObject::connect(module, &SQLBaseModule::signalWarning, print);
    QObject::connect(module, &SQLBaseModule::signalStartFailed, print);
    // The hourly timer of the program: it must not tick by itself while the table is filled.
    module->purgeInterval = 3600000;
    if (gAppState)
        gAppState->followDatabase(*module);
    if (type == 1)
        module->init(
            1, QStringLiteral("127.0.0.1"), server.user(), server.password(), QStringLiteral("bench"), server.port());
    else
        module->init(0, QString(), QString(), QString(), QString(), 0);
    if (closeCode != 0 || !module->db.isOpen()) {
        std::fprintf(stderr, "the module could not open the database (code %d)\n", closeCode);
        return false;
    }
    return true;
}

// Measurements handed over one after another as the intake does; the rate counts until the
// writer has committed the last of them.
bool Bench::storePhase(const char* title, TimedModule* module)
{
    const qint64 before = scalar(module->db, QStringLiteral("SELECT COUNT(*) FROM measure"));
    QVector<double> each;
    each.reserve(settings.measurements);
    QElapsedTimer total;
    total.start();
    for (int i = 0; i < settings.measurements; ++i) {
        SimulatedSensor& sensor = fleet[i % fleet.size()];
        sensor.nextPayload();
        SensorData data;
        data.hasTemperature = data.hasWetness = data.hasBattery = true;
        data.temperature = sensor.temperature;
        data.wetness = sensor.humidity;
        data.battery = sensor.battery;
        const qint64 start = total.nsecsElapsed();
        module->writer->enqueue({ sensor.eui64(), data, QDateTime::currentSecsSinceEpoch() });
        each.append((total.nsecsElapsed() - start) / 1e6);
    }
    while (module->writer->queueLength() > 0)
        QThread::usleep(200);
    const double seconds = total.nsecsElapsed() / 1e9;
    const qint64 stored = scalar(module->db, QStringLiteral("SELECT COUNT(*) FROM measure")) - before;
    const double rate = settings.measurements / seconds;
    const double target = type == 1 ? 5000 : 50000;
    std::printf("%-34s %8d in %7.2f s = %8.0f /s  (hand-over: median %.4f ms, p99 %.4f ms, max %.2f ms)  %s\n", title,
        settings.measurements, seconds, rate, percentile(each, 0.5), percentile(each, 0.99), percentile(each, 1.0),
        rate >= target ? "ok" : "BELOW TARGET");
    if (stored != settings.measurements) {
        std::printf("  FAILED: %lld rows stored for %d measurements\n", stored, settings.measurements);
        return false;
    }
    return true;
}

// What one statement costs on this connection with nothing to do: the floor under each of the
// statements a stored measurement takes.
void Bench::roundTrip(TimedModule* module)
{
    const int count = 2000;
    QSqlQuery q(module->db);
    q.setForwardOnly(true);
    QElapsedTimer clock;
    clock.start();
    for (int i = 0; i < count; ++i) {
        q.exec(QStringLiteral("SELECT 1"));
        q.next();
        q.finish();
    }
    std::printf("%-34s %8d in %7.2f s = %8.3f ms each\n", "bare statement (SELECT 1)", count,
        clock.nsecsElapsed() / 1e9, clock.nsecsElapsed() / 1e6 / count);
}

// One history of the same sensors on both sides of the retention: the oldest `expired`
// readings of each sensor lie beyond it, the rest within. Readings fall on whole intervals from
// the first one; the retention is the fewest days that keeps the newest reading in the past.
bool Bench::fill(TimedModule* module)
{
    const int interval = settings.interval;
    DataGenerator::Options o = shapeFor(settings.rows, 60, interval);
    o.type = type;
    o.seed = 1;
    const qint64 readings = qint64(o.days) * 86400 / interval;
    const qint64 expiredReadings = qBound<qint64>(0, std::llround(double(settings.expired) / o.sensors), readings);
    daysSave = int(((readings - expiredReadings) * interval + 86399) / 86400);
    if (gAppState)
        gAppState->DaysSave = daysSave;
    const qint64 now = QDateTime::currentSecsSinceEpoch();
    // The cut half an interval after the last expired reading.
    firstReading = now - qint64(daysSave) * 86400 - expiredReadings * interval + interval / 2;
    o.end = firstReading + (readings - 1) * interval;
    std::printf(
        "  %d sensors x %d days, one reading every %d s; retention %d days\n", o.sensors, o.days, interval, daysSave);

    QElapsedTimer clock;
    clock.start();
    DataGenerator generator(module->db, o);
    QString error;
    if (!generator.run(&error)) {
        std::fprintf(stderr, "filling failed: %s\n", qPrintable(error));
        return false;
    }
    const double seconds = clock.nsecsElapsed() / 1e9;
    std::printf("%-34s %8lld in %7.2f s = %8.0f rows/s\n", "fill (data generator)", generator.measurementsWritten(),
        seconds, generator.measurementsWritten() / seconds);
    return true;
}

// The module's own timer, restarted short so that its next tick comes now. While the writer
// purges, a measurement arrives every 5 ms; the time from its hand-over to the commit of its
// batch is what the purge makes the intake wait.
bool Bench::purgePhase(TimedModule* module)
{
    // The same arrivals for three seconds with no purge: what the intake waits anyway.
    const ArrivalWaits calm = arrivals(module,
        [start = QDateTime::currentMSecsSinceEpoch()] { return QDateTime::currentMSecsSinceEpoch() - start < 3000; });
    std::printf("%-34s %8d arrivals in 3 s, wait for their commit: median %.1f ms, p99 %.1f ms, max %.1f ms\n",
        "arrivals, no purge", calm.sent, percentile(calm.waits, 0.5), percentile(calm.waits, 0.99),
        percentile(calm.waits, 1.0));

    const qint64 before = scalar(module->db, QStringLiteral("SELECT COUNT(*) FROM measure"));
    // The cut moves with the clock; wait until it lies in the first half between two
    // readings, so that the rows counted here are the rows the purge finds a moment later.
    const int interval = settings.interval;
    auto phase = [&] {
        const qint64 cut = QDateTime::currentSecsSinceEpoch() - qint64(daysSave) * 86400;
        return ((cut - firstReading) % interval + interval) % interval;
    };
    while (phase() < interval / 6 || phase() > interval / 2)
        QThread::msleep(200);
    const qint64 cut = QDateTime::currentSecsSinceEpoch() - qint64(daysSave) * 86400;
    expectedExpired = scalar(module->db, QStringLiteral("SELECT COUNT(*) FROM measure WHERE timemeasure < ?"), { cut });

    const int ticks = module->tickSeconds.size();
    module->killTimer(module->purgeTimerId);
    module->purgeTimerId = module->startTimer(1);
    while (module->tickSeconds.size() == ticks)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 100);
    module->killTimer(module->purgeTimerId);
    module->purgeTimerId = module->startTimer(module->purgeInterval, Qt::CoarseTimer);
    QElapsedTimer clock;
    clock.start();
    const ArrivalWaits purging = arrivals(module, [module] { return module->writer->purging(); });
    const double seconds = clock.nsecsElapsed() / 1e9;
    const qint64 after = scalar(module->db, QStringLiteral("SELECT COUNT(*) FROM measure"));
    const qint64 removed = before - after + purging.sent;
    const double worst = percentile(purging.waits, 1.0);
    std::printf("%-34s %8lld of %lld in %7.3f s; %d arrivals meanwhile, wait for their commit: median %.1f ms, "
                "p99 %.1f ms, max %.1f ms  %s\n",
        "purge (writer, in slices)", removed, before, seconds, purging.sent, percentile(purging.waits, 0.5),
        percentile(purging.waits, 0.99), worst, worst <= 50 ? "ok (<= 50 ms)" : "OVER 50 ms");
    if (removed != expectedExpired) {
        std::printf("  FAILED: %lld rows were expired, %lld removed\n", expectedExpired, removed);
        return false;
    }
    return true;
}

// A measurement every 5 ms while `going` holds, until the last is committed; the wait of
// each from its hand-over to the commit of its batch, taken in the writer's thread.
Bench::ArrivalWaits Bench::arrivals(TimedModule* module, const std::function<bool()>& going)
{
    QElapsedTimer clock;
    clock.start();
    QMutex guard;
    QVector<qint64> handedOver; // ns, in queue order
    ArrivalWaits result;
    int committed = 0;
    QMetaObject::Connection batches = QObject::connect(
        module->writer, &DatabaseWriter::batchCommitted, module->writer,
        [&](int n) {
            QMutexLocker lock(&guard);
            const qint64 now = clock.nsecsElapsed();
            for (int i = 0; i < n; ++i)
                result.waits.append((now - handedOver[committed + i]) / 1e6);
            committed += n;
        },
        Qt::DirectConnection);
    auto done = [&] {
        QMutexLocker lock(&guard);
        return committed;
    };
    while ((going() || done() < result.sent) && clock.elapsed() < 3600000) {
        SimulatedSensor& sensor = fleet[result.sent % fleet.size()];
        sensor.nextPayload();
        SensorData data;
        data.hasTemperature = true;
        data.temperature = sensor.temperature;
        {
            QMutexLocker lock(&guard);
            handedOver.append(clock.nsecsElapsed());
        }
        module->writer->enqueue({ sensor.eui64(), data, QDateTime::currentSecsSinceEpoch() });
        ++result.sent;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        QThread::usleep(5000);
    }
    QObject::disconnect(batches);
    return result;
}

bool Bench::run()
{
    QTemporaryDir work;
    if (!work.isValid() || !QDir(work.path()).mkdir(QStringLiteral("data")) || !QDir::setCurrent(work.path())) {
        std::fprintf(stderr, "no working folder\n");
        return false;
    }
    if (type == 1) {
        QString error;
        QElapsedTimer start;
        start.start();
        if (!server.start(&error) || !server.createDatabase(QStringLiteral("bench"), &error)) {
            std::fprintf(stderr, "MariaDB: %s\n", qPrintable(error));
            return false;
        }
        std::printf("private MariaDB server on port %d, up in %.1f s\n", server.port(), start.elapsed() / 1000.0);
    }
    std::printf("database: %s\n\n", type == 1 ? "MySQL (MariaDB through unixODBC)" : "SQLite (WAL)");

    AppState state;
    // Nothing is old yet while the first measurements are stored.
    state.DaysSave = 730;
    bool ok = true;
    {
        auto module = std::make_unique<TimedModule>();
        if (!open(module.get()))
            return false;
        // Sensors come into the registry as the program adds them when they first report.
        for (int i = 0; i < settings.sensors; ++i) {
            fleet.append(SimulatedSensor(i, &random));
            RegistryWriter::insertSensor(module->writer, fleet.last().eui64(), QStringLiteral("Датчик %1").arg(i + 1),
                0, 60, QDate::currentDate());
        }
        roundTrip(module.get());
        while (module->writer->queueLength() > 0)
            QThread::msleep(10);
        ok = storePhase("store, empty table", module.get()) && ok;
        if (!fill(module.get()))
            return false;
        ok = purgePhase(module.get()) && ok;
        ok = storePhase("store, after the fill", module.get()) && ok;
        module->slotStopModule();
    }
    // Start-up on the large table: schema check, the purge at open and the registry load.
    const auto forgetRegistry = [&state] {
        qDeleteAll(state.sensors);
        qDeleteAll(state.locations);
        state.sensors.clear();
        state.locations.clear();
    };
    const qint64 total = [&] {
        forgetRegistry();
        QElapsedTimer clock;
        clock.start();
        TimedModule module;
        if (!open(&module))
            return qint64(-1);
        const double seconds = clock.nsecsElapsed() / 1e9;
        const qint64 rows = scalar(module.db, QStringLiteral("SELECT COUNT(*) FROM measure"));
        std::printf("%-34s %8lld rows, %d sensors: %.3f s\n", "open (init) on the filled table", rows,
            int(state.sensors.size()), seconds);
        module.slotStopModule();
        return rows;
    }();
    forgetRegistry();
    if (total < 0)
        ok = false;
    QDir::setCurrent(QDir::tempPath());
    return ok;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QCommandLineParser cli;
    cli.setApplicationDescription(QStringLiteral("Measurements stored per second and the purge of expired rows."));
    cli.addHelpOption();
    cli.addOption({ "mysql", "Use a private MariaDB server through ODBC instead of SQLite." });
    cli.addOption({ "measurements", "Measurements handed over (each phase).", "N", "200000" });
    cli.addOption({ "sensors", "Registered sensors the measurements come from.", "S", "50" });
    cli.addOption({ "rows", "Rows in measure before the purge.", "R", "10000000" });
    cli.addOption({ "expired", "Of those, rows older than the retention.", "X", "1000000" });
    cli.addOption({ "interval",
        "Seconds between two readings of a sensor in that history (10 or more; fewer "
        "sensors report more often).",
        "I", "60" });
    cli.process(app);

    Settings s;
    s.mysql = cli.isSet("mysql");
    s.measurements = std::max(1, cli.value("measurements").toInt());
    s.sensors = std::max(1, cli.value("sensors").toInt());
    s.rows = std::max<qint64>(0, cli.value("rows").toLongLong());
    s.expired = qBound<qint64>(0, cli.value("expired").toLongLong(), s.rows);
    s.interval = std::max(10, cli.value("interval").toInt());

    const bool ok = Bench(s).run();
    std::printf("%s\n", ok ? "all figures checked" : "SOME FIGURES FAILED THEIR CHECK");
    return ok ? 0 : 1;
}
