#include "storage/purgeslicer.h"

#include <QElapsedTimer>
#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>

#include "storage/measureaggregates.h"
#include "storage/sqlquerybuilder.h"

namespace
{

constexpr int kMinRows = 20;
constexpr int kMaxRows = 200000;

} // namespace

PurgeSlicer::PurgeSlicer(QSqlDatabase& db, int dbType)
    : db(db)
    , dbType(dbType)
{
}

void PurgeSlicer::start(qint64 newCutoff)
{
    cutoff = newCutoff;
    from = -1;
}

bool PurgeSlicer::findBounds(qint64* to, QString* error)
{
    QSqlQuery query(db);
    query.setForwardOnly(true);
    if (from < 0) {
        if (!query.exec(SqlQueryBuilder::oldestMeasurement())) {
            *error = query.lastError().text();
            return false;
        }
        if (!query.next() || query.value(0).isNull() || query.value(0).toLongLong() >= cutoff) {
            *to = -1;
            return true;
        }
        from = query.value(0).toLongLong();
        query.finish();
    }
    if (from >= cutoff) {
        *to = -1;
        return true;
    }
    query.prepare(SqlQueryBuilder::purgeSliceEnd(sliceRows));
    query.addBindValue(from);
    query.addBindValue(cutoff);
    if (!query.exec()) {
        *error = query.lastError().text();
        return false;
    }
    // Rows sharing the boundary second go with the next slice; a second holding more rows
    // than a slice still goes whole, so the purge always moves on.
    *to = query.next() ? qMax(query.value(0).toLongLong(), from + 1) : cutoff;
    return true;
}

bool PurgeSlicer::runSlice(QString* error)
{
    if (!active())
        return true;
    QElapsedTimer timer;
    timer.start();
    qint64 to = -1;
    if (!findBounds(&to, error))
        return false;
    if (to < 0) {
        cutoff = 0;
        return true;
    }
    if (!db.transaction()) {
        *error = db.lastError().text();
        return false;
    }
    QSqlQuery query(db);
    query.prepare(SqlQueryBuilder::purgeSliceDelete());
    query.addBindValue(from);
    query.addBindValue(to);
    bool ok = query.exec();
    if (!ok)
        *error = query.lastError().text();
    query.finish();
    ok = ok && MeasureAggregates::afterPurge(db, dbType, from, to, error);
    if (ok && !db.commit()) {
        *error = db.lastError().text();
        ok = false;
    }
    if (!ok) {
        db.rollback();
        return false;
    }
    from = to;
    if (from >= cutoff)
        cutoff = 0;
    // Shrinks at once in proportion to an overshoot, grows slowly: a slice that ran long
    // is what the intake feels, a few more short slices are not.
    const qint64 took = timer.elapsed();
    if (took > kTargetMs)
        sliceRows = int(qMax<qint64>(kMinRows, sliceRows * kTargetMs / took));
    else if (took < kTargetMs / 3)
        sliceRows = qMin(sliceRows + sliceRows / 10 + 1, kMaxRows);
    return true;
}
