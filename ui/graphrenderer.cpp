#include "ui/graphrenderer.h"

#include <QCoreApplication>
#include <QFontMetricsF>
#include <QLineF>
#include <QPainter>

#include <cmath>

#include "ui/graphcurve.h"

namespace
{

void drawGrid(QPainter& p, const GraphModel& chart)
{
    QPen pen = p.pen();
    pen.setStyle(Qt::DotLine);
    pen.setColor(chart.line);
    p.setPen(pen);
    p.setBrush(Qt::NoBrush);
    const QRectF& top = chart.tempPane;
    const QRectF& bottom = chart.wetnessPane;
    const QVector<int> columns = chart.gridColumns();
    QVector<QString> labels;
    const QFontMetricsF metrics(p.font());
    double widest = 0;
    for (int x : columns) {
        p.drawLine(x, GraphModel::truncated(top.top()), x, GraphModel::truncated(top.bottom()));
        p.drawLine(x, GraphModel::truncated(bottom.top() + 3), x, GraphModel::truncated(bottom.bottom()));
        labels << GraphModel::timeLabel(chart.msecsAt(x), chart.dateTimeStyle);
        widest = std::max(widest, metrics.horizontalAdvance(labels.last()));
    }
    // The labels are as wide as the platform's font makes them: they are spaced by that
    // width, so they neither overlap nor get cut.
    const double boxWidth = GraphModel::timeLabelWidth(widest);
    for (int x : chart.timeLabelColumns(boxWidth))
        p.drawText(chart.timeLabelBox(x, boxWidth), Qt::AlignCenter, labels[columns.indexOf(x)]);
}

// A mark is an antialiased circle 3 pixels wide; thousands of them, each turned into a curve
// and filled, would cost most of a picture. So the circle is drawn once for every quarter-pixel
// offset and copied: it lands within an eighth of a pixel of its place.
class MarkStamps
{
public:
    static constexpr int steps = 4;

    explicit MarkStamps(const QColor& color)
    {
        const double size = GraphCurve::markSize;
        for (int fx = 0; fx < steps; ++fx) {
            for (int fy = 0; fy < steps; ++fy) {
                QImage& stamp = stamps[fx][fy];
                stamp = QImage(5, 5, QImage::Format_ARGB32_Premultiplied);
                stamp.fill(Qt::transparent);
                QPainter p(&stamp);
                p.setRenderHint(QPainter::Antialiasing);
                p.setPen(Qt::NoPen);
                p.setBrush(color);
                p.drawEllipse(QRectF(1 + double(fx) / steps, 1 + double(fy) / steps, size, size));
            }
        }
    }
    // The circle in the box whose top left corner is (left, top).
    void draw(QPainter& p, double left, double top) const
    {
        const auto split = [](double v, int* whole) {
            const int quarters = GraphModel::truncated(std::floor(v * steps + 0.5));
            *whole = quarters >= 0 ? quarters / steps : -((-quarters + steps - 1) / steps);
            return quarters - *whole * steps;
        };
        int x = 0;
        int y = 0;
        const int fx = split(left, &x);
        const int fy = split(top, &y);
        p.drawImage(x - 1, y - 1, stamps[fx][fy]);
    }

private:
    QImage stamps[steps][steps];
};

// A box taller than one mark stands for a column of touching marks: its end circles are drawn
// like any mark, the straight part between them is filled on whole pixels.
void drawMarks(QPainter& p, const GraphModel& chart, const QVector<QRectF>& marks)
{
    if (marks.isEmpty())
        return;
    const double size = GraphCurve::markSize;
    const MarkStamps stamps(chart.node);
    QVector<QRect> bodies;
    for (const QRectF& m : marks) {
        stamps.draw(p, m.left(), m.top());
        if (m.height() > size) {
            stamps.draw(p, m.left(), m.bottom() - size);
            bodies << QRect(qRound(m.left()), qRound(m.top() + size / 2), int(size), qRound(m.height() - size));
        }
    }
    p.setRenderHint(QPainter::Antialiasing, false);
    for (const QRect& body : bodies)
        p.fillRect(body, chart.node);
    p.setRenderHint(QPainter::Antialiasing, true);
}

void drawPane(QPainter& p, const GraphModel& chart, const GraphCurve& curve, GraphPane pane, const QString& title)
{
    const QRectF& r = chart.pane(pane);
    const int first = pane == GraphPane::Temperature ? GraphModel::TMinCritical : GraphModel::HMinCritical;

    QPen dashed = p.pen();
    dashed.setStyle(Qt::DashLine);
    for (int k = 3; k >= 0; --k) {
        const auto which = GraphModel::Threshold(first + k);
        dashed.setColor(chart.thresholdColors[which]);
        p.setPen(dashed);
        const double y = chart.thresholdY(which);
        const int row = GraphModel::truncated(y);
        p.drawLine(GraphModel::truncated(r.left() + 1), row, GraphModel::truncated(r.right()), row);
        p.drawText(chart.thresholdLabelBox(y), Qt::AlignHCenter | Qt::AlignTop,
            QString::number(double(chart.thresholds[which]), 'g', 6));
    }

    p.setPen(QPen(Qt::black, 1));
    const QLineF axes[] = {
        { r.topLeft(), r.bottomLeft() },
        { r.bottomLeft(), r.bottomRight() },
        { r.topLeft(), r.topLeft() + QPointF(-3.5, 7) },
        { r.topLeft(), r.topLeft() + QPointF(3.5, 7) },
        { r.bottomRight(), r.bottomRight() + QPointF(-7, -3.5) },
        { r.bottomRight(), r.bottomRight() + QPointF(-7, 3.5) },
    };
    p.drawLines(axes, 6);

    p.setPen(Qt::gray);
    p.drawText(QPoint(GraphModel::truncated(r.left() + 7), GraphModel::truncated(r.top() + 2)), title);

    p.setPen(QPen(chart.line, 1));
    p.drawLines(curve.lines);
    drawMarks(p, chart, curve.marks);
    p.setBrush(Qt::NoBrush);
}

// The chart over its background; without curves (nothing loaded yet) the background alone.
QImage drawChart(const GraphModel& chart, const GraphCurve* temperature, const GraphCurve* wetness)
{
    const int w = chart.width;
    const int h = chart.height;
    QImage image(std::max(w, 1), std::max(h, 1), QImage::Format_ARGB32_Premultiplied);
    // The antialiased fill below may leave the last column a shade short of full cover; over
    // memory never written that shade would differ from picture to picture.
    image.fill(chart.background);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.fillRect(QRect(QPoint(-1, -1), QPoint(w - 1, h - 1)), chart.background);
    if (temperature && wetness) {
        drawGrid(p, chart);
        drawPane(p, chart, *temperature, GraphPane::Temperature,
            QCoreApplication::translate("GraphWidget", "Температура, °C"));
        drawPane(p, chart, *wetness, GraphPane::Wetness, QCoreApplication::translate("GraphWidget", "Влажность, %"));
    }
    return image;
}

} // namespace

QImage GraphRenderer::draw(const GraphModel& chart, const QVector<GraphSample>& samples, bool loaded)
{
    if (!loaded)
        return drawChart(chart, nullptr, nullptr);
    const GraphCurve temperature = GraphCurve::build(samples, GraphPane::Temperature, chart);
    const GraphCurve wetness = GraphCurve::build(samples, GraphPane::Wetness, chart);
    return drawChart(chart, &temperature, &wetness);
}

QImage GraphRenderer::draw(const GraphModel& chart, const GraphCurve& temperature, const GraphCurve& wetness)
{
    return drawChart(chart, &temperature, &wetness);
}
