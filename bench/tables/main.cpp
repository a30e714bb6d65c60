// Table refresh benchmark: the main window's summary and measurement tabs over a large
// SQLite database, next to the same statements run by the sqlite3 command-line tool.
//   bench_tables [--dir folder] [--sensors N] [--days D]
// The folder keeps its database between runs (data/measurement.db3), so the data is made once.
#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QRegularExpression>
#include <QSqlDatabase>

#include <cstdio>

#include "app/appstate.h"
#include "storage/sqlbasemodule.h"
#include "ui/mainwindow.h"
#include "ui/tablequeries.h"
#include "ui_mainwindow.h"

namespace {

// The statement with its placeholders written out, for the command-line tool.
QString substituted(QString text, const QStringList& sensors, const QVariantList& bounds)
{
    QStringList values;
    for (const QString& s : sensors)
        values << QLatin1Char('\'') + s + QLatin1Char('\'');
    for (const QVariant& v : bounds)
        values << v.toString();
    for (const QString& v : values)
        text.replace(text.indexOf(QLatin1Char('?')), 1, v);
    return text;
}

// Seconds the tool reports for the statements ("Run Time: real ..."), summed.
double bareSeconds(const QString& file, const QStringList& statements)
{
    QProcess tool;
    tool.start(QStringLiteral("sqlite3"), { QStringLiteral("-cmd"), QStringLiteral(".timer on"), file });
    tool.waitForStarted();
    for (const QString& s : statements)
        tool.write((s + QStringLiteral(";\n")).toUtf8());
    tool.closeWriteChannel();
    tool.waitForFinished(600000);
    double total = 0;
    const QRegularExpression real(QStringLiteral("Run Time: real ([0-9.]+)"));
    auto it = real.globalMatch(QString::fromUtf8(tool.readAllStandardOutput() + tool.readAllStandardError()));
    while (it.hasNext())
        total += it.next().captured(1).toDouble();
    return total;
}

}  // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    QCommandLineParser cli;
    cli.addHelpOption();
    cli.addOption({ "dir", "Working folder kept between runs.", "folder", QDir::tempPath() + "/ostrivel-bench-tables" });
    cli.addOption({ "sensors", "Sensors of a new database.", "N", "100" });
    cli.addOption({ "days", "Days of one-minute readings of a new database.", "D", "70" });
    cli.process(app);
    const QString folder = cli.value("dir");
    QDir().mkpath(folder + "/data");
    QDir::setCurrent(folder);

    AppState state;
    state.MaxTableRows = 500;
    state.BreakInterval = 120;
    state.DaysSave = 3650;  // keep every generated reading through the start-up purge
    const bool fresh = !QFile::exists(QStringLiteral("data/measurement.db3"));
    SQLBaseModule sql;
    sql.init(0, QString(), QString(), QString(), QString(), 0);
    if (fresh) {
        // The data generator fills the file through the program's own schema code.
        sql.slotStopModule();
        QProcess generator;
        generator.setProcessChannelMode(QProcess::ForwardedChannels);
        QElapsedTimer t;
        t.start();
        generator.start(QStringLiteral(DATAGEN_PATH),
            { QStringLiteral("--dir"), folder, QStringLiteral("-n"), cli.value("sensors"), QStringLiteral("-m"),
                QStringLiteral("10"), QStringLiteral("-d"), cli.value("days") });
        if (!generator.waitForFinished(-1) || generator.exitCode() != 0) {
            std::fprintf(stderr, "data generation failed\n");
            return 1;
        }
        std::printf("generated in %.1f s\n", t.elapsed() / 1000.0);
        qDeleteAll(state.sensors);
        state.sensors.clear();
        qDeleteAll(state.locations);
        state.locations.clear();
        sql.init(0, QString(), QString(), QString(), QString(), 0);
    }
    std::printf("%d sensors in %d locations\n", int(state.sensors.size()), int(state.locations.size()));

    MainWindow w;
    QStringList sensors;
    for (const Sensor* s : state.sensors)
        sensors << s->EUI64;
    const char* names[] = { "1 час", "5 суток", "1 год" };
    const int indexes[] = { 4, 10, 17 };
    std::printf("%-10s %-14s %10s %10s %7s %12s\n", "filter", "tab", "window ms", "sqlite3 ms", "ratio", "GUI stall ms");
    for (int f = 0; f < 3; ++f) {
        w.ui->comboLast->setCurrentIndex(indexes[f]);
        for (int tab = 0; tab < 2; ++tab) {
            w.ui->tabWidget->setCurrentIndex(tab);
            // Let the refreshes that the choices themselves start come back first.
            do
                QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
            while (w.loading());
            // Time until the rows are in the window, and the longest the GUI thread went
            // without turning its event loop meanwhile.
            double best = 1e9;
            double stall = 0;
            for (int run = 0; run < 2; ++run) {
                const int before = w.refreshes;
                QElapsedTimer t;
                t.start();
                QElapsedTimer turn;
                turn.start();
                w.slotRefresh();
                while (w.refreshes == before || w.loading()) {
                    QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
                    stall = qMax(stall, turn.nsecsElapsed() / 1e6);
                    turn.restart();
                }
                best = qMin(best, t.nsecsElapsed() / 1e6);
            }
            const QVariantList bounds
                = TableQueries::relativeFilter(QDateTime::currentSecsSinceEpoch(), indexes[f]).values;
            const QString order = TableQueries::orderClause(
                tab == 0 ? TableQueries::Sensors : TableQueries::Measurements, 0, false);
            QStringList statements;
            if (tab == 0) {
                statements << substituted(TableQueries::locationsQuery(0, sensors.size(), w.timeFilter,
                                              TableQueries::orderClause(TableQueries::Locations, 0, false)),
                    sensors, bounds)
                           << substituted(TableQueries::sensorsQuery(0, sensors.size(), w.timeFilter, order), sensors, bounds);
            } else {
                statements << substituted(
                    TableQueries::measurementsQuery(0, sensors.size(), w.timeFilter, order, 0, state.MaxTableRows), sensors,
                    bounds);
            }
            double bare = 1e9;
            for (int run = 0; run < 2; ++run)
                bare = qMin(bare, bareSeconds(QStringLiteral("data/measurement.db3"), statements) * 1000);
            std::printf("%-10s %-14s %10.1f %10.1f %7.2f %12.1f\n", names[f], tab == 0 ? "summary" : "measurements",
                best, bare, bare > 0 ? best / bare : 0.0, stall);
        }
    }
    return 0;
}
