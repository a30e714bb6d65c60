#pragma once

#include <QMutex>
#include <QMutexLocker>
#include <QThread>
#include <QWaitCondition>

#include <atomic>
#include <deque>
#include <functional>
#include <memory>

#include "storage/databasefault.h"
#include "storage/databasewriter.h"

class MeasureBatchWriter;
class PurgeSlicer;
class WalCheckpointer;

// The queue and the thread that serves it. Items leave the queue only once they are
// committed (or a job has failed for good), so queueLength counts a batch in flight and the
// flush at close knows exactly what was not written.
class DatabaseWriter::Worker : public QThread
{
public:
    // Whoever waits for a job's outcome. The queue's item and the thread's copy of a job in
    // flight share it; whichever tells the outcome first tells it, so it is told once, also
    // when the flush at close gives up on a job still inside the driver.
    struct Completion {
        Done done;
        QObject* context = nullptr; // lives in the thread that queued the job
        std::atomic<bool> told { false };
        ~Completion();
    };
    struct Item {
        PendingMeasurement measurement;
        Job job; // empty for a measurement
        std::shared_ptr<Completion> completion; // null when nobody waits for the outcome
    };
    // In the thread that queued the job: at once when that is the calling thread, otherwise
    // through its event loop. Nothing when the outcome was told already.
    static void tell(const std::shared_ptr<Completion>& completion, bool ok, const QString& error);

    explicit Worker(DatabaseWriter* owner);
    // An orphaned worker is deleted once its run() has returned, while the thread may still be
    // finishing: it is waited for, and what it wrote under the mutex is seen, before the
    // members go.
    ~Worker() override;

    // How often at most the SQLite WAL is truncated, unless set otherwise.
    static constexpr int kCheckpointMs = 10000;
    // Milliseconds on one clock shared by the writer and its threads.
    static qint64 monotonicMs();
    // See DatabaseWriter::abandonedThreads.
    static int abandonedThreads();

    void run() override;
    // Called by the owner's destructor: no signal reaches the owner from now on, and a thread
    // still running deletes its worker when it ends.
    void detach();

    // Under mutex.
    int measurementsQueued() const { return int(queue.size()) - jobsQueued; }

    mutable QMutex mutex;
    QWaitCondition wake;
    std::deque<Item> queue;
    int jobsQueued = 0;
    int bound = kQueueBound;
    std::atomic<int> checkpointMs { kCheckpointMs };
    std::atomic<int> keptItems { 100000 };
    qint64 refused = 0;
    // What was acknowledged as written and is not in the file at the path: a copy of the
    // file put back lacked it, and it was no longer held to be written again.
    qint64 lost = 0;
    // Measurements of sensors without a row (see DatabaseWriter::discardedCount), and registry
    // changes refused for their own values with the last reason.
    qint64 discarded = 0;
    qint64 refusedJobs = 0;
    QString refusal;
    qint64 emptySince = monotonicMs();
    qint64 storedAt = -1; // monotonicMs when committed items last left the queue
    // SQLite: the file was away from its path when the thread stopped (see leaveAway).
    FileState leftAway = FileState::InPlace;
    qint64 purgeCutoff = 0; // a new purge request, picked up by the thread
    bool purgeRunning = false;
    // The thread gathers measurements into a batch: one more needs not wake it, a full batch does.
    bool gathering = false;
    bool stopRequested = false;
    bool abandon = false;
    bool started = false;
    bool ranOut = false; // run() has returned
    bool orphaned = false; // the owner is gone; the worker deletes itself when run() returns
    // The failure shown to the user (empty while writing succeeds), and the aggregates' own.
    QString fault;
    bool faultLasting = false;
    QString aggregatesFault;
    bool aggregates = true;
    bool batteryBounds = true;

    // Connection settings, copied from the connection handed to start().
    QString driver, databaseName, user, password, host, options;
    QString filePath; // SQLite: the database file's absolute path
    int port = -1;
    int dbType = 0;

private:
    enum class Outcome { Done, Failed, CommitFailed, GivenUp };
    // What one transaction writes: the items at the queue's front, in queue order, as runs of
    // measurements between jobs. Registry jobs and measurements share it, so that a sensor
    // registered with its first reading costs no commit of its own.
    struct Round {
        struct Part {
            Job job; // empty for a run of measurements
            std::vector<PendingMeasurement> measurements;
        };
        std::vector<Part> parts;
        int items = 0;
        int measurements = 0;
        int jobs = 0;
        void clear()
        {
            parts.clear();
            items = measurements = jobs = 0;
        }
    };
    // What the serving loop does next.
    enum class Step { Attempt, Again, Stop };
    bool openConnection(QSqlDatabase& db);
    // The sequence as the database holds it, read on a connection just opened.
    bool readSequence(QSqlDatabase& db, QString* error);
    void serve(QSqlDatabase& db);
    // Waits for work and takes the next round from the queue's front (or a purge slice).
    Step gather(Round& round, PurgeSlicer& purge);
    Outcome attempt(QSqlDatabase& db, const Round& round, MeasureBatchWriter& batches, PurgeSlicer& purge, int* unknown,
        QString* error);
    // What the outcome leaves to do: the items done, refused, or kept for another attempt.
    Step settle(QSqlDatabase& db, const Round& round, Outcome outcome, int unknown, const QString& error,
        MeasureBatchWriter& batches, int* delayMs);
    // One transaction of the writer: the sequence raised, then the work, then the COMMIT.
    // `step` is what the transaction raises the sequence by: its items (measurements and jobs).
    Outcome transact(QSqlDatabase& db, MeasureBatchWriter& batches, const std::function<bool(QString*)>& work,
        int step, QString* error);
    // The first `items` of the queue are committed, `measurements` of them measurements.
    void itemsDone(int items, int measurements, int unknown);
    // They leave the queue; their jobs are told they succeeded and the measurements stored
    // (when the round had any) are announced.
    void releaseFront(int items, int stored, bool announce);
    // The aggregate tables refused a write: they are not kept from now on.
    void dropAggregates(QSqlDatabase& db, const QString& error);
    // Waits for the back-off; false when the flush at close has given up.
    bool backOff(int* delayMs, DatabaseFault::Kind kind);
    bool givenUp() const
    {
        QMutexLocker lock(&mutex);
        return abandon;
    }
    void dropFront(int count);
    // Logged once per outage, not at every attempt.
    void noteFailure(const QString& error, DatabaseFault::Kind kind = DatabaseFault::Transient);
    void noteSuccess();
    // A round with a job that was refused for its own values is served again in smaller ones,
    // a job alone and the measurements between jobs together, until these many items are
    // settled: so the refused job ends alone and everything else in that round is written.
    int splitItems = 0;
    bool failing = false;
    bool tablesEnsured = false; // on the connection open now
    DatabaseFault::Kind failingKind = DatabaseFault::Transient;
    void announceBatch(int measurements);
    // SQLite: whether the file at the path is still the one the connection writes. While it
    // is not, nothing is written, and items committed into it after it left the path stay
    // queued until it is back (counted then) or the close counts them as not written.
    FileState fileState() const;
    bool fileInPlace();
    bool committedAway(int items, int stored);
    // The thread stops while the file is away: what was committed into it after it left is in
    // that file, wherever it went, and is told and counted as stored, not named at close.
    void leaveAway();
    // Which file a path names: the same file keeps its device and inode across renames.
    struct FileIdentity {
        bool exists = false;
        qint64 device = 0;
        qint64 inode = 0;
        bool operator==(const FileIdentity& o) const
        {
            return exists == o.exists && device == o.device && inode == o.inode;
        }
    };
    static FileIdentity identityOf(const QString& path);
    FileIdentity opened;

    // SQLite: another file at the path that is ours (our tables, our row in write_sequence),
    // a copy put back or the file moved back across file systems, is written from then on:
    // what the copy lacks since our row's number is queued again in front. True once it is.
    bool takeBack(QSqlDatabase& db, MeasureBatchWriter& batches);
    // Our row's number in the file at the path, read without writing or locking anything
    // there; false when the file is not ours.
    bool sequenceInCopy(qint64* copySequence) const;
    // What the copy lacks goes back to the queue's front, in place of what was committed away.
    void requeue(std::vector<Item>& again, bool awayInCopy, qint64 missing);
    void keepCommitted(int count);
    void startCheckpointer();
    void stopCheckpointer();
    // Transactions committed lately, kept so that a copy of the file taken while they were
    // made can be completed when it is put back.
    struct Committed {
        qint64 sequence = 0; // what the transaction wrote into our row
        qint64 at = 0; // monotonicMs
        std::vector<Item> items;
    };
    std::deque<Committed> committed;
    int committedItems = 0;
    // The sequence before the oldest transaction kept.
    qint64 committedFloor = 0;
    // The file at the path last looked at and found not ours, or growing: it is read again
    // once it has stood unchanged for a round.
    struct FileLook {
        FileIdentity identity;
        qint64 size = -1;
        qint64 modified = -1;
        bool operator==(const FileLook& o) const
        {
            return identity == o.identity && size == o.size && modified == o.modified;
        }
    };
    FileLook lastLook;
    bool lastLookRefused = false;
    std::unique_ptr<WalCheckpointer> checkpointer;
    FileState shownFileState = FileState::InPlace;
    int awayItems = 0;
    int awayMeasurements = 0;
    // Null once the owner is destroyed; guarded apart from the queue so that a slot connected
    // directly may read the queue.
    DatabaseWriter* owner;
    QMutex ownerGuard;

    // This program's row in write_sequence, chosen at start, and whether it has been made.
    qint64 marker = 0;
    bool markerMade = false;
    // The number the last committed transaction wrote into our row; -1 where the database has
    // no such table (then a lost COMMIT reply cannot be checked).
    qint64 sequence = -1;
    bool sequenceMissingLogged = false;
    // A COMMIT whose reply was lost: the number it wrote and what it held.
    struct Doubt {
        bool pending = false;
        qint64 sequence = 0;
        int items = 0;
        int measurements = 0;
        int unknown = 0;
    } doubt;
};
