#include "storage/preparedstatements.h"

#include <QSqlDatabase>
#include <QSqlError>

QSqlQuery* PreparedStatements::get(const QSqlDatabase& db, const QString& text, QString* error)
{
    for (Statement& s : statements) {
        if (s.text == text)
            return s.query.get();
    }
    auto query = std::make_unique<QSqlQuery>(db);
    query->setForwardOnly(true);
    if (!query->prepare(text)) {
        *error = query->lastError().text();
        return nullptr;
    }
    if (statements.size() >= kept)
        statements.erase(statements.begin());
    statements.push_back({ text, std::move(query) });
    return statements.back().query.get();
}
