#include "storage/failuretext.h"

#include <QCoreApplication>
#include <QStorageInfo>

#include <cerrno>

#include "storage/databasefault.h"

namespace
{

using DatabaseFault::containsAny;

// Less room than this after a failed write: the disk is full (a block or two of slack, some
// metadata, the part of the file that did get written).
constexpr qint64 kNearlyFull = 1 << 20;

QString tr(const char* text)
{
    return QCoreApplication::translate("FailureText", text);
}

QString databaseAdvice(FailureText::Kind kind)
{
    switch (kind) {
    case FailureText::DiskFull:
        return tr("На диске не осталось места. Освободите место на диске, где находится папка \"data\" "
                  "(для MySQL — на диске сервера базы данных).");
    case FailureText::FileTooLarge:
        return tr("Файл базы данных достиг наибольшего размера, который допускают диск или система. "
                  "Перенесите папку \"data\" на другой диск или удалите старые измерения.");
    case FailureText::ReadOnly:
        return tr("База данных открыта только для чтения. Разрешите запись в файл \"data/measurement.db3\" и "
                  "в папку \"data\" (для MySQL — снимите с сервера режим только для чтения).");
    case FailureText::NoPrivilege:
        return tr("У пользователя базы данных нет прав на запись. Выдайте пользователю из настроек базы "
                  "данных права на чтение, запись и создание таблиц.");
    case FailureText::MissingTable:
        return tr("В базе данных нет нужной таблицы или столбца. Перезапустите программу: недостающие "
                  "таблицы будут созданы; если это не поможет, проверьте, та ли база данных указана в настройках.");
    case FailureText::Other:
        break;
    }
    return QString();
}

QString fileAdvice(FailureText::Kind kind)
{
    switch (kind) {
    case FailureText::DiskFull:
        return tr("На диске не осталось места. Освободите место на диске или выберите другую папку.");
    case FailureText::FileTooLarge:
        return tr("Файл больше, чем допускают диск или система. Выберите другой диск.");
    case FailureText::ReadOnly:
        return tr("Диск доступен только для чтения. Выберите другую папку.");
    case FailureText::NoPrivilege:
        return tr("Нет прав на запись в эту папку. Выберите другую папку или разрешите запись в неё.");
    case FailureText::MissingTable:
    case FailureText::Other:
        break;
    }
    return QString();
}

} // namespace

namespace FailureText
{

Kind ofDatabase(const QString& native)
{
    // SQLite says "database or disk is full"; MariaDB "Disk full", "The table '…' is full" or
    // the system's "No space left on device" / errno 28 of a storage engine.
    if (containsAny(native, { "disk is full", "disk full", "is full", "No space left", "errno: 28", "quota" }))
        return DiskFull;
    if (containsAny(native, { "File too large", "errno: 27" }))
        return FileTooLarge;
    if (containsAny(native, { "readonly", "read-only", "read only" }))
        return ReadOnly;
    if (containsAny(native, { "command denied", "Access denied", "permission denied", "not authorized" }))
        return NoPrivilege;
    if (containsAny(native, { "no such table", "no such column", "doesn't exist", "Unknown column" }))
        return MissingTable;
    return Other;
}

Kind ofSystemError(int error)
{
    switch (error) {
    case ENOSPC:
#ifdef EDQUOT
    case EDQUOT:
#endif
        return DiskFull;
    case EFBIG:
        return FileTooLarge;
    case EROFS:
        return ReadOnly;
    case EACCES:
    case EPERM:
        return NoPrivilege;
    default:
        return Other;
    }
}

Kind ofWrite(const QString& folder, int error)
{
    const Kind kind = ofSystemError(error);
    if (kind == DiskFull || kind == FileTooLarge)
        return kind;
    const QStorageInfo storage(folder);
    if (storage.isValid() && storage.isReady() && storage.bytesAvailable() < kNearlyFull)
        return DiskFull;
    return Other;
}

QString database(const QString& native)
{
    const QString advice = databaseAdvice(ofDatabase(native));
    const QString own = native.trimmed();
    if (advice.isEmpty())
        return own;
    return advice + QLatin1Char('\n') + tr("Сообщение базы данных: %1").arg(own);
}

QString databaseBrief(const QString& native)
{
    QString what;
    switch (ofDatabase(native)) {
    case DiskFull:
        what = tr("на диске нет места");
        break;
    case FileTooLarge:
        what = tr("файл базы данных достиг предельного размера");
        break;
    case ReadOnly:
        what = tr("база данных только для чтения");
        break;
    case NoPrivilege:
        what = tr("нет прав на запись");
        break;
    case MissingTable:
        what = tr("нет нужной таблицы");
        break;
    case Other:
        return native.simplified();
    }
    return QStringLiteral("%1 (%2)").arg(what, native.simplified());
}

QString file(Kind kind, const QString& native)
{
    const QString advice = fileAdvice(kind);
    const QString own = native.trimmed();
    if (advice.isEmpty())
        return own;
    return own.isEmpty() ? advice : advice + QLatin1Char('\n') + tr("Подробности: %1").arg(own);
}

} // namespace FailureText
