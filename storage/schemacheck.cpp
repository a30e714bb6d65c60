#include "storage/schemacheck.h"

#include <QCoreApplication>
#include <QSqlDatabase>
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

QString tr(const char* text)
{
    return QCoreApplication::translate("SQLBaseModule", text);
}

} // namespace

QString missingColumn(const QSqlDatabase& db)
{
    for (const Table& table : tables()) {
        const QString name = QString::fromLatin1(table.name);
        // The drivers compare column names without regard to case, as the databases do.
        const QSqlRecord record = db.record(name);
        if (record.isEmpty())
            return tr("В базе данных нет таблицы \"%1\".").arg(name);
        for (const QString& column : table.columns) {
            if (!record.contains(column))
                return tr("В таблице \"%1\" нет столбца \"%2\".").arg(name, column);
        }
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
