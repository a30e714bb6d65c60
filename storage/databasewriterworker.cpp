#include "storage/databasewriterworker.h"

#include <QAtomicInt>
#include <QElapsedTimer>
#include <QFile>
#include <QMutexLocker>
#include <QSqlError>
#include <QSqlQuery>

#include <sys/stat.h>

#include <algorithm>
#include <memory>
#include <vector>

#include "storage/measureaggregates.h"
#include "storage/measurebatchwriter.h"
#include "storage/purgeslicer.h"
#include "storage/sqlquerybuilder.h"
#include "storage/sqlstatement.h"
#include "storage/walcheckpointer.h"

namespace
{

// Back-off between attempts while the database is locked or away.
constexpr int kFirstRetryMs = 50;
constexpr int kLastRetryMs = 2000;
// Wait between attempts while the database refuses writes for a lasting reason.
constexpr int kLastingRetryMs = 3000;
// How long the writer may wait for a lock held by someone else before it lets go and retries:
// longer than the checkpointer ever holds it, so that its waits are never taken for a database
// that refuses writes, and still short, so that a close never waits behind a statement for long.
constexpr int kSqliteBusyMs = 2 * WalCheckpointer::kTruncateWaitMs;
constexpr int kMySqlLockWaitSeconds = 2;
// How long measurements that come one by one are gathered into one commit: the pages every
// commit rewrites (indexes, aggregates, "last") then go to the WAL once for all of them.
constexpr int kGatherMs = 50;
// How often the SQLite file at the database's path is compared with the one being written,
// also while nothing is written.
constexpr int kFileCheckMs = 250;

// Writer threads left inside the driver by writers destroyed since.
QAtomicInt gAbandoned;

} // namespace

qint64 DatabaseWriter::Worker::monotonicMs()
{
    static QElapsedTimer clock;
    static QMutex guard;
    QMutexLocker lock(&guard);
    if (!clock.isValid())
        clock.start();
    return clock.elapsed();
}

int DatabaseWriter::Worker::abandonedThreads()
{
    return gAbandoned.loadAcquire();
}

DatabaseWriter::Worker::FileIdentity DatabaseWriter::Worker::identityOf(const QString& path)
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
        MeasureAggregates::setKept(db, aggregates, batteryBounds);
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
        if (outcome == Outcome::GivenUp) {
            handBack(); // the close reports it as not written
            return;
        }
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
        // A change refused for its own values would be refused at every attempt and hold every
        // write behind it: it ends alone, rolled back, and is told. Looked at before the class,
        // as the value a refusal quotes may read like a lock or a lost connection.
        if (outcome == Outcome::Failed && job.job && DatabaseFault::refusesData(error)) {
            qWarning("Database writer: registry change refused: %s", qPrintable(error));
            {
                QMutexLocker lock(&mutex);
                ++refusedJobs;
                refusal = error.trimmed();
            }
            finishJob(job, false, error);
            dropFront(1);
            continue;
        }
        const DatabaseFault::Kind kind = DatabaseFault::classify(error);
        if (outcome == Outcome::Failed && kind == DatabaseFault::Lasting && aggregates
            && DatabaseFault::namesAggregates(error)) {
            dropAggregates(db, error);
            handBack();
            continue;
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
    if (unknown) {
        // The sensor's registration was refused, or its row removed behind the program's back:
        // there is nothing to attach them to. The user is told how many (status bar, close);
        // the log gets the first and then one line per thousand.
        QMutexLocker lock(&mutex);
        if (discarded == 0 || discarded / 1000 != (discarded + unknown) / 1000)
            qWarning("Database writer: measurements of sensors without a row in the database are not stored (%lld "
                     "so far)",
                discarded + unknown);
        discarded += unknown;
    }
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
