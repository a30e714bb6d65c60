#pragma once

#include <QSqlDatabase>
#include <QString>

// The purge of expired measurements cut into slices of a few thousand rows, each deleted in a
// transaction of its own together with the aggregates' update, so that the writer goes back
// to the queue between slices and the intake is never held behind one long DELETE. The slice
// size follows the time the last slice took.
class PurgeSlicer
{
public:
    // Time one slice may hold the writer, in ms.
    static constexpr int kTargetMs = 6;

    PurgeSlicer(QSqlDatabase& db, int dbType);

    // Everything older than cutoff (UTC seconds) is to go; replaces an unfinished purge.
    void start(qint64 cutoff);
    bool active() const { return cutoff > 0; }
    // Deletes one slice in its own transaction. False with the database's text: the slice is
    // rolled back and tried again later.
    bool runSlice(QString* error);
    int rowsPerSlice() const { return sliceRows; }
    void setRowsPerSlice(int rows) { sliceRows = rows; }

private:
    bool findBounds(qint64* to, QString* error);

    QSqlDatabase& db;
    int dbType;
    qint64 cutoff = 0;
    qint64 from = -1; // -1: not looked up yet
    int sliceRows = 2000;
};
