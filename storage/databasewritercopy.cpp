// The writer's part that follows the SQLite file when a copy of it is put back at its path.
#include "storage/databasewriterworker.h"

#include <QDateTime>
#include <QFileInfo>
#include <QSqlQuery>
#include <QUrl>

#include <sys/stat.h>

#include "storage/measurebatchwriter.h"
#include "storage/schemacheck.h"
#include "storage/sqlquerybuilder.h"
#include "storage/sqlstatement.h"
#include "storage/walcheckpointer.h"

namespace
{

// How long what was committed is kept for a copy of the file put back (see keptItems): a
// copy holds what was checkpointed before it was taken (up to 10 s before), and moving a
// large file to another disk and back takes minutes at most.
constexpr qint64 kKeptMs = 5 * 60 * 1000;

} // namespace

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
        releaseFront(awayItems, awayMeasurements, awayMeasurements > 0);
        awayItems = awayMeasurements = 0;
    }
    return true;
}

bool DatabaseWriter::Worker::committedAway(int items, int stored)
{
    if (!opened.exists || fileState() == FileState::InPlace)
        return false;
    awayItems = items;
    awayMeasurements = stored;
    return true;
}

void DatabaseWriter::Worker::leaveAway()
{
    if (awayItems)
        releaseFront(awayItems, awayMeasurements, awayMeasurements > 0);
    awayItems = awayMeasurements = 0;
    QMutexLocker lock(&mutex);
    leftAway = shownFileState;
}

void DatabaseWriter::Worker::startCheckpointer()
{
    if (dbType != SqlQueryBuilder::SQLite)
        return;
    checkpointer = std::make_unique<WalCheckpointer>(databaseName, checkpointMs);
    checkpointer->start();
}

void DatabaseWriter::Worker::stopCheckpointer()
{
    if (!checkpointer)
        return;
    checkpointer->stop();
    checkpointer->wait();
    checkpointer.reset();
}

void DatabaseWriter::Worker::keepCommitted(int count)
{
    if (dbType != SqlQueryBuilder::SQLite || sequence < 0)
        return;
    Committed entry;
    entry.sequence = sequence;
    entry.at = monotonicMs();
    {
        QMutexLocker lock(&mutex);
        for (auto it = queue.begin(); it != queue.end() && int(entry.items.size()) < count; ++it) {
            entry.items.push_back(*it);
            entry.items.back().completion.reset(); // told once, when it was committed
        }
    }
    committedItems += int(entry.items.size());
    committed.push_back(std::move(entry));
    while (!committed.empty() && (committedItems > keptItems || committed.back().at - committed.front().at > kKeptMs)) {
        committedFloor = committed.front().sequence;
        committedItems -= int(committed.front().items.size());
        committed.pop_front();
    }
}

bool DatabaseWriter::Worker::sequenceInCopy(qint64* copySequence) const
{
    const QString name = QStringLiteral("ostrivel-copy-%1").arg(quintptr(this), 0, 16);
    bool ours = false;
    {
        QSqlDatabase copy = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        // Read as it lies: no lock, no journal, and not the WAL beside the path, which is still
        // the one of the file being written.
        copy.setDatabaseName(
            QUrl::fromLocalFile(filePath).toString(QUrl::FullyEncoded) + QStringLiteral("?immutable=1"));
        copy.setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY;QSQLITE_OPEN_URI"));
        if (copy.open() && SchemaCheck::missingColumn(copy).isEmpty()
            && SchemaCheck::foreignTable(copy, dbType).isEmpty()) {
            QSqlQuery query(copy);
            QString error;
            ours = SqlStatement::exec(query, SqlQueryBuilder::writeSequenceRead(dbType), { marker }, &error)
                && query.next();
            if (ours)
                *copySequence = query.value(0).toLongLong();
        }
        copy.close();
    }
    QSqlDatabase::removeDatabase(name);
    return ours;
}

void DatabaseWriter::Worker::requeue(std::vector<Item>& again, bool awayInCopy, qint64 missing)
{
    // The jobs of the transaction committed away are told once: now when the copy holds it,
    // else when it is written again (the last items kept are its items).
    std::vector<std::shared_ptr<Completion>> awayDone;
    {
        QMutexLocker lock(&mutex);
        for (int i = 0; i < awayItems && !queue.empty(); ++i) {
            std::shared_ptr<Completion>& completion = queue.front().completion;
            const int againAt = int(again.size()) - awayItems + i;
            if (completion && awayInCopy)
                awayDone.push_back(completion);
            else if (completion && againAt >= 0)
                again[size_t(againAt)].completion = completion;
            completion.reset();
            if (queue.front().job)
                --jobsQueued;
            queue.pop_front();
        }
        for (auto it = again.rbegin(); it != again.rend(); ++it) {
            if (it->job)
                ++jobsQueued;
            queue.push_front(*it);
        }
        lost += missing;
    }
    for (const auto& completion : awayDone)
        tell(completion, true, QString());
    if (awayInCopy && awayMeasurements)
        announceBatch(awayMeasurements);
}

bool DatabaseWriter::Worker::takeBack(QSqlDatabase& db, MeasureBatchWriter& batches)
{
    if (!opened.exists || !markerMade || sequence < 0 || fileState() != FileState::Replaced)
        return false;
    const QFileInfo info(filePath);
    const FileLook look { identityOf(filePath), info.size(), info.lastModified().toMSecsSinceEpoch() };
    // A file still being copied is not read: it must stand unchanged for a round first.
    if (!(look == lastLook)) {
        lastLook = look;
        lastLookRefused = false;
        return false;
    }
    if (lastLookRefused)
        return false;
    qint64 copySequence = 0;
    if (!sequenceInCopy(&copySequence)) {
        lastLookRefused = true;
        qWarning(
            "Database writer: the file now at %s is not this program's database; writing holds", qPrintable(filePath));
        return false;
    }
    // The WAL beside the path belongs to the file written so far: its pages go into that
    // file first, so that the file put back finds an empty one and takes no page of it.
    if (db.isOpen())
        QSqlQuery(db).exec(QStringLiteral("PRAGMA wal_checkpoint(TRUNCATE)"));
    if (QFileInfo(filePath + QStringLiteral("-wal")).size() > 0)
        return false; // the checkpointer empties it; looked at again next round
    batches.reset();
    db.close();
    stopCheckpointer();

    // What the copy lacks, in order: the transactions kept whose number is above the copy's;
    // those no longer kept are counted as not written.
    std::vector<Item> again;
    for (const Committed& entry : committed) {
        if (entry.sequence > copySequence)
            again.insert(again.end(), entry.items.begin(), entry.items.end());
    }
    const qint64 missing = qMax<qint64>(0, committedFloor - copySequence);
    // A transaction committed into the file written after it had left the path is the last
    // one kept, and still queued.
    const bool awayInCopy = awayItems && !committed.empty() && committed.back().sequence <= copySequence;
    requeue(again, awayInCopy, missing);
    awayItems = awayMeasurements = splitItems = 0;
    // The numbers above the copy's are written again from here on.
    while (!committed.empty() && committed.back().sequence > copySequence) {
        committedItems -= int(committed.back().items.size());
        committed.pop_back();
    }
    committedFloor = qMin(committedFloor, copySequence);
    sequence = copySequence;
    // A COMMIT in doubt went into the file written so far; the copy's number decides anew.
    doubt.pending = false;
    if (missing)
        qWarning("Database writer: the database file put back lacks %lld measurements and changes no longer "
                 "held; they are counted as not written",
            missing);
    qInfo("Database writer: the database file put back at %s is this program's; %d items are written into it again",
        qPrintable(filePath), int(again.size()));
    opened = look.identity;
    lastLook = FileLook();
    startCheckpointer();
    return true;
}
