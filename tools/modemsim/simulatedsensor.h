#pragma once

#include <QByteArray>
#include <QString>

class QRandomGenerator;

// One battery-powered temperature and humidity sensor: its readings drift slowly, its battery
// drains, and each message carries all three as the sensor firmware encodes them.
class SimulatedSensor
{
public:
    SimulatedSensor(int index, QRandomGenerator* random);

    QString eui64() const { return address; }
    // Moves the readings one step and returns the payload of the next message.
    QByteArray nextPayload();

    double temperature = 21.0;
    double humidity = 45.0;
    double battery = 3.0;

    // A payload of count byte and records: type, flag, length, little-endian float value.
    static QByteArray payload(double temperature, double humidity, double battery);
    static QByteArray record(quint8 type, float value);

private:
    QString address;
    QRandomGenerator* random;
};
