#pragma once

#include <QMutex>
#include <QString>

#include <atomic>

class QSqlDatabase;
class QSqlQuery;

// A database connection owned by one loading thread: a copy of the program's default
// connection settings, opened in that thread on first use and closed there before it ends.
// Queries on it are finished before the rows are handed over, so no reader stays open between
// loads and SQLite's WAL checkpoints can always catch up.
//
// A year of measurements can take the database half a minute; the program must not wait for
// that when it closes. stop() ends the load under way from any thread and keeps any other from
// starting.
class ThreadConnection
{
public:
    explicit ThreadConnection(const void* owner);
    ThreadConnection(const ThreadConnection&) = delete;
    ThreadConnection& operator=(const ThreadConnection&) = delete;

    // The open connection; on failure an invalid or closed one, with the reason in `error`.
    QSqlDatabase open(QString* error);
    void close();

    // From any thread, for good: the statement under way ends at once with an error (SQLite)
    // or is cancelled at the server (ODBC), and none starts after it.
    void stop();
    bool stopped() const { return m_stopped; }

    // Runs a query prepared on this connection; stop() ends it meanwhile. False when it failed
    // or the connection was stopped, with the reason in `error`.
    bool exec(QSqlQuery& query, QString* error);
    // After the last next(): false when reading the rows failed or was stopped, and the rows
    // read are then not all there are.
    bool complete(const QSqlQuery& query, QString* error) const;

    // The error text of a stopped load.
    static QString stoppedText();

private:
    QString name;
    std::atomic<bool> m_stopped { false };
    // Ends the MySQL statement under way at the server, from a connection of its own.
    void killQuery();

    // Guards the ODBC statement under way against being freed while stop() cancels it.
    QMutex mutex;
    void* statement = nullptr;
    // MySQL: the server's number for this connection, by which another connection ends its
    // statement; 0 elsewhere.
    qint64 serverThread = 0;
};
