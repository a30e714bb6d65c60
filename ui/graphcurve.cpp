#include "ui/graphcurve.h"

#include <QPoint>
#include <QPointF>

#include <algorithm>
#include <cmath>
#include <vector>

#include "ui/graphmodel.h"

namespace
{

// Collects the segments of joined runs, keeping per pixel column only the points that shape
// what is drawn there.
class LineReducer
{
public:
    explicit LineReducer(QVector<QLine>& out)
        : lines(out)
    {
    }
    // A copy that writes into `out`, which holds a copy of what `other` wrote.
    LineReducer(const LineReducer& other, QVector<QLine>& out)
        : lines(out)
        , pending(other.pending)
        , stubs(other.stubs)
        , column(other.column)
        , lastEmitted(other.lastEmitted)
        , haveEmitted(other.haveEmitted)
        , inRun(other.inRun)
        , runColumns(other.runColumns)
    {
    }

    void add(const QPoint& p, bool joined)
    {
        if (!joined) {
            endRun();
            startRun(p);
            return;
        }
        if (p.x() != column.x) {
            flushColumn();
            openColumn(p);
            ++runColumns;
            return;
        }
        ++column.count;
        column.last = p;
        if (p.y() < column.minY) {
            column.minY = p.y();
            column.minAt = column.count;
        }
        if (p.y() > column.maxY) {
            column.maxY = p.y();
            column.maxAt = column.count;
        }
    }

    void finish()
    {
        endRun();
        lines += stubs;
    }

private:
    struct Column {
        int x = 0;
        QPoint first;
        QPoint last;
        int minY = 0;
        int maxY = 0;
        int minAt = 0;
        int maxAt = 0;
        int count = 0;
    };

    void startRun(const QPoint& p)
    {
        inRun = true;
        runColumns = 1;
        haveEmitted = false;
        pending.clear();
        openColumn(p);
    }

    void openColumn(const QPoint& p) { column = Column { p.x(), p, p, p.y(), p.y(), 0, 0, 0 }; }

    void emitPoint(const QPoint& p)
    {
        if (haveEmitted && p != lastEmitted)
            pending.append(QLine(lastEmitted, p));
        lastEmitted = p;
        haveEmitted = true;
    }

    void flushColumn()
    {
        emitPoint(column.first);
        const QPoint low(column.x, column.minY);
        const QPoint high(column.x, column.maxY);
        if (column.minAt <= column.maxAt) {
            emitPoint(low);
            emitPoint(high);
        } else {
            emitPoint(high);
            emitPoint(low);
        }
        emitPoint(column.last);
    }

    // A run that stays in one column is a vertical stroke there; such strokes of one column
    // are drawn as one, so a column never holds more than a few shapes.
    void endRun()
    {
        if (!inRun)
            return;
        inRun = false;
        flushColumn();
        if (runColumns > 1) {
            lines += pending;
        } else if (column.minY < column.maxY) {
            if (!stubs.isEmpty() && stubs.last().x1() == column.x) {
                QLine& s = stubs.last();
                s.setP1(QPoint(column.x, std::min(s.y1(), column.minY)));
                s.setP2(QPoint(column.x, std::max(s.y2(), column.maxY)));
            } else {
                stubs.append(QLine(column.x, column.minY, column.x, column.maxY));
            }
        }
    }

    QVector<QLine>& lines;
    QVector<QLine> pending;
    QVector<QLine> stubs;
    Column column;
    QPoint lastEmitted;
    bool haveEmitted = false;
    bool inRun = false;
    int runColumns = 0;
};

// Groups the marks of each pixel column. The column's points are binned by pixel row, so a
// column costs its points plus the rows between its lowest and highest mark, with no sort:
// walking the rows in order meets the marks sorted by height, and marks within one row are
// always less than a mark's size apart. The bins are plain vectors: they never leave the
// reducer, so implicit sharing would only add a detach check to every access.
class MarkReducer
{
public:
    MarkReducer(QVector<QRectF>& out, const QRectF& pane)
        : marks(out)
        , rowBase(GraphModel::truncated(std::floor(pane.top())) - 4)
        // A pane of negative height (never laid out) still gets its margin rows, so the clamp
        // below always has a row to land on.
        , rows(std::max(0, GraphModel::truncated(pane.height())) + 10)
    {
    }
    // A copy that writes into `out`, which holds a copy of what `other` wrote.
    MarkReducer(const MarkReducer& other, QVector<QRectF>& out)
        : marks(out)
        , rowBase(other.rowBase)
        , rows(other.rows)
        , groups(other.groups)
        , column(other.column)
        , count(other.count)
        , lowest(other.lowest)
        , highest(other.highest)
    {
    }

    void add(const QPointF& p)
    {
        const int x = GraphModel::truncated(p.x());
        if (count && x != column)
            flush();
        column = x;
        // A value outside the pane cannot occur (the ranges hold every value); were it to,
        // it would count with the pane's edge row.
        const int index = std::clamp(GraphModel::truncated(std::floor(p.y())) - rowBase, 0, int(rows.size()) - 1);
        Row& r = rows[index];
        if (!r.used) {
            r = Row { p.x(), p.y(), p.y(), true };
        } else {
            r.top = std::min(r.top, p.y());
            r.bottom = std::max(r.bottom, p.y());
        }
        if (!count || index < lowest)
            lowest = index;
        if (!count || index > highest)
            highest = index;
        ++count;
    }

    void finish() { flush(); }

private:
    struct Row {
        double x = 0;
        double top = 0;
        double bottom = 0;
        bool used = false;
    };

    void flush()
    {
        if (!count)
            return;
        groups.clear();
        for (int i = lowest; i <= highest; ++i) {
            Row& r = rows[i];
            if (!r.used)
                continue;
            if (!groups.empty() && r.top - groups.back().bottom <= GraphCurve::markSize)
                groups.back().bottom = r.bottom;
            else
                groups.push_back(r);
            r.used = false;
        }
        if (groups.size() > GraphCurve::maxMarkGroups)
            groups = { Row { groups.front().x, groups.front().top, groups.back().bottom, true } };
        for (const Row& g : groups)
            marks.append(QRectF(g.x - 2.0, g.top - 2.0, GraphCurve::markSize, g.bottom - g.top + GraphCurve::markSize));
        count = 0;
    }

    QVector<QRectF>& marks;
    const int rowBase;
    std::vector<Row> rows;
    std::vector<Row> groups;
    int column = 0;
    int count = 0;
    int lowest = 0;
    int highest = 0;
};

} // namespace

struct GraphCurve::Builder::State {
    State(GraphPane which, const GraphModel& m)
        : model(m)
        , pane(which)
        , lines(curve.lines)
        , marks(curve.marks, m.pane(which))
    {
    }
    State(const State& other)
        : model(other.model)
        , pane(other.pane)
        , curve(other.curve)
        , lines(other.lines, curve.lines)
        , marks(other.marks, curve.marks)
        , previousMsecs(other.previousMsecs)
        , haveSample(other.haveSample)
        , havePoint(other.havePoint)
    {
    }

    const GraphModel& model;
    const GraphPane pane;
    GraphCurve curve;
    LineReducer lines;
    MarkReducer marks;
    qint64 previousMsecs = 0;
    bool haveSample = false;
    bool havePoint = false;
};

GraphCurve::Builder::Builder(GraphPane pane, const GraphModel& model)
    : state(std::make_unique<State>(pane, model))
{
}

GraphCurve::Builder::~Builder() = default;

void GraphCurve::Builder::add(const GraphSample& s)
{
    State& b = *state;
    const bool temperature = b.pane == GraphPane::Temperature;
    const bool has = temperature ? s.hasTemperature : s.hasWetness;
    // The gap that breaks the curve is measured to the sample just before, whichever pane that
    // one has a value for.
    const bool joined = b.havePoint && b.haveSample && s.msecs - b.previousMsecs < b.model.breakLimitMs();
    b.previousMsecs = s.msecs;
    b.haveSample = true;
    if (!has)
        return;
    const QPointF p(b.model.x(s.msecs), b.model.y(b.pane, temperature ? s.temperature : s.wetness));
    b.lines.add(QPoint(GraphModel::truncated(p.x()), GraphModel::truncated(p.y())), joined);
    b.marks.add(p);
    b.havePoint = true;
}

GraphCurve GraphCurve::Builder::curve() const
{
    // Finishing closes the open run and column: done on a copy, the builder can go on.
    State done(*state);
    done.lines.finish();
    done.marks.finish();
    return done.curve;
}

GraphCurve GraphCurve::build(const QVector<GraphSample>& samples, GraphPane pane, const GraphModel& model)
{
    Builder builder(pane, model);
    for (const GraphSample& s : samples)
        builder.add(s);
    return builder.curve();
}
