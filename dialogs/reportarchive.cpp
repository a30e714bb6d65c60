#include "dialogs/reportarchive.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QTemporaryDir>

#include <cerrno>

#include "dialogs/ziparchivewriter.h"
#include "storage/databasesnapshot.h"
#include "storage/failuretext.h"

namespace
{

const QString kConfigName = QStringLiteral("config.ini");
// Large files go through in pieces of this size, so memory stays small and a cancel is
// noticed quickly.
constexpr qint64 kPiece = 1 << 20;

// Whether `name` is the journal, WAL or shared-memory file of one of the databases.
bool isCompanion(const QString& name, const QStringList& databases)
{
    for (const QString& db : databases) {
        for (const char* suffix : { "-wal", "-shm", "-journal" }) {
            if (name == db + QLatin1String(suffix))
                return true;
        }
    }
    return false;
}

// One build of the archive into the open target: the entries go in one by one, and the first
// failure or a cancel ends it without touching the target.
class ArchiveBuild
{
public:
    ArchiveBuild(const QString& target, QSaveFile& file, ZipArchiveWriter& zip, const std::atomic_bool& cancel,
        ReportArchive::Outcome& out)
        : m_target(target)
        , m_targetFolder(QFileInfo(target).absolutePath())
        , m_file(file)
        , m_zip(zip)
        , m_cancel(cancel)
        , m_out(out)
    {
    }

    // Every entry of `folder`; false when the build ended.
    bool addFolder(const QString& folder, const QStringList& databases);
    // The central directory written and the target replaced.
    bool finish();

private:
    bool addEntry(const QString& path, const QFileInfo& info, const QString& name, const QStringList& databases);
    bool copyInPieces(QFile& in, const QString& path, const QString& name, const QFileInfo& info);
    QString explained(const QString& why, int systemError) const;
    bool failed(const QString& why);
    bool cancelled();

    const QString m_target;
    const QString m_targetFolder;
    QSaveFile& m_file;
    ZipArchiveWriter& m_zip;
    const std::atomic_bool& m_cancel;
    ReportArchive::Outcome& m_out;
    QByteArray m_buffer { int(kPiece), Qt::Uninitialized };
    // The copies of the databases, gone with the build.
    QTemporaryDir m_copies;
};

bool ArchiveBuild::addFolder(const QString& folder, const QStringList& databases)
{
    const QString prefix = QDir(folder).path() + QLatin1Char('/');
    // Hidden and system entries (sockets, pipes, broken links) are not listed.
    QDirIterator it(QDir(folder).path(), QDir::AllEntries | QDir::NoDotAndDotDot, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        if (m_cancel)
            return cancelled();
        const QString path = it.next();
        // Only the folder itself is cut from the front; a sub-folder named "data" keeps its name.
        if (!addEntry(path, it.fileInfo(), path.mid(prefix.size()), databases))
            return false;
    }
    return true;
}

bool ArchiveBuild::addEntry(
    const QString& path, const QFileInfo& info, const QString& name, const QStringList& databases)
{
    if (info.isDir()) {
        if (!m_zip.addDirectory(name, info.permissions(), info.lastModified()))
            return failed(m_zip.errorString());
        ++m_out.entries;
        return true;
    }
    if (!info.isFile() || isCompanion(name, databases))
        return true;
    QString source = path;
    if (databases.contains(name)) {
        if (!m_copies.isValid())
            return failed(QStringLiteral("Cannot make a temporary folder: %1").arg(m_copies.errorString()));
        source = m_copies.filePath(QString::number(m_out.entries));
        const QString error = DatabaseSnapshot::copy(path, source);
        if (!error.isEmpty())
            return failed(error);
        if (m_cancel)
            return cancelled();
    }
    QFile in(source);
    if (!in.open(QIODevice::ReadOnly))
        return true;
    if (name == kConfigName) {
        if (!m_zip.addFile(
                name, ReportArchive::withoutPasswords(in.readAll()), info.permissions(), info.lastModified()))
            return failed(m_zip.errorString());
        ++m_out.entries;
        return true;
    }
    return copyInPieces(in, path, name, info);
}

bool ArchiveBuild::copyInPieces(QFile& in, const QString& path, const QString& name, const QFileInfo& info)
{
    if (!m_zip.openFile(name, info.permissions(), info.lastModified(), in.size()))
        return failed(m_zip.errorString());
    for (;;) {
        const qint64 n = in.read(m_buffer.data(), kPiece);
        if (n < 0)
            return failed(QStringLiteral("Не удалось прочитать %1: %2").arg(path, in.errorString()));
        if (n == 0)
            break;
        if (!m_zip.write(m_buffer.constData(), n))
            return failed(m_zip.errorString());
        if (m_cancel)
            return cancelled();
    }
    if (!m_zip.closeFile())
        return failed(m_zip.errorString());
    ++m_out.entries;
    return true;
}

bool ArchiveBuild::finish()
{
    if (!m_zip.close())
        return failed(m_zip.errorString());
    errno = 0;
    if (!m_file.commit()) {
        const int systemError = errno;
        const QString why = QStringLiteral("Не удалось записать %1: %2").arg(m_target, m_file.errorString());
        m_out.error = explained(why, systemError);
        return false;
    }
    return true;
}

// A full disk is said as such, with what to do.
QString ArchiveBuild::explained(const QString& why, int systemError) const
{
    const FailureText::Kind kind = FailureText::ofWrite(m_targetFolder, systemError);
    return kind == FailureText::Other
        ? why
        : QStringLiteral("Не удалось записать архив %1:\n%2").arg(m_target, FailureText::file(kind, why));
}

bool ArchiveBuild::failed(const QString& why)
{
    // Asked before the partial archive gives its room back.
    m_out.error = explained(why, m_zip.systemError());
    m_file.cancelWriting();
    return false;
}

bool ArchiveBuild::cancelled()
{
    m_file.cancelWriting();
    m_out.cancelled = true;
    return false;
}

} // namespace

ReportArchive::Outcome ReportArchive::write(
    const QString& folder, const QString& target, const std::atomic_bool& cancel, const QStringList& databases)
{
    Outcome out;
    // The old archive stays until the new one is complete.
    QSaveFile file(target);
    if (!file.open(QIODevice::WriteOnly)) {
        out.error = QStringLiteral("Не удалось создать %1: %2").arg(target, file.errorString());
        return out;
    }
    ZipArchiveWriter zip(&file);
    ArchiveBuild build(target, file, zip, cancel, out);
    out.ok = build.addFolder(folder, databases) && build.finish();
    return out;
}

QByteArray ReportArchive::withoutPasswords(const QByteArray& ini)
{
    QList<QByteArray> lines = ini.split('\n');
    for (QByteArray& line : lines) {
        const QByteArray trimmed = line.trimmed();
        const int eq = line.indexOf('=');
        if (eq < 0 || trimmed.startsWith(';') || trimmed.startsWith('#') || trimmed.startsWith('['))
            continue;
        if (!line.left(eq).toLower().contains("password"))
            continue;
        const bool cr = line.endsWith('\r');
        line.truncate(eq + 1);
        if (cr)
            line += '\r';
    }
    return lines.join('\n');
}
