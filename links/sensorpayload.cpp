#include "links/sensorpayload.h"

#include <QtEndian>

#include <algorithm>
#include <cstring>

namespace
{

enum RecordType { TemperatureRecord = 1, HumidityRecord = 2, BatteryRecord = 3, SleepIntervalRecord = 4 };

bool decodeValue(const QByteArray& bytes, double* value)
{
    if (bytes.size() == 4) {
        const quint32 raw = qFromLittleEndian<quint32>(bytes.constData());
        float f;
        std::memcpy(&f, &raw, sizeof f);
        *value = double(f);
        return true;
    }
    if (bytes.size() == 8) {
        const quint64 raw = qFromLittleEndian<quint64>(bytes.constData());
        std::memcpy(value, &raw, sizeof *value);
        return true;
    }
    return false;
}

} // namespace

QVector<CastRecord> splitSensorPayload(const QByteArray& payload)
{
    QVector<CastRecord> records;
    if (payload.isEmpty())
        return records;
    const int count = quint8(payload[0]);
    int pos = 1;
    for (int i = 0; i < count && payload.size() - pos >= 3; ++i) {
        const int length = quint8(payload[pos + 2]);
        if (payload.size() - pos - 3 < length)
            break;
        CastRecord r;
        r.type = qint8(payload[pos]);
        r.flag = quint8(payload[pos + 1]);
        r.value = payload.mid(pos + 3, length);
        pos += 3 + length;
        records.append(r);
    }
    return records;
}

SensorData decodeSensorPayload(const QByteArray& payload, PresenceRule rule)
{
    SensorData data;
    for (const CastRecord& r : splitSensorPayload(payload)) {
        bool* present = nullptr;
        double* value = nullptr;
        switch (r.type) {
        case TemperatureRecord:
            present = &data.hasTemperature;
            value = &data.temperature;
            break;
        case HumidityRecord:
            present = &data.hasWetness;
            value = &data.wetness;
            break;
        case BatteryRecord:
            present = &data.hasBattery;
            value = &data.battery;
            break;
        default:
            continue;
        }
        decodeValue(r.value, value);
        *present = rule == PresenceRule::AnyRecord ? true : r.flag != 0;
    }
    return data;
}

bool isEui64Digit(char c)
{
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f');
}

bool isEui64(const QByteArray& text)
{
    return text.size() == kEui64Digits && std::all_of(text.cbegin(), text.cend(), isEui64Digit);
}

QByteArray sensorReplyFrame(const QString& eui64, int sleepInterval)
{
    QByteArray data;
    data.append(char(1)); // one record
    data.append(char(SleepIntervalRecord));
    data.append(char(1)); // present
    data.append(char(4)); // four value bytes
    char interval[4];
    qToLittleEndian<qint32>(sleepInterval, interval);
    data.append(interval, 4);

    QByteArray frame("AT+UCASTB:");
    frame += QByteArray::number(data.size(), 16).rightJustified(2, '0');
    frame += ',';
    frame += eui64.toLatin1();
    frame += '\r';
    frame += data;
    frame += '\r';
    return frame;
}
