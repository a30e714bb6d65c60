#pragma once

#include <QSqlDatabase>
#include <QString>

// A database connection owned by one loading thread: a copy of the program's default
// connection settings, opened in that thread on first use and closed there before it ends.
// Queries on it are finished before the rows are handed over, so no reader stays open between
// loads and SQLite's WAL checkpoints can always catch up.
class ThreadConnection
{
public:
    explicit ThreadConnection(const void* owner);

    // The open connection; on failure an invalid or closed one, with the reason in `error`.
    QSqlDatabase open(QString* error);
    void close();

private:
    QString name;
};
