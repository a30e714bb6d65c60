#pragma once

#include <QPair>
#include <QString>
#include <QVariant>
#include <QVector>

#include "storage/databasewriter.h"

// The registry changes of the sensors dialog as jobs of the ordered writer: each runs inside
// the writer's transaction with bound values, and a failed statement fails the whole job, so
// the database is either changed completely or not at all.
namespace RegistryEdits
{

// The columns of "sensors" that the dialog may set, by name.
bool isEditableSensorColumn(const QString& column);

// One column of the sensor with that EUI64. Texts are stored as given (never NULL).
DatabaseWriter::Job updateSensor(const QString& eui64, const QString& column, const QVariant& value);
// A new room row with an explicit column list: no gateway EUI64, no address.
DatabaseWriter::Job insertLocation(int id, const QString& name);
DatabaseWriter::Job renameLocation(int id, const QString& name);
// Copies the sensor's measurements into "removed" in time order, deletes its "measure" and
// "last" rows and its aggregates explicitly, then the sensor itself. A sensor that has no
// row is not an error: there is nothing to keep.
DatabaseWriter::Job removeSensor(const QString& eui64);
// Deletes location `id` and renumbers: ids above it move down by one, its sensors go to
// location 0 and the sensors of the locations above it follow their location.
DatabaseWriter::Job removeLocation(int id);
// Rows written with the old numbering after a location removal was queued: locations moved
// from one id to another (in the given order) and sensors given their location again.
DatabaseWriter::Job renumber(const QVector<QPair<int, int>>& locationIds, const QVector<QPair<QString, int>>& sensors);

} // namespace RegistryEdits
