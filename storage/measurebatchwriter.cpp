#include "storage/measurebatchwriter.h"

#include <QSqlError>
#include <QVariant>

#include <cmath>

#include "storage/databasewriter.h"
#include "storage/measureaggregates.h"
#include "storage/sqlbasemodule.h"
#include "storage/sqlquerybuilder.h"

namespace
{

// A measured value as it is stored: rounded to hundredths where asked, then cut to the six
// significant digits the database has always been given; NULL when absent or not a number.
QVariant storedValue(bool present, double value, bool round)
{
    if (!present || !std::isfinite(value))
        return QVariant(QVariant::Double);
    const double shown = QString::number(round ? SQLBaseModule::roundToHundredths(value) : value, 'g', 6).toDouble();
    return std::isfinite(shown) ? QVariant(shown) : QVariant(QVariant::Double);
}

void bindRow(QSqlQuery& query, qint64 sensorId, qint64 time, const QVariant& t, const QVariant& w, const QVariant& b)
{
    query.addBindValue(sensorId);
    query.addBindValue(time);
    query.addBindValue(t);
    query.addBindValue(w);
    query.addBindValue(b);
}

} // namespace

MeasureBatchWriter::MeasureBatchWriter(QSqlDatabase& db, int dbType)
    : db(db)
    , dbType(dbType)
{
}

void MeasureBatchWriter::reset()
{
    statements.clear();
    ids.clear();
}

QSqlQuery& MeasureBatchWriter::prepared(const QString& statement)
{
    auto it = statements.find(statement);
    if (it == statements.end()) {
        it = statements.insert(statement, QSqlQuery(db));
        it->setForwardOnly(true);
        it->prepare(statement);
    }
    return *it;
}

bool MeasureBatchWriter::exec(QSqlQuery& query, const QString& statement, QString* error)
{
    if (query.exec())
        return true;
    *error = query.lastError().text();
    // A statement that failed is prepared afresh next time, whatever state the driver left.
    statements.remove(statement);
    return false;
}

bool MeasureBatchWriter::run(const QString& statement, const QVariantList& values, QString* error)
{
    QSqlQuery& query = prepared(statement);
    for (const QVariant& value : values)
        query.addBindValue(value);
    return exec(query, statement, error);
}

bool MeasureBatchWriter::resolve(const QString& eui64, qint64* id, QString* error)
{
    auto it = ids.constFind(eui64);
    if (it != ids.constEnd()) {
        *id = *it;
        return true;
    }
    const QString statement = SqlQueryBuilder::sensorIdLookup(dbType);
    QSqlQuery& query = prepared(statement);
    for (int i = statement.count(QLatin1Char('?')); i > 0; --i)
        query.addBindValue(eui64);
    if (!exec(query, statement, error))
        return false;
    *id = query.next() ? query.value(0).toLongLong() : 0;
    query.finish();
    ids.insert(eui64, *id);
    return true;
}

bool MeasureBatchWriter::write(const std::vector<PendingMeasurement>& batch, int* unknown, QString* error)
{
    QVector<Row> rows;
    rows.reserve(int(batch.size()));
    QHash<qint64, int> lastOfSensor;
    *unknown = 0;
    for (const PendingMeasurement& m : batch) {
        qint64 id = 0;
        if (!resolve(m.eui64, &id, error))
            return false;
        if (!id) {
            ++*unknown;
            continue;
        }
        lastOfSensor.insert(id, rows.size());
        rows.append({ id, m.arrivedAt, storedValue(m.data.hasTemperature, m.data.temperature, true),
            storedValue(m.data.hasWetness, m.data.wetness, true),
            storedValue(m.data.hasBattery, m.data.battery, false) });
    }
    if (rows.isEmpty())
        return true;
    if (!insertRows(rows, error))
        return false;

    const QString last = SqlQueryBuilder::lastUpsertById(dbType);
    for (int index : qAsConst(lastOfSensor)) {
        const Row& r = rows[index];
        QSqlQuery& query = prepared(last);
        bindRow(query, r.sensorId, r.time, r.temperature, r.wetness, r.battery);
        if (!exec(query, last, error))
            return false;
    }

    QVector<AggregateInput> inputs;
    inputs.reserve(rows.size());
    for (const Row& r : qAsConst(rows))
        inputs.append({ r.sensorId, r.time, r.temperature, r.wetness, r.battery });
    // The aggregates' statements are kept with the others: parsing them anew took most of a
    // batch's time. One the database refuses to prepare is left to the aggregates to prepare
    // again, so that its error (which names their table) is the one told; after a failure
    // they are all prepared afresh, as a failed insert's is.
    const auto kept = [this](const QString& statement) -> QSqlQuery* {
        QSqlQuery& query = prepared(statement);
        if (!query.lastError().isValid())
            return &query;
        statements.remove(statement);
        return nullptr;
    };
    if (MeasureAggregates::add(db, dbType, inputs, error, kept))
        return true;
    statements.clear();
    return false;
}

bool MeasureBatchWriter::insertRows(const QVector<Row>& rows, QString* error)
{
    // SQLite runs in-process, so one prepared single-row statement is as fast as any; over
    // ODBC every execution is a round trip, so MySQL gets them a hundred rows at a time.
    const int perInsert = dbType == SqlQueryBuilder::MySQL ? kRowsPerInsert : 1;
    for (int first = 0; first < rows.size(); first += perInsert) {
        const int count = qMin(perInsert, rows.size() - first);
        const QString statement = SqlQueryBuilder::measureRowsInsert(count);
        QSqlQuery& query = prepared(statement);
        for (int i = first; i < first + count; ++i)
            bindRow(query, rows[i].sensorId, rows[i].time, rows[i].temperature, rows[i].wetness, rows[i].battery);
        if (!exec(query, statement, error))
            return false;
    }
    return true;
}
