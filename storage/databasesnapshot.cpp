#include "storage/databasesnapshot.h"

#include <QSqlDatabase>
#include <QSqlError>

#include <atomic>

#include "storage/sqlstatement.h"

namespace
{

// The writer's transactions are short; a reader waits this long for a lock (WAL recovery).
constexpr int kBusyMs = 5000;

} // namespace

QString DatabaseSnapshot::copy(const QString& source, const QString& target)
{
    static std::atomic<int> serial { 0 };
    const QString name = QStringLiteral("ostrivel-snapshot-%1").arg(++serial);
    QString error;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        db.setDatabaseName(source);
        db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=%1").arg(kBusyMs));
        if (!db.open()) {
            error = db.lastError().text();
        } else {
            SqlStatement::run(db, QStringLiteral("VACUUM INTO ?"), { target }, &error);
        }
        db.close();
    }
    QSqlDatabase::removeDatabase(name);
    return error.isEmpty() ? QString() : QStringLiteral("Не удалось скопировать базу данных %1: %2").arg(source, error);
}
