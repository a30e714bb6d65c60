#pragma once

#include <QMetaType>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QString>
#include <QStringList>
#include <QVariantList>
#include <QVector>

#include "storage/keptsensortable.h"
#include "storage/preparedstatements.h"
#include "storage/sqlquerybuilder.h"
#include "storage/tablequeries.h"
#include "storage/tablerows.h"
#include "storage/threadconnection.h"
#include "storage/windowsummary.h"

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
    // Brings the kept sums to the request's window.
    bool updateSums(const TableRequest& request, QString* error, QVariantList* changed = nullptr,
        bool* rebuilt = nullptr);
    // Brings the sensors' table by name (`order`, or the one it has) to the kept sums.
    bool keepByName(const TableRequest& request, QString order, QString* error);

    ThreadConnection connection;
    // The three tables' statements, the one of another order or window now and then, and the
    // kept sums' own (those with sensor lists in a few sizes each).
    PreparedStatements statements { 32 };
    // SQLite: the sensors' table by name, patched at each load, from which the rooms are summed.
    KeptSensorTable byName;
    WindowSummary summary;
};
