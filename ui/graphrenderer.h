#pragma once

#include <QImage>
#include <QVector>

#include "ui/graphmodel.h"
#include "ui/graphsample.h"

class GraphCurve;

// Draws the whole chart into an image from plain data. It touches no widget, so the loading
// thread draws the chart of every load and the GUI thread only shows the finished picture;
// the widget itself draws only on a resize.
namespace GraphRenderer
{

// `chart` must be laid out for the image's size; until the first load (`loaded` false) only
// the background is drawn.
QImage draw(const GraphModel& chart, const QVector<GraphSample>& samples, bool loaded);
// The loaded chart with its curves already reduced.
QImage draw(const GraphModel& chart, const GraphCurve& temperature, const GraphCurve& wetness);

} // namespace GraphRenderer
