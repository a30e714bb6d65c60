#pragma once

#include <QString>

// What a failed database statement means for the writer, read from the database's own text
// (SQLite, MariaDB/MySQL through ODBC):
// - Transient: a lock, a busy database, a connection lost or refused; the same write is tried
//   again soon on a connection opened afresh.
// - Lasting: everything else (disk full, read-only file, missing table or column, privilege,
//   constraint); nothing is dropped, the reason is shown and the write is tried again slowly.
// A COMMIT that failed is neither: whether it took effect is checked before anything else is
// written (see DatabaseWriter).
namespace DatabaseFault
{

enum Kind { Transient, Lasting };

Kind classify(const QString& error);
// A row refused by a key or a constraint: the write itself is at fault, not the database.
bool isConstraint(const QString& error);
// The error names one of the aggregate tables.
bool namesAggregates(const QString& error);

} // namespace DatabaseFault
