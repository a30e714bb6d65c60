#pragma once

#include <QSqlDatabase>
#include <QString>
#include <QVector>

#include <functional>

#include "core/graphsample.h"

class ThreadConnection;
struct sqlite3;

// The measurements the graph shows.
class GraphQuery
{
public:
    static QString text();
    // The sensor's measurements from `fromSecs` to `toSecs` (Unix seconds, both included) in
    // time order. A failed query gives none; the chart is then drawn empty. On a loading
    // thread's `connection` a stop gives none too.
    static QVector<GraphSample> load(const QString& eui64, qint64 fromSecs, qint64 toSecs,
        const QSqlDatabase& db = QSqlDatabase::database(), ThreadConnection* connection = nullptr);

    // The same for the rows stored after the row `afterId` (measurements arrive in the order of
    // their row ids, each stamped with its arrival second), from `fromSecs` on; `lastId` becomes
    // the id of the last row read (it stays as it was when there is none). False when the query
    // failed or was stopped.
    static bool loadAfter(const QString& eui64, qint64 fromSecs, qint64 toSecs, qint64 afterId,
        QVector<GraphSample>* samples, qint64* lastId, const QSqlDatabase& db, ThreadConnection* connection = nullptr);
    // The same rows handed to `sink` one by one as they are read, none of them held; a sink that
    // answers false ends the reading there (which is no failure).
    static bool read(const QString& eui64, qint64 fromSecs, qint64 toSecs, qint64 afterId,
        const std::function<bool(const GraphSample&)>& sink, qint64* lastId, const QSqlDatabase& db,
        ThreadConnection* connection = nullptr);
    // The sensor's oldest stored second from `fromSecs` on; -1 when it has none there, -2 when
    // the query failed.
    static qint64 oldest(const QString& eui64, qint64 fromSecs, const QSqlDatabase& db);

private:
    static bool readSqlite(sqlite3* handle, const QString& eui64, qint64 fromSecs, qint64 toSecs, qint64 afterId,
        const std::function<bool(const GraphSample&)>& sink, qint64* lastId, ThreadConnection* connection);
};
