#include "ui/tableloader.h"

#include <QElapsedTimer>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QThread>

TableLoader::TableLoader(QObject* parent)
    : QObject(parent)
    , connection(this)
{
    qRegisterMetaType<TableRows>("TableRows");
}

TableLoader::~TableLoader() = default;

void TableLoader::load(int table, quint64 request, QString text, QVariantList values)
{
    QElapsedTimer clock;
    clock.start();
    TableRows result;
    QSqlDatabase db = connection.open(&result.error);
    if (!db.isOpen()) {
        emit loaded(table, request, result);
        return;
    }
    // A table asks for the same statement at every refresh, with thousands of checked sensors
    // in it: it is prepared once and bound anew, so that a refresh does not parse it again.
    Prepared& prepared = statements[qBound(0, table, 2)];
    if (!prepared.query || prepared.text != text) {
        prepared.query = std::make_unique<QSqlQuery>(db);
        prepared.query->setForwardOnly(true);
        prepared.text = text;
        if (!prepared.query->prepare(text)) {
            result.error = prepared.query->lastError().text();
            prepared.query.reset();
        }
    }
    if (prepared.query) {
        QSqlQuery& query = *prepared.query;
        for (int i = 0; i < values.size(); ++i)
            query.bindValue(i, values[i]);
        if (connection.exec(query, &result.error)) {
            const int columns = query.record().count();
            while (!connection.stopped() && query.next()) {
                QVector<QVariant> row(columns);
                for (int i = 0; i < columns; ++i)
                    row[i] = query.value(i);
                result.rows.append(row);
            }
            // Rows up to a failure or a stop are not the table: none are shown.
            if (!connection.complete(query, &result.error))
                result.rows.clear();
        }
        // The statement lets go of the database's snapshot until the next load.
        query.finish();
        // After a failure the statement is prepared afresh (the connection may be new).
        if (!result.error.isEmpty())
            prepared.query.reset();
    }
    result.ms = clock.elapsed();
    emit loaded(table, request, result);
}

void TableLoader::stop()
{
    connection.stop();
}

void TableLoader::close()
{
    for (Prepared& prepared : statements)
        prepared.query.reset();
    connection.close();
}
