#include "links/sleepintervals.h"

#include <QMutexLocker>
#include <QVector>

int SleepIntervals::replyFor(const QString& eui64) const
{
    QMutexLocker hold(&lock);
    return closed ? -1 : table.value(eui64, kUnknownSensor);
}

void SleepIntervals::set(const QString& eui64, int seconds)
{
    QMutexLocker hold(&lock);
    table.insert(eui64, seconds);
}

void SleepIntervals::assign(const QVector<QPair<QString, int>>& registry)
{
    QHash<QString, int> fresh;
    fresh.reserve(registry.size());
    for (const auto& sensor : registry) {
        if (!fresh.contains(sensor.first))
            fresh.insert(sensor.first, sensor.second);
    }
    QMutexLocker hold(&lock);
    table.swap(fresh);
}

void SleepIntervals::close()
{
    QMutexLocker hold(&lock);
    closed = true;
}
