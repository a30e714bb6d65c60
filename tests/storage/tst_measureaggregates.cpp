// The per-sensor hourly and daily aggregates on both dialects: their upkeep on a connection,
// their build and upgrade at start-up, and the summaries and value orders that read them
// against the plain queries over "measure" for random data and random windows.
#include <QRandomGenerator>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QtTest>

#include <algorithm>
#include <cmath>

#include "storage/databasewriter.h"
#include "storage/measureaggregates.h"
#include "storage/purgeslicer.h"
#include "storagetest.h"
#include "storage/tablequeries.h"
#include "storage/tablereader.h"

namespace
{

const qint64 T = 1767225600; // 2026-01-01 00:00:00 UTC
const qint64 kLimit = MeasureAggregates::kTimeLimit;

QString eui(int i)
{
    return QStringLiteral("000D6F%1").arg(i, 10, 10, QLatin1Char('0'));
}

} // namespace

class TestMeasureAggregates : public StorageTest
{
    Q_OBJECT

    // Rows of a statement on the module's connection; a failure fails the test.
    QList<QVariantList> run(const QString& text, const QVariantList& values = {})
    {
        QSqlQuery q;
        QList<QVariantList> result;
        bool ok = q.prepare(text);
        for (const QVariant& v : values)
            q.addBindValue(v);
        ok = ok && q.exec();
        while (ok && q.next()) {
            result << QVariantList();
            for (int i = 0; i < q.record().count(); ++i)
                result.last() << q.value(i);
        }
        if (!ok)
            QTest::qFail(qPrintable(text.left(80)), __FILE__, __LINE__);
        return result;
    }

    // Six sensors in three rooms (the sixth without a last row), then measurements over nine
    // days written as the writer writes them: in batches, each with its aggregates in the same
    // transaction.
    void fill(QRandomGenerator& random)
    {
        removedSensor = 0;
        QVERIFY(f.open());
        QSqlDatabase db = QSqlDatabase::database();
        run(QStringLiteral("INSERT INTO locations VALUES (1, 'Цех', '', ''), (2, 'Склад', '', '')"));
        for (int i = 1; i <= 6; ++i) {
            run(QStringLiteral("INSERT INTO sensors (id, EUI64, name, location, sleepInterval, datecheck) "
                               "VALUES (?, ?, ?, ?, 60, '2026.01.01')"),
                { i, eui(i), QStringLiteral("Датчик %1").arg(i), i % 3 });
            if (i < 6)
                run(QStringLiteral("INSERT INTO last VALUES (?, ?, 0, 0, ?)"), { i, T, 3.0 - i / 10.0 });
        }
        for (int written = 0; written < 2500 && !QTest::currentTestFailed();)
            written += writeBatch(random, 1 + int(random.bounded(150)), T, 9 * 86400);
    }

    // A sensor gone from the registry, which writeBatch no longer writes for.
    int removedSensor = 0;

    // `rows` measurements of random sensors at random times in [from, from + span), committed
    // with their aggregates. A sixth of the values is NULL; the battery takes five values.
    int writeBatch(QRandomGenerator& random, int rows, qint64 from, qint64 span)
    {
        auto value = [&random](double base, double step) {
            return random.bounded(6) == 0 ? QVariant(QVariant::Double)
                                          : QVariant(std::round((base + random.bounded(30.0) * step) * 100) / 100);
        };
        QSqlDatabase db = QSqlDatabase::database();
        QVector<AggregateInput> batch(rows);
        if (!db.transaction())
            QTest::qFail("no transaction", __FILE__, __LINE__);
        for (AggregateInput& in : batch) {
            int sensor = 1 + random.bounded(6);
            while (sensor == removedSensor)
                sensor = 1 + random.bounded(6);
            in = { sensor, from + random.bounded(int(span)), value(-5, 1), value(30, 1),
                value(2.5, 0.0167) };
            run(QStringLiteral("INSERT INTO measure (sensor_id, timemeasure, temperature, wetness, battery) "
                               "VALUES (?,?,?,?,?)"),
                { in.sensorId, in.timemeasure, in.temperature, in.wetness, in.battery });
        }
        if (!MeasureAggregates::add(db, f.type, batch, nullptr) || !db.commit())
            QTest::qFail("batch not committed", __FILE__, __LINE__);
        return rows;
    }

    // Both summaries read from the aggregates equal the plain queries over the window.
    void compare(const QStringList& checked, qint64 first, qint64 last, const TableQueries::TimeFilter& plain)
    {
        QVariantList values;
        for (const QString& s : checked)
            values << s;
        values << plain.values;
        const QString order = TableQueries::orderClause(TableQueries::Sensors, 0, false);
        QList<QList<QVariantList>> got;
        // With the database's six sensors checked, also as every sensor: no address named.
        for (const bool every : { false, true }) {
            if (every && checked.size() != 6)
                continue;
            const auto sensors = TableQueries::sensorsSummary(f.type, checked, first, last, order, every);
            const auto rooms = TableQueries::locationsSummary(f.type, checked, first, last, order, every);
            got << run(sensors.text, sensors.values) << run(rooms.text, rooms.values);
        }
        const QList<QVariantList> want[]
            = { run(TableQueries::sensorsQuery(f.type, checked.size(), plain.condition, order), values),
                  run(TableQueries::locationsQuery(f.type, checked.size(), plain.condition, order), values) };
        const QString where = QStringLiteral("window [T%1, T%2]").arg(first - T).arg(last - T);
        for (int t = 0; t < got.size(); ++t)
            sameRows(got[t], want[t % 2], where);
    }

    // Equal rows: the first column as text, the others as numbers to 1e-9 (sums may be added
    // up in another order).
    void sameRows(const QList<QVariantList>& got, const QList<QVariantList>& want, const QString& where)
    {
        QVERIFY2(got.size() == want.size(), qPrintable(where));
        for (int r = 0; r < got.size(); ++r) {
            QCOMPARE(got[r][0].toString(), want[r][0].toString());
            for (int c = 1; c < got[r].size(); ++c) {
                const QVariant a = got[r][c];
                const QVariant b = want[r][c];
                if (a.isNull() != b.isNull() || std::fabs(a.toDouble() - b.toDouble()) > 1e-9)
                    QFAIL(qPrintable(
                        where + QStringLiteral(" %1:%2 %3 vs %4").arg(r).arg(c).arg(a.toString(), b.toString())));
            }
        }
    }

    // Every bucket before `end` holds what "measure" holds in its hour or day, counted plainly;
    // the battery's bounds too where kept.
    void bucketsMatchMeasure(qint64 end, const QString& where, bool battery = true)
    {
        for (const qint64 step : { 3600, 86400 }) {
            const QString bucket = QStringLiteral("timemeasure-timemeasure%") + QString::number(step);
            sameRows(run(QStringLiteral("SELECT sensor_id, bucket, n, tc, ts, tmin, tmax, wc, ws, wmin, wmax%1 FROM ")
                                 .arg(QLatin1String(battery ? ", bc, bmin, bmax" : ""))
                             + QLatin1String(step == 3600 ? "measure_hourly" : "measure_daily")
                             + QStringLiteral(" WHERE bucket<? ORDER BY sensor_id, bucket"),
                         { end }),
                run(QStringLiteral(
                        "SELECT sensor_id, %1 b, count(*), count(temperature), coalesce(sum(temperature),0), "
                        "min(temperature), max(temperature), count(wetness), coalesce(sum(wetness),0), "
                        "min(wetness), max(wetness)%2 FROM measure WHERE timemeasure<? GROUP BY sensor_id, b "
                        "ORDER BY sensor_id, b")
                        .arg(bucket, QLatin1String(battery ? ", count(battery), min(battery), max(battery)" : "")),
                    { end }),
                where + QString::number(step));
        }
    }

    // The first `limit` rows of a window by a value column through the bounds against the
    // plain sort: the same values in order, each a row of the window, and every row of a value
    // before the one at the cut among the plain sort's.
    void orderedLikeThePlainSort(const char* column, bool descending, qint64 first, qint64 last, int limit)
    {
        const QString sensors = QStringLiteral(" IN (1,2,3,4,5)");
        const QString order = QStringLiteral(" ORDER BY %1%2").arg(column, descending ? " DESC" : "");
        const auto q
            = MeasureAggregates::orderedRows(f.type, column, descending, first, last, limit, sensors, {}, true);
        const QList<QVariantList> got
            = run(QStringLiteral("SELECT * FROM ") + q.text + QStringLiteral(" r") + order, q.values);
        const QList<QVariantList> whole = run(QStringLiteral("SELECT sensor_id, timemeasure, temperature, wetness, "
                                                             "battery FROM measure WHERE timemeasure>=? AND "
                                                             "timemeasure<=? AND sensor_id")
                + sensors + order,
            { first, last });
        const int c = 2 + QByteArrayList { "temperature", "wetness", "battery" }.indexOf(column);
        const QString where
            = QStringLiteral("%1 [T%2, T%3] limit %4, row ").arg(column).arg(first - T).arg(last - T).arg(limit);
        QVERIFY2(got.size() == qMin(limit, whole.size()), qPrintable(where));
        for (int r = 0; r < got.size(); ++r) {
            QVERIFY2(got[r][c] == whole[r][c] && whole.contains(got[r])
                    && (got[r][c] == got.last()[c] || whole.mid(0, limit).contains(got[r])),
                qPrintable(where + QString::number(r)));
        }
    }

    // Bucket rows as the independent reader sees them.
    QStringList buckets(const QString& table)
    {
        QStringList out;
        for (const QStringList& row : f.sql(QStringLiteral(
                 "SELECT sensor_id, bucket-%1, n, tc, ts, tmin, tmax, wc, ws, wmin, wmax, bc, bmin, bmax FROM %2 "
                 "ORDER BY sensor_id, bucket")
                                                .arg(T)
                                                .arg(table)))
            out << row.join(QLatin1Char(' '));
        return out;
    }

private slots:
    void initTestCase()
    {
        QString error;
        QVERIFY2(f.startServer(&error), qPrintable(error));
    }

    void summariesEqualThePlainQueries_data()
    {
        QTest::addColumn<int>("type");
        QTest::addColumn<QString>("windows");
        for (int type : { 0, 1 }) {
            for (const char* windows :
                { "aligned", "unaligned", "short", "relative", "purged", "built", "removed", "many checked" })
                QTest::newRow(qPrintable(QStringLiteral("%1 %2").arg(type ? "mysql" : "sqlite", windows)))
                    << type << QString::fromLatin1(windows);
        }
    }
    void summariesEqualThePlainQueries()
    {
        QFETCH(QString, windows);
        QRandomGenerator random(qHash(QByteArray(QTest::currentDataTag())));
        fill(random);
        if (windows == QLatin1String("built")) {
            // A database from before the aggregates: built once at start-up, with the
            // start-up window saying so, and not again at the next start.
            f.closeModule();
            f.sql(QStringLiteral(
                "DROP TABLE measure_hourly;\nDROP TABLE measure_daily;\nDROP TABLE measure_aggregates_state"));
            for (int start = 0; start < 2; ++start) {
                f.closeModule();
                f.state->aggregatesReady = false;
                QStringList texts;
                f.make();
                connect(f.module.get(), &SQLBaseModule::signalSetInitInfoString, [&texts](QString t) { texts << t; });
                f.module->init(f.type, QStringLiteral("127.0.0.1"), f.server.user(), f.server.password(),
                    f.databaseName, f.server.port());
                QCOMPARE(texts, start ? QStringList() : QStringList { QStringLiteral("Построение сводных данных...") });
                QVERIFY(f.state->aggregatesReady);
            }
        } else if (windows == QLatin1String("purged")) {
            // The writer's purge in slices of a few rows to a cutoff within an hour: after every
            // step, also while an hour is gone for some sensors and not yet for others, or a
            // sensor is cut within it, the buckets hold what "measure" holds.
            PurgeSlicer purge(f.module->db, f.type);
            const qint64 cutoff = T + 3600 + random.bounded(86400);
            purge.start(cutoff);
            QString error;
            for (int step = 0; purge.active() && !QTest::currentTestFailed(); ++step) {
                purge.setRowsPerSlice(1 + random.bounded(4));
                QVERIFY2(purge.runSlice(&error), qPrintable(error));
                bucketsMatchMeasure(T + 2 * 86400, QStringLiteral("step %1, buckets of ").arg(step));
            }
        } else if (windows == QLatin1String("removed")) {
            run(QStringLiteral("DELETE FROM measure WHERE sensor_id=2"));
            QVERIFY(MeasureAggregates::removeSensor(f.module->db, f.type, 2, nullptr));
        }
        QStringList all;
        for (int i = 1; i <= (windows == QLatin1String("many checked") ? 250 : 6); ++i)
            all << eui(i);
        for (int w = 0; w < 25 && !QTest::currentTestFailed(); ++w) {
            const QStringList checked = w % 5 == 4 ? all.mid(0, 2) : all;
            qint64 first = T - 3600 + random.bounded(10 * 86400);
            qint64 length = 1 + random.bounded(windows == QLatin1String("short") ? 3599 : 4 * 86400);
            if (windows == QLatin1String("aligned")) {
                const qint64 step = w % 2 ? 86400 : 3600;
                first -= first % step;
                length = step * (1 + random.bounded(5));
            }
            if (windows == QLatin1String("relative")) {
                const qint64 now = first + TableQueries::relativeSeconds(w % 18);
                compare(checked, first, kLimit, TableQueries::relativeFilter(now, w % 18));
            } else {
                compare(checked, first, first + length - 1, TableQueries::rangeFilter(first, first + length - 1));
            }
            // The measurement table's value orders over the window.
            for (const char* column : { "temperature", "wetness", "battery" })
                orderedLikeThePlainSort(column, w % 2, first,
                    windows == QLatin1String("relative") ? kLimit : first + length - 1,
                    QVector<int> { 1, 7, 60, 400, 3000 }.at(w % 5));
        }
        // An inverted window has no rows, as the plain query has none.
        compare(all, T + 86400, T, TableQueries::rangeFilter(T + 86400, T));
    }

    // The summary tables as the loading thread reads them, with the sums kept between loads:
    // after every batch the writer commits, as a relative window's start moves past rows, with
    // a range window, another choice of sensors, and once a sensor is removed, always the plain
    // queries' rows.
    void keptSummariesFollowTheWrites_data() { dialects(); }
    void keptSummariesFollowTheWrites()
    {
        QRandomGenerator random(11);
        fill(random);
        TableReader reader(this);
        QStringList all;
        for (int i = 1; i <= 6; ++i)
            all << eui(i);
        qint64 now = T + 4 * 86400;
        quint64 registry = 0;
        for (int step = 0; step < 30 && !QTest::currentTestFailed(); ++step) {
            writeBatch(random, 1 + int(random.bounded(40)), now - 2 * 86400, 2 * 86400 + 600);
            if (step == 18) {
                run(QStringLiteral("DELETE FROM measure WHERE sensor_id=2"));
                QSqlDatabase db = QSqlDatabase::database();
                QVERIFY(MeasureAggregates::removeSensor(db, f.type, 2, nullptr));
                run(QStringLiteral("DELETE FROM sensors WHERE id=2"));
                removedSensor = 2;
                ++registry; // as the window's tree tells
            }
            now += random.bounded(3 * 3600);
            const bool range = step % 7 == 6;
            const TableQueries::TimeFilter plain = range ? TableQueries::rangeFilter(now - 86400, now)
                                                         : TableQueries::relativeFilter(now, 8 + step % 3);
            const QStringList checked = step % 4 == 3 ? all.mid(0, 3) : all;
            QVariantList values;
            for (const QString& s : checked)
                values << s;
            values << plain.values;
            for (const auto table : { TableQueries::Sensors, TableQueries::Locations }) {
                // Now and then the sensors by their highest temperature: equal values may come
                // in any order, so both sides are then compared by name.
                const int section = table == TableQueries::Sensors && step % 5 == 2 ? 2 : 0;
                const QString where = QStringLiteral("step %1, table %2").arg(step).arg(table);
                const QList<QVariantList> got = readTable(reader, table, section, checked, all.size(), plain, registry);
                const QString order = TableQueries::orderClause(table, section, false);
                QList<QVariantList> want = run(table == TableQueries::Sensors
                        ? TableQueries::sensorsQuery(f.type, checked.size(), plain.condition, order)
                        : TableQueries::locationsQuery(f.type, checked.size(), plain.condition, order),
                    values);
                if (section == 0) {
                    sameRows(got, want, where);
                    continue;
                }
                for (int r = 1; r < got.size(); ++r)
                    QVERIFY2(got[r - 1][section].isNull()
                            || (!got[r][section].isNull() && got[r - 1][section].toDouble() <= got[r][section].toDouble()),
                        qPrintable(where));
                QList<QVariantList> byName = got;
                const auto name = [](const QVariantList& a, const QVariantList& b) {
                    return a[0].toString() < b[0].toString();
                };
                std::sort(byName.begin(), byName.end(), name);
                std::sort(want.begin(), want.end(), name);
                sameRows(byName, want, where);
            }
        }
        reader.close();
    }

    // A summary table as the loading thread reads it, the sums kept between loads.
    QList<QVariantList> readTable(TableReader& reader, TableQueries::Table table, int section,
        const QStringList& checked, int sensorCount, const TableQueries::TimeFilter& filter, quint64 registry = 0)
    {
        TableRequest request;
        request.table = table;
        request.dbType = f.type;
        request.sensors = checked;
        request.everySensor = checked.size() == sensorCount;
        request.filter = filter.values;
        request.section = section;
        request.aggregates = true;
        request.registry = registry;
        const TableRows got = reader.read(request);
        if (!got.error.isEmpty())
            QTest::qFail(qPrintable(got.error), __FILE__, __LINE__);
        QList<QVariantList> rows;
        for (const QVector<QVariant>& row : got.rows)
            rows << row.toList();
        return rows;
    }

    // An account that may not make temporary tables still gets both summaries: they then read
    // the aggregates straight.
    void summariesWithoutTemporaryTables_data() { only(1); }
    void summariesWithoutTemporaryTables()
    {
        QRandomGenerator random(5);
        fill(random);
        f.closeModule();
        const QString user = QStringLiteral("notemp") + f.databaseName;
        f.sql(QStringLiteral("CREATE USER '%1'@'127.0.0.1' IDENTIFIED BY 'pw';\nGRANT SELECT, INSERT, UPDATE, DELETE, "
                             "CREATE, INDEX ON %2.* TO '%1'@'127.0.0.1'")
                  .arg(user, f.databaseName));
        QVERIFY2(f.lastError.isEmpty(), qPrintable(f.lastError));
        f.make();
        f.module->init(1, QStringLiteral("127.0.0.1"), user, QStringLiteral("pw"), f.databaseName, f.server.port());
        QVERIFY(f.state->aggregatesReady);
        QStringList all;
        for (int i = 1; i <= 6; ++i)
            all << eui(i);
        QVariantList values;
        for (const QString& s : all)
            values << s;
        const TableQueries::TimeFilter window = TableQueries::rangeFilter(T + 3600, T + 5 * 86400);
        values << window.values;
        TableReader reader(this);
        const QString order = TableQueries::orderClause(TableQueries::Sensors, 0, false);
        sameRows(readTable(reader, TableQueries::Sensors, 0, all, all.size(), window),
            run(TableQueries::sensorsQuery(1, all.size(), window.condition, order), values), QStringLiteral("sensors"));
        sameRows(readTable(reader, TableQueries::Locations, 0, all, all.size(), window),
            run(TableQueries::locationsQuery(1, all.size(), window.condition, order), values), QStringLiteral("rooms"));
        reader.close();
    }

    // Aggregates of the layout without battery bounds (their columns dropped, the state marked
    // as before them) get them at the next start, in one transaction.
    // Where the database refuses (a trigger on SQLite, an account without ALTER on MySQL), the
    // buckets stay as counted and are kept without battery bounds, the battery sorts plainly,
    // and the next start that may upgrades them.
    void olderLayoutUpgradedAtStart_data()
    {
        QTest::addColumn<int>("type");
        QTest::addColumn<bool>("refused");
        for (int type : { 0, 1 }) {
            for (bool refused : { false, true })
                QTest::newRow(
                    qPrintable(QStringLiteral("%1%2").arg(type ? "mysql" : "sqlite", refused ? ", refused" : "")))
                    << type << refused;
        }
    }
    void olderLayoutUpgradedAtStart()
    {
        QFETCH(bool, refused);
        f.expectedWarnings << QStringLiteral("measurement aggregates: ");
        QRandomGenerator random(qHash(QByteArray(QTest::currentDataTag())));
        fill(random);
        f.closeModule();
        const bool mysql = f.type == 1;
        QString old;
        for (const char* t : { "measure_hourly", "measure_daily" }) {
            for (const char* c : { "bc", "bmin", "bmax" })
                old += QStringLiteral("ALTER TABLE %1 DROP COLUMN %2;\n").arg(QLatin1String(t), QLatin1String(c));
        }
        const QString user = QStringLiteral("lim") + f.databaseName;
        f.sql(old
            + "UPDATE measure_aggregates_state SET built=1"
            + (!refused ? QString()
                    : mysql
                    ? QStringLiteral(";\nCREATE USER '%1'@'127.0.0.1' IDENTIFIED BY 'pw';\nGRANT SELECT, INSERT, "
                                     "UPDATE, DELETE, CREATE, INDEX ON %2.* TO '%1'@'127.0.0.1'")
                          .arg(user, f.databaseName)
                    : QStringLiteral(";\nCREATE TRIGGER refuse BEFORE INSERT ON measure_aggregates_state "
                                     "BEGIN SELECT RAISE(ABORT, 'refused'); END")));
        QVERIFY2(f.lastError.isEmpty(), qPrintable(f.lastError));
        for (int start = refused ? 0 : 1; start < 2; ++start) {
            if (start == 0 && mysql) {
                f.make();
                f.module->init(
                    1, QStringLiteral("127.0.0.1"), user, QStringLiteral("pw"), f.databaseName, f.server.port());
            } else {
                f.open();
            }
            const bool upgraded = start == 1;
            QVERIFY(f.state->aggregatesReady);
            QCOMPARE(f.state->batteryBoundsReady, upgraded);
            f.sql(QStringLiteral("SELECT bc FROM measure_daily"));
            QCOMPARE(f.lastError.isEmpty(), upgraded);
            QCOMPARE(f.sql(QStringLiteral("SELECT built FROM measure_aggregates_state")),
                QList<QStringList> { { upgraded ? "2" : "1" } });
            // The writer keeps what the layout holds.
            for (int i = 0; i < 5; ++i)
                f.module->writer->enqueue({ eui(1 + i), reading(i), T + 86400 * (start + 3) + i * 1000 });
            f.sql(QStringLiteral("SELECT 1"));
            bucketsMatchMeasure(kLimit, QStringLiteral("start %1, buckets of ").arg(start), upgraded);
            if (!mysql)
                f.sql(QStringLiteral("DROP TRIGGER IF EXISTS refuse"));
        }
        orderedLikeThePlainSort("battery", false, T, T + 9 * 86400, 50);
    }

    void upkeepOnAConnection_data() { dialects(); }
    void upkeepOnAConnection()
    {
        QVERIFY(f.open());
        QSqlDatabase db = QSqlDatabase::database();
        const QVariant none(QVariant::Double);
        QVERIFY(MeasureAggregates::add(db, f.type,
            { { 1, T + 10, 20.5, none, 3.0 }, { 1, T + 20, none, none, none }, { 1, T + 3700, 19.0, 40.0, 2.9 },
                { 2, T + 86400, -1.25, 55.5, 3.1 } },
            nullptr));
        QVERIFY(MeasureAggregates::add(db, f.type, { { 1, T + 30, 22.0, 41.0, 2.95 } }, nullptr));
        const QString second = QStringLiteral("2 86400 1 1 -1.25 -1.25 -1.25 1 55.5 55.5 55.5 1 3.1 3.1");
        QCOMPARE(buckets(QStringLiteral("measure_hourly")),
            QStringList({ QStringLiteral("1 0 3 2 42.5 20.5 22 1 41 41 41 2 2.95 3"),
                QStringLiteral("1 3600 1 1 19 19 19 1 40 40 40 1 2.9 2.9"), second }));
        QCOMPARE(buckets(QStringLiteral("measure_daily")),
            QStringList({ QStringLiteral("1 0 4 3 61.5 19 22 2 81 40 41 3 2.9 3"), second }));

        // The purge counts the hour it cut again from what "measure" still holds.
        run(QStringLiteral(
            "INSERT INTO sensors (id, EUI64, name, location, datecheck) VALUES "
            "(1, '000D6F0000000001', 'x', 0, '2026.01.01'), (2, '000D6F0000000002', 'x', 0, '2026.01.01')"));
        run(QStringLiteral("INSERT INTO measure (sensor_id, timemeasure, temperature, wetness, battery) VALUES "
                           "(1, ?, NULL, NULL, NULL), (1, ?, 19, 40, 2.9), (2, ?, -1.25, 55.5, 3.1)"),
            { T + 20, T + 3700, T + 86400 });
        QVERIFY(MeasureAggregates::afterPurge(db, f.type, { 1, 2 }, T - 100, T + 15, nullptr));
        QCOMPARE(buckets(QStringLiteral("measure_hourly")).value(0),
            QStringLiteral("1 0 1 0 0 NULL NULL 0 0 NULL NULL 0 NULL NULL"));
        QCOMPARE(buckets(QStringLiteral("measure_daily")),
            QStringList({ QStringLiteral("1 0 2 1 19 19 19 1 40 40 40 1 2.9 2.9"), second }));

        QVERIFY(MeasureAggregates::removeSensor(db, f.type, 1, nullptr));
        QCOMPARE(buckets(QStringLiteral("measure_hourly")) + buckets(QStringLiteral("measure_daily")),
            QStringList({ second, second }));
    }
};

QTEST_GUILESS_MAIN(TestMeasureAggregates)
#include "tst_measureaggregates.moc"
