#pragma once

#include <QDate>
#include <QString>

#include "storage/databasewriter.h"

// Registry rows written when sensors and locations appear at run time. Each is a job of the
// one ordered writer given to it, so it reaches the database exactly between
// the measurements queued before it and those queued after it: a measurement of a sensor
// that was just registered is never written before the sensor's row exists. Failures are
// logged; the registry in memory goes on all the same.
namespace RegistryWriter
{

DatabaseWriter::Job insertLocationJob(int id, const QString& name, const QString& eui64, const QString& ip);
DatabaseWriter::Job insertSensorJob(
    const QString& eui64, const QString& name, int location, int sleepInterval, const QDate& datecheck);
DatabaseWriter::Job updateSensorLocationJob(const QString& eui64, int location);

// Queue the jobs above on the writer; without one (no database open) they are logged as failed.
void insertLocation(DatabaseWriter* writer, int id, const QString& name, const QString& eui64, const QString& ip);
void insertSensor(DatabaseWriter* writer, const QString& eui64, const QString& name, int location, int sleepInterval,
    const QDate& datecheck);
void updateSensorLocation(DatabaseWriter* writer, const QString& eui64, int location);

} // namespace RegistryWriter
