// Binding of gateways to locations, their release and the sleep intervals told to gateways:
// the registry in memory and the rows in the database afterwards.
#include <QDir>
#include <QtTest>

#include "sqliteworkspace.h"
#include "app/appstate.h"
#include "app/gatewaybinding.h"
#include "links/zigbeeclient.h"
#include "storage/sqlbasemodule.h"

namespace
{

using Outcome = GatewayBinding::Outcome;
const QString kNone = QStringLiteral("0000000000000000");

ZigBeeClient gateway(const QString& name, const QString& modemEui = QString())
{
    ZigBeeClient c;
    c.name = name;
    c.modemConnected = !modemEui.isNull();
    c.modem.EUI64 = modemEui;
    return c;
}

} // namespace

class TestGatewayBinding : public QObject
{
    Q_OBJECT

private:
    SqliteWorkspace* workspace = nullptr;
    AppState* state = nullptr;
    SQLBaseModule* sql = nullptr;
    GatewayBinding* binding = nullptr;

    Location* addLocation(const QString& name, const QString& eui, const QString& ip)
    {
        auto* l = new Location;
        l->name = name;
        l->EUI64 = eui;
        l->ip = ip;
        state->locations.append(l);
        return l;
    }
    // name|EUI64|ip|bound client number (0: none) for every location
    QStringList registry(const QVector<const ZigBeeClient*>& clients) const
    {
        QStringList out;
        for (const Location* l : state->locations)
            out << QStringList { l->name, l->EUI64, l->ip, QString::number(clients.indexOf(l->client) + 1) }.join('|');
        return out;
    }

private slots:
    void init()
    {
        workspace = new SqliteWorkspace;
        QVERIFY(workspace->isOpen());
        state = workspace->state.get();
        sql = workspace->sql.get();
        // A fresh database holds location 0, "Новые датчики".
        QCOMPARE(state->locations.size(), 1);
        binding = new GatewayBinding(*state);
    }
    void cleanup()
    {
        delete binding;
        delete workspace;
    }

    void firstStatusCreatesLocation_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("modemEui");
        QTest::addColumn<QString>("storedEui");
        QTest::newRow("modem connected") << "Шлюз 1"
                                         << "000D6F0000AB0001"
                                         << "000D6F0000AB0001";
        QTest::newRow("modem not connected") << "Шлюз 1" << QString() << kNone;
        QTest::newRow("quote in the name") << "O'Brien's \"hall\""
                                           << "000D6F0000AB0001"
                                           << "000D6F0000AB0001";
        QTest::newRow("status before Conn: empty name") << "" << QString() << kNone;
    }
    void firstStatusCreatesLocation()
    {
        QFETCH(QString, name);
        QFETCH(QString, modemEui);
        QFETCH(QString, storedEui);
        ZigBeeClient c = gateway(name, modemEui);
        QCOMPARE(binding->bind(&c, "::ffff:10.0.0.7"), Outcome::Created);
        QCOMPARE(registry({ &c }),
            QStringList({ "Новые датчики|||0", QStringList { name, storedEui, "::ffff:10.0.0.7", "1" }.join('|') }));
        // Stored with the former list length as id, the texts exactly as they are.
        QCOMPARE(SqliteWorkspace::rows("SELECT id, name, EUI64, ip FROM locations WHERE id=1"),
            QStringList({ QStringList { "1", name, storedEui, "::ffff:10.0.0.7" }.join('|') }));
    }

    void reconnectFindsLocation_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("modemEui");
        QTest::addColumn<bool>("connected");
        QTest::addColumn<QString>("peer");
        QTest::addColumn<int>("found"); // index of the location bound
        // Locations 1-3 stand ready: one per pass that can find them.
        QTest::newRow("by the modem's EUI64") << "new name"
                                              << "000D6F0000AB0002" << true << "10.9.9.9" << 2;
        QTest::newRow("by the modem's EUI64 in another case") << "new name"
                                                              << "000d6f0000ab0002" << true << "10.9.9.9" << 2;
        QTest::newRow("EUI64 before address") << "gw C"
                                              << "000D6F0000AB0002" << true << "10.0.0.1" << 2;
        QTest::newRow("by address") << "new name"
                                    << "" << false << "10.0.0.1" << 1;
        QTest::newRow("modem down: no EUI64 pass") << "new name"
                                                   << "000D6F0000AB0002" << false << "10.0.0.1" << 1;
        QTest::newRow("address before name") << "gw C"
                                             << "" << false << "10.0.0.2" << 2;
        QTest::newRow("by name") << "gw C"
                                 << "" << false << "10.9.9.9" << 3;
        QTest::newRow("by address stored IPv4-mapped") << "new name"
                                                       << "" << false << "10.0.0.3" << 3;
    }
    void reconnectFindsLocation()
    {
        QFETCH(QString, name);
        QFETCH(QString, modemEui);
        QFETCH(bool, connected);
        QFETCH(QString, peer);
        QFETCH(int, found);
        addLocation("gw A", "000D6F0000AB0001", "10.0.0.1");
        addLocation("gw B", "000D6F0000AB0002", "10.0.0.2");
        addLocation("gw C", kNone, "::ffff:10.0.0.3");
        const QStringList before = SqliteWorkspace::rows("SELECT * FROM locations");
        ZigBeeClient c = gateway(name, modemEui);
        c.modemConnected = connected;
        QCOMPARE(binding->bind(&c, peer), Outcome::Bound);
        QCOMPARE(state->locations.size(), 4);
        const Location* l = state->locations[found];
        QCOMPARE(l->client, &c);
        QCOMPARE(l->name, name);
        QCOMPARE(l->ip, peer);
        const QStringList loaded { "", "000D6F0000AB0001", "000D6F0000AB0002", kNone };
        QCOMPARE(l->EUI64, connected ? modemEui : loaded[found]);
        // Rebinding changes memory only.
        QCOMPARE(SqliteWorkspace::rows("SELECT * FROM locations"), before);
    }

    void statusSequences()
    {
        // Unconnected first, then connected: the same location gets the real EUI64.
        ZigBeeClient a = gateway("gw A");
        QCOMPARE(binding->bind(&a, "10.0.0.1"), Outcome::Created);
        a.modemConnected = true;
        a.modem.EUI64 = "000D6F0000AB0001";
        QCOMPARE(binding->bind(&a, "10.0.0.1"), Outcome::Bound);
        // A second gateway reporting the same modem takes the EUI64 from the first location.
        ZigBeeClient b = gateway("gw B", "000D6F0000AB0001");
        QCOMPARE(binding->bind(&b, "10.0.0.2"), Outcome::Created);
        QCOMPARE(registry({ &a, &b }),
            QStringList({ "Новые датчики|||0", "gw A|" + kNone + "|10.0.0.1|1", "gw B|000D6F0000AB0001|10.0.0.2|2" }));

        // Release keeps what the next connection finds the location by.
        binding->release(&a);
        binding->release(&a);
        QCOMPARE(registry({ &a, &b }),
            QStringList({ "Новые датчики|||0", "gw A|" + kNone + "|10.0.0.1|0", "gw B|000D6F0000AB0001|10.0.0.2|2" }));
        ZigBeeClient again = gateway("gw A", "000D6F0000AB0003");
        QCOMPARE(binding->bind(&again, "10.0.0.1"), Outcome::Bound);
        QCOMPARE(state->locations[1]->client, &again);
        QCOMPARE(state->locations[1]->EUI64, QString("000D6F0000AB0003"));
        QCOMPARE(binding->bind(nullptr, "10.0.0.1"), Outcome::Ignored);
    }

    void unconnectedGatewayNamedLikeRoom()
    {
        addLocation("Склад", "", "");
        addLocation("Офис", "", "");
        ZigBeeClient c = gateway("Склад");
        QCOMPARE(binding->bind(&c, "10.0.0.5"), Outcome::Bound);
        // The room is bound by its name; every other location with the same (empty) EUI64
        // gets the "no modem" value.
        QCOMPARE(registry({ &c }),
            QStringList({ "Новые датчики|" + kNone + "||0", "Склад||10.0.0.5|1", "Офис|" + kNone + "||0" }));
    }

    void sleepList_data()
    {
        QTest::addColumn<int>("sensors");
        QTest::addColumn<QByteArray>("frame");
        QTest::newRow("none") << 0 << QByteArray("Slep");
        QTest::newRow("one") << 1
                             << QByteArray("Slep000D6F0000C0A000\0"
                                           "60\0",
                                    24);
        QTest::newRow("three, several locations") << 3
                                                  << QByteArray("Slep000D6F0000C0A000\0"
                                                                "60\0"
                                                                "000D6F0000C0A001\0"
                                                                "61\0"
                                                                "000D6F0000C0A002\0"
                                                                "62\0",
                                                         64);
    }
    void sleepList()
    {
        QFETCH(int, sensors);
        QFETCH(QByteArray, frame);
        for (int i = 0; i < sensors; ++i) {
            auto* s = new Sensor;
            s->EUI64 = QStringLiteral("000D6F0000C0A00%1").arg(i);
            s->sleepInterval = 60 + i;
            s->location = i % 2;
            state->sensors.append(s);
        }
        QCOMPARE(binding->sleepList(), frame);
    }

    void newSleepInterval()
    {
        auto* s = new Sensor;
        s->EUI64 = "000D6F0000C0A000";
        state->sensors.append(s);
        QVERIFY(binding->setSleepInterval(s, 900));
        QCOMPARE(s->sleepInterval, 900);
        QCOMPARE(binding->sleepList(),
            QByteArray("Slep000D6F0000C0A000\0"
                       "900\0",
                25));
        QVERIFY(!binding->setSleepInterval(nullptr, 900));
    }
};

QTEST_GUILESS_MAIN(TestGatewayBinding)
#include "tst_gatewaybinding.moc"
