#include "storage/graphquery.h"

#include <QSqlDriver>
#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>

#include <sqlite3.h>

#include "storage/threadconnection.h"

namespace
{

sqlite3* sqliteOf(const QSqlDatabase& db)
{
    const QVariant handle = db.driver() ? db.driver()->handle() : QVariant();
    if (!handle.isValid() || qstrcmp(handle.typeName(), "sqlite3*") != 0)
        return nullptr;
    return *static_cast<sqlite3* const*>(handle.data());
}

GraphSample sampleAt(qint64 secs)
{
    GraphSample s;
    s.msecs = secs * 1000;
    // UTC costs no time-zone lookup per row; the instant is the same.
    s.time = QDateTime::fromMSecsSinceEpoch(s.msecs, Qt::UTC);
    return s;
}

} // namespace

QString GraphQuery::text()
{
    return QStringLiteral("SELECT m.timemeasure, m.temperature, m.wetness, m.id FROM measure m INNER JOIN sensors s "
                          "ON m.sensor_id=s.id WHERE s.EUI64=? AND m.timemeasure >= ? AND m.timemeasure <= ? "
                          "AND m.id > ? ORDER BY m.timemeasure, m.id");
}

QVector<GraphSample> GraphQuery::load(
    const QString& eui64, qint64 fromSecs, qint64 toSecs, const QSqlDatabase& db, ThreadConnection* connection)
{
    QVector<GraphSample> samples;
    qint64 lastId = -1;
    if (!loadAfter(eui64, fromSecs, toSecs, -1, &samples, &lastId, db, connection))
        return QVector<GraphSample>();
    return samples;
}

bool GraphQuery::loadAfter(const QString& eui64, qint64 fromSecs, qint64 toSecs, qint64 afterId,
    QVector<GraphSample>* samples, qint64* lastId, const QSqlDatabase& db, ThreadConnection* connection)
{
    return read(
        eui64, fromSecs, toSecs, afterId,
        [samples](const GraphSample& s) {
            samples->append(s);
            return true;
        },
        lastId, db, connection);
}

bool GraphQuery::read(const QString& eui64, qint64 fromSecs, qint64 toSecs, qint64 afterId,
    const std::function<bool(const GraphSample&)>& sink, qint64* lastId, const QSqlDatabase& db,
    ThreadConnection* connection)
{
    if (sqlite3* handle = sqliteOf(db))
        return readSqlite(handle, eui64, fromSecs, toSecs, afterId, sink, lastId, connection);
    QSqlQuery q(db);
    q.setForwardOnly(true);
    if (!q.prepare(text())) {
        qWarning("Graph: %s", qPrintable(q.lastError().text()));
        return false;
    }
    q.addBindValue(eui64);
    q.addBindValue(fromSecs);
    q.addBindValue(toSecs);
    q.addBindValue(afterId);
    QString error;
    // A load stopped because the program closes is no fault to report.
    auto failed = [&] {
        if (!connection || !connection->stopped())
            qWarning("Graph: %s", qPrintable(connection ? error : q.lastError().text()));
        return false;
    };
    if (connection ? !connection->exec(q, &error) : !q.exec())
        return failed();
    while ((!connection || !connection->stopped()) && q.next()) {
        GraphSample s = sampleAt(q.value(0).toLongLong());
        const QVariant t = q.value(1);
        const QVariant w = q.value(2);
        // Values are stored in single precision; widen them as stored.
        s.hasTemperature = !t.isNull();
        if (s.hasTemperature)
            s.temperature = double(t.toFloat());
        s.hasWetness = !w.isNull();
        if (s.hasWetness)
            s.wetness = double(w.toFloat());
        if (!sink(s))
            return true;
        *lastId = q.value(3).toLongLong();
    }
    if (connection && !connection->complete(q, &error))
        return failed();
    return !connection || !connection->stopped();
}

// SQLite's own interface: the driver would copy every value into a variant and out again,
// which costs about a third of reading a year. A stop ends the statement through the
// connection's progress handler.
bool GraphQuery::readSqlite(sqlite3* handle, const QString& eui64, qint64 fromSecs, qint64 toSecs, qint64 afterId,
    const std::function<bool(const GraphSample&)>& sink, qint64* lastId, ThreadConnection* connection)
{
    sqlite3_stmt* statement = nullptr;
    const QByteArray sql = text().toUtf8();
    const QByteArray key = eui64.toUtf8();
    int rc = sqlite3_prepare_v2(handle, sql.constData(), sql.size(), &statement, nullptr);
    if (rc == SQLITE_OK) {
        sqlite3_bind_text(statement, 1, key.constData(), key.size(), SQLITE_STATIC);
        sqlite3_bind_int64(statement, 2, fromSecs);
        sqlite3_bind_int64(statement, 3, toSecs);
        sqlite3_bind_int64(statement, 4, afterId);
        while ((rc = sqlite3_step(statement)) == SQLITE_ROW) {
            GraphSample s = sampleAt(sqlite3_column_int64(statement, 0));
            // Values are stored in single precision; widen them as stored.
            s.hasTemperature = sqlite3_column_type(statement, 1) != SQLITE_NULL;
            if (s.hasTemperature)
                s.temperature = double(float(sqlite3_column_double(statement, 1)));
            s.hasWetness = sqlite3_column_type(statement, 2) != SQLITE_NULL;
            if (s.hasWetness)
                s.wetness = double(float(sqlite3_column_double(statement, 2)));
            if (!sink(s)) {
                rc = SQLITE_DONE;
                break;
            }
            *lastId = sqlite3_column_int64(statement, 3);
        }
    }
    const bool stopped = connection && connection->stopped();
    if (rc != SQLITE_DONE && !stopped)
        qWarning("Graph: %s", sqlite3_errmsg(handle));
    sqlite3_finalize(statement);
    return rc == SQLITE_DONE && !stopped;
}

qint64 GraphQuery::oldest(const QString& eui64, qint64 fromSecs, const QSqlDatabase& db)
{
    QSqlQuery q(db);
    q.setForwardOnly(true);
    q.prepare(QStringLiteral("SELECT MIN(m.timemeasure) FROM measure m INNER JOIN sensors s ON m.sensor_id=s.id "
                             "WHERE s.EUI64=? AND m.timemeasure >= ?"));
    q.addBindValue(eui64);
    q.addBindValue(fromSecs);
    if (!q.exec() || !q.next())
        return -2;
    return q.value(0).isNull() ? -1 : q.value(0).toLongLong();
}
