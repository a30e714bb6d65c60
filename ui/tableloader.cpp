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
    {
        QSqlQuery query(db);
        query.setForwardOnly(true);
        if (!query.prepare(text)) {
            result.error = query.lastError().text();
        } else {
            for (const QVariant& v : values)
                query.addBindValue(v);
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
        }
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
    connection.close();
}
