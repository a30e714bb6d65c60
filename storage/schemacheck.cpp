#include "storage/schemacheck.h"

#include <QCoreApplication>
#include <QMap>
#include <QSqlDatabase>
#include <QSqlField>
#include <QSqlQuery>
#include <QSqlRecord>

#include "storage/sqlquerybuilder.h"

namespace SchemaCheck
{

namespace
{

struct Table {
    const char* name;
    QStringList columns;
};

// Every column some statement of the program names: the intake, the registry load and its
// writes, the sensors dialog, the tables, the graph, the reports and the DBF export.
const QVector<Table>& tables()
{
    static const QVector<Table> all {
        { "locations", { "id", "name", "EUI64", "ip" } },
        { "sensors",
            { "id", "EUI64", "name", "location", "datecheck", "sleepInterval", "tMinNoncritical", "tMaxNoncritical",
                "tMinCritical", "tMaxCritical", "hMinNoncritical", "hMaxNoncritical", "hMinCritical", "hMaxCritical",
                "isLowBattery", "isLostConnection", "isEnabled" } },
        { "measure", { "id", "sensor_id", "timemeasure", "temperature", "wetness", "battery" } },
        { "last", { "sensor_id", "timemeasure", "temperature", "wetness", "battery" } },
        { "removed", { "id", "EUI64", "timemeasure", "temperature", "wetness", "battery" } },
    };
    return all;
}

// Tables made beside the others that an older database may lack: the summaries' and the
// writer's sequence.
const QVector<Table>& aggregateTables()
{
    static const QStringList bucket { "sensor_id", "bucket", "n", "tc", "ts", "tmin", "tmax", "wc", "ws", "wmin",
        "wmax" };
    static const QVector<Table> all {
        { "measure_hourly", bucket },
        { "measure_daily", bucket },
        { "measure_aggregates_state", { "built" } },
        { "write_sequence", { "id", "seq" } },
    };
    return all;
}

const Table* findTable(const QString& name)
{
    for (const QVector<Table>* list : { &tables(), &aggregateTables() }) {
        for (const Table& table : *list) {
            if (name.compare(QLatin1String(table.name), Qt::CaseInsensitive) == 0)
                return &table;
        }
    }
    return nullptr;
}

QString tr(const char* text)
{
    return QCoreApplication::translate("SQLBaseModule", text);
}

// The first column of the table the database lacks, said for the user.
QString missingColumnOf(const QSqlRecord& record, const Table& table)
{
    for (const QString& column : table.columns) {
        if (!record.contains(column))
            return tr("В таблице \"%1\" нет столбца \"%2\".").arg(QLatin1String(table.name), column);
    }
    return QString();
}

} // namespace

QString foreignTable(const QSqlDatabase& db, int type)
{
    // Table name to its columns. Through ODBC the driver's own catalogue functions see every
    // database of the server; the database's information schema sees this one only.
    QMap<QString, QSqlRecord> found;
    if (type == SqlQueryBuilder::SQLite) {
        for (const QString& name : db.tables(QSql::Tables)) {
            if (!name.startsWith(QLatin1String("sqlite_"), Qt::CaseInsensitive)) // SQLite's own
                found.insert(name, db.record(name));
        }
    } else {
        QSqlQuery query(db);
        query.setForwardOnly(true);
        query.exec(QStringLiteral("SELECT c.table_name, c.column_name FROM information_schema.columns c "
                                  "JOIN information_schema.tables t ON t.table_schema=c.table_schema "
                                  "AND t.table_name=c.table_name WHERE t.table_type='BASE TABLE' AND %1")
                       .arg(QLatin1String(type == SqlQueryBuilder::MySQL ? "c.table_schema=DATABASE()"
                                                                         : "c.table_catalog=DB_NAME()")));
        while (query.next())
            found[query.value(0).toString()].append(QSqlField(query.value(1).toString()));
    }
    for (auto it = found.cbegin(); it != found.cend(); ++it) {
        const Table* table = findTable(it.key());
        if (!table)
            return tr("В базе данных есть таблица \"%1\", которой нет среди таблиц программы: "
                      "это база данных другой программы.")
                .arg(it.key());
        const QString missing = missingColumnOf(it.value(), *table);
        if (!missing.isEmpty())
            return missing;
    }
    return QString();
}

QString missingColumn(const QSqlDatabase& db)
{
    for (const Table& table : tables()) {
        const QString name = QString::fromLatin1(table.name);
        // The drivers compare column names without regard to case, as the databases do.
        const QSqlRecord record = db.record(name);
        if (record.isEmpty())
            return tr("В базе данных нет таблицы \"%1\".").arg(name);
        const QString missing = missingColumnOf(record, table);
        if (!missing.isEmpty())
            return missing;
    }
    return QString();
}

QString place(int type, const QString& host, const QString& database, int port)
{
    if (type == SqlQueryBuilder::MySQL || type == SqlQueryBuilder::SQLServer)
        return tr("База данных \"%1\" на сервере %2, порт %3").arg(database, host).arg(port);
    return tr("База данных %1").arg(SqlQueryBuilder::sqliteFileName());
}

} // namespace SchemaCheck
