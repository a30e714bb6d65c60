#include "ui/graphloader.h"

#include <QDebug>

#include <algorithm>
#include <limits>
#include <thread>

#include "storage/graphsource.h"
#include "ui/graphrenderer.h"

GraphLoader::GraphLoader(QObject* parent)
    : QObject(parent)
    , connection(this)
    , helperConnection(&helperConnection)
{
    qRegisterMetaType<GraphRequest>("GraphRequest");
    qRegisterMetaType<GraphResult>("GraphResult");
}

GraphResult GraphLoader::run(const GraphRequest& request, const GraphSource& source)
{
    QVector<GraphSample> samples;
    if (!request.eui64.isEmpty() && source.isOpen())
        samples = source.load(request.eui64, request.fromMs / 1000, request.toMs / 1000);
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

GraphResult GraphLoader::draw(const GraphRequest& request, const GraphColumns& columns)
{
    GraphResult result;
    result.chart = request.chart;
    const GraphSummary summary = columns.summary();
    result.chart.setRangesFrom(summary);
    result.chart.setPeriodFrom(request.fromMs, request.toMs, summary);
    result.chart.layout(request.chart.width, request.chart.height);
    result.image = GraphRenderer::draw(result.chart, columns.curve(GraphPane::Temperature, result.chart),
        columns.curve(GraphPane::Wetness, result.chart));
    result.reduced = true;
    return result;
}

namespace
{

double paneWidth(const GraphRequest& request)
{
    GraphModel chart;
    chart.layout(request.chart.width, request.chart.height);
    return chart.tempPane.width();
}

} // namespace

qint64 GraphLoader::columnStep(const GraphRequest& request)
{
    return GraphColumns::stepFor(request.toMs - request.fromMs, paneWidth(request));
}

qint64 GraphLoader::heldLimit(const GraphRequest& request, qint64 sampleCap)
{
    // A few samples per pixel column cost no more to draw one by one than the columns would.
    return std::min<qint64>(sampleCap, std::max<qint64>(1, qint64(4 * paneWidth(request))));
}

bool GraphLoader::update(const GraphRequest& request, qint64 keptFromSecs, QVector<GraphSample>* kept, qint64* lastId,
    const GraphSource& source)
{
    const qint64 from = request.fromMs / 1000;
    const qint64 to = request.toMs / 1000;
    const qint64 lastKept = kept->isEmpty() ? from : kept->last().msecs / 1000;
    if (from < keptFromSecs || to < lastKept)
        return false;
    // Measurements leave only from the old end (the purge) or with their sensor: the sensor's
    // oldest row in the period tells which of the kept rows are still stored.
    const qint64 oldest = source.oldest(request.eui64, from);
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
    return source.read(
        request.eui64, kept->isEmpty() ? from : lastKept, to, *lastId,
        [kept](const GraphSample& s) {
            kept->append(s);
            return true;
        },
        lastId);
}

bool GraphLoader::update(
    const GraphRequest& request, qint64 keptFromSecs, GraphColumns* kept, qint64* lastId, const GraphSource& source)
{
    const qint64 from = request.fromMs / 1000;
    const qint64 to = request.toMs / 1000;
    if (from < keptFromSecs || to * 1000 < kept->lastMs() || !kept->count())
        return false;
    const qint64 oldest = source.oldest(request.eui64, from);
    if (oldest < 0 || oldest * 1000 < kept->columns().first().firstMs)
        return false; // nothing left to keep, older rows stored since, or the query failed
    qint64 through = -1;
    if (!kept->prepareCut(oldest * 1000, &through))
        return false;
    if (through >= 0) {
        GraphColumns head(kept->stepMs(), request.chart.breakLimitMs());
        // The last second whose samples lie in the column `through`.
        const qint64 endSecs = ((through + 1) * kept->stepMs() + 999) / 1000 - 1;
        qint64 headLastId = -1;
        if (!source.read(
                request.eui64, from, endSecs, -1,
                [&head](const GraphSample& s) {
                    head.add(s);
                    return true;
                },
                &headLastId))
            return false;
        kept->replaceHead(head, through);
    }
    return source.read(
        request.eui64, kept->lastMs() / 1000, to, *lastId,
        [kept](const GraphSample& s) {
            kept->add(s);
            return true;
        },
        lastId);
}

void GraphLoader::load(quint64 serial, GraphRequest request)
{
    QString error;
    const GraphSource source(&connection, &error);
    if (!error.isEmpty() && !connection.stopped())
        qWarning("Graph: %s", qPrintable(error));
    const qint64 step = columnStep(request);
    const qint64 limit = heldLimit(request, sampleCap);
    // A refresh of the sensor shown reads what was stored since the last one; another sensor,
    // another period, another grid or removed measurements read the period whole.
    const bool same = keptValid && !request.eui64.isEmpty() && request.eui64 == kept.eui64
        && request.generation == kept.generation && source.isOpen()
        && request.chart.breakLimitMs() == kept.chart.breakLimitMs() && (!keptColumns || keptColumns->stepMs() == step);
    bool done = false;
    if (same && keptColumns) {
        // Fewer samples than a column each are drawn one by one, as a whole load would.
        done = update(request, kept.fromMs / 1000, keptColumns.get(), &keptLastId, source)
            && keptColumns->count() > limit;
    } else if (same) {
        done = update(request, kept.fromMs / 1000, &keptSamples, &keptLastId, source);
    }
    if (done) {
        ++updates;
    } else {
        ++wholeLoads;
        keptSamples.clear();
        keptSamples.squeeze();
        keptColumns.reset();
        keptLastId = -1;
        done = request.eui64.isEmpty() || !source.isOpen() || readWhole(request, step, limit, source);
    }
    if (!keptColumns && keptSamples.size() > limit) {
        // Grown past what is drawn sample by sample: from now on in columns.
        keptColumns = std::make_unique<GraphColumns>(step, request.chart.breakLimitMs());
        for (const GraphSample& s : qAsConst(keptSamples))
            keptColumns->add(s);
        keptSamples.clear();
        keptSamples.squeeze();
    }
    kept = request;
    keptValid = done && !request.eui64.isEmpty();
    // A failed open draws the empty chart, as a failed query does. A stopped load draws
    // nothing: the graph is closing, and what was read is not the period asked for.
    const GraphResult result = keptColumns ? draw(request, *keptColumns) : draw(request, keptSamples);
    if (!connection.stopped())
        emit loaded(serial, result);
}

bool GraphLoader::readWhole(const GraphRequest& request, qint64 step, qint64 limit, const GraphSource& source)
{
    // The columns are built as the rows are read; the samples are held only while they are few.
    struct Part {
        Part(qint64 step, qint64 breakLimit)
            : columns(step, breakLimit)
        {
        }
        GraphColumns columns;
        QVector<GraphSample> samples;
        qint64 lastId = -1;
        bool read = false;
    };
    const auto readPart = [&](Part& part, qint64 fromSecs, qint64 toSecs, const GraphSource& on) {
        part.read = on.read(
            request.eui64, fromSecs, toSecs, -1,
            [&part, limit](const GraphSample& s) {
                part.columns.add(s);
                if (part.columns.count() <= limit)
                    part.samples.append(s);
                else if (!part.samples.isEmpty())
                    part.samples.clear();
                return true;
            },
            &part.lastId);
    };
    const qint64 from = request.fromMs / 1000;
    const qint64 to = request.toMs / 1000;
    Part first(step, request.chart.breakLimitMs());
    Part second(step, request.chart.breakLimitMs());
    // SQLite spends a long period's time finding each row in the table, one row after the other:
    // two connections reading a half each, split where a column starts, take half as long.
    const qint64 middleMs = (request.fromMs / 2 + request.toMs / 2) / step * step;
    const qint64 middle = (middleMs + 999) / 1000;
    if (source.readsInHalves() && middle > from && middle <= to) {
        std::thread helper([&] {
            {
                QString error;
                const GraphSource other(&helperConnection, &error);
                if (other.isOpen())
                    readPart(second, middle, to, other);
                else if (!helperConnection.stopped())
                    qWarning("Graph: %s", qPrintable(error));
            }
            helperConnection.close();
        });
        readPart(first, from, middle - 1, source);
        helper.join();
    } else {
        readPart(first, from, to, source);
        second.read = true;
    }
    if (!first.read || !second.read)
        return false; // a failed query draws the empty chart
    if (first.columns.count() + second.columns.count() <= limit)
        keptSamples = first.samples + second.samples;
    first.columns.append(second.columns);
    keptLastId = second.lastId >= 0 ? second.lastId : first.lastId;
    if (first.columns.count() > limit)
        keptColumns = std::make_unique<GraphColumns>(first.columns);
    return true;
}

void GraphLoader::stop()
{
    connection.stop();
    helperConnection.stop();
}

void GraphLoader::close()
{
    connection.close();
}
