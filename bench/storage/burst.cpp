// Registration burst: new sensors, each registered as the intake does it (its registry insert
// queued on the writer, then its first reading), arriving at a steady rate into the real writer
// on SQLite; beside it, as anchor, the same rate of readings from K sensors already registered.
//   bench_writerburst [--sensors N] [--rate R] [--known K]
// Printed per phase: the transactions committed (a trigger on write_sequence logs each one),
// the largest WAL seen, and how long each hand-over to the writer took.
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDate>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QThread>

#include <cstdio>

#include "app/appstate.h"
#include "bench/percentile.h"
#include "storage/databasewriter.h"
#include "storage/registrywriter.h"
#include "storage/sqlbasemodule.h"

namespace
{

QString eui(int i)
{
    return QStringLiteral("00137A%1").arg(i, 10, 16, QLatin1Char('0')).toUpper();
}

qint64 scalar(const QSqlDatabase& db, const QString& sql)
{
    QSqlQuery q(db);
    if (!q.exec(sql) || !q.next()) {
        std::fprintf(stderr, "query failed: %s [%s]\n", qPrintable(q.lastError().text()), qPrintable(sql));
        return -1;
    }
    return q.value(0).toLongLong();
}

struct Phase {
    const char* title;
    int known; // sensors registered before, that the readings cycle through; 0: each reading a new sensor
};

// One phase on a database of its own: `sensors` readings at `rate` per second; false when a
// figure cannot be trusted (rows or registrations missing).
bool runPhase(const Phase& phase, int sensors, int rate)
{
    QTemporaryDir work;
    if (!work.isValid() || !QDir(work.path()).mkdir(QStringLiteral("data")) || !QDir::setCurrent(work.path()))
        return false;
    AppState state;
    state.DaysSave = 730;
    SQLBaseModule module;
    state.followDatabase(module);
    const auto print = [](const QString& text) { std::fprintf(stderr, "%s\n", qPrintable(text)); };
    QObject::connect(&module, &SQLBaseModule::signalWarning, print);
    QObject::connect(&module, &SQLBaseModule::signalStartFailed, print);
    module.init(0, QString(), QString(), QString(), QString(), 0);
    if (!module.db.isOpen())
        return false;
    DatabaseWriter* writer = module.writer;
    QSqlQuery setup(module.db);
    if (!setup.exec(QStringLiteral("CREATE TABLE bench_commits (seq INTEGER)"))
        || !setup.exec(QStringLiteral("CREATE TRIGGER bench_commit AFTER UPDATE ON write_sequence BEGIN "
                                      "INSERT INTO bench_commits VALUES (new.seq); END"))) {
        std::fprintf(stderr, "no commit log: %s\n", qPrintable(setup.lastError().text()));
        return false;
    }
    for (int i = 0; i < phase.known; ++i)
        writer->enqueueJob(RegistryWriter::insertSensorJob(
            eui(i), QStringLiteral("Датчик %1").arg(i + 1), 0, 60, QDate::currentDate()));
    while (writer->queueLength() > 0)
        QThread::msleep(10);
    const qint64 commitsBefore = scalar(module.db, QStringLiteral("SELECT COUNT(*) FROM bench_commits"));
    const QString wal = QFileInfo(QStringLiteral("data/measurement.db3-wal")).absoluteFilePath();
    // The registrations above leave their WAL until the writer's next checkpoint empties it.
    QElapsedTimer settle;
    settle.start();
    while (QFileInfo(wal).size() > 0 && settle.elapsed() < 30000)
        QThread::msleep(50);

    QVector<double> handOver; // ms: the registration and the reading of one sensor
    handOver.reserve(sensors);
    qint64 walPeak = 0;
    QElapsedTimer clock;
    clock.start();
    const qint64 stepNs = 1000000000LL / rate;
    for (int i = 0; i < sensors; ++i) {
        while (clock.nsecsElapsed() < i * stepNs) {
            walPeak = qMax(walPeak, QFileInfo(wal).size());
            QCoreApplication::processEvents();
            QThread::usleep(500);
        }
        const QString address = eui(phase.known ? i % phase.known : i);
        SensorData data;
        data.hasTemperature = data.hasWetness = data.hasBattery = true;
        data.temperature = 20 + i % 10;
        data.wetness = 40;
        data.battery = 3;
        const qint64 start = clock.nsecsElapsed();
        if (!phase.known)
            writer->enqueueJob(RegistryWriter::insertSensorJob(
                address, QStringLiteral("Датчик %1").arg(i + 1), 0, 60, QDate::currentDate()));
        writer->enqueue({ address, data, QDateTime::currentSecsSinceEpoch() });
        handOver.append((clock.nsecsElapsed() - start) / 1e6);
    }
    while (writer->queueLength() > 0) {
        walPeak = qMax(walPeak, QFileInfo(wal).size());
        QThread::usleep(500);
    }
    const double seconds = clock.nsecsElapsed() / 1e9;
    const qint64 commits = scalar(module.db, QStringLiteral("SELECT COUNT(*) FROM bench_commits")) - commitsBefore;
    const qint64 rows = scalar(module.db, QStringLiteral("SELECT COUNT(*) FROM measure"));
    const qint64 registered = scalar(module.db, QStringLiteral("SELECT COUNT(*) FROM sensors"));
    std::printf("%-28s %6d sensors in %6.2f s: %6lld transactions, WAL peak %7.1f MB, hand-over median %.4f ms, "
                "p99 %.4f ms, max %.3f ms\n",
        phase.title, sensors, seconds, commits, walPeak / 1048576.0, percentile(handOver, 0.5),
        percentile(handOver, 0.99), percentile(handOver, 1.0));
    module.slotStopModule();
    QDir::setCurrent(QDir::tempPath());
    if (rows != sensors || registered != (phase.known ? phase.known : sensors)) {
        std::printf("  FAILED: %lld readings and %lld sensors stored for %d\n", rows, registered, sensors);
        return false;
    }
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QCommandLineParser cli;
    cli.setApplicationDescription(QStringLiteral("New sensors registering at a steady rate, against known ones."));
    cli.addHelpOption();
    cli.addOption({ "sensors", "Readings in each phase; in the burst, each of a new sensor.", "N", "10000" });
    cli.addOption({ "rate", "Readings (and new sensors) per second.", "R", "200" });
    cli.addOption({ "known", "Registered sensors the anchor's readings come from.", "K", "50" });
    cli.process(app);
    const int sensors = qMax(1, cli.value("sensors").toInt());
    const int rate = qMax(1, cli.value("rate").toInt());
    const int known = qMax(1, cli.value("known").toInt());

    bool ok = runPhase({ "known sensors (anchor)", known }, sensors, rate);
    ok = runPhase({ "new sensors (burst)", 0 }, sensors, rate) && ok;
    std::printf("%s\n", ok ? "all figures checked" : "SOME FIGURES FAILED THEIR CHECK");
    return ok ? 0 : 1;
}
