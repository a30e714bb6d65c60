#include "storage/databasewriterworker.h"

#include <QAtomicInt>
#include <QElapsedTimer>
#include <QFile>
#include <QMutexLocker>
#include <QRandomGenerator>
#include <QSqlError>
#include <QSqlQuery>

#include <algorithm>
#include <limits>
#include <memory>
#include <vector>

#include "storage/measureaggregates.h"
#include "storage/measurebatchwriter.h"
#include "storage/purgeslicer.h"
#include "storage/registryedits.h"
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
// commit rewrites (indexes, aggregates, "last") then go to the WAL once for all of them. A
// tenth of a second halves the commits of a steady stream (a quarter of the writer's time)
// and is what a crash can lose beyond the readings still on their way to the writer.
constexpr int kGatherMs = 100;
// How often the SQLite file at the database's path is compared with the one being written,
// also while nothing is written.
constexpr int kFileCheckMs = 250;

// Writer threads left inside the driver by writers destroyed since.
QAtomicInt gAbandoned;

// A row of write_sequence for this program: above the row 1 of older programs, within the
// 32-bit key a MySQL table has.
qint64 newMarker()
{
    return QRandomGenerator::system()->bounded(2, std::numeric_limits<qint32>::max());
}

} // namespace

DatabaseWriter::Worker::Worker(DatabaseWriter* owner)
    : owner(owner)
    , marker(newMarker())
{
}

DatabaseWriter::Worker::~Worker()
{
    wait();
    QMutexLocker lock(&mutex);
}

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

void DatabaseWriter::Worker::detach()
{
    {
        QMutexLocker lock(&ownerGuard);
        owner = nullptr;
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

DatabaseWriter::Worker::Completion::~Completion()
{
    // Untold only when its job was never taken by anyone; the context goes all the same.
    if (!told)
        context->deleteLater();
}

void DatabaseWriter::Worker::tell(const std::shared_ptr<Completion>& completion, bool ok, const QString& error)
{
    if (!completion || completion->told.exchange(true))
        return;
    Done done = std::move(completion->done);
    QObject* context = completion->context;
    if (context->thread() == QThread::currentThread()) {
        delete context;
        done(ok, error);
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
    startCheckpointer();
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(driver, name);
        MeasureAggregates::setKept(db, aggregates, batteryBounds);
        serve(db);
        db.close();
        MeasureAggregates::setKept(db, true);
    }
    QSqlDatabase::removeDatabase(name);
    stopCheckpointer();
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
    tablesEnsured = false;
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
    bool ok = true;
    bool found = false;
    for (;;) {
        ok = SqlStatement::exec(query, SqlQueryBuilder::writeSequenceRead(dbType), { marker }, error);
        found = ok && query.next();
        if (found)
            sequence = query.value(0).toLongLong();
        query.finish();
        // A row of that number before ours was made belongs to another program, running or not.
        if (!found || markerMade)
            break;
        marker = newMarker();
    }
    if (ok && !found) {
        ok = SqlStatement::exec(query, SqlQueryBuilder::writeSequenceStart(), { marker }, error);
        sequence = 0;
    }
    query.finish();
    if (own && ok && !db.commit()) {
        *error = db.lastError().text();
        ok = false;
    }
    if (own && !ok)
        db.rollback();
    if (ok && !markerMade) {
        markerMade = true;
        committedFloor = sequence;
    }
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
    Round round;
    for (;;) {
        round.clear();
        if (dbType == SqlQueryBuilder::SQLite && !fileInPlace()) {
            if (takeBack(db, batches))
                continue;
            // Nothing can be written until the file is back; the close does not wait for it.
            QMutexLocker lock(&mutex);
            if (abandon || stopRequested) {
                lock.unlock();
                leaveAway();
                return;
            }
            wake.wait(&mutex, kFileCheckMs);
            continue;
        }
        const Step next = gather(round, purge);
        if (next == Step::Stop)
            return;
        if (next == Step::Again)
            continue;

        // What is not settled in this round stays at the queue's front for the next attempt.
        if (!openConnection(db)) {
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
                itemsDone(doubt.items, doubt.measurements, doubt.unknown);
                noteSuccess();
                delay = kFirstRetryMs;
                continue;
            }
        }

        QString error;
        int unknown = 0;
        const Outcome outcome = attempt(db, round, batches, purge, &unknown, &error);
        if (settle(db, round, outcome, unknown, error, batches, &delay) == Step::Stop)
            return;
    }
}

DatabaseWriter::Worker::Step DatabaseWriter::Worker::gather(Round& round, PurgeSlicer& purge)
{
    QMutexLocker lock(&mutex);
    purgeRunning = purge.active();
    for (;;) {
        if (abandon || (stopRequested && queue.empty()))
            return Step::Stop;
        if (!queue.empty() || purgeCutoff || purge.active())
            break;
        if (dbType != SqlQueryBuilder::SQLite)
            wake.wait(&mutex);
        else if (!wake.wait(&mutex, kFileCheckMs))
            return Step::Again; // time to look at the file again
    }
    const qint64 gatherUntil = monotonicMs() + kGatherMs;
    gathering = true;
    while (!abandon && !stopRequested && !splitItems && !queue.empty() && int(queue.size()) < kBatchLimit
        && monotonicMs() < gatherUntil)
        wake.wait(&mutex, ulong(std::max<qint64>(1, gatherUntil - monotonicMs())));
    gathering = false;
    if (purgeCutoff) {
        purge.start(purgeCutoff);
        purgeCutoff = 0;
    }
    purgeRunning = purge.active();
    if (queue.empty())
        return purge.active() ? Step::Attempt : Step::Again;
    // Items go in queue order, so that nothing ever overtakes a registry change or is
    // overtaken by one; while a refused round is split, a job goes alone.
    for (auto it = queue.begin(); it != queue.end() && round.items < kBatchLimit; ++it) {
        if (splitItems && round.items && (it->job || round.jobs))
            break;
        if (it->job || round.parts.empty() || round.parts.back().job)
            round.parts.emplace_back();
        if (it->job) {
            round.parts.back().job = it->job;
            ++round.jobs;
        } else {
            round.parts.back().measurements.push_back(it->measurement);
            ++round.measurements;
        }
        ++round.items;
    }
    return Step::Attempt;
}

DatabaseWriter::Worker::Outcome DatabaseWriter::Worker::attempt(
    QSqlDatabase& db, const Round& round, MeasureBatchWriter& batches, PurgeSlicer& purge, int* unknown, QString* error)
{
    if (!round.items)
        return purge.runSlice(error) ? Outcome::Done : Outcome::Failed;
    // Made outside the transaction, on MySQL a CREATE commits whatever is open; looked at once
    // per connection, which is opened afresh after every failure.
    if (round.jobs && !tablesEnsured)
        tablesEnsured = RegistryEdits::ensureTables(db, dbType, error);
    if (round.jobs && !tablesEnsured)
        return Outcome::Failed;
    auto work = [&](QString* e) {
        *unknown = 0;
        for (const Round::Part& part : round.parts) {
            int partUnknown = 0;
            if (part.job) {
                const bool ok = part.job(db, dbType, e);
                // A registry change may have renumbered the sensors.
                batches.forgetSensorIds();
                if (!ok)
                    return false;
            } else if (!batches.write(part.measurements, &partUnknown, e)) {
                return false;
            }
            *unknown += partUnknown;
        }
        return true;
    };
    return transact(db, batches, work, round.items, error);
}

DatabaseWriter::Worker::Step DatabaseWriter::Worker::settle(QSqlDatabase& db, const Round& round, Outcome outcome,
    int unknown, const QString& error, MeasureBatchWriter& batches, int* delayMs)
{
    if (outcome == Outcome::GivenUp)
        return Step::Stop; // the close reports it as not written
    if (outcome == Outcome::Done) {
        if (round.items)
            itemsDone(round.items, round.measurements, unknown);
        noteSuccess();
        *delayMs = kFirstRetryMs;
        return Step::Again;
    }
    if (outcome == Outcome::CommitFailed && sequence >= 0)
        doubt = { true, sequence + round.items, round.items, round.measurements, unknown };
    // A change refused for its own values would be refused at every attempt and hold every
    // write behind it: it ends alone, rolled back, and is told; the round it came in is
    // written again without it. Looked at before the class, as the value a refusal quotes may
    // read like a lock or a lost connection.
    if (outcome == Outcome::Failed && round.jobs && DatabaseFault::refusesData(error)) {
        batches.forgetSensorIds();
        if (round.items > 1) {
            splitItems = round.items;
            return Step::Again;
        }
        qWarning("Database writer: registry change refused: %s", qPrintable(error));
        std::shared_ptr<Completion> completion;
        {
            QMutexLocker lock(&mutex);
            ++refusedJobs;
            refusal = error.trimmed();
            if (!queue.empty())
                completion = queue.front().completion;
        }
        tell(completion, false, error);
        dropFront(1);
        splitItems = std::max(0, splitItems - 1);
        return Step::Again;
    }
    const DatabaseFault::Kind kind = DatabaseFault::classify(error);
    if (outcome == Outcome::Failed && kind == DatabaseFault::Lasting && aggregates
        && DatabaseFault::namesAggregates(error)) {
        dropAggregates(db, error);
        return Step::Again;
    }
    noteFailure(error, kind);
    // Whatever failed, the next attempt runs on a connection opened afresh: its session
    // settings made again, its statements prepared again, and the sequence read again.
    batches.reset();
    db.close();
    return backOff(delayMs, kind) ? Step::Again : Step::Stop;
}

DatabaseWriter::Worker::Outcome DatabaseWriter::Worker::transact(QSqlDatabase& db, MeasureBatchWriter& batches,
    const std::function<bool(QString*)>& work, int step, QString* error)
{
    if (!db.transaction()) {
        *error = db.lastError().text();
        return Outcome::Failed;
    }
    const qint64 next = sequence + step;
    bool ok = true;
    if (sequence >= 0) {
        ok = batches.run(SqlQueryBuilder::writeSequenceUpdate(), { next, marker }, error);
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

void DatabaseWriter::Worker::itemsDone(int items, int measurements, int unknown)
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
    keepCommitted(items);
    if (committedAway(items, measurements - unknown))
        return; // told once the file is back
    releaseFront(items, measurements - unknown, measurements > 0);
}

void DatabaseWriter::Worker::releaseFront(int items, int stored, bool announce)
{
    std::vector<std::shared_ptr<Completion>> told;
    {
        QMutexLocker lock(&mutex);
        storedAt = monotonicMs();
        for (int i = 0; i < items && i < int(queue.size()); ++i) {
            if (queue[size_t(i)].completion)
                told.push_back(queue[size_t(i)].completion);
        }
    }
    for (const auto& completion : told)
        tell(completion, true, QString());
    dropFront(items);
    splitItems = std::max(0, splitItems - items);
    if (announce)
        announceBatch(stored);
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
