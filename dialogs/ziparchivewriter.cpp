#include "dialogs/ziparchivewriter.h"

#include <QIODevice>

#include <minizip/zip.h>
#include <zlib.h>

#include <algorithm>
#include <cerrno>

namespace
{

// "Version made by": Unix (3) in the high byte, so readers take the upper half of the
// external attributes as the entry's mode; 2.0 below it, or 4.5 when Zip64 records are used.
constexpr uLong kMadeByUnix = 3 << 8;
constexpr uLong kVersion20 = 20;
constexpr uLong kVersion45 = 45;
// General purpose flag: the name is UTF-8.
constexpr uLong kUtf8Names = 0x800;
// MS-DOS attribute of a folder, kept beside the Unix mode for readers that look only at it.
constexpr uLong kDosDirectory = 0x10;
constexpr qint64 kZip64From = qint64(1) << 31;
// zipWriteInFileInZip takes an unsigned length; larger pieces go in parts.
constexpr qint64 kLargestPiece = qint64(1) << 30;

uLong unixMode(QFileDevice::Permissions p, bool directory)
{
    static const struct {
        QFileDevice::Permission qt;
        uLong mode;
    } bits[] = {
        { QFileDevice::ReadOwner, 0400 },
        { QFileDevice::WriteOwner, 0200 },
        { QFileDevice::ExeOwner, 0100 },
        { QFileDevice::ReadGroup, 040 },
        { QFileDevice::WriteGroup, 020 },
        { QFileDevice::ExeGroup, 010 },
        { QFileDevice::ReadOther, 04 },
        { QFileDevice::WriteOther, 02 },
        { QFileDevice::ExeOther, 01 },
    };
    uLong mode = directory ? 040000 : 0100000;
    for (const auto& b : bits) {
        if (p & b.qt)
            mode |= b.mode;
    }
    return mode;
}

// Zip times are local MS-DOS times, which cover 1980 to 2107 only.
tm_zip dosTime(const QDateTime& modified)
{
    const QDateTime lowest(QDate(1980, 1, 1), QTime(0, 0));
    const QDateTime highest(QDate(2107, 12, 31), QTime(23, 59, 58));
    QDateTime t = modified.isValid() ? modified.toLocalTime() : lowest;
    t = std::clamp(t, lowest, highest);
    tm_zip z;
    z.tm_sec = uInt(t.time().second());
    z.tm_min = uInt(t.time().minute());
    z.tm_hour = uInt(t.time().hour());
    z.tm_mday = uInt(t.date().day());
    z.tm_mon = uInt(t.date().month() - 1);
    z.tm_year = uInt(t.date().year());
    return z;
}

} // namespace

// minizip reaches the device through these callbacks; the stream handle is the device itself.
struct ZipArchiveWriter::Io {
    QIODevice* device;
    bool failed = false;
    int systemError = 0;
    zlib_filefunc64_def functions;

    static QIODevice* dev(voidpf stream) { return static_cast<QIODevice*>(stream); }
    static Io* self(voidpf opaque) { return static_cast<Io*>(opaque); }

    static voidpf open(voidpf opaque, const void*, int)
    {
        Io* io = self(opaque);
        return io->device->isWritable() ? io->device : nullptr;
    }
    static uLong read(voidpf opaque, voidpf stream, void* buf, uLong size)
    {
        const qint64 n = dev(stream)->read(static_cast<char*>(buf), qint64(size));
        if (n < 0)
            self(opaque)->failed = true;
        return n < 0 ? 0 : uLong(n);
    }
    static uLong write(voidpf opaque, voidpf stream, const void* buf, uLong size)
    {
        errno = 0;
        const qint64 n = dev(stream)->write(static_cast<const char*>(buf), qint64(size));
        if (n != qint64(size) && !self(opaque)->failed) {
            self(opaque)->failed = true;
            self(opaque)->systemError = errno;
        }
        return n < 0 ? 0 : uLong(n);
    }
    static ZPOS64_T tell(voidpf, voidpf stream) { return ZPOS64_T(dev(stream)->pos()); }
    static long seek(voidpf opaque, voidpf stream, ZPOS64_T offset, int origin)
    {
        QIODevice* d = dev(stream);
        qint64 to = qint64(offset);
        if (origin == ZLIB_FILEFUNC_SEEK_CUR)
            to += d->pos();
        else if (origin == ZLIB_FILEFUNC_SEEK_END)
            to += d->size();
        if (d->seek(to))
            return 0;
        self(opaque)->failed = true;
        return -1;
    }
    static int close(voidpf, voidpf) { return 0; }
    static int error(voidpf opaque, voidpf) { return self(opaque)->failed ? -1 : 0; }
};

ZipArchiveWriter::ZipArchiveWriter(QIODevice* device)
    : io(new Io { device, false, 0, {} })
{
    io->functions = { &Io::open, &Io::read, &Io::write, &Io::tell, &Io::seek, &Io::close, &Io::error, io };
    zip = zipOpen2_64("archive", APPEND_STATUS_CREATE, nullptr, &io->functions);
    if (!zip)
        error = QStringLiteral("Не удалось начать архив: %1").arg(device->errorString());
}

ZipArchiveWriter::~ZipArchiveWriter()
{
    // An archive given up half-way is finished only to free minizip's memory; whoever owns
    // the device throws its content away.
    if (zip)
        zipClose(zip, nullptr);
    delete io;
}

int ZipArchiveWriter::systemError() const
{
    return io->systemError;
}

bool ZipArchiveWriter::check(int result, const QString& what)
{
    if (result == ZIP_OK && !io->failed)
        return true;
    if (error.isEmpty()) {
        error = io->failed ? QStringLiteral("%1: %2").arg(what, io->device->errorString())
                           : QStringLiteral("%1: minizip error %2").arg(what).arg(result);
    }
    return false;
}

bool ZipArchiveWriter::openEntry(
    const QString& name, bool directory, QFileDevice::Permissions permissions, const QDateTime& modified, bool zip64)
{
    if (!zip || entryOpen) {
        error = zip ? QStringLiteral("Запись архива ещё открыта") : QStringLiteral("Архив не открыт");
        return false;
    }
    zip_fileinfo info = {};
    info.tmz_date = dosTime(modified);
    info.external_fa = (unixMode(permissions, directory) << 16) | (directory ? kDosDirectory : 0);
    const QByteArray utf8 = name.toUtf8();
    bool ascii = true;
    for (char c : utf8)
        ascii = ascii && uchar(c) < 0x80;
    const int method = directory ? 0 : Z_DEFLATED;
    const int result = zipOpenNewFileInZip4_64(zip, utf8.constData(), &info, nullptr, 0, nullptr, 0, nullptr, method,
        Z_DEFAULT_COMPRESSION, 0, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY, nullptr, 0,
        kMadeByUnix | (zip64 ? kVersion45 : kVersion20), ascii ? 0 : kUtf8Names, zip64 ? 1 : 0);
    if (!check(result, QStringLiteral("Не удалось добавить %1").arg(name)))
        return false;
    entryOpen = true;
    return true;
}

bool ZipArchiveWriter::addDirectory(
    const QString& name, QFileDevice::Permissions permissions, const QDateTime& modified)
{
    const QString folder = name.endsWith(QLatin1Char('/')) ? name : name + QLatin1Char('/');
    return openEntry(folder, true, permissions, modified, false) && closeFile();
}

bool ZipArchiveWriter::addFile(
    const QString& name, const QByteArray& content, QFileDevice::Permissions permissions, const QDateTime& modified)
{
    return openFile(name, permissions, modified, content.size()) && write(content.constData(), content.size())
        && closeFile();
}

bool ZipArchiveWriter::openFile(
    const QString& name, QFileDevice::Permissions permissions, const QDateTime& modified, qint64 sizeHint)
{
    return openEntry(name, false, permissions, modified, sizeHint >= kZip64From);
}

bool ZipArchiveWriter::write(const char* data, qint64 size)
{
    if (!entryOpen) {
        error = QStringLiteral("Нет открытой записи архива");
        return false;
    }
    while (size > 0) {
        const qint64 piece = std::min(size, kLargestPiece);
        if (!check(zipWriteInFileInZip(zip, data, unsigned(piece)), QStringLiteral("Не удалось записать архив")))
            return false;
        data += piece;
        size -= piece;
    }
    return true;
}

bool ZipArchiveWriter::closeFile()
{
    if (!entryOpen) {
        error = QStringLiteral("Нет открытой записи архива");
        return false;
    }
    entryOpen = false;
    return check(zipCloseFileInZip(zip), QStringLiteral("Не удалось завершить запись архива"));
}

bool ZipArchiveWriter::close()
{
    if (!zip) {
        if (error.isEmpty())
            error = QStringLiteral("Архив не открыт");
        return false;
    }
    if (entryOpen && !closeFile())
        return false;
    const int result = zipClose(zip, nullptr);
    zip = nullptr;
    return check(result, QStringLiteral("Не удалось завершить архив"));
}
