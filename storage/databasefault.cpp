#include "storage/databasefault.h"

#include <QRegularExpression>

namespace DatabaseFault
{

bool containsAny(const QString& text, std::initializer_list<const char*> marks)
{
    for (const char* mark : marks) {
        if (text.contains(QLatin1String(mark), Qt::CaseInsensitive))
            return true;
    }
    return false;
}

Kind classify(const QString& error)
{
    // "Commands out of sync" is a connection whose protocol state is lost: a new one cures it.
    return containsAny(error,
               { "database is locked", "database table is locked", "database schema is locked", "busy", "Lock wait",
                   "Deadlock", "gone away", "Lost connection", "Can't connect", "Communication link",
                   "Connection was killed", "connection failure", "Server shutdown", "Commands out of sync",
                   "not connected", "Driver not loaded", "Unable to connect" })
        ? Transient
        : Lasting;
}

bool refusesData(const QString& error)
{
    // SQLite names the constraint; MariaDB names the column and the value's fault. A fault of
    // the database as a whole quotes no value, so no stored text can make it read like these.
    static const QRegularExpression wrongValue(QStringLiteral("Incorrect \\w+ value"));
    return containsAny(error,
               { "constraint", "Duplicate entry", "foreign key", "cannot be null", "datatype mismatch",
                   "string or blob too big", "Data too long", "Out of range value", "Data truncated",
                   "Truncated incorrect" })
        || wrongValue.match(error).hasMatch();
}

bool namesAggregates(const QString& error)
{
    return containsAny(error, { "measure_hourly", "measure_daily", "measure_aggregates_state" });
}

} // namespace DatabaseFault
