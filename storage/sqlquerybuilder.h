#pragma once

#include <QString>
#include <QStringList>

// SQL text of the storage module for each database type (0 SQLite file, 1 MySQL, 2 SQL Server).
// Nothing here touches a connection; every value that comes from outside is a "?" placeholder
// bound by the caller, in the order given with each statement.
class SqlQueryBuilder
{
public:
    enum Type { SQLite = 0, MySQL = 1, SQLServer = 2 };

    // The SQLite file, relative to the working directory.
    static QString sqliteFileName();
    // The database name handed to the connection: the SQLite file for type 0, the ODBC
    // connection string for types 1 and 2.
    static QString databaseName(
        int type, const QString& host, const QString& user, const QString& password, const QString& database, int port);
    // A value of an ODBC connection string: braced (with "}" doubled) when it would otherwise
    // end its entry or open a braced one.
    static QString odbcValue(const QString& value);

    // Statements run when the tables may be missing, in order; SQL Server gets none.
    // The location-0 row is added only when `withLocationRow` is set.
    static QStringList schemaStatements(int type, bool withLocationRow);
    static QString sensorsTableStatement(int type);
    // The writer's sequence: one row per running program (its id chosen at start; older
    // programs kept theirs in row 1) whose number each of its transactions raises, so that
    // after a COMMIT whose reply was lost the writer can read whether it took effect, and a
    // copy of the file tells how much of what it wrote it holds. Read and start bind the id;
    // update binds the new number, then the id.
    static QString writeSequenceRead(int type);
    static QString writeSequenceStart();
    static QString writeSequenceUpdate();
    // The connection string with the driver's own silent reconnect turned off: a connection
    // that the writer did not open afresh would lose its session settings and statements.
    static QString withoutAutoReconnect(const QString& connectionString);
    // Indexes on measure that keep the time-window queries and the purge off a full scan.
    static QStringList sqliteIndexStatements();
    // The sensor and time index of "measure" as it is created now, and how many columns the
    // stored one has: files made before hold it on (sensor_id, timemeasure) alone.
    static QString sqliteSensorTimeIndex();
    static QString sqliteSensorTimeIndexColumns();
    static QStringList mysqlIndexNames();
    static QString mysqlIndexStatement(const QString& name);
    // One row with the count of a named index on measure (bind: the index name).
    static QString mysqlIndexExists();
    // One row with the count of an auto-increment removed.id; the mend when it is 0.
    static QString mysqlRemovedIdAutoIncrement();
    static QString mysqlRemovedIdMend();

    // Whether old measurements are purged on this database type (not on SQL Server).
    static bool purgeSupported(int type);

    // The writer's statements, with the sensor's row id resolved beforehand.
    // Bind: EUI64 in any letter case, for each "?"; the id, that of the row spelt so first.
    static QString sensorIdLookup(int type);
    // The condition on a sensor's EUI64 that matches it in any letter case (bind: EUI64).
    static QString eui64Matches(int type);
    // Bind per row: sensor_id, timemeasure, temperature, wetness, battery.
    static QString measureRowsInsert(int rows);
    // Inserts or replaces the sensor's last row.
    // Bind: sensor_id, timemeasure, temperature, wetness, battery.
    static QString lastUpsertById(int type);
    // One row with the smallest timemeasure (NULL on an empty table).
    static QString oldestMeasurement();
    // Bind: from, to; one row with the smallest timemeasure in [from, to) (NULL if none).
    static QString purgeNextTime();
    // Bind: from, to; one row per sensor with rows in [from, to): sensor_id and their count,
    // in sensor_id order.
    static QString purgeSensorRows();
    // Bind: the `sensors` sensor ids, from, to; deletes their rows with from <= timemeasure < to.
    static QString purgeSensorsDelete(int sensors);
    // " IN (?,?,...)" with n placeholders, n at least 1.
    static QString inList(int n);

    static QString sensorLoadStatement();
    static QString locationLoadStatement();
    static QString locationCleanupStatement(int type);
    // The rows of the DBF export in time order; empty for SQL Server.
    static QString exportStatement(int type);
};
