#pragma once

#include <QMetaType>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <QVariantList>
#include <QVector>

#include <functional>

#include "storage/sqlquerybuilder.h"
#include "storage/tablequeries.h"

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
    // Changes whenever the registry shown changed (names, rooms, sensors come or go).
    quint64 registry = 0;
};

// Rows of one table load, handed from the loading thread to the window by value.
struct TableRows {
    QVector<QVector<QVariant>> rows;
    QString error;
    // What the load cost the loading thread.
    qint64 ms = 0;
};
Q_DECLARE_METATYPE(TableRows)

// Runs a statement on a loading thread's connection and gives its rows, or the error.
using TableRunner = std::function<TableRows(const TableQueries::Query&)>;
