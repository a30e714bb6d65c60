// Registry records: defaults, the alarm message crossing threads by value, and lookups that
// never read past the end of a list.
#include <QThread>
#include <QtTest>

#include <memory>

#include "app/appstate.h"
#include "core/records.h"

namespace
{

class Receiver : public QObject
{
    Q_OBJECT
public:
    QList<NotificationsMessage> received;
    QThread* thread = nullptr;
public slots:
    void take(NotificationsMessage m)
    {
        thread = QThread::currentThread();
        received.append(m);
    }
};

class Sender : public QObject
{
    Q_OBJECT
signals:
    void send(NotificationsMessage m);
};

} // namespace

class TestRecords : public QObject
{
    Q_OBJECT
private slots:
    void defaultMessage()
    {
        const NotificationsMessage m;
        QVERIFY(m.EUI64.isEmpty() && m.sensorName.isEmpty() && m.locationName.isEmpty());
        QCOMPARE(m.type, 0);
        QCOMPARE(m.value.userType(), int(QMetaType::Double));
        QCOMPARE(m.value.toDouble(), 0.0);
    }

    void messageCrossesThreadsByValue()
    {
        qRegisterMetaType<NotificationsMessage>("NotificationsMessage");
        QThread worker;
        Receiver receiver;
        receiver.moveToThread(&worker);
        Sender sender;
        QVERIFY(connect(&sender, SIGNAL(send(NotificationsMessage)), &receiver, SLOT(take(NotificationsMessage))));
        worker.start();

        NotificationsMessage m;
        m.EUI64 = QStringLiteral("000D6F0000A1B2C3");
        m.sensorName = QStringLiteral("Склад");
        m.locationName = QStringLiteral("Room %3");
        m.type = NotifyTemperatureMaxCritical;
        m.value = 31.5;
        emit sender.send(m);
        m.sensorName.clear(); // the receiver holds its own copy

        // Posted after the message, so the worker has delivered it when it stops.
        QMetaObject::invokeMethod(
            &receiver, [] { QThread::currentThread()->quit(); }, Qt::QueuedConnection);
        QVERIFY(worker.wait(5000));
        QCOMPARE(receiver.received.size(), 1);
        QCOMPARE(receiver.thread, &worker);
        const NotificationsMessage& r = receiver.received.first();
        QCOMPARE(r.EUI64, QStringLiteral("000D6F0000A1B2C3"));
        QCOMPARE(r.sensorName, QStringLiteral("Склад"));
        QCOMPARE(r.locationName, QStringLiteral("Room %3"));
        QCOMPARE(r.type, 5);
        QCOMPARE(r.value.toDouble(), 31.5);
    }

    void newSensorStartsAtColumnDefaults()
    {
        const Sensor s;
        QCOMPARE(s.sleepInterval, 60);
        QCOMPARE(s.tMinNoncritical, 5.0);
        QCOMPARE(s.tMaxNoncritical, 5.0);
        QCOMPARE(s.tMinCritical, 5.0);
        QCOMPARE(s.tMaxCritical, 30.0);
        QCOMPARE(s.hMinNoncritical, 30.0);
        QCOMPARE(s.hMaxNoncritical, 30.0);
        QCOMPARE(s.hMinCritical, 30.0);
        QCOMPARE(s.hMaxCritical, 99.0);
        QVERIFY(!s.isLostConnection && !s.isLowBattery && !s.isEnabled && !s.online);
        QVERIFY(!s.lastData.hasTemperature && !s.lastData.hasWetness && !s.lastData.hasBattery);
    }

    void lookups()
    {
        AppState state;
        QCOMPARE(gAppState, &state);
        state.locations.append(
            new Location { QStringLiteral("Новые датчики"), nullptr, QString(), QString(), nullptr });
        state.locations.append(new Location { QStringLiteral("Цех"), nullptr, QString(), QString(), nullptr });
        auto* a = new Sensor;
        a->EUI64 = QStringLiteral("000D6F0000000001");
        auto* b = new Sensor;
        b->EUI64 = QStringLiteral("000D6F0000000001"); // a duplicate never wins over the first
        state.sensors << a << b;

        QCOMPARE(state.findSensor(QStringLiteral("000D6F0000000001")), a);
        QCOMPARE(state.findSensor(QStringLiteral("000d6f0000000001")), a); // one sensor whatever the case
        QCOMPARE(state.locationName(1), QStringLiteral("Цех"));
        QCOMPARE(state.locationName(2), QString());
        QCOMPARE(state.locationName(-1), QString());
    }

    // The address index is right after every kind of change others make to the list.
    void sensorIndexFollowsTheList_data()
    {
        QTest::addColumn<QString>("change");
        QTest::addColumn<QList<int>>("expected"); // index of A, B, C, D after the change
        QTest::newRow("none") << "" << QList<int> { 0, 1, 2, -1 };
        QTest::newRow("appended") << "append" << QList<int> { 0, 1, 2, 3 };
        QTest::newRow("removed") << "remove" << QList<int> { 0, -1, 1, -1 };
        QTest::newRow("replaced, same size") << "replace" << QList<int> { 0, -1, 2, 1 };
        QTest::newRow("swapped, same size") << "swap" << QList<int> { 2, 1, 0, -1 };
        QTest::newRow("address changed in place") << "rename" << QList<int> { 0, -1, 2, 1 };
        QTest::newRow("last removed, another appended") << "remove last, append" << QList<int> { 0, 1, -1, 2 };
        QTest::newRow("appended one by one") << "append each" << QList<int> { 0, 1, 2, 3 };
    }
    void sensorIndexFollowsTheList()
    {
        QFETCH(QString, change);
        QFETCH(QList<int>, expected);
        QVector<Sensor> s(4);
        for (int i = 0; i < 4; ++i)
            s[i].EUI64 = QStringLiteral("000D6F000000000") + QChar('A' + i);
        AppState state;
        state.sensors = { &s[0], &s[1], &s[2] };
        // The sensors live on the stack: the registry must not delete them, whatever happens.
        const std::unique_ptr<AppState, void (*)(AppState*)> keep(&state, [](AppState* a) { a->sensors.clear(); });
        for (const Sensor& one : s)
            state.indexOfSensor(one.EUI64);
        if (change == "append")
            state.sensors << &s[3];
        else if (change == "remove")
            state.sensors.remove(1);
        else if (change == "replace")
            state.sensors[1] = &s[3];
        else if (change == "swap")
            std::swap(state.sensors[0], state.sensors[2]);
        else if (change == "rename")
            s[1].EUI64 = s[3].EUI64;
        else if (change == "remove last, append")
            state.sensors.last() = &s[3];
        else if (change == "append each") {
            // As sensors register: a look-up that misses, then the sensor joins the list.
            state.sensors = { &s[0] };
            for (int i = 1; i < 4; ++i) {
                QCOMPARE(state.indexOfSensor(s[i].EUI64), -1);
                state.sensors << &s[i];
                QCOMPARE(state.indexOfSensor(s[i].EUI64), i);
            }
        }
        QList<int> found;
        for (const char* eui : { "000D6F000000000A", "000D6F000000000B", "000D6F000000000C", "000D6F000000000D" })
            found << state.indexOfSensor(eui);
        QCOMPARE(found, expected);
    }
};

QTEST_GUILESS_MAIN(TestRecords)
#include "tst_records.moc"
