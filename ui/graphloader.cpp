#include "ui/graphloader.h"

#include <QDebug>

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
    GraphResult result;
    result.chart = request.chart;
    if (!request.eui64.isEmpty() && db.isOpen())
        result.samples = GraphQuery::load(request.eui64, request.fromMs / 1000, request.toMs / 1000, db, connection);
    result.chart.setRanges(result.samples);
    result.chart.setPeriod(request.fromMs, request.toMs, result.samples);
    result.chart.layout(request.chart.width, request.chart.height);
    result.image = GraphRenderer::draw(result.chart, result.samples, true);
    return result;
}

void GraphLoader::load(quint64 serial, GraphRequest request)
{
    QString error;
    const QSqlDatabase db = connection.open(&error);
    if (!error.isEmpty() && !connection.stopped())
        qWarning("Graph: %s", qPrintable(error));
    // A failed open draws the empty chart, as a failed query does. A stopped load draws
    // nothing: the graph is closing, and what was read is not the period asked for.
    GraphResult result = run(request, db, &connection);
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
