#include "storage/registryedits.h"

#include <QSqlQuery>
#include <QStringList>

#include "storage/measureaggregates.h"
#include "storage/sqlquerybuilder.h"
#include "storage/sqlstatement.h"

namespace
{

const QStringList& editableSensorColumns()
{
    static const QStringList columns { QStringLiteral("name"), QStringLiteral("sleepInterval"),
        QStringLiteral("location"), QStringLiteral("datecheck"), QStringLiteral("isEnabled"),
        QStringLiteral("tMinNoncritical"), QStringLiteral("tMaxNoncritical"), QStringLiteral("tMinCritical"),
        QStringLiteral("tMaxCritical"), QStringLiteral("hMinNoncritical"), QStringLiteral("hMaxNoncritical"),
        QStringLiteral("hMinCritical"), QStringLiteral("hMaxCritical"), QStringLiteral("isLowBattery"),
        QStringLiteral("isLostConnection") };
    return columns;
}

// Text columns of the registry are NOT NULL or read back as '' elsewhere: an empty text is
// bound as '', never as NULL.
QVariant bound(const QVariant& value)
{
    if (value.type() == QVariant::String && value.toString().isNull())
        return QString(QLatin1String(""));
    return value;
}

bool run(QSqlDatabase& db, const QString& sql, QVariantList values, QString* error)
{
    for (QVariant& value : values)
        value = bound(value);
    return SqlStatement::run(db, sql, values, error);
}

bool writeSensorLocations(QSqlDatabase& db, const RegistryEdits::SensorLocations& sensors, QString* error)
{
    for (const auto& sensor : sensors) {
        if (!run(db, QStringLiteral("UPDATE sensors SET location=? WHERE EUI64=?"), { sensor.second, sensor.first },
                error))
            return false;
    }
    return true;
}

} // namespace

namespace RegistryEdits
{

bool ensureTables(QSqlDatabase& db, int type, QString* error)
{
    QSqlQuery exists(db);
    const char* const probe = type == SqlQueryBuilder::SQLite
        ? "SELECT COUNT(*) FROM sqlite_master WHERE type='table' AND name='removed'"
        : type == SqlQueryBuilder::MySQL ? "SELECT COUNT(*) FROM information_schema.tables WHERE "
                                           "table_schema=DATABASE() AND table_name='removed'"
                                         : "SELECT COUNT(*) FROM INFORMATION_SCHEMA.TABLES WHERE TABLE_NAME='removed'";
    if (!exists.exec(QLatin1String(probe)) || !exists.next())
        return SqlStatement::failed(exists, error);
    if (exists.value(0).toInt() > 0)
        return true;
    for (const QString& statement : SqlQueryBuilder::schemaStatements(type, false)) {
        if (statement.contains(QLatin1String("EXISTS removed ")))
            return run(db, statement, {}, error);
    }
    if (error)
        *error = QStringLiteral("no table \"removed\"");
    return false;
}

bool isEditableSensorColumn(const QString& column)
{
    return editableSensorColumns().contains(column);
}

DatabaseWriter::Job updateSensor(const QString& eui64, const QString& column, const QVariant& value)
{
    return [eui64, column, value](QSqlDatabase& db, int, QString* error) {
        if (!isEditableSensorColumn(column)) {
            if (error)
                *error = QStringLiteral("неизвестный столбец %1").arg(column);
            return false;
        }
        return run(db, QStringLiteral("UPDATE sensors SET %1=? WHERE EUI64=?").arg(column), { value, eui64 }, error);
    };
}

DatabaseWriter::Job insertLocation(int id, const QString& name)
{
    return [id, name](QSqlDatabase& db, int, QString* error) {
        return run(db, QStringLiteral("INSERT INTO locations (id, name, EUI64, ip) VALUES (?,?,?,?)"),
            { id, name, QString(), QString() }, error);
    };
}

DatabaseWriter::Job renameLocation(int id, const QString& name)
{
    return [id, name](QSqlDatabase& db, int, QString* error) {
        return run(db, QStringLiteral("UPDATE locations SET name=? WHERE id=?"), { name, id }, error);
    };
}

DatabaseWriter::Job removeSensor(const QString& eui64)
{
    return [eui64](QSqlDatabase& db, int type, QString* error) {
        QSqlQuery find(db);
        if (!SqlStatement::exec(find, QStringLiteral("SELECT id FROM sensors WHERE EUI64=?"), { eui64 }, error))
            return false;
        if (!find.next())
            return true;
        const qint64 id = find.value(0).toLongLong();
        find.finish();
        // The id of a removed sensor may be given to the next new one (SQLite reuses the
        // largest), so nothing of it may stay behind in "measure" or "last".
        return run(db,
                   QStringLiteral("INSERT INTO removed (EUI64, timemeasure, temperature, wetness, battery) "
                                  "SELECT ?, timemeasure, temperature, wetness, battery FROM measure "
                                  "WHERE sensor_id=? ORDER BY timemeasure, id"),
                   { eui64, id }, error)
            && run(db, QStringLiteral("DELETE FROM measure WHERE sensor_id=?"), { id }, error)
            && run(db, QStringLiteral("DELETE FROM last WHERE sensor_id=?"), { id }, error)
            && MeasureAggregates::removeSensor(db, type, id, error)
            && run(db, QStringLiteral("DELETE FROM sensors WHERE id=?"), { id }, error);
    };
}

DatabaseWriter::Job removeLocation(int id, const SensorLocations& sensors)
{
    return [id, sensors](QSqlDatabase& db, int type, QString* error) {
        // MySQL checks the key after every row: the rows must move down in id order.
        const QString order = type == SqlQueryBuilder::MySQL ? QStringLiteral(" ORDER BY id") : QString();
        // Rows that memory does not hold follow their location too.
        return run(db, QStringLiteral("DELETE FROM locations WHERE id=?"), { id }, error)
            && run(db, QStringLiteral("UPDATE locations SET id=id-1 WHERE id>?") + order, { id }, error)
            && run(db, QStringLiteral("UPDATE sensors SET location=0 WHERE location=?"), { id }, error)
            && run(db, QStringLiteral("UPDATE sensors SET location=location-1 WHERE location>?"), { id }, error)
            && writeSensorLocations(db, sensors, error);
    };
}

DatabaseWriter::Job rewriteLocations(int first, const QVector<LocationRow>& rows, const SensorLocations& sensors)
{
    return [first, rows, sensors](QSqlDatabase& db, int, QString* error) {
        if (!run(db, QStringLiteral("DELETE FROM locations WHERE id>=?"), { first }, error))
            return false;
        for (int i = 0; i < rows.size(); ++i) {
            if (!run(db, QStringLiteral("INSERT INTO locations (id, name, EUI64, ip) VALUES (?,?,?,?)"),
                    { first + i, rows[i].name, rows[i].eui64, rows[i].ip }, error))
                return false;
        }
        return writeSensorLocations(db, sensors, error);
    };
}

} // namespace RegistryEdits
