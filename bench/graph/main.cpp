// Graph benchmark: a year of one-minute samples of one sensor in SQLite, loaded and drawn by
// the graph widget.
//   bench_graph [--samples N] [--step seconds] [--others K] [--db cache.db3] [--size WxH] [--redraws R]
//               [--png file] [--arrivals A]
// K other sensors report at the same instants, their rows interleaved with the shown sensor's as
// the program stores them (19 give a table of 10 M rows for a year). The filled database is
// copied to the cache file, and taken from it when the file exists.
// Reports the time to read the samples from the database, a whole refresh as the user gets it
// (reload and redraw in the loading thread until the chart shows, and the GUI thread's part of
// it), and one full redraw of the chart on a resize (median and worst of R), plus what the
// curves were reduced to and the peak resident memory before and after the loads. Then the
// loader's own time per refresh after A new rows arrived (the period sliding on by as much),
// beside a whole load of the same period in the same run.
#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QEventLoop>
#include <QTimer>
#include <QTemporaryDir>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <ctime>

#include "bench/peakmemory.h"
#include "app/appstate.h"
#include "storage/sqlbasemodule.h"
#include "ui/graphcurve.h"
#include "storage/graphquery.h"
#include "ui/graphloader.h"
#include "ui/graphwidget.h"

namespace
{

const char* const kSensor = "000D6F00000BE4C1";

double median(QVector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.isEmpty() ? 0 : v[v.size() / 2];
}

double ms(const QElapsedTimer& t)
{
    return t.nsecsElapsed() / 1e6;
}

double threadCpuMs()
{
    timespec ts {};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return ts.tv_sec * 1e3 + ts.tv_nsec / 1e6;
}

// A year of a room: a daily swing, a slow seasonal drift, sensor noise, now and then a NULL
// humidity and an hour of silence.
// The other sensors follow the same course, shifted a little each.
// Returns the last sample's time, or -1 when the database refused the rows.
qint64 fill(qint64 start, int samples, int step, int others)
{
    QSqlDatabase db = QSqlDatabase::database();
    QSqlQuery q;
    for (int k = 0; k <= others; ++k) {
        const QString eui
            = k ? QStringLiteral("000D6F0000%1").arg(k, 6, 16, QLatin1Char('0')).toUpper() : QLatin1String(kSensor);
        if (!q.exec(QStringLiteral("INSERT INTO sensors (id, EUI64, name, location, datecheck) VALUES "
                                   "(%1, '%2', 'Склад %1', 0, '2026.01.01')")
                        .arg(k + 1)
                        .arg(eui)))
            return -1;
    }
    db.transaction();
    q.prepare(QStringLiteral(
        "INSERT INTO measure (sensor_id, timemeasure, temperature, wetness, battery) VALUES (?, ?, ?, ?, 3.0)"));
    quint32 noise = 1;
    qint64 t = start;
    for (int i = 0; i < samples; ++i) {
        t += (i % 10007 == 0) ? 3600 : step;
        for (int k = 0; k <= others; ++k) {
            noise = noise * 1664525u + 1013904223u;
            const double jitter = double(noise >> 8) / double(1 << 24) - 0.5;
            const double day = 2 * M_PI * double(t % 86400) / 86400 + k;
            const double season = 2 * M_PI * double(t - start) / (365.0 * 86400);
            q.addBindValue(k + 1);
            q.addBindValue(t);
            q.addBindValue(18 + 4 * std::sin(day) + 6 * std::sin(season) + jitter);
            q.addBindValue(i % 997 == 0 ? QVariant() : QVariant(65 + 10 * std::cos(day) + 3 * jitter));
            if (!q.exec())
                return -1;
        }
    }
    return db.commit() ? t : -1;
}

// The last instant of the cached database's shown sensor; -1 when it has none.
qint64 lastCached()
{
    QSqlQuery q;
    if (!q.exec(QStringLiteral("SELECT MAX(timemeasure) FROM measure WHERE sensor_id=1")) || !q.next()
        || q.value(0).isNull())
        return -1;
    return q.value(0).toLongLong();
}

// A whole load of `request` by a loader of its own, and its time.
double wholeLoad(const GraphRequest& request)
{
    GraphLoader loader;
    QElapsedTimer timer;
    timer.start();
    loader.load(1, request);
    const double took = ms(timer);
    loader.close();
    return took;
}

// `count` new rows of the shown sensor, `step` apart after `last`, in one batch as the writer
// stores them; the new last instant, or -1.
qint64 arrive(qint64 last, int count, int step)
{
    QSqlDatabase db = QSqlDatabase::database();
    QSqlQuery q;
    db.transaction();
    q.prepare(QStringLiteral(
        "INSERT INTO measure (sensor_id, timemeasure, temperature, wetness, battery) VALUES (1, ?, ?, 60, 3.0)"));
    for (int i = 0; i < count; ++i) {
        last += step;
        q.addBindValue(last);
        q.addBindValue(18 + (i % 7) * 0.1);
        if (!q.exec())
            return -1;
    }
    return db.commit() ? last : -1;
}

// The loader's refreshes after new rows arrive, each beside a whole load of the same period.
bool refreshesAfterArrivals(
    const AppState& state, qint64 first, qint64 last, int step, int arrivals, int width, int height)
{
    GraphLoader loader;
    GraphRequest request;
    request.eui64 = QLatin1String(kSensor);
    request.chart.readConfig(state, nullptr);
    request.chart.width = width;
    request.chart.height = height;
    request.fromMs = first * 1000;
    request.toMs = last * 1000;
    loader.load(1, request);
    QVector<double> refreshes;
    QVector<double> wholes;
    for (int i = 0; i < 3; ++i) {
        last = arrive(last, arrivals, step);
        if (last < 0)
            return false;
        request.fromMs += qint64(arrivals) * step * 1000;
        request.toMs = last * 1000;
        QElapsedTimer timer;
        timer.start();
        loader.load(2 + i, request);
        refreshes << ms(timer);
        wholes << wholeLoad(request);
    }
    std::printf("loader refresh after %d new rows: median %.1f ms, whole load of the period %.1f ms (ratio %.4f, "
                "of 3); %d whole loads, %d updates\n",
        arrivals, median(refreshes), median(wholes), median(refreshes) / median(wholes), loader.wholeLoads,
        loader.updates);
    loader.close();
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QCommandLineParser cli;
    cli.addHelpOption();
    cli.addOption({ "samples", "Samples of the sensor.", "N", "525600" });
    cli.addOption({ "step", "Seconds between samples.", "S", "60" });
    cli.addOption({ "others", "Other sensors reporting at the same instants.", "K", "0" });
    cli.addOption({ "db", "Database file to take the rows from, filled first when missing.", "file" });
    cli.addOption({ "size", "Widget size.", "WxH", "1600x900" });
    cli.addOption({ "redraws", "Full redraws timed.", "R", "20" });
    cli.addOption({ "png", "Also save the drawn chart to this file, to look at.", "file" });
    cli.addOption({ "arrivals", "Rows arriving before each loader refresh timed (0: none timed).", "A", "60" });
    cli.process(app);
    const int samples = cli.value("samples").toInt();
    const int step = std::max(1, cli.value("step").toInt());
    const int others = std::max(0, cli.value("others").toInt());
    const QString cache = cli.isSet("db") ? QFileInfo(cli.value("db")).absoluteFilePath() : QString();
    const QStringList size = cli.value("size").split('x');
    const int width = size.value(0).toInt();
    const int height = size.value(1).toInt();
    const int redraws = std::max(1, cli.value("redraws").toInt());
    const QString pngFile = QFileInfo(cli.value("png")).absoluteFilePath();

    QTemporaryDir dir;
    if (!dir.isValid())
        return 1;
    QDir::setCurrent(dir.path());
    QDir().mkdir(QStringLiteral("data"));
    const bool cached = !cache.isEmpty() && QFile::exists(cache);
    if (cached && !QFile::copy(cache, QStringLiteral("data/measurement.db3")))
        return 1;
    AppState state;
    state.loadConfig();
    SQLBaseModule sql;
    state.followDatabase(sql);
    sql.init(0, QString(), QString(), QString(), QString(), 0);
    const qint64 start = QDateTime(QDate(2025, 1, 1), QTime(0, 0)).toSecsSinceEpoch();

    QElapsedTimer timer;
    timer.start();
    const qint64 last = cached ? lastCached() : fill(start, samples, step, others);
    if (last < 0) {
        std::fprintf(stderr, "filling the database failed\n");
        return 1;
    }
    if (!cached) {
        std::printf("filled %d samples of %d sensors in %.0f ms\n", samples, others + 1, ms(timer));
        if (!cache.isEmpty()) {
            QSqlQuery checkpoint(QStringLiteral("PRAGMA wal_checkpoint(TRUNCATE)"));
            if (!QFile::copy(QStringLiteral("data/measurement.db3"), cache))
                std::fprintf(stderr, "cannot keep the database in %s\n", qPrintable(cache));
        }
    }
    const QDateTime from = QDateTime::fromSecsSinceEpoch(start);
    const QDateTime to = QDateTime::fromSecsSinceEpoch(last);

    const long filledKiB = peakKiB();
    GraphWidget widget;
    widget.resize(width, height);
    // Shown, so that each redraw also pays for the paint that copies the chart to the screen.
    widget.show();
    QCoreApplication::processEvents();
    // A refresh: the reload and its redraw in the loading thread, until the chart shows.
    QVector<double> refreshes;
    QVector<double> guiParts;
    for (int i = 0; i < 5; ++i) {
        QEventLoop shown;
        QObject::connect(&widget, &GraphWidget::measuresLoaded, &shown, &QEventLoop::quit);
        QTimer::singleShot(60000, &shown, [&shown] { shown.exit(1); });
        timer.restart();
        const double gui = threadCpuMs();
        widget.loadMeasures(QLatin1String(kSensor), from, to);
        if (shown.exec() != 0)
            return 1;
        refreshes << ms(timer);
        guiParts << threadCpuMs() - gui;
    }

    const long shownKiB = peakKiB();

    // Reading alone, every sample held (as a whole load below the loader's cap does).
    QVector<double> reads;
    int loaded = 0;
    for (int i = 0; i < 3; ++i) {
        timer.restart();
        loaded = GraphQuery::load(QLatin1String(kSensor), from.toSecsSinceEpoch(), to.toSecsSinceEpoch()).size();
        reads << ms(timer);
    }

    QVector<double> draws;
    for (int i = 0; i < redraws; ++i) {
        timer.restart();
        widget.drawChart();
        draws << ms(timer);
    }
    // The part of a redraw spent reducing the curves, before any painting.
    timer.restart();
    const GraphCurve t = GraphCurve::build(widget.measures(), GraphPane::Temperature, widget.model());
    const GraphCurve h = GraphCurve::build(widget.measures(), GraphPane::Wetness, widget.model());
    const double reduce = ms(timer);

    std::printf("widget %dx%d, %d samples loaded%s\n", width, height, loaded,
        widget.measures().isEmpty() ? ", reduced while read (a redraw for another size reads again)" : "");
    std::printf("read from SQLite: median %.1f ms (of 3)\n", median(reads));
    std::printf("first load (whole, until shown): %.1f ms\n", refreshes.first());
    std::printf("refresh (reload + redraw until shown): median %.1f ms (of 5), GUI thread busy %.1f ms of it\n",
        median(refreshes), median(guiParts));
    std::printf("full redraw: median %.1f ms, worst %.1f ms (of %d)\n", median(draws),
        *std::max_element(draws.begin(), draws.end()), redraws);
    std::printf("  of which reducing both curves: %.1f ms\n", reduce);
    std::printf("drawn: temperature %d segments %d marks, humidity %d segments %d marks\n", t.lines.size(),
        t.marks.size(), h.lines.size(), h.marks.size());
    std::printf("peak resident memory: %.0f MiB after filling, %.0f MiB after the graph's refreshes and redraws, "
                "%.0f MiB after reading alone\n",
        filledKiB / 1024.0, shownKiB / 1024.0, peakKiB() / 1024.0);
    if (cli.isSet("png")) {
        widget.setSaveFileNameQuestion([&](QWidget*) { return pngFile; });
        widget.slotSaveToPng();
    }
    const int arrivals = cli.value("arrivals").toInt();
    if (arrivals > 0 && !refreshesAfterArrivals(state, from.toSecsSinceEpoch(), last, step, arrivals, width, height)) {
        std::fprintf(stderr, "storing the new rows failed\n");
        return 1;
    }
    sql.slotStopModule();
    return loaded == samples || cached ? 0 : 1;
}
