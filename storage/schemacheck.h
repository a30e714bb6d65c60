#pragma once

#include <QString>

class QSqlDatabase;

// What start-up checks of an open database before the program relies on it, and how a
// database is named in the start-up error boxes.
namespace SchemaCheck
{

// The first table or column that the program reads or writes and the database lacks, said
// for the user; empty when every one is there.
QString missingColumn(const QSqlDatabase& db);

// What makes an existing database not the program's, said for the user: a table the program
// never makes, or one of its tables without a column it uses; empty when neither. Checked
// before anything is created in the database, so that one refused is left as it was.
QString foreignTable(const QSqlDatabase& db, int type);

// The database as the user configured it: the SQLite file, or the database and its server.
QString place(int type, const QString& host, const QString& database, int port);

} // namespace SchemaCheck
