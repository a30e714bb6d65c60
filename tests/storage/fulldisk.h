#pragma once

#include <QString>

// A small file system of its own (tmpfs) mounted on a folder, filled to the last byte on
// demand: writes into it fail as on a full disk, with ENOSPC. The test process runs in a mount
// namespace of its own (made before main, while it has one thread), so the mounts are seen by
// it and its children only and go with it; root makes it as it is, any other user inside a user
// namespace of its own.
class FullDisk
{
public:
    // Mounts `bytes` of room on `folder` (made if missing; what it held is hidden meanwhile).
    FullDisk(const QString& folder, qint64 bytes);
    ~FullDisk();
    FullDisk(const FullDisk&) = delete;
    FullDisk& operator=(const FullDisk&) = delete;

    // Empty when mounted; why not otherwise.
    QString error() const { return problem; }
    // Takes every free byte; free() gives them back.
    bool fill();
    void free();

private:
    QString path;
    QString problem;
};
