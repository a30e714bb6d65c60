#include "storage/windowsummary.h"

#include "storage/measureaggregates.h"
#include "storage/sqlquerybuilder.h"

namespace
{

// A whole sum at least this often: see the class's comment.
const qint64 kRebuildMs = 60 * 1000;
// More sensors than this to sum again cost about what summing them all does.
const int kMostSummedAgain = 500;

bool supported(int dbType)
{
    return dbType == SqlQueryBuilder::SQLite || dbType == SqlQueryBuilder::MySQL;
}

// One row per sensor with rows in the window, from the pieces windowSource reads.
const char* const kSums = "SELECT sensor_id, min(tmin), max(tmax), sum(ts), sum(tc), min(wmin), max(wmax), sum(ws),"
                          " sum(wc) FROM %1 a GROUP BY sensor_id";

// The rows a table is read from: the kept sums with their sensor's name, room and battery, of
// the checked sensors only unless every sensor is.
// `byName`: SQLite walks the sensors by the index on their names, so that rows ordered by name
// need no sort (the "+" keeps the address list from choosing the sensors instead).
QString keptRows(const QString& leading, const QString& trailing, int checkedCount, bool everySensor, bool byName)
{
    return QStringLiteral("SELECT ") + leading
        + QStringLiteral(", p.tmin Tmin, p.tmax Tmax, p.ts/NULLIF(p.tc,0) Tavg, p.wmin Wmin, p.wmax Wmax,"
                         " p.ws/NULLIF(p.wc,0) Wavg")
        + trailing
        + (byName ? QStringLiteral(" FROM sensors s CROSS JOIN window_summary p ON s.id=p.sensor_id"
                                   " CROSS JOIN last l ON s.id=l.sensor_id")
                  : QStringLiteral(" FROM window_summary p INNER JOIN sensors s ON s.id=p.sensor_id"
                                   " INNER JOIN last l ON s.id=l.sensor_id"))
        + (everySensor ? QString()
                       : QLatin1String(byName ? " WHERE +s.EUI64" : " WHERE s.EUI64")
                + TableQueries::inList(checkedCount));
}

// Runs a statement; false with the reason in `error`. The first column of its rows, as
// numbers, goes to `column` where given.
bool done(const TableRunner& run, const TableQueries::Query& q, QString* error, QVariantList* column = nullptr)
{
    const TableRows rows = run(q);
    for (int i = 0; column && i < rows.rows.size(); ++i)
        *column << rows.rows[i].value(0).toLongLong();
    if (!rows.error.isEmpty())
        *error = rows.error;
    return rows.error.isEmpty();
}

QVariantList addresses(const QStringList& checked, bool everySensor)
{
    QVariantList values;
    if (!everySensor) {
        for (const QString& eui : checked)
            values << eui;
    }
    return values;
}

} // namespace

bool WindowSummary::update(
    const TableRunner& run, int type, qint64 from, qint64 to, QString* error, QVariantList* changed, bool* rebuilt)
{
    if (!supported(type)) {
        *error = QStringLiteral("no aggregates on this database type");
        return false;
    }
    if (changed)
        changed->clear();
    const bool kept = made && type == dbType && to == last && from >= first && sinceRebuild.elapsed() < kRebuildMs;
    // Rows committed after this are found at the next update, whichever snapshot the sums read.
    QVariantList top;
    if (!done(run, { QStringLiteral("SELECT coalesce(max(id),0) FROM measure"), {} }, error, &top)) {
        made = false;
        return false;
    }
    const qint64 newSeen = top.value(0).toLongLong();
    QVariantList sensors;
    bool ok = true;
    if (kept) {
        ok = done(run, { QStringLiteral("SELECT DISTINCT sensor_id FROM measure WHERE id>? AND id<=?"), { seenId, newSeen } },
            error, &sensors);
        if (ok && from > first)
            ok = done(run,
                { QStringLiteral("SELECT DISTINCT sensor_id FROM measure WHERE timemeasure>=? AND timemeasure<?"),
                    { first, from } },
                error, &sensors);
    }
    dbType = type;
    first = from;
    last = to;
    const bool all = !kept || sensors.size() > kMostSummedAgain;
    if (ok && !all)
        ok = sensors.isEmpty() || sumAgain(run, sensors, error);
    else if (ok)
        ok = rebuild(run, error);
    if (rebuilt)
        *rebuilt = all;
    if (changed && !all)
        *changed = sensors;
    made = ok;
    seenId = newSeen;
    return ok;
}

bool WindowSummary::rebuild(const TableRunner& run, QString* error)
{
    const bool mysql = dbType == SqlQueryBuilder::MySQL;
    const QString create = mysql
        ? QStringLiteral("CREATE TEMPORARY TABLE IF NOT EXISTS window_summary (sensor_id INT PRIMARY KEY, tmin DOUBLE,"
                         " tmax DOUBLE, ts DOUBLE, tc BIGINT, wmin DOUBLE, wmax DOUBLE, ws DOUBLE, wc BIGINT)")
        : QStringLiteral("CREATE TEMP TABLE IF NOT EXISTS window_summary (sensor_id INTEGER PRIMARY KEY, tmin REAL,"
                         " tmax REAL, ts REAL, tc INTEGER, wmin REAL, wmax REAL, ws REAL, wc INTEGER)");
    const MeasureAggregates::SourceQuery source = MeasureAggregates::windowSource(dbType, first, last, {}, {});
    if (!done(run, { create, {} }, error) || !done(run, { QStringLiteral("DELETE FROM window_summary"), {} }, error)
        || !done(run,
            { QStringLiteral("INSERT INTO window_summary ") + QLatin1String(kSums).arg(source.text), source.values },
            error))
        return false;
    sinceRebuild.start();
    return true;
}

bool WindowSummary::sumAgain(const TableRunner& run, QVariantList sensorIds, QString* error)
{
    sensorIds = padded(sensorIds);
    const QString ids = TableQueries::inList(sensorIds.size());
    const MeasureAggregates::SourceQuery source
        = MeasureAggregates::windowSource(dbType, first, last, ids, sensorIds);
    return done(run, { QStringLiteral("DELETE FROM window_summary WHERE sensor_id") + ids, sensorIds }, error)
        && done(run, { QStringLiteral("INSERT INTO window_summary ") + QLatin1String(kSums).arg(source.text), source.values },
            error);
}

QVariantList WindowSummary::padded(QVariantList ids)
{
    int size = 16;
    while (size < ids.size())
        size *= 2;
    while (ids.size() < size)
        ids << -1;
    return ids;
}

TableQueries::Query WindowSummary::sensorsById(int dbType, const QVariantList& ids)
{
    TableQueries::Query q;
    if (!supported(dbType))
        return q;
    q.values = padded(ids);
    q.text = keptRows(QStringLiteral("s.name nam"), QStringLiteral(", l.battery bat, s.location loc, p.sensor_id, s.EUI64"),
                 0, true, false)
        + QStringLiteral(" WHERE p.sensor_id") + TableQueries::inList(q.values.size());
    return q;
}

TableQueries::Query WindowSummary::sensors(
    int dbType, const QStringList& checked, bool everySensor, const QString& order, bool withRoom)
{
    TableQueries::Query q;
    if (!supported(dbType))
        return q;
    const bool byName = dbType == SqlQueryBuilder::SQLite && order.contains(QLatin1String(" nam"));
    q.text = keptRows(QStringLiteral("s.name nam"),
                 withRoom ? QStringLiteral(", l.battery bat, s.location loc, p.sensor_id, s.EUI64")
                          : QStringLiteral(", l.battery bat, s.EUI64"),
                 checked.size(), everySensor, byName)
        + order;
    q.values = addresses(checked, everySensor);
    return q;
}

TableQueries::Query WindowSummary::locations(
    int dbType, const QStringList& checked, bool everySensor, const QString& order)
{
    TableQueries::Query q;
    if (!supported(dbType))
        return q;
    q.text = QStringLiteral("SELECT l.name nam, min(Tmin) Tmin1, max(Tmax) Tmax1, avg(Tavg) Tavg1, min(Wmin) Wmin1, "
                            "max(Wmax) Wmax1, avg(Wavg) Wavg1 FROM locations l INNER JOIN (")
        + keptRows(QStringLiteral("s.location loc"), QString(), checked.size(), everySensor, false)
        + QStringLiteral(") abc ON l.id=abc.loc GROUP BY l.id") + order;
    q.values = addresses(checked, everySensor);
    return q;
}
