#pragma once

#include <QVariant>

#include "core/graphsample.h"

// A sample at `secs`; an invalid value stands for a NULL in the database.
inline GraphSample sample(qint64 secs, QVariant t, QVariant w = QVariant())
{
    GraphSample s;
    s.msecs = secs * 1000;
    s.hasTemperature = t.isValid();
    s.temperature = t.toDouble();
    s.hasWetness = w.isValid();
    s.wetness = w.toDouble();
    return s;
}
