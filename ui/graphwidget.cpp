#include "ui/graphwidget.h"

#include <QAction>
#include <QDir>
#include <QFileDialog>
#include <QFontMetrics>
#include <QIcon>
#include <QLineF>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>

#include "app/appstate.h"
#include "app/prompt.h"
#include "ui/graphcurve.h"
#include "ui/graphquery.h"
#include "ui/mainwindow.h"

GraphWidget::GraphWidget(QWidget* parent)
    : QWidget(parent)
    , saveFileName([](QWidget* owner) {
        return QFileDialog::getSaveFileName(
            owner, GraphWidget::tr("Сохранить как PNG"), QString(), GraphWidget::tr("PNG файл (*.png)"));
    })
{
    actionSaveToPng = new QAction(QIcon(QStringLiteral(":/chart_curve.ico")), tr("&Сохранить график в PNG"), this);
    connect(actionSaveToPng, &QAction::triggered, this, &GraphWidget::slotSaveToPng);
}

GraphWidget::~GraphWidget() = default;

void GraphWidget::loadMeasures()
{
    if (gMainWindow)
        loadMeasures(gMainWindow->currentEUI64, gMainWindow->graphFrom, gMainWindow->graphTo);
    else
        loadMeasures(QString(), QDateTime(), QDateTime());
}

void GraphWidget::loadMeasures(const QString& eui64, const QDateTime& from, const QDateTime& to)
{
    // The sensor is found by its address: a position in the registry goes stale as soon as
    // the registry changes.
    const Sensor* sensor = gAppState && !eui64.isEmpty() ? gAppState->findSensor(eui64) : nullptr;
    if (gAppState)
        chart.readConfig(*gAppState, sensor);
    const qint64 fromMs = from.isValid() ? from.toMSecsSinceEpoch() : 0;
    const qint64 toMs = to.isValid() ? to.toMSecsSinceEpoch() : fromMs;
    samples.clear();
    if (!eui64.isEmpty() && from.isValid() && to.isValid())
        samples = GraphQuery::load(eui64, from.toSecsSinceEpoch(), to.toSecsSinceEpoch());
    chart.setRanges(samples);
    chart.setPeriod(fromMs, toMs, samples);
    loaded = true;
    drawChart();
}

void GraphWidget::drawChart()
{
    const int w = width();
    const int h = height();
    const QSize imageSize(std::max(w, 1), std::max(h, 1));
    if (chartImage.size() != imageSize)
        chartImage = QImage(imageSize, QImage::Format_ARGB32_Premultiplied);
    chart.layout(w, h);

    QPainter p(&chartImage);
    p.setRenderHint(QPainter::Antialiasing);
    p.fillRect(QRect(QPoint(-1, -1), QPoint(w - 1, h - 1)), chart.background);
    if (loaded) {
        drawGrid(p);
        drawPane(p, GraphPane::Temperature, tr("Температура, °C"));
        drawPane(p, GraphPane::Wetness, tr("Влажность, %"));
    }
    p.end();
    repaint();
}

void GraphWidget::drawGrid(QPainter& p)
{
    QPen pen = p.pen();
    pen.setStyle(Qt::DotLine);
    pen.setColor(chart.line);
    p.setPen(pen);
    p.setBrush(Qt::NoBrush);
    const QRectF& top = chart.tempPane;
    const QRectF& bottom = chart.wetnessPane;
    for (int x : chart.gridColumns()) {
        p.drawLine(x, GraphModel::truncated(top.top()), x, GraphModel::truncated(top.bottom()));
        p.drawLine(x, GraphModel::truncated(bottom.top() + 3), x, GraphModel::truncated(bottom.bottom()));
        p.drawText(
            chart.timeLabelBox(x), Qt::AlignCenter, GraphModel::timeLabel(chart.msecsAt(x), chart.dateTimeStyle));
    }
}

void GraphWidget::drawPane(QPainter& p, GraphPane pane, const QString& title)
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

    const GraphCurve curve = GraphCurve::build(samples, pane, chart);
    p.setPen(QPen(chart.line, 1));
    p.drawLines(curve.lines);
    drawMarks(p, curve.marks);
    p.setBrush(Qt::NoBrush);
}

// A box taller than one mark stands for a column of touching marks: its end circles are drawn
// antialiased like any mark, the straight part between them is filled on whole pixels. An
// antialiased outline of the whole box looks the same and costs several times as much.
void GraphWidget::drawMarks(QPainter& p, const QVector<QRectF>& marks)
{
    const double size = GraphCurve::markSize;
    p.setPen(Qt::NoPen);
    p.setBrush(chart.node);
    QVector<QRect> bodies;
    for (const QRectF& m : marks) {
        p.drawEllipse(QRectF(m.left(), m.top(), size, size));
        if (m.height() > size) {
            p.drawEllipse(QRectF(m.left(), m.bottom() - size, size, size));
            bodies << QRect(qRound(m.left()), qRound(m.top() + size / 2), int(size), qRound(m.height() - size));
        }
    }
    p.setRenderHint(QPainter::Antialiasing, false);
    for (const QRect& body : bodies)
        p.fillRect(body, chart.node);
    p.setRenderHint(QPainter::Antialiasing, true);
}

void GraphWidget::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.drawImage(0, 0, chartImage);
    if (loaded && chart.cursorInside(cursorX))
        drawCursor(p);
}

void GraphWidget::drawCursor(QPainter& p)
{
    const QRectF& top = chart.tempPane;
    const QRectF& bottom = chart.wetnessPane;
    QPen dotted = p.pen();
    dotted.setStyle(Qt::DotLine);
    dotted.setColor(Qt::darkGray);
    p.setPen(dotted);
    const int x = GraphModel::truncated(cursorX);
    p.drawLine(x, GraphModel::truncated(top.top()), x, GraphModel::truncated(top.bottom()));
    p.drawLine(x, GraphModel::truncated(bottom.top() + 3), x, GraphModel::truncated(bottom.bottom()));

    const QRectF box = chart.cursorTimeBox(cursorX);
    p.fillRect(box, chart.background);
    p.setPen(Qt::black);
    p.drawText(box, Qt::AlignCenter, GraphModel::timeLabel(chart.msecsAt(cursorX), chart.dateTimeStyle));

    const QString value = chart.valueTextAt(cursorY);
    if (value.isEmpty())
        return;
    const QFontMetrics metrics(p.font());
    const QSizeF size(metrics.horizontalAdvance(value), metrics.height());
    const QRectF label(QPointF(0, cursorY - size.height() * 0.5), size);
    p.fillRect(label, chart.background);
    p.drawText(label, Qt::AlignCenter, value);
    p.setPen(dotted);
    const int y = GraphModel::truncated(cursorY);
    p.drawLine(GraphModel::truncated(top.left()), y, GraphModel::truncated(top.right()), y);
}

void GraphWidget::hideCursor()
{
    cursorX = -10.0;
    repaint();
}

void GraphWidget::mousePressEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton)
        return hideCursor();
    cursorX = event->localPos().x();
    cursorY = event->localPos().y();
    repaint();
}

void GraphWidget::mouseMoveEvent(QMouseEvent* event)
{
    if (event->buttons() != Qt::LeftButton)
        return hideCursor();
    cursorX = event->localPos().x();
    cursorY = event->localPos().y();
    repaint();
}

void GraphWidget::mouseReleaseEvent(QMouseEvent* event)
{
    hideCursor();
    if (event->button() != Qt::RightButton)
        return;
    QMenu menu(this);
    menu.addAction(actionSaveToPng);
    menu.exec(event->globalPos());
}

void GraphWidget::resizeEvent(QResizeEvent*)
{
    drawChart();
}

void GraphWidget::slotSaveToPng()
{
    const QString fileName = saveFileName ? saveFileName(this) : QString();
    if (fileName.isEmpty())
        return;
    // One column and one row more than the widget, the first of each lying outside the
    // picture and so transparent: the saved file has always been cut this way.
    const QImage picture = chartImage.copy(QRect(QPoint(-1, -1), QPoint(width() - 1, height() - 1)));
    if (!picture.save(fileName, "PNG"))
        prompt()->warning(
            tr("Внимание!"), tr("Не удалось сохранить график в файл ") + QDir::toNativeSeparators(fileName));
}
