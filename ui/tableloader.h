#pragma once

#include <QMetaType>
#include <QObject>
#include <QSqlQuery>

#include <memory>
#include <QString>
#include <QStringList>
#include <QVariantList>
#include <QVector>

#include "storage/threadconnection.h"

// Rows of one table query, handed from the loading thread to the window by value.
struct TableRows {
    QVector<QVector<QVariant>> rows;
    QString error;
    // What the load cost the loading thread.
    qint64 ms = 0;
};
Q_DECLARE_METATYPE(TableRows)

// Runs the main window's table queries in a thread of its own, on a connection of its own to
// the same database, so a long time window never stalls the GUI thread, which also answers
// the sensors.
class TableLoader : public QObject
{
    Q_OBJECT
public:
    explicit TableLoader(QObject* parent = nullptr);
    ~TableLoader() override;

    // From any thread, for good: the load under way ends at once with an error and no rows, and
    // later ones end so without running. The window calls it when it closes.
    void stop();

public slots:
    // Runs `text` with `values` bound in order and reports the rows.
    void load(int table, quint64 request, QString text, QVariantList values);
    // Closes the connection; called in the loader's thread before it ends.
    void close();

signals:
    void loaded(int table, quint64 request, TableRows rows);

private:
    ThreadConnection connection;
    // The last statement of each table, prepared on the connection.
    // (Made only in the loader's thread: an empty QSqlQuery would reach for the default connection.)
    struct Prepared {
        QString text;
        std::unique_ptr<QSqlQuery> query;
    };
    Prepared statements[3];
};
