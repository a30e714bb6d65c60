#pragma once

#include <QVector>
#include <QtGlobal>

#include "ui/graphcurve.h"
#include "ui/graphsample.h"

class GraphModel;

// A long period's samples reduced to time columns about one pixel wide, without the samples:
// what the curves draw in each column, in values rather than pixels, so that new axis ranges
// cost nothing. The columns lie on a grid of `stepMs` counted from the epoch, not from the
// period's start: a period that slides on keeps its columns, new samples fold into the last
// ones, and columns that left the period are dropped.
//
// Per column and pane it keeps the first and the last value (the lines to the neighbouring
// columns leave from them), the span of each joined run within the column (a vertical stroke
// once drawn in one pixel column) and the values of its marks as a few clusters. Spans and
// clusters are capped: past the cap the two closest merge, which never joins marks the
// painter would have drawn apart while a column holds no more groups than it draws apart.
class GraphColumns
{
public:
    struct Span {
        double low = 0;
        double high = 0;
        bool operator==(const Span& o) const { return low == o.low && high == o.high; }
    };
    struct Pane {
        int points = 0;
        double first = 0;
        double last = 0;
        double minimum = 0;
        double maximum = 0;
        bool firstJoined = false;
        // How the first point followed the sample before it, and whether it came with the
        // column's first sample: what joining it needs when columns read apart are put together.
        bool firstClose = false;
        bool opensColumn = false;
        QVector<Span> strokes;
        QVector<Span> marks;
        Span run; // the joined run still open at `last`
        bool operator==(const Pane& o) const;
    };
    struct Column {
        qint64 index = 0; // start = index * stepMs
        qint64 count = 0;
        qint64 firstMs = 0;
        Pane pane[2];
        bool operator==(const Column& o) const
        {
            return index == o.index && count == o.count && firstMs == o.firstMs && pane[0] == o.pane[0]
                && pane[1] == o.pane[1];
        }
    };

    static constexpr int maxSpans = 8;

    GraphColumns(qint64 stepMs, qint64 breakLimitMs);
    // The grid for a period of `spanMs` over a pane `paneWidth` pixels wide: one column is never
    // narrower than a pixel, so two columns never share one.
    static qint64 stepFor(qint64 spanMs, double paneWidth);

    // `s` follows every sample added before it in time.
    void add(const GraphSample& s);
    qint64 columnOf(qint64 msecs) const;

    // Brings the columns up to a period whose first stored sample is at or after `cutMs`, the
    // samples before it gone. The samples from `cutMs` up to the end of column `*throughIndex`
    // are to be read again into `head` (a fresh GraphColumns of the same grid), since how the
    // first of them join depends on what went; prepareCut() names that column and answers false
    // when the cut leaves too little to keep (read the period whole then).
    bool prepareCut(qint64 cutMs, qint64* throughIndex) const;
    void replaceHead(const GraphColumns& head, qint64 throughIndex);
    // Puts the columns of the samples that follow these (read apart, on the same grid, from a
    // later column on) after them, as if they had been added here one by one.
    void append(const GraphColumns& later);

    GraphSummary summary() const;
    // The pane's curve for `model`, laid out over the same period.
    GraphCurve curve(GraphPane pane, const GraphModel& model) const;

    qint64 stepMs() const { return step; }
    const QVector<Column>& columns() const { return cols; }
    qint64 count() const { return total; }
    qint64 lastMs() const { return previousMs; }
    bool operator==(const GraphColumns& o) const;

private:
    static void addSpan(QVector<Span>& spans, Span s);
    static void closeRun(Pane& p);

    qint64 step;
    qint64 breakLimit;
    QVector<Column> cols;
    qint64 total = 0;
    qint64 previousMs = 0;
    bool haveSample = false;
    bool havePoint[2] = { false, false };
};
