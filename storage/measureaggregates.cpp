#include "storage/measureaggregates.h"

#include <QHash>
#include <QMutex>
#include <QMutexLocker>
#include <QSet>
#include <QSqlError>
#include <QSqlQuery>

#include "storage/aggregatebuckets.h"
#include "storage/sqlquerybuilder.h"
#include "storage/sqlstatement.h"

namespace MeasureAggregates
{

using namespace Buckets;

namespace
{

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

    explicit Sensors(const QVector<qint64>& ids = {}, int dbType = SqlQueryBuilder::SQLite)
    {
        if (ids.isEmpty())
            return;
        condition = QStringLiteral(" AND sensor_id") + SqlQueryBuilder::inList(ids.size());
        for (qint64 id : ids)
            values << id;
        if (dbType == SqlQueryBuilder::MySQL)
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
    const bool mysql = dbType == SqlQueryBuilder::MySQL;
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

} // namespace

qint64 hourOf(qint64 t)
{
    return floorTo(qMax(t, -kTimeLimit), kHour);
}

bool supported(int dbType)
{
    return dbType == SqlQueryBuilder::SQLite || dbType == SqlQueryBuilder::MySQL;
}

QStringList schemaStatements(int dbType)
{
    if (!supported(dbType))
        return {};
    const bool mysql = dbType == SqlQueryBuilder::MySQL;
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
    if (dbType != SqlQueryBuilder::MySQL)
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
    const bool mysql = dbType == SqlQueryBuilder::MySQL;
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

bool add(QSqlDatabase& db, int dbType, const QVector<AggregateInput>& rows, QString* error, const Prepared& prepared)
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
        const QString statement = upsert(dbType, level, battery);
        QSqlQuery own(db);
        QSqlQuery* cached = prepared ? prepared(statement) : nullptr;
        if (!cached && !own.prepare(statement))
            return SqlStatement::failed(own, error);
        QSqlQuery& query = cached ? *cached : own;
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
    if (dbType == SqlQueryBuilder::MySQL)
        withBattery = addBatteryColumns(db, dbType, &refusal);
    const bool own = db.transaction();
    if (dbType != SqlQueryBuilder::MySQL)
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

} // namespace MeasureAggregates
