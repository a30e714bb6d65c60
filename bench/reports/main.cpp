// Report benchmark: a generated database (by default 30 sensors, one reading a minute for a
// year), the three workbooks for every sensor over the last month and over the whole year.
// Prints the time of each workbook, the growth of the peak memory while the measurement-data
// workbook streams, and the longest stall of the GUI thread's event loop while the dialog's run
// goes on in its own thread.
//   bench_reports [--sensors N] [--days D] [--scale-only]
#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>

#include "app/appstate.h"
#include "dialogs/prompt.h"
#include "bench/peakmemory.h"
#include "dialogs/dialogreport.h"
#include "dialogs/reportrunner.h"
#include "storage/sqlbasemodule.h"
#include "ui_dialogreport.h"

namespace
{

class QuietPrompt : public Prompt
{
public:
    bool question(const QString&) override { return true; }
    void critical(const QString& title, const QString& text) override { last = title + QStringLiteral(": ") + text; }
    void warning(const QString& title, const QString& text) override { last = title + QStringLiteral(": ") + text; }
    void information(const QString& title, const QString& text) override { last = title + QStringLiteral(": ") + text; }
    QString last;
};

// Every location and sensor of the registry chosen, over [end - days, end].
ReportRequest everything(const AppState& state, const QDateTime& end, int days, bool rooms, bool daily, bool data)
{
    ReportRequest r;
    r.rooms = rooms;
    r.daily = daily;
    r.measureData = data;
    r.end = end;
    r.start = end.addDays(-days);
    for (const Location* l : state.locations)
        r.locationRows.append({ l->name, true });
    for (const Sensor* s : state.sensors) {
        r.sensorRows.append({ reportSensorRowText(s->name, state.locationName(s->location), s->EUI64), true });
        r.sensors.append({ s->EUI64, s->name, s->location, s->datecheck, s->isEnabled, ReportThresholds(8, 0.0) });
    }
    r.globalThresholds = { 5, 10, 25, 30, 60, 70, 98, 99 };
    return r;
}

double timed(const ReportRequest& request, const QString& folder)
{
    ReportRunner runner(request, folder);
    QElapsedTimer t;
    t.start();
    const ReportOutcome outcome = runner.run();
    if (!outcome.failures.isEmpty())
        std::fprintf(stderr, "report failed: %s\n", qPrintable(outcome.failures.first().reason));
    return t.elapsed() / 1000.0;
}

// The bar's reading at each tenth of a run's time: a scale that follows the work reads about
// the share of the time gone. Also the longest time the bar stood still before the run ended.
void progressScale(const ReportRequest& request, const QString& folder)
{
    ReportRunner runner(request, folder);
    QVector<QPair<qint64, int>> trace;
    QElapsedTimer t;
    QObject::connect(&runner, &ReportRunner::progress, [&](int done) { trace.append({ t.nsecsElapsed(), done }); });
    t.start();
    runner.run();
    const qint64 total = t.nsecsElapsed();
    std::printf("progress bar at 10%%..90%% of the run's %.2f s:", total / 1e9);
    for (int tenth = 1; tenth < 10; ++tenth) {
        int shown = 0;
        for (const auto& point : qAsConst(trace)) {
            if (point.first <= total * tenth / 10)
                shown = point.second;
        }
        std::printf(" %.0f%%", 100.0 * shown / qMax(1, runner.steps()));
    }
    qint64 still = 0;
    int stillAt = 0;
    QPair<qint64, int> moved { 0, 0 };
    trace.append({ total, runner.steps() });
    for (const auto& point : qAsConst(trace)) {
        if (point.first - moved.first > still) {
            still = point.first - moved.first;
            stillAt = moved.second;
        }
        moved = point;
    }
    std::printf("; longest still %.1f s, at %.0f%%\n", still / 1e9, 100.0 * stillAt / qMax(1, runner.steps()));
    std::fflush(stdout);
}

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QCommandLineParser cli;
    cli.addHelpOption();
    cli.addOption({ "sensors", "Sensors.", "N", "30" });
    cli.addOption({ "days", "Days of one-minute readings.", "D", "365" });
    cli.addOption({ "scale-only", "Only the progress scale." });
    cli.process(app);
    const int days = cli.value("days").toInt();

    QTemporaryDir dir;
    const qint64 end = QDateTime::currentSecsSinceEpoch();
    QProcess generator;
    generator.setProcessChannelMode(QProcess::ForwardedChannels);
    generator.start(QStringLiteral(DATAGEN_PATH),
        { QStringLiteral("--dir"), dir.path(), QStringLiteral("-n"), cli.value("sensors"), QStringLiteral("-m"),
            QStringLiteral("4"), QStringLiteral("-d"), cli.value("days"), QStringLiteral("--end"),
            QString::number(end) });
    if (!generator.waitForFinished(-1) || generator.exitCode() != 0) {
        std::fprintf(stderr, "data generation failed\n");
        return 1;
    }
    QDir::setCurrent(dir.path());
    QuietPrompt quiet;
    setPrompt(&quiet);
    AppState state;
    state.DaysSave = days + 1;
    SQLBaseModule sql;
    state.followDatabase(sql);
    sql.init(0, QString(), QString(), QString(), QString(), 0);
    const QDateTime last = QDateTime::fromSecsSinceEpoch(end);

    for (int span : { 30, days }) {
        std::printf("%d days, all three workbooks: ", span);
        progressScale(everything(state, last, span, true, true, true), QStringLiteral("reports-scale"));
        std::printf("%d days, measurement data only: ", span);
        progressScale(everything(state, last, span, false, false, true), QStringLiteral("reports-scale"));
    }
    if (cli.isSet("scale-only"))
        return 0;

    for (int span : { 30, days }) {
        const QString folder = QStringLiteral("reports-%1").arg(span);
        const long before = peakKiB();
        const double data = timed(everything(state, last, span, false, false, true), folder);
        const long after = peakKiB();
        const double rooms = timed(everything(state, last, span, true, false, false), folder);
        const double daily = timed(everything(state, last, span, false, true, false), folder);
        // The dialog's run reads once for both.
        const double both = timed(everything(state, last, span, true, true, false), folder);
        std::printf("%d days, %d sensors: rooms %.2f s, daily %.2f s, both in one run %.2f s; measurement data %.2f s, "
                    "%.0f MB, peak memory %ld -> %ld KiB (+%ld KiB)\n",
            span, int(state.sensors.size()), rooms, daily, both, data,
            QFileInfo(folder + QStringLiteral("/reportSensorsMeasureData.xlsx")).size() / 1e6, before, after,
            after - before);
        std::fflush(stdout);
    }

    // The dialog's own run, all three workbooks over the whole period, while a 5 ms timer on
    // the GUI thread records the longest gap between its ticks.
    DialogReport dialog;
    dialog.show();
    dialog.hide();
    dialog.ui->dateTimeEnd->setDateTime(last);
    dialog.ui->dateTimeStart->setDateTime(last.addDays(-days));
    dialog.reportsFolder = QStringLiteral("reports-dialog");
    QElapsedTimer clock;
    qint64 previous = 0;
    qint64 longest = 0;
    qint64 longestAt = 0;
    int over50 = 0;
    QTimer probe;
    probe.setInterval(5);
    QObject::connect(&probe, &QTimer::timeout, [&] {
        const qint64 now = clock.elapsed();
        if (now - previous > 50)
            ++over50;
        if (now - previous > longest) {
            longest = now - previous;
            longestAt = now;
        }
        previous = now;
    });
    // The same probe with nothing running first: what the machine itself costs.
    clock.start();
    probe.start();
    QEventLoop idle;
    QTimer::singleShot(10000, &idle, &QEventLoop::quit);
    idle.exec();
    std::printf("idle GUI thread over 10 s: longest event-loop stall %lld ms, %d stalls over 50 ms\n", longest, over50);
    longest = longestAt = over50 = 0;

    bool finished = false;
    QObject::connect(&dialog, &DialogReport::signalReportsFinished, [&] { finished = true; });
    clock.restart();
    previous = 0;
    dialog.accept();
    while (!finished)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    std::printf("dialog run, %d days, all three workbooks: %.2f s, longest GUI event-loop stall %lld ms (ending %.2f s "
                "after Ok), %d stalls over 50 ms; closing message \"%s\"\n",
        days, clock.elapsed() / 1000.0, longest, longestAt / 1000.0, over50, qPrintable(quiet.last.left(40)));
    sql.slotStopModule();
    setPrompt(nullptr);
    return 0;
}
