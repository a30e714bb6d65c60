#pragma once

#include <QString>
#include <QVector>

class QTreeWidgetItem;
struct Location;
struct Sensor;

// What turns the sensor tree as last built into one that shows the registry as it is now.
// Registration only appends to the registry, so a new sensor or gateway room costs one item;
// whatever shifts the entries already shown (a removal) asks for the whole tree again.
class SensorTreeDiff
{
public:
    // A room and a sensor as the tree shows them.
    struct Room {
        const Location* location = nullptr;
        const QTreeWidgetItem* item = nullptr;
        QString name;
    };
    struct Leaf {
        const Sensor* sensor = nullptr;
        const QTreeWidgetItem* item = nullptr;
        int room = 0;
        QString name;
        QString eui;
        bool homeless = false; // under the first room, its own not existing (yet)
    };

    static Room roomOf(const Location& location);
    // The room a sensor hangs under: its own, or the first when its own does not exist.
    static Leaf leafOf(const Sensor& sensor, int roomCount);
    static SensorTreeDiff between(const QVector<Room>& shownRooms, const QVector<Leaf>& shownSensors,
        const QVector<Location*>& rooms, const QVector<Sensor*>& sensors);
    // The same for a registry that has only grown at its end since the tree was last brought up
    // to date (registrations, gateway rooms): a look at the newcomers and at the last entries
    // shown, whatever the size of the registry. When those last entries are not where they were,
    // the registry changed otherwise, and the answer is between()'s.
    static SensorTreeDiff appended(const QVector<Room>& shownRooms, const QVector<Leaf>& shownSensors,
        const QVector<Location*>& rooms, const QVector<Sensor*>& sensors);

    bool isEmpty() const;

    bool rebuild = false;
    // Registry indexes, ascending.
    QVector<int> newRooms;
    QVector<int> renamedRooms;
    QVector<int> newSensors;
    QVector<int> movedSensors;
    QVector<int> renamedSensors;
};
