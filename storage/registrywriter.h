#pragma once

#include <QDate>
#include <QString>

// Registry rows written when sensors and locations appear at run time, on the default
// connection. Failures are not reported: the registry in memory goes on all the same.
namespace RegistryWriter {

void insertLocation(int id, const QString& name, const QString& eui64, const QString& ip);
void insertSensor(const QString& eui64, const QString& name, int location, int sleepInterval, const QDate& datecheck);
void updateSensorLocation(const QString& eui64, int location);

}  // namespace RegistryWriter
