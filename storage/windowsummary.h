#pragma once

#include <QElapsedTimer>
#include <QString>
#include <QStringList>
#include <QVariantList>
#include <QVector>

#include "storage/tablequeries.h"
#include "storage/tablerows.h"

// Every sensor's summary of one time window (minimum, maximum, sum and count of each kind of
// value), kept between loads in a temporary table of the loading thread's own connection. The
// two summary tables are read from it, so a refresh costs what has changed since the last one
// rather than the whole window twice:
//   - a sensor with rows stored since (a measure id above the last one seen), or with rows the
//     window's start has moved past, is summed again from the aggregates;
//   - any other change of the window (its end, or its start moving back) sums every sensor;
//   - so does a minute gone by, which bounds how long the table can miss rows taken away
//     (the purge of old rows, a removed sensor) or committed by another program under an id
//     below one already seen.
// Names, rooms, batteries and the checked sensors are joined when the tables are read.
class WindowSummary
{
public:
    // Brings the kept sums to the window [first, last] (UTC seconds, both included; a relative
    // filter's window ends at MeasureAggregates::kTimeLimit). False with the reason in `error`:
    // the temporary table is then made afresh at the next update.
    // The ids of the sensors whose sums were made again go to `changed`; `rebuilt` tells that
    // all of them were.
    // `run` runs each statement on the loading thread's connection.
    bool update(const TableRunner& run, int dbType, qint64 first, qint64 last, QString* error,
        QVariantList* changed = nullptr, bool* rebuilt = nullptr);
    // The kept sums are not to be trusted any more (a new connection, a failed statement).
    void reset() { made = false; }

    // The two tables' statements over the kept sums: the rows and values of
    // TableQueries::sensorsSummary and locationsSummary over the same window. Empty text where
    // the database type keeps no aggregates.
    // The sensors' rows end with the sensor's address; `withRoom` puts its room id and its id
    // before it.
    static TableQueries::Query sensors(
        int dbType, const QStringList& checked, bool everySensor, const QString& order, bool withRoom = false);
    // The sensors' rows of the sensors `ids`, whether checked or not, with their room id, id and
    // address as last columns.
    static TableQueries::Query sensorsById(int dbType, const QVariantList& ids);
    // `ids` filled up to a power of two (at least 16) with an id no sensor has, so that a few
    // statements, prepared once, serve every list.
    static QVariantList padded(QVariantList ids);
    static TableQueries::Query locations(
        int dbType, const QStringList& checked, bool everySensor, const QString& order);

private:
    bool rebuild(const TableRunner& run, QString* error);
    bool sumAgain(const TableRunner& run, QVariantList sensorIds, QString* error);

    bool made = false;
    int dbType = -1;
    qint64 first = 0;
    qint64 last = 0;
    // The highest measure id the sums have seen.
    qint64 seenId = 0;
    QElapsedTimer sinceRebuild;
};
