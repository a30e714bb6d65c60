#include "storage/databaseinfo.h"

#include <QSqlDatabase>
#include <QSqlQuery>
#include <QVariant>

DatabaseInfo::DatabaseInfo(const void* owner)
    : connection(owner)
{
}

QString DatabaseInfo::measureCount()
{
    QString error;
    QSqlDatabase db = connection.open(&error);
    if (!db.isOpen())
        return QString();
    QSqlQuery count(db);
    // Prepared first, so that an ODBC statement exists for stop() to cancel.
    if (count.prepare(QStringLiteral("SELECT count(id) FROM measure")) && connection.exec(count, &error)
        && count.next())
        return count.value(0).toString();
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
