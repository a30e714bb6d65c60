#pragma once

#include <QImage>
#include <QMetaType>
#include <QObject>
#include <QString>
#include <QVector>

#include <memory>

#include "ui/graphcolumns.h"
#include "ui/graphmodel.h"
#include "ui/graphsample.h"
#include "storage/threadconnection.h"

class GraphSource;

// What one load of the graph needs, taken on the GUI thread: the sensor, the period, and the
// chart's settings (thresholds, colours, size) as they were when it was asked for.
struct GraphRequest {
    QString eui64;
    qint64 fromMs = 0;
    qint64 toMs = 0;
    // Changes when stored measurements may have gone other than by the purge (a sensor removed):
    // the next load reads its period whole.
    int generation = 0;
    GraphModel chart;
};

// The finished load: samples, the chart laid out over them and its picture. A period of more
// samples than the widget has pixel columns for, or than the loader holds, comes reduced: its
// picture only, drawn for the request's size.
struct GraphResult {
    GraphModel chart;
    QVector<GraphSample> samples;
    QImage image;
    bool reduced = false;
};
Q_DECLARE_METATYPE(GraphRequest)
Q_DECLARE_METATYPE(GraphResult)

// Reads and draws the graph in a thread of its own, on a connection of its own, so that a year
// of measurements never holds the GUI thread, which also answers the sensors.
class GraphLoader : public QObject
{
    Q_OBJECT
public:
    explicit GraphLoader(QObject* parent = nullptr);

    // The whole load on the calling thread; the benchmarks use it.
    static GraphResult run(const GraphRequest& request, const GraphSource& source);
    // The chart of `samples` for the request.
    static GraphResult draw(const GraphRequest& request, const QVector<GraphSample>& samples);
    // The chart of a period reduced to time columns.
    static GraphResult draw(const GraphRequest& request, const GraphColumns& columns);
    // The columns' grid for the request: about one per pixel of the pane.
    static qint64 columnStep(const GraphRequest& request);
    // The most samples a request holds: more than a few per pixel column are drawn from columns.
    static qint64 heldLimit(const GraphRequest& request, qint64 sampleCap);
    // Brings `kept` (the rows of `request`'s sensor read up to the row `lastId`) up to the
    // request's period: rows stored since are appended, rows that left it (the window moved on,
    // the purge) are dropped. False when only a whole load can tell (an earlier start or end);
    // `kept` is then unusable. Rows leave otherwise only with their sensor, which the request's
    // generation tells.
    static bool update(const GraphRequest& request, qint64 keptFromSecs, QVector<GraphSample>* kept, qint64* lastId,
        const GraphSource& source);
    // The same for a period kept as columns: the columns whose samples left are read again,
    // those stored since are folded in.
    static bool update(const GraphRequest& request, qint64 keptFromSecs, GraphColumns* kept, qint64* lastId,
        const GraphSource& source);
    // From any thread, for good: the load under way ends at once and shows nothing, and later
    // ones do not run. The graph calls it when it closes.
    void stop();

public slots:
    void load(quint64 serial, GraphRequest request);
    // Closes the connection; called in the loader's thread before it ends.
    void close();

signals:
    void loaded(quint64 serial, GraphResult result);

public:
    // Whole loads and updates done so far (loader thread).
    int wholeLoads = 0;
    int updates = 0;
    // The most samples a load holds: a period of more is reduced to columns while it is read.
    qint64 sampleCap = 1000000;

private:
    // Reads the request's period whole into keptSamples or keptColumns; false when it failed.
    bool readWhole(const GraphRequest& request, qint64 step, qint64 limit, const GraphSource& source);

    ThreadConnection connection;
    // The second half of a long period is read on a connection of its own, in a thread of its own.
    ThreadConnection helperConnection;
    // What the last load read, for the next one (loader thread only).
    GraphRequest kept;
    QVector<GraphSample> keptSamples;
    std::unique_ptr<GraphColumns> keptColumns; // instead of the samples, for a long period
    qint64 keptLastId = -1;
    bool keptValid = false;
};
