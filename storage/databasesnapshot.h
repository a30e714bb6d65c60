#pragma once

#include <QString>

// A consistent copy of an SQLite database that the writer may be changing at the same moment.
// The database file and its WAL copied byte by byte are never a sure pair: a commit or a
// checkpoint between the two reads leaves pages of two moments. VACUUM INTO reads the whole
// database inside one read transaction, so the copy holds exactly what some commit left, and
// in WAL mode that reader never holds up the writer.
class DatabaseSnapshot
{
public:
    // Writes the copy of `source` to `target`, which must not exist yet. Returns an empty
    // string on success, otherwise why it failed. Runs in the caller's thread on a connection
    // of its own.
    static QString copy(const QString& source, const QString& target);
};
