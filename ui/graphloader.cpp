#include "ui/graphloader.h"

#include <QDebug>

#include <algorithm>
#include <limits>

#include "ui/graphcurve.h"
#include "ui/graphquery.h"
#include "ui/graphrenderer.h"

GraphLoader::GraphLoader(QObject* parent)
    : QObject(parent)
    , connection(this)
{
    qRegisterMetaType<GraphRequest>("GraphRequest");
    qRegisterMetaType<GraphResult>("GraphResult");
}

GraphResult GraphLoader::run(const GraphRequest& request, const QSqlDatabase& db, ThreadConnection* connection)
{
    QVector<GraphSample> samples;
    if (!request.eui64.isEmpty() && db.isOpen())
        samples = GraphQuery::load(request.eui64, request.fromMs / 1000, request.toMs / 1000, db, connection);
    return draw(request, samples);
}

GraphResult GraphLoader::draw(const GraphRequest& request, const QVector<GraphSample>& samples)
{
    GraphResult result;
    result.chart = request.chart;
    result.samples = samples;
    result.chart.setRanges(result.samples);
    result.chart.setPeriod(request.fromMs, request.toMs, result.samples);
    result.chart.layout(request.chart.width, request.chart.height);
    result.image = GraphRenderer::draw(result.chart, result.samples, true);
    return result;
}

GraphResult GraphLoader::reduce(
    const GraphRequest& request, const GraphSummary& summary, const QSqlDatabase& db, ThreadConnection* connection)
{
    GraphResult result;
    result.chart = request.chart;
    result.chart.setRangesFrom(summary);
    result.chart.setPeriodFrom(request.fromMs, request.toMs, summary);
    result.chart.layout(request.chart.width, request.chart.height);
    GraphCurve::Builder temperature(GraphPane::Temperature, result.chart);
    GraphCurve::Builder wetness(GraphPane::Wetness, result.chart);
    qint64 lastId = -1;
    const bool read = GraphQuery::read(
        request.eui64, request.fromMs / 1000, request.toMs / 1000, -1,
        [&](const GraphSample& s) {
            temperature.add(s);
            wetness.add(s);
            return true;
        },
        &lastId, db, connection);
    if (read)
        result.image = GraphRenderer::draw(result.chart, temperature.curve(), wetness.curve());
    else
        result = draw(request, QVector<GraphSample>());
    result.reduced = true;
    return result;
}

bool GraphLoader::update(const GraphRequest& request, qint64 keptFromSecs, QVector<GraphSample>* kept, qint64* lastId,
    const QSqlDatabase& db, ThreadConnection* connection)
{
    const qint64 from = request.fromMs / 1000;
    const qint64 to = request.toMs / 1000;
    const qint64 lastKept = kept->isEmpty() ? from : kept->last().msecs / 1000;
    if (from < keptFromSecs || to < lastKept)
        return false;
    // Measurements leave only from the old end (the purge) or with their sensor: the sensor's
    // oldest row in the period tells which of the kept rows are still stored.
    const qint64 oldest = GraphQuery::oldest(request.eui64, from, db);
    if (oldest == -2)
        return false;
    const qint64 keepFromMs = std::max(from, oldest < 0 ? std::numeric_limits<qint64>::max() / 1000 : oldest) * 1000;
    const auto stale = std::find_if(
        kept->cbegin(), kept->cend(), [keepFromMs](const GraphSample& s) { return s.msecs >= keepFromMs; });
    const int gone = int(stale - kept->cbegin());
    if (gone > 0)
        kept->remove(0, gone);
    if (oldest >= 0 && !kept->isEmpty() && kept->first().msecs / 1000 != oldest)
        return false; // older rows stored since
    return GraphQuery::loadAfter(
        request.eui64, kept->isEmpty() ? from : lastKept, to, *lastId, kept, lastId, db, connection);
}

void GraphLoader::load(quint64 serial, GraphRequest request)
{
    QString error;
    const QSqlDatabase db = connection.open(&error);
    if (!error.isEmpty() && !connection.stopped())
        qWarning("Graph: %s", qPrintable(error));
    // A refresh of the sensor shown reads what was stored since the last one; another sensor,
    // another period or removed measurements read the period whole.
    const bool same = keptValid && !request.eui64.isEmpty() && request.eui64 == kept.eui64
        && request.generation == kept.generation && db.isOpen();
    bool done = same && update(request, kept.fromMs / 1000, &keptSamples, &keptLastId, db, &connection)
        && keptSamples.size() <= sampleCap;
    GraphResult result;
    if (done) {
        ++updates;
    } else {
        ++wholeLoads;
        keptSamples.clear();
        keptSamples.squeeze();
        keptLastId = -1;
        // One transaction, so that rows stored or purged between the reads cannot put a value
        // outside the axes.
        QSqlDatabase reader = db;
        const bool snapshot = !request.eui64.isEmpty() && db.isOpen() && reader.transaction();
        bool tooMany = false;
        done = request.eui64.isEmpty() || !db.isOpen()
            || GraphQuery::read(
                request.eui64, request.fromMs / 1000, request.toMs / 1000, -1,
                [&](const GraphSample& s) {
                    tooMany = keptSamples.size() >= sampleCap;
                    if (!tooMany)
                        keptSamples.append(s);
                    return !tooMany;
                },
                &keptLastId, db, &connection);
        if (done && tooMany) {
            keptSamples.clear();
            keptSamples.squeeze();
            done = false;
            GraphSummary summary;
            if (GraphQuery::summary(
                    request.eui64, request.fromMs / 1000, request.toMs / 1000, &summary, db, &connection))
                result = reduce(request, summary, db, &connection);
        }
        if (!done)
            keptSamples.clear(); // a failed query draws the empty chart
        if (snapshot)
            reader.commit();
    }
    kept = request;
    keptValid = done && !request.eui64.isEmpty();
    // A failed open draws the empty chart, as a failed query does. A stopped load draws
    // nothing: the graph is closing, and what was read is not the period asked for.
    if (!result.reduced)
        result = draw(request, keptSamples);
    if (!connection.stopped())
        emit loaded(serial, result);
}

void GraphLoader::stop()
{
    connection.stop();
}

void GraphLoader::close()
{
    connection.close();
}
