#pragma once

#include <QDateTime>
#include <QImage>
#include <QString>
#include <QVector>
#include <QWidget>

#include <functional>

#include "ui/graphmodel.h"
#include "ui/graphsample.h"

class QAction;
class QMouseEvent;
class QPainter;
class QPaintEvent;
class QResizeEvent;

// The chart of the graph tab: temperature above, humidity below, one time axis, thresholds,
// curves with breaks, a cursor that reads out time and value, and a PNG export.
// The chart is drawn into an image when the data or the size changes; a paint copies the image
// and draws the cursor over it.
class GraphWidget : public QWidget
{
    Q_OBJECT
public:
    // Asks for the file to save the picture to; an empty answer cancels.
    using SaveFileNameQuestion = std::function<QString(QWidget* parent)>;

    explicit GraphWidget(QWidget* parent = nullptr);
    ~GraphWidget() override;

    // Reloads the sensor and period the main window has chosen (currentEUI64, graphFrom,
    // graphTo), then redraws.
    void loadMeasures();
    // The same for a sensor and period given directly; an empty EUI64 draws the empty chart.
    void loadMeasures(const QString& eui64, const QDateTime& from, const QDateTime& to);
    void drawChart();

    void setSaveFileNameQuestion(SaveFileNameQuestion question) { saveFileName = std::move(question); }

    const QImage& image() const { return chartImage; }
    const GraphModel& model() const { return chart; }
    const QVector<GraphSample>& measures() const { return samples; }
    double cursorPositionX() const { return cursorX; }
    double cursorPositionY() const { return cursorY; }
    QAction* saveAction() const { return actionSaveToPng; }

public slots:
    void slotSaveToPng();

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void drawGrid(QPainter& p);
    void drawPane(QPainter& p, GraphPane pane, const QString& title);
    void drawMarks(QPainter& p, const QVector<QRectF>& marks);
    void drawCursor(QPainter& p);
    void hideCursor();

    QImage chartImage;
    double cursorX = -10.0;
    double cursorY = 0.0;
    QAction* actionSaveToPng = nullptr;
    GraphModel chart;
    QVector<GraphSample> samples;
    // Until the first load there is nothing to frame: a resize then paints the background.
    bool loaded = false;
    SaveFileNameQuestion saveFileName;
};
