#pragma once

#include <QDateTime>
#include <QtGlobal>

// One plotted measurement. A value whose flag is false was NULL in the database and is
// neither drawn nor marked.
struct GraphSample {
    QDateTime time;
    qint64 msecs = 0; // the same instant, ms since the epoch
    bool hasTemperature = false;
    bool hasWetness = false;
    double temperature = 0.0;
    double wetness = 0.0;
};
