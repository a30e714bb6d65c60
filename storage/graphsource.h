#pragma once

#include <QString>
#include <QVector>

#include <functional>
#include <memory>

#include "core/graphsample.h"

class QSqlDatabase;
class ThreadConnection;

// Where the graph reads its measurements: a loading thread's own connection (opened there,
// stopped from any thread), or the program's default connection on the calling thread.
// The reads are GraphQuery's.
class GraphSource
{
public:
    // The default connection.
    GraphSource();
    // `connection`'s database, opened now; when that fails it stays closed, the reason in `error`.
    GraphSource(ThreadConnection* connection, QString* error);
    ~GraphSource();
    GraphSource(const GraphSource&) = delete;
    GraphSource& operator=(const GraphSource&) = delete;

    bool isOpen() const;
    // SQLite: a long period reads faster in two halves at once, on two connections.
    bool readsInHalves() const;

    // See GraphQuery::load, read and oldest.
    QVector<GraphSample> load(const QString& eui64, qint64 fromSecs, qint64 toSecs) const;
    bool read(const QString& eui64, qint64 fromSecs, qint64 toSecs, qint64 afterId,
        const std::function<bool(const GraphSample&)>& sink, qint64* lastId) const;
    qint64 oldest(const QString& eui64, qint64 fromSecs) const;

private:
    std::unique_ptr<QSqlDatabase> db;
    ThreadConnection* connection = nullptr;
};
