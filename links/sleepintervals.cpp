#include "links/sleepintervals.h"

#include <QMutexLocker>
#include <QVector>

int SleepIntervals::replyFor(const QString& eui64) const
{
    QMutexLocker hold(&lock);
    return closed ? -1 : table.value(eui64.toUpper(), kUnknownSensor);
}

void SleepIntervals::set(const QString& eui64, int seconds)
{
    QMutexLocker hold(&lock);
    table.insert(eui64.toUpper(), seconds);
}

void SleepIntervals::assign(const QVector<QPair<QString, int>>& registry)
{
    QHash<QString, int> fresh;
    fresh.reserve(registry.size());
    for (const auto& sensor : registry) {
        const QString key = sensor.first.toUpper();
        if (!fresh.contains(key))
            fresh.insert(key, sensor.second);
    }
    QMutexLocker hold(&lock);
    table.swap(fresh);
}

void SleepIntervals::close()
{
    QMutexLocker hold(&lock);
    closed = true;
}
