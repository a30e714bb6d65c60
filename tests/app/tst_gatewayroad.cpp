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

QByteArray z(const char* text)
{
    return QByteArray(text) + '\0';
}

QByteArray hello(const char* name, const char* modemEui)
{
    const QByteArray status = modemEui ? z("Connected") + z("ETRX357") + z("R309C") + z(modemEui) + z("COO") + z("11")
            + z("3") + z("1A2B") + z("000D6F0000AB1A2B")
                                       : z("Disconnected") + z("no modem");
    return "Conn" + z(name) + "Stat" + status;
}

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
    QSqlQuery q;
    return q.exec(statement) && q.next() ? q.value(0).toInt() : -1;
}

// One line per stored measurement: sensor, temperature, humidity, battery ("-" for NULL).
QStringList storedRows()
{
    QStringList rows;
    QSqlQuery q;
    q.exec(QStringLiteral("SELECT s.EUI64, m.temperature, m.wetness, m.battery FROM measure m "
                          "JOIN sensors s ON s.id = m.sensor_id ORDER BY m.id"));
    while (q.next()) {
        QStringList row { q.value(0).toString() };
        for (int i = 1; i <= 3; ++i)
            row << (q.value(i).isNull() ? QStringLiteral("-") : QString::number(q.value(i).toDouble()));
        rows << row.join(' ');
    }
    return rows;
}

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

    void connectPeer(GatewayPeer& peer)
    {
        QString error;
        QVERIFY2(peer.connectTo(net->serverPort(), &error), qPrintable(error));
    }
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
    // messages and the same rows.
    void streamCutAnyWay_data()
    {
        QTest::addColumn<int>("maxChunk"); // 0: all in one write
        QTest::addColumn<int>("maxPause"); // ms between writes
        QTest::addColumn<quint32>("seed");
        QTest::newRow("all in one write") << 0 << 0 << 1u;
        QTest::newRow("one byte at a time") << 1 << 0 << 1u;
        QTest::newRow("one byte at a time, pauses to 15 ms") << 1 << 15 << 2u;
        for (quint32 seed : { 3u, 4u, 5u })
            QTest::addRow("random chunks, pauses to 100 ms, seed %u", seed) << 40 << 100 << seed;
    }
    void streamCutAnyWay()
    {
        QFETCH(int, maxChunk);
        QFETCH(int, maxPause);
        QFETCH(quint32, seed);
        using namespace payloads;
        QByteArray stream = hello("gw", "000D6F0000AB0001");
        QStringList expected;
        for (int i = 0; i < 12; ++i) {
            const QByteArray eui = "000D6F0000C0A00" + QByteArray::number(i % 3 + 1);
            // Every fourth humidity is flagged absent; zero bytes inside values on purpose.
            const int wetFlag = i % 4 == 3 ? 0 : 1;
            stream += "Mess" + eui
                + payload(3, rec(1, 1, f32(20.5f + i)) + rec(2, wetFlag, f32(40.25f)) + rec(3, 1, f64(3.0 + i / 8.0)));
            expected << QStringLiteral("%1 %2 %3 %4")
                            .arg(QString::fromLatin1(eui), QString::number(20.5 + i),
                                wetFlag ? QStringLiteral("40.25") : QStringLiteral("-"),
                                QString::number(3.0 + i / 8.0));
            if (i == 5) {
                // A status between measurements, and an address that is no EUI64.
                stream += "Init" + hello("gw", "000D6F0000AB0001").mid(7 + 4);
                stream += "Mess" + QByteArray("000D6F0000C0A0\0\0", 16) + measurement(1.0f, 2.0f, 3.0f);
            }
        }
        GatewayPeer peer;
        connectPeer(peer);
        QRandomGenerator random(seed);
        for (int at = 0; at < stream.size();) {
            const int n = maxChunk ? random.bounded(1, maxChunk + 1) : stream.size();
            QVERIFY(peer.send(stream.mid(at, n)));
            at += n;
            if (maxPause)
                QTest::qWait(random.bounded(maxPause + 1));
        }
        QTRY_COMPARE_WITH_TIMEOUT(storedRows(), expected, 30000);
        QCOMPARE(state->sensors.size(), 3);
        QCOMPARE(state->locations.size(), 2);
        QVERIFY(peer.isConnected());
    }

    void simulatorGateways_data()
    {
        QTest::addColumn<int>("gateways");
        QTest::addColumn<int>("sensors");
        QTest::addColumn<int>("messages");
        QTest::addColumn<bool>("burst");
        QTest::newRow("paced") << 3 << 2 << 5 << false;
        // As fast as the program takes them, several gateways at once: nothing lost.
        QTest::newRow("burst") << 4 << 10 << 50 << true;
    }
    void simulatorGateways()
    {
        QFETCH(int, gateways);
        QFETCH(int, sensors);
        QFETCH(int, messages);
        QFETCH(bool, burst);
        QProcess sim;
        // The gateways stay until the test has seen what they received: in a burst the program
        // answers well after the last message has left.
        QStringList args { "--port", QString::number(net->serverPort()), "--gateways", QString::number(gateways),
            "--sensors", QString::number(sensors), "--interval", "20", "--count", QString::number(messages), "--quiet",
            "--linger", "120000" };
        if (burst)
            args << "--burst";
        sim.start(QStringLiteral(GATEWAYSIM), args);
        QVERIFY2(sim.waitForStarted(5000), qPrintable(sim.errorString()));
        const int total = gateways * sensors * messages;
        QTRY_COMPARE_WITH_TIMEOUT(count("SELECT COUNT(*) FROM measure"), total, 60000);
        // Every answer left before the last row was stored. Each gateway got the list on
        // arrival, then the interval of each of its own sensors and of no other.
        QString out;
        auto received = [&](int g) {
            out += QString::fromUtf8(sim.readAllStandardOutput());
            return out.count(QStringLiteral("Шлюз %1: Slep").arg(g));
        };
        for (int g = 1; g <= gateways; ++g) {
            QTRY_VERIFY_WITH_TIMEOUT(received(g) >= 1 + sensors, 30000);
            QCOMPARE(received(g), 1 + sensors);
        }
        QVERIFY2(out.contains(QStringLiteral("all sent")), qPrintable(out));
        sim.kill();
        sim.waitForFinished(5000);
        QCOMPARE(state->locations.size(), gateways + 1);
        QCOMPARE(state->sensors.size(), gateways * sensors);
        for (const Sensor* s : state->sensors)
            QVERIFY(s->location >= 1 && s->location <= gateways);
    }
};

QTEST_GUILESS_MAIN(TestGatewayRoad)
#include "tst_gatewayroad.moc"
