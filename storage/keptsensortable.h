#pragma once

#include <QElapsedTimer>
#include <QHash>
#include <QSet>
#include <QString>
#include <QVariantList>
#include <QVector>

#include "storage/roomsummary.h"
#include "storage/tablequeries.h"
#include "storage/tablerows.h"

// The sensors' summary table in the order of their names (SQLite), with each row's room, kept
// between loads over the kept sums (WindowSummary) and patched at each load for the sensors
// whose sums were made again: a refresh reads the rows of the sensors that reported, not those
// of every sensor. An order by name does not move with the values, so a patched row keeps its
// place. The table is read whole instead when the sums were all made again, the request
// differs (the sensors, the window's end, the order), a sensor comes into the table or leaves
// it, the registry changed less than kRegistryLagMs ago (its writes may still wait in the
// writer's queue) and at least every kWholeEveryMs: as often as the sums are all made again,
// so that ten thousand sensors are not read whole more often than they are summed whole.
class KeptSensorTable
{
public:
    using Runner = TableRunner;

    // Brings the table to the kept sums, after an update that made `changed` sensors' sums
    // again (all of them where `rebuilt`). `order` orders by name. False with the reason in
    // `error`; the table is then read whole next time.
    bool refresh(const TableRequest& request, const QString& order, const QVariantList& changed, bool rebuilt,
        const Runner& run, QString* error);
    void reset() { valid = false; }

    // The sensors' table as the window shows it.
    const QVector<QVector<QVariant>>& rows() const { return table; }
    // Each row's room and the values the rooms are summed from.
    const QVector<RoomSummary::SensorValues>& values() const { return valuesOf; }
    const QString& order() const { return tableOrder; }

    static constexpr qint64 kRegistryLagMs = 5000;
    static constexpr qint64 kWholeEveryMs = 60000;

private:
    bool readWhole(const TableRequest& request, const QString& order, const Runner& run, QString* error);
    // Puts the rows of the `changed` sensors in place; `whole` is set where one of them comes
    // into the table or leaves it. False with the reason in `error`.
    bool patch(const QVariantList& changed, const Runner& run, QString* error, bool* whole);

    QVector<QVector<QVariant>> table;
    QVector<RoomSummary::SensorValues> valuesOf;
    QHash<qint64, int> rowOf;
    QSet<QString> checked;
    TableRequest request;
    QString tableOrder;
    quint64 registry = 0;
    QElapsedTimer sinceWhole;
    QElapsedTimer sinceRegistry;
    bool valid = false;
};
