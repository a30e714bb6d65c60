#include "storage/reportsource.h"

#include <QAtomicInt>
#include <QSqlError>

#include "storage/sqlbasemodule.h"

namespace
{

bool failed(const QSqlQuery& query, QString* error)
{
    if (error)
        *error = query.lastError().text();
    return false;
}

} // namespace

ReportSource::ReportSource()
{
    static QAtomicInt serial;
    m_name = QStringLiteral("reports-%1").arg(serial.fetchAndAddRelaxed(1));
}

ReportSource::~ReportSource()
{
    m_averages.reset();
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

bool ReportSource::sensorId(const QString& eui64, qint64* id, QString* error)
{
    QSqlQuery query(m_db);
    query.setForwardOnly(true);
    query.prepare(QStringLiteral("SELECT id FROM sensors WHERE EUI64 = ?"));
    query.addBindValue(eui64);
    if (!query.exec())
        return failed(query, error);
    *id = query.next() ? query.value(0).toLongLong() : -1;
    return true;
}

bool ReportSource::measurements(const QString& eui64, qint64 low, qint64 high, const RowSink& sink, QString* error)
{
    qint64 id = -1;
    if (!sensorId(eui64, &id, error))
        return false;
    if (id < 0)
        return true;
    QSqlQuery query(m_db);
    query.setForwardOnly(true);
    query.prepare(QStringLiteral("SELECT timemeasure, temperature, wetness, battery FROM measure "
                                 "WHERE sensor_id = ? AND timemeasure >= ? AND timemeasure <= ? ORDER BY timemeasure"));
    query.addBindValue(id);
    query.addBindValue(low);
    query.addBindValue(high);
    if (!query.exec())
        return failed(query, error);
    while (query.next()) {
        if (!sink(query.value(0).toLongLong(), query.value(1), query.value(2), query.value(3)))
            break;
    }
    if (query.lastError().isValid())
        return failed(query, error);
    return true;
}

bool ReportSource::averages(
    const QString& eui64, qint64 low, qint64 high, QVariant* temperature, QVariant* wetness, QString* error)
{
    *temperature = *wetness = QVariant();
    if (!m_averagesReady || eui64 != m_averagesFor) {
        m_averagesReady = false;
        if (!sensorId(eui64, &m_averagesId, error))
            return false;
        m_averagesFor = eui64;
        m_averages = std::make_unique<QSqlQuery>(m_db);
        m_averages->setForwardOnly(true);
        if (!m_averages->prepare(QStringLiteral("SELECT AVG(temperature), AVG(wetness) FROM measure "
                                                "WHERE sensor_id = ? AND timemeasure >= ? AND timemeasure <= ?")))
            return failed(*m_averages, error);
        m_averagesReady = true;
    }
    if (m_averagesId < 0)
        return true;
    m_averages->bindValue(0, m_averagesId);
    m_averages->bindValue(1, low);
    m_averages->bindValue(2, high);
    if (!m_averages->exec())
        return failed(*m_averages, error);
    if (m_averages->next()) {
        *temperature = m_averages->value(0);
        *wetness = m_averages->value(1);
    }
    m_averages->finish();
    return true;
}
