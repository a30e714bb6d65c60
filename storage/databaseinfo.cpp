#include "storage/databaseinfo.h"

#include <QSqlDatabase>
#include <QSqlQuery>
#include <QVariant>

DatabaseInfo::DatabaseInfo(QObject* parent)
    : QObject(parent)
    , connection(this)
{
}

void DatabaseInfo::count()
{
    emit counted(measureCount());
}

QString DatabaseInfo::measureCount()
{
    QString error;
    QSqlDatabase db = connection.open(&error);
    if (!db.isOpen())
        return QString();
    QSqlQuery query(db);
    // Prepared first, so that an ODBC statement exists for stop() to cancel.
    if (query.prepare(QStringLiteral("SELECT count(id) FROM measure")) && connection.exec(query, &error)
        && query.next())
        return query.value(0).toString();
    return QString();
}

void DatabaseInfo::stop()
{
    connection.stop();
}

void DatabaseInfo::close()
{
    connection.close();
}
