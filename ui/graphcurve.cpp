#include "ui/graphcurve.h"

#include <QPoint>
#include <QPointF>

#include <algorithm>

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

// Groups the marks of each pixel column.
class MarkReducer
{
public:
    explicit MarkReducer(QVector<QRectF>& out)
        : marks(out)
    {
    }

    void add(const QPointF& p)
    {
        const int x = GraphModel::truncated(p.x());
        if (!points.isEmpty() && x != column)
            flush();
        column = x;
        points.append(p);
    }

    void finish() { flush(); }

private:
    void flush()
    {
        if (points.isEmpty())
            return;
        std::sort(points.begin(), points.end(), [](const QPointF& a, const QPointF& b) { return a.y() < b.y(); });
        groups.clear();
        Group g { points.first().x(), points.first().y(), points.first().y() };
        for (int i = 1; i < points.size(); ++i) {
            const double y = points[i].y();
            if (y - g.bottom <= GraphCurve::markSize) {
                g.bottom = y;
            } else {
                groups.append(g);
                g = Group { points[i].x(), y, y };
            }
        }
        groups.append(g);
        if (groups.size() > GraphCurve::maxMarkGroups)
            groups = { Group { groups.first().x, groups.first().top, groups.last().bottom } };
        for (const Group& m : groups)
            marks.append(QRectF(m.x - 2.0, m.top - 2.0, GraphCurve::markSize, m.bottom - m.top + GraphCurve::markSize));
        points.clear();
    }

    struct Group {
        double x;
        double top;
        double bottom;
    };

    QVector<QRectF>& marks;
    QVector<QPointF> points;
    QVector<Group> groups;
    int column = 0;
};

} // namespace

GraphCurve GraphCurve::build(const QVector<GraphSample>& samples, GraphPane pane, const GraphModel& model)
{
    GraphCurve curve;
    LineReducer lines(curve.lines);
    MarkReducer marks(curve.marks);
    const bool temperature = pane == GraphPane::Temperature;
    const qint64 limit = model.breakLimitMs();
    bool havePrevious = false;
    for (int i = 0; i < samples.size(); ++i) {
        const GraphSample& s = samples[i];
        if (!(temperature ? s.hasTemperature : s.hasWetness))
            continue;
        const QPointF p(model.x(s.msecs), model.y(pane, temperature ? s.temperature : s.wetness));
        // The gap that breaks the curve is measured to the sample just before in the list,
        // whichever pane that one has a value for.
        const bool joined = havePrevious && s.msecs - samples[i - 1].msecs < limit;
        lines.add(QPoint(GraphModel::truncated(p.x()), GraphModel::truncated(p.y())), joined);
        marks.add(p);
        havePrevious = true;
    }
    lines.finish();
    marks.finish();
    return curve;
}
