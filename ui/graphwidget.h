#pragma once

#include <QDateTime>
#include <QElapsedTimer>
#include <QImage>
#include <QString>
#include <QVector>
#include <QThread>
#include <QWidget>

#include <functional>

#include "ui/graphloader.h"
#include "ui/graphmodel.h"
#include "ui/graphsample.h"
#include "ui/loadgate.h"

class QAction;
class QMouseEvent;
class QPainter;
class QPaintEvent;
class QResizeEvent;

// The chart of the graph tab: temperature above, humidity below, one time axis, thresholds,
// curves with breaks, a cursor that reads out time and value, and a PNG export.
// The chart is drawn into an image when the data or the size changes; a paint copies the image
// and draws the cursor over it. Loads run in a thread of their own, which also draws the chart
// they bring; at most one is under way, and asking again meanwhile gives one more after it.
// A long period (more samples than a few per pixel column, or than the loading thread holds)
// comes as its picture only, so that memory and each refresh follow the widget's size, not the
// period's samples; a resize then loads it again.
class GraphWidget : public QWidget
{
    Q_OBJECT
public:
    // Asks for the file to save the picture to; an empty answer cancels.
    using SaveFileNameQuestion = std::function<QString(QWidget* parent)>;

    explicit GraphWidget(QWidget* parent = nullptr);
    ~GraphWidget() override;

    // Reloads the sensor and period the main window has chosen (currentEUI64, graphFrom,
    // graphTo), then redraws. The load runs in the loading thread and its chart shows when it
    // is back (measuresLoaded); while one is under way the latest request waits for it.
    void loadMeasures();
    // The same for a sensor and period given directly; an empty EUI64 draws the empty chart.
    void loadMeasures(const QString& eui64, const QDateTime& from, const QDateTime& to);
    // Draws the chart again for the widget's size from the samples held; a reduced load holds
    // none and asks for the chart of the new size instead.
    void drawChart();
    // A load is under way or waiting for its turn.
    bool loading() const { return gate.busy(); }
    // Loads started so far.
    int loadsStarted() const { return started; }

    void setSaveFileNameQuestion(SaveFileNameQuestion question) { saveFileName = std::move(question); }
    // The most samples the loading thread holds (GraphLoader::sampleCap), for loads asked after.
    void setSampleCap(qint64 cap);

    const QImage& image() const { return chartImage; }
    const GraphModel& model() const { return chart; }
    const QVector<GraphSample>& measures() const { return samples; }
    double cursorPositionX() const { return cursorX; }
    double cursorPositionY() const { return cursorY; }
    QAction* saveAction() const { return actionSaveToPng; }

public slots:
    void slotSaveToPng();

signals:
    // A load has come back and its chart is shown.
    void measuresLoaded();

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void startLoad();
    void measuresArrived(quint64 serial, const GraphResult& result);
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
    // The load came reduced for the size it was asked at (no samples): another size is read again.
    bool reduced = false;
    SaveFileNameQuestion saveFileName;

    QThread loaderThread;
    GraphLoader* loader = nullptr;
    LoadGate gate;
    GraphRequest next; // the latest request, started when the gate lets it
    quint64 serial = 0;
    QElapsedTimer loadClock;
    int started = 0;
};
