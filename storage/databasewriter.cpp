#include "storage/databasewriter.h"

#include <QFileInfo>
#include <QMutexLocker>

#include <vector>

#include "storage/databasewriterworker.h"

namespace
{

// Flush of a writer destroyed without flushAndStop.
constexpr int kDestroyFlushMs = 5000;
// The last part of the flush at close, given to a thread told to give up: enough to leave a
// back-off, nothing more, so that the whole close stays within the flush time.
constexpr int kStopGraceMs = 1000;
// A queue not emptied for this long is a backlog worth showing.
constexpr int kBacklogMs = 1000;
// A writer that stored items this recently when the flush's time ran out was still storing:
// it fell behind what came, it did not stop. A full batch takes about 1.5 s on a MariaDB server
// with its default settings that is fed faster than it stores.
constexpr qint64 kStillStoringMs = 5000;
// What a job that the closed writer did not write is told.
const QString kStoppedText = QStringLiteral("Запись в базу данных остановлена");

} // namespace

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
    bool started = false;
    {
        QMutexLocker lock(&worker->mutex);
        stopped = worker->stopRequested;
        started = worker->started;
    }
    if (!stopped) {
        // A writer never started has written nothing, but its jobs are told all the same.
        const int left = flushAndStop(started ? kDestroyFlushMs : 0);
        if (left && started)
            qWarning("Database writer: %d measurements could not be written before it was destroyed", left);
    }
    // A thread still inside the driver after the flush cannot be joined: the worker it uses is
    // left to it and goes when it ends (or with the process, see abandonedThreads).
    worker->detach();
    worker = nullptr;
}

int DatabaseWriter::abandonedThreads()
{
    return Worker::abandonedThreads();
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
    // Hundreds a second arrive one by one while the thread gathers them: waking it for each
    // would cost a thread switch per measurement.
    if (!worker->gathering || int(worker->queue.size()) >= kBatchLimit)
        worker->wake.wakeAll();
}

void DatabaseWriter::enqueueJob(Job job, Done done)
{
    Worker::Item item;
    item.job = std::move(job);
    if (done) {
        item.completion = std::make_shared<Worker::Completion>();
        item.completion->done = std::move(done);
        item.completion->context = new QObject;
    }
    QMutexLocker lock(&worker->mutex);
    if (worker->stopRequested) {
        // The writer closed: nothing queued now would ever be written.
        lock.unlock();
        Worker::tell(item.completion, false, kStoppedText);
        return;
    }
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

qint64 DatabaseWriter::discardedCount() const
{
    QMutexLocker lock(&worker->mutex);
    return worker->discarded;
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

void DatabaseWriter::setAggregatesKept(bool kept, bool battery)
{
    QMutexLocker lock(&worker->mutex);
    if (!worker->started) {
        worker->aggregates = kept;
        worker->batteryBounds = battery;
    }
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

void DatabaseWriter::setCommittedKept(int items)
{
    worker->keptItems = items;
}

int DatabaseWriter::flushAndStop(int timeoutMs)
{
    poll.stop();
    const qint64 flushStart = Worker::monotonicMs();
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
    // Every job not committed by now is told it failed, a job still inside the driver too: its
    // transaction is rolled back when it comes out (see Worker::transact).
    std::vector<std::shared_ptr<Worker::Completion>> untold;
    int left = 0;
    {
        QMutexLocker lock(&worker->mutex);
        left = worker->measurementsQueued() + int(worker->lost);
        if (worker->leftAway != FileState::InPlace)
            closeShortfall = worker->leftAway == FileState::Deleted ? Shortfall::FileDeleted : Shortfall::FileReplaced;
        else if (!worker->fault.isEmpty())
            closeShortfall = Shortfall::Refused;
        else if (worker->measurementsQueued() && worker->storedAt >= flushStart
            && Worker::monotonicMs() - worker->storedAt <= kStillStoringMs)
            closeShortfall = Shortfall::Behind;
        for (const Worker::Item& item : worker->queue) {
            if (item.completion)
                untold.push_back(item.completion);
        }
        worker->queue.clear();
        worker->jobsQueued = 0;
    }
    for (const auto& completion : untold)
        Worker::tell(completion, false, kStoppedText);
    return left;
}

DatabaseWriter::Shortfall DatabaseWriter::shortfall() const
{
    return closeShortfall;
}

void DatabaseWriter::pollQueue()
{
    int length = 0;
    qint64 refused = 0;
    qint64 discarded = 0;
    qint64 refusedJobs = 0;
    QString fault, aggregatesFault, refusal;
    bool lasting = false;
    {
        QMutexLocker lock(&worker->mutex);
        length = int(worker->queue.size());
        refused = worker->refused;
        discarded = worker->discarded;
        refusedJobs = worker->refusedJobs;
        refusal = worker->refusal;
        if (length && Worker::monotonicMs() - worker->emptySince < kBacklogMs)
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
    if (refusedJobs != shownRefusedJobs) {
        shownRefusedJobs = refusedJobs;
        emit jobRefused(refusal, refusedJobs);
    }
    if (length == shownLength && refused == shownRefused && discarded == shownDiscarded)
        return;
    shownLength = length;
    shownRefused = refused;
    shownDiscarded = discarded;
    emit queueLengthChanged(length);
}
