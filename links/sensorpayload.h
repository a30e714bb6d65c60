#pragma once

#include <QByteArray>
#include <QString>
#include <QVector>

#include "core/records.h"

// One record of a sensor payload: type, presence flag and value bytes.
struct CastRecord {
    int type = 0;
    quint8 flag = 0;
    QByteArray value;
};

// The modem road marks a value present whenever a record of its type arrives; gateways
// send a flag byte that says whether the value is there.
enum class PresenceRule { AnyRecord, FlagByte };

// Sensor payload: a count byte, then records of type, flag, length and value bytes. Reading
// stops at the end of the payload: a record that does not fit whole is not read, so a value
// cut short gives no value (four bytes left of an announced eight are half a double, not a
// float).
QVector<CastRecord> splitSensorPayload(const QByteArray& payload);

// Temperature (1), humidity (2) and battery (3) from a payload. A value needs 4 (float) or 8
// (double) little-endian bytes; the last such record of a type gives it.
SensorData decodeSensorPayload(const QByteArray& payload, PresenceRule rule);

// The address of a sensor or a modem as both roads accept it: 16 hexadecimal digits. The
// database keeps 16 characters and nothing else names a device; text of another length (a
// corrupted line) is dropped where it is read, never registered.
constexpr int kEui64Digits = 16;
bool isEui64Digit(char c);
bool isEui64(const QByteArray& text);

// The modem command that tells a sensor how long to sleep: "AT+UCASTB:08,<EUI64>\r" then a
// payload of one record of type 4 with the interval as a 32-bit little-endian integer.
QByteArray sensorReplyFrame(const QString& eui64, int sleepInterval);
