// Gateways on loopback through the whole road: the server, the binding and the intake wired as
// the application object wires them, with the database behind them.
#include <QDir>
#include <QProcess>
#include <QRandomGenerator>
#include <QSqlQuery>
#include <QtTest>

#include <memory>

#include "sqliteworkspace.h"
#include "app/appstate.h"
#include "gatewayhub.h"
#include "links/gatewaypeer.h"
#include "links/networkmodule.h"
#include "links/zigbeeclient.h"
#include "payloads.h"
#include "storage/sqlbasemodule.h"

namespace
{

// count 3: 21.5 °C, 40 %, 3.0 V as little-endian floats, flags set
const QByteArray kPayload = QByteArray::fromHex("03010104000"
                                                "0ac41020104000020420301040000404"
                                                "0");

QByteArray cast(const char* eui)
{
    return "Mess" + QByteArray(eui) + kPayload;
}

int count(const QString& statement)
{
    if (!SqliteWorkspace::writerIdle())
        return -2;
    QSqlQuery q;
    return q.exec(statement) && q.next() ? q.value(0).toInt() : -1;
}

// One line per stored measurement: sensor, temperature, humidity ("-" for NULL), battery.
const QString kStoredRows = QStringLiteral("SELECT s.EUI64, m.temperature, IFNULL(m.wetness, '-'), m.battery "
                                           "FROM measure m JOIN sensors s ON s.id = m.sensor_id ORDER BY m.id");

} // namespace

class TestGatewayRoad : public QObject
{
    Q_OBJECT

private:
    SqliteWorkspace* workspace = nullptr;
    AppState* state = nullptr;
    SQLBaseModule* sql = nullptr;
    std::unique_ptr<NetworkModule> net;
    GatewayHub* hub = nullptr;

    void connectPeer(GatewayPeer& peer) { QVERIFY2(peer.connectTo(net->serverPort()), qPrintable(peer.failure)); }
    int locationOf(const QString& eui)
    {
        const Sensor* s = state->findSensor(eui);
        return s ? s->location : -1;
    }

private slots:
    void init()
    {
        workspace = new SqliteWorkspace;
        QVERIFY(workspace->isOpen());
        state = workspace->state.get();
        sql = workspace->sql.get();
        net = startGatewayServer();
        QVERIFY(net);
        hub = new GatewayHub(*state, *net, *sql);
    }
    void cleanup()
    {
        delete hub;
        net.reset();
        delete workspace;
    }

    void newSensorThroughGateway()
    {
        GatewayPeer a, b;
        connectPeer(a);
        connectPeer(b);
        QVERIFY(a.send(hello("Шлюз A", "000D6F0000AB0001")));
        QTRY_COMPARE(a.received(), QByteArray("Slep"));
        QTRY_COMPARE(state->locations.size(), 2);
        QVERIFY(a.send(cast("000D6F0000C0A001")));
        QTRY_COMPARE(count("SELECT COUNT(*) FROM measure"), 1);
        // Registered in the gateway's room and announced to that gateway alone: no other one
        // relays to the sensor.
        QCOMPARE(locationOf("000D6F0000C0A001"), 1);
        QCOMPARE(state->findSensor("000D6F0000C0A001")->name, QString("Датчик 1"));
        const QByteArray announce = "Slep" + z("000D6F0000C0A001") + z("60");
        QTRY_COMPARE(a.received(), "Slep" + announce);
        QCOMPARE(b.received(), QByteArray());
        QCOMPARE(count("SELECT COUNT(*) FROM sensors WHERE location=1 AND name='Датчик 1'"), 1);
        QCOMPARE(count("SELECT COUNT(*) FROM locations WHERE id=1 AND EUI64='000D6F0000AB0001'"), 1);
    }

    void castWithoutBoundModemIsDropped_data()
    {
        QTest::addColumn<QByteArray>("introduction");
        QTest::newRow("Conn only") << "Conn" + z("gw");
        QTest::newRow("modem not connected") << hello("gw", nullptr);
        // Such a status is dropped: the address would be its location's.
        QTest::newRow("modem address of 17 digits") << hello("gw", "000D6F0000AB00011");
    }
    void castWithoutBoundModemIsDropped()
    {
        QFETCH(QByteArray, introduction);
        auto* known = new Sensor;
        known->EUI64 = "000D6F0000C0A009";
        known->sleepInterval = 300;
        state->sensors.append(known);
        const QByteArray list = "Slep" + z("000D6F0000C0A009") + z("300");
        GatewayPeer peer;
        connectPeer(peer);
        QVERIFY(peer.send(introduction));
        QTRY_COMPARE(peer.received(), list);
        QVERIFY(peer.send(cast("000D6F0000C0A001")));
        // The gateway is told the list again and nothing is stored.
        QTRY_COMPARE(peer.received(), list + list);
        QCOMPARE(count("SELECT COUNT(*) FROM measure"), 0);
        QCOMPARE(state->sensors.size(), 1);
    }

    void sensorMovesBetweenGateways()
    {
        GatewayPeer a, b;
        connectPeer(a);
        connectPeer(b);
        QVERIFY(a.send(hello("A", "000D6F0000AB0001")));
        QTRY_COMPARE(state->locations.size(), 2);
        QVERIFY(b.send(hello("B", "000D6F0000AB0002")));
        QTRY_COMPARE(state->locations.size(), 3);
        QVERIFY(a.send(cast("000D6F0000C0A001")));
        QTRY_COMPARE(locationOf("000D6F0000C0A001"), 1);
        QVERIFY(b.send(cast("000D6F0000C0A001")));
        QTRY_COMPARE(count("SELECT location FROM sensors WHERE EUI64='000D6F0000C0A001'"), 2);
        QCOMPARE(locationOf("000D6F0000C0A001"), 2);
        // B connected before the sensor was known: it is told the interval on the move.
        QTRY_COMPARE(b.received(), "Slep" + ("Slep" + z("000D6F0000C0A001") + z("60")));
        QVERIFY(b.send(cast("000D6F0000C0A001")));
        QTRY_COMPARE(count("SELECT COUNT(*) FROM measure"), 3);
        QCOMPARE(count("SELECT COUNT(*) FROM sensors"), 1);
    }

    void castThenCloseIsStored()
    {
        GatewayPeer peer;
        connectPeer(peer);
        QVERIFY(peer.sendAndClose(hello("gw", "000D6F0000AB0001") + cast("000D6F0000C0A001")));
        QTRY_COMPARE(count("SELECT COUNT(*) FROM measure"), 1);
        QTRY_VERIFY(net->clients.isEmpty());
        // Released, and found again by the next connection.
        QCOMPARE(state->locations[1]->client, nullptr);
        GatewayPeer again;
        connectPeer(again);
        QVERIFY(again.send(hello("gw", "000D6F0000AB0001") + cast("000D6F0000C0A001")));
        QTRY_COMPARE(count("SELECT COUNT(*) FROM measure"), 2);
        QCOMPARE(state->locations.size(), 2);
    }

    // The same bytes, however the network cuts them and however long it pauses, give the same
    // rows; a status and an address that is no EUI64 ride along.
    void streamCutAnyWay_data()
    {
        QTest::addColumn<int>("maxChunk"); // 0: all in one write
        QTest::addColumn<int>("maxPause"); // ms after each write
        QTest::newRow("all in one write") << 0 << 0;
        QTest::newRow("one byte at a time") << 1 << 0;
        QTest::newRow("one byte at a time, pauses to 15 ms") << 1 << 15;
        QTest::newRow("random chunks, pauses to 100 ms") << 40 << 100;
    }
    void streamCutAnyWay()
    {
        QFETCH(int, maxChunk);
        QFETCH(int, maxPause);
        QByteArray stream = hello("gw", "000D6F0000AB0001") + "Mess" + QByteArray("000D6F0000C0A0\0\0", 16) + kPayload;
        QStringList expected;
        for (int i = 0; i < 12; ++i) {
            const QByteArray eui = "000D6F0000C0A00" + QByteArray::number(i % 3 + 1);
            using namespace payloads;
            stream += "Mess" + eui + payload(3, rec(1, 1, f32(20.5f + i)) + rec(2, i % 4, f32(40)) + rec(3, 1, f64(i)));
            expected << QStringLiteral("%1 %2 %3 %4").arg(eui, QString::number(20.5 + i), i % 4 ? "40" : "-").arg(i);
            if (i == 5)
                stream += "Init" + hello("gw", "000D6F0000AB0001").mid(11);
        }
        GatewayPeer peer;
        connectPeer(peer);
        QRandomGenerator random(1);
        for (int at = 0, n = 0; at < stream.size(); at += n) {
            n = maxChunk ? random.bounded(1, maxChunk + 1) : stream.size();
            QVERIFY(peer.send(stream.mid(at, n)));
            QTest::qWait(maxPause ? random.bounded(maxPause + 1) : 0);
        }
        QTRY_COMPARE_WITH_TIMEOUT(SqliteWorkspace::rows(kStoredRows, ' '), expected, 30000);
        QCOMPARE(state->sensors.size(), 3);
    }

    void simulatorGateways()
    {
        QProcess sim;
        sim.start(QStringLiteral(GATEWAYSIM),
            { "--port", QString::number(net->serverPort()), "--gateways", "3", "--sensors", "2", "--interval", "20",
                "--count", "5", "--quiet" });
        QVERIFY2(sim.waitForStarted(5000), qPrintable(sim.errorString()));
        QTRY_COMPARE_WITH_TIMEOUT(sim.state(), QProcess::NotRunning, 30000);
        QCOMPARE(sim.exitCode(), 0);
        const QString out = QString::fromUtf8(sim.readAllStandardOutput());
        QVERIFY2(out.contains("total sent: 30"), qPrintable(out));
        // Each gateway printed the list it got on arrival, and every new sensor's interval.
        for (int g = 1; g <= 3; ++g)
            QVERIFY2(out.contains(QStringLiteral("Шлюз %1: Slep").arg(g)), qPrintable(out));
        // gatewaysim numbers its sensors apart from modemsim's.
        QVERIFY2(out.contains("Slep 000D6F0000C0B005=60"), qPrintable(out));
        QTRY_COMPARE(count("SELECT COUNT(*) FROM measure"), 30);
        QCOMPARE(state->locations.size(), 4);
        QCOMPARE(state->sensors.size(), 6);
        for (const Sensor* s : state->sensors)
            QVERIFY(s->location >= 1 && s->location <= 3);
    }
};

QTEST_GUILESS_MAIN(TestGatewayRoad)
#include "tst_gatewayroad.moc"
