#pragma once

#include <QString>
#include <QStringList>
#include <QVariantList>

// The SQL of the main window's tables, built from fixed pieces; every value (the checked
// sensors, the time bounds) is a "?" placeholder bound in the order given.
namespace TableQueries
{

enum Table { Locations = 0, Sensors = 1, Measurements = 2 };

// Seconds of each choice of the relative filter; a month is four weeks, a year twelve
// such months. An index outside the list gives 0.
qint64 relativeSeconds(int index);

// The time condition on m.timemeasure and its bound values: from `now - seconds` on for the
// relative filter, [start, end] for the range filter. Both let an index serve the query.
struct TimeFilter {
    QString condition;
    QVariantList values;
};
TimeFilter relativeFilter(qint64 nowSeconds, int comboIndex);
TimeFilter rangeFilter(qint64 startSeconds, qint64 endSeconds);

// " IN (?,?)" for the checked sensors; " IN (NULL)" when none is checked, which no row meets.
QString inList(int count);

// " ORDER BY <column>[ DESC]": the ascending arrow of a header means " DESC"; a section that
// names no column gives no order clause.
QString orderClause(Table table, int section, bool ascendingIndicator);

// The date format of the measurement table by Other/DateTimeStyle (0 for values outside 0-3).
QString dateFormat(int dbType, int style);

// Empty when the database type has no such query (SQL Server). A row of a sensor (the sensors'
// and the measurement tables) ends with the sensor's address, after the columns shown: the
// table colours its cells by that sensor's thresholds, whatever its name.
QString locationsQuery(int dbType, int checkedCount, const QString& timeCondition, const QString& order);
QString sensorsQuery(int dbType, int checkedCount, const QString& timeCondition, const QString& order);
QString measurementsQuery(
    int dbType, int checkedCount, const QString& timeCondition, const QString& order, int style, int maxRows);

// A statement with its values, bound in order.
struct Query {
    QString text;
    QVariantList values;
};
// The window a filter's bound values describe: [from, end of time] or [start, end].
void windowOf(const QVariantList& filterValues, qint64* first, qint64* last);

// The measurement table ordered by a value column (`section` 2-4) over the window that a time
// filter's `filterValues` describe: the same rows as measurementsQuery gives, read
// through the hours whose kept bounds can reach the table's row limit. Empty text where the
// database type keeps no aggregates or the section has no such bounds (the battery's only
// where `batteryBounds`).
// `values` hold the checked sensors.
Query measurementsByValue(int dbType, const QStringList& checked, const QVariantList& filterValues, int section,
    bool ascendingIndicator, int style, int maxRows, bool batteryBounds);

// The two summaries over the window [first, last] (UTC seconds, both included; a relative
// filter's window ends at MeasureAggregates::kTimeLimit) read from the per-sensor hourly and
// daily aggregates, with the partial hours at the ends from "measure": the same rows and
// values as locationsQuery and sensorsQuery. `values` are bound in order and already hold
// the checked sensors. Empty text where the database type has no aggregates. `everySensor`
// tells that `checked` holds every sensor of the database: the statement then names none and
// binds no address, so its cost does not grow with an address list.
Query locationsSummary(int dbType, const QStringList& checked, qint64 first, qint64 last, const QString& order,
    bool everySensor = false);
Query sensorsSummary(int dbType, const QStringList& checked, qint64 first, qint64 last, const QString& order,
    bool everySensor = false);

} // namespace TableQueries
