#pragma once

#include <QObject>
#include <QSqlDatabase>
#include <QString>
#include <QTimer>

#include <functional>

#include "core/records.h"

// One measurement on its way to the database. The sensor is named by its EUI64 and resolved
// to its row only when the row is written, so a measurement always lands on the sensor that
// carries that address at that moment; the second it arrived is what is stored.
struct PendingMeasurement {
    QString eui64;
    SensorData data;
    qint64 arrivedAt = 0; // UTC seconds
};

// Every write of the program goes through this one ordered queue, served by a thread with a
// connection of its own, so nothing that writes ever waits for the database and the writes
// reach it in the order they were made: a measurement queued before a registry change
// (a sensor removed, locations renumbered) is written before that change, one queued after
// it is written after it.
class DatabaseWriter : public QObject
{
    Q_OBJECT
public:
    // A registry write. Runs in the writer's thread on its connection, inside a transaction
    // the writer opens, shared with the measurements and jobs queued around it (a new sensor
    // and its first reading cost one commit); returning false (with a text) rolls it back. A
    // job the database refuses for its own values then ends alone and the rest is written.
    using Job = std::function<bool(QSqlDatabase& db, int dbType, QString* error)>;
    // Told the outcome of a job, in the thread that queued it, once it is committed or has
    // failed. Called exactly once for every job that has one: a job the close did not write,
    // or queued after it, is told it failed (at once when the close runs in its thread).
    using Done = std::function<void(bool ok, const QString& error)>;

    explicit DatabaseWriter(QObject* parent = nullptr);
    ~DatabaseWriter() override;

    // Starts the thread on a connection cloned from the given one (opened there).
    void start(const QSqlDatabase& connectionToClone, int dbType);
    // Both return at once.
    void enqueue(const PendingMeasurement& measurement);
    void enqueueJob(Job job, Done done = {});

    // SQLite: what is at the database file's path compared with the file being written.
    enum class FileState { InPlace, Deleted, Replaced };

    // Measurements and jobs waiting, including a batch being written.
    int queueLength() const;
    // Measurements refused because the queue was full (see kQueueBound).
    qint64 refusedCount() const;
    // Measurements not stored because the database holds no row for their sensor: its
    // registration was refused (see jobRefused), or the row was removed behind the program.
    qint64 discardedCount() const;
    // The purge: measurements older than cutoff (UTC seconds) are deleted in slices between
    // the batches; a purge still running starts over with the new cutoff.
    void requestPurge(qint64 cutoff);
    // Whether a purge is asked for or under way.
    bool purging() const;

    // Measurements the queue holds at most: about forty minutes of 200 measurements a second
    // and some 80 MB. Beyond it a new measurement is refused, counted, logged and shown in the
    // status bar; registry jobs are never refused.
    static constexpr int kQueueBound = 500000;
    // Items (measurements and registry jobs) committed in one transaction at most.
    static constexpr int kBatchLimit = 2000;
    // Tests shrink the bound; set before the queue fills.
    void setQueueBound(int bound);
    // SQLite: how many committed items at most are kept to be written again into a copy of the
    // file put back (100000, and none older than five minutes); tests shrink it.
    void setCommittedKept(int items);
    // How often at most an SQLite WAL is truncated (10 s).
    void setCheckpointInterval(int ms);
    // The database's own text of the failure while writes fail; empty while it writes.
    QString faultReason() const;
    // Whether that failure is a lasting one (disk full, read-only, privilege, missing table),
    // retried slowly, rather than a lock or a lost connection.
    bool faultLasting() const;
    // Before start: the aggregate tables are missing or could not be built, so the writer's
    // connection stores measurements without them; or their older layout has no battery bounds.
    void setAggregatesKept(bool kept, bool battery = true);
    // At close: writes what is queued, waiting at most timeoutMs in all, then stops the
    // thread; a thread still inside the driver then is left to finish on its own. Returns the
    // number of measurements that could not be written. Only the first call does anything.
    int flushAndStop(int timeoutMs);
    // Why the close left measurements unwritten.
    enum class Shortfall {
        NoAnswer, // the database did not answer
        Refused, // writes failed: faultReason() gives the database's reason
        FileDeleted, // SQLite: the file left its path, so nothing was written
        FileReplaced, // SQLite: another file took its place, so nothing was written
        Behind, // the database stored what it was given until the time ran out, but more came
                // than it could store
    };
    // Valid once flushAndStop has returned a number above 0.
    Shortfall shortfall() const;
    // Writer threads still inside the driver whose writers are destroyed. They use nothing the
    // writer freed, but they do use the process's SQL drivers and connection registry: while
    // one is left, the process ends without tearing those down.
    static int abandonedThreads();

signals:
    // After every committed batch of measurements; the views refresh once per batch.
    void batchCommitted(int measurements);
    // While a backlog lasts (the queue not emptied for a second), every half second; 0 once it
    // is gone. Refusals at the bound and discarded measurements are announced the same way.
    void queueLengthChanged(int length);
    // SQLite: the database file left its path (deleted, or another file put there), or came
    // back; a FileState. While it is away nothing is written and everything stays queued, so
    // that nothing goes into a file the user no longer sees, nor into another one.
    void fileStateChanged(int state);
    // Writes began to fail (with the database's reason) or succeed again (empty reason);
    // looked at with the queue, every half second.
    void faultChanged(const QString& reason, bool lasting);
    // The aggregate tables refused a write: measurements are stored without them from now on.
    void aggregatesDropped(const QString& reason);
    // A job was refused for its own values (a text too long, a constraint) and rolled back;
    // the writes behind it went on. Looked at every half second: `count` jobs so far.
    void jobRefused(const QString& reason, qint64 count);

private:
    void pollQueue();

    class Worker;
    Worker* worker = nullptr;
    QTimer poll;
    int shownLength = 0;
    qint64 shownRefused = 0;
    qint64 shownDiscarded = 0;
    qint64 shownRefusedJobs = 0;
    QString shownFault;
    bool aggregatesDropShown = false;
    Shortfall closeShortfall = Shortfall::NoAnswer;
};
