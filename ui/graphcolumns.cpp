#include "ui/graphcolumns.h"

#include <QLine>
#include <QPoint>

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>

#include "ui/graphmodel.h"

namespace
{

qint64 floorDiv(qint64 a, qint64 b)
{
    const qint64 q = a / b;
    return (a % b != 0 && (a < 0) != (b < 0)) ? q - 1 : q;
}

} // namespace

bool GraphColumns::Pane::operator==(const Pane& o) const
{
    return points == o.points && first == o.first && last == o.last && minimum == o.minimum && maximum == o.maximum
        && firstJoined == o.firstJoined && firstClose == o.firstClose && opensColumn == o.opensColumn
        && strokes == o.strokes && marks == o.marks && run == o.run;
}

GraphColumns::GraphColumns(qint64 stepMs, qint64 breakLimitMs)
    : step(std::max<qint64>(1, stepMs))
    , breakLimit(breakLimitMs)
{
}

qint64 GraphColumns::stepFor(qint64 spanMs, double paneWidth)
{
    if (paneWidth < 1)
        return std::max<qint64>(1, spanMs);
    return std::max<qint64>(1, qint64(std::ceil(double(std::max<qint64>(spanMs, 1)) / paneWidth)));
}

qint64 GraphColumns::columnOf(qint64 msecs) const
{
    return floorDiv(msecs, step);
}

// Spans stay sorted and apart; one that overlaps others swallows them, and past the cap the
// two with the smallest gap between them become one.
void GraphColumns::addSpan(QVector<Span>& spans, Span s)
{
    int i = 0;
    while (i < spans.size() && spans[i].high < s.low)
        ++i;
    int j = i;
    while (j < spans.size() && spans[j].low <= s.high) {
        s.low = std::min(s.low, spans[j].low);
        s.high = std::max(s.high, spans[j].high);
        ++j;
    }
    if (j == i + 1 && spans[i] == s)
        return;
    spans.remove(i, j - i);
    spans.insert(i, s);
    if (spans.size() <= maxSpans)
        return;
    int closest = 0;
    for (int k = 1; k + 1 < spans.size(); ++k) {
        if (spans[k + 1].low - spans[k].high < spans[closest + 1].low - spans[closest].high)
            closest = k;
    }
    spans[closest].high = spans[closest + 1].high;
    spans.remove(closest + 1);
}

// A run drawn within one column is a vertical stroke over its values; a single point is none.
void GraphColumns::closeRun(Pane& p)
{
    if (p.run.low < p.run.high)
        addSpan(p.strokes, p.run);
    p.run = Span();
}

void GraphColumns::add(const GraphSample& s)
{
    // The gap that breaks a curve is measured to the sample just before, whichever pane that
    // one has a value for.
    const bool close = haveSample && s.msecs - previousMs < breakLimit;
    previousMs = s.msecs;
    haveSample = true;
    ++total;
    const qint64 index = columnOf(s.msecs);
    if (cols.isEmpty() || cols.last().index != index) {
        if (!cols.isEmpty()) {
            closeRun(cols.last().pane[0]);
            closeRun(cols.last().pane[1]);
        }
        Column c;
        c.index = index;
        c.firstMs = s.msecs;
        cols.append(c);
    }
    Column& c = cols.last();
    ++c.count;
    for (int i = 0; i < 2; ++i) {
        if (!(i == 0 ? s.hasTemperature : s.hasWetness))
            continue;
        const double v = i == 0 ? s.temperature : s.wetness;
        const bool joined = close && havePoint[i];
        havePoint[i] = true;
        Pane& p = c.pane[i];
        if (!p.points++) {
            p.first = v;
            p.firstJoined = joined;
            p.firstClose = close;
            p.opensColumn = c.count == 1;
            p.minimum = p.maximum = v;
            p.run = { v, v };
        } else {
            p.minimum = std::min(p.minimum, v);
            p.maximum = std::max(p.maximum, v);
            if (joined) {
                p.run.low = std::min(p.run.low, v);
                p.run.high = std::max(p.run.high, v);
            } else {
                closeRun(p);
                p.run = { v, v };
            }
        }
        p.last = v;
        addSpan(p.marks, { v, v });
    }
}

// Columns after the cut keep what they hold; only how the first samples after it join can
// change (the first of all, and the first of each pane, join nothing). So the columns are read
// again up to the first one by which every pane that still has a point has had one.
bool GraphColumns::prepareCut(qint64 cutMs, qint64* throughIndex) const
{
    *throughIndex = -1;
    if (cols.isEmpty())
        return false;
    if (cols.first().firstMs >= cutMs)
        return true;
    const qint64 cut = columnOf(cutMs);
    int k = 0;
    while (k < cols.size() && cols[k].index <= cut)
        ++k;
    bool need[2] = { false, false };
    for (int m = k; m < cols.size(); ++m) {
        need[0] = need[0] || cols[m].pane[0].points > 0;
        need[1] = need[1] || cols[m].pane[1].points > 0;
    }
    for (int m = k; m < cols.size() - 1; ++m) {
        for (int i = 0; i < 2; ++i)
            need[i] = need[i] && !cols[m].pane[i].points;
        if (!need[0] && !need[1]) {
            *throughIndex = cols[m].index;
            return true;
        }
    }
    // The last column would have to be read again, and what is open in it with it.
    return false;
}

void GraphColumns::replaceHead(const GraphColumns& head, qint64 throughIndex)
{
    int kept = 0;
    while (kept < cols.size() && cols[kept].index <= throughIndex)
        total -= cols[kept++].count;
    QVector<Column> joined = head.cols;
    if (!joined.isEmpty()) {
        closeRun(joined.last().pane[0]);
        closeRun(joined.last().pane[1]);
    }
    joined += cols.mid(kept);
    cols = joined;
    total += head.total;
    haveSample = total > 0;
    for (int i = 0; i < 2; ++i)
        havePoint[i] = std::any_of(cols.cbegin(), cols.cend(), [i](const Column& c) { return c.pane[i].points > 0; });
}

void GraphColumns::append(const GraphColumns& later)
{
    if (later.cols.isEmpty())
        return;
    if (cols.isEmpty()) {
        *this = later;
        return;
    }
    closeRun(cols.last().pane[0]);
    closeRun(cols.last().pane[1]);
    const int start = cols.size();
    cols += later.cols;
    // Read apart, the later samples' first sample followed nothing and no pane had a point yet.
    const bool close = later.cols.first().firstMs - previousMs < breakLimit;
    for (int i = 0; i < 2; ++i) {
        for (int m = start; m < cols.size(); ++m) {
            Pane& p = cols[m].pane[i];
            if (!p.points)
                continue;
            if (m == start && p.opensColumn)
                p.firstClose = close;
            p.firstJoined = p.firstClose && havePoint[i];
            break;
        }
        havePoint[i] = havePoint[i] || later.havePoint[i];
    }
    total += later.total;
    previousMs = later.previousMs;
}

GraphSummary GraphColumns::summary() const
{
    GraphSummary s;
    s.count = total;
    if (!cols.isEmpty())
        s.firstMsecs = cols.first().firstMs;
    for (const Column& c : cols) {
        for (int i = 0; i < 2; ++i) {
            const Pane& p = c.pane[i];
            if (!p.points)
                continue;
            bool& has = i == 0 ? s.hasTemperature : s.hasWetness;
            double& low = i == 0 ? s.minTemperature : s.minWetness;
            double& high = i == 0 ? s.maxTemperature : s.maxWetness;
            low = has ? std::min(low, p.minimum) : p.minimum;
            high = has ? std::max(high, p.maximum) : p.maximum;
            has = true;
        }
    }
    return s;
}

// Every sample of a column is drawn at the column's middle: at most a pixel from where it lies.
GraphCurve GraphColumns::curve(GraphPane which, const GraphModel& model) const
{
    const int i = which == GraphPane::Temperature ? 0 : 1;
    GraphCurve curve;
    auto row = [&](double v) { return GraphModel::truncated(model.y(which, v)); };
    QPoint previous;
    bool have = false;
    // Spans of marks in pixel rows, top and bottom: at most as many as the column's clusters.
    std::array<std::pair<double, double>, maxSpans> groups;
    curve.lines.reserve(3 * cols.size());
    curve.marks.reserve(2 * cols.size());
    for (const Column& c : cols) {
        const Pane& p = c.pane[i];
        if (!p.points)
            continue;
        const qint64 middle
            = std::clamp(c.index * step + step / 2, model.startMs, std::max(model.startMs, model.endMs));
        const double xf = model.x(middle);
        const int x = GraphModel::truncated(xf);
        const QPoint first(x, row(p.first));
        if (p.firstJoined && have && previous != first)
            curve.lines.append(QLine(previous, first));
        auto stroke = [&](const Span& s) {
            if (row(s.high) != row(s.low))
                curve.lines.append(QLine(x, row(s.high), x, row(s.low)));
        };
        for (const Span& s : p.strokes)
            stroke(s);
        stroke(p.run);
        // Marks within a mark's size of each other make one tall box; more than a few groups
        // make one box over all of them. Higher values lie higher up: walk the clusters down.
        int count = 0;
        for (int k = p.marks.size() - 1; k >= 0; --k) {
            const double top = model.y(which, p.marks[k].high);
            const double bottom = model.y(which, p.marks[k].low);
            if (count && top - groups[count - 1].second <= GraphCurve::markSize)
                groups[count - 1].second = std::max(groups[count - 1].second, bottom);
            else
                groups[count++] = { top, bottom };
        }
        if (count > GraphCurve::maxMarkGroups) {
            groups[0].second = groups[count - 1].second;
            count = 1;
        }
        for (int k = 0; k < count; ++k)
            curve.marks.append(QRectF(xf - 2.0, groups[k].first - 2.0, GraphCurve::markSize,
                groups[k].second - groups[k].first + GraphCurve::markSize));
        previous = QPoint(x, row(p.last));
        have = true;
    }
    return curve;
}

bool GraphColumns::operator==(const GraphColumns& o) const
{
    return step == o.step && breakLimit == o.breakLimit && cols == o.cols && total == o.total
        && previousMs == o.previousMs && haveSample == o.haveSample && havePoint[0] == o.havePoint[0]
        && havePoint[1] == o.havePoint[1];
}
