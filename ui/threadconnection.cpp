#include "ui/threadconnection.h"

#include <QSqlError>

ThreadConnection::ThreadConnection(const void* owner)
    : name(QStringLiteral("loader-%1").arg(quintptr(owner), 0, 16))
{
}

QSqlDatabase ThreadConnection::open(QString* error)
{
    QSqlDatabase db = QSqlDatabase::database(name, false);
    if (!db.isValid())
        db = QSqlDatabase::cloneDatabase(QLatin1String(QSqlDatabase::defaultConnection), name);
    if (!db.isOpen() && !db.open())
        *error = db.lastError().text();
    return db;
}

void ThreadConnection::close()
{
    if (!QSqlDatabase::contains(name))
        return;
    QSqlDatabase::database(name, false).close();
    QSqlDatabase::removeDatabase(name);
}
