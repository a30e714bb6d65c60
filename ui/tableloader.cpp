#include "ui/tableloader.h"

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
            if (!query.exec()) {
                result.error = query.lastError().text();
            } else {
                const int columns = query.record().count();
                while (query.next()) {
                    QVector<QVariant> row(columns);
                    for (int i = 0; i < columns; ++i)
                        row[i] = query.value(i);
                    result.rows.append(row);
                }
            }
        }
    }
    emit loaded(table, request, result);
}

void TableLoader::close()
{
    connection.close();
}
