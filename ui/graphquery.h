#pragma once

#include <QSqlDatabase>
#include <QString>
#include <QVector>

#include "ui/graphsample.h"

class ThreadConnection;

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
};
