#include "storage/databasewriter.h"

#include <QFileInfo>
#include <QMutexLocker>

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
