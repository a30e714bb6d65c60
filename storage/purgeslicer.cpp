#include "storage/purgeslicer.h"

#include <QElapsedTimer>
#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>

#include "storage/measureaggregates.h"
#include "storage/sqlquerybuilder.h"
#include "storage/sqlstatement.h"

namespace
{

constexpr int kMinRows = 20;
constexpr int kMaxRows = 200000;
// Sensors one slice names at most: an hour of many sensors with a row or two each would
// otherwise make statements of thousands of values.
constexpr int kMaxGroup = 200;
constexpr qint64 kHour = 3600;
constexpr int kMinCountSeconds = 60;

// Shrinks at once in proportion to an overshoot, grows slowly: a step that ran long is what
// the intake feels, a few more short steps are not.
int adapted(int size, const QElapsedTimer& timer, int min, int max)
{
    const double took = timer.nsecsElapsed() / 1e6;
    if (took > PurgeSlicer::kTargetMs)
        return qMax(min, int(size * PurgeSlicer::kTargetMs / took));
    if (took < PurgeSlicer::kTargetMs / 2)
        return qMin(size + size / 10 + 1, max);
    return size;
}

} // namespace

PurgeSlicer::PurgeSlicer(QSqlDatabase& db, int dbType)
    : db(db)
    , dbType(dbType)
{
}

void PurgeSlicer::start(qint64 newCutoff)
{
    cutoff = newCutoff;
    haveHour = false;
    counted.clear();
    sensors.clear();
    next = 0;
}

bool PurgeSlicer::runSlice(QString* error)
{
    if (!active())
        return true;
    return next < sensors.size() ? deleteSlice(error) : countSensors(error);
}

bool PurgeSlicer::findHour(QString* error)
{
    QSqlQuery query(db);
    query.setForwardOnly(true);
    // After the first hour, the next one that holds rows: empty hours are skipped at once.
    if (!haveHour) {
        if (!query.exec(SqlQueryBuilder::oldestMeasurement()))
            return SqlStatement::failed(query, error);
    } else if (!SqlStatement::exec(query, SqlQueryBuilder::purgeNextTime(), { to, cutoff }, error)) {
        return false;
    }
    if (!query.next() || query.value(0).isNull() || query.value(0).toLongLong() >= cutoff) {
        cutoff = 0;
        return true;
    }
    // Nothing lies between the last hour and this row, so the range starts with the hour:
    // a sensor's bucket of a whole hour is then simply dropped.
    const qint64 oldest = query.value(0).toLongLong();
    haveHour = true;
    from = qMin(oldest, MeasureAggregates::hourOf(oldest));
    to = qMin(MeasureAggregates::hourOf(oldest) + kHour, cutoff);
    countedTo = from;
    counted.clear();
    return true;
}

bool PurgeSlicer::countSensors(QString* error)
{
    QElapsedTimer timer;
    timer.start();
    if (!haveHour || countedTo >= to) {
        if (!findHour(error))
            return false;
        if (!active())
            return true;
    }
    // On MySQL the sensor of each row is read from the table itself, which takes a while for
    // an hour of many sensors: the hour is counted in pieces.
    const qint64 pieceTo = to - countedTo > countSeconds ? countedTo + countSeconds : to;
    QSqlQuery query(db);
    query.setForwardOnly(true);
    if (!SqlStatement::exec(query, SqlQueryBuilder::purgeSensorRows(), { countedTo, pieceTo }, error))
        return false;
    // Sensor ids no longer in "sensors" (orphans of old databases) are counted and purged too.
    while (query.next())
        counted[query.value(0).toLongLong()] += query.value(1).toLongLong();
    countedTo = pieceTo;
    if (countedTo >= to) {
        sensors.clear();
        for (auto it = counted.cbegin(); it != counted.cend(); ++it)
            sensors << SensorRows { it.key(), it.value() };
        counted.clear();
        next = 0;
        pieceFrom = from;
    }
    countSeconds = adapted(countSeconds, timer, kMinCountSeconds, int(kHour));
    return true;
}

bool PurgeSlicer::deleteSlice(QString* error)
{
    QElapsedTimer timer;
    timer.start();
    QVector<qint64> group;
    qint64 planned = 0;
    qint64 sliceFrom = from;
    qint64 sliceTo = to;
    const SensorRows first = sensors[next];
    const bool cut = pieceFrom > from || first.rows > sliceRows;
    if (cut) {
        // The sensor alone, over its share of what is left of the hour, a second at least:
        // the readings of one sensor are spread evenly enough for that.
        group << first.sensorId;
        sliceFrom = pieceFrom;
        const qint64 span = to - pieceFrom;
        const qint64 step = qMax<qint64>(1, qint64(double(span) * sliceRows / double(first.rows)));
        sliceTo = step < span ? pieceFrom + step : to;
        planned = qMin<qint64>(first.rows, sliceRows);
    } else {
        for (int i = next; i < sensors.size() && group.size() < kMaxGroup; ++i) {
            if (!group.isEmpty() && planned + sensors[i].rows > sliceRows)
                break;
            group << sensors[i].sensorId;
            planned += sensors[i].rows;
        }
    }

    if (!db.transaction()) {
        *error = db.lastError().text();
        return false;
    }
    QVariantList values;
    for (qint64 id : qAsConst(group))
        values << id;
    values << sliceFrom << sliceTo;
    QSqlQuery query(db);
    bool ok = SqlStatement::exec(query, SqlQueryBuilder::purgeSensorsDelete(group.size()), values, error);
    const int deleted = ok ? query.numRowsAffected() : 0;
    query.finish();
    ok = ok && MeasureAggregates::afterPurge(db, dbType, group, sliceFrom, sliceTo, error);
    if (ok && !db.commit()) {
        *error = db.lastError().text();
        ok = false;
    }
    if (!ok) {
        db.rollback();
        return false;
    }

    if (sliceTo < to) {
        pieceFrom = sliceTo;
        sensors[next].rows = qMax<qint64>(1, first.rows - (deleted >= 0 ? deleted : planned));
    } else {
        next += group.size();
        pieceFrom = from;
    }
    if (next >= sensors.size() && to >= cutoff)
        cutoff = 0;
    sliceRows = adapted(sliceRows, timer, kMinRows, kMaxRows);
    return true;
}
