#pragma once

#include <QByteArray>
#include <QPair>
#include <QString>
#include <QStringList>
#include <QVector>

// The byte stream between the program and a remote gateway: a 4-byte head, compared
// case-sensitively, then text fields each ended by a zero byte. Nothing marks the end of a
// message, so where one ends follows either from its own bytes (below) or from a pause in
// the stream.
namespace GatewayProtocol
{

enum class Head { Unknown, Conn, Mess, Stat, Init, Clos };

// Size of the sensor address block that opens a "Mess" body.
constexpr int kEuiBlock = 16;

// The head of a message from its first 4 bytes; fewer bytes are no head.
Head headOf(const QByteArray& message);
// The first 4 bytes, one Latin-1 character each, as the debug output shows an unknown head.
QString headText(const QByteArray& message);

// Every zero-ended field, decoded as UTF-8; bytes after the last zero byte form no field.
QStringList splitFields(const QByteArray& bytes);

// Length of the message at the front of the bytes when its own bytes say where it ends:
// "Conn" at its zero byte, a status after its 9 (connected) or 2 fields, "Mess" after the
// records its payload announces. 0 while they do not say it (yet): such a message runs to the
// end of the read.
int knownLength(const QByteArray& bytes);

// A "Stat", "Init" or "Clos" body.
struct Status {
    bool connected = false;
    QString statusText;
    QString deviceName;
    QString firmwareRevision;
    QString eui64;
    QString deviceType;
    int channel = 0;
    int power = 0;
    QString panId;
    QString extendedPanId;
};
// False when the body has fewer fields than its form needs.
bool parseStatus(const QByteArray& body, Status* status);

// A "Mess" body: the sensor address, up to the first zero byte of its 16-byte block, and
// the payload, every byte behind the block.
struct Cast {
    QString eui64;
    QByteArray payload;
};
Cast parseCast(const QByteArray& body);

// "Slep" followed by one EUI64, zero byte, interval in decimal, zero byte per sensor.
QByteArray slepFrame(const QVector<QPair<QString, int>>& intervals);

} // namespace GatewayProtocol
