// A gateway that cuts one "Mess" short and goes on sending on the same connection: the cut
// message is lost alone, every whole message after it is stored, and nothing is stored under
// the cut sensor. Through the server, the binding, the intake and the database, at every
// position the message can be cut; a whole one is stored at once, whatever its last byte.
#include <QSqlQuery>
#include <QtTest>

#include <memory>

#include "app/gatewayhub.h"
#include "app/payloads.h"
#include "app/sqliteworkspace.h"
#include "gatewaypeer.h"
#include "links/networkmodule.h"

namespace
{

QByteArray z(const char* text)
{
    return QByteArray(text) + '\0';
}

const QByteArray kHello = "Conn" + z("gw") + "Stat" + z("Connected") + z("ETRX357") + z("R309C") + z("000D6F0000AB0001")
    + z("COO") + z("11") + z("3") + z("1A2B") + z("000D6F0000AB1A2B");
const QString kCutSensor = QStringLiteral("000D6F0000C0AFFF");
constexpr int kAfter = 1000;

// Temperature, humidity and battery; the last one a double, so values of both widths follow.
QByteArray message(const QString& eui, int i)
{
    using namespace payloads;
    return "Mess" + eui.toLatin1()
        + payload(3, rec(1, 1, f32(20.0f + i % 50)) + rec(2, 1, f32(40)) + rec(3, 1, f64(3.0 + i / 1000.0)));
}

struct Stored {
    int rows = -1;
    double temperatures = 0;
    double batteries = 0;
};

Stored stored(const QString& eui)
{
    Stored s;
    QSqlQuery q;
    q.prepare(QStringLiteral("SELECT COUNT(*), TOTAL(m.temperature), TOTAL(m.battery) FROM measure m "
                             "JOIN sensors s ON s.id = m.sensor_id WHERE s.EUI64 = ?"));
    q.addBindValue(eui);
    if (q.exec() && q.next()) {
        s.rows = q.value(0).toInt();
        s.temperatures = q.value(1).toDouble();
        s.batteries = q.value(2).toDouble();
    }
    return s;
}

} // namespace

class TestGatewayCuts : public QObject
{
    Q_OBJECT
private:
    std::unique_ptr<SqliteWorkspace> workspace;
    std::unique_ptr<NetworkModule> net;
    std::unique_ptr<GatewayHub> hub;

    // Waits until the gateway's connection is closed and handled, and the writer has stored
    // what it brought: what is stored then is all that ever will be, so a check fails at once.
    bool settled(GatewayPeer& peer)
    {
        // The server takes the connection in this thread, so it may not have seen it yet.
        if (!QTest::qWaitFor([this] { return !net->clients.isEmpty(); }, 10000))
            return false;
        peer.close();
        return QTest::qWaitFor([this] { return net->clients.isEmpty(); }, 10000) && SqliteWorkspace::writerIdle();
    }
    // A case one of whose rows failed: the rest go the same road and would only wait out the
    // same timeouts, row after row, long after the failure is known.
    QByteArray failed;

private slots:
    void initTestCase()
    {
        workspace = std::make_unique<SqliteWorkspace>();
        QVERIFY(workspace->isOpen());
        net = startGatewayServer();
        QVERIFY(net);
        hub = std::make_unique<GatewayHub>(*workspace->state, *net, *workspace->sql);
    }
    void init()
    {
        if (failed == QTest::currentTestFunction())
            QSKIP("an earlier row of this case failed");
    }
    void cleanup()
    {
        if (QTest::currentTestFailed())
            failed = QTest::currentTestFunction();
    }
    void cleanupTestCase()
    {
        hub.reset();
        net.reset();
        workspace.reset();
    }

    void wholeMessageEndsWhereItSays_data()
    {
        QTest::addColumn<int>("last");
        for (int last = 0; last < 256; ++last)
            QTest::addRow("last byte %02X", last) << last;
    }
    void wholeMessageEndsWhereItSays()
    {
        QFETCH(int, last);
        const QString eui = QStringLiteral("000D6F0000C2%1").arg(last, 4, 16, QLatin1Char('0')).toUpper();
        // Numbered temperatures; a battery float whose top byte is `last` ends the message.
        using namespace payloads;
        const QByteArray battery = QByteArray::fromHex("000040") + char(last);
        auto numbered
            = [&](int n) { return "Mess" + eui.toLatin1() + payload(2, rec(1, 1, f32(n)) + rec(3, 1, battery)); };
        GatewayPeer peer;
        QString error;
        QVERIFY2(peer.connectTo(net->serverPort(), &error), qPrintable(error));
        QVERIFY(peer.send(kHello + numbered(1)));
        // One whose last byte may begin a head ("Conn", "Mess", "Stat", "Init") waits for the next.
        if (!QByteArray("CMSI").contains(char(last)))
            QVERIFY(QTest::qWaitFor([&] { return stored(eui).rows == 1; }, 5000));
        QVERIFY(peer.send(numbered(2)));
        QVERIFY(settled(peer));
        QCOMPARE(stored(eui).temperatures, 3.0);
    }

    void cutMessageLosesOnlyItself_data()
    {
        QTest::addColumn<int>("cut");
        QTest::addColumn<bool>("sameWrite"); // the cut and what follows in one write
        const int size = message(kCutSensor, 0).size();
        for (int cut = 1; cut < size; ++cut)
            QTest::addRow("cut at %d", cut) << cut << (cut % 2 == 0);
    }
    void cutMessageLosesOnlyItself()
    {
        QFETCH(int, cut);
        QFETCH(bool, sameWrite);
        // A sensor of its own for each position.
        const QString eui = QStringLiteral("000D6F0000C1%1").arg(cut, 4, 16, QLatin1Char('0')).toUpper();
        QByteArray whole;
        double temperatures = 0;
        double batteries = 0;
        for (int i = 0; i < kAfter; ++i) {
            whole += message(eui, i);
            temperatures += 20.0 + i % 50;
            batteries += 3.0 + i / 1000.0;
        }
        // Stored once everything before it on the connection has been handled.
        const QString marker = QStringLiteral("000D6F0000C3%1").arg(cut, 4, 16, QLatin1Char('0')).toUpper();
        whole += message(marker, 0);
        const QByteArray cutShort = message(kCutSensor, 7).left(cut);
        GatewayPeer peer;
        QString error;
        QVERIFY2(peer.connectTo(net->serverPort(), &error), qPrintable(error));
        if (sameWrite) {
            QVERIFY(peer.send(kHello + cutShort + whole));
        } else {
            QVERIFY(peer.send(kHello + cutShort));
            QTest::qWait(20);
            QVERIFY(peer.send(whole));
        }
        QVERIFY(QTest::qWaitFor([&] { return stored(marker).rows == 1; }, 30000));
        QVERIFY(SqliteWorkspace::writerIdle());
        const Stored s = stored(eui);
        QCOMPARE(s.rows, kAfter);
        QCOMPARE(s.temperatures, temperatures);
        QVERIFY(qAbs(s.batteries - batteries) < 1e-6);
        QCOMPARE(stored(kCutSensor).rows, 0);
        // The connection goes on: one more message, stored as well.
        QVERIFY(peer.send(message(eui, kAfter)));
        QVERIFY(settled(peer));
        QCOMPARE(stored(eui).rows, kAfter + 1);
    }
};

QTEST_GUILESS_MAIN(TestGatewayCuts)
#include "tst_gatewaycuts.moc"
