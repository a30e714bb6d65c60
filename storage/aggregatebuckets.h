#pragma once

#include <QString>

#include "storage/measureaggregates.h"

// The bucket arithmetic that the aggregates' upkeep and their readers share.
namespace MeasureAggregates
{
namespace Buckets
{

const qint64 kHour = 3600;
const qint64 kDay = 86400;

enum Level { Hourly, Daily };

inline QString table(Level level)
{
    return QLatin1String(level == Hourly ? "measure_hourly" : "measure_daily");
}

inline qint64 floorTo(qint64 t, qint64 step)
{
    const qint64 q = t / step;
    return (q * step > t ? q - 1 : q) * step;
}

inline qint64 ceilTo(qint64 t, qint64 step)
{
    const qint64 down = floorTo(t, step);
    return down == t ? t : down + step;
}

inline qint64 clamped(qint64 t)
{
    return qBound(-kTimeLimit, t, kTimeLimit);
}

} // namespace Buckets
} // namespace MeasureAggregates
