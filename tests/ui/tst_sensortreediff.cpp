// What the sensor tree must do to show the registry again, from the registry alone.
#include <QtTest>

#include "core/records.h"
#include "ui/sensortreediff.h"

using Diff = SensorTreeDiff;

class TestSensorTreeDiff : public QObject
{
    Q_OBJECT

    // Two rooms and three sensors as a build leaves them; the items stand for themselves only.
    QVector<Location*> rooms;
    QVector<Sensor*> sensors;
    QVector<Diff::Room> shownRooms;
    QVector<Diff::Leaf> shownSensors;
    char items[16] {};

    void build()
    {
        shownRooms.clear();
        shownSensors.clear();
        int item = 0;
        for (Location* l : rooms) {
            l->treeItem = reinterpret_cast<QTreeWidgetItem*>(&items[item++]);
            shownRooms << Diff::roomOf(*l);
        }
        for (Sensor* s : sensors) {
            s->treeItem = reinterpret_cast<QTreeWidgetItem*>(&items[item++]);
            shownSensors << Diff::leafOf(*s, rooms.size());
        }
    }

private slots:
    void init()
    {
        for (int i = 0; i < 2; ++i) {
            rooms << new Location;
            rooms.last()->name = QStringLiteral("Комната %1").arg(i);
        }
        for (int i = 0; i < 3; ++i) {
            sensors << new Sensor;
            sensors.last()->EUI64 = QStringLiteral("000D6F000000000%1").arg(i);
            sensors.last()->location = i % 2;
        }
        build();
    }
    void cleanup()
    {
        qDeleteAll(rooms);
        qDeleteAll(sensors);
        rooms.clear();
        sensors.clear();
    }

    void changes_data()
    {
        QTest::addColumn<QString>("change");
        QTest::addColumn<bool>("rebuild");
        QTest::addColumn<QVector<int>>("newRooms");
        QTest::addColumn<QVector<int>>("renamedRooms");
        QTest::addColumn<QVector<int>>("newSensors");
        QTest::addColumn<QVector<int>>("moved");
        QTest::addColumn<QVector<int>>("renamed");
        using V = QVector<int>;
        QTest::newRow("nothing") << "nothing" << false << V {} << V {} << V {} << V {} << V {};
        QTest::newRow("two sensors registered") << "add sensors" << false << V {} << V {} << V { 3, 4 } << V {} << V {};
        QTest::newRow("gateway room with a sensor")
            << "add room" << false << V { 2 } << V {} << V { 3 } << V {} << V {};
        QTest::newRow("sensor moved") << "move" << false << V {} << V {} << V {} << V { 1 } << V {};
        QTest::newRow("sensor renamed") << "rename sensor" << false << V {} << V {} << V {} << V {} << V { 2 };
        QTest::newRow("room renamed") << "rename room" << false << V {} << V { 1 } << V {} << V {} << V {};
        QTest::newRow("moved to a room that does not exist: the first")
            << "move nowhere" << false << V {} << V {} << V {} << V { 1 } << V {};
        QTest::newRow("first sensor removed") << "remove first" << true << V {} << V {} << V {} << V {} << V {};
        QTest::newRow("last sensor removed") << "remove last" << true << V {} << V {} << V {} << V {} << V {};
        QTest::newRow("removed and replaced by a newcomer")
            << "replace" << true << V {} << V {} << V {} << V {} << V {};
        QTest::newRow("room removed") << "remove room" << true << V {} << V {} << V {} << V {} << V {};
        QTest::newRow("registry loaded again") << "reload" << true << V {} << V {} << V {} << V {} << V {};
    }
    void changes()
    {
        QFETCH(QString, change);
        if (change == "add sensors") {
            for (int i = 0; i < 2; ++i) {
                sensors << new Sensor;
                sensors.last()->location = 1;
            }
        } else if (change == "add room") {
            rooms << new Location;
            sensors << new Sensor;
            sensors.last()->location = 2;
        } else if (change == "move") {
            sensors[1]->location = 0;
        } else if (change == "move nowhere") {
            sensors[1]->location = 7;
        } else if (change == "rename sensor") {
            sensors[2]->name = QStringLiteral("Склад");
        } else if (change == "rename room") {
            rooms[1]->name = QStringLiteral("Склад");
        } else if (change == "remove first") {
            delete sensors.takeFirst();
        } else if (change == "remove last") {
            delete sensors.takeLast();
        } else if (change == "replace") {
            delete sensors.takeLast();
            sensors << new Sensor;
        } else if (change == "remove room") {
            delete rooms.takeLast();
            rooms << new Location;
        } else if (change == "reload") {
            for (Sensor* s : sensors)
                s->treeItem = nullptr;
        }
        const Diff diff = Diff::between(shownRooms, shownSensors, rooms, sensors);
        QTEST(diff.rebuild, "rebuild");
        QTEST(diff.newRooms, "newRooms");
        QTEST(diff.renamedRooms, "renamedRooms");
        QTEST(diff.newSensors, "newSensors");
        QTEST(diff.movedSensors, "moved");
        QTEST(diff.renamedSensors, "renamed");
        QCOMPARE(diff.isEmpty(), change == "nothing");

        // Told of growth at the end only, the diff sees the newcomers and every change that
        // moved the entries shown; a move or rename in place is left for a whole diff.
        const Diff tail = Diff::appended(shownRooms, shownSensors, rooms, sensors);
        const bool inPlace = change.startsWith("move") || change.startsWith("rename");
        QCOMPARE(tail.rebuild, diff.rebuild);
        QCOMPARE(tail.newRooms, diff.newRooms);
        QCOMPARE(tail.newSensors, diff.newSensors);
        QCOMPARE(tail.renamedRooms, inPlace ? QVector<int> {} : diff.renamedRooms);
        QCOMPARE(tail.movedSensors, inPlace ? QVector<int> {} : diff.movedSensors);
        QCOMPARE(tail.renamedSensors, inPlace ? QVector<int> {} : diff.renamedSensors);
    }

    // A tree with no room has nothing to hang sensors under; it is built whole each time.
    void withoutRooms()
    {
        qDeleteAll(rooms);
        rooms.clear();
        build();
        QVERIFY(Diff::between(shownRooms, shownSensors, rooms, sensors).rebuild);
    }
};

QTEST_GUILESS_MAIN(TestSensorTreeDiff)
#include "tst_sensortreediff.moc"
