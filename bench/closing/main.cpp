// Close benchmark: how long the main window and the report thread hold a close back while a
// long load of a year of measurements runs, next to how long that load takes when let be.
//   bench_closing [--dir folder] [--sensors N] [--days D]
// The SQLite database stays in the folder between runs (data/measurement.db3) and is made again
// when its newest reading is more than a day old.
#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <QElapsedTimer>
#include <QHeaderView>
#include <QLoggingCategory>
#include <QSqlQuery>
#include <QThread>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>

#include "app/appstate.h"
#include "dialogs/reportrunner.h"
#include "storage/sqlbasemodule.h"
#include "tools/datagen/datagenerator.h"
#include "ui/graphwidget.h"
#include "ui/mainwindow.h"
#include "ui_mainwindow.h"

namespace
{

constexpr int kYear = 17; // "1 год" among the relative filters

void wait(int ms)
{
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < ms)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
}

// Time from asking for `tab` over a year until the window has it, and time to delete the
// window while that load is under way (a quarter of its length, at most half a second, in).
void window(const char* title, int tab, const std::function<void(MainWindow&)>& prepare)
{
    double loadMs = 0;
    double closeMs = 0;
    for (int close = 0; close < 2; ++close) {
        auto* w = new MainWindow;
        prepare(*w);
        w->ui->comboLast->setCurrentIndex(kYear);
        w->ui->tabWidget->setCurrentIndex(tab);
        w->slotRefresh();
        QElapsedTimer t;
        t.start();
        do
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        while (!w->loading());
        if (close)
            wait(int(qMin(500.0, loadMs / 4)));
        else
            while (w->loading())
                QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        if (!close)
            loadMs = t.nsecsElapsed() / 1e6;
        t.restart();
        delete w;
        if (close)
            closeMs = t.nsecsElapsed() / 1e6;
    }
    std::printf("%-40s %10.0f %12.0f\n", title, loadMs, closeMs);
}

// Time of a whole report run, and the close's wait for it half a second into a run and once
// only the workbook's save is left.
void report(const char* title, const ReportRequest& request, const QString& folder)
{
    double ms[3] = {};
    for (int run = 0; run < 3; ++run) {
        auto* thread = new QThread;
        auto* runner = new ReportRunner(request, folder);
        runner->moveToThread(thread);
        std::atomic<bool> ended { false };
        std::atomic<bool> saving { false };
        // The last workbook's write is the part a cancel cannot stop.
        const QString last = request.measureData ? ReportRunner::measureDataFile() : ReportRunner::dailyFile();
        QObject::connect(thread, &QThread::started, runner, &ReportRunner::start);
        QObject::connect(runner, &ReportRunner::finished, [&ended] { ended = true; });
        QObject::connect(runner, &ReportRunner::writingWorkbook, [&saving, last](const QString& file) {
            if (file.endsWith(last))
                saving = true;
        });
        QElapsedTimer t;
        t.start();
        thread->start();
        if (run == 1)
            wait(500);
        while (!ended && (run == 0 || (run == 2 && !saving)))
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        if (run == 0)
            ms[0] = t.nsecsElapsed() / 1e6;
        t.restart();
        // What the report dialog does when the program closes under it.
        const bool stopped = ReportRunner::stopForClose(thread, runner);
        if (run > 0)
            ms[run] = t.nsecsElapsed() / 1e6;
        if (!stopped) {
            // Left to finish in its thread; the benchmark ends as the program does.
            std::printf("%-40s %10.0f %12.0f %12.0f (left saving)\n", title, ms[0], ms[1], ms[2]);
            std::_Exit(0);
        }
        runner->disconnect();
        delete runner;
        delete thread;
    }
    std::printf("%-40s %10.0f %12.0f %12.0f\n", title, ms[0], ms[1], ms[2]);
}

} // namespace

int main(int argc, char** argv)
{
    // The figures are the loads' and the close's, not the painting's: no display is needed.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    // The window writes every summary statement to the debug log; the figures are what counts.
    QLoggingCategory::setFilterRules(QStringLiteral("*.debug=false"));
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    QCommandLineParser cli;
    cli.addHelpOption();
    cli.addOption(
        { "dir", "Working folder kept between runs.", "folder", QDir::tempPath() + "/ostrivel-bench-closing" });
    cli.addOption({ "sensors", "Sensors of a new database.", "N", "20" });
    cli.addOption({ "days", "Days of one-minute readings of a new database.", "D", "365" });
    cli.process(app);
    const QString folder = cli.value("dir");
    QDir().mkpath(folder + "/data");
    QDir::setCurrent(folder);

    AppState state;
    state.MaxTableRows = 500;
    state.BreakInterval = 120;
    state.DaysSave = 3650;
    auto sql = std::make_unique<SQLBaseModule>();
    state.followDatabase(*sql);
    sql->init(0, QString(), QString(), QString(), QString(), 0);
    const qint64 now = QDateTime::currentSecsSinceEpoch();
    QSqlQuery newest(QStringLiteral("SELECT MAX(timemeasure) FROM measure"));
    if (!newest.next() || newest.value(0).toLongLong() < now - 86400) {
        newest.finish();
        sql.reset();
        QFile::remove(QStringLiteral("data/measurement.db3"));
        sql = std::make_unique<SQLBaseModule>();
        state.followDatabase(*sql);
        sql->init(0, QString(), QString(), QString(), QString(), 0);
        DataGenerator::Options options;
        options.sensors = cli.value("sensors").toInt();
        options.days = cli.value("days").toInt();
        options.end = now;
        DataGenerator generator(sql->db, options);
        QString error;
        if (!generator.run(&error)) {
            std::fprintf(stderr, "data generation failed: %s\n", qPrintable(error));
            return 1;
        }
        // The summaries read the aggregates, which the module builds when it opens.
        sql.reset();
        sql = std::make_unique<SQLBaseModule>();
        state.followDatabase(*sql);
        sql->init(0, QString(), QString(), QString(), QString(), 0);
    }
    newest.finish();
    QSqlQuery count(QStringLiteral("SELECT COUNT(*) FROM measure"));
    count.next();
    std::printf("SQLite: %lld readings of %d sensors\n\n%-40s %10s %12s %12s\n", count.value(0).toLongLong(),
        int(state.sensors.size()), "load over a year", "whole ms", "close ms", "saving ms");
    count.finish();

    window("measurement tab, sorted by temperature", 1,
        [](MainWindow& w) { w.ui->tableViewTable->horizontalHeader()->setSortIndicator(2, Qt::AscendingOrder); });
    window("summary tab, aggregates not built yet", 0, [&state](MainWindow&) { state.aggregatesReady = false; });
    state.aggregatesReady = true;
    window("graph tab, one sensor", 2, [&state](MainWindow& w) { w.currentEUI64 = state.sensors.first()->EUI64; });

    ReportRequest request;
    request.end = QDateTime::currentDateTime();
    request.start = request.end.addDays(-365);
    for (const Sensor* s : state.sensors) {
        request.sensors.append({ s->EUI64, s->name, s->location, s->datecheck, true, ReportThresholds(8, 0.0) });
        request.sensorRows.append({ s->name, true });
    }
    for (const Location* l : state.locations)
        request.locationRows.append({ l->name, true });
    request.globalThresholds = ReportThresholds(8, 0.0);
    const QString reports = folder + "/reports";
    ReportRequest rooms = request;
    rooms.rooms = rooms.daily = true;
    report("report: rooms and daily", rooms, reports);
    ReportRequest data = request;
    data.measureData = true;
    report("report: measurement data", data, reports);
    return 0;
}
