#pragma once

#include <QtGlobal>

#include <algorithm>

#include "core/graphsample.h"

// What the axes need of a period's samples, without the samples: how many there are, the
// first instant, and the lowest and highest value of each pane (flags false: none there).
struct GraphSummary {
    qint64 count = 0;
    qint64 firstMsecs = 0;
    bool hasTemperature = false;
    bool hasWetness = false;
    double minTemperature = 0.0;
    double maxTemperature = 0.0;
    double minWetness = 0.0;
    double maxWetness = 0.0;

    void add(const GraphSample& s)
    {
        if (!count++)
            firstMsecs = s.msecs;
        if (s.hasTemperature) {
            minTemperature = hasTemperature ? std::min(minTemperature, s.temperature) : s.temperature;
            maxTemperature = hasTemperature ? std::max(maxTemperature, s.temperature) : s.temperature;
            hasTemperature = true;
        }
        if (s.hasWetness) {
            minWetness = hasWetness ? std::min(minWetness, s.wetness) : s.wetness;
            maxWetness = hasWetness ? std::max(maxWetness, s.wetness) : s.wetness;
            hasWetness = true;
        }
    }
};

// The two panes of the chart: temperature on top, humidity below, one time axis.
enum class GraphPane { Temperature, Wetness };
