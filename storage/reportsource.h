#pragma once

#include <QSqlDatabase>
#include <QSqlQuery>
#include <QString>
#include <QVariant>

#include <functional>
#include <memory>

// The reports' reads, on a connection of their own to the program's database, opened and used
// in one thread (the report thread). Every value is bound and every condition on the time is
// the same for each database type: timemeasure >= low AND timemeasure <= high.
class ReportSource
{
public:
    ReportSource();
    ~ReportSource();
    ReportSource(const ReportSource&) = delete;
    ReportSource& operator=(const ReportSource&) = delete;

    // Clones the default connection; call it in the thread that reads.
    bool open(QString* error);

    using RowSink = std::function<bool(
        qint64 time, const QVariant& temperature, const QVariant& wetness, const QVariant& battery)>;
    // Hands every measurement of the sensor in [low, high] to `sink` in time order; a sink that
    // returns false stops the read. An unknown sensor has no rows. False with the reason when
    // a query fails.
    bool measurements(const QString& eui64, qint64 low, qint64 high, const RowSink& sink, QString* error);
    // Mean temperature and humidity of the sensor in [low, high]; a null value when none.
    bool averages(
        const QString& eui64, qint64 low, qint64 high, QVariant* temperature, QVariant* wetness, QString* error);

private:
    // The sensor's row id, -1 when it has none.
    bool sensorId(const QString& eui64, qint64* id, QString* error);

    QString m_name;
    QSqlDatabase m_db;
    std::unique_ptr<QSqlQuery> m_averages;
    QString m_averagesFor;
    qint64 m_averagesId = -1;
    bool m_averagesReady = false;
};
