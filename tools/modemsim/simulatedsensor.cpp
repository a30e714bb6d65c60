#include "tools/modemsim/simulatedsensor.h"

#include <QRandomGenerator>
#include <QtEndian>

#include <cstring>

SimulatedSensor::SimulatedSensor(int index, QRandomGenerator* random)
    : address(QStringLiteral("000D6F0000%1").arg(0xC0A000 + index, 6, 16, QLatin1Char('0')).toUpper())
    , random(random)
{
    temperature = 18.0 + random->bounded(60) / 10.0;
    humidity = 35.0 + random->bounded(200) / 10.0;
    battery = 2.9 + random->bounded(30) / 100.0;
}

QByteArray SimulatedSensor::nextPayload()
{
    temperature = qBound(-10.0, temperature + (random->bounded(21) - 10) / 50.0, 45.0);
    humidity = qBound(5.0, humidity + (random->bounded(21) - 10) / 20.0, 99.0);
    battery = qMax(2.0, battery - random->bounded(3) / 1000.0);
    return payload(temperature, humidity, battery);
}

QByteArray SimulatedSensor::payload(double temperature, double humidity, double battery)
{
    return QByteArray(1, char(3)) + record(1, float(temperature)) + record(2, float(humidity))
        + record(3, float(battery));
}

QByteArray SimulatedSensor::record(quint8 type, float value)
{
    quint32 bits = 0;
    std::memcpy(&bits, &value, sizeof bits);
    QByteArray r;
    r.append(char(type)).append(char(1)).append(char(4));
    r.resize(7);
    qToLittleEndian(bits, r.data() + 3);
    return r;
}
