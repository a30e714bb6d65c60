#include "storage/databasewriter.h"

#include <QAtomicInt>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QMutex>
#include <QMutexLocker>
#include <QSqlError>
#include <QSqlQuery>
#include <QThread>
#include <QWaitCondition>

#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <deque>
#include <memory>
#include <vector>

#include "storage/databasefault.h"
#include "storage/measureaggregates.h"
#include "storage/measurebatchwriter.h"
#include "storage/purgeslicer.h"
#include "storage/sqlquerybuilder.h"
#include "storage/sqlstatement.h"

namespace
{

// Back-off between attempts while the database is locked or away.
constexpr int kFirstRetryMs = 50;
constexpr int kLastRetryMs = 2000;
// Wait between attempts while the database refuses writes for a lasting reason.
constexpr int kLastingRetryMs = 3000;
// How long the writer may wait for a lock held by someone else before it lets go and retries;
// short, so that a close never waits behind a statement for long.
constexpr int kSqliteBusyMs = 200;
constexpr int kMySqlLockWaitSeconds = 2;
// Flush of a writer destroyed without flushAndStop.
constexpr int kDestroyFlushMs = 5000;
// The last part of the flush at close, given to a thread told to give up: enough to leave a
// back-off, nothing more, so that the whole close stays within the flush time.
constexpr int kStopGraceMs = 1000;
// How often the WAL is checkpointed, and how often at most it is truncated.
constexpr int kPassiveCheckpointMs = 1000;
constexpr int kCheckpointMs = 10000;
// How long a checkpoint that has not reset the WAL for two rounds waits for readers.
constexpr int kTruncateWaitMs = 500;
// How long measurements that come one by one are gathered into one commit: the pages every
// commit rewrites (indexes, aggregates, "last") then go to the WAL once for all of them.
constexpr int kGatherMs = 50;
// A queue not emptied for this long is a backlog worth showing.
constexpr int kBacklogMs = 1000;
// How often the SQLite file at the database's path is compared with the one being written,
// also while nothing is written.
constexpr int kFileCheckMs = 250;

// Writer threads left inside the driver by writers destroyed since.
QAtomicInt gAbandoned;

qint64 monotonicMs()
{
    static QElapsedTimer clock;
    static QMutex guard;
    QMutexLocker lock(&guard);
    if (!clock.isValid())
        clock.start();
    return clock.elapsed();
}

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

FileIdentity identityOf(const QString& path)
{
    FileIdentity identity;
    struct stat info;
    if (::stat(QFile::encodeName(path).constData(), &info) == 0) {
        identity.exists = true;
        identity.device = qint64(info.st_dev);
        identity.inode = qint64(info.st_ino);
    }
    return identity;
}

} // namespace

// Checkpoints an SQLite WAL from a connection of its own, so that copying pages back into the
// database file never holds the writer: the writer's connection has automatic checkpoints
// switched off, and a PASSIVE checkpoint runs beside the writes without blocking them. When
// it got every frame, no reader holds an old snapshot, and a TRUNCATE that refuses to wait
// (busy time-out 0) resets the file to zero length; a reader that has just begun makes it
// give up quietly, and the next round tries again.
class WalCheckpointer : public QThread
{
public:
    WalCheckpointer(const QString& file, const std::atomic<int>& truncateMs)
        : file(file)
        , truncateMs(truncateMs)
    {
    }
    void stop()
    {
        QMutexLocker lock(&mutex);
        stopping = true;
        wake.wakeAll();
    }

protected:
    void run() override
    {
        const QString name = QStringLiteral("ostrivel-checkpoint-%1").arg(quintptr(this), 0, 16);
        {
            QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
            db.setDatabaseName(file);
            db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=0"));
            if (db.open())
                loop(db);
            db.close();
        }
        QSqlDatabase::removeDatabase(name);
    }

private:
    // True when the file was reset to zero length.
    static bool truncate(QSqlQuery& query, int waitMs)
    {
        query.exec(QStringLiteral("PRAGMA busy_timeout=%1").arg(waitMs));
        query.finish();
        const bool reset = query.exec(QStringLiteral("PRAGMA wal_checkpoint(TRUNCATE)")) && query.next()
            && query.value(0).toInt() == 0;
        query.finish();
        if (waitMs > 0) {
            query.exec(QStringLiteral("PRAGMA busy_timeout=0"));
            query.finish();
        }
        return reset;
    }

    void loop(QSqlDatabase& db)
    {
        qint64 lastTruncate = monotonicMs();
        QMutexLocker lock(&mutex);
        while (!stopping) {
            wake.wait(&mutex, ulong(qMin(kPassiveCheckpointMs, truncateMs.load())));
            if (stopping)
                break;
            lock.unlock();
            QSqlQuery query(db);
            query.setForwardOnly(true);
            if (query.exec(QStringLiteral("PRAGMA wal_checkpoint(PASSIVE)")) && query.next()) {
                const int frames = query.value(1).toInt();
                const bool complete = query.value(0).toInt() == 0 && frames == query.value(2).toInt();
                query.finish();
                const qint64 since = monotonicMs() - lastTruncate;
                // Readers that follow one another without a pause never leave the file to a
                // checkpoint that does not wait: after two rounds without a reset it waits a
                // moment for the readers of old frames (new ones read the copied pages) and holds
                // the writer that long.
                if (frames > 0 && since >= truncateMs && (complete || since >= 2 * truncateMs)) {
                    const bool wait = since >= 2 * truncateMs;
                    if (truncate(query, wait ? kTruncateWaitMs : 0) || wait)
                        lastTruncate = monotonicMs();
                }
            }
            lock.relock();
        }
    }

    QString file;
    const std::atomic<int>& truncateMs;
    QMutex mutex;
    QWaitCondition wake;
    bool stopping = false;
};

// The queue and the thread that serves it. Items leave the queue only once they are
// committed (or a job has failed for good), so queueLength counts a batch in flight and the
// flush at close knows exactly what was not written.
class DatabaseWriter::Worker : public QThread
{
public:
    struct Item {
        PendingMeasurement measurement;
        Job job; // empty for a measurement
        Done done;
        QObject* doneContext = nullptr; // lives in the thread that queued the job
    };

    explicit Worker(DatabaseWriter* owner)
        : owner(owner)
    {
    }

    void run() override;
    // Called by the owner's destructor: no signal reaches the owner from now on, and a thread
    // still running deletes its worker when it ends.
    void detach();

    // Under mutex.
    int measurementsQueued() const { return int(queue.size()) - jobsQueued; }
    void failJobs(const QString& error);

    mutable QMutex mutex;
    QWaitCondition wake;
    std::deque<Item> queue;
    int jobsQueued = 0;
    int bound = kQueueBound;
    std::atomic<int> checkpointMs { kCheckpointMs };
    qint64 refused = 0;
    qint64 emptySince = monotonicMs();
    qint64 purgeCutoff = 0; // a new purge request, picked up by the thread
    bool purgeRunning = false;
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

    // Connection settings, copied from the connection handed to start().
    QString driver, databaseName, user, password, host, options;
    QString filePath; // SQLite: the database file's absolute path
    int port = -1;
    int dbType = 0;

private:
    enum class Outcome { Done, Failed, CommitFailed, GivenUp };
    bool openConnection(QSqlDatabase& db);
    // The sequence as the database holds it, read on a connection just opened.
    bool readSequence(QSqlDatabase& db, QString* error);
    void serve(QSqlDatabase& db);
    // One transaction of the writer: the sequence raised, then the work, then the COMMIT.
    Outcome transact(QSqlDatabase& db, const std::function<bool(QString*)>& work, QString* error);
    void batchDone(int count, int unknown);
    void jobDone(Item& job);
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
    bool failing = false;
    DatabaseFault::Kind failingKind = DatabaseFault::Transient;
    void finishJob(Item& item, bool ok, const QString& error);
    void announceBatch(int measurements);
    // SQLite: whether the file at the path is still the one the connection writes. While it
    // is not, nothing is written, and items committed into it after it left the path stay
    // queued until it is back (counted then) or the close counts them as not written.
    FileState fileState() const;
    bool fileInPlace();
    bool committedAway(int items, int measurements);
    FileIdentity opened;
    FileState shownFileState = FileState::InPlace;
    int awayItems = 0;
    int awayMeasurements = 0;
    // Null once the owner is destroyed; guarded apart from the queue so that a slot connected
    // directly may read the queue.
    DatabaseWriter* owner;
    QMutex ownerGuard;
    std::atomic<bool> ownerGone { false };

    // The number the last committed transaction wrote into write_sequence; -1 where the
    // database has no such table (then a lost COMMIT reply cannot be checked).
    qint64 sequence = -1;
    bool sequenceMissingLogged = false;
    // A COMMIT whose reply was lost: the number it wrote and what it held.
    struct Doubt {
        bool pending = false;
        qint64 sequence = 0;
        int measurements = 0;
        int unknown = 0;
    } doubt;
};

void DatabaseWriter::Worker::detach()
{
    {
        QMutexLocker lock(&ownerGuard);
        owner = nullptr;
        ownerGone = true;
    }
    QMutexLocker lock(&mutex);
    if (started && !ranOut) {
        orphaned = true;
        gAbandoned.ref();
        return;
    }
    lock.unlock();
    wait();
    delete this;
}

void DatabaseWriter::Worker::announceBatch(int measurements)
{
    QMutexLocker lock(&ownerGuard);
    if (owner)
        emit owner->batchCommitted(measurements);
}

DatabaseWriter::FileState DatabaseWriter::Worker::fileState() const
{
    if (!opened.exists)
        return FileState::InPlace;
    const FileIdentity now = identityOf(filePath);
    if (!now.exists)
        return FileState::Deleted;
    return now == opened ? FileState::InPlace : FileState::Replaced;
}

bool DatabaseWriter::Worker::fileInPlace()
{
    const FileState state = fileState();
    if (state != shownFileState) {
        shownFileState = state;
        if (state == FileState::InPlace)
            qInfo("Database writer: the database file is back at its place; writing again");
        else
            qWarning(
                "Database writer: the database file %s is no longer at its place; writing holds", qPrintable(filePath));
        QMutexLocker lock(&ownerGuard);
        if (owner)
            emit owner->fileStateChanged(int(state));
    }
    if (state != FileState::InPlace)
        return false;
    if (awayItems) {
        // Committed into this very file while it was elsewhere: it holds them now.
        Item front;
        {
            QMutexLocker lock(&mutex);
            if (!queue.empty() && queue.front().job) {
                front = queue.front();
                queue.front().doneContext = nullptr;
            }
        }
        finishJob(front, true, QString());
        dropFront(awayItems);
        if (awayMeasurements)
            announceBatch(awayMeasurements);
        awayItems = awayMeasurements = 0;
    }
    return true;
}

bool DatabaseWriter::Worker::committedAway(int items, int measurements)
{
    if (!opened.exists || fileState() == FileState::InPlace)
        return false;
    awayItems = items;
    awayMeasurements = measurements;
    return true;
}

void DatabaseWriter::Worker::failJobs(const QString& error)
{
    for (Item& item : queue) {
        if (item.job)
            finishJob(item, false, error);
    }
}

void DatabaseWriter::Worker::finishJob(Item& item, bool ok, const QString& error)
{
    if (!item.done || !item.doneContext)
        return;
    Done done = std::move(item.done);
    QObject* context = item.doneContext;
    item.doneContext = nullptr;
    if (ownerGone) {
        // Whoever queued the job may be gone with the writer: the outcome is told to no one.
        context->deleteLater();
        return;
    }
    QMetaObject::invokeMethod(
        context,
        [context, done, ok, error] {
            done(ok, error);
            context->deleteLater();
        },
        Qt::QueuedConnection);
}

void DatabaseWriter::Worker::noteFailure(const QString& error, DatabaseFault::Kind kind)
{
    if (!failing || kind != failingKind)
        qWarning("Database writer: the database refuses writes%s; what is queued is kept and retried: %s",
            kind == DatabaseFault::Lasting ? " for a lasting reason" : "", qPrintable(error));
    failing = true;
    failingKind = kind;
    QMutexLocker lock(&mutex);
    fault = error.trimmed().isEmpty() ? QStringLiteral("неизвестная ошибка") : error.trimmed();
    faultLasting = kind == DatabaseFault::Lasting;
}

void DatabaseWriter::Worker::noteSuccess()
{
    if (failing)
        qInfo("Database writer: writing again");
    failing = false;
    QMutexLocker lock(&mutex);
    fault.clear();
    faultLasting = false;
}

void DatabaseWriter::Worker::run()
{
    const QString name = QStringLiteral("ostrivel-writer-%1").arg(quintptr(this), 0, 16);
    std::unique_ptr<WalCheckpointer> checkpointer;
    if (dbType == SqlQueryBuilder::SQLite) {
        checkpointer = std::make_unique<WalCheckpointer>(databaseName, checkpointMs);
        checkpointer->start();
    }
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(driver, name);
        MeasureAggregates::setKept(db, aggregates);
        serve(db);
        db.close();
        MeasureAggregates::setKept(db, true);
    }
    QSqlDatabase::removeDatabase(name);
    if (checkpointer) {
        checkpointer->stop();
        checkpointer->wait();
    }
    QMutexLocker lock(&mutex);
    ranOut = true;
    if (orphaned) {
        gAbandoned.deref();
        // Deleted in the thread the worker object lives in, once this thread has finished.
        deleteLater();
    }
}

bool DatabaseWriter::Worker::openConnection(QSqlDatabase& db)
{
    if (db.isOpen())
        return true;
    // Opened again by its path, the connection would write into whatever is there now.
    if (fileState() != FileState::InPlace)
        return false;
    // The writer opens its connection afresh itself after every failure; a reconnect of the
    // driver's own would go on without the session settings and statements made below.
    db.setDatabaseName(
        dbType == SqlQueryBuilder::MySQL ? SqlQueryBuilder::withoutAutoReconnect(databaseName) : databaseName);
    db.setUserName(user);
    db.setPassword(password);
    db.setHostName(host);
    db.setPort(port);
    db.setConnectOptions(
        dbType == SqlQueryBuilder::SQLite ? QStringLiteral("QSQLITE_BUSY_TIMEOUT=%1").arg(kSqliteBusyMs) : options);
    if (!db.open()) {
        noteFailure(db.lastError().text(), DatabaseFault::classify(db.lastError().text()));
        return false;
    }
    QSqlQuery setup(db);
    bool ok = true;
    if (dbType == SqlQueryBuilder::SQLite)
        ok = setup.exec(QStringLiteral("PRAGMA synchronous=NORMAL"))
            && setup.exec(QStringLiteral("PRAGMA wal_autocheckpoint=0"));
    else if (dbType == SqlQueryBuilder::MySQL)
        ok = setup.exec(QStringLiteral("SET SESSION lock_wait_timeout=%1").arg(kMySqlLockWaitSeconds))
            && setup.exec(QStringLiteral("SET SESSION innodb_lock_wait_timeout=%1").arg(kMySqlLockWaitSeconds));
    QString error = setup.lastError().text();
    setup.finish();
    ok = ok && readSequence(db, &error);
    if (!ok) {
        noteFailure(error, DatabaseFault::classify(error));
        db.close();
    } else if (dbType == SqlQueryBuilder::SQLite && !opened.exists) {
        opened = identityOf(filePath);
    }
    return ok;
}

bool DatabaseWriter::Worker::readSequence(QSqlDatabase& db, QString* error)
{
    const bool own = db.transaction();
    QSqlQuery query(db);
    query.setForwardOnly(true);
    bool ok = query.exec(SqlQueryBuilder::writeSequenceRead(dbType));
    const bool found = ok && query.next();
    if (found)
        sequence = query.value(0).toLongLong();
    query.finish();
    if (ok && !found) {
        ok = query.exec(SqlQueryBuilder::writeSequenceStart());
        sequence = 0;
    }
    if (!ok)
        *error = query.lastError().text();
    query.finish();
    if (own && ok && !db.commit()) {
        *error = db.lastError().text();
        ok = false;
    }
    if (own && !ok)
        db.rollback();
    if (ok || DatabaseFault::classify(*error) == DatabaseFault::Transient)
        return ok;
    // No such table (a database this account may not extend) or no row that may be added:
    // the writes go on, and a lost COMMIT reply is taken as a COMMIT that did not happen.
    if (!sequenceMissingLogged)
        qWarning("Database writer: no write sequence in the database, a COMMIT whose reply is lost cannot be "
                 "checked: %s",
            qPrintable(*error));
    sequenceMissingLogged = true;
    sequence = -1;
    return true;
}

bool DatabaseWriter::Worker::backOff(int* delayMs, DatabaseFault::Kind kind)
{
    QMutexLocker lock(&mutex);
    if (!abandon)
        wake.wait(&mutex, ulong(kind == DatabaseFault::Lasting ? kLastingRetryMs : *delayMs));
    *delayMs = qMin(*delayMs * 2, kLastRetryMs);
    return !abandon;
}

void DatabaseWriter::Worker::dropFront(int count)
{
    QMutexLocker lock(&mutex);
    // A flush that gave up on a statement stuck in the driver has emptied the queue already.
    for (int i = 0; i < count && !queue.empty(); ++i) {
        if (queue.front().job)
            --jobsQueued;
        queue.pop_front();
    }
    if (queue.empty())
        emptySince = monotonicMs();
}

void DatabaseWriter::Worker::serve(QSqlDatabase& db)
{
    MeasureBatchWriter batches(db, dbType);
    PurgeSlicer purge(db, dbType);
    int delay = kFirstRetryMs;
    std::vector<PendingMeasurement> batch;
    batch.reserve(kBatchLimit);

    const bool watchFile = dbType == SqlQueryBuilder::SQLite;
    for (;;) {
        Item job;
        batch.clear();
        if (watchFile && !fileInPlace()) {
            // Nothing can be written until the file is back; the close does not wait for it.
            QMutexLocker lock(&mutex);
            if (abandon || stopRequested)
                return;
            wake.wait(&mutex, kFileCheckMs);
            continue;
        }
        {
            QMutexLocker lock(&mutex);
            purgeRunning = purge.active();
            for (;;) {
                if (abandon || (stopRequested && queue.empty()))
                    return;
                if (!queue.empty() || purgeCutoff || purge.active())
                    break;
                if (!watchFile)
                    wake.wait(&mutex);
                else if (!wake.wait(&mutex, kFileCheckMs))
                    break; // time to look at the file again
            }
            const qint64 gatherUntil = monotonicMs() + kGatherMs;
            while (!abandon && !stopRequested && !queue.empty() && !queue.front().job && int(queue.size()) < kBatchLimit
                && monotonicMs() < gatherUntil)
                wake.wait(&mutex, ulong(std::max<qint64>(1, gatherUntil - monotonicMs())));
            if (purgeCutoff) {
                purge.start(purgeCutoff);
                purgeCutoff = 0;
            }
            purgeRunning = purge.active();
            if (queue.empty() && !purge.active())
                continue;
            // A job goes alone; measurements go together up to the next job, so that
            // nothing ever overtakes a registry change or is overtaken by one.
            if (!queue.empty() && queue.front().job) {
                job = queue.front();
                queue.front().doneContext = nullptr;
            } else {
                for (auto it = queue.begin(); it != queue.end() && !it->job && int(batch.size()) < kBatchLimit; ++it)
                    batch.push_back(it->measurement);
            }
        }

        // A job not finished in this round is handed back for the next attempt.
        const auto handBack = [&] {
            QMutexLocker lock(&mutex);
            if (job.job && !queue.empty())
                queue.front().doneContext = job.doneContext;
        };
        if (!openConnection(db)) {
            handBack();
            batches.reset();
            if (!backOff(&delay, failingKind))
                return;
            continue;
        }

        // A COMMIT whose reply was lost took effect when the sequence read on the new
        // connection is the one it wrote: what it held is done, never written twice.
        if (doubt.pending) {
            doubt.pending = false;
            if (sequence == doubt.sequence) {
                qInfo("Database writer: a COMMIT whose reply was lost had taken effect");
                if (job.job) {
                    jobDone(job);
                } else {
                    batchDone(doubt.measurements, doubt.unknown);
                }
                noteSuccess();
                delay = kFirstRetryMs;
                continue;
            }
        }

        QString error;
        Outcome outcome = Outcome::Done;
        int unknown = 0;
        if (job.job) {
            outcome = transact(
                db, [&](QString* e) { return job.job(db, dbType, e); }, &error);
            // A registry change may have renumbered the sensors.
            batches.forgetSensorIds();
        } else if (!batch.empty()) {
            outcome = transact(
                db, [&](QString* e) { return batches.write(batch, &unknown, e); }, &error);
        } else if (purge.active()) {
            outcome = purge.runSlice(&error) ? Outcome::Done : Outcome::Failed;
        }
        if (outcome == Outcome::GivenUp)
            return;
        if (outcome == Outcome::Done) {
            if (job.job) {
                jobDone(job);
            } else if (!batch.empty()) {
                batchDone(int(batch.size()), unknown);
            }
            noteSuccess();
            delay = kFirstRetryMs;
            continue;
        }

        if (outcome == Outcome::CommitFailed && sequence >= 0)
            doubt = { true, sequence + 1, int(batch.size()), unknown };
        const DatabaseFault::Kind kind = DatabaseFault::classify(error);
        if (outcome == Outcome::Failed && kind == DatabaseFault::Lasting) {
            if (aggregates && DatabaseFault::namesAggregates(error)) {
                dropAggregates(db, error);
                handBack();
                continue;
            }
            if (job.job && DatabaseFault::isConstraint(error)) {
                // The database refused this change itself and, rolled back, holds none of it.
                qWarning("Database writer: registry change refused: %s", qPrintable(error));
                finishJob(job, false, error);
                dropFront(1);
                continue;
            }
        }
        noteFailure(error, kind);
        handBack();
        // Whatever failed, the next attempt runs on a connection opened afresh: its session
        // settings made again, its statements prepared again, and the sequence read again.
        batches.reset();
        db.close();
        if (!backOff(&delay, kind))
            return;
    }
}

DatabaseWriter::Worker::Outcome DatabaseWriter::Worker::transact(
    QSqlDatabase& db, const std::function<bool(QString*)>& work, QString* error)
{
    if (!db.transaction()) {
        *error = db.lastError().text();
        return Outcome::Failed;
    }
    const qint64 next = sequence + 1;
    bool ok = true;
    if (sequence >= 0) {
        ok = SqlStatement::run(db, SqlQueryBuilder::writeSequenceUpdate(), { next }, error);
    }
    ok = ok && work(error);
    // A close that has given up on this item counts it as not written: so it stays.
    if (ok && givenUp()) {
        db.rollback();
        return Outcome::GivenUp;
    }
    if (ok && db.commit()) {
        if (sequence >= 0)
            sequence = next;
        return Outcome::Done;
    }
    if (ok)
        *error = db.lastError().text();
    db.rollback();
    return ok ? Outcome::CommitFailed : Outcome::Failed;
}

void DatabaseWriter::Worker::batchDone(int count, int unknown)
{
    if (unknown)
        // The sensor was removed after they were queued: there is no row left to attach them to.
        qInfo("Database writer: %d measurements of sensors no longer registered were not stored", unknown);
    if (committedAway(count, count - unknown))
        return;
    dropFront(count);
    announceBatch(count - unknown);
}

void DatabaseWriter::Worker::jobDone(Item& job)
{
    if (committedAway(1, 0)) {
        QMutexLocker lock(&mutex);
        if (!queue.empty())
            queue.front().doneContext = job.doneContext; // told once the file is back
        return;
    }
    finishJob(job, true, QString());
    dropFront(1);
}

void DatabaseWriter::Worker::dropAggregates(QSqlDatabase& db, const QString& error)
{
    qWarning("Database writer: the aggregates are no longer kept, measurements are stored without them: %s",
        qPrintable(error));
    aggregates = false;
    MeasureAggregates::setKept(db, false);
    // The next start that may write them builds them afresh from "measure".
    QSqlQuery(db).exec(QStringLiteral("DELETE FROM measure_aggregates_state"));
    QMutexLocker lock(&mutex);
    aggregatesFault = error.trimmed();
}

DatabaseWriter::DatabaseWriter(QObject* parent)
    : QObject(parent)
    , worker(new Worker(this))
{
    poll.setInterval(500);
    connect(&poll, &QTimer::timeout, this, &DatabaseWriter::pollQueue);
}

DatabaseWriter::~DatabaseWriter()
{
    bool stopped = true;
    {
        QMutexLocker lock(&worker->mutex);
        stopped = !worker->started || worker->stopRequested;
    }
    if (!stopped) {
        const int left = flushAndStop(kDestroyFlushMs);
        if (left)
            qWarning("Database writer: %d measurements could not be written before it was destroyed", left);
    }
    // A thread still inside the driver after the flush cannot be joined: the worker it uses is
    // left to it and goes when it ends (or with the process, see abandonedThreads).
    worker->detach();
    worker = nullptr;
}

int DatabaseWriter::abandonedThreads()
{
    return gAbandoned.loadAcquire();
}

void DatabaseWriter::start(const QSqlDatabase& connectionToClone, int dbType)
{
    QMutexLocker lock(&worker->mutex);
    if (worker->started)
        return;
    worker->started = true;
    worker->driver = connectionToClone.driverName();
    worker->databaseName = connectionToClone.databaseName();
    worker->user = connectionToClone.userName();
    worker->password = connectionToClone.password();
    worker->host = connectionToClone.hostName();
    worker->port = connectionToClone.port();
    worker->options = connectionToClone.connectOptions();
    worker->filePath = QFileInfo(worker->databaseName).absoluteFilePath();
    worker->dbType = dbType;
    worker->start();
    poll.start();
}

void DatabaseWriter::enqueue(const PendingMeasurement& measurement)
{
    QMutexLocker lock(&worker->mutex);
    if (worker->measurementsQueued() >= worker->bound) {
        if (worker->refused++ % 1000 == 0)
            qWarning("Database writer: queue full (%d measurements), %lld measurements refused", worker->bound,
                worker->refused);
        return;
    }
    Worker::Item item;
    item.measurement = measurement;
    worker->queue.push_back(std::move(item));
    worker->wake.wakeAll();
}

void DatabaseWriter::enqueueJob(Job job, Done done)
{
    Worker::Item item;
    item.job = std::move(job);
    if (done) {
        item.done = std::move(done);
        item.doneContext = new QObject;
    }
    QMutexLocker lock(&worker->mutex);
    ++worker->jobsQueued;
    worker->queue.push_back(std::move(item));
    worker->wake.wakeAll();
}

int DatabaseWriter::queueLength() const
{
    QMutexLocker lock(&worker->mutex);
    return int(worker->queue.size());
}

qint64 DatabaseWriter::refusedCount() const
{
    QMutexLocker lock(&worker->mutex);
    return worker->refused;
}

void DatabaseWriter::requestPurge(qint64 cutoff)
{
    QMutexLocker lock(&worker->mutex);
    worker->purgeCutoff = cutoff;
    worker->wake.wakeAll();
}

bool DatabaseWriter::purging() const
{
    QMutexLocker lock(&worker->mutex);
    return worker->purgeCutoff || worker->purgeRunning;
}

QString DatabaseWriter::faultReason() const
{
    QMutexLocker lock(&worker->mutex);
    return worker->fault;
}

bool DatabaseWriter::faultLasting() const
{
    QMutexLocker lock(&worker->mutex);
    return worker->faultLasting;
}

void DatabaseWriter::setAggregatesKept(bool kept)
{
    QMutexLocker lock(&worker->mutex);
    if (!worker->started)
        worker->aggregates = kept;
}

void DatabaseWriter::setCheckpointInterval(int ms)
{
    worker->checkpointMs = ms;
}

void DatabaseWriter::setQueueBound(int bound)
{
    QMutexLocker lock(&worker->mutex);
    worker->bound = bound;
}

int DatabaseWriter::flushAndStop(int timeoutMs)
{
    poll.stop();
    {
        QMutexLocker lock(&worker->mutex);
        // A second call finds nothing left to write; what the first could not was counted then.
        if (worker->stopRequested)
            return 0;
        worker->stopRequested = true;
        worker->wake.wakeAll();
    }
    // The whole flush stays within timeoutMs: the thread is told to give up for its last part.
    const int grace = qMin(kStopGraceMs, qMax(timeoutMs, 0) / 4);
    if (!worker->wait(ulong(qMax(timeoutMs - grace, 0)))) {
        {
            QMutexLocker lock(&worker->mutex);
            worker->abandon = true;
            worker->wake.wakeAll();
        }
        worker->wait(ulong(grace));
    }
    QMutexLocker lock(&worker->mutex);
    const int left = worker->measurementsQueued();
    worker->failJobs(QStringLiteral("Запись в базу данных остановлена"));
    worker->queue.clear();
    worker->jobsQueued = 0;
    return left;
}

void DatabaseWriter::pollQueue()
{
    int length = 0;
    qint64 refused = 0;
    QString fault, aggregatesFault;
    bool lasting = false;
    {
        QMutexLocker lock(&worker->mutex);
        length = int(worker->queue.size());
        refused = worker->refused;
        if (length && monotonicMs() - worker->emptySince < kBacklogMs)
            length = 0;
        fault = worker->fault;
        lasting = worker->faultLasting;
        aggregatesFault = worker->aggregatesFault;
    }
    if (!aggregatesFault.isEmpty() && !aggregatesDropShown) {
        aggregatesDropShown = true;
        emit aggregatesDropped(aggregatesFault);
    }
    if (fault != shownFault) {
        shownFault = fault;
        emit faultChanged(fault, lasting);
    }
    if (length == shownLength && refused == shownRefused)
        return;
    shownLength = length;
    shownRefused = refused;
    emit queueLengthChanged(length);
}
