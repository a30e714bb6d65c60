// Intake benchmark: sensor messages from a modem on a pseudo-terminal, through the modem
// module, the intake and the database writer into SQLite, and back to the line as replies,
// with the main window attached and refreshed after every committed batch as the program does.
//   bench_intake [--sensors N] [--messages M] [--rate per-second] [--burst K]
// Reports the time from a message leaving the modem to its reply arriving there (median,
// 99th percentile) at the given rate, once with the database free and once while another
// process holds its write lock, and the measurements handed over and stored per second when
// the intake runs flat out.
#include <QCommandLineParser>
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QHash>
#include <QProcess>
#include <QRandomGenerator>
#include <QSettings>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <cstdio>

#include "bench/percentile.h"
#include "app/appstate.h"
#include "bench/common/modemprobe.h"
#include "bench/common/modemroad.h"
#include "storage/databasewriter.h"
#include "storage/sqlbasemodule.h"
#include "ui/mainwindow.h"
#include "tools/modemsim/simulatedsensor.h"

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QCommandLineParser cli;
    cli.addHelpOption();
    cli.addOption({ "sensors", "Simulated sensors.", "N", "50" });
    cli.addOption({ "messages", "Messages over the modem line.", "M", "2000" });
    cli.addOption({ "rate", "Messages per second over the line.", "R", "200" });
    cli.addOption({ "burst", "Measurements for the flat-out run.", "K", "20000" });
    cli.process(app);
    const int sensors = cli.value("sensors").toInt();
    const int messages = cli.value("messages").toInt();
    const int rate = std::max(1, cli.value("rate").toInt());
    const int burst = cli.value("burst").toInt();

    QTemporaryDir dir;
    QDir::setCurrent(dir.path());
    QDir().mkdir(QStringLiteral("data"));

    AppState state;
    state.BreakInterval = 120;
    state.MaxTableRows = 500;
    state.DaysSave = 365;
    state.viewSettings = new QSettings(QStringLiteral("data/view.conf"), QSettings::IniFormat);
    SQLBaseModule sql;
    state.followDatabase(sql);
    sql.init(0, QString(), QString(), QString(), QString(), 0);
    // The main window as the program shows it, refreshed once per committed batch.
    MainWindow window;
    window.show();
    QObject::connect(sql.writer, &DatabaseWriter::batchCommitted, &window, [&window] {
        if (window.refreshOnArrival)
            window.slotRefresh();
    });
    // The modem end runs in a thread of its own, like the hardware would.
    ModemProbe probe;
    ModemRoad road(state, *sql.writer);
    if (!probe.open() || !road.start(state, probe)) {
        std::fprintf(stderr, "the modem's start-up script did not run\n");
        return 1;
    }
    SensorIntake& intake = road.intake;

    QRandomGenerator random(7);
    QVector<SimulatedSensor> simulated;
    for (int i = 0; i < sensors; ++i)
        simulated.append(SimulatedSensor(i, &random));
    int sent = 0; // in the peer's thread
    auto tick = [&] {
        if (sent >= messages)
            return;
        SimulatedSensor& s = simulated[sent % sensors];
        probe.send(s.eui64(), s.nextPayload());
        ++sent;
    };

    // One run over the line; with `locked`, another process holds the write lock throughout.
    auto line = [&](bool locked) {
        QProcess holder;
        if (locked) {
            holder.start(QStringLiteral("/usr/bin/python3"),
                { QStringLiteral("-c"),
                    QStringLiteral("import sqlite3, sys\ncon = sqlite3.connect(sys.argv[1], isolation_level=None)\n"
                                   "con.execute('BEGIN IMMEDIATE')\nprint('locked', flush=True)\n"
                                   "sys.stdin.read()\ncon.execute('ROLLBACK')\n"),
                    QStringLiteral("data/measurement.db3") });
            holder.waitForReadyRead(20000);
        }
        probe.run([&] { sent = 0; });
        probe.takeLatencies();
        const int storedBefore = road.stored;
        probe.startTicking(std::max(1, 1000 / rate), tick);
        QElapsedTimer clock;
        clock.start();
        while (road.stored - storedBefore < messages && clock.elapsed() < 120000)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
        const qint64 until = clock.elapsed() + 200;
        while (clock.elapsed() < until)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
        probe.stopTicking();
        const int queued = sql.writer->queueLength();
        if (locked) {
            holder.closeWriteChannel();
            holder.waitForFinished(20000);
        }
        QElapsedTimer drain;
        drain.start();
        while (sql.writer->queueLength() > 0)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        const QVector<double> copy = probe.takeLatencies();
        std::printf("line%s: %d messages from %d sensors at %d/s, %d handed over, %d replies; %d queued at the end, "
                    "stored %.2f s later\n",
            locked ? " (write lock held by another process)" : "", messages, sensors, rate, road.stored - storedBefore,
            copy.size(), queued, drain.elapsed() / 1000.0);
        std::printf("  message to reply on the line: median %.2f ms, p99 %.2f ms, max %.2f ms  %s\n",
            percentile(copy, 0.5), percentile(copy, 0.99), percentile(copy, 1.0),
            percentile(copy, 0.99) < 5 ? "ok (p99 < 5 ms)" : "p99 OVER 5 ms");
    };
    line(false);
    line(true);
    std::printf("  main window refreshes: %d\n", window.refreshes);
    road.stop();
    // Flat out: the intake alone, the writer storing behind it.
    const int before = road.stored;
    QElapsedTimer flat;
    flat.start();
    for (int i = 0; i < burst; ++i) {
        SimulatedSensor& s = simulated[i % sensors];
        intake.modemCast(QStringLiteral("UCAST"), s.eui64(), s.nextPayload());
    }
    const double seconds = flat.nsecsElapsed() / 1e9;
    while (sql.writer->queueLength() > 0)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    const double storedSeconds = flat.nsecsElapsed() / 1e9;
    QSqlQuery q(QStringLiteral("SELECT COUNT(*) FROM measure"));
    q.next();
    std::printf("flat out: %d measurements handed over in %.2f s = %.0f per second, stored in %.2f s = %.0f per "
                "second (%lld rows in measure)\n",
        road.stored - before, seconds, (road.stored - before) / seconds, storedSeconds,
        (road.stored - before) / storedSeconds, q.value(0).toLongLong());
    sql.slotStopModule();
    delete state.viewSettings;
    state.viewSettings = nullptr;
    return 0;
}
