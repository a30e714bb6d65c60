#pragma once

#include <QSqlDatabase>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <QVariantList>
#include <QVector>

#include <functional>

class QSqlQuery;

// One stored measurement as its hour and day buckets see it; a NULL value is absent.
struct AggregateInput {
    qint64 sensorId = 0;
    qint64 timemeasure = 0; // UTC seconds
    QVariant temperature;
    QVariant wetness;
    QVariant battery;
};

// Per-sensor aggregates of "measure" by UTC hour and by UTC day (count, sum, min and max of
// temperature and humidity; count, min and max of the battery), kept in step with "measure"
// inside the writer's transactions, so that long summaries read a few rows per sensor and day
// instead of every measurement, and the measurement table's value orders only the hours that
// can hold its first rows.
namespace MeasureAggregates
{

// Times beyond this many seconds either side of 1970 are treated as the edge itself.
const qint64 kTimeLimit = qint64(1) << 50;

// The start of the UTC hour bucket holding t (a time before the edge counts as the edge).
qint64 hourOf(qint64 t);

// SQLite and MySQL keep aggregates; SQL Server does not.
bool supported(int dbType);

// CREATE statements (if not exists) for the aggregate tables and their indexes; on MySQL the
// indexes are created by createSchema, which asks first.
QStringList schemaStatements(int dbType);
// Runs the statements above on the connection.
bool createSchema(QSqlDatabase& db, int dbType, QString* error);
// Whether the aggregates are kept on this connection. Where their tables are missing or
// cannot be written, the writer turns them off on its connection: add, afterPurge and
// removeSensor then do nothing there, and the summaries read "measure" itself. Tables of an
// older layout that could not take the battery columns are kept without `battery` bounds.
void setKept(const QSqlDatabase& db, bool kept, bool battery = true);
bool kept(const QSqlDatabase& db);
bool batteryKept(const QSqlDatabase& db);
// Gives a statement prepared on the caller's connection, kept from one batch to the next;
// null where the database refuses it.
using Prepared = std::function<QSqlQuery*(const QString& statement)>;
// Adds rows just inserted into "measure"; runs inside the caller's transaction. Without
// `prepared` its statements are prepared anew.
bool add(QSqlDatabase& db, int dbType, const QVector<AggregateInput>& rows, QString* error,
    const Prepared& prepared = Prepared());
// The sensors' "measure" rows with from <= timemeasure < to were deleted: brings their
// buckets in line. Costs what the range's hours and days of these sensors cost, whatever the
// other sensors hold.
bool afterPurge(QSqlDatabase& db, int dbType, const QVector<qint64>& sensorIds, qint64 from, qint64 to, QString* error);
// The sensor's measurements were deleted (or moved to "removed"): its buckets go too.
bool removeSensor(QSqlDatabase& db, int dbType, qint64 sensorId, QString* error);
// Whether an existing database still lacks its aggregates or their battery bounds.
bool needsBuild(QSqlDatabase& db, int dbType);
// Adds the battery columns that the tables lack and counts every bucket again from "measure",
// in one transaction with the state row that says what was counted, so that a crash or a
// refused write leaves the database as it was, to be built at the next start. MySQL commits
// each ALTER on its own: there the columns come first, while the state row still says what
// was counted before. Where the columns cannot be added, tables that were counted before stay
// as they are and are kept without battery bounds (as they are after a failed count).
// Returns whether the aggregates are kept; `battery` says whether with battery bounds.
bool build(QSqlDatabase& db, int dbType, QString* error, bool* battery = nullptr);

// A derived table over the window [first, last] (UTC seconds, both included): whole days are
// read from the daily buckets, whole hours from the hourly ones and the partial hours at
// either end from "measure" itself, one row per sensor and piece, columns sensor_id, n
// (rows), tc, ts, tmin, tmax (temperature count, sum, min, max) and wc, ws, wmin, wmax
// (humidity). `sensorCondition` (" IN (...)" on sensor_id, or empty for all sensors) is
// repeated in every piece with `sensorValues` bound each time.
struct SourceQuery {
    QString text;
    QVariantList values;
};
SourceQuery windowSource(
    int dbType, qint64 first, qint64 last, const QString& sensorCondition, const QVariantList& sensorValues);

// A derived table of the first `limit` "measure" rows (columns sensor_id, timemeasure,
// temperature, wetness, battery) of the window [first, last] ordered by `column` (ascending,
// or descending; NULL lowest of all, as both dialects order it). Only the sensors' hours whose
// bounds can reach that far are read, so a year costs about what the limit does. Rows that tie
// at the limit may be other rows of the same value than a plain sort would pick. Empty where
// the column has no bounds (battery: where `battery` is false).
SourceQuery orderedRows(int dbType, const QString& column, bool descending, qint64 first, qint64 last, int limit,
    const QString& sensorCondition, const QVariantList& sensorValues, bool battery);

} // namespace MeasureAggregates
