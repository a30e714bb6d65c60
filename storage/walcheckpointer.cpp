#include "storage/walcheckpointer.h"

#include <QElapsedTimer>
#include <QFileInfo>
#include <QMutexLocker>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QVariant>

namespace
{

// How often the WAL is checkpointed.
constexpr int kPassiveCheckpointMs = 1000;

} // namespace

WalCheckpointer::WalCheckpointer(const QString& file, const std::atomic<int>& truncateMs)
    : file(file)
    , truncateMs(truncateMs)
{
}

void WalCheckpointer::stop()
{
    QMutexLocker lock(&mutex);
    stopping = true;
    wake.wakeAll();
}

void WalCheckpointer::run()
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

bool WalCheckpointer::truncate(QSqlQuery& query, int waitMs)
{
    query.exec(QStringLiteral("PRAGMA busy_timeout=%1").arg(waitMs));
    query.finish();
    const bool reset
        = query.exec(QStringLiteral("PRAGMA wal_checkpoint(TRUNCATE)")) && query.next() && query.value(0).toInt() == 0;
    query.finish();
    if (waitMs > 0) {
        query.exec(QStringLiteral("PRAGMA busy_timeout=0"));
        query.finish();
    }
    return reset;
}

void WalCheckpointer::loop(QSqlDatabase& db)
{
    QElapsedTimer clock;
    clock.start();
    qint64 lastTruncate = 0;
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
            const qint64 since = clock.elapsed() - lastTruncate;
            // Readers that follow one another without a pause never leave the file to a
            // checkpoint that does not wait: after two rounds without a reset it waits a
            // moment for the readers of old frames (new ones read the copied pages) and holds
            // the writer that long.
            if (frames > 0 && since >= truncateMs && (complete || since >= 2 * truncateMs)) {
                const bool wait = since >= 2 * truncateMs;
                if (truncate(query, wait ? kTruncateWaitMs : 0) || wait)
                    lastTruncate = clock.elapsed();
            } else if (frames == 0 && since >= truncateMs && QFileInfo(file + QStringLiteral("-wal")).size() > 0) {
                // A WAL restarted by a transaction that wrote no page holds a header and no
                // frame: it is reset too, without waiting, so that an idle database leaves an
                // empty file.
                if (truncate(query, 0))
                    lastTruncate = clock.elapsed();
            }
        }
        lock.relock();
    }
}
