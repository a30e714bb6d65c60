#pragma once

#include <QMutex>
#include <QString>
#include <QThread>
#include <QWaitCondition>

#include <atomic>

class QSqlDatabase;
class QSqlQuery;

// Checkpoints an SQLite WAL from a connection of its own, so that copying pages back into the
// database file never holds the writer: the writer's connection has automatic checkpoints
// switched off, and a PASSIVE checkpoint runs beside the writes without blocking them. When
// it got every frame, no reader holds an old snapshot, and a TRUNCATE that refuses to wait
// (busy time-out 0) resets the file to zero length; a reader that has just begun makes it
// give up quietly, and the next round tries again.
class WalCheckpointer : public QThread
{
public:
    // `truncateMs`, how often at most the WAL is truncated, is read at every round: the
    // writer may change it while the thread runs.
    WalCheckpointer(const QString& file, const std::atomic<int>& truncateMs);
    void stop();

    // How long a checkpoint that has not reset the WAL for two rounds waits for readers; the
    // writer is held that long.
    static constexpr int kTruncateWaitMs = 500;

protected:
    void run() override;

private:
    // True when the file was reset to zero length.
    static bool truncate(QSqlQuery& query, int waitMs);
    void loop(QSqlDatabase& db);

    QString file;
    const std::atomic<int>& truncateMs;
    QMutex mutex;
    QWaitCondition wake;
    bool stopping = false;
};
