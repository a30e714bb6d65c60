// The road of one measurement, modem and gateway: what the sensor is told, what the registry
// and the database hold afterwards, which alarms go out, and in which order.
#include <QDir>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QtEndian>
#include <QtTest>

#include <cstring>

#include "sqliteworkspace.h"
#include "app/appstate.h"
#include "app/sensorintake.h"
#include "links/sensorpayload.h"
#include "links/zigbeeclient.h"
#include "storage/sqlbasemodule.h"

#include "payloads.h"

using namespace payloads;

namespace {

class RecordingSink : public IntakeSink
{
public:
    QStringList events;
    QList<NotificationsMessage> messages;
    int saves = 0;

    void modemSensorInterval(const QString& eui64, int interval) override
    {
        events << QStringLiteral("interval %1 %2").arg(eui64).arg(interval);
    }
    void sensorRegistered() override { events << QStringLiteral("new-sensor"); }
    void sensorMoved() override { events << QStringLiteral("moved"); }
    void announceSleepInterval(ZigBeeClient* client, const QString& eui64, int interval) override
    {
        events << QStringLiteral("slep %1 %2 %3").arg(client ? client->name : "all", eui64).arg(interval);
    }
    void registryChanged() override
    {
        ++saves;
        events << QStringLiteral("save");
    }
    void storeMeasurement(const PendingMeasurement& m) override
    {
        events << QStringLiteral("store");
        sql->writer->enqueue(m);
    }
    void raiseNotification(const NotificationsMessage& m) override
    {
        messages << m;
        events << QStringLiteral("alarm %1").arg(m.type);
    }
    void showStatus(const QString& text) override { events << QStringLiteral("status ") + text; }
    void resendSensorList(ZigBeeClient*) override { events << QStringLiteral("sensor-list"); }

    SQLBaseModule* sql = nullptr;
};

}  // namespace

class TestIntake : public QObject
{
    Q_OBJECT

private:
    SqliteWorkspace* workspace = nullptr;
    AppState* state = nullptr;
    SQLBaseModule* sql = nullptr;
    RecordingSink* sink = nullptr;
    SensorIntake* intake = nullptr;
    qint64 clock = 0;

    // Reads once the writer has stored everything queued so far.
    QVariantList row(const QString& statement)
    {
        if (!SqliteWorkspace::writerIdle())
            return {};
        QSqlQuery q;
        if (!q.exec(statement) || !q.next())
            return {};
        QVariantList values;
        for (int i = 0; i < q.record().count(); ++i)
            values << q.value(i);
        return values;
    }
    int count(const QString& table) { return row(QStringLiteral("SELECT COUNT(*) FROM ") + table).value(0).toInt(); }

private slots:
    void init()
    {
        workspace = new SqliteWorkspace;
        QVERIFY(workspace->isOpen());
        state = workspace->state.get();
        sql = workspace->sql.get();
        state->BreakInterval = 120;
        state->isActive = true;
        state->isSensorLost = true;
        state->TemperatureMinCritical = 5;
        state->TemperatureMinWarning = 10;
        state->TemperatureMaxWarning = 25;
        state->TemperatureMaxCritical = 30;
        state->isMaxNonCriticalTemperature = state->isMaxCriticalTemperature = true;
        state->isBatteryLow = true;
        sink = new RecordingSink;
        sink->sql = sql;
        clock = QDateTime(QDate(2026, 3, 1), QTime(12, 0)).toMSecsSinceEpoch();
        intake = new SensorIntake(*state, *sink, [this] { return clock; });
    }
    void cleanup()
    {
        delete intake;
        delete sink;
        delete workspace;
    }

    void unknownSensorOnTheModemRoad()
    {
        // A fresh file has location 0 in the database; the registry in memory has it too.
        QCOMPARE(state->locations.size(), 1);
        intake->modemCast(QStringLiteral("UCAST"), QStringLiteral("000D6F0000ABCDEF"), measurement(31.0f, 50.0f, 2.4f));

        // The modem answered it with 20 s; from its next message on it answers with the interval
        // the registration gave it.
        QCOMPARE(sink->events,
            (QStringList { "save", "new-sensor", "interval 000D6F0000ABCDEF 60", "store", "alarm 4", "alarm 5", "alarm 10",
                "status Получен UCAST от 000D6F0000ABCDEF" }));
        QCOMPARE(state->sensors.size(), 1);
        const Sensor* s = state->sensors.first();
        QCOMPARE(s->name, QStringLiteral("Датчик1"));
        QCOMPARE(s->location, 0);
        QCOMPARE(s->sleepInterval, 60);
        QVERIFY(s->online);
        QCOMPARE(s->lastSeen, clock);
        QCOMPARE(s->datecheck, QDate(2026, 3, 1));

        QCOMPARE(row(QStringLiteral("SELECT name, location, sleepInterval, datecheck FROM sensors WHERE EUI64='000D6F0000ABCDEF'")),
            (QVariantList{ QStringLiteral("Датчик1"), 0, 60, QStringLiteral("2026.03.01") }));
        const QVariantList m = row(QStringLiteral("SELECT temperature, wetness, battery FROM measure"));
        QCOMPARE(m.size(), 3);
        QCOMPARE(m[0].toDouble(), 31.0);
        QCOMPARE(m[1].toDouble(), 50.0);
        QCOMPARE(qRound(m[2].toDouble() * 1000), 2400);
        // Every alarm carries the measured value, the sensor and its room.
        QCOMPARE(sink->messages.size(), 3);
        QCOMPARE(sink->messages[0].value.toDouble(), 31.0);
        QCOMPARE(sink->messages[0].sensorName, QStringLiteral("Датчик1"));
        QCOMPARE(sink->messages[0].locationName, QStringLiteral("Новые датчики"));

        // Known now: answered with its own interval, no second registration.
        sink->events.clear();
        clock += 1000;
        intake->modemCast(QStringLiteral("BCAST"), QStringLiteral("000D6F0000ABCDEF"), QByteArray(1, 0));
        QCOMPARE(sink->events, (QStringList { "interval 000D6F0000ABCDEF 60", "store", "status Получен BCAST от 000D6F0000ABCDEF" }));
        QCOMPARE(count(QStringLiteral("sensors")), 1);
        QCOMPARE(count(QStringLiteral("measure")), 2);
    }

    void missingLocationIsCreatedAtTheEnd()
    {
        // Rooms of a registry without "Новые датчики": the new one gets the next id.
        state->locations.first()->name = QStringLiteral("Цех");
        auto* office = new Location;
        office->name = QStringLiteral("Офис");
        state->locations.append(office);
        auto* a = new Sensor;
        a->EUI64 = QStringLiteral("000D6F0000000A0A");
        auto* b = new Sensor;
        b->EUI64 = QStringLiteral("000D6F0000000B0B");
        b->name = QStringLiteral("Датчик3"); // the list's length + 1 is taken: the next number is free
        state->sensors << a << b;

        intake->modemCast(QStringLiteral("UCAST"), QStringLiteral("000d6f0000abcdef"), QByteArray());
        QCOMPARE(state->locations.size(), 3);
        QCOMPARE(state->locations[2]->name, QStringLiteral("Новые датчики"));
        QCOMPARE(row(QStringLiteral("SELECT name FROM locations WHERE id=2")), QVariantList{ QStringLiteral("Новые датчики") });
        QCOMPARE(state->sensors.last()->name, QStringLiteral("Датчик4"));
        QCOMPARE(state->sensors.last()->location, 2);
        QCOMPARE(state->sensors.last()->EUI64, QStringLiteral("000D6F0000ABCDEF")); // stored as modems send it

        // Letter case makes no other sensor; the room is found case-insensitively.
        intake->modemCast(QStringLiteral("UCAST"), QStringLiteral("000D6F0000ABCDEF"), QByteArray());
        QCOMPARE(state->sensors.size(), 3);
        state->locations[2]->name = QStringLiteral("НОВЫЕ ДАТЧИКИ");
        intake->modemCast(QStringLiteral("UCAST"), QStringLiteral("000D6F0000ABCDE0"), QByteArray());
        QCOMPARE(state->locations.size(), 3);
        QCOMPARE(state->sensors.size(), 4);
        QCOMPARE(state->sensors.last()->location, 2);
    }

    void lostContact_data()
    {
        QTest::addColumn<int>("silenceMs");
        QTest::addColumn<bool>("raised");
        QTest::newRow("exactly the break interval") << 120999 << false;
        QTest::newRow("one second more") << 121000 << true;
    }
    void lostContact()
    {
        QFETCH(int, silenceMs);
        QFETCH(bool, raised);
        intake->modemCast(QStringLiteral("UCAST"), QStringLiteral("000D6F0000000001"), QByteArray());
        QVERIFY(sink->messages.isEmpty());  // a new sensor never counts as lost
        clock += silenceMs;
        intake->modemCast(QStringLiteral("UCAST"), QStringLiteral("000D6F0000000001"), QByteArray());
        QCOMPARE(sink->messages.size(), raised ? 1 : 0);
        if (raised) {
            QCOMPARE(sink->messages[0].type, 11);
            QCOMPARE(sink->messages[0].value, QVariant(0));
            QCOMPARE(sink->messages[0].EUI64, QStringLiteral("000D6F0000000001"));
        }
    }

    void sensorOutsideTheLocationListIsHandled()
    {
        auto* s = new Sensor;
        s->EUI64 = QStringLiteral("000D6F0000000009");
        s->location = 42;
        s->lastSeen = clock;
        state->sensors << s;
        // Its row too: a measurement without one is lost, and named in a box at close.
        QVERIFY(QSqlQuery().exec(QStringLiteral("INSERT INTO sensors (EUI64, name, location, sleepInterval, datecheck) "
                                                "VALUES ('000D6F0000000009', 'x', 42, 60, '2026.01.01')")));
        intake->modemCast(QStringLiteral("UCAST"), QStringLiteral("000D6F0000000009"), measurement(40.0f, 50.0f, 3.0f));
        QCOMPARE(sink->messages.size(), 2);
        QCOMPARE(sink->messages[0].locationName, QString());
    }

    void gatewayRoad()
    {
        ZigBeeClient gatewayA;
        ZigBeeClient gatewayB;
        gatewayA.modemConnected = true;
        gatewayB.modemConnected = true;
        gatewayA.name = QStringLiteral("A");
        gatewayB.name = QStringLiteral("B");
        for (ZigBeeClient* c : { &gatewayA, &gatewayB }) {
            auto* l = new Location;
            l->name = QStringLiteral("Шлюз");
            l->client = c;
            state->locations.append(l);
        }
        auto* old = new Sensor;
        old->EUI64 = QStringLiteral("000D6F0000000F01");
        state->sensors << old;
        auto* other = new Sensor;
        other->EUI64 = QStringLiteral("000D6F0000000F02");
        state->sensors << other;

        // A new sensor behind gateway A: registered there, announced to that gateway, no reply
        // and no status text; flag 0 leaves a value absent.
        intake->networkCast(&gatewayA, QStringLiteral("000D6F00000000A1"), measurement(20.0f, 40.0f, 3.0f, 0));
        QCOMPARE(sink->events,
            (QStringList { "new-sensor", "slep A 000D6F00000000A1 60", "interval 000D6F00000000A1 60", "store" }));
        const Sensor* s = state->sensors.last();
        QCOMPARE(s->name, QStringLiteral("Датчик 3"));
        QCOMPARE(s->location, 1);
        QVERIFY(!s->lastData.hasTemperature && !s->lastData.hasWetness && !s->lastData.hasBattery);
        QCOMPARE(row(QStringLiteral("SELECT location, name FROM sensors WHERE EUI64='000D6F00000000A1'")),
            (QVariantList{ 1, QStringLiteral("Датчик 3") }));
        QVERIFY(row(QStringLiteral("SELECT temperature FROM measure")).value(0).isNull());

        // Through gateway B it moves there, once.
        sink->events.clear();
        intake->networkCast(&gatewayB, QStringLiteral("000D6F00000000A1"), measurement(20.0f, 40.0f, 3.0f));
        QCOMPARE(sink->events, (QStringList { "moved", "slep B 000D6F00000000A1 60", "store" }));
        QCOMPARE(row(QStringLiteral("SELECT location FROM sensors WHERE EUI64='000D6F00000000A1'")), QVariantList{ 2 });
        sink->events.clear();
        intake->networkCast(&gatewayB, QStringLiteral("000D6F00000000A1"), measurement(20.0f, 40.0f, 3.0f));
        QCOMPARE(sink->events, (QStringList { "store" }));

        // A gateway whose modem is down, or one without a room, gets the list again only.
        gatewayB.modemConnected = false;
        ZigBeeClient unbound;
        unbound.modemConnected = true;
        sink->events.clear();
        intake->networkCast(&gatewayB, QStringLiteral("000D6F00000000A1"), measurement(20.0f, 40.0f, 3.0f));
        intake->networkCast(&unbound, QStringLiteral("000D6F00000000A2"), measurement(20.0f, 40.0f, 3.0f));
        QCOMPARE(sink->events, (QStringList{ "sensor-list", "sensor-list" }));
        QCOMPARE(count(QStringLiteral("measure")), 3);
    }
};

QTEST_GUILESS_MAIN(TestIntake)
#include "tst_intake.moc"
