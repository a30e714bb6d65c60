#pragma once

#include <QElapsedTimer>
#include <QMetaType>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QString>
#include <QStringList>
#include <QVariantList>
#include <QVector>


#include "storage/preparedstatements.h"
#include "storage/sqlquerybuilder.h"
#include "storage/tablequeries.h"
#include "storage/threadconnection.h"
#include "storage/windowsummary.h"

// What one load of a main window table is made of, read from the window when it starts. The
// statement itself, with thousands of checked addresses, is written in the loading thread.
struct TableRequest {
    int table = 0; // a TableQueries::Table
    int dbType = SqlQueryBuilder::SQLite;
    QStringList sensors;
    // `sensors` are all the database's (the registry holds exactly its sensors).
    bool everySensor = false;
    // The time filter's bound values and its condition on m.timemeasure.
    QVariantList filter;
    QString timeCondition;
    int section = -1;
    bool ascending = false;
    bool aggregates = false;
    bool batteryBounds = false;
    int style = 0;
    int maxRows = 0;
};

// Rows of one table load, handed from the loading thread to the window by value.
struct TableRows {
    QVector<QVector<QVariant>> rows;
    QString error;
    // What the load cost the loading thread.
    qint64 ms = 0;
};
Q_DECLARE_METATYPE(TableRows)

// Reads the tables' rows on a connection of its own, owned by one loading thread.
class TableReader
{
public:
    explicit TableReader(const void* owner);

    // The request's statement; empty text where the database type has none.
    static TableQueries::Query queryOf(const TableRequest& request);
    // The request's rows; none (and no error) where the database type has no such statement.
    // The summaries come from the sums kept between loads, or straight from the aggregates
    // where those cannot be kept.
    TableRows read(const TableRequest& request);
    // Runs `query` and gives its rows.
    TableRows run(const TableQueries::Query& query);

    // From any thread, for good: the load under way ends at once with an error and no rows, and
    // later ones end so without running.
    void stop();
    // Closes the connection; called in the loading thread before it ends.
    void close();

private:
    // A summary table read from the sums kept between loads; an error where they could not be
    // brought up to date.
    TableRows readKept(const TableRequest& request);
    // The sensors' rows of the kept sums in `order`, on SQLite with each sensor's room as a last
    // column: read afresh, or those the other summary table read just before for the same
    // sensors and window.
    TableRows sensorRows(const TableRequest& request, const QString& order);

    ThreadConnection connection;
    // The three tables' statements, and the one of another order or window now and then.
    PreparedStatements statements { 4 };
    // SQLite: one read of the sensors' rows serves both summary tables of a refresh, which the
    // window asks for together; the second takes it within kSharedMs.
    static constexpr qint64 kSharedMs = 250;
    struct Shared {
        TableRows rows;
        TableRequest request;
        QString order;
        QElapsedTimer age;
        bool valid = false;
    } shared;
    WindowSummary summary;
};
