#pragma once

#include <QSqlDatabase>
#include <QString>
#include <QVector>

// Fills an open database (made by SQLBaseModule's own schema code) with rooms, sensors and one
// reading a minute (or every `interval` seconds) per sensor, the way the program would have
// stored them.
class DataGenerator
{
public:
    struct Options {
        int type = 0;
        int sensors = 20;
        int locations = 4;
        int days = 30;
        qint64 end = 0; // Unix seconds of the last reading
        int interval = 60; // seconds between two readings of a sensor
        quint32 seed = 1;
    };

    DataGenerator(QSqlDatabase db, const Options& options);

    // False with the database's error text when a statement fails.
    bool run(QString* error);
    qint64 measurementsWritten() const { return m_written; }

private:
    bool addLocations(int* firstId, QString* error);
    bool addSensors(int firstLocation, QString* error);
    bool addMeasurements(QString* error);

    QSqlDatabase m_db;
    Options m_options;
    QVector<int> m_sensorIds;
    qint64 m_written = 0;
};
