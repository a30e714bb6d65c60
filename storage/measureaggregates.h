#pragma once

#include <QSqlDatabase>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <QVector>

// One stored measurement as its hour and day buckets see it; a NULL value is absent.
struct AggregateInput
{
    qint64 sensorId = 0;
    qint64 timemeasure = 0;  // UTC seconds
    QVariant temperature;
    QVariant wetness;
};

// Per-sensor aggregates of "measure" by UTC hour and by UTC day (count, sum, min and max of
// temperature and humidity), kept in step with "measure" inside the writer's transactions,
// so that long summaries read a few rows per sensor and day instead of every measurement.
namespace MeasureAggregates {

// CREATE statements (if not exists) for the aggregate tables and their indexes.
QStringList schemaStatements(int dbType);
// Adds rows just inserted into "measure"; runs inside the caller's transaction.
bool add(QSqlDatabase& db, int dbType, const QVector<AggregateInput>& rows, QString* error);
// "measure" rows with from <= timemeasure < to were deleted: brings the buckets in line.
bool afterPurge(QSqlDatabase& db, int dbType, qint64 from, qint64 to, QString* error);
// The sensor's measurements were deleted (or moved to "removed"): its buckets go too.
bool removeSensor(QSqlDatabase& db, int dbType, qint64 sensorId, QString* error);
// Whether an existing database still lacks its aggregates, and their build from "measure".
bool needsBuild(QSqlDatabase& db, int dbType);
bool build(QSqlDatabase& db, int dbType, QString* error);

}  // namespace MeasureAggregates
