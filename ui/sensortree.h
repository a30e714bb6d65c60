#pragma once

#include <QFont>
#include <QStringList>
#include <QVector>

#include "ui/sensortreediff.h"

class QTreeWidget;
class QTreeWidgetItem;

// The sensor tree of the main window: a room item per registry location with its sensors under
// it in registry order, kept in step with the registry, their check boxes, and the colours,
// fonts and tool tips of the rows on screen. Every Location and Sensor points at its item.
class SensorTree
{
public:
    enum class Change { None, Built, Updated };

    explicit SensorTree(QTreeWidget* tree);
    // The registry's items point nowhere once the tree is gone.
    ~SensorTree();

    // Every item anew, all checked. With `expand` every room is unfolded; otherwise each room
    // stays folded or unfolded as the user left it, and a room new to the tree comes folded.
    void build(bool expand);
    // Counts the builds and updates: changes whenever the registry shown changed.
    quint64 changes() const { return changeCount; }
    // Catches up with the registry: new sensors and rooms get their own items, renames and
    // moves change theirs; anything else (a removal) builds the whole tree. With
    // `appendedOnly` the caller knows of nothing but newcomers at the registry's end, and only
    // they are looked at (SensorTreeDiff::appended).
    Change update(bool appendedOnly = false);
    void setAllChecks(Qt::CheckState state);
    // A check the user changed: a room's passes to its sensors, a sensor's sets its room's.
    // False, with nothing done, for the tree's own changes.
    bool checkChanged(QTreeWidgetItem* item);
    // The registry index of the sensor the item stands for; -1 for a room or a stale item.
    int sensorOf(const QTreeWidgetItem* item) const;
    // The EUI64s of the checked sensors, kept until a check or the tree changes.
    QStringList checkedSensors() const;
    // Every sensor of the registry is in the tree and checked.
    bool allSensorsChecked() const;
    // Decorates the rows on screen only, so a refresh costs the same with a hundred sensors as
    // with thousands; rows that scroll or unfold into view are decorated then.
    void decorate(qint64 nowMs);
    // The tree is changing its own items (their signals are not the user's).
    bool updating() const { return busy; }

private:
    QTreeWidgetItem* newSensorItem(int index);
    QTreeWidgetItem* newRoomItem(int index);
    void placeSensorItem(QTreeWidgetItem* item, int room, int index);
    void applyDiff(const SensorTreeDiff& diff);
    void decorateItem(QTreeWidgetItem* item, qint64 nowMs);
    // A room's check box follows its sensors': checked when all are (or it has none),
    // unchecked when none is, partly checked otherwise.
    static void updateRoomCheck(QTreeWidgetItem* room);

    QTreeWidget* tree;
    QFont fontNormal;
    QFont fontBold;
    bool busy = false;
    mutable QStringList checkedCache;
    mutable bool checkedStale = true;
    // The registry as the tree shows it, by registry index.
    QVector<SensorTreeDiff::Room> shownRooms;
    QVector<SensorTreeDiff::Leaf> shownSensors;
    // Sensors shown under the first room for want of their own: a room appended may be theirs.
    int homeless = 0;
    quint64 changeCount = 0;
};
