#include "storage/tablereader.h"

#include <QElapsedTimer>
#include <QLoggingCategory>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>

#include "storage/roomsummary.h"

// The summary statements, about 2 KB each, at every refresh: off unless asked for with
// QT_LOGGING_RULES="ostrivel.views.sql.debug=true".
Q_LOGGING_CATEGORY(lcViewSql, "ostrivel.views.sql", QtInfoMsg)

TableReader::TableReader(const void* owner)
    : connection(owner)
{
}

TableQueries::Query TableReader::queryOf(const TableRequest& in)
{
    const auto which = TableQueries::Table(in.table);
    const QString order = TableQueries::orderClause(which, in.section, in.ascending);
    if (which != TableQueries::Measurements && in.aggregates) {
        // Whole days and hours come from the aggregates, so a year costs about what a day does.
        qint64 first = 0;
        qint64 last = 0;
        TableQueries::windowOf(in.filter, &first, &last);
        if (which == TableQueries::Locations)
            return TableQueries::locationsSummary(in.dbType, in.sensors, first, last, order, in.everySensor);
        return TableQueries::sensorsSummary(in.dbType, in.sensors, first, last, order, in.everySensor);
    }
    TableQueries::Query query;
    switch (which) {
    case TableQueries::Locations:
        query.text = TableQueries::locationsQuery(in.dbType, in.sensors.size(), in.timeCondition, order);
        break;
    case TableQueries::Sensors:
        query.text = TableQueries::sensorsQuery(in.dbType, in.sensors.size(), in.timeCondition, order);
        break;
    default: {
        if (in.aggregates) {
            // A value order reads the hours that can hold the first rows, not the whole window.
            query = TableQueries::measurementsByValue(
                in.dbType, in.sensors, in.filter, in.section, in.ascending, in.style, in.maxRows, in.batteryBounds);
            if (!query.text.isEmpty())
                return query;
        }
        query.text = TableQueries::measurementsQuery(
            in.dbType, in.sensors.size(), in.timeCondition, order, in.style, in.maxRows);
        break;
    }
    }
    for (const QString& eui : in.sensors)
        query.values << eui;
    query.values << in.filter;
    return query;
}

TableRows TableReader::read(const TableRequest& request)
{
    if (request.table != TableQueries::Measurements && request.aggregates) {
        TableRows kept = readKept(request);
        if (kept.error.isEmpty() || connection.stopped())
            return kept;
        qCDebug(lcViewSql).noquote() << "summed plainly:" << kept.error;
    }
    const TableQueries::Query q = queryOf(request);
    if (request.table != TableQueries::Measurements)
        qCDebug(lcViewSql).noquote() << q.text;
    // A database type without such a statement shows the table empty.
    if (q.text.isEmpty())
        return TableRows();
    return run(q);
}

TableRows TableReader::readKept(const TableRequest& in)
{
    QElapsedTimer clock;
    clock.start();
    const auto which = TableQueries::Table(in.table);
    const QString order = TableQueries::orderClause(which, in.section, in.ascending);
    TableRows result;
    if (in.dbType != SqlQueryBuilder::SQLite) {
        // MySQL orders names by its own collation: the rooms are summed and ordered there.
        if (!updateSums(in, &result.error))
            return result;
        const TableQueries::Query q = which == TableQueries::Locations
            ? WindowSummary::locations(in.dbType, in.sensors, in.everySensor, order)
            : WindowSummary::sensors(in.dbType, in.sensors, in.everySensor, order);
        qCDebug(lcViewSql).noquote() << q.text;
        result = run(q);
    } else if (which == TableQueries::Sensors && !order.contains(QLatin1String(" nam"))) {
        // Ordered by a value, SQLite sorts the sensors anew; the table by name, which the rooms
        // are summed from, follows the sums all the same.
        const TableQueries::Query q = WindowSummary::sensors(in.dbType, in.sensors, in.everySensor, order);
        qCDebug(lcViewSql).noquote() << q.text;
        if (keepByName(in, byName.order(), &result.error))
            result = run(q);
    } else if (keepByName(in, which == TableQueries::Sensors ? order : byName.order(), &result.error)) {
        if (which == TableQueries::Sensors) {
            result.rows = byName.rows();
        } else {
            const TableRows names = run({ QStringLiteral("SELECT id, name FROM locations"), {} });
            result.error = names.error;
            QHash<qint64, QString> rooms;
            for (const QVector<QVariant>& room : names.rows)
                rooms.insert(room[0].toLongLong(), room[1].toString());
            if (result.error.isEmpty())
                result.rows = RoomSummary::rows(byName.values(), rooms, in.section, in.ascending);
        }
    }
    result.ms = clock.elapsed();
    return result;
}

bool TableReader::updateSums(const TableRequest& in, QString* error, QVariantList* changed, bool* rebuilt)
{
    qint64 first = 0;
    qint64 last = 0;
    TableQueries::windowOf(in.filter, &first, &last);
    return summary.update(
        [this](const TableQueries::Query& q) { return run(q); }, in.dbType, first, last, error, changed, rebuilt);
}

bool TableReader::keepByName(const TableRequest& in, QString order, QString* error)
{
    // The rooms take the sensors in any order by name; the first load orders them going up.
    if (order.isEmpty())
        order = TableQueries::orderClause(TableQueries::Sensors, 0, false);
    QVariantList changed;
    bool rebuilt = false;
    if (!updateSums(in, error, &changed, &rebuilt)) {
        byName.reset();
        return false;
    }
    return byName.refresh(
        in, order, changed, rebuilt,
        [this](const TableQueries::Query& q) {
            qCDebug(lcViewSql).noquote() << q.text;
            return run(q);
        },
        error);
}

TableRows TableReader::run(const TableQueries::Query& q)
{
    QElapsedTimer clock;
    clock.start();
    TableRows result;
    QSqlDatabase db = connection.open(&result.error);
    if (!db.isOpen())
        return result;
    // The tables ask for the same statements at every refresh, with thousands of checked
    // sensors in them: each is prepared once and bound anew, so that a refresh does not parse it
    // again. A statement lets go of the database's snapshot once its rows are read.
    QSqlQuery* query = statements.get(db, q.text, &result.error);
    if (query) {
        for (int i = 0; i < q.values.size(); ++i)
            query->bindValue(i, q.values[i]);
        if (connection.exec(*query, &result.error)) {
            const int columns = query->record().count();
            while (!connection.stopped() && query->next()) {
                QVector<QVariant> row(columns);
                for (int i = 0; i < columns; ++i)
                    row[i] = query->value(i);
                result.rows.append(row);
            }
            // Rows up to a failure or a stop are not the table: none are shown.
            if (!connection.complete(*query, &result.error))
                result.rows.clear();
        }
        query->finish();
    }
    // After a failure the statements are prepared afresh and the sums made again (the
    // connection may be new).
    if (!result.error.isEmpty()) {
        statements.clear();
        summary.reset();
    }
    result.ms = clock.elapsed();
    return result;
}

void TableReader::stop()
{
    connection.stop();
}

void TableReader::close()
{
    byName.reset();
    statements.clear();
    summary.reset();
    connection.close();
}
