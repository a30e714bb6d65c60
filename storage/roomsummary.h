#pragma once

#include <QHash>
#include <QString>
#include <QVariant>
#include <QVector>

namespace RoomSummary
{

// A sensor's row as its room sums it: the room's id (none: -1) and the six values the rooms
// take (Tmin, Tmax, Tavg, Wmin, Wmax, Wavg), NaN where NULL (a stored value is never NaN).
// Taken once where the row is read, so that summing thousands of sensors at every refresh
// converts no value.
struct SensorValues {
    qint64 room = -1;
    double values[6] = {};
};
SensorValues valuesOf(const QVector<QVariant>& sensorRow, const QVariant& roomId);

// The rooms' table from the sensors' table of the same window: `sensors` hold each sensor's
// room and values, and `rooms` name the rooms by id. One row per named room with sensors:
// its name, the lowest and highest of their extremes and the mean of their means, NULL values
// left out, as SQLite's statement over the same rows gives them. Ordered by `section` (0-6) as
// TableQueries' order clause orders them (the ascending arrow going down; NULL lowest; names
// byte by byte in UTF-8), or by room id for another section.
QVector<QVector<QVariant>> rows(
    const QVector<SensorValues>& sensors, const QHash<qint64, QString>& rooms, int section, bool ascendingIndicator);

} // namespace RoomSummary
