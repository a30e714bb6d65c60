#include "storage/roomsummary.h"

#include <QMap>

#include <algorithm>

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
    void add(const QVariant& v)
    {
        if (v.isNull())
            return;
        const double x = v.toDouble();
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

QVector<QVector<QVariant>> rows(const QVector<QVector<QVariant>>& sensorRows, const QVector<QVariant>& roomIds,
    const QHash<qint64, QString>& rooms, int section, bool ascendingIndicator)
{
    // Per room: the sensors' minima and maxima and their means, each a column of its own.
    struct Room {
        Column tmin, tmax, tavg, wmin, wmax, wavg;
    };
    QMap<qint64, Room> byId;
    for (int i = 0; i < sensorRows.size() && i < roomIds.size(); ++i) {
        const QVector<QVariant>& s = sensorRows[i];
        if (roomIds[i].isNull() || s.size() < 7)
            continue;
        const qint64 id = roomIds[i].toLongLong();
        if (!rooms.contains(id))
            continue;
        Room& r = byId[id];
        r.tmin.add(s[1]);
        r.tmax.add(s[2]);
        r.tavg.add(s[3]);
        r.wmin.add(s[4]);
        r.wmax.add(s[5]);
        r.wavg.add(s[6]);
    }
    QVector<QVector<QVariant>> result;
    result.reserve(byId.size());
    for (auto it = byId.cbegin(); it != byId.cend(); ++it) {
        const Room& r = it.value();
        result.append({ rooms.value(it.key()), r.tmin.min(), r.tmax.max(), r.tavg.mean(), r.wmin.min(),
            r.wmax.max(), r.wavg.mean() });
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
