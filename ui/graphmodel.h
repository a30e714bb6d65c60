#pragma once

#include <QColor>
#include <QRectF>
#include <QString>
#include <QVector>

#include <algorithm>
#include <array>
#include <cmath>

#include "ui/graphsample.h"

class AppState;
struct Sensor;

// Everything the chart needs before a pixel is painted: thresholds, value ranges, the time
// axis, the two panes and the mapping between data and widget coordinates. Plain values and
// functions without a painter, so that the layout can be checked on its own.
class GraphModel
{
public:
    // Positions in `thresholds`: temperature critical minimum, warning minimum, warning
    // maximum, critical maximum, then the same four for humidity.
    enum Threshold {
        TMinCritical,
        TMinWarning,
        TMaxWarning,
        TMaxCritical,
        HMinCritical,
        HMinWarning,
        HMaxWarning,
        HMaxCritical,
    };

    // The sensor's own thresholds when it has one that uses them, the global ones otherwise;
    // the colours, the break interval and the label style from the configuration.
    void readConfig(const AppState& state, const Sensor* sensor);
    // Axis ranges framing the critical thresholds, widened by every loaded value.
    void setRanges(const QVector<GraphSample>& samples);
    void setRangesFrom(const GraphSummary& summary);
    // The time axis runs from `fromMs` (or the first sample, when that is earlier) to `toMs`.
    void setPeriod(qint64 fromMs, qint64 toMs, const QVector<GraphSample>& samples);
    void setPeriodFrom(qint64 fromMs, qint64 toMs, const GraphSummary& summary);
    // Panes and scales for a widget of that size.
    void layout(int width, int height);

    const QRectF& pane(GraphPane which) const { return which == GraphPane::Temperature ? tempPane : wetnessPane; }
    int minimum(GraphPane which) const { return which == GraphPane::Temperature ? tempMin : wetnessMin; }
    double scale(GraphPane which) const { return which == GraphPane::Temperature ? tempScale : wetnessScale; }
    qint64 breakLimitMs() const { return qint64(breakInterval) * 1000; }

    double x(qint64 msecs) const { return tempPane.left() + double(msecs - startMs) * timeScale; }
    double y(GraphPane which, double value) const
    {
        return pane(which).bottom() - (value - minimum(which)) * scale(which);
    }
    // The instant under column x, in ms since the epoch.
    qint64 msecsAt(double x) const;
    // The value under row y as the cursor shows it; empty outside both panes.
    QString valueTextAt(double y) const;

    // Grid columns: nine lines at tenths of the width.
    QVector<int> gridColumns() const;
    // Box of the time label at column x, `boxWidth` wide (see timeLabelWidth); the cursor's
    // is kept inside the widget.
    QRectF timeLabelBox(double x, double boxWidth = minTimeLabelWidth) const;
    QRectF cursorTimeBox(double x, double boxWidth = minTimeLabelWidth) const;
    // The grid columns that carry a label: every step-th column, the step being the fewest
    // columns that give a box of that width room, so labels never overlap, and only those
    // whose box lies wholly inside the widget.
    QVector<int> timeLabelColumns(double boxWidth) const;
    static int timeLabelStep(int columnSpacing, double boxWidth);
    // A label box holds the text the font draws with a little air on both sides, and is
    // never narrower than the 110 pixels the chart was laid out for.
    static double timeLabelWidth(double textWidth);
    static constexpr double minTimeLabelWidth = 110;
    bool cursorInside(double x) const { return x >= tempPane.left() && x <= tempPane.right(); }
    double thresholdY(Threshold which) const;
    QRectF thresholdLabelBox(double y) const;

    static QString timeFormat(int dateTimeStyle);
    static QString timeLabel(qint64 msecs, int dateTimeStyle);
    // Truncation toward zero that stays defined for any double: values are held within
    // ±1e6, far beyond any axis or pixel the chart can show, and NaN gives 0.
    static int truncated(double value)
    {
        if (std::isnan(value))
            return 0;
        return int(std::clamp(value, -1e6, 1e6));
    }

    std::array<float, 8> thresholds {};
    std::array<QColor, 8> thresholdColors;
    QColor background = Qt::white;
    QColor line = Qt::black;
    QColor node = Qt::red;
    int breakInterval = 120; // seconds
    int dateTimeStyle = 0;

    int tempMin = 0;
    int tempMax = 1;
    int wetnessMin = 0;
    int wetnessMax = 1;
    float tempRange = 1;
    float wetnessRange = 1;
    double tempScale = 0;
    double wetnessScale = 0;

    qint64 startMs = 0;
    qint64 endMs = 0;
    qint64 spanMs = 0;
    double timeScale = 0;

    int width = 0;
    int height = 0;
    QRectF tempPane;
    QRectF wetnessPane;
};
