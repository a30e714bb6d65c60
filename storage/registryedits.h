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
// Start-up makes "removed"; a database whose table went missing since gets it back before a
// sensor's history is copied there. Run by the writer before each job, outside its
// transaction: on MySQL a CREATE commits whatever is open. Made only when missing.
bool ensureTables(QSqlDatabase& db, int type, QString* error);
// Copies the sensor's measurements into "removed" in time order, deletes its "measure" and "last" rows and its
// aggregates explicitly, then the sensor itself. A sensor that has no row is not an error: there is nothing to keep.
DatabaseWriter::Job removeSensor(const QString& eui64);
// Where each sensor's row points to: its EUI64 and location id.
using SensorLocations = QVector<QPair<QString, int>>;
// Deletes location `id` and renumbers: ids above it move down by one, its sensors go to
// location 0, the sensors of the locations above it follow their location, and then every
// sensor given is written with the location it has in memory after the removal.
DatabaseWriter::Job removeLocation(int id, const SensorLocations& sensors);
// Name, gateway EUI64 and address of a location row.
struct LocationRow {
    QString name;
    QString eui64;
    QString ip;
};
// Writes the locations from id `first` on as memory holds them (rows[i] gets id first + i)
// and every sensor's location: after a dialog change that failed, what was queued meanwhile in
// the numbering that change had made is brought back in line.
DatabaseWriter::Job rewriteLocations(int first, const QVector<LocationRow>& rows, const SensorLocations& sensors);

} // namespace RegistryEdits
