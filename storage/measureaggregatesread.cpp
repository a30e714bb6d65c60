#include "storage/measureaggregates.h"

#include "storage/aggregatebuckets.h"
#include "storage/sqlquerybuilder.h"

// The readers of the aggregates: the summaries' window pieces and the measurement table's
// value orders.
namespace MeasureAggregates
{

using namespace Buckets;

namespace
{

// The pieces of a window, each [from, to).
enum Source { Measure, Hours, Days };
struct Part {
    Source source;
    qint64 from;
    qint64 to;
};
struct Window {
    QVector<Part> parts;
};

Window window(qint64 first, qint64 last)
{
    Window w;
    const qint64 lo = clamped(first);
    const qint64 hi = clamped(last) + (last >= kTimeLimit ? 0 : 1);
    auto part = [&w](Source source, qint64 from, qint64 to) {
        if (from < to)
            w.parts << Part { source, from, to };
    };
    const qint64 h1 = ceilTo(lo, kHour);
    const qint64 h2 = floorTo(hi, kHour);
    if (h1 >= h2) {
        // Also an empty or inverted window: its one part matches no row.
        w.parts << Part { Measure, lo, hi };
        return w;
    }
    part(Measure, lo, h1);
    const qint64 d1 = ceilTo(h1, kDay);
    const qint64 d2 = floorTo(h2, kDay);
    if (d1 < d2) {
        part(Hours, h1, d1);
        part(Days, d1, d2);
        part(Hours, d2, h2);
    } else {
        part(Hours, h1, h2);
    }
    part(Measure, h2, hi);
    return w;
}

// The columns of a bucket that count and bound a "measure" column.
struct Bounds {
    const char* column;
    const char* count;
    const char* min;
    const char* max;
};
const Bounds kBounds[] = { { "temperature", "tc", "tmin", "tmax" }, { "wetness", "wc", "wmin", "wmax" },
    { "battery", "bc", "bmin", "bmax" } };

const Bounds* boundsOf(const QString& column)
{
    for (const Bounds& b : kBounds) {
        if (column == QLatin1String(b.column))
            return &b;
    }
    return nullptr;
}

// The first rows of a window by a value column, read through the buckets. Rows come in the
// column's order, NULL lowest of all; a bucket's key k is where its first row can come (its
// minimum going up, or NULL when it holds a NULL value; its maximum going down), NULL written
// as a number below every measured one.
//   d: the {limit} whole days with the first keys. Each holds a row at or before the last of
//      their keys, so every hour keyed before it lies in them (or in the days the window cuts).
//   b: the hours of those days and of the days the window cuts; e marks the hours the window
//      cuts, which are always read.
//   w: the {limit} other hours with the first keys, with the rows up to each (s). Each holds a
//      row at or before the last of their keys, so the first rows lie in them.
//   v: the {limit}-th of the rows of the first hours that hold {limit} rows (s-n<{limit}).
//   c: the hours read: the cut ones, those first hours and the others keyed before v (all of
//      w where the hours hold fewer rows than the limit, without a v).
// Only the cut hours reach beyond the window; a bound on "measure" or the hours alone would
// lead the planners away from the sensors' hours. The rows are chosen by id first: where an
// index holds the column, that read needs no row of the table itself, and only the chosen
// rows are then looked up.
const char* const kOrderedRows
    = "(WITH d AS (SELECT sensor_id, bucket FROM measure_daily WHERE bucket>=? AND bucket<?{sensors}"
      " ORDER BY {key}{dir} LIMIT {limit}),"
      " b AS (SELECT sensor_id, bucket, n, {key} k, bucket<? OR bucket>=? e FROM measure_hourly"
      " WHERE bucket>=? AND bucket<?{sensors}"
      " UNION ALL SELECT sensor_id, bucket, n, {key} k, bucket<? OR bucket>=? e FROM measure_hourly"
      " WHERE bucket>=? AND bucket<?{sensors}"
      " UNION ALL SELECT h.sensor_id, h.bucket, n, {key}, 0 FROM d{hoursOfDays}),"
      " w AS (SELECT y.*, sum(n) OVER (ORDER BY k{dir}, sensor_id, bucket) s"
      " FROM (SELECT sensor_id, bucket, n, k FROM b WHERE NOT e ORDER BY k{dir}, sensor_id, bucket LIMIT {limit}) y),"
      " v AS (SELECT coalesce(m.{column},{none}) x FROM w{rowsOfHours} WHERE s-n<{limit}"
      " ORDER BY x{dir} LIMIT 1 OFFSET {offset}),"
      " c AS (SELECT sensor_id, bucket, e FROM b WHERE e"
      " UNION ALL SELECT sensor_id, bucket, 0 FROM w WHERE s-n<{limit} OR coalesce(k{before}(SELECT x FROM v),1))"
      " SELECT r.sensor_id, r.timemeasure, r.temperature, r.wetness, r.battery FROM (SELECT m.id FROM c{rowsOfCut}"
      " WHERE NOT e OR m.timemeasure>=? AND m.timemeasure<? ORDER BY m.{column}{dir} LIMIT {limit}) i"
      " CROSS JOIN measure r ON r.id=i.id)";

// The rows of "measure" (or the hours) inside each bucket of `buckets`, read after them.
// MariaDB reads a joined table by the equal part of an index only, which is every row of the
// sensor: an IN list is no equality to it, so it plans the sensor's range of time anew for
// each bucket. It would also read "measure" first, misjudging the buckets' count.
QString rowsOf(int dbType, const char* buckets, Level level)
{
    const bool hours = level == Hourly;
    const bool mysql = dbType == SqlQueryBuilder::MySQL;
    const QString rows = QLatin1String(hours ? "m" : "h");
    return QStringLiteral(" %1 %2 %3%4 ON %3.sensor_id%5 AND %3.%6>=%7.bucket AND %3.%6<%7.bucket+%8")
        .arg(QLatin1String(mysql ? "STRAIGHT_JOIN" : "CROSS JOIN"), QLatin1String(hours ? "measure" : "measure_hourly"),
            rows,
            !mysql      ? QString()
                : hours ? QStringLiteral(" FORCE INDEX (measure_sensor_time)")
                        : QStringLiteral(" FORCE INDEX (PRIMARY)"),
            (mysql ? QStringLiteral(" IN (%1.sensor_id,%1.sensor_id)") : QStringLiteral("=%1.sensor_id"))
                .arg(QLatin1String(buckets)),
            QLatin1String(hours ? "timemeasure" : "bucket"), QLatin1String(buckets),
            QString::number(hours ? kHour : kDay));
}

// The shape with each {name} replaced by its part.
QString filled(QString shape, const QList<QPair<const char*, QString>>& parts)
{
    for (const auto& part : parts)
        shape.replace(QLatin1Char('{') + QLatin1String(part.first) + QLatin1Char('}'), part.second);
    return shape;
}

} // namespace

SourceQuery windowSource(
    int dbType, qint64 first, qint64 last, const QString& sensorCondition, const QVariantList& sensorValues)
{
    SourceQuery q;
    if (!supported(dbType))
        return q;
    const Window w = window(first, last);
    QStringList parts;
    for (const Part& p : w.parts) {
        QString text;
        if (p.source == Measure) {
            text = QStringLiteral("SELECT sensor_id, count(*) n, count(temperature) tc, sum(temperature) ts, "
                                  "min(temperature) tmin, max(temperature) tmax, count(wetness) wc, sum(wetness) ws, "
                                  "min(wetness) wmin, max(wetness) wmax FROM measure "
                                  "WHERE timemeasure>=? AND timemeasure<?");
        } else {
            text = QStringLiteral("SELECT sensor_id, n, tc, ts, tmin, tmax, wc, ws, wmin, wmax FROM ")
                + table(p.source == Hours ? Hourly : Daily) + QStringLiteral(" WHERE bucket>=? AND bucket<?");
        }
        q.values << p.from << p.to;
        if (!sensorCondition.isEmpty()) {
            text += QStringLiteral(" AND sensor_id") + sensorCondition;
            q.values << sensorValues;
        }
        if (p.source == Measure)
            text += QStringLiteral(" GROUP BY sensor_id");
        parts << text;
    }
    q.text = QLatin1Char('(') + parts.join(QStringLiteral(" UNION ALL ")) + QLatin1Char(')');
    return q;
}

SourceQuery orderedRows(int dbType, const QString& column, bool descending, qint64 first, qint64 last, int limit,
    const QString& sensorCondition, const QVariantList& sensorValues, bool battery)
{
    SourceQuery q;
    const Bounds* b = boundsOf(column);
    if (!supported(dbType) || !b || limit <= 0 || (!battery && column == QLatin1String("battery")))
        return q;
    const qint64 lo = clamped(first);
    const qint64 hi = clamped(last) + (last >= kTimeLimit ? 0 : 1);
    const qint64 h1 = ceilTo(lo, kHour);
    const qint64 h2 = floorTo(hi, kHour);
    const qint64 d1 = ceilTo(h1, kDay);
    const qint64 d2 = floorTo(h2, kDay);
    const QString none = QStringLiteral("-1e300");
    const QString sensors = sensorCondition.isEmpty() ? QString() : QStringLiteral(" AND sensor_id") + sensorCondition;
    q.text = filled(QLatin1String(kOrderedRows),
        { { "sensors", sensors },
            { "key",
                descending ? QStringLiteral("coalesce(%1,%2)").arg(QLatin1String(b->max), none)
                           : QStringLiteral("CASE WHEN n>%1 THEN %2 ELSE %3 END")
                                 .arg(QLatin1String(b->count), none, QLatin1String(b->min)) },
            { "dir", QLatin1String(descending ? " DESC" : "") }, { "before", QLatin1String(descending ? ">" : "<") },
            { "hoursOfDays", rowsOf(dbType, "d", Daily) }, { "rowsOfHours", rowsOf(dbType, "w", Hourly) },
            { "rowsOfCut", rowsOf(dbType, "c", Hourly) }, { "column", column }, { "none", none },
            { "limit", QString::number(limit) }, { "offset", QString::number(limit - 1) } });
    q.values << d1 << d2;
    if (!sensors.isEmpty())
        q.values << sensorValues;
    // The hours before the first whole day and after the last, as two ranges of the index.
    const qint64 headEnd = qMin(hi, d1);
    const QPair<qint64, qint64> ranges[] = { { floorTo(lo, kHour), headEnd }, { qMax(d2, headEnd), hi } };
    for (const auto& range : ranges) {
        q.values << h1 << h2 << range.first << range.second;
        if (!sensors.isEmpty())
            q.values << sensorValues;
    }
    q.values << lo << hi;
    return q;
}

} // namespace MeasureAggregates
