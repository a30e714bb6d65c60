#pragma once

#include <QSqlQuery>
#include <QString>

#include <memory>
#include <vector>

class QSqlDatabase;

// Statements prepared once on a loading thread's connection and bound anew at every use, so
// that a refresh several times a second does not parse them again. Made, used and dropped in
// that thread only (an empty QSqlQuery would reach for the default connection).
class PreparedStatements
{
public:
    explicit PreparedStatements(size_t kept)
        : kept(kept)
    {
    }

    // The statement of `text`, prepared on `db` at its first use (the oldest kept one then
    // goes); null, with the reason in `error`, when the database refuses it.
    QSqlQuery* get(const QSqlDatabase& db, const QString& text, QString* error);
    void clear() { statements.clear(); }

private:
    struct Statement {
        QString text;
        std::unique_ptr<QSqlQuery> query;
    };
    size_t kept;
    std::vector<Statement> statements;
};
