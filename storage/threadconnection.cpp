#include "storage/threadconnection.h"

#include <QMutexLocker>
#include <QSqlDatabase>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlResult>

#include <sql.h>
#include <sqlite3.h>

namespace
{

// SQLite asks this every thousand steps of a statement; non-zero ends the statement with
// SQLITE_INTERRUPT. Unlike sqlite3_interrupt(), which a statement starting just after it clears
// again, a stop can never fall between two statements.
int stopRequested(void* connection)
{
    return static_cast<const ThreadConnection*>(connection)->stopped() ? 1 : 0;
}

template <typename Handle> Handle handleOf(const QVariant& value, const char* typeName)
{
    if (!value.isValid() || qstrcmp(value.typeName(), typeName) != 0)
        return nullptr;
    return *static_cast<const Handle*>(value.data());
}

} // namespace

ThreadConnection::ThreadConnection(const void* owner)
    : name(QStringLiteral("loader-%1").arg(quintptr(owner), 0, 16))
{
}

QSqlDatabase ThreadConnection::open(QString* error)
{
    if (m_stopped) {
        *error = stoppedText();
        return QSqlDatabase();
    }
    QSqlDatabase db = QSqlDatabase::database(name, false);
    if (!db.isValid())
        db = QSqlDatabase::cloneDatabase(QLatin1String(QSqlDatabase::defaultConnection), name);
    if (!db.isOpen()) {
        if (!db.open()) {
            *error = db.lastError().text();
            return db;
        }
        if (auto* sqlite = handleOf<sqlite3*>(db.driver()->handle(), "sqlite3*"))
            sqlite3_progress_handler(sqlite, 1000, &stopRequested, this);
    }
    return db;
}

void ThreadConnection::close()
{
    if (!QSqlDatabase::contains(name))
        return;
    QSqlDatabase::database(name, false).close();
    QSqlDatabase::removeDatabase(name);
}

void ThreadConnection::stop()
{
    QMutexLocker lock(&mutex);
    m_stopped = true;
    // ODBC's way to end a statement that another thread executes.
    if (statement && !SQL_SUCCEEDED(SQLCancel(statement)))
        qWarning("The database did not take the cancel of a load: the close waits for it");
}

QString ThreadConnection::stoppedText()
{
    return QStringLiteral("stopped: the program is closing");
}

bool ThreadConnection::exec(QSqlQuery& query, QString* error)
{
    {
        QMutexLocker lock(&mutex);
        if (m_stopped) {
            *error = stoppedText();
            return false;
        }
        // QODBC allocates its statement when it prepares the query. Only the execution is
        // cancelled: the rows are then with the driver, and the reading loop checks stopped().
        // QODBC hands the statement over as "void*" (older versions: "SQLHANDLE").
        if (const QSqlResult* result = query.result()) {
            statement = handleOf<SQLHANDLE>(result->handle(), "void*");
            if (!statement)
                statement = handleOf<SQLHANDLE>(result->handle(), "SQLHANDLE");
        }
    }
    const bool ran = query.exec();
    {
        QMutexLocker lock(&mutex);
        statement = nullptr;
    }
    if (!ran) {
        *error = m_stopped ? stoppedText() : query.lastError().text();
        return false;
    }
    return complete(query, error);
}

bool ThreadConnection::complete(const QSqlQuery& query, QString* error) const
{
    // A cancelled statement may also end without an error (MariaDB's SLEEP() just returns).
    if (m_stopped) {
        *error = stoppedText();
        return false;
    }
    if (query.lastError().isValid()) {
        *error = query.lastError().text();
        return false;
    }
    return true;
}
