#pragma once

#include <QHash>
#include <QString>
#include <QVariant>
#include <QVector>

namespace RoomSummary
{

// The rooms' table from the sensors' table of the same window: `sensorRows` hold the sensors'
// columns (name, Tmin, Tmax, Tavg, Wmin, Wmax, Wavg, battery), `roomIds` each row's room id
// (NULL where none), and `rooms` name the rooms by id. One row per named room with sensors:
// its name, the lowest and highest of their extremes and the mean of their means, NULL values
// left out, as SQLite's statement over the same rows gives them. Ordered by `section` (0-6) as
// TableQueries' order clause orders them (the ascending arrow going down; NULL lowest; names
// byte by byte in UTF-8), or by room id for another section.
QVector<QVector<QVariant>> rows(const QVector<QVector<QVariant>>& sensorRows, const QVector<QVariant>& roomIds,
    const QHash<qint64, QString>& rooms, int section, bool ascendingIndicator);

} // namespace RoomSummary
