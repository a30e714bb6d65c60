// The main window's table queries on a real database of each dialect: aggregates, the
// checked sensors, the time bounds, the order and the date styles.
#include <QSqlQuery>
#include <QSqlRecord>
#include <QtTest>

#include "storage/keptsensortable.h"
#include "storage/measureaggregates.h"
#include "storage/roomsummary.h"
#include "storage/tablequeries.h"
#include "storagetest.h"

namespace
{

// 2026-01-01 00:00:00 UTC, 03:00 in Moscow (the tests' pinned zone).
const qint64 T = 1767225600;

const QString A = QStringLiteral("000D6F000000000A");
const QString B = QStringLiteral("000D6F000000000B");
const QString C = QStringLiteral("000D6F000000000C"); // no last row
const QString D = QStringLiteral("000D6F000000000D"); // in another room, later

} // namespace

class TestTableQueries : public StorageTest
{
    Q_OBJECT

    QStringList run(const QString& text, const QStringList& sensors, const QVariantList& bounds)
    {
        QSqlQuery q;
        if (!q.prepare(text))
            return { QStringLiteral("prepare failed") };
        for (const QString& s : sensors)
            q.addBindValue(s);
        for (const QVariant& v : bounds)
            q.addBindValue(v);
        if (!q.exec())
            return { QStringLiteral("exec failed") };
        QStringList rows;
        while (q.next()) {
            // Numbers as the shortest text, whatever type the driver hands back.
            QStringList cells;
            for (int i = 0; i < q.record().count(); ++i) {
                const QVariant v = q.value(i);
                bool ok = false;
                const double d = v.toString().toDouble(&ok);
                cells << (v.isNull() ? QStringLiteral("NULL") : ok ? QString::number(d, 'g', 6) : v.toString());
            }
            rows << cells.join(QLatin1Char('|'));
        }
        return rows;
    }

    void fill()
    {
        QVERIFY(f.open());
        const QString sensor = QStringLiteral(
            "INSERT INTO sensors (id, EUI64, name, location, sleepInterval, datecheck) VALUES (%1, '%2', '%3', %4, 60, "
            "'2026.01.01')");
        const QString measure = QStringLiteral(
            "INSERT INTO measure (sensor_id, timemeasure, temperature, wetness, battery) VALUES (%1, %2, %3, %4, %5)");
        const QString last = QStringLiteral(
            "INSERT INTO last (sensor_id, timemeasure, temperature, wetness, battery) VALUES (%1, %2, 0, 0, %3)");
        QStringList sql { QStringLiteral("INSERT INTO locations VALUES (1, 'Цех', '', '')"),
            sensor.arg(1).arg(A, QStringLiteral("Альфа")).arg(1), sensor.arg(2).arg(B, QStringLiteral("Бета")).arg(1),
            sensor.arg(3).arg(C, QStringLiteral("Вега")).arg(1), sensor.arg(4).arg(D, QStringLiteral("Дельта")).arg(0),
            measure.arg(1).arg(T).arg(10).arg(40).arg(3.0), measure.arg(1).arg(T + 60).arg(20).arg(60).arg(3.0),
            measure.arg(2).arg(T + 120).arg(30).arg(70).arg(2.4), measure.arg(3).arg(T).arg(100).arg(99).arg(3.0),
            measure.arg(4).arg(T + 3600).arg(-5).arg(50).arg(3.1), last.arg(1).arg(T + 60).arg(3.0),
            last.arg(2).arg(T + 120).arg(2.4), last.arg(4).arg(T + 3600).arg(3.1) };
        f.sql(sql.join(QStringLiteral(";\n")));
        QVERIFY2(f.lastError.isEmpty(), qPrintable(f.lastError));
    }

private slots:
    void summaries_data()
    {
        QTest::addColumn<int>("type");
        QTest::addColumn<QString>("variant");
        QTest::addColumn<QStringList>("locations");
        QTest::addColumn<QStringList>("sensors");
        const QStringList all { QStringLiteral("Цех|10|30|22.5|40|70|60") };
        const QStringList perSensor { QStringLiteral("Альфа|10|20|15|40|60|50|3|000D6F000000000A"),
            QStringLiteral("Бета|30|30|30|70|70|70|2.4|000D6F000000000B") };
        for (int type : { 0, 1 }) {
            const char* dialect = type == 0 ? "sqlite" : "mysql";
            // A room's average is the average of its sensors' averages; C has no last row.
            QTest::newRow(qPrintable(QStringLiteral("%1: all").arg(dialect))) << type << "all" << all << perSensor;
            QTest::newRow(qPrintable(QStringLiteral("%1: none checked").arg(dialect)))
                << type << "none" << QStringList() << QStringList();
            QTest::newRow(qPrintable(QStringLiteral("%1: bounds included").arg(dialect)))
                << type << "inclusive" << QStringList { QStringLiteral("Цех|20|30|25|60|70|65") }
                << QStringList { QStringLiteral("Альфа|20|20|20|60|60|60|3|000D6F000000000A"),
                       QStringLiteral("Бета|30|30|30|70|70|70|2.4|000D6F000000000B") };
            QTest::newRow(qPrintable(QStringLiteral("%1: inverted sort").arg(dialect)))
                << type << "desc" << all
                << QStringList { QStringLiteral("Бета|30|30|30|70|70|70|2.4|000D6F000000000B"),
                       QStringLiteral("Альфа|10|20|15|40|60|50|3|000D6F000000000A") };
        }
    }
    // The rooms' table summed from the sensors' rows: NULL values left out, rooms without a
    // name or sensor left out, and SQLite's orders (NULL lowest, names byte by byte in UTF-8:
    // a Latin "Z" before Cyrillic).
    void roomsFromSensorRows_data()
    {
        QTest::addColumn<int>("type"); // the fixture's, unused: the rows are summed in memory
        QTest::addColumn<int>("section");
        QTest::addColumn<bool>("ascendingArrow");
        QTest::addColumn<QStringList>("order");
        const QStringList byName { "Zал", "Склад", "Цех" };
        const QStringList byId { "Цех", "Склад", "Zал" };
        QTest::newRow("name") << 0 << 0 << false << byName;
        QTest::newRow("name, descending") << 0 << 0 << true << byId;
        QTest::newRow("lowest temperature, NULL first") << 0 << 1 << false << QStringList { "Zал", "Склад", "Цех" };
        QTest::newRow("lowest humidity") << 0 << 4 << false << QStringList { "Склад", "Zал", "Цех" };
        QTest::newRow("mean humidity, descending") << 0 << 6 << true << QStringList { "Цех", "Zал", "Склад" };
        QTest::newRow("no order: by room id") << 0 << -1 << false << byId;
    }
    void roomsFromSensorRows()
    {
        QFETCH(int, section);
        QFETCH(bool, ascendingArrow);
        QFETCH(QStringList, order);
        const QVariant n;
        const QVector<QVector<QVariant>> sensors {
            { "a", 10.0, 20.0, 15.0, 40.0, 60.0, 50.0, 3.0 },
            { "b", n, n, n, 70.0, 70.0, 70.0, 2.0 },
            { "c", 5.0, 30.0, 12.0, n, n, n, 3.0 },
            { "d", n, n, n, 30.0, 30.0, 30.0, 3.0 },
            { "e", 1.0, 2.0, 3.0, 4.0, 5.0, 6.0, 3.0 },
            { "f", 1.0, 2.0, 3.0, 4.0, 5.0, 6.0, 3.0 },
        };
        const QVector<QVariant> roomIds { 1, 1, 2, 3, 9, n };
        const QHash<qint64, QString> rooms { { 1, "Цех" }, { 2, "Склад" }, { 3, "Zал" } };
        QVector<RoomSummary::SensorValues> values;
        for (int i = 0; i < sensors.size(); ++i)
            values << RoomSummary::valuesOf(sensors[i], roomIds[i]);
        const QVector<QVector<QVariant>> got = RoomSummary::rows(values, rooms, section, ascendingArrow);
        // The sensors come in the order of their names, the rooms' sensors mixed: any order sums
        // the same rooms.
        for (const QVector<int>& order : { QVector<int> { 5, 4, 3, 2, 1, 0 }, QVector<int> { 0, 2, 4, 1, 3, 5 } }) {
            QVector<RoomSummary::SensorValues> mixed;
            for (int i : order)
                mixed << values[i];
            QCOMPARE(RoomSummary::rows(mixed, rooms, section, ascendingArrow), got);
        }
        QStringList names;
        for (const QVector<QVariant>& room : got)
            names << room[0].toString();
        QCOMPARE(names, order);
        const QVector<QVariant> workshop = got[order.indexOf("Цех")];
        QCOMPARE(workshop, (QVector<QVariant> { "Цех", 10.0, 20.0, 15.0, 40.0, 70.0, 60.0 }));
        QVERIFY(got[order.indexOf("Zал")][1].isNull());
    }

    // When the kept sensors' table reads only the sensors that reported, and when it reads the
    // whole table: a sensor coming into the table or leaving it, another request, a registry
    // change, and sums made again.
    void keptSensorTablePatchesOrReadsWhole_data()
    {
        QTest::addColumn<int>("type"); // the fixture's, unused: the statements are answered here
        QTest::addColumn<QString>("step");
        QTest::addColumn<QString>("reads");
        QTest::addColumn<QStringList>("rows");
        const QStringList updated { "a|1", "b|5", "c|3" };
        QTest::newRow("a reporting sensor is read alone") << 0 << "patch b" << "whole patch" << updated;
        QTest::newRow("nothing new: nothing read") << 0 << "quiet" << "whole" << QStringList { "a|1", "b|2", "c|3" };
        QTest::newRow("a sensor comes into the table") << 0 << "patch d" << "whole patch whole"
                                                       << QStringList { "a|1", "b|5", "c|3", "d|4" };
        QTest::newRow("an unchecked sensor stays out") << 0 << "patch e" << "whole patch" << updated;
        QTest::newRow("a sensor leaves the table") << 0 << "patch c gone" << "whole patch whole"
                                                   << QStringList { "a|1", "b|5" };
        QTest::newRow("the registry changed") << 0 << "registry" << "whole whole" << updated;
        QTest::newRow("another order") << 0 << "order" << "whole whole" << updated;
        QTest::newRow("sums made again") << 0 << "rebuilt" << "whole whole" << updated;
    }
    void keptSensorTablePatchesOrReadsWhole()
    {
        QFETCH(QString, step);
        QFETCH(QString, reads);
        QFETCH(QStringList, rows);
        // The database as the statements find it: sensor id -> name, value, checked.
        struct Sensor {
            QString name;
            double value;
            QString eui;
        };
        QMap<qint64, Sensor> db { { 1, { "a", 1, A } }, { 2, { "b", 2, B } }, { 3, { "c", 3, C } } };
        QStringList done;
        const KeptSensorTable::Runner run = [&](const TableQueries::Query& q) {
            TableRows r;
            const bool patch = q.text.contains(QLatin1String("p.sensor_id IN"));
            done << (patch ? "patch" : "whole");
            for (auto it = db.cbegin(); it != db.cend(); ++it) {
                if (patch && !q.values.contains(it.key()))
                    continue;
                if (!patch && !QStringList({ A, B, C, D }).contains(it->eui))
                    continue;
                r.rows << QVector<QVariant> { it->name, it->value, 0, 0, 0, 0, 0, 3.0, 1, it.key(), it->eui };
            }
            return r;
        };
        KeptSensorTable table;
        TableRequest in;
        in.sensors = QStringList { A, B, C, D };
        in.filter = TableQueries::relativeFilter(T, 8).values;
        const QString byName = TableQueries::orderClause(TableQueries::Sensors, 0, false);
        QString error;
        QVERIFY(table.refresh(in, byName, {}, true, run, &error));
        db[2].value = 5;
        QVariantList changed { 2 };
        if (step == QLatin1String("patch d")) {
            db.insert(4, { "d", 4, D });
            changed << 4;
        } else if (step == QLatin1String("patch e")) {
            db.insert(5, { "e", 9, QStringLiteral("000D6F000000000E") });
            changed << 5;
        } else if (step == QLatin1String("patch c gone")) {
            db.remove(3);
            changed << 3;
        } else if (step == QLatin1String("quiet")) {
            db[2].value = 2;
            changed.clear();
        }
        if (step == QLatin1String("registry"))
            in.registry = 1;
        const QString order = step == QLatin1String("order") ? byName + QStringLiteral(" DESC") : byName;
        QVERIFY(table.refresh(in, order, changed, step == QLatin1String("rebuilt"), run, &error));
        QCOMPARE(done.join(' '), reads);
        QStringList shown;
        for (const QVector<QVariant>& row : table.rows()) {
            shown << row[0].toString() + '|' + row[1].toString();
            // After the columns shown, the address the row's colours follow: "a" is A's.
            QCOMPARE(row.value(8).toString().right(1), row[0].toString().toUpper());
        }
        shown.sort();
        QCOMPARE(shown, rows);
    }

    void summaries()
    {
        QFETCH(int, type);
        QFETCH(QString, variant);
        QFETCH(QStringList, locations);
        QFETCH(QStringList, sensors);
        fill();
        const QStringList checked = variant == QLatin1String("none") ? QStringList() : QStringList { A, B, C, D };
        const TableQueries::TimeFilter filter = variant == QLatin1String("inclusive")
            ? TableQueries::rangeFilter(T + 60, T + 120)
            : TableQueries::rangeFilter(T, T + 120);
        // The ascending arrow means " DESC".
        const bool ascendingArrow = variant == QLatin1String("desc");
        QCOMPARE(run(TableQueries::locationsQuery(type, checked.size(), filter.condition,
                         TableQueries::orderClause(TableQueries::Locations, 0, ascendingArrow)),
                     checked, filter.values),
            locations);
        QCOMPARE(run(TableQueries::sensorsQuery(type, checked.size(), filter.condition,
                         TableQueries::orderClause(TableQueries::Sensors, 0, ascendingArrow)),
                     checked, filter.values),
            sensors);
    }

    void measurements_data()
    {
        QTest::addColumn<int>("type");
        QTest::addColumn<int>("style");
        QTest::addColumn<QStringList>("rows");
        const char* times[] = { "2026-01-01 03:0%1:00", "01-01 03:0%1:00", "01 03:0%1:00", "03:0%1:00" };
        for (int type : { 0, 1 }) {
            for (int style = 0; style < 4; ++style) {
                // The newest two rows of the window, newest first, in local time.
                const QString t = QString::fromLatin1(times[style]);
                QTest::newRow(qPrintable(QStringLiteral("%1 style %2").arg(type == 0 ? "sqlite" : "mysql").arg(style)))
                    << type << style
                    << QStringList { QStringLiteral("Бета|") + t.arg(2) + QStringLiteral("|30|70|2.4|000D6F000000000B"),
                           QStringLiteral("Альфа|") + t.arg(1) + QStringLiteral("|20|60|3|000D6F000000000A") };
            }
        }
    }
    void measurements()
    {
        QFETCH(int, type);
        QFETCH(int, style);
        QFETCH(QStringList, rows);
        fill();
        const QStringList checked { A, B };
        const TableQueries::TimeFilter filter = TableQueries::rangeFilter(T, T + 120);
        const QString text = TableQueries::measurementsQuery(type, checked.size(), filter.condition,
            TableQueries::orderClause(TableQueries::Measurements, 1, true), style, 2);
        QCOMPARE(run(text, checked, filter.values), rows);
    }

    // On SQLite the measurement table reads rows in the order it shows them and stops at its
    // row limit: a year of millions of rows costs what the limit does.
    void measurementsStopAtTheirLimit_data()
    {
        QTest::addColumn<int>("type");
        QTest::addColumn<int>("section");
        QTest::addColumn<bool>("ascendingArrow");
        QTest::addColumn<QString>("index");
        QTest::addColumn<QStringList>("rows");
        const QStringList alpha { QStringLiteral("Альфа|10"), QStringLiteral("Альфа|20") };
        QTest::newRow("by name") << 0 << 0 << false << "measure_sensor_time" << alpha;
        QTest::newRow("by name, descending") << 0 << 0 << true << "measure_sensor_time"
                                             << QStringList { QStringLiteral("Бета|30"), QStringLiteral("Альфа|10") };
        QTest::newRow("by time") << 0 << 1 << false << "measure_time" << alpha;
        QTest::newRow("by time, descending") << 0 << 1 << true << "measure_time"
                                             << QStringList { QStringLiteral("Бета|30"), QStringLiteral("Альфа|20") };
        QTest::newRow("unsorted") << 0 << -1 << false << "measure_sensor_time" << alpha;
        QTest::newRow("mysql by time") << 1 << 1 << false << "measure_time" << alpha;
        QTest::newRow("mysql by time, descending")
            << 1 << 1 << true << "measure_time"
            << QStringList { QStringLiteral("Бета|30"), QStringLiteral("Альфа|20") };
    }
    void measurementsStopAtTheirLimit()
    {
        QFETCH(int, type);
        QFETCH(int, section);
        QFETCH(bool, ascendingArrow);
        QFETCH(QString, index);
        QFETCH(QStringList, rows);
        fill();
        const QStringList checked { A, B };
        const TableQueries::TimeFilter filter = TableQueries::rangeFilter(T, T + 120);
        const QString text = TableQueries::measurementsQuery(type, checked.size(), filter.condition,
            TableQueries::orderClause(TableQueries::Measurements, section, ascendingArrow), 0, 2);
        const QString plan
            = run(QLatin1String(type ? "EXPLAIN " : "EXPLAIN QUERY PLAN ") + text, checked, filter.values).join('\n');
        QVERIFY2(!plan.contains(QLatin1String(type ? "filesort" : "TEMP B-TREE")), qPrintable(plan));
        QVERIFY2(plan.contains(index), qPrintable(plan));
        QStringList shown;
        for (const QString& row : run(text, checked, filter.values))
            shown << row.section(QLatin1Char('|'), 0, 0) + QLatin1Char('|') + row.section(QLatin1Char('|'), 2, 2);
        QCOMPARE(shown, rows);
    }

    // The hours read are those whose bounds reach the limit: a year costs what the limit
    // does, not what the window holds. MariaDB reads each hour as a range of the sensor's rows.
    void valueOrderReadsThroughTheSensorsHours_data() { dialects(); }
    void valueOrderReadsThroughTheSensorsHours()
    {
        QFETCH(int, type);
        fill();
        QString error;
        QVERIFY2(MeasureAggregates::build(f.module->db, type, &error), qPrintable(error));
        const TableQueries::TimeFilter filter = TableQueries::rangeFilter(T, T + 120);
        for (int section : { 2, 3, 4 }) {
            const TableQueries::Query byValue
                = TableQueries::measurementsByValue(type, { A, B }, filter.values, section, false, 0, 2, true);
            const QStringList plan
                = run(QLatin1String(type ? "EXPLAIN " : "EXPLAIN QUERY PLAN ") + byValue.text, {}, byValue.values);
            if (type == 1) {
                // Twice each: the hours and their rows are read once for v and once for the rows.
                int ranges = 0;
                for (const QString& step : plan) {
                    if (QStringList { "m", "h" }.contains(step.section(QLatin1Char('|'), 2, 2))) {
                        QVERIFY2(step.contains(QLatin1String("Range checked for each record")), qPrintable(step));
                        ++ranges;
                    }
                }
                QCOMPARE(ranges, 4);
                continue;
            }
            const QString steps = plan.join('\n');
            QVERIFY2(!steps.contains(QRegularExpression(QStringLiteral("SCAN m\\b"))), qPrintable(steps));
            QVERIFY2(steps.contains(QLatin1String("measure_sensor_time")), qPrintable(steps));
            QVERIFY2(!steps.contains(QLatin1String("measure_time ")), qPrintable(steps));
            // Temperature and humidity are held by the index: their rows are chosen without
            // reading the table, which is then read only by id for the chosen ones.
            QCOMPARE(steps.contains(QLatin1String("COVERING INDEX measure_sensor_time")), section != 4);
            QVERIFY2(steps.contains(QRegularExpression(QStringLiteral("SEARCH r USING INTEGER PRIMARY KEY"))),
                qPrintable(steps));
        }
        // Tables of an older layout without battery bounds: the plain sort stays.
        QVERIFY(TableQueries::measurementsByValue(type, { A }, filter.values, 4, false, 0, 2, false).text.isEmpty());
    }

    void relativeFilterSelectsTheRecentRows_data() { dialects(); }
    void relativeFilterSelectsTheRecentRows()
    {
        QFETCH(int, type);
        fill();
        const TableQueries::TimeFilter filter = TableQueries::relativeFilter(T + 3600 + 60, 0); // "1 минуту"
        QCOMPARE(run(TableQueries::sensorsQuery(type, 1, filter.condition, QString()), { D }, filter.values),
            QStringList { QStringLiteral("Дельта|-5|-5|-5|50|50|50|3.1|000D6F000000000D") });
    }
};

QTEST_GUILESS_MAIN(TestTableQueries)
#include "tst_tablequeries.moc"
