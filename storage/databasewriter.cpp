#include "storage/databasewriter.h"

// The writer's thread and queue are built next; until then nothing is written through it.
class DatabaseWriter::Worker
{
};

DatabaseWriter::DatabaseWriter(QObject* parent)
    : QObject(parent)
{
}

DatabaseWriter::~DatabaseWriter() = default;

void DatabaseWriter::start(const QSqlDatabase&, int) {}

void DatabaseWriter::enqueue(const PendingMeasurement&) {}

void DatabaseWriter::enqueueJob(Job, Done done)
{
    if (done)
        done(false, QStringLiteral("no writer"));
}

int DatabaseWriter::queueLength() const
{
    return 0;
}

int DatabaseWriter::flushAndStop(int)
{
    return 0;
}
