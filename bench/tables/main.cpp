// Table refresh benchmark: the main window's summary tab for every relative filter, and its
// measurement tab, over a large database whose data reaches the present.
//   bench_tables [--mysql] [--dir folder] [--sensors N] [--days D] [--plain] [--measurements] [--keep]
//                [--filters 4,10,17] [--sections 0,1,2,3,4] [--repeat N] [--no-plain]
// SQLite keeps its database in the folder between runs (data/measurement.db3) and makes it
// again when its newest reading is more than ten minutes old. --mysql runs a private MariaDB
// server whose data folder is kept, once filled, in a cache folder per size (under --dir,
// by default the build folder's bench-cache) and copied in at the next run, however old.
// --plain also times the summary statements over "measure" alone (the statements the summary
// ran before the aggregates), next to the ones that read the aggregates.
// --measurements times only the measurement tab, in each order, beside the plain join it used
// to run (--no-plain leaves that out; --repeat N times each N times and gives the medians and
// their ratio); --keep uses the folder's database however old its newest reading is.
#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>

#include <cmath>
#include <cstdio>
#include <memory>

#include "app/appstate.h"
#include "bench/percentile.h"
#include "storage/sqlbasemodule.h"
#include "tests/storage/mariadbserver.h"
#include "tools/datagen/datagenerator.h"
#include "ui/mainwindow.h"
#include "storage/tablequeries.h"
#include "ui_mainwindow.h"

namespace
{

const char* const kChoices[]
    = { "1 минуту", "5 минут", "10 минут", "30 минут", "1 час", "4 часа", "8 часов", "12 часов", "1 сутки", "3 суток",
          "5 суток", "1 неделю", "2 недели", "3 недели", "1 месяц", "3 месяца", "6 месяцев", "1 год" };

struct Timed {
    double ms = 0;
    QList<QVariantList> rows;
};

Timed run(const QString& text, const QVariantList& values)
{
    Timed t;
    QElapsedTimer clock;
    clock.start();
    QSqlQuery q;
    q.setForwardOnly(true);
    q.prepare(text);
    for (const QVariant& v : values)
        q.addBindValue(v);
    if (!q.exec())
        std::fprintf(stderr, "query failed: %s\n%s\n", qPrintable(q.lastError().text()), qPrintable(text));
    while (q.next()) {
        QVariantList row;
        for (int i = 0; i < q.record().count(); ++i)
            row << q.value(i);
        t.rows << row;
    }
    t.ms = clock.nsecsElapsed() / 1e6;
    return t;
}

bool same(const QList<QVariantList>& a, const QList<QVariantList>& b)
{
    if (a.size() != b.size())
        return false;
    for (int r = 0; r < a.size(); ++r) {
        for (int c = 0; c < a[r].size(); ++c) {
            if (a[r][c].isNull() != b[r][c].isNull()
                || (c > 0 && std::fabs(a[r][c].toDouble() - b[r][c].toDouble()) > 1e-9)
                || (c == 0 && a[r][c].toString() != b[r][c].toString()))
                return false;
        }
    }
    return true;
}

// Time until the current tab's rows are in the window, best of two refreshes.
double windowMs(MainWindow& w)
{
    do
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    while (w.loading());
    double best = 1e9;
    for (int run = 0; run < 2; ++run) {
        const int before = w.refreshes;
        QElapsedTimer t;
        t.start();
        w.slotRefresh();
        while (w.refreshes == before || w.loading())
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        best = qMin(best, t.nsecsElapsed() / 1e6);
    }
    return best;
}

qint64 newestReading()
{
    QSqlQuery q;
    return q.exec(QStringLiteral("SELECT MAX(timemeasure) FROM measure")) && q.next() ? q.value(0).toLongLong() : 0;
}

// The window writes every summary statement to the debug log; the figures are what counts here.
void quietDebug(QtMsgType type, const QMessageLogContext&, const QString& text)
{
    if (type != QtDebugMsg)
        std::fprintf(stderr, "%s\n", qPrintable(text));
}

// The measurement tab's statement for "1 год" and shorter, in each order of its header,
// beside the plain join that let the database read the whole window and sort it.
int measurementTab(
    int type, const AppState& state, const QList<int>& filters, const QList<int>& sections, int repeat, bool plainToo)
{
    QSqlQuery count;
    count.exec(QStringLiteral("SELECT COUNT(*) FROM measure"));
    count.next();
    std::printf("%lld readings of %d sensors\n", count.value(0).toLongLong(), int(state.sensors.size()));
    count.finish();
    QStringList sensors;
    for (const Sensor* s : state.sensors)
        sensors << s->EUI64;
    std::printf("\nmeasurement tab, %d rows at most; medians of %d\n%-10s %-22s %12s %12s %7s %6s\n",
        state.MaxTableRows, repeat, "filter", "order", "window's ms", "plain ms", "ratio", "same");
    struct Order {
        int section;
        bool ascendingArrow;
        const char* name;
    };
    const Order orders[] = { { 0, false, "sensor" }, { 0, true, "sensor, descending" }, { 1, false, "time" },
        { 1, true, "time, descending" }, { 2, false, "temperature" }, { 2, true, "temperature, descending" },
        { 3, false, "wetness" }, { 3, true, "wetness, descending" }, { 4, false, "battery" },
        { 4, true, "battery, descending" } };
    // The join as it was before the tables were ordered by hand, in the dialect's date format.
    const QString columns = type == 0
        ? QStringLiteral("strftime('%Y-%m-%d %H:%M:%S',timemeasure, 'unixepoch', 'localtime')")
        : QStringLiteral("DATE_FORMAT(FROM_UNIXTIME(timemeasure),'%Y-%m-%d %H:%i:%S')");
    for (int f : filters) {
        for (const Order& o : orders) {
            if (!sections.isEmpty() && !sections.contains(o.section))
                continue;
            const TableQueries::TimeFilter filter = TableQueries::relativeFilter(QDateTime::currentSecsSinceEpoch(), f);
            const QString order = TableQueries::orderClause(TableQueries::Measurements, o.section, o.ascendingArrow);
            QVariantList values;
            for (const QString& s : sensors)
                values << s;
            values << filter.values;
            const QString text
                = TableQueries::measurementsQuery(type, sensors.size(), filter.condition, order, 0, state.MaxTableRows);
            const QString plain = QStringLiteral("SELECT sensors.name, ") + columns
                + QStringLiteral(", temperature, wetness, battery FROM sensors INNER JOIN measure m ON "
                                 "m.sensor_id=sensors.id WHERE sensors.EUI64")
                + TableQueries::inList(sensors.size()) + QStringLiteral(" AND ") + filter.condition + order
                + QStringLiteral(" LIMIT ") + QString::number(state.MaxTableRows);
            const TableQueries::Query byValue = TableQueries::measurementsByValue(type, sensors, filter.values,
                o.section, o.ascendingArrow, 0, state.MaxTableRows, state.batteryBoundsReady);
            QVector<double> ms, plainMs;
            Timed a, b;
            for (int i = 0; i < repeat; ++i) {
                a = byValue.text.isEmpty() ? run(text, values) : run(byValue.text, byValue.values);
                b = plainToo ? run(plain, values) : a;
                ms << a.ms;
                plainMs << b.ms;
            }
            // Rows of one second, or of one value, may come in any order and the limit may cut
            // through them: the sorted column is compared. Many rows share a sensor's name:
            // those are not comparable.
            auto sorted = [&o](const QList<QVariantList>& rows) {
                QStringList t;
                for (const QVariantList& row : rows)
                    t << row.value(o.section).toString();
                return t;
            };
            const double median = percentile(ms, 0.5);
            const double plainMedian = percentile(plainMs, 0.5);
            std::printf("%-10s %-22s %12.1f %12.1f %7.3f %6s\n", kChoices[f], o.name, median,
                plainToo ? plainMedian : 0.0, plainToo ? median / plainMedian : 0.0,
                o.section < 1 || !plainToo             ? "-"
                    : sorted(a.rows) == sorted(b.rows) ? "yes"
                                                       : "NO");
        }
    }
    return 0;
}

// MariaDB's data folder of this size, copied from the cache folder into the running server's
// (stopped meanwhile) when it was kept before; false with `fresh` when there is none yet.
bool restoreMariaDb(MariaDbServer& server, const QString& cache, bool* fresh, QString* error)
{
    const QList<QStringList> folder = server.query(QStringLiteral("mysql"), QStringLiteral("SELECT @@datadir"), error);
    *fresh = !QFileInfo::exists(cache + QStringLiteral("/data"));
    if (folder.isEmpty())
        return false;
    if (*fresh)
        return server.createDatabase(QStringLiteral("bench"), error);
    server.stop();
    const QString data = QDir::cleanPath(folder.first().value(0));
    QDir(data).removeRecursively();
    return QProcess::execute(QStringLiteral("cp"), { QStringLiteral("-a"), cache + QStringLiteral("/data"), data }) == 0
        && server.restart(error);
}

// Keeps the filled server's data folder in the cache folder.
bool keepMariaDb(MariaDbServer& server, const QString& cache, QString* error)
{
    const QList<QStringList> folder = server.query(QStringLiteral("mysql"), QStringLiteral("SELECT @@datadir"), error);
    if (folder.isEmpty())
        return false;
    server.stop();
    QDir().mkpath(cache);
    const bool copied
        = QProcess::execute(QStringLiteral("cp"),
              { QStringLiteral("-a"), QDir::cleanPath(folder.first().value(0)), cache + QStringLiteral("/data") })
        == 0;
    return server.restart(error) && copied;
}

// The window's summary tab for every relative filter (beside the statements it reads, and
// with `plain` the plain ones over "measure"), then its measurement tab.
int windowTabs(int type, const AppState& state, bool plain)
{
    QSqlQuery count;
    count.exec(QStringLiteral("SELECT COUNT(*) FROM measure"));
    count.next();
    std::printf("%s: %lld readings of %d sensors in %d locations, newest %lld s ago\n",
        type == 1 ? "MySQL (MariaDB through ODBC)" : "SQLite", count.value(0).toLongLong(), int(state.sensors.size()),
        int(state.locations.size()), QDateTime::currentSecsSinceEpoch() - newestReading());
    count.finish();

    MainWindow w;
    QStringList sensors;
    for (const Sensor* s : state.sensors)
        sensors << s->EUI64;
    std::printf("\nsummary tab (both tables)\n%-10s %12s %12s %12s %6s\n", "filter", "window ms", "aggregates",
        plain ? "plain ms" : "", plain ? "same" : "");
    const QString byName = TableQueries::orderClause(TableQueries::Sensors, 0, false);
    const QString roomsByName = TableQueries::orderClause(TableQueries::Locations, 0, false);
    for (int f = 0; f < 18; ++f) {
        w.ui->tabWidget->setCurrentIndex(0);
        w.ui->comboLast->setCurrentIndex(f);
        const double window = windowMs(w);
        const TableQueries::TimeFilter filter = TableQueries::relativeFilter(QDateTime::currentSecsSinceEpoch(), f);
        qint64 first = 0;
        qint64 last = 0;
        TableQueries::windowOf(filter.values, &first, &last);
        const auto rooms = TableQueries::locationsSummary(type, sensors, first, last, roomsByName);
        const auto perSensor = TableQueries::sensorsSummary(type, sensors, first, last, byName);
        const Timed a = run(rooms.text, rooms.values);
        const Timed b = run(perSensor.text, perSensor.values);
        std::printf("%-10s %12.1f %12.1f", kChoices[f], window, a.ms + b.ms);
        if (plain) {
            QVariantList values;
            for (const QString& s : sensors)
                values << s;
            values << filter.values;
            const Timed c
                = run(TableQueries::locationsQuery(type, sensors.size(), filter.condition, roomsByName), values);
            const Timed d = run(TableQueries::sensorsQuery(type, sensors.size(), filter.condition, byName), values);
            std::printf(" %12.1f %6s", c.ms + d.ms, same(a.rows, c.rows) && same(b.rows, d.rows) ? "yes" : "NO");
        }
        std::printf("\n");
    }
    std::printf("\nmeasurement tab\n%-10s %12s\n", "filter", "window ms");
    for (int f : { 4, 10, 17 }) {
        w.ui->tabWidget->setCurrentIndex(1);
        w.ui->comboLast->setCurrentIndex(f);
        std::printf("%-10s %12.1f\n", kChoices[f], windowMs(w));
    }
    return 0;
}

// Fills the database with the options' sensors and days up to `now`.
bool generate(QSqlDatabase db, int type, const QCommandLineParser& cli, qint64 now, QString* error)
{
    DataGenerator::Options options;
    options.type = type;
    options.sensors = cli.value("sensors").toInt();
    options.days = cli.value("days").toInt();
    options.end = now;
    QElapsedTimer t;
    t.start();
    DataGenerator generator(db, options);
    if (!generator.run(error)) {
        std::fprintf(stderr, "data generation failed: %s\n", qPrintable(*error));
        return false;
    }
    std::printf("generated %lld readings in %.1f s\n", generator.measurementsWritten(), t.elapsed() / 1000.0);
    return true;
}

void addOptions(QCommandLineParser& cli)
{
    cli.addOption({ "mysql", "A private MariaDB server through ODBC instead of SQLite." });
    cli.addOption({ "dir", "SQLite working folder, or MariaDB's cache folder, kept between runs.", "folder" });
    cli.addOption({ "sensors", "Sensors of a new database.", "N", "20" });
    cli.addOption({ "days", "Days of one-minute readings of a new database.", "D", "350" });
    cli.addOption({ "plain", "Also time the summary over \"measure\" alone." });
    cli.addOption({ "measurements", "Only the measurement tab, beside the plain join." });
    cli.addOption({ "keep", "Use the folder's database however old its newest reading." });
    cli.addOption({ "no-plain", "The measurement tab without the plain join beside it." });
    cli.addOption({ "repeat", "Times each order of the measurement tab is timed.", "N", "1" });
    cli.addOption(
        { "filters", "Relative filters of the measurement tab (indexes, comma-separated).", "list", "4,10,17" });
    cli.addOption(
        { "sections", "Sort sections of the measurement tab (indexes, comma-separated; all if empty).", "list", "" });
}

// The option's comma-separated indexes.
QList<int> indexes(const QCommandLineParser& cli, const char* name)
{
    QList<int> list;
    for (const QString& item : cli.value(name).split(QLatin1Char(','), Qt::SkipEmptyParts))
        list << item.toInt();
    return list;
}

// Makes the working folder the current one; returns MariaDB's cache folder of this size.
QString enterFolder(const QCommandLineParser& cli, int type)
{
    const QString dir = cli.isSet("dir") ? cli.value("dir")
        : type == 1                      ? QStringLiteral(OSTRIVEL_BUILD_DIR "/bench-cache")
                                         : QDir::tempPath() + "/ostrivel-bench-tables";
    const QString cache = dir + QStringLiteral("/mariadb-%1x%2").arg(cli.value("sensors"), cli.value("days"));
    const QString folder = type == 1 ? cache + QStringLiteral("/run") : dir;
    QDir().mkpath(folder + "/data");
    QDir::setCurrent(folder);
    return cache;
}

} // namespace

int main(int argc, char** argv)
{
    // The figures are the loads' and the close's, not the painting's: no display is needed.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    qInstallMessageHandler(quietDebug);
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    QCommandLineParser cli;
    cli.addHelpOption();
    addOptions(cli);
    cli.process(app);
    const int type = cli.isSet("mysql") ? 1 : 0;
    const QString cache = enterFolder(cli, type);

    MariaDbServer server;
    QString error;
    bool fresh = true;
    if (type == 1 && (!server.start(&error) || !restoreMariaDb(server, cache, &fresh, &error))) {
        std::fprintf(stderr, "MariaDB: %s\n", qPrintable(error));
        return 1;
    }
    AppState state;
    state.MaxTableRows = 500;
    state.BreakInterval = 120;
    state.DaysSave = 3650; // keep every generated reading through the start-up purge
    state.DBType = type; // the dialect of the window's queries
    // A module of its own for every start, as the program has.
    std::unique_ptr<SQLBaseModule> sql;
    auto open = [&] {
        sql.reset();
        qDeleteAll(state.sensors);
        state.sensors.clear();
        qDeleteAll(state.locations);
        state.locations.clear();
        sql = std::make_unique<SQLBaseModule>();
        state.followDatabase(*sql);
        sql->init(type, QStringLiteral("127.0.0.1"), server.user(), server.password(), QStringLiteral("bench"),
            server.port());
    };
    {
        // An existing database is brought up to the program's aggregates here (built, or
        // given the battery bounds that an older layout lacks).
        QElapsedTimer t;
        t.start();
        open();
        std::printf("first start-up: %.1f s, aggregates %s\n", t.elapsed() / 1000.0,
            !state.aggregatesReady         ? "not kept"
                : state.batteryBoundsReady ? "ready"
                                           : "without battery bounds");
    }
    const qint64 now = QDateTime::currentSecsSinceEpoch();
    if (type == 1 ? fresh : !cli.isSet("keep") && newestReading() < now - 600) {
        if (type == 0) {
            sql.reset();
            QFile::remove(QStringLiteral("data/measurement.db3"));
            open();
        }
        if (!generate(sql->db, type, cli, now, &error))
            return 1;
        sql.reset();
        if (type == 1 && !keepMariaDb(server, cache, &error)) {
            std::fprintf(stderr, "MariaDB: %s\n", qPrintable(error));
            return 1;
        }
        open(); // the sensors just made
    }
    if (cli.isSet("measurements"))
        return measurementTab(type, state, indexes(cli, "filters"), indexes(cli, "sections"),
            qMax(1, cli.value("repeat").toInt()), !cli.isSet("no-plain"));
    // What an existing database costs at its first start with aggregates, next to a start
    // that finds them built.
    QSqlQuery(sql->db).exec(QStringLiteral("DELETE FROM measure_aggregates_state"));
    for (int start = 0; start < 2; ++start) {
        QElapsedTimer t;
        t.start();
        open();
        std::printf("start-up %s: %.1f s\n", start == 0 ? "building the aggregates" : "with aggregates built",
            t.elapsed() / 1000.0);
    }
    return windowTabs(type, state, cli.isSet("plain"));
}
