#include "datagenerator.h"

#include <QDate>
#include <QDateTime>
#include <QRandomGenerator>
#include <QSqlError>
#include <QSqlQuery>
#include <QVariantList>
#include <QVector>

#include <cmath>

#include "storage/measureaggregates.h"
#include "storage/sqlbasemodule.h"
#include "storage/sqlquerybuilder.h"

namespace
{

// Rows per INSERT: one statement carries many rows, which is what makes MySQL over ODBC fast;
// 200 rows of 5 values stay far below the bound-value limits of both databases.
const int kRowsPerStatement = 200;
// Rows per transaction.
const int kRowsPerCommit = 50000;

bool failed(const QSqlQuery& query, QString* error)
{
    *error = query.lastError().text() + QStringLiteral(" [") + query.lastQuery().left(200) + QLatin1Char(']');
    return false;
}

QString multiRowInsert(int rows)
{
    QStringList tuples;
    for (int i = 0; i < rows; ++i)
        tuples << QStringLiteral("(?,?,?,?,?)");
    return QStringLiteral("INSERT INTO measure (sensor_id, timemeasure, temperature, wetness, battery) VALUES ")
        + tuples.join(QLatin1Char(','));
}

} // namespace

DataGenerator::DataGenerator(QSqlDatabase db, const Options& options)
    : m_db(db)
    , m_options(options)
{
}

bool DataGenerator::run(QString* error)
{
    int firstLocation = 0;
    if (!m_db.transaction())
        return failed(QSqlQuery(m_db), error);
    if (!addLocations(&firstLocation, error) || !addSensors(firstLocation, error)) {
        m_db.rollback();
        return false;
    }
    if (!m_db.commit())
        return failed(QSqlQuery(m_db), error);
    // The rows went into "measure" directly: the aggregates are counted again from it.
    return addMeasurements(error) && MeasureAggregates::build(m_db, m_options.type, error);
}

bool DataGenerator::addLocations(int* firstId, QString* error)
{
    QSqlQuery query(m_db);
    query.setForwardOnly(true);
    if (!query.exec(QStringLiteral("SELECT COALESCE(MAX(id), -1) FROM locations")) || !query.next())
        return failed(query, error);
    // A room's id is its place in the program's location list, so new ids follow the last.
    *firstId = query.value(0).toInt() + 1;
    query.finish();
    for (int i = 0; i < m_options.locations; ++i) {
        query.prepare(QStringLiteral("INSERT INTO locations (id, name, EUI64, ip) VALUES (?, ?, '', '')"));
        query.addBindValue(*firstId + i);
        query.addBindValue(QStringLiteral("Помещение %1").arg(*firstId + i));
        if (!query.exec())
            return failed(query, error);
    }
    return true;
}

bool DataGenerator::addSensors(int firstLocation, QString* error)
{
    QSqlQuery query(m_db);
    query.setForwardOnly(true);
    if (!query.exec(QStringLiteral("SELECT COUNT(*) FROM sensors")) || !query.next())
        return failed(query, error);
    const int existing = query.value(0).toInt();
    query.finish();
    const QString today = QDate::currentDate().toString(QStringLiteral("yyyy.MM.dd"));
    for (int i = 0; i < m_options.sensors; ++i) {
        const QString key = QStringLiteral("00137A%1").arg(existing + i, 10, 16, QLatin1Char('0')).toUpper();
        const int location = m_options.locations > 0 ? firstLocation + i % m_options.locations : 0;
        query.prepare(QStringLiteral(
            "INSERT INTO sensors (EUI64, name, location, sleepInterval, datecheck) VALUES (?, ?, ?, 60, ?)"));
        query.addBindValue(key);
        query.addBindValue(QStringLiteral("Датчик%1").arg(existing + i + 1));
        query.addBindValue(location);
        query.addBindValue(today);
        if (!query.exec())
            return failed(query, error);
        query.prepare(QStringLiteral("SELECT id FROM sensors WHERE EUI64=?"));
        query.addBindValue(key);
        if (!query.exec() || !query.next())
            return failed(query, error);
        m_sensorIds << query.value(0).toInt();
        query.finish();
    }
    return true;
}

bool DataGenerator::addMeasurements(QString* error)
{
    const qint64 end = m_options.end > 0 ? m_options.end : QDateTime::currentSecsSinceEpoch();
    const qint64 interval = qMax(1, m_options.interval);
    const qint64 readings = qint64(m_options.days) * 86400 / interval;
    const qint64 start = end - (readings - 1) * interval;
    const int count = m_sensorIds.size();
    if (count == 0 || readings <= 0)
        return true;

    QRandomGenerator random(m_options.seed);
    QVector<double> phase(count);
    for (double& p : phase)
        p = random.bounded(2 * M_PI);

    QSqlQuery full(m_db);
    full.prepare(multiRowInsert(kRowsPerStatement));
    QSqlQuery query(m_db);
    QVariantList values;
    QVector<double> last(count * 3);
    qint64 uncommitted = 0;
    m_db.transaction();
    auto flush = [&](bool force) {
        const int rows = values.size() / 5;
        if (rows == 0 || (!force && rows < kRowsPerStatement))
            return true;
        QSqlQuery* target = &full;
        if (rows != kRowsPerStatement) {
            query.prepare(multiRowInsert(rows));
            target = &query;
        }
        for (const QVariant& v : qAsConst(values))
            target->addBindValue(v);
        if (!target->exec())
            return failed(*target, error);
        m_written += rows;
        uncommitted += rows;
        values.clear();
        if (uncommitted >= kRowsPerCommit || force) {
            m_db.commit();
            m_db.transaction();
            uncommitted = 0;
        }
        return true;
    };
    for (qint64 reading = 0; reading < readings; ++reading) {
        const qint64 t = start + reading * interval;
        const double day = 2 * M_PI * double(t % 86400) / 86400.0;
        for (int s = 0; s < count; ++s) {
            const double temperature
                = SQLBaseModule::roundToHundredths(21 + 3 * std::sin(day + phase[s]) + random.bounded(0.4) - 0.2);
            const double wetness
                = SQLBaseModule::roundToHundredths(50 + 15 * std::sin(day + phase[s] + 1) + random.bounded(2.0) - 1);
            const double battery = std::round((3.1 - 0.4 * double(reading) / double(readings)) * 1000) / 1000;
            values << m_sensorIds[s] << t << temperature << wetness << battery;
            last[s * 3] = temperature;
            last[s * 3 + 1] = wetness;
            last[s * 3 + 2] = battery;
            if (!flush(false))
                return false;
        }
    }
    if (!flush(true))
        return false;
    m_db.commit();

    // Each sensor's last row, with the statement the program itself keeps it with.
    const qint64 lastTime = start + (readings - 1) * interval;
    m_db.transaction();
    for (int s = 0; s < count; ++s) {
        query.prepare(SqlQueryBuilder::lastUpsertById(m_options.type));
        query.addBindValue(m_sensorIds[s]);
        query.addBindValue(lastTime);
        query.addBindValue(last[s * 3]);
        query.addBindValue(last[s * 3 + 1]);
        query.addBindValue(last[s * 3 + 2]);
        if (!query.exec()) {
            m_db.rollback();
            return failed(query, error);
        }
    }
    return m_db.commit() || failed(query, error);
}
