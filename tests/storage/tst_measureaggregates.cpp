// The per-sensor hourly and daily aggregates on both dialects: their upkeep on a connection,
// their build at start-up, and the summaries that read them against the plain queries over
// "measure" for random data and random windows.
#include <QRandomGenerator>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QtTest>

#include <cmath>

#include "storage/measureaggregates.h"
#include "storagetest.h"
#include "ui/tablequeries.h"

namespace
{

// 2026-01-01 00:00:00 UTC.
const qint64 T = 1767225600;
const int kSensors = 6;

QString eui(int i)
{
    return QStringLiteral("000D6F00000000%1").arg(i, 2, 10, QLatin1Char('0'));
}

QVariant randomValue(QRandomGenerator& random, double base)
{
    if (random.bounded(6) == 0)
        return QVariant(QVariant::Double);
    return std::round((base + random.bounded(30.0)) * 100) / 100;
}

} // namespace

class TestMeasureAggregates : public StorageTest
{
    Q_OBJECT

    QList<QVariantList> rows(const QString& text, const QVariantList& values)
    {
        QSqlQuery q;
        QList<QVariantList> result;
        if (!q.prepare(text))
            return { { QStringLiteral("prepare failed") } };
        for (const QVariant& v : values)
            q.addBindValue(v);
        if (!q.exec())
            return { { QStringLiteral("exec failed") } };
        while (q.next()) {
            QVariantList row;
            for (int i = 0; i < q.record().count(); ++i)
                row << q.value(i);
            result << row;
        }
        return result;
    }

    bool exec(const QString& text, const QVariantList& values = {})
    {
        QSqlQuery q;
        if (!q.prepare(text))
            return false;
        for (const QVariant& v : values)
            q.addBindValue(v);
        return q.exec();
    }

    // Sensors in three rooms (the last one without a last row), then `count` measurements
    // over about nine days from T, written the way the writer writes them: in batches, each
    // with its aggregates in the same transaction, unless `viaAdd` is false.
    void fill(quint32 seed, int count, bool viaAdd)
    {
        QVERIFY(f.open());
        QSqlDatabase db = QSqlDatabase::database();
        QVERIFY(exec(QStringLiteral("INSERT INTO locations VALUES (1, 'Цех', '', '')")));
        QVERIFY(exec(QStringLiteral("INSERT INTO locations VALUES (2, 'Склад', '', '')")));
        for (int i = 1; i <= kSensors; ++i) {
            QVERIFY(exec(QStringLiteral("INSERT INTO sensors (id, EUI64, name, location, sleepInterval, datecheck) "
                                        "VALUES (?, ?, ?, ?, 60, '2026.01.01')"),
                { i, eui(i), QStringLiteral("Датчик %1").arg(i), i % 3 }));
            if (i < kSensors)
                QVERIFY(exec(QStringLiteral("INSERT INTO last VALUES (?, ?, 0, 0, ?)"), { i, T, 3.0 - i / 10.0 }));
        }
        QRandomGenerator random(seed);
        int written = 0;
        while (written < count) {
            const int batch = qMin(count - written, 1 + int(random.bounded(150)));
            QVERIFY(db.transaction());
            QVector<AggregateInput> inputs;
            QSqlQuery insert;
            QVERIFY(insert.prepare(QStringLiteral(
                "INSERT INTO measure (sensor_id, timemeasure, temperature, wetness, battery) VALUES (?,?,?,?,3)")));
            for (int i = 0; i < batch; ++i) {
                const AggregateInput in { 1 + random.bounded(kSensors), T + random.bounded(9 * 86400),
                    randomValue(random, -5), randomValue(random, 30) };
                for (const QVariant& v :
                    { QVariant(in.sensorId), QVariant(in.timemeasure), in.temperature, in.wetness })
                    insert.addBindValue(v);
                QVERIFY(insert.exec());
                inputs << in;
            }
            QString error;
            QVERIFY2(!viaAdd || MeasureAggregates::add(db, f.type, inputs, &error), qPrintable(error));
            QVERIFY(db.commit());
            written += batch;
        }
    }

    // Both summaries from the aggregates equal the plain queries over the window.
    void compare(const QStringList& checked, qint64 first, qint64 last, const TableQueries::TimeFilter& plain)
    {
        QVariantList values;
        for (const QString& s : checked)
            values << s;
        values << plain.values;
        const QString byName = TableQueries::orderClause(TableQueries::Sensors, 0, false);
        const auto sensors = TableQueries::sensorsSummary(f.type, checked, first, last, byName);
        const auto locations = TableQueries::locationsSummary(f.type, checked, first, last, byName);
        const QList<QVariantList> pairs[][2]
            = { { rows(sensors.text, sensors.values),
                    rows(TableQueries::sensorsQuery(f.type, checked.size(), plain.condition, byName), values) },
                  { rows(locations.text, locations.values),
                      rows(TableQueries::locationsQuery(f.type, checked.size(), plain.condition, byName), values) } };
        for (const auto& pair : pairs) {
            const QString where = QStringLiteral("window [%1, %2]").arg(first - T).arg(last - T);
            QVERIFY2(pair[0].size() == pair[1].size(), qPrintable(where));
            for (int r = 0; r < pair[0].size(); ++r) {
                QCOMPARE(pair[0][r].size(), pair[1][r].size());
                QCOMPARE(pair[0][r][0].toString(), pair[1][r][0].toString());
                for (int c = 1; c < pair[0][r].size(); ++c) {
                    const QVariant a = pair[0][r][c];
                    const QVariant b = pair[1][r][c];
                    QVERIFY2(a.isNull() == b.isNull() && std::fabs(a.toDouble() - b.toDouble()) <= 1e-9,
                        qPrintable(where
                            + QStringLiteral(" row %1 column %2: %3 vs %4")
                                  .arg(r)
                                  .arg(c)
                                  .arg(a.toString(), b.toString())));
                }
            }
        }
    }

    // Bucket rows as the independent reader sees them.
    QStringList buckets(const QString& table)
    {
        QStringList out;
        for (const QStringList& row : f.sql(QStringLiteral("SELECT sensor_id, bucket, n, tc, ts, tmin, tmax, wc, ws, "
                                                           "wmin, wmax FROM %1 ORDER BY sensor_id, bucket")
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
        QTest::addColumn<quint32>("seed");
        quint32 seed = 11;
        for (int type : { 0, 1 }) {
            const QString dialect = QLatin1String(type == 0 ? "sqlite" : "mysql");
            for (const char* windows : { "aligned", "unaligned", "short", "relative", "purged", "built", "removed" })
                QTest::newRow(qPrintable(dialect + QLatin1Char(' ') + QLatin1String(windows)))
                    << type << QString::fromLatin1(windows) << ++seed;
        }
    }
    void summariesEqualThePlainQueries()
    {
        QFETCH(int, type);
        QFETCH(QString, windows);
        QFETCH(quint32, seed);
        Q_UNUSED(type)
        const bool built = windows == QLatin1String("built");
        fill(seed, 2500, !built);
        QSqlDatabase db = QSqlDatabase::database();
        QRandomGenerator random(seed + 1);
        QString error;
        if (built) {
            QVERIFY(MeasureAggregates::needsBuild(db, f.type) == false);
            QVERIFY(exec(QStringLiteral("DELETE FROM measure_aggregates_state")));
            QVERIFY(MeasureAggregates::needsBuild(db, f.type));
            QVERIFY2(MeasureAggregates::build(db, f.type, &error), qPrintable(error));
            QVERIFY(!MeasureAggregates::needsBuild(db, f.type));
        } else if (windows == QLatin1String("purged")) {
            // A slice in the middle, then everything before a cut-off, as the hourly purge does.
            const qint64 from = T + 2 * 86400 + random.bounded(86400);
            const qint64 to = from + random.bounded(2 * 86400);
            const qint64 cutoff = T + random.bounded(86400);
            for (const auto& range : { qMakePair(from, to), qMakePair(-MeasureAggregates::kTimeLimit, cutoff) }) {
                QVERIFY(db.transaction());
                QVERIFY(exec(QStringLiteral("DELETE FROM measure WHERE timemeasure>=? AND timemeasure<?"),
                    { range.first, range.second }));
                QVERIFY2(
                    MeasureAggregates::afterPurge(db, f.type, range.first, range.second, &error), qPrintable(error));
                QVERIFY(db.commit());
            }
        } else if (windows == QLatin1String("removed")) {
            QVERIFY(exec(QStringLiteral("DELETE FROM measure WHERE sensor_id=2")));
            QVERIFY2(MeasureAggregates::removeSensor(db, f.type, 2, &error), qPrintable(error));
            QCOMPARE(f.sql(QStringLiteral("SELECT COUNT(*) FROM measure_hourly WHERE sensor_id=2")),
                QList<QStringList> { { QStringLiteral("0") } });
        }
        QStringList all;
        for (int i = 1; i <= kSensors; ++i)
            all << eui(i);
        for (int w = 0; w < 25; ++w) {
            const QStringList checked = w % 5 == 4 ? all.mid(0, 2) : all;
            qint64 first = T - 3600 + random.bounded(10 * 86400);
            qint64 length = 1 + random.bounded(4 * 86400);
            if (windows == QLatin1String("aligned")) {
                const qint64 step = w % 2 ? 86400 : 3600;
                first -= ((first % step) + step) % step;
                length = step * (1 + random.bounded(5));
            } else if (windows == QLatin1String("short")) {
                length = 1 + random.bounded(3599);
            }
            if (windows == QLatin1String("relative")) {
                const int index = w % 18;
                const qint64 now = first + TableQueries::relativeSeconds(index);
                compare(checked, first, MeasureAggregates::kTimeLimit, TableQueries::relativeFilter(now, index));
            } else {
                compare(checked, first, first + length - 1, TableQueries::rangeFilter(first, first + length - 1));
            }
            if (QTest::currentTestFailed())
                return;
        }
        // An inverted window has no rows, as the plain query has none.
        compare(all, T + 86400, T, TableQueries::rangeFilter(T + 86400, T));
    }

    void upkeepOnAConnection_data() { dialects(); }
    void upkeepOnAConnection()
    {
        QVERIFY(f.open());
        QSqlDatabase db = QSqlDatabase::database();
        const QVariant none(QVariant::Double);
        const QVector<AggregateInput> rows { { 1, T + 10, 20.5, none }, { 1, T + 20, none, none },
            { 1, T + 3700, 19.0, 40.0 }, { 2, T + 86400, -1.25, 55.5 } };
        const QVector<AggregateInput> more { { 1, T + 30, 22.0, 41.0 } };
        QString error;
        QVERIFY2(MeasureAggregates::add(db, f.type, rows, &error), qPrintable(error));
        QVERIFY2(MeasureAggregates::add(db, f.type, more, &error), qPrintable(error));
        const QString t = QString::number(T);
        const QString t1 = QString::number(T + 3600);
        const QString d1 = QString::number(T + 86400);
        QCOMPARE(buckets(QStringLiteral("measure_hourly")),
            QStringList({ QStringLiteral("1 %1 3 2 42.5 20.5 22 1 41 41 41").arg(t),
                QStringLiteral("1 %1 1 1 19 19 19 1 40 40 40").arg(t1),
                QStringLiteral("2 %1 1 1 -1.25 -1.25 -1.25 1 55.5 55.5 55.5").arg(d1) }));
        QCOMPARE(buckets(QStringLiteral("measure_daily")),
            QStringList({ QStringLiteral("1 %1 4 3 61.5 19 22 2 81 40 41").arg(t),
                QStringLiteral("2 %1 1 1 -1.25 -1.25 -1.25 1 55.5 55.5 55.5").arg(d1) }));

        // The purge recounts the hour it cut from what "measure" still holds.
        for (int i : { 1, 2 })
            QVERIFY(exec(QStringLiteral("INSERT INTO sensors (id, EUI64, name, location, sleepInterval, datecheck) "
                                        "VALUES (?, ?, 'x', 0, 60, '2026.01.01')"),
                { i, eui(i) }));
        QVERIFY(exec(QStringLiteral("INSERT INTO measure (sensor_id, timemeasure, temperature, wetness) VALUES "
                                    "(1, ?, NULL, NULL), (1, ?, 19, 40), (2, ?, -1.25, 55.5)"),
            { T + 20, T + 3700, T + 86400 }));
        QVERIFY2(MeasureAggregates::afterPurge(db, f.type, T - 100, T + 15, &error), qPrintable(error));
        QCOMPARE(buckets(QStringLiteral("measure_hourly")),
            QStringList({ QStringLiteral("1 %1 1 0 0 NULL NULL 0 0 NULL NULL").arg(t),
                QStringLiteral("1 %1 1 1 19 19 19 1 40 40 40").arg(t1),
                QStringLiteral("2 %1 1 1 -1.25 -1.25 -1.25 1 55.5 55.5 55.5").arg(d1) }));
        QCOMPARE(
            buckets(QStringLiteral("measure_daily")).value(0), QStringLiteral("1 %1 2 1 19 19 19 1 40 40 40").arg(t));

        QVERIFY2(MeasureAggregates::removeSensor(db, f.type, 1, &error), qPrintable(error));
        QCOMPARE(buckets(QStringLiteral("measure_hourly")),
            QStringList { QStringLiteral("2 %1 1 1 -1.25 -1.25 -1.25 1 55.5 55.5 55.5").arg(d1) });
        QCOMPARE(buckets(QStringLiteral("measure_daily")).size(), 1);
    }

    // A database from before the aggregates is built once, with the start-up window told.
    void existingDatabaseIsBuiltOnce_data() { dialects(); }
    void existingDatabaseIsBuiltOnce()
    {
        fill(7, 300, false);
        f.closeModule();
        f.sql(QStringLiteral(
            "DROP TABLE measure_hourly;\nDROP TABLE measure_daily;\nDROP TABLE measure_aggregates_state"));
        QVERIFY2(f.lastError.isEmpty(), qPrintable(f.lastError));
        for (int start = 0; start < 2; ++start) {
            f.state->aggregatesReady = false;
            f.module = std::make_unique<SQLBaseModule>();
            QStringList texts;
            connect(f.module.get(), &SQLBaseModule::signalSetInitInfoString, [&texts](QString text) { texts << text; });
            if (f.type == 1)
                f.module->init(1, QStringLiteral("127.0.0.1"), f.server.user(), f.server.password(), f.databaseName,
                    f.server.port());
            else
                f.module->init(0, QString(), QString(), QString(), QString(), 0);
            QCOMPARE(texts,
                start == 0 ? QStringList { QStringLiteral("Подготовка сводных данных по измерениям (один раз)...") }
                           : QStringList());
            QVERIFY(f.state->aggregatesReady);
            QCOMPARE(f.sql(QStringLiteral("SELECT SUM(n) FROM measure_daily")),
                QList<QStringList> { { QStringLiteral("300") } });
            f.closeModule();
        }
    }
};

QTEST_GUILESS_MAIN(TestMeasureAggregates)
#include "tst_measureaggregates.moc"
