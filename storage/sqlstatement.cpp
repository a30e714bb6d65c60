#include "storage/sqlstatement.h"

#include <QSqlError>

namespace SqlStatement
{

bool exec(QSqlQuery& query, const QString& text, const QVariantList& values, QString* error)
{
    if (!query.prepare(text))
        return failed(query, error);
    for (const QVariant& value : values)
        query.addBindValue(value);
    return query.exec() || failed(query, error);
}

bool run(QSqlDatabase& db, const QString& text, const QVariantList& values, QString* error)
{
    QSqlQuery query(db);
    return exec(query, text, values, error);
}

bool failed(const QSqlQuery& query, QString* error)
{
    if (error)
        *error = query.lastError().text();
    return false;
}

} // namespace SqlStatement
