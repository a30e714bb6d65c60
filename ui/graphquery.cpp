#include "ui/graphquery.h"

#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>

#include "ui/threadconnection.h"

QString GraphQuery::text()
{
    return QStringLiteral("SELECT m.timemeasure, m.temperature, m.wetness FROM measure m INNER JOIN sensors s ON "
                          "m.sensor_id=s.id WHERE s.EUI64=? AND m.timemeasure >= ? AND m.timemeasure <= ? "
                          "ORDER BY m.timemeasure");
}

QVector<GraphSample> GraphQuery::load(
    const QString& eui64, qint64 fromSecs, qint64 toSecs, const QSqlDatabase& db, ThreadConnection* connection)
{
    QVector<GraphSample> samples;
    QSqlQuery q(db);
    q.setForwardOnly(true);
    if (!q.prepare(text())) {
        qWarning("Graph: %s", qPrintable(q.lastError().text()));
        return samples;
    }
    q.addBindValue(eui64);
    q.addBindValue(fromSecs);
    q.addBindValue(toSecs);
    QString error;
    // A load stopped because the program closes is no fault to report.
    auto failed = [&] {
        if (!connection || !connection->stopped())
            qWarning("Graph: %s", qPrintable(connection ? error : q.lastError().text()));
        return QVector<GraphSample>();
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
        samples.append(s);
    }
    if (connection && !connection->complete(q, &error))
        return failed();
    return samples;
}
