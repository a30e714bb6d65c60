#include "storage/measureaggregates.h"

#include <QHash>
#include <QMutex>
#include <QMutexLocker>
#include <QSet>
#include <QSqlError>
#include <QSqlQuery>

#include "storage/sqlquerybuilder.h"
#include "storage/sqlstatement.h"

namespace MeasureAggregates
{

namespace
{

const qint64 kHour = 3600;
const qint64 kDay = 86400;

enum Level { Hourly, Daily };

QString table(Level level)
{
    return QLatin1String(level == Hourly ? "measure_hourly" : "measure_daily");
}

// What the state row says was counted: nothing, temperature and humidity, or the battery too.
enum Built { NotBuilt = 0, WithoutBattery = 1, WithBattery = 2 };

// A bucket's columns, in the order its rows are written; the battery's where kept.
QString bucketColumns(bool battery)
{
    return QStringLiteral("(sensor_id, bucket, n, tc, ts, tmin, tmax, wc, ws, wmin, wmax")
        + QLatin1String(battery ? ", bc, bmin, bmax)" : ")");
}

// The battery columns as made by CREATE TABLE and added to tables of the older layout; bc
// counts the values that were not NULL.
const char* const kBatteryColumns[] = { "bc", "bmin", "bmax" };

QString batteryColumn(int i, bool mysql)
{
    return QLatin1String(kBatteryColumns[i])
        + QLatin1String(i == 0 ? " INTEGER NOT NULL DEFAULT 0"
                : mysql        ? " DOUBLE"
                               : " REAL");
}

qint64 floorTo(qint64 t, qint64 step)
{
    const qint64 q = t / step;
    return (q * step > t ? q - 1 : q) * step;
}

qint64 ceilTo(qint64 t, qint64 step)
{
    const qint64 down = floorTo(t, step);
    return down == t ? t : down + step;
}

qint64 clamped(qint64 t)
{
    return qBound(-kTimeLimit, t, kTimeLimit);
}

// The start of the bucket holding a time column, also for times before 1970 (SQLite's and
// MySQL's % both truncate towards zero).
QString bucketOf(const QString& column, qint64 step)
{
    const QString s = QString::number(step);
    return QStringLiteral("(%1-((%1%%2)+%2)%%2)").arg(column, s);
}

// The sensors of a purge slice as a condition on sensor_id with its values; no list means
// every sensor.
struct Sensors {
    QString condition;
    QVariantList values;
    // The table the hours are counted from; on MySQL tied to the sensors' own index, as the
    // planner may take the time index for cheaper while it still holds rows a purge deleted.
    QString measure = QStringLiteral("measure");

    explicit Sensors(const QVector<qint64>& ids = {}, int dbType = 0)
    {
        if (ids.isEmpty())
            return;
        condition = QStringLiteral(" AND sensor_id") + SqlQueryBuilder::inList(ids.size());
        for (qint64 id : ids)
            values << id;
        if (dbType == 1)
            measure += QStringLiteral(" FORCE INDEX (measure_sensor_time)");
    }
};

// The buckets of the level that start in [from, to) go.
bool clear(QSqlDatabase& db, Level level, qint64 from, qint64 to, const Sensors& sensors, QString* error)
{
    return SqlStatement::run(db,
        QStringLiteral("DELETE FROM %1 WHERE bucket>=? AND bucket<?").arg(table(level)) + sensors.condition,
        QVariantList { from, to } + sensors.values, error);
}

// Counts the buckets of the level that start in [from, to) from the level below ("measure"
// for hours, the hours for days); they must have been cleared first.
bool recount(
    QSqlDatabase& db, Level level, qint64 from, qint64 to, const Sensors& sensors, bool battery, QString* error)
{
    QString select;
    if (level == Hourly) {
        select = QStringLiteral("SELECT sensor_id, %1 b, count(*), count(temperature), coalesce(sum(temperature),0), "
                                "min(temperature), max(temperature), count(wetness), coalesce(sum(wetness),0), "
                                "min(wetness), max(wetness)%3 FROM %2 WHERE timemeasure>=? AND timemeasure<?")
                     .arg(bucketOf(QStringLiteral("timemeasure"), kHour), sensors.measure,
                         QLatin1String(battery ? ", count(battery), min(battery), max(battery)" : ""));
    } else {
        select = QStringLiteral("SELECT sensor_id, %1 b, sum(n), sum(tc), sum(ts), min(tmin), max(tmax), sum(wc), "
                                "sum(ws), min(wmin), max(wmax)%2 FROM measure_hourly WHERE bucket>=? AND bucket<?")
                     .arg(bucketOf(QStringLiteral("bucket"), kDay),
                         QLatin1String(battery ? ", sum(bc), min(bmin), max(bmax)" : ""));
    }
    return SqlStatement::run(db,
        QStringLiteral("INSERT INTO ") + table(level) + bucketColumns(battery) + QLatin1Char(' ') + select
            + sensors.condition + QStringLiteral(" GROUP BY sensor_id, b"),
        QVariantList { from, to } + sensors.values, error);
}

// Every bucket of the level that starts in [from, to), counted again from the level below;
// buckets left without rows disappear.
bool rebuild(
    QSqlDatabase& db, Level level, qint64 from, qint64 to, const Sensors& sensors, bool battery, QString* error)
{
    return clear(db, level, from, to, sensors, error) && recount(db, level, from, to, sensors, battery, error);
}

// Every hour counted again from "measure", a few hours a statement: one statement over all of
// it would sort every row at once, which costs about half as much again. Hours without rows
// are stepped over.
bool rebuildAllHours(QSqlDatabase& db, bool battery, QString* error)
{
    const qint64 chunk = 6 * kHour;
    if (!clear(db, Hourly, floorTo(-kTimeLimit, kHour), ceilTo(kTimeLimit, kHour), Sensors(), error))
        return false;
    QSqlQuery next(db);
    next.setForwardOnly(true);
    for (qint64 from = floorTo(-kTimeLimit, kHour);;) {
        if (!SqlStatement::exec(next,
                QStringLiteral("SELECT min(timemeasure) FROM measure WHERE timemeasure>=? AND "
                               "timemeasure<?"),
                { from, ceilTo(kTimeLimit, kHour) }, error)
            || !next.next())
            return SqlStatement::failed(next, error);
        if (next.value(0).isNull())
            return true;
        from = floorTo(next.value(0).toLongLong(), kHour);
        next.finish();
        if (!recount(db, Hourly, from, from + chunk, Sensors(), battery, error))
            return false;
        from += chunk;
    }
}

// The sensors' rows in [from, to) were deleted. An hour wholly inside the range has lost
// every row and is only cleared; the hour at either end that the range cuts is counted again
// from what "measure" still holds, and the days the range touches from their hours.
bool rebuildAfterPurge(QSqlDatabase& db, qint64 from, qint64 to, const Sensors& sensors, bool battery, QString* error)
{
    from = clamped(from);
    to = clamped(to);
    if (from >= to)
        return true;
    const qint64 firstHour = floorTo(from, kHour);
    const qint64 lastHour = floorTo(to - 1, kHour);
    const bool firstCut = firstHour < from;
    const bool lastCut = lastHour + kHour > to && (lastHour > firstHour || !firstCut);
    return clear(db, Hourly, firstHour, lastHour + kHour, sensors, error)
        && (!firstCut || recount(db, Hourly, firstHour, firstHour + kHour, sensors, battery, error))
        && (!lastCut || recount(db, Hourly, lastHour, lastHour + kHour, sensors, battery, error))
        && rebuild(db, Daily, floorTo(from, kDay), ceilTo(to, kDay), sensors, battery, error);
}

// One bucket's totals; min and max stay NULL while no value was counted.
struct Bucket {
    qint64 n = 0;
    qint64 tc = 0;
    double ts = 0;
    QVariant tmin, tmax;
    qint64 wc = 0;
    double ws = 0;
    QVariant wmin, wmax;
    qint64 bc = 0;
    double bs = 0; // not stored
    QVariant bmin, bmax;

    static void fold(const QVariant& value, qint64* count, double* sum, QVariant* min, QVariant* max)
    {
        if (value.isNull() || !value.isValid())
            return;
        const double v = value.toDouble();
        ++*count;
        *sum += v;
        if (min->isNull() || v < min->toDouble())
            *min = v;
        if (max->isNull() || v > max->toDouble())
            *max = v;
    }
    void add(const AggregateInput& row)
    {
        ++n;
        fold(row.temperature, &tc, &ts, &tmin, &tmax);
        fold(row.wetness, &wc, &ws, &wmin, &wmax);
        fold(row.battery, &bc, &bs, &bmin, &bmax);
    }
};

QVariant nullable(const QVariant& v)
{
    return v.isNull() ? QVariant(QVariant::Double) : v;
}

// Adds a bucket's totals to the stored ones, or stores them when the bucket is new.
QString upsert(int dbType, Level level, bool battery)
{
    const bool mysql = dbType == 1;
    const QString t = table(level);
    auto stored = [&](const char* c) {
        return mysql ? QString(QLatin1String(c)) : QString(t + QLatin1Char('.') + QLatin1String(c));
    };
    auto added = [&](const char* c) {
        return (mysql ? QStringLiteral("VALUES(%1)") : QStringLiteral("excluded.%1")).arg(QLatin1String(c));
    };
    QStringList sets;
    auto sum = [&](const char* c) { sets << QStringLiteral("%1=%2+%3").arg(QLatin1String(c), stored(c), added(c)); };
    // Where either side of a bound is NULL the other one wins; two NULLs stay NULL.
    auto bound = [&](const char* c, bool low) {
        const char* pick = mysql ? (low ? "LEAST" : "GREATEST") : (low ? "min" : "max");
        sets << QStringLiteral("%1=COALESCE(%2(%3,%4),%3,%4)")
                    .arg(QLatin1String(c), QLatin1String(pick), stored(c), added(c));
    };
    for (const char* c : { "n", "tc", "ts", "wc", "ws" })
        sum(c);
    bound("tmin", true);
    bound("tmax", false);
    bound("wmin", true);
    bound("wmax", false);
    if (battery) {
        sum("bc");
        bound("bmin", true);
        bound("bmax", false);
    }
    const int count = battery ? 14 : 11;
    return QStringLiteral("INSERT INTO ") + t + QLatin1Char(' ') + bucketColumns(battery) + QStringLiteral(" VALUES (?")
        + QStringLiteral(",?").repeated(count - 1) + QStringLiteral(") ")
        + QLatin1String(mysql ? "ON DUPLICATE KEY UPDATE " : "ON CONFLICT (sensor_id, bucket) DO UPDATE SET ")
        + sets.join(QStringLiteral(", "));
}

QStringList mysqlIndexStatements()
{
    return { QStringLiteral("CREATE INDEX measure_hourly_bucket ON measure_hourly (bucket)"),
        QStringLiteral("CREATE INDEX measure_daily_bucket ON measure_daily (bucket)") };
}

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

} // namespace

qint64 hourOf(qint64 t)
{
    return floorTo(qMax(t, -kTimeLimit), kHour);
}

bool supported(int dbType)
{
    return dbType == 0 || dbType == 1;
}

QStringList schemaStatements(int dbType)
{
    if (!supported(dbType))
        return {};
    const bool mysql = dbType == 1;
    const QString real = QLatin1String(mysql ? "DOUBLE" : "REAL");
    const QString options = QLatin1String(mysql ? " DEFAULT CHARSET=utf8mb4" : " WITHOUT ROWID");
    QStringList statements;
    QString battery;
    for (int i = 0; i < 3; ++i)
        battery += batteryColumn(i, mysql) + QStringLiteral(", ");
    for (Level level : { Hourly, Daily }) {
        // bucket: the UTC second the hour or day begins; n counts rows, tc and wc the
        // values that were not NULL, ts and ws their sums.
        statements << QStringLiteral(
            "CREATE TABLE IF NOT EXISTS %1 (sensor_id INTEGER NOT NULL, bucket BIGINT NOT NULL, "
            "n INTEGER NOT NULL, tc INTEGER NOT NULL, ts %2 NOT NULL, tmin %2, tmax %2, "
            "wc INTEGER NOT NULL, ws %2 NOT NULL, wmin %2, wmax %2, %4"
            "PRIMARY KEY (sensor_id, bucket))%3")
                          .arg(table(level), real, options, battery);
    }
    // One row once the buckets hold all of "measure" (built: what was counted, see Built); a
    // database from before the aggregates has none and is built once, one from before the
    // battery bounds says 1 and is built once more.
    statements << QStringLiteral("CREATE TABLE IF NOT EXISTS measure_aggregates_state (built INTEGER NOT NULL)")
            + QLatin1String(mysql ? " DEFAULT CHARSET=utf8mb4" : "");
    if (!mysql) {
        // The purge and the build find buckets by time across all sensors.
        statements << QStringLiteral("CREATE INDEX IF NOT EXISTS measure_hourly_bucket ON measure_hourly (bucket)")
                   << QStringLiteral("CREATE INDEX IF NOT EXISTS measure_daily_bucket ON measure_daily (bucket)");
    }
    return statements;
}

bool createSchema(QSqlDatabase& db, int dbType, QString* error)
{
    for (const QString& statement : schemaStatements(dbType)) {
        if (!SqlStatement::run(db, statement, {}, error))
            return false;
    }
    if (dbType != 1)
        return true;
    // MySQL has no CREATE INDEX IF NOT EXISTS.
    QSqlQuery query(db);
    for (const QString& statement : mysqlIndexStatements()) {
        const QString name = statement.section(QLatin1Char(' '), 2, 2);
        const QString tableName = statement.section(QLatin1Char(' '), 4, 4);
        if (!SqlStatement::exec(query,
                QStringLiteral("SELECT COUNT(*) FROM information_schema.statistics WHERE "
                               "table_schema=DATABASE() AND table_name=? AND index_name=?"),
                { tableName, name }, error)
            || !query.next())
            return SqlStatement::failed(query, error);
        const bool present = query.value(0).toInt() > 0;
        query.finish();
        if (!present && !SqlStatement::run(db, statement, {}, error))
            return false;
    }
    return true;
}

namespace
{

QMutex offGuard;
// Connections that keep no aggregates (false) or no battery bounds (true).
QHash<QString, bool>& connectionsWithout()
{
    static QHash<QString, bool> names;
    return names;
}

// Adds the battery columns that the tables lack; false where the database refuses.
bool addBatteryColumns(QSqlDatabase& db, int dbType, QString* error)
{
    const bool mysql = dbType == 1;
    for (Level level : { Hourly, Daily }) {
        QSqlQuery query(db);
        QStringList missing;
        for (int i = 0; i < 3; ++i) {
            if (!query.exec(
                    QStringLiteral("SELECT %1 FROM %2 WHERE 1=0").arg(QLatin1String(kBatteryColumns[i]), table(level))))
                missing << QStringLiteral("ADD COLUMN ") + batteryColumn(i, mysql);
        }
        query.finish();
        // SQLite adds one column a statement; MySQL copies or changes the table once for all.
        const QStringList statements
            = mysql || missing.isEmpty() ? QStringList { missing.join(QStringLiteral(", ")) } : missing;
        for (const QString& change : statements) {
            if (!change.isEmpty()
                && !SqlStatement::run(
                    db, QStringLiteral("ALTER TABLE ") + table(level) + QLatin1Char(' ') + change, {}, error))
                return false;
        }
    }
    return true;
}

// What the state row says was counted.
Built builtState(QSqlDatabase& db)
{
    QSqlQuery query(db);
    query.setForwardOnly(true);
    // A failed read (no state table yet) means not built either.
    if (!query.exec(QStringLiteral("SELECT MAX(built) FROM measure_aggregates_state")) || !query.next())
        return NotBuilt;
    return Built(qBound(0, query.value(0).toInt(), 2));
}

} // namespace

void setKept(const QSqlDatabase& db, bool kept, bool battery)
{
    QMutexLocker lock(&offGuard);
    if (kept && battery)
        connectionsWithout().remove(db.connectionName());
    else
        connectionsWithout().insert(db.connectionName(), kept);
}

bool kept(const QSqlDatabase& db)
{
    QMutexLocker lock(&offGuard);
    return connectionsWithout().value(db.connectionName(), true);
}

bool batteryKept(const QSqlDatabase& db)
{
    QMutexLocker lock(&offGuard);
    return !connectionsWithout().contains(db.connectionName());
}

bool add(QSqlDatabase& db, int dbType, const QVector<AggregateInput>& rows, QString* error)
{
    if (!supported(dbType) || rows.isEmpty() || !kept(db))
        return true;
    const bool battery = batteryKept(db);
    // A batch touches few buckets: fold it first so each bucket is written once.
    for (Level level : { Hourly, Daily }) {
        const qint64 step = level == Hourly ? kHour : kDay;
        QHash<QPair<qint64, qint64>, Bucket> buckets;
        QVector<QPair<qint64, qint64>> order;
        for (const AggregateInput& row : rows) {
            const QPair<qint64, qint64> key(row.sensorId, floorTo(clamped(row.timemeasure), step));
            auto it = buckets.find(key);
            if (it == buckets.end()) {
                it = buckets.insert(key, Bucket());
                order << key;
            }
            it->add(row);
        }
        QSqlQuery query(db);
        if (!query.prepare(upsert(dbType, level, battery)))
            return SqlStatement::failed(query, error);
        for (const auto& key : qAsConst(order)) {
            const Bucket& b = buckets[key];
            for (const QVariant& v : { QVariant(key.first), QVariant(key.second), QVariant(b.n), QVariant(b.tc),
                     QVariant(b.ts), nullable(b.tmin), nullable(b.tmax), QVariant(b.wc), QVariant(b.ws),
                     nullable(b.wmin), nullable(b.wmax) })
                query.addBindValue(v);
            if (battery) {
                for (const QVariant& v : { QVariant(b.bc), nullable(b.bmin), nullable(b.bmax) })
                    query.addBindValue(v);
            }
            if (!query.exec())
                return SqlStatement::failed(query, error);
        }
    }
    return true;
}

bool afterPurge(QSqlDatabase& db, int dbType, const QVector<qint64>& sensorIds, qint64 from, qint64 to, QString* error)
{
    // Only the slice's own sensors are touched, so that a slice costs what its rows cost.
    return !supported(dbType) || sensorIds.isEmpty() || !kept(db)
        || rebuildAfterPurge(db, from, to, Sensors(sensorIds, dbType), batteryKept(db), error);
}

bool removeSensor(QSqlDatabase& db, int dbType, qint64 sensorId, QString* error)
{
    if (!supported(dbType) || !kept(db))
        return true;
    for (Level level : { Hourly, Daily }) {
        if (!SqlStatement::run(
                db, QStringLiteral("DELETE FROM %1 WHERE sensor_id=?").arg(table(level)), { sensorId }, error))
            return false;
    }
    return true;
}

bool needsBuild(QSqlDatabase& db, int dbType)
{
    return supported(dbType) && builtState(db) != WithBattery;
}

bool build(QSqlDatabase& db, int dbType, QString* error, bool* battery)
{
    bool withBattery = false;
    if (battery)
        *battery = false;
    if (!supported(dbType))
        return true;
    if (!createSchema(db, dbType, error))
        return false;
    const Built before = builtState(db);
    QString refusal;
    if (dbType == 1)
        withBattery = addBatteryColumns(db, dbType, &refusal);
    const bool own = db.transaction();
    if (dbType != 1)
        withBattery = addBatteryColumns(db, dbType, &refusal);
    if (!withBattery)
        qWarning("measurement aggregates: no battery bounds: %s", qPrintable(refusal));
    // Tables counted before that cannot take the battery columns stay as they are.
    bool ok = !withBattery && before == WithoutBattery;
    ok = ok
        || (rebuildAllHours(db, withBattery, error)
            && rebuild(db, Daily, floorTo(-kTimeLimit, kDay), ceilTo(kTimeLimit, kDay), Sensors(), withBattery, error)
            && SqlStatement::run(db, QStringLiteral("DELETE FROM measure_aggregates_state"), {}, error)
            && SqlStatement::run(db, QStringLiteral("INSERT INTO measure_aggregates_state (built) VALUES (?)"),
                { int(withBattery ? WithBattery : WithoutBattery) }, error));
    if (own && ok && !db.commit()) {
        ok = false;
        if (error)
            *error = db.lastError().text();
    }
    if (own && !ok)
        db.rollback();
    if (!ok && own && before == WithoutBattery) {
        // Rolled back: the buckets are still those counted before, without battery bounds.
        qWarning("measurement aggregates: battery bounds not counted: %s", error ? qPrintable(*error) : "");
        return true;
    }
    if (battery)
        *battery = ok && withBattery;
    return ok;
}

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

namespace
{

// The columns of a bucket that count, bound and the "measure" column they describe.
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

} // namespace

SourceQuery orderedRows(int dbType, const QString& column, bool descending, qint64 first, qint64 last, int limit,
    const QString& sensorCondition, const QVariantList& sensorValues, bool battery)
{
    SourceQuery q;
    const Bounds* bounds = boundsOf(column);
    if (!supported(dbType) || !bounds || limit <= 0 || (!battery && column == QLatin1String("battery")))
        return q;
    const qint64 lo = clamped(first);
    const qint64 hi = clamped(last) + (last >= kTimeLimit ? 0 : 1);
    const qint64 h1 = ceilTo(lo, kHour);
    const qint64 h2 = floorTo(hi, kHour);
    const qint64 d1 = ceilTo(h1, kDay);
    const qint64 d2 = floorTo(h2, kDay);
    // Rows come in the column's order, NULL lowest of all; a bucket's key is where its first
    // row can come (its minimum going up, or NULL when it holds a NULL value; its maximum
    // going down), NULL written as a number below every measured one.
    //   The `limit` whole hours with the first keys (w) each hold a row at or before the last
    // of those keys, t, and every hour with a key before t is among them; the hours before
    // them that already hold `limit` rows (p) give v, the `limit`-th of their own rows. The
    // first rows of the window are then among the rows of p and of the hours of w keyed
    // before v when v is not beyond t, otherwise among the rows of w; the partial hours at
    // the window's ends are always read, and every hour when the whole ones hold fewer rows
    // than the limit.
    //   The hours come only from the `limit` whole days with the first keys (the same holds
    // one level up: every hour keyed before their last key lies in them) and from the days
    // the window cuts.
    const QString dir = QLatin1String(descending ? " DESC" : "");
    const QString none = QStringLiteral("-1e300");
    auto key = [&](const QString& count, const QString& min, const QString& max) {
        return descending ? QStringLiteral("coalesce(%1,%2)").arg(max, none)
                          : QStringLiteral("CASE WHEN n>%1 THEN %2 ELSE %3 END").arg(count, none, min);
    };
    const QString before = QLatin1String(descending ? ">" : "<");
    const QString sensors = sensorCondition.isEmpty() ? QString() : QStringLiteral(" AND sensor_id") + sensorCondition;
    const QString n = QString::number(limit);
    // The rows of "measure" (or the hours) inside each bucket of a CTE.
    auto rowsOf = [](const char* buckets, qint64 width) {
        const bool hours = width == kHour;
        return QStringLiteral(" CROSS JOIN %1 %2 ON %2.sensor_id=%3.sensor_id AND %2.%4>=%3.bucket AND "
                              "%2.%4<%3.bucket+%5")
            .arg(QLatin1String(hours ? "measure" : "measure_hourly"), QLatin1String(hours ? "m" : "h"),
                QLatin1String(buckets), QLatin1String(hours ? "timemeasure" : "bucket"), QString::number(width));
    };
    const QString hourColumns
        = QStringLiteral("sensor_id, bucket, n, %1 k")
              .arg(key(QLatin1String(bounds->count), QLatin1String(bounds->min), QLatin1String(bounds->max)));
    q.text = QStringLiteral("(WITH d AS (SELECT sensor_id, bucket FROM measure_daily WHERE bucket>=? AND bucket<?")
        + sensors + QStringLiteral(" ORDER BY ")
        + key(QLatin1String(bounds->count), QLatin1String(bounds->min), QLatin1String(bounds->max)) + dir
        + QStringLiteral(" LIMIT ") + n + QStringLiteral("), b AS (SELECT ") + hourColumns
        + QStringLiteral(" FROM measure_hourly WHERE bucket>=? AND bucket<?") + sensors
        + QStringLiteral(" UNION ALL SELECT ") + hourColumns
        + QStringLiteral(" FROM measure_hourly WHERE bucket>=? AND bucket<?") + sensors
        + QStringLiteral(" UNION ALL SELECT h.sensor_id, h.bucket, h.n, ")
        + key(QStringLiteral("h.") + QLatin1String(bounds->count), QStringLiteral("h.") + QLatin1String(bounds->min),
            QStringLiteral("h.") + QLatin1String(bounds->max))
        + QStringLiteral(" FROM d") + rowsOf("d", kDay)
        + QStringLiteral("), w AS (SELECT sensor_id, bucket, n, k FROM b WHERE bucket>=? AND bucket<? ORDER BY k") + dir
        + QStringLiteral(" LIMIT ") + n
        + QStringLiteral("), p AS (SELECT sensor_id, bucket FROM (SELECT sensor_id, bucket, n, sum(n) OVER "
                         "(ORDER BY k%1, sensor_id, bucket) s FROM w) x WHERE s-n<%2)")
              .arg(dir, n)
        + QStringLiteral(", v AS (SELECT coalesce(m.%1,%2) x FROM p").arg(column, none) + rowsOf("p", kHour)
        + QStringLiteral(" ORDER BY x%1 LIMIT 1 OFFSET %2)").arg(dir, QString::number(limit - 1))
        + QStringLiteral(", t AS (SELECT %1(k) t FROM w)").arg(QLatin1String(descending ? "min" : "max"))
        + QStringLiteral(", c AS (SELECT sensor_id, bucket FROM b WHERE bucket<? OR bucket>=? "
                         "UNION SELECT sensor_id, bucket FROM p "
                         "UNION SELECT sensor_id, bucket FROM w WHERE (SELECT t FROM t)%1(SELECT x FROM v) "
                         "OR k%1(SELECT x FROM v) "
                         "UNION SELECT sensor_id, bucket FROM b WHERE NOT EXISTS (SELECT 1 FROM v))")
              .arg(before)
        // The rows are chosen by id first: where the index holds the column, that read needs
        // no row of the table itself, and only the chosen rows are then looked up.
        + QStringLiteral(
            " SELECT r.sensor_id, r.timemeasure, r.temperature, r.wetness, r.battery FROM (SELECT m.id FROM c")
        // The "+" keeps the time index out of a read that goes by the sensors' hours.
        + rowsOf("c", kHour) + QStringLiteral(" WHERE +m.timemeasure>=? AND +m.timemeasure<?")
        + QStringLiteral(" ORDER BY m.%1%2 LIMIT %3) i CROSS JOIN measure r ON r.id=i.id)").arg(column, dir, n);
    q.values << d1 << d2;
    if (!sensors.isEmpty())
        q.values << sensorValues;
    // The hours before the first whole day and after the last, as two ranges of the index.
    const qint64 headEnd = qMin(hi, d1);
    const QPair<qint64, qint64> ranges[] = { { floorTo(lo, kHour), headEnd }, { qMax(d2, headEnd), hi } };
    for (const auto& range : ranges) {
        q.values << range.first << range.second;
        if (!sensors.isEmpty())
            q.values << sensorValues;
    }
    q.values << h1 << h2 << h1 << h2 << lo << hi;
    return q;
}

} // namespace MeasureAggregates
