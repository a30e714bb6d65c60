#include "ui/sensortreediff.h"

#include "core/records.h"

namespace
{

// The registry hands the same strings on until they change, so most checks end at the pointer.
bool same(const QString& a, const QString& b)
{
    return a.isSharedWith(b) || a == b;
}

} // namespace

SensorTreeDiff::Room SensorTreeDiff::roomOf(const Location& location)
{
    return { &location, location.treeItem, location.name };
}

SensorTreeDiff::Leaf SensorTreeDiff::leafOf(const Sensor& sensor, int roomCount)
{
    const bool home = sensor.location >= 0 && sensor.location < roomCount;
    return { &sensor, sensor.treeItem, home ? sensor.location : 0, sensor.name, sensor.EUI64, !home };
}

SensorTreeDiff SensorTreeDiff::between(const QVector<Room>& shownRooms, const QVector<Leaf>& shownSensors,
    const QVector<Location*>& rooms, const QVector<Sensor*>& sensors)
{
    SensorTreeDiff diff;
    // Without a room there is nothing to hang a sensor under; a tree built so has no sensors.
    if (rooms.size() < shownRooms.size() || sensors.size() < shownSensors.size() || shownRooms.isEmpty()) {
        diff.rebuild = true;
        return diff;
    }
    for (int i = 0; i < shownRooms.size(); ++i) {
        const Room& shown = shownRooms[i];
        const Location* now = rooms[i];
        if (shown.location != now || shown.item != now->treeItem || !now->treeItem) {
            diff.rebuild = true;
            return diff;
        }
        if (!same(shown.name, now->name))
            diff.renamedRooms << i;
    }
    for (int i = shownRooms.size(); i < rooms.size(); ++i) {
        if (rooms[i]->treeItem) {
            diff.rebuild = true;
            return diff;
        }
        diff.newRooms << i;
    }
    const int roomCount = rooms.size();
    for (int i = 0; i < shownSensors.size(); ++i) {
        const Leaf& shown = shownSensors[i];
        const Sensor* now = sensors[i];
        if (shown.sensor != now || shown.item != now->treeItem || !now->treeItem) {
            diff.rebuild = true;
            return diff;
        }
        const int room = now->location >= 0 && now->location < roomCount ? now->location : 0;
        if (room != shown.room)
            diff.movedSensors << i;
        if (!same(shown.name, now->name) || !same(shown.eui, now->EUI64))
            diff.renamedSensors << i;
    }
    for (int i = shownSensors.size(); i < sensors.size(); ++i) {
        if (sensors[i]->treeItem) {
            diff.rebuild = true;
            return diff;
        }
        diff.newSensors << i;
    }
    return diff;
}

SensorTreeDiff SensorTreeDiff::appended(const QVector<Room>& shownRooms, const QVector<Leaf>& shownSensors,
    const QVector<Location*>& rooms, const QVector<Sensor*>& sensors)
{
    const bool roomsKept = !shownRooms.isEmpty() && rooms.size() >= shownRooms.size()
        && rooms[shownRooms.size() - 1] == shownRooms.last().location
        && rooms[shownRooms.size() - 1]->treeItem == shownRooms.last().item && shownRooms.last().item;
    const bool sensorsKept = sensors.size() >= shownSensors.size()
        && (shownSensors.isEmpty()
            || (sensors[shownSensors.size() - 1] == shownSensors.last().sensor
                && sensors[shownSensors.size() - 1]->treeItem == shownSensors.last().item && shownSensors.last().item));
    if (!roomsKept || !sensorsKept)
        return between(shownRooms, shownSensors, rooms, sensors);
    SensorTreeDiff diff;
    for (int i = shownRooms.size(); i < rooms.size() && !diff.rebuild; ++i) {
        diff.rebuild = rooms[i]->treeItem != nullptr;
        diff.newRooms << i;
    }
    for (int i = shownSensors.size(); i < sensors.size() && !diff.rebuild; ++i) {
        diff.rebuild = sensors[i]->treeItem != nullptr;
        diff.newSensors << i;
    }
    if (diff.rebuild)
        return between(shownRooms, shownSensors, rooms, sensors);
    return diff;
}

bool SensorTreeDiff::isEmpty() const
{
    return !rebuild && newRooms.isEmpty() && renamedRooms.isEmpty() && newSensors.isEmpty() && movedSensors.isEmpty()
        && renamedSensors.isEmpty();
}
