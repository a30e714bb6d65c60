#pragma once

#include <QVector>

#include <algorithm>

// The value below which the share p (0..1) of the samples lies; 0 for no samples.
inline double percentile(QVector<double> v, double p)
{
    if (v.isEmpty())
        return 0;
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, int(p * v.size()))];
}
