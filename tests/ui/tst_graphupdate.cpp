// A graph refreshed again and again reads only what was stored since, and shows what a whole
// load of the same period shows, whatever arrived, was purged or removed meanwhile.
#include <QDir>
#include <QRandomGenerator>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QtTest>

#include "app/appstate.h"
#include "app/sqliteworkspace.h"
#include "storage/sqlbasemodule.h"
#include "ui/graphloader.h"
#include "storage/graphquery.h"

namespace
{

const QString sensorA = QStringLiteral("000D6F0000000A01");
const QString sensorB = QStringLiteral("000D6F0000000A02");
const qint64 T0 = 1767225600; // 2026-01-01 00:00 UTC

void exec(const QString& statement, const QVariantList& values = {})
{
    QSqlQuery q;
    QVERIFY(q.prepare(statement));
    for (const QVariant& v : values)
        q.addBindValue(v);
    QVERIFY2(q.exec(), qPrintable(statement));
}

QStringList shown(const QVector<GraphSample>& samples)
{
    QStringList lines;
    for (const GraphSample& s : samples)
        lines << QStringLiteral("%1 %2 %3")
                     .arg(s.msecs)
                     .arg(s.hasTemperature ? QString::number(s.temperature) : QStringLiteral("-"))
                     .arg(s.hasWetness ? QString::number(s.wetness) : QStringLiteral("-"));
    return lines;
}

} // namespace

class TestGraphUpdate : public QObject
{
    Q_OBJECT

    std::unique_ptr<SqliteWorkspace> work;

    // One load through the loader's own connection, as the graph asks for it.
    static GraphResult load(GraphLoader& loader, const GraphRequest& request)
    {
        static quint64 serial = 0;
        QSignalSpy spy(&loader, &GraphLoader::loaded);
        loader.load(++serial, request);
        if (spy.size() != 1)
            return {};
        return spy.first().at(1).value<GraphResult>();
    }

private slots:
    void init()
    {
        // The writer's purge at start leaves the rows below alone.
        work = std::make_unique<SqliteWorkspace>([](AppState& state) { state.DaysSave = 3650; });
        QVERIFY(work->isOpen());
        exec(QStringLiteral("INSERT INTO sensors (id, EUI64, name, location, datecheck) VALUES "
                            "(1, ?, 'A', 0, '2026.01.01'), (2, ?, 'B', 0, '2026.01.01')"),
            { sensorA, sensorB });
    }
    void cleanup() { work.reset(); }

    // With a small cap, or a pane narrower than a few samples a pixel, the period comes reduced
    // to time columns while it is read, holding no samples; its refreshes update the columns
    // and draw what a whole load of the same period draws.
    void matchesAWholeLoad_data()
    {
        QTest::addColumn<quint32>("seed");
        QTest::addColumn<int>("cap");
        QTest::addColumn<int>("width");
        for (quint32 seed : { 11u, 12u, 13u, 14u, 15u, 16u }) {
            const QString name = QStringLiteral("seed %1").arg(seed);
            QTest::newRow(qPrintable(name)) << seed << 1000000 << 400;
            QTest::newRow(qPrintable(name + QStringLiteral(", cap 12"))) << seed << 12 << 400;
            QTest::newRow(qPrintable(name + QStringLiteral(", 6 columns"))) << seed << 1000000 << 48;
        }
    }
    void matchesAWholeLoad()
    {
        QFETCH(quint32, seed);
        QFETCH(int, cap);
        QFETCH(int, width);
        QRandomGenerator random(seed);
        GraphLoader loader;
        // Closed however the case ends: a connection left open would serve the next case's
        // loader the database of this one.
        const auto closing = qScopeGuard([&loader] { loader.close(); });
        loader.sampleCap = cap;
        int reduced = 0;
        GraphRequest request;
        request.eui64 = sensorA;
        request.chart.width = width;
        request.chart.height = 300;
        qint64 now = T0;
        // The window ends a little after the last arrival and is this long, as "the last N"
        // periods are; only a longer one starts earlier.
        qint64 span = 600;
        int wholeBefore = 0;
        for (int round = 0; round < 60; ++round) {
            const int what = int(random.bounded(100));
            bool again = false;
            if (what < 50) {
                // Arrivals, some in the same second, some of the other sensor, some without a
                // value, now and then after a silence.
                for (int i = int(random.bounded(12)); i > 0; --i) {
                    now += random.bounded(10) ? random.bounded(3) : 130;
                    const int sensor = random.bounded(4) == 0 ? 2 : 1;
                    exec(QStringLiteral("INSERT INTO measure (sensor_id, timemeasure, temperature, wetness, battery) "
                                        "VALUES (?, ?, ?, ?, 3)"),
                        { sensor, now, random.bounded(5) == 0 ? QVariant() : QVariant(20.0 + random.bounded(50) / 10.0),
                            random.bounded(7) == 0 ? QVariant() : QVariant(40.0 + random.bounded(100) / 10.0) });
                }
            } else if (what < 65) {
                now += random.bounded(40); // time passes, the window moves on
            } else if (what < 75) {
                exec(QStringLiteral("DELETE FROM measure WHERE timemeasure < ?"), { now - 30 - random.bounded(90) });
            } else if (what < 80) {
                // A sensor removed takes its rows; the tree is built again and says so.
                exec(QStringLiteral("DELETE FROM measure WHERE sensor_id=1 AND timemeasure > ?"),
                    { now - random.bounded(30) });
                ++request.generation;
                again = true;
            } else if (what < 85) {
                // The purge of the other sensor's old rows only.
                exec(QStringLiteral("DELETE FROM measure WHERE sensor_id=2 AND timemeasure < ?"), { now });
            } else if (what < 90) {
                span += 30; // an earlier start
                again = true;
            }
            const qint64 from = now + 5 - span;
            request.fromMs = from * 1000;
            request.toMs = (now + 5) * 1000;
            const GraphResult result = load(loader, request);
            const QVector<GraphSample> fresh = GraphQuery::load(sensorA, from, now + 5);
            QCOMPARE(result.reduced, fresh.size() > GraphLoader::heldLimit(request, cap));
            QVERIFY(result.samples.size() <= cap);
            if (result.reduced) {
                ++reduced;
                // The same as the columns of the period read in one piece.
                GraphColumns single(GraphLoader::columnStep(request), request.chart.breakLimitMs());
                for (const GraphSample& s : fresh)
                    single.add(s);
                QVERIFY(GraphLoader::draw(request, single).image == result.image);
            } else {
                QCOMPARE(shown(result.samples), shown(fresh));
            }
            // A loader of its own reads the period whole.
            GraphLoader whole;
            whole.sampleCap = cap;
            const GraphResult held = load(whole, request);
            whole.close();
            QCOMPARE(result.chart.tempMin, held.chart.tempMin);
            QCOMPARE(result.chart.wetnessMax, held.chart.wetnessMax);
            QCOMPARE(result.chart.startMs, held.chart.startMs);
            QVERIFY(result.image == held.image);
            if (again && loader.wholeLoads == wholeBefore && !fresh.isEmpty())
                QFAIL("a change only a whole load can show was read as an update");
            wholeBefore = loader.wholeLoads;
        }
        QVERIFY(loader.updates > 20);
        QVERIFY((cap > 100 && width > 100) || reduced > 5);
    }

    // Another sensor reads its period whole; the first load of a sensor too.
    void anotherSensorLoadsWhole()
    {
        exec(QStringLiteral("INSERT INTO measure (sensor_id, timemeasure, temperature, wetness, battery) VALUES "
                            "(1, ?, 20, 40, 3), (2, ?, 21, 41, 3)"),
            { T0, T0 });
        GraphLoader loader;
        GraphRequest request;
        request.fromMs = (T0 - 60) * 1000;
        request.toMs = (T0 + 60) * 1000;
        request.eui64 = sensorA;
        QCOMPARE(load(loader, request).samples.size(), 1);
        QCOMPARE(load(loader, request).samples.first().temperature, 20.0);
        request.eui64 = sensorB;
        QCOMPARE(load(loader, request).samples.first().temperature, 21.0);
        QCOMPARE(loader.wholeLoads, 2);
        QCOMPARE(loader.updates, 1);
        loader.close();
    }
};

QTEST_MAIN(TestGraphUpdate)
#include "tst_graphupdate.moc"
