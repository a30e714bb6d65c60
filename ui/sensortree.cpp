#include "ui/sensortree.h"

#include <QDateTime>
#include <QMap>
#include <QSignalBlocker>
#include <QTreeWidget>

#include <algorithm>

#include "app/appstate.h"
#include "ui/sensortreelook.h"

namespace
{

// Where a tree item keeps the registry index of its sensor or location.
constexpr int kSensorRole = Qt::UserRole;
constexpr int kLocationRole = Qt::UserRole + 1;

AppState& config()
{
    Q_ASSERT(gAppState);
    return *gAppState;
}

// A sensor's row. Its tool tip changes with every reading and is read only when the pointer
// rests on the row: made then, from the sensor as it stands, it is no change the view lays out
// and repaints the row for. The alert icon is set only when it comes or goes.
class SensorItem : public QTreeWidgetItem
{
public:
    static constexpr int kType = QTreeWidgetItem::UserType + 1;

    SensorItem()
        : QTreeWidgetItem(kType)
    {
    }
    QVariant data(int column, int role) const override
    {
        if (column == 0 && role == Qt::ToolTipRole) {
            // Until the tree is rebuilt the item may stand for a sensor that has moved or gone.
            const AppState& c = config();
            const int i = QTreeWidgetItem::data(0, kSensorRole).toInt();
            if (i < 0 || i >= c.sensors.size() || c.sensors[i]->treeItem != this)
                return QVariant();
            return SensorTreeLook::sensorToolTip(*c.sensors[i], c, QDateTime::currentMSecsSinceEpoch());
        }
        return QTreeWidgetItem::data(column, role);
    }
    // True when the row does not show `look`'s colours and weight yet; from then on it does.
    // A row decorated at every stored batch is then passed over without building a value.
    bool takeLook(const ItemLook& look)
    {
        if (looked && look.background == background && look.foreground == foreground && look.bold == bold)
            return false;
        looked = true;
        background = look.background;
        foreground = look.foreground;
        bold = look.bold;
        return true;
    }
    void setAlert(bool alert)
    {
        static const QIcon icon(QStringLiteral(":/alert.png"));
        if (alert == shownAlert)
            return;
        shownAlert = alert;
        setIcon(0, alert ? icon : QIcon());
    }

private:
    bool shownAlert = false;
    bool looked = false;
    QColor background;
    QColor foreground;
    bool bold = false;
};

} // namespace

SensorTree::SensorTree(QTreeWidget* tree)
    : tree(tree)
{
    fontBold = fontNormal;
    fontBold.setWeight(75);
}

SensorTree::~SensorTree()
{
    for (Sensor* s : config().sensors)
        s->treeItem = nullptr;
    for (Location* l : config().locations)
        l->treeItem = nullptr;
}

void SensorTree::build(bool expand)
{
    ++changeCount;
    busy = true;
    checkedStale = true;
    const AppState& c = config();
    QVector<bool> unfolded(c.locations.size(), expand);
    for (int i = 0; !expand && i < c.locations.size(); ++i)
        unfolded[i] = c.locations[i]->treeItem && c.locations[i]->treeItem->isExpanded();
    tree->clear();
    shownRooms.clear();
    shownSensors.clear();
    homeless = 0;
    for (int i = 0; i < c.locations.size(); ++i)
        newRoomItem(i);
    for (int i = 0; i < c.sensors.size(); ++i) {
        Sensor* sensor = c.sensors[i];
        sensor->treeItem = nullptr;
        if (shownRooms.isEmpty())
            continue; // no room to hang it under
        sensor->treeItem = newSensorItem(i);
        shownSensors << SensorTreeDiff::leafOf(*sensor, shownRooms.size());
        homeless += shownSensors.last().homeless ? 1 : 0;
        placeSensorItem(sensor->treeItem, shownSensors.last().room, i);
    }
    for (int i = 0; i < c.locations.size(); ++i)
        c.locations[i]->treeItem->setExpanded(unfolded[i]);
    busy = false;
}

QTreeWidgetItem* SensorTree::newRoomItem(int index)
{
    Location* location = config().locations[index];
    auto* item = new QTreeWidgetItem(tree);
    item->setText(0, location->name);
    item->setCheckState(0, Qt::Checked);
    item->setData(0, kLocationRole, index);
    location->treeItem = item;
    shownRooms << SensorTreeDiff::roomOf(*location);
    return item;
}

QTreeWidgetItem* SensorTree::newSensorItem(int index)
{
    const Sensor* sensor = config().sensors[index];
    auto* item = new SensorItem;
    item->setText(0, sensor->name + QStringLiteral("  -  ") + sensor->EUI64);
    item->setCheckState(0, Qt::Checked);
    item->setData(0, kSensorRole, index);
    return item;
}

// A room lists its sensors in registry order, as a whole build does.
void SensorTree::placeSensorItem(QTreeWidgetItem* item, int room, int index)
{
    QTreeWidgetItem* parent = config().locations[room]->treeItem;
    int low = 0;
    int high = parent->childCount();
    if (high > 0 && parent->child(high - 1)->data(0, kSensorRole).toInt() > index) {
        while (low < high) {
            const int middle = (low + high) / 2;
            if (parent->child(middle)->data(0, kSensorRole).toInt() < index)
                low = middle + 1;
            else
                high = middle;
        }
    } else {
        low = high;
    }
    parent->insertChild(low, item);
}

// Registration appends to the registry: a new sensor or gateway room costs its own item and a
// look at its room, whatever the size of the tree.
SensorTree::Change SensorTree::update(bool appendedOnly)
{
    const AppState& c = config();
    // A room appended may be the one a sensor shown under the first room was waiting for.
    appendedOnly = appendedOnly && (homeless == 0 || c.locations.size() == shownRooms.size());
    const SensorTreeDiff diff = appendedOnly
        ? SensorTreeDiff::appended(shownRooms, shownSensors, c.locations, c.sensors)
        : SensorTreeDiff::between(shownRooms, shownSensors, c.locations, c.sensors);
    if (diff.rebuild) {
        build(false);
        return Change::Built;
    }
    if (diff.isEmpty())
        return Change::None;
    busy = true;
    applyDiff(diff);
    busy = false;
    return Change::Updated;
}

void SensorTree::applyDiff(const SensorTreeDiff& diff)
{
    ++changeCount;
    const AppState& c = config();
    for (int i : diff.renamedRooms) {
        c.locations[i]->treeItem->setText(0, c.locations[i]->name);
        shownRooms[i] = SensorTreeDiff::roomOf(*c.locations[i]);
    }
    for (int i : diff.newRooms)
        newRoomItem(i);
    // A room's check box follows its sensors': the rooms that lose one are counted again.
    QVector<int> recount;
    for (int i : diff.movedSensors) {
        QTreeWidgetItem* item = c.sensors[i]->treeItem;
        QTreeWidgetItem* from = item->parent();
        from->takeChild(from->indexOfChild(item));
        recount << shownSensors[i].room;
        const SensorTreeDiff::Leaf leaf = SensorTreeDiff::leafOf(*c.sensors[i], shownRooms.size());
        placeSensorItem(item, leaf.room, i);
        recount << leaf.room;
        homeless += (leaf.homeless ? 1 : 0) - (shownSensors[i].homeless ? 1 : 0);
        shownSensors[i] = leaf;
    }
    for (int i : diff.renamedSensors) {
        const Sensor* sensor = c.sensors[i];
        sensor->treeItem->setText(0, sensor->name + QStringLiteral("  -  ") + sensor->EUI64);
        const SensorTreeDiff::Leaf leaf = SensorTreeDiff::leafOf(*sensor, shownRooms.size());
        homeless += (leaf.homeless ? 1 : 0) - (shownSensors[i].homeless ? 1 : 0);
        shownSensors[i] = leaf;
    }
    if (!diff.movedSensors.isEmpty())
        checkedStale = true;
    // Newcomers carry the registry's largest indexes, so they follow every sensor of their room:
    // each room takes its own in one insertion, which its view lays out once.
    QMap<int, QList<QTreeWidgetItem*>> arrivals;
    for (int i : diff.newSensors) {
        Sensor* sensor = c.sensors[i];
        sensor->treeItem = newSensorItem(i);
        const SensorTreeDiff::Leaf leaf = SensorTreeDiff::leafOf(*sensor, shownRooms.size());
        arrivals[leaf.room] << sensor->treeItem;
        shownSensors << leaf;
        homeless += leaf.homeless ? 1 : 0;
        if (!checkedStale)
            checkedCache << sensor->EUI64;
    }
    for (auto it = arrivals.cbegin(); it != arrivals.cend(); ++it) {
        QTreeWidgetItem* room = c.locations[it.key()]->treeItem;
        room->addChildren(it.value());
        // A new sensor comes checked, so its room is checked or partly so.
        if (room->checkState(0) == Qt::Unchecked)
            room->setCheckState(0, room->childCount() == it.value().size() ? Qt::Checked : Qt::PartiallyChecked);
    }
    std::sort(recount.begin(), recount.end());
    recount.erase(std::unique(recount.begin(), recount.end()), recount.end());
    for (int room : recount)
        updateRoomCheck(c.locations[room]->treeItem);
}

void SensorTree::setAllChecks(Qt::CheckState state)
{
    checkedStale = true;
    const QSignalBlocker blocker(tree);
    for (Location* l : config().locations) {
        if (l->treeItem)
            l->treeItem->setCheckState(0, state);
    }
    for (Sensor* s : config().sensors) {
        if (s->treeItem)
            s->treeItem->setCheckState(0, state);
    }
}

void SensorTree::updateRoomCheck(QTreeWidgetItem* room)
{
    int checked = 0;
    for (int i = 0; i < room->childCount(); ++i)
        checked += room->child(i)->checkState(0) == Qt::Checked ? 1 : 0;
    // A room left without sensors is checked, as a whole build leaves it.
    room->setCheckState(0,
        checked == room->childCount() ? Qt::Checked
            : checked == 0            ? Qt::Unchecked
                                      : Qt::PartiallyChecked);
}

QStringList SensorTree::checkedSensors() const
{
    if (!checkedStale)
        return checkedCache;
    checkedCache.clear();
    for (const Sensor* s : config().sensors) {
        if (s->treeItem && s->treeItem->checkState(0) == Qt::Checked)
            checkedCache << s->EUI64;
    }
    checkedStale = false;
    return checkedCache;
}

bool SensorTree::allSensorsChecked() const
{
    // Only sensors with an item of their own can be in the list.
    return checkedSensors().size() == config().sensors.size();
}

void SensorTree::decorate(qint64 nowMs)
{
    const int height = tree->viewport()->height();
    if (height <= 0)
        return;
    busy = true;
    // The last row on screen, found once: none when the rows end above the viewport's bottom.
    const QTreeWidgetItem* last = tree->itemAt(0, height - 1);
    for (QTreeWidgetItem* item = tree->itemAt(0, 0); item; item = tree->itemBelow(item)) {
        decorateItem(item, nowMs);
        if (item == last)
            break;
    }
    busy = false;
}

void SensorTree::decorateItem(QTreeWidgetItem* item, qint64 nowMs)
{
    const AppState& c = config();
    // Colours and font are set as they are: the item tells the view only of a value that changed.
    auto apply = [this, item](const ItemLook& look) {
        item->setData(0, Qt::BackgroundRole, QBrush(look.background));
        item->setData(0, Qt::FontRole, look.bold ? fontBold : fontNormal);
        item->setData(0, Qt::ForegroundRole, QBrush(look.foreground));
    };
    // Until the tree is rebuilt an item may stand for a sensor or room that has moved or gone.
    const QVariant sensorIndex = item->data(0, kSensorRole);
    if (sensorIndex.isValid()) {
        const int i = sensorIndex.toInt();
        if (i < 0 || i >= c.sensors.size() || c.sensors[i]->treeItem != item || item->type() != SensorItem::kType)
            return;
        // The rows on screen are decorated at every stored batch: their look is a few
        // comparisons, and a row whose look stays is no change for the view.
        const ItemLook look = SensorTreeLook::sensor(*c.sensors[i], c, nowMs);
        auto* sensorItem = static_cast<SensorItem*>(item);
        sensorItem->setAlert(look.alertIcon);
        if (sensorItem->takeLook(look))
            apply(look);
        return;
    }
    const int i = item->data(0, kLocationRole).toInt();
    if (!item->data(0, kLocationRole).isValid() || i < 0 || i >= c.locations.size() || c.locations[i]->treeItem != item
        || c.locations[i]->ip.isEmpty())
        return;
    const ItemLook look = SensorTreeLook::gatewayLocation(*c.locations[i]);
    item->setText(0, look.text);
    item->setData(0, Qt::ToolTipRole, look.toolTip);
    apply(look);
}

bool SensorTree::checkChanged(QTreeWidgetItem* item)
{
    if (busy || !item)
        return false;
    checkedStale = true;
    busy = true;
    if (QTreeWidgetItem* parent = item->parent()) {
        updateRoomCheck(parent);
    } else {
        for (int i = 0; i < item->childCount(); ++i)
            item->child(i)->setCheckState(0, item->checkState(0));
    }
    busy = false;
    return true;
}

int SensorTree::sensorOf(const QTreeWidgetItem* item) const
{
    const QVector<Sensor*>& sensors = config().sensors;
    if (!item || !item->data(0, kSensorRole).isValid())
        return -1;
    const int i = item->data(0, kSensorRole).toInt();
    return i >= 0 && i < sensors.size() && sensors[i]->treeItem == item ? i : -1;
}
