#include "storage/sqlquerybuilder.h"

namespace
{

QString blanks(int n)
{
    return QString(n, QLatin1Char(' '));
}

// The program creates its MySQL tables in utf8mb4 so that room and sensor names in any
// script survive, whatever the server's default character set is.
const char* const kMySqlCharset = " DEFAULT CHARSET=utf8mb4";

} // namespace

QString SqlQueryBuilder::sqliteFileName()
{
    return QStringLiteral("data/measurement.db3");
}

QString SqlQueryBuilder::odbcValue(const QString& value)
{
    if (!value.contains(QLatin1Char(';')) && !value.contains(QLatin1Char('{')) && !value.contains(QLatin1Char('}')))
        return value;
    QString escaped = value;
    escaped.replace(QLatin1String("}"), QLatin1String("}}"));
    return QLatin1Char('{') + escaped + QLatin1Char('}');
}

QString SqlQueryBuilder::databaseName(
    int type, const QString& host, const QString& user, const QString& password, const QString& database, int port)
{
    QString pattern;
    if (type == MySQL)
        pattern = QStringLiteral("DRIVER={MySQL ODBC 5.3 Unicode Driver};Server=%1;PORT=%2;USER=%3;PASSWORD=%4;"
                                 "Database=%5;AUTO_RECONNECT=1");
    else if (type == SQLServer)
        pattern = QStringLiteral("DRIVER={SQL Server};Server=%1;PORT=%2;UID=%3;PWD=%4;DATABASE=%5;"
                                 "Trusted_Connection=yes;");
    else
        return sqliteFileName();
    // The multi-argument arg() substitutes all markers in one pass, so a "%3" inside a
    // password stays as typed.
    return pattern.arg(
        odbcValue(host), QString::number(port), odbcValue(user), odbcValue(password), odbcValue(database));
}

QString SqlQueryBuilder::sensorsTableStatement(int type)
{
    const bool sqlite = type != MySQL;
    const QStringList entries = sqlite
        ? QStringList { QStringLiteral("id INTEGER PRIMARY KEY,"), QStringLiteral("EUI64 text NOT NULL,"),
              QStringLiteral("name text NOT NULL,"), QStringLiteral("location integer DEFAULT NULL,"),
              QStringLiteral("datecheck NOT NULL ,"), QStringLiteral("sleepInterval DEFAULT 60,"),
              QStringLiteral("tMinNoncritical REAL DEFAULT 5,"), QStringLiteral("tMaxNoncritical REAL DEFAULT 5,"),
              QStringLiteral("tMinCritical REAL DEFAULT 5,"), QStringLiteral("tMaxCritical REAL DEFAULT 30,"),
              QStringLiteral("hMinNoncritical REAL DEFAULT 30,"), QStringLiteral("hMaxNoncritical REAL DEFAULT 30,"),
              QStringLiteral("hMinCritical REAL DEFAULT 30,"), QStringLiteral("hMaxCritical REAL DEFAULT 99,"),
              QStringLiteral("isLowBattery integer DEFAULT 0,"), QStringLiteral("isLostConnection integer DEFAULT 0,"),
              QStringLiteral("isEnabled integer DEFAULT 0,"),
              QStringLiteral("unique(EUI64), check(length(EUI64)=16));") }
        : QStringList { QStringLiteral("id INTEGER PRIMARY KEY AUTO_INCREMENT,"),
              QStringLiteral("EUI64 VARCHAR(16) NOT NULL,"), QStringLiteral("name text NOT NULL,"),
              QStringLiteral("location integer DEFAULT NULL,"), QStringLiteral("datecheck DATE NOT NULL,"),
              QStringLiteral("sleepInterval integer DEFAULT 60,"), QStringLiteral("tMinNoncritical real DEFAULT 5,"),
              QStringLiteral("tMaxNoncritical real DEFAULT 5,"), QStringLiteral("tMinCritical real DEFAULT 5,"),
              QStringLiteral("tMaxCritical real DEFAULT 30,"), QStringLiteral("hMinNoncritical real DEFAULT 30,"),
              QStringLiteral("hMaxNoncritical real DEFAULT 30,"), QStringLiteral("hMinCritical real DEFAULT 30,"),
              QStringLiteral("hMaxCritical real DEFAULT 99,"), QStringLiteral("isLowBattery integer DEFAULT 0,"),
              QStringLiteral("isLostConnection integer DEFAULT 0,"), QStringLiteral("isEnabled integer DEFAULT 0,"),
              QStringLiteral("UNIQUE (EUI64))") + QLatin1String(kMySqlCharset) + QLatin1Char(';') };
    return QStringLiteral("CREATE TABLE IF NOT EXISTS sensors (") + blanks(sqlite ? 23 : 21)
        + entries.join(blanks(sqlite ? 24 : 22));
}

QStringList SqlQueryBuilder::schemaStatements(int type, bool withLocationRow)
{
    QStringList statements;
    const QString charset = QLatin1String(kMySqlCharset);
    if (type == SQLite) {
        statements << QStringLiteral("CREATE TABLE IF NOT EXISTS locations (id INTEGER PRIMARY KEY, name text, "
                                     "EUI64 text NOT NULL, ip text)")
                   << sensorsTableStatement(type)
                   << QStringLiteral("CREATE TABLE IF NOT EXISTS measure (id INTEGER PRIMARY KEY, sensor_id integer "
                                     "references sensors(id) on delete cascade NOT NULL, timemeasure integer NOT "
                                     "NULL, temperature real, wetness real, battery real);")
                   << QStringLiteral("CREATE TABLE IF NOT EXISTS last (sensor_id INTEGER PRIMARY KEY references "
                                     "sensors(id) on delete cascade, timemeasure integer NOT NULL, temperature real, "
                                     "wetness real, battery real);")
                   << QStringLiteral("CREATE TABLE IF NOT EXISTS removed (id INTEGER PRIMARY KEY, EUI64 text NOT "
                                     "NULL, timemeasure integer not NULL, temperature REAL, wetness real, battery "
                                     "real); ")
                   << QStringLiteral("CREATE TABLE IF NOT EXISTS write_sequence (id INTEGER PRIMARY KEY, "
                                     "seq INTEGER NOT NULL)");
    } else if (type == MySQL) {
        // Each MySQL table text keeps its own ending (";", "; " or nothing) after the options.
        auto withCharset = [&](const QString& table, const QString& ending) { return table + charset + ending; };
        statements << withCharset(QStringLiteral("CREATE TABLE IF NOT EXISTS locations (id INTEGER PRIMARY KEY, "
                                                 "name text, EUI64 text, ip text)"),
            QString());
        statements << sensorsTableStatement(type);
        statements << withCharset(QStringLiteral("CREATE TABLE IF NOT EXISTS measure (id INTEGER PRIMARY KEY "
                                                 "AUTO_INCREMENT, sensor_id INTEGER NOT NULL references sensors(id) "
                                                 "on delete cascade, timemeasure INTEGER NOT NULL, temperature REAL, "
                                                 "wetness REAL, battery REAL)"),
            QStringLiteral(";"));
        statements << withCharset(QStringLiteral("CREATE TABLE IF NOT EXISTS last (sensor_id INTEGER PRIMARY KEY "
                                                 "references sensors(id) on delete cascade, timemeasure integer NOT "
                                                 "NULL, temperature real, wetness real, battery real)"),
            QStringLiteral(";"));
        statements << withCharset(QStringLiteral("CREATE TABLE IF NOT EXISTS removed (id INTEGER PRIMARY KEY "
                                                 "AUTO_INCREMENT, EUI64 VARCHAR(16) NOT NULL, timemeasure integer not "
                                                 "NULL, temperature REAL, wetness real, battery real)"),
            QStringLiteral("; "));
        statements << withCharset(QStringLiteral("CREATE TABLE IF NOT EXISTS write_sequence (id INTEGER PRIMARY KEY, "
                                                 "seq BIGINT NOT NULL)"),
            QString());
    } else {
        return statements;
    }
    if (withLocationRow)
        statements << QStringLiteral("INSERT INTO locations VALUES(\"0\",'Новые датчики','','')");
    return statements;
}

QString SqlQueryBuilder::writeSequenceRead(int type)
{
    // On MySQL the read waits for the row lock of a transaction still being committed by a
    // connection that was lost, so it never sees the value from before that COMMIT.
    return type == MySQL ? QStringLiteral("SELECT seq FROM write_sequence WHERE id=? FOR UPDATE")
                         : QStringLiteral("SELECT seq FROM write_sequence WHERE id=?");
}

QString SqlQueryBuilder::writeSequenceStart()
{
    return QStringLiteral("INSERT INTO write_sequence (id, seq) VALUES (?, 0)");
}

QString SqlQueryBuilder::writeSequenceUpdate()
{
    return QStringLiteral("UPDATE write_sequence SET seq=? WHERE id=?");
}

QString SqlQueryBuilder::withoutAutoReconnect(const QString& connectionString)
{
    QString text = connectionString;
    return text.replace(QLatin1String("AUTO_RECONNECT=1"), QLatin1String("AUTO_RECONNECT=0"));
}

QStringList SqlQueryBuilder::sqliteIndexStatements()
{
    return { sqliteSensorTimeIndex(),
        QStringLiteral("CREATE INDEX IF NOT EXISTS measure_time ON measure (timemeasure)"),
        // The measurement table walks the sensors by name and stops at its row limit.
        QStringLiteral("CREATE INDEX IF NOT EXISTS sensors_name ON sensors (name)"),
        // One sensor, one row, whatever the case of its address, as MySQL's key has it. A file
        // that already holds one address in two cases keeps both rows and goes without it.
        QStringLiteral("CREATE UNIQUE INDEX IF NOT EXISTS sensors_eui64 ON sensors (EUI64 COLLATE NOCASE)") };
}

QString SqlQueryBuilder::sqliteSensorTimeIndex()
{
    // The graph reads a sensor's period from the index alone, in the order it is kept (time,
    // then id), instead of looking each row up in the table; the tables and the purge use
    // its first two columns.
    return QStringLiteral("CREATE INDEX IF NOT EXISTS measure_sensor_time ON measure "
                          "(sensor_id, timemeasure, id, temperature, wetness)");
}

QString SqlQueryBuilder::sqliteSensorTimeIndexColumns()
{
    return QStringLiteral("SELECT COUNT(*) FROM pragma_index_info('measure_sensor_time')");
}

QStringList SqlQueryBuilder::mysqlIndexNames()
{
    return { QStringLiteral("measure_sensor_time"), QStringLiteral("measure_time") };
}

QString SqlQueryBuilder::mysqlIndexStatement(const QString& name)
{
    // MySQL itself has no CREATE INDEX IF NOT EXISTS; the caller asks mysqlIndexExists first.
    if (name == QLatin1String("measure_sensor_time"))
        return QStringLiteral("CREATE INDEX measure_sensor_time ON measure (sensor_id, timemeasure)");
    if (name == QLatin1String("measure_time"))
        return QStringLiteral("CREATE INDEX measure_time ON measure (timemeasure)");
    return QString();
}

QString SqlQueryBuilder::mysqlIndexExists()
{
    return QStringLiteral("SELECT COUNT(*) FROM information_schema.statistics WHERE table_schema=DATABASE() "
                          "AND table_name='measure' AND index_name=?");
}

QString SqlQueryBuilder::mysqlRemovedIdAutoIncrement()
{
    return QStringLiteral("SELECT COUNT(*) FROM information_schema.columns WHERE table_schema=DATABASE() "
                          "AND table_name='removed' AND column_name='id' AND extra LIKE '%auto_increment%'");
}

QString SqlQueryBuilder::mysqlRemovedIdMend()
{
    return QStringLiteral("ALTER TABLE removed MODIFY id INTEGER NOT NULL AUTO_INCREMENT");
}

bool SqlQueryBuilder::purgeSupported(int type)
{
    return type != SQLServer;
}

QString SqlQueryBuilder::sensorIdLookup(int type)
{
    // A file written before an address was one sensor in any case may hold it in two rows; the
    // registry took the one spelt as the address comes here.
    return QStringLiteral("SELECT id FROM sensors WHERE ") + eui64Matches(type)
        + (type == SQLite ? QStringLiteral(" ORDER BY EUI64<>?") : QString());
}

QString SqlQueryBuilder::eui64Matches(int type)
{
    // MySQL and SQL Server compare the column in its case-insensitive collation, and keep its
    // key that way; SQLite is told, and finds the row through sensors_eui64.
    return type == SQLite ? QStringLiteral("EUI64=? COLLATE NOCASE") : QStringLiteral("EUI64=?");
}

QString SqlQueryBuilder::measureRowsInsert(int rows)
{
    QString statement
        = QStringLiteral("INSERT INTO measure (sensor_id, timemeasure, temperature, wetness, battery) VALUES ");
    for (int i = 0; i < rows; ++i)
        statement += i ? QLatin1String(",(?,?,?,?,?)") : QLatin1String("(?,?,?,?,?)");
    return statement;
}

QString SqlQueryBuilder::lastUpsertById(int type)
{
    switch (type) {
    case MySQL:
        return QStringLiteral(
            "REPLACE INTO last (sensor_id, timemeasure, temperature, wetness, battery) VALUES (?,?,?,?,?)");
    case SQLServer:
        return QStringLiteral("MERGE INTO last AS t USING (SELECT ? AS sensor_id, ? AS timemeasure, ? AS temperature, "
                              "? AS wetness, ? AS battery) AS s ON t.sensor_id=s.sensor_id WHEN MATCHED THEN UPDATE "
                              "SET timemeasure=s.timemeasure, temperature=s.temperature, wetness=s.wetness, "
                              "battery=s.battery WHEN NOT MATCHED THEN INSERT (sensor_id, timemeasure, temperature, "
                              "wetness, battery) VALUES (s.sensor_id, s.timemeasure, s.temperature, s.wetness, "
                              "s.battery);");
    default:
        return QStringLiteral(
            "INSERT OR REPLACE INTO last (sensor_id, timemeasure, temperature, wetness, battery) VALUES (?,?,?,?,?)");
    }
}

QString SqlQueryBuilder::oldestMeasurement()
{
    return QStringLiteral("SELECT MIN(timemeasure) FROM measure");
}

QString SqlQueryBuilder::purgeNextTime()
{
    return QStringLiteral("SELECT MIN(timemeasure) FROM measure WHERE timemeasure >= ? AND timemeasure < ?");
}

QString SqlQueryBuilder::purgeSensorRows()
{
    return QStringLiteral("SELECT sensor_id, COUNT(*) FROM measure WHERE timemeasure >= ? AND timemeasure < ? "
                          "GROUP BY sensor_id ORDER BY sensor_id");
}

QString SqlQueryBuilder::purgeSensorsDelete(int sensors)
{
    // Named by sensor, so that the index on (sensor_id, timemeasure) finds each sensor's rows
    // of the range directly, however many rows of other sensors the range holds.
    return QStringLiteral("DELETE FROM measure WHERE sensor_id") + inList(sensors)
        + QStringLiteral(" AND timemeasure >= ? AND timemeasure < ?");
}

QString SqlQueryBuilder::inList(int n)
{
    QString list = QStringLiteral(" IN (");
    for (int i = 0; i < n; ++i)
        list += i ? QLatin1String(",?") : QLatin1String("?");
    return list + QLatin1Char(')');
}

QString SqlQueryBuilder::sensorLoadStatement()
{
    const QStringList columns { QStringLiteral("name"), QStringLiteral("location"), QStringLiteral("datecheck"),
        QStringLiteral("sleepInterval"), QStringLiteral("tMinNoncritical"), QStringLiteral("tMaxNoncritical"),
        QStringLiteral("tMinCritical"), QStringLiteral("tMaxCritical"), QStringLiteral("hMinNoncritical"),
        QStringLiteral("hMaxNoncritical"), QStringLiteral("hMinCritical"), QStringLiteral("hMaxCritical"),
        QStringLiteral("isLowBattery"), QStringLiteral("isLostConnection"), QStringLiteral("isEnabled") };
    return QStringLiteral("SELECT EUI64,") + blanks(38) + columns.join(QLatin1Char(',') + blanks(38)) + blanks(33)
        + QStringLiteral("FROM sensors");
}

QString SqlQueryBuilder::locationLoadStatement()
{
    // A location's list position is its id, so the rows must come in id order; the id itself
    // tells which sensors point at no location.
    return QStringLiteral("SELECT name, EUI64, ip, id FROM locations ORDER BY id");
}

QString SqlQueryBuilder::locationCleanupStatement(int type)
{
    switch (type) {
    case SQLite:
        return QStringLiteral(
            "UPDATE OR IGNORE sensors SET location=NULL WHERE location NOT IN (SELECT id FROM locations)");
    case MySQL:
        return QStringLiteral(
            "UPDATE IGNORE sensors SET location=NULL WHERE location NOT IN (SELECT id FROM locations)");
    default:
        return QString();
    }
}

QString SqlQueryBuilder::exportStatement(int type)
{
    if (type != SQLite && type != MySQL)
        return QString();
    const bool mysql = type == MySQL;
    const QString text
        = QStringLiteral("SELECT eui64, name, locName, dateCheck, tmMeasure,temperature,humidity,battery") + blanks(19)
        + QStringLiteral("FROM") + blanks(19) + QStringLiteral("(SELECT sensors.EUI64 as eui64,") + blanks(27)
        + QStringLiteral("sensors.name,") + blanks(27) + QStringLiteral("locations.name as locName,") + blanks(27)
        + QStringLiteral("sensors.datecheck as dateCheck,") + blanks(27)
        + QStringLiteral("measure.timemeasure as tmMeasure,") + blanks(27) + QStringLiteral("measure.temperature,")
        + blanks(27) + QStringLiteral("measure.wetness as humidity,") + blanks(27) + QStringLiteral("measure.battery")
        + blanks(21)
        + (mysql ? QStringLiteral("FROM (sensors, locations, measure)")
                 : QStringLiteral("FROM sensors, locations, measure"))
        + blanks(21) + QStringLiteral("WHERE (") + blanks(29)
        + QStringLiteral("sensors.id = measure.sensor_id) AND (sensors.location=locations.id)") + blanks(29)
        + QStringLiteral("ORDER BY measure.timemeasure") + blanks(27)
        + (mysql ? QStringLiteral(") AS T1") : QStringLiteral(")"));
    // MariaDB drops the ORDER BY of a derived table, so the time order is asked for again
    // outside it.
    return mysql ? text + QStringLiteral(" ORDER BY tmMeasure") : text;
}
