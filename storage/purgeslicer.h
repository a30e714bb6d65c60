#pragma once

#include <QMap>
#include <QSqlDatabase>
#include <QString>
#include <QVector>

// The purge of expired measurements cut into short steps, each in a transaction of its own,
// so that the writer goes back to the queue between them and the intake is never held behind
// one long statement.
//
// The expired range is walked hour by hour, oldest first. An hour's sensors are counted first
// (the rows of each in the hour), a piece of the hour per step; then each slice takes a group
// of those sensors whose rows add up to the slice size, deletes them through the index on
// (sensor_id, timemeasure) and brings only those sensors' buckets in line, so that its cost
// follows its rows, whatever the rest of the table holds. A sensor with more rows in the hour
// than a slice takes is cut in time within the hour. Slice size and counting piece follow the
// time the last of their steps took.
class PurgeSlicer
{
public:
    // Time one step may hold the writer, in ms.
    static constexpr int kTargetMs = 6;

    PurgeSlicer(QSqlDatabase& db, int dbType);

    // Everything older than cutoff (UTC seconds) is to go; replaces an unfinished purge.
    void start(qint64 cutoff);
    bool active() const { return cutoff > 0; }
    // One step: a piece of an hour's sensors counted, or one slice deleted in its own
    // transaction. False with the database's text: the step is rolled back and tried again
    // later.
    bool runSlice(QString* error);
    int rowsPerSlice() const { return sliceRows; }
    void setRowsPerSlice(int rows) { sliceRows = rows; }

private:
    struct SensorRows {
        qint64 sensorId;
        qint64 rows; // still to go in the hour
    };

    bool findHour(QString* error);
    bool countSensors(QString* error);
    bool deleteSlice(QString* error);

    QSqlDatabase& db;
    int dbType;
    qint64 cutoff = 0;
    // The hour being purged: rows in [from, to) go; `to` is the hour's end or the cutoff.
    bool haveHour = false;
    qint64 from = 0;
    qint64 to = 0;
    // Its sensors counted so far, in [from, countedTo).
    qint64 countedTo = 0;
    QMap<qint64, qint64> counted;
    // Once counted: its sensors still holding rows there, from `next` on; the first of them
    // may have lost its rows before `pieceFrom` already, when it is cut in time.
    QVector<SensorRows> sensors;
    int next = 0;
    qint64 pieceFrom = 0;
    int sliceRows = 200;
    int countSeconds = 3600;
};
