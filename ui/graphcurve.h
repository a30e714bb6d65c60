#pragma once

#include <QLine>
#include <QRectF>
#include <QVector>

#include <memory>

#include "ui/graphsample.h"

class GraphModel;

// One pane's curve as the painter draws it: the joined segments and the sample marks, already
// reduced to a few shapes per pixel column however many samples the period holds.
//
// Two samples are joined when the one before the later sample in the list (with or without a
// value in this pane) is less than the break limit older than it. Within one pixel column of
// a joined run only the first, lowest, highest and last points matter: the line between them
// covers the same pixels as the full zigzag, and the line to the next column leaves from the
// same last point. Marks in one column that lie within a mark's size of each other merge
// into one tall rounded box; a column with more than four separate groups gets one box over
// all of them.
class GraphCurve
{
public:
    static GraphCurve build(const QVector<GraphSample>& samples, GraphPane pane, const GraphModel& model);

    // The same reduction fed one sample at a time, in time order, so that the samples need not
    // be held: the graph reduces a long period while it reads it. `model` must be laid out
    // already (ranges, period, size) and outlive the builder.
    class Builder
    {
    public:
        Builder(GraphPane pane, const GraphModel& model);
        Builder(const Builder&) = delete;
        Builder& operator=(const Builder&) = delete;
        ~Builder();
        // `s` follows the sample added before it, whichever pane that one has a value for.
        void add(const GraphSample& s);
        // The curve of what was added so far; more may be added after.
        GraphCurve curve() const;

    private:
        struct State;
        std::unique_ptr<State> state;
    };

    // Whole-pixel segments (the chart's lines run between truncated coordinates).
    QVector<QLine> lines;
    // A 3 × 3 box is one mark, drawn as a circle; a taller one covers several.
    QVector<QRectF> marks;

    static constexpr double markSize = 3.0;
    static constexpr int maxMarkGroups = 4;
};
