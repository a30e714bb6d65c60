#pragma once

// Sensor payloads built byte by byte for the tests: a count byte, then records of type,
// flag, length and little-endian value bytes.
#include <QByteArray>
#include <QtEndian>

#include <cstring>

namespace payloads {

inline QByteArray f32(float v)
{
    quint32 raw;
    std::memcpy(&raw, &v, 4);
    QByteArray b(4, 0);
    qToLittleEndian(raw, b.data());
    return b;
}

inline QByteArray f64(double v)
{
    quint64 raw;
    std::memcpy(&raw, &v, 8);
    QByteArray b(8, 0);
    qToLittleEndian(raw, b.data());
    return b;
}

// One record; `length` other than -1 announces a different length than the value has.
inline QByteArray rec(int type, int flag, const QByteArray& value, int length = -1)
{
    QByteArray r;
    r.append(char(type));
    r.append(char(flag));
    r.append(char(length < 0 ? value.size() : length));
    return r + value;
}

inline QByteArray payload(int count, const QByteArray& records)
{
    return QByteArray(1, char(count)) + records;
}

// Temperature, humidity and battery as floats, all with the same flag.
inline QByteArray measurement(float t, float h, float b, int flag = 1)
{
    return payload(3, rec(1, flag, f32(t)) + rec(2, flag, f32(h)) + rec(3, flag, f32(b)));
}

}  // namespace payloads
