#include "storage/roomsummary.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace RoomSummary
{

namespace
{

// min, max and the mean of the values that are not NULL, as SQL's aggregates take them.
struct Column {
    double low = 0;
    double high = 0;
    double sum = 0;
    int count = 0;
    void add(double x)
    {
        if (std::isnan(x))
            return;
        low = count ? std::min(low, x) : x;
        high = count ? std::max(high, x) : x;
        sum += x;
        ++count;
    }
    QVariant min() const { return count ? QVariant(low) : QVariant(); }
    QVariant max() const { return count ? QVariant(high) : QVariant(); }
    QVariant mean() const { return count ? QVariant(sum / count) : QVariant(); }
};

// SQLite's order of two values of one column: NULL first, then numbers, then text by its bytes.
int compare(const QVariant& a, const QVariant& b)
{
    if (a.isNull() || b.isNull())
        return a.isNull() == b.isNull() ? 0 : (a.isNull() ? -1 : 1);
    if (a.type() == QVariant::String || b.type() == QVariant::String) {
        const QByteArray x = a.toString().toUtf8();
        const QByteArray y = b.toString().toUtf8();
        return x < y ? -1 : (y < x ? 1 : 0);
    }
    const double x = a.toDouble();
    const double y = b.toDouble();
    return x < y ? -1 : (y < x ? 1 : 0);
}

} // namespace

SensorValues valuesOf(const QVector<QVariant>& sensorRow, const QVariant& roomId)
{
    SensorValues s;
    if (!roomId.isNull())
        s.room = roomId.toLongLong();
    for (int i = 0; i < 6; ++i) {
        const QVariant& v = sensorRow.value(i + 1);
        s.values[i] = v.isNull() ? std::numeric_limits<double>::quiet_NaN() : v.toDouble();
    }
    return s;
}

QVector<QVector<QVariant>> rows(
    const QVector<SensorValues>& sensors, const QHash<qint64, QString>& rooms, int section, bool ascendingIndicator)
{
    // Per room: the sensors' minima and maxima and their means, each a column of its own.
    struct Room {
        qint64 id = 0;
        Column columns[6];
    };
    QVector<Room> byRoom;
    QHash<qint64, int> slotOf;
    slotOf.reserve(rooms.size());
    for (const SensorValues& s : sensors) {
        if (s.room < 0)
            continue;
        auto slot = slotOf.find(s.room);
        if (slot == slotOf.end()) {
            if (!rooms.contains(s.room))
                continue;
            slot = slotOf.insert(s.room, byRoom.size());
            byRoom.append(Room());
            byRoom.back().id = s.room;
        }
        Column* c = byRoom[*slot].columns;
        for (int i = 0; i < 6; ++i)
            c[i].add(s.values[i]);
    }
    std::sort(byRoom.begin(), byRoom.end(), [](const Room& a, const Room& b) { return a.id < b.id; });
    QVector<QVector<QVariant>> result;
    result.reserve(byRoom.size());
    for (const Room& r : qAsConst(byRoom)) {
        const Column* c = r.columns;
        result.append({ rooms.value(r.id), c[0].min(), c[1].max(), c[2].mean(), c[3].min(), c[4].max(), c[5].mean() });
    }
    if (section >= 0 && section < 7) {
        std::stable_sort(result.begin(), result.end(),
            [section, ascendingIndicator](const QVector<QVariant>& a, const QVector<QVariant>& b) {
                const int c = compare(a[section], b[section]);
                return ascendingIndicator ? c > 0 : c < 0;
            });
    }
    return result;
}

} // namespace RoomSummary
