#pragma once

#include <QString>

#include "storage/threadconnection.h"

// What the information dialog tells of the measurement database, read on a connection of its
// own by one thread: counting a long history takes the database seconds (about 1.3 s for 16 M
// measurements on SQLite), which the window must not wait for.
class DatabaseInfo
{
public:
    explicit DatabaseInfo(const void* owner);

    // The number of stored measurements; empty when the query failed or was stopped.
    QString measureCount();
    // From any thread, for good: the count under way ends at once and none starts after it.
    void stop();
    // Closes the connection; called in the counting thread before it ends.
    void close();

private:
    ThreadConnection connection;
};
