#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <atomic>

// The archive of the data folder that a problem report carries. Building it reads the whole
// folder, so it runs in a thread of its own; the GUI thread only starts it and takes the
// outcome.
class ReportArchive
{
public:
    struct Outcome {
        bool ok = false;
        bool cancelled = false;
        QString error; // why it failed; empty when it succeeded or was cancelled
        int entries = 0;
    };

    // Writes the archive of `folder` to `target`. Every folder and readable file of it goes in
    // under its path relative to `folder`; a file that cannot be opened is left out. The
    // configuration "config.ini" at the top goes in without its passwords. The target is
    // replaced only by a complete archive; a failure or a cancel leaves it as it was. `cancel`
    // is looked at between entries and between the pieces of a large file.
    // Each of `databases` (SQLite files, named relative to `folder`) that exists goes in as a
    // consistent copy taken while its writer goes on; its "-wal", "-shm" and "-journal"
    // companions stay out, the copy holds what they held.
    static Outcome write(const QString& folder, const QString& target, const std::atomic_bool& cancel,
        const QStringList& databases = QStringList());

    // The configuration text with the value of every key whose name contains "password"
    // (in any case) emptied; every other byte stays as it was.
    static QByteArray withoutPasswords(const QByteArray& ini);
};
