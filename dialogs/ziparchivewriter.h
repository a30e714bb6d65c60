#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QFileDevice>
#include <QString>

class QIODevice;

// Writes a zip archive through minizip into a device that is open for writing and can seek
// (a QSaveFile, a QFile, a QBuffer). Entries are added one after the other; a file entry is
// opened, fed in pieces of any size and closed, so a large file never has to sit in memory.
// Entries larger than 2 GiB get Zip64 records. Names are UTF-8 and use "/" between folders.
// The device stays open and owned by the caller; after close() it holds the whole archive.
class ZipArchiveWriter
{
public:
    explicit ZipArchiveWriter(QIODevice* device);
    ~ZipArchiveWriter();
    ZipArchiveWriter(const ZipArchiveWriter&) = delete;
    ZipArchiveWriter& operator=(const ZipArchiveWriter&) = delete;

    // A folder entry; the name gets its trailing "/" here.
    bool addDirectory(const QString& name, QFileDevice::Permissions permissions, const QDateTime& modified);
    // A whole file entry from memory, deflated.
    bool addFile(const QString& name, const QByteArray& content, QFileDevice::Permissions permissions,
        const QDateTime& modified);

    // A file entry fed by write() and ended by closeFile(); sizeHint is the expected size.
    bool openFile(
        const QString& name, QFileDevice::Permissions permissions, const QDateTime& modified, qint64 sizeHint);
    bool write(const char* data, qint64 size);
    bool closeFile();

    // Writes the central directory. Nothing may be added afterwards.
    bool close();
    // Why the last call failed.
    QString errorString() const { return error; }
    // The system's error number of the first write to the device that failed, 0 if none did.
    int systemError() const;

private:
    bool openEntry(const QString& name, bool directory, QFileDevice::Permissions permissions, const QDateTime& modified,
        bool zip64);
    bool check(int result, const QString& what);

    struct Io;
    Io* io;
    void* zip = nullptr;
    bool entryOpen = false;
    QString error;
};
