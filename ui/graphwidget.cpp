#include "ui/graphwidget.h"

#include <QAction>
#include <QDir>
#include <QFileDialog>
#include <QFontMetrics>
#include <QIcon>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QTimer>

#include "app/appstate.h"
#include "core/threadscheduling.h"
#include "dialogs/prompt.h"
#include "ui/graphrenderer.h"
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
    loader = new GraphLoader;
    loader->moveToThread(&loaderThread);
    connect(loader, &GraphLoader::loaded, this, &GraphWidget::measuresArrived);
    ThreadScheduling::startBehind(&loaderThread);
    // Loads are asked for at every stored batch: the chart follows the tables' pace, resting
    // eight times as long as its load took, at least half a second.
    gate.restAfterEveryLoad(8, 500);
}

GraphWidget::~GraphWidget()
{
    loader->stop();
    QMetaObject::invokeMethod(loader, &GraphLoader::close, Qt::BlockingQueuedConnection);
    loaderThread.quit();
    loaderThread.wait();
    delete loader;
}

void GraphWidget::loadMeasures()
{
    if (gMainWindow)
        loadMeasures(gMainWindow->currentEUI64, gMainWindow->graphFrom, gMainWindow->graphTo);
    else
        loadMeasures(QString(), QDateTime(), QDateTime());
}

void GraphWidget::loadMeasures(const QString& eui64, const QDateTime& from, const QDateTime& to)
{
    const bool period = from.isValid() && to.isValid();
    // The sensor is found by its address: a position in the registry goes stale as soon as
    // the registry changes.
    const Sensor* sensor = gAppState && !eui64.isEmpty() ? gAppState->findSensor(eui64) : nullptr;
    next = GraphRequest();
    if (gAppState)
        next.chart.readConfig(*gAppState, sensor);
    next.chart.width = width();
    next.chart.height = height();
    next.eui64 = period ? eui64 : QString();
    next.fromMs = from.isValid() ? from.toMSecsSinceEpoch() : 0;
    next.toMs = to.isValid() ? to.toMSecsSinceEpoch() : next.fromMs;
    // A whole rebuild of the sensor tree follows a removal, which takes measurements with it.
    next.generation = gMainWindow ? gMainWindow->treeBuilds : 0;
    if (gate.request())
        startLoad();
}

void GraphWidget::setSampleCap(qint64 cap)
{
    QMetaObject::invokeMethod(
        loader, [target = loader, cap] { target->sampleCap = cap; }, Qt::QueuedConnection);
}

void GraphWidget::startLoad()
{
    ++started;
    loadClock.start();
    QMetaObject::invokeMethod(
        loader, [target = loader, n = ++serial, request = next] { target->load(n, request); }, Qt::QueuedConnection);
}

void GraphWidget::measuresArrived(quint64 done, const GraphResult& result)
{
    Q_ASSERT(done == serial); // one load at a time
    Q_UNUSED(done);
    chart = result.chart;
    // The samples and the picture shown so far are released in the loading thread, not here:
    // handing megabytes back to the system takes its time.
    QVector<GraphSample> previous = result.samples;
    previous.swap(samples);
    QImage picture = result.image;
    picture.swap(chartImage);
    QMetaObject::invokeMethod(
        loader,
        [previous, picture] {
            Q_UNUSED(previous);
            Q_UNUSED(picture);
        },
        Qt::QueuedConnection);
    loaded = true;
    reduced = result.reduced;
    // Drawn for the size the widget had when the load was asked for.
    if (chartImage.size() != QSize(std::max(width(), 1), std::max(height(), 1)))
        drawChart();
    else
        update();
    emit measuresLoaded();
    const int rest = gate.finished(loadClock.elapsed());
    if (rest >= 0) {
        QTimer::singleShot(rest, this, [this] {
            if (gate.resume())
                startLoad();
        });
    }
}

void GraphWidget::drawChart()
{
    chart.layout(width(), height());
    const QSize size(std::max(width(), 1), std::max(height(), 1));
    if (!reduced)
        chartImage = GraphRenderer::draw(chart, samples, loaded);
    else if (chartImage.size() != size) {
        // Too many samples to hold: the chart of another size is read again, and the picture
        // shown meanwhile is stretched to fit.
        chartImage = chartImage.scaled(size);
        next.chart.width = width();
        next.chart.height = height();
        if (gate.request())
            startLoad();
    }
    repaint();
}

void GraphWidget::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    // The picture covers the widget with its own background: copied, not blended pixel by
    // pixel, a refresh costs the GUI thread a fraction of a millisecond.
    p.setCompositionMode(QPainter::CompositionMode_Source);
    p.drawImage(0, 0, chartImage);
    p.setCompositionMode(QPainter::CompositionMode_SourceOver);
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

    const QFontMetrics metrics(p.font());
    const QString time = GraphModel::timeLabel(chart.msecsAt(cursorX), chart.dateTimeStyle);
    const QRectF box = chart.cursorTimeBox(cursorX, GraphModel::timeLabelWidth(metrics.horizontalAdvance(time)));
    p.fillRect(box, chart.background);
    p.setPen(Qt::black);
    p.drawText(box, Qt::AlignCenter, time);

    const QString value = chart.valueTextAt(cursorY);
    if (value.isEmpty())
        return;
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
