// The sensors dialog's removals while sensors keep reporting, on SQLite and the private MariaDB
// server: a modem sensor on a pseudo-terminal and gateways on loopback go through the intake
// and the binding as the application object wires them, the registry editor removes what the
// user chose, and the writer is held at a gate so that the reports arrive while the removal
// waits in its queue. What is stored is read back by the independent readers.
#include <QScopeGuard>
#include <QSemaphore>
#include <QtTest>

#include <algorithm>
#include <memory>

#include "app/gatewayhub.h"
#include "app/modemintake.h"
#include "dialogs/registryeditor.h"
#include "links/gatewaypeer.h"
#include "links/networkmodule.h"
#include "storagetest.h"
#include "tests/app/payloads.h"

namespace
{

const QString kModemSensor = QStringLiteral("000D6F0000C0A001");
const QString kGatewaySensor = QStringLiteral("000D6F0000C0B001");
const QString kOtherSensor = QStringLiteral("000D6F0000C0A002");
const char* const kGatewayModem = "000D6F0000AB0001";

QByteArray gatewayCast(const QString& eui, float temperature)
{
    return "Mess" + eui.toLatin1() + payloads::measurement(temperature, 40.0f, 3.0f);
}

// Holds the writer until opened, as a long job ahead in its queue would: whatever is queued
// meanwhile waits behind it.
class WriterGate
{
public:
    explicit WriterGate(DatabaseWriter* writer)
    {
        // Shared with the job: the writer may still be waking up in it when the gate is gone.
        writer->enqueueJob([gate = gate](QSqlDatabase&, int, QString*) {
            gate->acquire();
            return true;
        });
    }
    ~WriterGate() { open(); }
    void open()
    {
        if (!opened)
            gate->release();
        opened = true;
    }

private:
    std::shared_ptr<QSemaphore> gate = std::make_shared<QSemaphore>();
    bool opened = false;
};

// The editor and both roads on the module of a case, stopped before the module closes.
struct Roads {
    explicit Roads(StorageFixture& f)
        : previous(prompt())
    {
        setPrompt(&answers);
        editor = std::make_unique<RegistryEditor>(*f.state, RegistryEditor::writerOf(*f.state));
        net = startGatewayServer();
        if (net)
            hub = std::make_unique<GatewayHub>(*f.state, *net, *f.module);
        modem = std::make_unique<ModemIntake>(*f.state, *f.module);
    }
    ~Roads()
    {
        hub.reset();
        net.reset();
        modem.reset();
        editor.reset();
        setPrompt(previous);
    }
    Prompt* previous;
    AnsweringPrompt answers; // Ok to the question about a location's sensors
    std::unique_ptr<RegistryEditor> editor;
    std::unique_ptr<NetworkModule> net;
    std::unique_ptr<GatewayHub> hub;
    std::unique_ptr<ModemIntake> modem;
};

} // namespace

class TestRegistryRoads : public StorageTest
{
    Q_OBJECT

    std::unique_ptr<Roads> roads;
    RegistryEditor* editor = nullptr;

    // The registry as the program loads it at start.
    void restart()
    {
        roads.reset();
        f.closeModule();
        qDeleteAll(f.state->locations);
        f.state->locations.clear();
        qDeleteAll(f.state->sensors);
        f.state->sensors.clear();
        f.open();
    }
    // Rows seeded behind the module's back (if any), the registry loaded from them as at
    // start, then both roads and the editor on the module; false when any step failed.
    bool begin(const QString& statements = QString())
    {
        [&] {
            f.open();
            if (!statements.isEmpty()) {
                f.closeModule();
                f.sql(statements);
                QVERIFY2(f.lastError.isEmpty(), qPrintable(f.lastError));
                qDeleteAll(f.state->locations);
                f.state->locations.clear();
                f.open();
            }
            // Stopped before the case's module closes, however the case ends.
            roads = std::make_unique<Roads>(f);
            editor = roads->editor.get();
            QVERIFY(roads->net);
            QString error;
            QVERIFY2(roads->modem->start(*f.state, &error), qPrintable(error));
        }();
        return !QTest::currentTestFailed();
    }
    void connectGateway(GatewayPeer& peer)
    {
        QVERIFY2(peer.connectTo(roads->net->serverPort()), qPrintable(peer.failure));
        QVERIFY(peer.send(hello("Шлюз", kGatewayModem)));
        QTRY_VERIFY(boundLocation() >= 0);
    }
    int boundLocation() const
    {
        const auto& all = f.state->locations;
        const auto found = std::find_if(all.cbegin(), all.cend(), [](const Location* l) { return l->client; });
        return found == all.cend() ? -1 : int(found - all.cbegin());
    }
    // The editor's removal answered and everything queued written, a follow-up included.
    void settle()
    {
        for (int round = 0; round < 2; ++round) {
            QTRY_VERIFY_WITH_TIMEOUT(!editor->isBusy() && f.module->writer->queueLength() == 0, 60000);
            QCoreApplication::sendPostedEvents();
        }
    }
    // Locations by id and sensors by address with their location: memory, then the database.
    QString memoryRegistry() const
    {
        QList<QStringList> rows;
        for (int i = 0; i < f.state->locations.size(); ++i)
            rows << QStringList { QStringLiteral("L"), QString::number(i), f.state->locations[i]->name };
        QList<QStringList> sensors;
        for (const Sensor* s : f.state->sensors)
            sensors << QStringList { QStringLiteral("S"), s->EUI64, QString::number(s->location) };
        std::sort(sensors.begin(), sensors.end());
        return lines(rows + sensors);
    }
    QString storedRegistry()
    {
        return lines(f.sql("SELECT 'L', id, name FROM locations ORDER BY id")
            + f.sql("SELECT 'S', EUI64, location FROM sensors ORDER BY EUI64"));
    }
    static QString lines(const QList<QStringList>& rows)
    {
        QStringList all;
        for (const QStringList& row : rows)
            all << row.join(' ');
        return all.join('\n');
    }
    // Temperatures stored for the sensor, in "measure" or in "removed", in storing order.
    QStringList temperatures(const QString& eui, const char* table)
    {
        const QString sql = QLatin1String(table) == QLatin1String("removed")
            ? QStringLiteral("SELECT temperature FROM removed WHERE EUI64='%1' AND temperature IS NOT NULL ORDER BY id")
            : QStringLiteral("SELECT m.temperature FROM measure m JOIN sensors s ON s.id=m.sensor_id WHERE "
                             "s.EUI64='%1' ORDER BY m.id");
        QStringList values;
        for (const QStringList& row : f.sql(sql.arg(eui)))
            values << row.value(0);
        return values;
    }
    static QStringList numbers(int from, int to)
    {
        QStringList all;
        for (int i = from; i <= to; ++i)
            all << QString::number(i);
        return all;
    }

private slots:
    // A modem sensor with 35 days of history is removed while it keeps reporting, and a gateway's
    // sensor reports all along: every reading is stored exactly once. What the sensor sends
    // after the user's click registers it anew under "Новые датчики" and lands in "measure".
    void removeSensorWhileItReports_data() { dialects(); }
    void removeSensorWhileItReports()
    {
        const auto stop = qScopeGuard([this] { roads.reset(); });
        if (!begin(QStringLiteral("INSERT INTO locations VALUES (1, 'Цех', '', '');\n"
                                  "INSERT INTO sensors (id, EUI64, name, location, datecheck) VALUES "
                                  "(1, '%1', 'a', 1, '2024.01.02');\n"
                                  "INSERT INTO measure (sensor_id, timemeasure) SELECT 1, %2 + 60 * i "
                                  "FROM (WITH RECURSIVE d(i) AS (SELECT 0 UNION ALL SELECT i + 1 FROM d WHERE i < 9) "
                                  "SELECT a.i + 10 * b.i + 100 * c.i + 1000 * e.i + 10000 * g.i AS i "
                                  "FROM d a, d b, d c, d e, d g) AS history WHERE i < 50000")
                       .arg(kModemSensor)
                       .arg(QDateTime::currentSecsSinceEpoch() - 40 * 86400)))
            return;
        GatewayPeer gateway;
        connectGateway(gateway);

        const int before = 5, during = 10, after = 5;
        int value = 0;
        auto reportBoth = [&] {
            ++value;
            QVERIFY(gateway.send(gatewayCast(kGatewaySensor, float(value))));
            QVERIFY(roads->modem->report(kModemSensor, float(value)));
        };
        for (int i = 0; i < before; ++i)
            reportBoth();
        QTRY_VERIFY(f.state->findSensor(kGatewaySensor));
        {
            WriterGate gate(f.module->writer);
            editor->removeSensor(f.state->indexOfSensor(kModemSensor));
            for (int i = 0; i < during; ++i)
                reportBoth();
        }
        QTRY_VERIFY(!editor->isBusy());
        for (int i = 0; i < after; ++i)
            reportBoth();
        settle();

        const int total = before + during + after;
        QCOMPARE(temperatures(kGatewaySensor, "measure"), numbers(1, total));
        // Everything handled before the click went with the history into "removed"; the rest,
        // from the click on at the latest, is the new registration's.
        const QStringList kept = temperatures(kModemSensor, "measure");
        const QStringList moved = temperatures(kModemSensor, "removed");
        QVERIFY2(kept.size() >= during + after, qPrintable(kept.join(' ')));
        QCOMPARE(moved + kept, numbers(1, total));
        QCOMPARE(f.sql("SELECT COUNT(*) FROM removed").value(0).value(0).toInt(), 50000 + moved.size());
        const Sensor* again = f.state->findSensor(kModemSensor);
        QVERIFY(again);
        QCOMPARE(f.state->locationName(again->location), SensorIntake::newSensorsLocation());
        QCOMPARE(storedRegistry(), memoryRegistry());
    }

    // The location of an offline gateway is removed, and the gateway connects again before the
    // removal is written: it gets a location, and every measurement it relays is stored.
    void removeOfflineGatewayLocationWhileItReconnects_data() { dialects(); }
    void removeOfflineGatewayLocationWhileItReconnects()
    {
        const auto stop = qScopeGuard([this] { roads.reset(); });
        if (!begin())
            return;
        int value = 0;
        {
            GatewayPeer gateway;
            connectGateway(gateway);
            QVERIFY(gateway.send(gatewayCast(kGatewaySensor, float(++value))));
            QTRY_VERIFY(f.state->findSensor(kGatewaySensor));
        }
        QTRY_COMPARE(boundLocation(), -1);
        const int gatewayRoom = f.state->findSensor(kGatewaySensor)->location;
        QCOMPARE(gatewayRoom, 1);

        GatewayPeer gateway;
        {
            WriterGate gate(f.module->writer);
            editor->removeLocation(gatewayRoom);
            QCOMPARE(roads->answers.boxes.size(), 2); // the question about its sensor, answered Ok
            connectGateway(gateway);
            for (int i = 0; i < 5; ++i)
                QVERIFY(gateway.send(gatewayCast(kGatewaySensor, float(++value))));
            QTRY_COMPARE(f.state->findSensor(kGatewaySensor)->lastData.temperature, double(value));
        }
        QTRY_VERIFY(!editor->isBusy());
        for (int i = 0; i < 5; ++i)
            QVERIFY(gateway.send(gatewayCast(kGatewaySensor, float(++value))));
        settle();
        QTRY_COMPARE(temperatures(kGatewaySensor, "measure"), numbers(1, value));
        QVERIFY(boundLocation() >= 0);
        QCOMPARE(f.state->findSensor(kGatewaySensor)->location, boundLocation());
        QCOMPARE(storedRegistry(), memoryRegistry());
    }

    // A room is removed while an existing sensor moves to a gateway's location, in the
    // numbering of the moment: memory and database agree, and so does the next start.
    void removeLocationWhileSensorMoves_data() { dialects(); }
    void removeLocationWhileSensorMoves()
    {
        const auto stop = qScopeGuard([this] { roads.reset(); });
        if (!begin(QStringLiteral("INSERT INTO locations VALUES (1, 'Цех', '', '');\n"
                                  "INSERT INTO sensors (EUI64, name, location, datecheck) VALUES "
                                  "('%1', 'a', 0, '2024.01.02'), ('%2', 'b', 1, '2024.01.02')")
                       .arg(kModemSensor, kOtherSensor)))
            return;
        GatewayPeer gateway;
        connectGateway(gateway);
        QCOMPARE(boundLocation(), 2);
        {
            WriterGate gate(f.module->writer);
            editor->removeLocation(1);
            QVERIFY(gateway.send(gatewayCast(kModemSensor, 7.0f)));
            QTRY_COMPARE(f.state->findSensor(kModemSensor)->lastData.temperature, 7.0);
        }
        settle();
        QCOMPARE(f.state->findSensor(kModemSensor)->location, boundLocation());
        const QString inMemory = memoryRegistry();
        QCOMPARE(inMemory.count('\n'), 2 + 2 - 1);
        QCOMPARE(storedRegistry(), inMemory);
        QCOMPARE(temperatures(kModemSensor, "measure"), QStringList { "7" });
        restart();
        QCOMPARE(memoryRegistry(), inMemory);
    }

    // An address is one sensor whatever the case it comes in, on either road: a row stored in
    // lower case keeps its history and its spelling.
    void oneSensorWhateverTheCase_data() { dialects(); }
    void oneSensorWhateverTheCase()
    {
        const auto stop = qScopeGuard([this] { roads.reset(); });
        const QString lower = kModemSensor.toLower();
        if (!begin(QStringLiteral("INSERT INTO sensors (id, EUI64, name, location, datecheck) VALUES "
                                  "(1, '%1', 'a', 0, '2024.01.02'), (2, '%2', 'b', 0, '2024.01.02');\n"
                                  "INSERT INTO measure (sensor_id, timemeasure) VALUES (1, %3), (2, %3)")
                       .arg(lower, kGatewaySensor)
                       .arg(QDateTime::currentSecsSinceEpoch() - 3600)))
            return;
        GatewayPeer gateway;
        connectGateway(gateway);
        QVERIFY(roads->modem->report(kModemSensor, 1.0f));
        QVERIFY(gateway.send(gatewayCast(kGatewaySensor.toLower(), 2.0f)));
        QTRY_COMPARE(f.state->findSensor(kGatewaySensor)->location, boundLocation());
        settle();
        QCOMPARE(f.state->sensors.size(), 2);
        QCOMPARE(f.sql("SELECT EUI64, location FROM sensors ORDER BY id"),
            (QList<QStringList> { { lower, "0" }, { kGatewaySensor, QString::number(boundLocation()) } }));
        QCOMPARE(temperatures(lower, "measure"), (QStringList { "NULL", "1" }));
        QCOMPARE(temperatures(kGatewaySensor, "measure"), (QStringList { "NULL", "2" }));
    }
};

QTEST_MAIN(TestRegistryRoads)
#include "tst_registryroads.moc"
