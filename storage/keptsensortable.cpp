#include "storage/keptsensortable.h"

#include "storage/windowsummary.h"

namespace
{

// The sensors' table's columns; the room, the sensor id and its address follow.
const int kColumns = 8;

// A row as the table shows it: its columns, then the address, which its colours follow.
QVector<QVariant> tableRow(const QVector<QVariant>& row)
{
    return row.mid(0, kColumns) << row.value(kColumns + 2);
}

} // namespace

bool KeptSensorTable::refresh(const TableRequest& in, const QString& order, const QVariantList& changed, bool rebuilt,
    const Runner& run, QString* error)
{
    if (in.registry != registry) {
        registry = in.registry;
        sinceRegistry.start();
    }
    qint64 first = 0;
    qint64 end = 0;
    qint64 wasFirst = 0;
    qint64 wasEnd = 0;
    TableQueries::windowOf(in.filter, &first, &end);
    TableQueries::windowOf(request.filter, &wasFirst, &wasEnd);
    const bool same = valid && !rebuilt && order == tableOrder && in.dbType == request.dbType && end == wasEnd
        && in.everySensor == request.everySensor && in.sensors == request.sensors
        && (!sinceRegistry.isValid() || sinceRegistry.elapsed() >= kRegistryLagMs)
        && sinceWhole.elapsed() < kWholeEveryMs;
    bool whole = !same;
    if (same && !changed.isEmpty() && !patch(changed, run, error, &whole))
        return valid = false;
    if (whole && !readWhole(in, order, run, error))
        return valid = false;
    request = in;
    return valid = true;
}

bool KeptSensorTable::readWhole(const TableRequest& in, const QString& order, const Runner& run, QString* error)
{
    const TableRows whole = run(WindowSummary::sensors(in.dbType, in.sensors, in.everySensor, order, true));
    if (!whole.error.isEmpty()) {
        *error = whole.error;
        return false;
    }
    table.clear();
    table.reserve(whole.rows.size());
    valuesOf.clear();
    valuesOf.reserve(whole.rows.size());
    rowOf.clear();
    rowOf.reserve(whole.rows.size());
    for (const QVector<QVariant>& row : whole.rows) {
        rowOf.insert(row.value(kColumns + 1).toLongLong(), table.size());
        valuesOf << RoomSummary::valuesOf(row, row.value(kColumns));
        table << tableRow(row);
    }
    checked = in.everySensor ? QSet<QString>() : QSet<QString>(in.sensors.cbegin(), in.sensors.cend());
    tableOrder = order;
    sinceWhole.start();
    return true;
}

bool KeptSensorTable::patch(const QVariantList& changed, const Runner& run, QString* error, bool* whole)
{
    const TableRows rows = run(WindowSummary::sensorsById(request.dbType, changed));
    if (!rows.error.isEmpty()) {
        *error = rows.error;
        return false;
    }
    QSet<qint64> patched;
    for (const QVector<QVariant>& row : rows.rows) {
        const qint64 id = row.value(kColumns + 1).toLongLong();
        const bool shown = request.everySensor || checked.contains(row.value(kColumns + 2).toString());
        const auto at = rowOf.constFind(id);
        if (at == rowOf.cend()) {
            // A sensor with its first rows in the window takes a place of its own.
            if (shown)
                *whole = true;
            continue;
        }
        table[*at] = tableRow(row);
        valuesOf[*at] = RoomSummary::valuesOf(row, row.value(kColumns));
        patched.insert(id);
    }
    // A sensor without rows in the window any more leaves the table.
    for (const QVariant& id : changed) {
        if (rowOf.contains(id.toLongLong()) && !patched.contains(id.toLongLong()))
            *whole = true;
    }
    return true;
}
