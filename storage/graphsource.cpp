#include "storage/graphsource.h"

#include <QSqlDatabase>

#include "storage/graphquery.h"
#include "storage/threadconnection.h"

GraphSource::GraphSource()
    : db(std::make_unique<QSqlDatabase>(QSqlDatabase::database()))
{
}

GraphSource::GraphSource(ThreadConnection* connection, QString* error)
    : db(std::make_unique<QSqlDatabase>(connection->open(error)))
    , connection(connection)
{
}

GraphSource::~GraphSource() = default;

bool GraphSource::isOpen() const
{
    return db->isOpen();
}

bool GraphSource::readsInHalves() const
{
    return db->driverName() == QLatin1String("QSQLITE");
}

QVector<GraphSample> GraphSource::load(const QString& eui64, qint64 fromSecs, qint64 toSecs) const
{
    return GraphQuery::load(eui64, fromSecs, toSecs, *db, connection);
}

bool GraphSource::read(const QString& eui64, qint64 fromSecs, qint64 toSecs, qint64 afterId,
    const std::function<bool(const GraphSample&)>& sink, qint64* lastId) const
{
    return GraphQuery::read(eui64, fromSecs, toSecs, afterId, sink, lastId, *db, connection);
}

qint64 GraphSource::oldest(const QString& eui64, qint64 fromSecs) const
{
    return GraphQuery::oldest(eui64, fromSecs, *db);
}
