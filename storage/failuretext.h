#pragma once

#include <QString>

// What a refused write means to the user. The class is read from the database's own text or
// from the system's error number; the explanation says in Russian what is wrong and what to
// do about it, and carries the original text after it, so that nothing the database or the
// system said is lost.
namespace FailureText
{

enum Kind { Other, DiskFull, FileTooLarge, ReadOnly, NoPrivilege, MissingTable };

// SQLite's and MariaDB/MySQL's texts.
Kind ofDatabase(const QString& native);
// An errno value of a failed write.
Kind ofSystemError(int error);
// A write into `folder` that failed with errno `error` just now. Libraries that write through
// buffers of their own lose or hide the system's error, so a file system with (next to) no
// room left also counts as a full disk.
Kind ofWrite(const QString& folder, int error);

// A database failure: the explanation, then "Сообщение базы данных: <native>". A failure of
// no known class is the database's text alone.
QString database(const QString& native);
// The same in a few words for the status bar: "на диске нет места (<native>)".
QString databaseBrief(const QString& native);
// A file that could not be written: the explanation of `kind`, then "Подробности: <native>";
// a failure of no known class is the native text alone.
QString file(Kind kind, const QString& native);

} // namespace FailureText
