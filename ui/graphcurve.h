#pragma once

#include <QLine>
#include <QRectF>
#include <QVector>

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

    // Whole-pixel segments (the chart's lines run between truncated coordinates).
    QVector<QLine> lines;
    // A 3 × 3 box is one mark, drawn as a circle; a taller one covers several.
    QVector<QRectF> marks;

    static constexpr double markSize = 3.0;
    static constexpr int maxMarkGroups = 4;
};
