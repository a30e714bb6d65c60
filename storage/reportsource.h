#pragma once

#include <QSqlDatabase>
#include <QString>
#include <QStringList>
#include <QVariant>

#include <functional>

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

    // One measurement; `sensor` is the position of its sensor in the list asked for. A sink
    // that returns false stops the read.
    using RowSink = std::function<bool(
        int sensor, qint64 time, const QVariant& temperature, const QVariant& wetness, const QVariant& battery)>;
    // Every measurement of one sensor in [low, high], in time order, through one sensor's index.
    bool measurements(const QString& eui64, qint64 low, qint64 high, const RowSink& sink, QString* error);
    // Every measurement of several sensors in [low, high], in time order, in one pass along
    // the time: for many sensors over a long period this reads the table in the order it was
    // written instead of jumping between the sensors' rows. Unknown sensors have no rows.
    // With `every` > 0 only the rows at most `within` seconds after anchor + k * every are read
    // (the daily windows), which spares handing over the rows between them.
    bool measurements(const QStringList& eui64s, qint64 low, qint64 high, const RowSink& sink, QString* error,
        qint64 anchor = 0, qint64 every = 0, qint64 within = 0);

    // How many measurements of one sensor lie in [low, high], through its index; -1 on failure
    // (the reports then only show a coarser progress).
    qint64 count(const QString& eui64, qint64 low, qint64 high);

private:
    bool run(const QString& statement, const QVariantList& values, const QHash<qint64, int>& positions,
        const RowSink& sink, QString* error);

    QString m_name;
    QSqlDatabase m_db;
};
