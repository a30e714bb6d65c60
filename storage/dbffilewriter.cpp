#include "storage/dbffilewriter.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>

#include <cerrno>
#include <cstdio>

#include <shapefil.h>

namespace
{

// shapelib's I/O hooks carry no context and DBFClose reports nothing, so the hooks below
// collect every failed write, seek, flush or close of the file being written in a flag of
// the writing thread. One thread writes one file at a time.
thread_local bool tIoFailed = false;
// The system's error number of the first of them.
thread_local int tIoErrno = 0;

void noteFailure()
{
    if (!tIoFailed)
        tIoErrno = errno;
    tIoFailed = true;
}

const SAHooks& baseHooks()
{
    static const SAHooks hooks = [] {
        SAHooks h;
#ifdef SHPAPI_UTF8_HOOKS
        SASetupUtf8Hooks(&h);
#else
        SASetupDefaultHooks(&h);
#endif
        return h;
    }();
    return hooks;
}

SAOffset checkedWrite(void* data, SAOffset size, SAOffset count, SAFile file)
{
    const SAOffset written = baseHooks().FWrite(data, size, count, file);
    if (written != count)
        noteFailure();
    return written;
}

SAOffset checkedSeek(SAFile file, SAOffset offset, int whence)
{
    const SAOffset result = baseHooks().FSeek(file, offset, whence);
    if (result != 0)
        noteFailure();
    return result;
}

int checkedFlush(SAFile file)
{
    const int result = baseHooks().FFlush(file);
    if (result != 0)
        noteFailure();
    return result;
}

int checkedClose(SAFile file)
{
    const int result = baseHooks().FClose(file);
    if (result != 0)
        noteFailure();
    return result;
}

void recordError(const char*)
{
    noteFailure();
}

QByteArray nativePath(const QString& path)
{
#ifdef SHPAPI_UTF8_HOOKS
    return QDir::toNativeSeparators(path).toUtf8();
#else
    return QFile::encodeName(path);
#endif
}

bool replaceFile(const QString& from, const QString& to)
{
#ifdef Q_OS_WIN
    // Windows renames nothing over an existing file: the old one steps aside and comes back
    // when the new one cannot take its place.
    if (!QFile::exists(to))
        return QFile::rename(from, to);
    const QString aside = to + QStringLiteral(".old");
    QFile::remove(aside);
    if (!QFile::rename(to, aside))
        return false;
    if (!QFile::rename(from, to)) {
        QFile::rename(aside, to);
        return false;
    }
    QFile::remove(aside);
    return true;
#else
    // rename() swaps the target in one step: a reader opens either the old file or the new.
    return std::rename(QFile::encodeName(from).constData(), QFile::encodeName(to).constData()) == 0;
#endif
}

} // namespace

struct DbfFileWriter::Handle {
    SAHooks hooks;
    DBFHandle dbf = nullptr;
};

DbfFileWriter::DbfFileWriter(const QString& targetPath)
    : m_targetPath(targetPath)
    , m_handle(std::make_unique<Handle>())
{
    m_handle->hooks = baseHooks();
    m_handle->hooks.FWrite = checkedWrite;
    m_handle->hooks.FSeek = checkedSeek;
    m_handle->hooks.FFlush = checkedFlush;
    m_handle->hooks.FClose = checkedClose;
    m_handle->hooks.Error = recordError;
}

DbfFileWriter::~DbfFileWriter()
{
    discard();
}

bool DbfFileWriter::open(const QVector<DbfRecordFormat::Field>& fields, int languageDriver, const QDate& updated)
{
    discard();
    const QFileInfo target(m_targetPath);
    // shapelib puts ".dbf" on whatever name it is given, so the temporary name ends with it
    // too; the leading dot keeps it out of ordinary folder listings.
    m_temporaryPath = target.dir().filePath(QStringLiteral(".%1-%2.dbf")
                                                .arg(target.completeBaseName())
                                                .arg(QRandomGenerator::global()->generate(), 8, 16, QLatin1Char('0')));
    tIoFailed = false;
    tIoErrno = 0;
    const QByteArray codePage = "LDID/" + QByteArray::number(languageDriver);
    m_handle->dbf = DBFCreateLL(nativePath(m_temporaryPath).constData(), codePage.constData(), &m_handle->hooks);
    if (!m_handle->dbf) {
        m_systemError = errno;
        discard();
        return false;
    }
    if (updated.isValid())
        DBFSetLastModifiedDate(m_handle->dbf, updated.year() - 1900, updated.month(), updated.day());
    for (const DbfRecordFormat::Field& field : fields) {
        if (DBFAddNativeFieldType(m_handle->dbf, field.name.constData(), field.type, field.width, field.decimals) < 0) {
            discard();
            return false;
        }
    }
    m_fieldCount = fields.size();
    m_records = 0;
    if (!tIoFailed)
        return true;
    m_systemError = tIoErrno;
    discard();
    return false;
}

bool DbfFileWriter::append(const QVector<QByteArray>& values)
{
    if (!m_handle->dbf || values.size() != m_fieldCount)
        return false;
    for (int i = 0; i < values.size(); ++i) {
        // Field texts come ready-made (padding, decimals, code page); shapelib copies them
        // as they are and fills the rest of the field with blanks.
        if (!DBFWriteAttributeDirectly(m_handle->dbf, m_records, i, const_cast<char*>(values.at(i).constData()))) {
            m_systemError = tIoErrno;
            return false;
        }
    }
    ++m_records;
    if (tIoFailed)
        m_systemError = tIoErrno;
    return !tIoFailed;
}

bool DbfFileWriter::commit()
{
    if (!m_handle->dbf)
        return false;
    DBFClose(m_handle->dbf);
    m_handle->dbf = nullptr;
    if (tIoFailed || !replaceFile(m_temporaryPath, m_targetPath)) {
        m_systemError = tIoFailed ? tIoErrno : errno;
        discard();
        return false;
    }
    m_temporaryPath.clear();
    return true;
}

void DbfFileWriter::discard()
{
    if (m_handle->dbf) {
        DBFClose(m_handle->dbf);
        m_handle->dbf = nullptr;
    }
    if (!m_temporaryPath.isEmpty())
        QFile::remove(m_temporaryPath);
    m_temporaryPath.clear();
    m_fieldCount = 0;
    m_records = 0;
}
