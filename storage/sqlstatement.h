#pragma once

#include <QSqlDatabase>
#include <QSqlQuery>
#include <QString>
#include <QVariantList>

// Running one statement with its values bound in order. Every function copies the driver's
// error text to *error (when one is given) on failure, so a caller only passes the result on.
namespace SqlStatement
{

// Prepares `text` on `query`, binds `values` in order and executes it; the rows it returns,
// if any, are then read from `query`.
bool exec(QSqlQuery& query, const QString& text, const QVariantList& values, QString* error);

// The same on a query of its own, for statements whose rows are not read.
bool run(QSqlDatabase& db, const QString& text, const QVariantList& values, QString* error);

// Copies the last error of `query` to *error; returns false.
bool failed(const QSqlQuery& query, QString* error);

} // namespace SqlStatement
