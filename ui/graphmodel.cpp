#include "ui/graphmodel.h"

#include <QDateTime>

#include <algorithm>
#include <cmath>

#include "app/appstate.h"
#include "core/records.h"

namespace
{

// Thresholds given the wrong way round would turn the axis upside down, and a range that
// truncation closed would leave no scale: keep every axis at least one unit long.
void keepOpen(int& low, int& high)
{
    if (high < low)
        std::swap(low, high);
    if (high == low)
        ++high;
}

} // namespace

void GraphModel::readConfig(const AppState& state, const Sensor* sensor)
{
    if (sensor && sensor->isEnabled) {
        thresholds = { float(sensor->tMinCritical), float(sensor->tMinNoncritical), float(sensor->tMaxNoncritical),
            float(sensor->tMaxCritical), float(sensor->hMinCritical), float(sensor->hMinNoncritical),
            float(sensor->hMaxNoncritical), float(sensor->hMaxCritical) };
    } else {
        thresholds = { float(state.TemperatureMinCritical), float(state.TemperatureMinWarning),
            float(state.TemperatureMaxWarning), float(state.TemperatureMaxCritical), float(state.WetnessMinCritical),
            float(state.WetnessMinWarning), float(state.WetnessMaxWarning), float(state.WetnessMaxCritical) };
    }
    thresholdColors = { state.minimalCriticalTemperature, state.minimalNonCriticalTemperature,
        state.maximalNonCriticalTemperature, state.maximalCriticalTemperature, state.minimalCriticalHumidity,
        state.minimalNonCriticalHumidity, state.maximalNonCriticalHumidity, state.maximalCriticalHumidity };
    background = state.font;
    line = state.line;
    node = state.node;
    breakInterval = state.BreakInterval;
    dateTimeStyle = state.DateTimeStyle;
}

void GraphModel::setRanges(const QVector<GraphSample>& samples)
{
    GraphSummary summary;
    for (const GraphSample& s : samples)
        summary.add(s);
    setRangesFrom(summary);
}

// Truncation never decreases a value, so the lowest and the highest value frame the axes as
// every value would one by one.
void GraphModel::setRangesFrom(const GraphSummary& summary)
{
    tempMin = truncated(thresholds[TMinCritical] - 1.0);
    tempMax = truncated(thresholds[TMaxCritical] + 1.0);
    wetnessMin = truncated(thresholds[HMinCritical] - 2.0);
    wetnessMax = truncated(thresholds[HMaxCritical] + 2.0);
    if (summary.hasTemperature) {
        if (tempMin > summary.minTemperature - 1.0)
            tempMin = truncated(summary.minTemperature - 1.0);
        if (summary.maxTemperature + 1.0 > tempMax)
            tempMax = truncated(summary.maxTemperature + 1.0);
    }
    if (summary.hasWetness) {
        if (wetnessMin > summary.minWetness - 2.0)
            wetnessMin = truncated(summary.minWetness - 2.0);
        if (summary.maxWetness + 2.0 > wetnessMax)
            wetnessMax = truncated(summary.maxWetness + 2.0);
    }
    keepOpen(tempMin, tempMax);
    keepOpen(wetnessMin, wetnessMax);
    tempRange = float(tempMax - tempMin);
    wetnessRange = float(wetnessMax - wetnessMin);
}

void GraphModel::setPeriod(qint64 fromMs, qint64 toMs, const QVector<GraphSample>& samples)
{
    GraphSummary summary;
    if (!samples.isEmpty())
        summary.add(samples.first());
    setPeriodFrom(fromMs, toMs, summary);
}

void GraphModel::setPeriodFrom(qint64 fromMs, qint64 toMs, const GraphSummary& summary)
{
    startMs = fromMs;
    if (summary.count && summary.firstMsecs < startMs)
        startMs = summary.firstMsecs;
    endMs = toMs;
    spanMs = endMs - startMs;
}

void GraphModel::layout(int w, int h)
{
    width = w;
    height = h;
    const int half = h / 2;
    const double paneWidth = std::max(0.0, (w - 18) - 24.5);
    tempPane = QRectF(24.5, 10.5, paneWidth, std::max(0.0, half - 12.5 - 10.5));
    wetnessPane = QRectF(24.5, 10.5 + half, paneWidth, std::max(0.0, h - 12.5 - (10.5 + half)));
    tempScale = tempPane.height() / tempRange;
    wetnessScale = wetnessPane.height() / wetnessRange;
    // A period of no length (one instant chosen, nothing earlier loaded) is drawn as one
    // millisecond long, so everything sits at its start.
    timeScale = paneWidth / double(std::max<qint64>(spanMs, 1));
}

qint64 GraphModel::msecsAt(double column) const
{
    if (timeScale <= 0)
        return startMs;
    // ±1e15 ms is some 30,000 years each way: beyond any axis, within qint64.
    const double offset = std::clamp((column - tempPane.left()) / timeScale, -1e15, 1e15);
    return startMs + qint64(offset);
}

QString GraphModel::valueTextAt(double row) const
{
    for (GraphPane which : { GraphPane::Temperature, GraphPane::Wetness }) {
        const QRectF& p = pane(which);
        if (row < p.top() || row > p.bottom())
            continue;
        if (scale(which) <= 0)
            return QString();
        const float value = float((p.top() - row + p.height() - 0.5) / scale(which) + minimum(which));
        return QString::number(double(value), 'f', 1);
    }
    return QString();
}

QVector<int> GraphModel::gridColumns() const
{
    QVector<int> columns;
    for (int k = 1; k <= 9; ++k)
        columns << k * (width / 10);
    return columns;
}

QRectF GraphModel::timeLabelBox(double column, double boxWidth) const
{
    // A wider box grows evenly around the place the 110-pixel one had.
    const double left = column - 45 - (boxWidth - minTimeLabelWidth) / 2;
    return QRectF(left, tempPane.bottom(), boxWidth, wetnessPane.top() - tempPane.bottom());
}

QRectF GraphModel::cursorTimeBox(double column, double boxWidth) const
{
    QRectF box = timeLabelBox(column, boxWidth);
    if (box.left() < 0)
        box.moveLeft(0);
    else if (box.left() + boxWidth > width - 1)
        box.moveLeft(width - 1 - boxWidth);
    return box;
}

QVector<int> GraphModel::timeLabelColumns(double boxWidth) const
{
    QVector<int> labelled;
    const int spacing = width / 10;
    if (spacing <= 0)
        return labelled;
    const int step = timeLabelStep(spacing, boxWidth);
    const QVector<int> columns = gridColumns();
    for (int k = step; k <= columns.size(); k += step) {
        const QRectF box = timeLabelBox(columns[k - 1], boxWidth);
        if (box.left() >= 0 && box.right() <= width)
            labelled << columns[k - 1];
    }
    return labelled;
}

int GraphModel::timeLabelStep(int columnSpacing, double boxWidth)
{
    if (columnSpacing <= 0)
        return 1;
    return std::max(1, int(std::ceil(boxWidth / columnSpacing)));
}

double GraphModel::timeLabelWidth(double textWidth)
{
    return std::max(minTimeLabelWidth, std::ceil(textWidth) + 10);
}

double GraphModel::thresholdY(Threshold which) const
{
    return y(which < HMinCritical ? GraphPane::Temperature : GraphPane::Wetness, thresholds[which]);
}

QRectF GraphModel::thresholdLabelBox(double row) const
{
    return QRectF(0, row - 7, tempPane.left(), row + 5);
}

QString GraphModel::timeFormat(int dateTimeStyle)
{
    switch (dateTimeStyle) {
    case 0:
        return QStringLiteral("yyyy-MM-dd hh:mm:ss");
    case 2:
        return QStringLiteral("dd hh:mm:ss");
    case 3:
        // The trailing apostrophe opens an empty literal and prints nothing.
        return QStringLiteral("hh:mm:ss'");
    default:
        return QStringLiteral("MM-dd hh:mm:ss");
    }
}

QString GraphModel::timeLabel(qint64 msecs, int dateTimeStyle)
{
    return QDateTime::fromMSecsSinceEpoch(msecs).toString(timeFormat(dateTimeStyle));
}
