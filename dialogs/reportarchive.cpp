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
    const QString targetFolder = QFileInfo(target).absolutePath();
    // A full disk is said as such, with what to do.
    auto explained = [&](const QString& why, int systemError) {
        const FailureText::Kind kind = FailureText::ofWrite(targetFolder, systemError);
        return kind == FailureText::Other
            ? why
            : QStringLiteral("Не удалось записать архив %1:\n%2").arg(target, FailureText::file(kind, why));
    };
    // Both end the build without touching the target.
    auto failed = [&](const QString& why) {
        // Asked before the partial archive gives its room back.
        out.error = explained(why, zip.systemError());
        file.cancelWriting();
        return out;
    };
    auto cancelled = [&] {
        file.cancelWriting();
        out.cancelled = true;
        return out;
    };

    const QString prefix = QDir(folder).path() + QLatin1Char('/');
    // Hidden and system entries (sockets, pipes, broken links) are not listed.
    QDirIterator it(QDir(folder).path(), QDir::AllEntries | QDir::NoDotAndDotDot, QDirIterator::Subdirectories);
    QByteArray buffer(int(kPiece), Qt::Uninitialized);
    // The copies of the databases, gone with the build.
    QTemporaryDir copies;
    while (it.hasNext()) {
        if (cancel)
            return cancelled();
        const QString path = it.next();
        const QFileInfo info = it.fileInfo();
        // Only the folder itself is cut from the front; a sub-folder named "data" keeps its name.
        const QString name = path.mid(prefix.size());
        if (info.isDir()) {
            if (!zip.addDirectory(name, info.permissions(), info.lastModified()))
                return failed(zip.errorString());
            ++out.entries;
            continue;
        }
        if (!info.isFile() || isCompanion(name, databases))
            continue;
        QString source = path;
        if (databases.contains(name)) {
            if (!copies.isValid())
                return failed(QStringLiteral("Cannot make a temporary folder: %1").arg(copies.errorString()));
            source = copies.filePath(QString::number(out.entries));
            const QString error = DatabaseSnapshot::copy(path, source);
            if (!error.isEmpty())
                return failed(error);
            if (cancel)
                return cancelled();
        }
        QFile in(source);
        if (!in.open(QIODevice::ReadOnly))
            continue;
        if (name == kConfigName) {
            if (!zip.addFile(name, withoutPasswords(in.readAll()), info.permissions(), info.lastModified()))
                return failed(zip.errorString());
            ++out.entries;
            continue;
        }
        if (!zip.openFile(name, info.permissions(), info.lastModified(), in.size()))
            return failed(zip.errorString());
        for (;;) {
            const qint64 n = in.read(buffer.data(), kPiece);
            if (n < 0)
                return failed(QStringLiteral("Не удалось прочитать %1: %2").arg(path, in.errorString()));
            if (n == 0)
                break;
            if (!zip.write(buffer.constData(), n))
                return failed(zip.errorString());
            if (cancel)
                return cancelled();
        }
        if (!zip.closeFile())
            return failed(zip.errorString());
        ++out.entries;
    }
    if (!zip.close())
        return failed(zip.errorString());
    errno = 0;
    if (!file.commit()) {
        const int systemError = errno;
        const QString why = QStringLiteral("Не удалось записать %1: %2").arg(target, file.errorString());
        out.error = explained(why, systemError);
        return out;
    }
    out.ok = true;
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
