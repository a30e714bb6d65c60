#include "storage/threadconnection.h"

#include <QMutexLocker>
#include <QSqlDatabase>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlResult>

#include <sql.h>
#include <sqlext.h>
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

// QODBC hands its handles over as "void*" (older versions: "SQLHANDLE").
SQLHANDLE odbcHandle(const QVariant& value)
{
    if (auto* handle = handleOf<SQLHANDLE>(value, "void*"))
        return handle;
    return handleOf<SQLHANDLE>(value, "SQLHANDLE");
}

// Whether an ODBC connection leads to MySQL or MariaDB, as the server names itself (Qt's
// QSqlDriver::dbmsType() does not know MariaDB's driver).
bool servedByMySql(const QSqlDatabase& db)
{
    SQLHANDLE connection = odbcHandle(db.driver()->handle());
    SQLCHAR dbms[64] = {};
    SQLSMALLINT length = 0;
    if (!connection || !SQL_SUCCEEDED(SQLGetInfo(connection, SQL_DBMS_NAME, dbms, sizeof dbms, &length)))
        return false;
    const QString name = QString::fromLatin1(reinterpret_cast<const char*>(dbms));
    return name.contains(QLatin1String("MySQL"), Qt::CaseInsensitive)
        || name.contains(QLatin1String("MariaDB"), Qt::CaseInsensitive);
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
        else if (servedByMySql(db)) {
            QSqlQuery id(db);
            const qint64 number = id.exec(QStringLiteral("SELECT CONNECTION_ID()")) && id.next() ? id.value(0).toLongLong() : 0;
            QMutexLocker lock(&mutex);
            serverThread = number;
        }
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
    if (!statement)
        return;
    // MariaDB's ODBC driver cancels a statement only while one of its calls runs on it; between
    // two calls (the execution done, the columns not yet described) it closes the statement's
    // results under the loading thread, which then reads freed memory. The server ends the
    // statement as well, without touching the driver's state here.
    if (serverThread) {
        killQuery();
        return;
    }
    // ODBC's way to end a statement that another thread executes.
    if (!SQL_SUCCEEDED(SQLCancel(statement)))
        qWarning("The database did not take the cancel of a load: the close waits for it");
}

void ThreadConnection::killQuery()
{
    // stop() holds the mutex meanwhile: one such connection per loader at a time.
    const QString killer = name + QStringLiteral("-stop");
    {
        QSqlDatabase db = QSqlDatabase::cloneDatabase(QLatin1String(QSqlDatabase::defaultConnection), killer);
        QString failure;
        if (!db.open())
            failure = db.lastError().text();
        else if (QSqlQuery kill(db); !kill.exec(QStringLiteral("KILL QUERY %1").arg(serverThread)))
            failure = kill.lastError().text();
        if (!failure.isEmpty())
            qWarning("The database did not take the stop of a load (%s): the close waits for it", qPrintable(failure));
    }
    QSqlDatabase::removeDatabase(killer);
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
        if (const QSqlResult* result = query.result())
            statement = odbcHandle(result->handle());
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
