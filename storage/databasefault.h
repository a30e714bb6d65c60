#pragma once

#include <QString>

#include <initializer_list>

// What a failed database statement means for the writer, read from the database's own text
// (SQLite, MariaDB/MySQL through ODBC):
// - Transient: a lock, a busy database, a connection lost or refused; the same write is tried
//   again soon on a connection opened afresh.
// - Lasting: everything else (disk full, read-only file, missing table or column, privilege);
//   nothing is dropped, the reason is shown and the write is tried again slowly.
// A write refused for its own values (see refusesData) is neither: the database as a whole
// works, and trying the same values again can never succeed.
// A COMMIT that failed is neither: whether it took effect is checked before anything else is
// written (see DatabaseWriter).
namespace DatabaseFault
{

enum Kind { Transient, Lasting };

// Whether the text holds one of the marks, whatever their case.
bool containsAny(const QString& text, std::initializer_list<const char*> marks);

Kind classify(const QString& error);
// A row refused for its own values (a key, a constraint, a value too long, out of range or
// of the wrong kind): the write itself is at fault, not the database.
bool refusesData(const QString& error);
// The error names one of the aggregate tables.
bool namesAggregates(const QString& error);

} // namespace DatabaseFault
