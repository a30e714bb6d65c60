#pragma once

#include <QHash>
#include <QMutex>
#include <QString>

// The interval each sensor is told when it reports through the modem. The modem's thread reads
// it the moment a message arrives and answers at once, whatever the main thread is busy with
// (the sensor listens only briefly after sending); the main thread keeps it to the registry.
class SleepIntervals
{
public:
    // Told to a sensor that is not registered yet.
    static constexpr int kUnknownSensor = 20;

    // The interval to answer `eui64` with: its own, or kUnknownSensor; -1 once closed, when no
    // sensor is answered any more.
    int replyFor(const QString& eui64) const;
    // `eui64` is told `seconds` from now on.
    void set(const QString& eui64, int seconds);
    // The whole registry at once, in its order: the first of two sensors with one address wins.
    void assign(const QVector<QPair<QString, int>>& registry);
    // No sensor is answered from now on.
    void close();

private:
    mutable QMutex lock;
    // Keyed by the upper-case address: a sensor is one sensor whatever case its address comes in.
    QHash<QString, int> table;
    bool closed = false;
};
