#include "storage/reportsource.h"

#include <QAtomicInt>
#include <QHash>
#include <QSqlError>
#include <QSqlQuery>

#include "storage/sqlbasemodule.h"
#include "storage/sqlstatement.h"

ReportSource::ReportSource()
{
    static QAtomicInt serial;
    m_name = QStringLiteral("reports-%1").arg(serial.fetchAndAddRelaxed(1));
}

ReportSource::~ReportSource()
{
    if (m_db.isValid()) {
        m_db.close();
        m_db = QSqlDatabase();
        QSqlDatabase::removeDatabase(m_name);
    }
}

bool ReportSource::open(QString* error)
{
    m_db = SQLBaseModule::openSeparateConnection(m_name);
    if (!m_db.isOpen()) {
        if (error)
            *error = m_db.lastError().text();
        return false;
    }
    return true;
}

bool ReportSource::run(const QString& statement, const QVariantList& values, const QHash<qint64, int>& positions,
    const RowSink& sink, QString* error)
{
    QSqlQuery query(m_db);
    query.setForwardOnly(true);
    if (!SqlStatement::exec(query, statement, values, error))
        return false;
    while (query.next()) {
        if (!sink(positions.value(query.value(0).toLongLong()), query.value(1).toLongLong(), query.value(2),
                query.value(3), query.value(4)))
            break;
    }
    return query.lastError().isValid() ? SqlStatement::failed(query, error) : true;
}

bool ReportSource::measurements(const QString& eui64, qint64 low, qint64 high, const RowSink& sink, QString* error)
{
    return run(QStringLiteral("SELECT m.sensor_id, m.timemeasure, m.temperature, m.wetness, m.battery "
                              "FROM measure m JOIN sensors s ON s.id = m.sensor_id WHERE s.EUI64 = ? "
                              "AND m.timemeasure >= ? AND m.timemeasure <= ? ORDER BY m.timemeasure"),
        { eui64, low, high }, {}, sink, error);
}

qint64 ReportSource::count(const QString& eui64, qint64 low, qint64 high)
{
    QSqlQuery query(m_db);
    query.setForwardOnly(true);
    const bool read = SqlStatement::exec(query,
                          QStringLiteral("SELECT COUNT(*) FROM measure m JOIN sensors s ON s.id = m.sensor_id "
                                         "WHERE s.EUI64 = ? AND m.timemeasure >= ? AND m.timemeasure <= ?"),
                          { eui64, low, high }, nullptr)
        && query.next();
    return read ? query.value(0).toLongLong() : -1;
}

bool ReportSource::measurements(const QStringList& eui64s, qint64 low, qint64 high, const RowSink& sink, QString* error,
    qint64 anchor, qint64 every, qint64 within)
{
    QHash<qint64, int> positions;
    {
        QSqlQuery ids(m_db);
        ids.setForwardOnly(true);
        if (!ids.exec(QStringLiteral("SELECT id, EUI64 FROM sensors")))
            return SqlStatement::failed(ids, error);
        while (ids.next()) {
            const int position = eui64s.indexOf(ids.value(1).toString());
            if (position >= 0)
                positions.insert(ids.value(0).toLongLong(), position);
        }
    }
    if (positions.isEmpty())
        return true;
    QStringList marks;
    for (int i = 0; i < positions.size(); ++i)
        marks << QStringLiteral("?");
    // The unary plus keeps the sensor condition off the sensor index, so the read follows the
    // time index along the table.
    QVariantList values { low, high };
    for (auto it = positions.cbegin(); it != positions.cend(); ++it)
        values << it.key();
    if (every > 0)
        values << anchor << every << within;
    return run(QStringLiteral("SELECT sensor_id, timemeasure, temperature, wetness, battery FROM measure "
                              "WHERE timemeasure >= ? AND timemeasure <= ? AND +sensor_id IN (%1)%2 "
                              "ORDER BY timemeasure")
                   .arg(marks.join(QLatin1Char(',')),
                       every > 0 ? QStringLiteral(" AND (timemeasure - ?) % ? <= ?") : QString()),
        values, positions, sink, error);
}
