#pragma once

#include <QString>

// A small tmpfs mounted on a folder, filled to the last byte on demand: writes into it fail as on
// a full disk, with ENOSPC. The test process gets a mount namespace of its own before main (a
// user namespace too unless root), so the mounts are seen by it and its children only.
class FullDisk
{
public:
    // Mounts `bytes` of room on `folder` (made if missing; what it held is hidden meanwhile).
    FullDisk(const QString& folder, qint64 bytes);
    ~FullDisk();
    Q_DISABLE_COPY(FullDisk)

    QString error() const { return problem; } // empty when mounted
    bool fill(); // takes every free byte; free() gives them back
    void free();

private:
    QString path;
    QString problem;
};
