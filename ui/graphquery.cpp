#include "ui/graphquery.h"

#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>

#include "ui/threadconnection.h"

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
        GraphSample s;
        s.msecs = q.value(0).toLongLong() * 1000;
        // UTC costs no time-zone lookup per row; the instant is the same.
        s.time = QDateTime::fromMSecsSinceEpoch(s.msecs, Qt::UTC);
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
