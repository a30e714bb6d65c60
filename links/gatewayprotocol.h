#pragma once

#include <QByteArray>
#include <QPair>
#include <QString>
#include <QStringList>
#include <QVector>

// The byte stream between the program and a remote gateway: a 4-byte head, compared
// case-sensitively, then text fields each ended by a zero byte. Nothing marks the end of a
// message and TCP keeps no write boundaries, so where one ends follows from its own bytes
// alone: a "Conn" at its zero byte, a status after its fields, a "Mess" after the records its
// payload announces. Pauses and read boundaries mean nothing.
namespace GatewayProtocol
{

enum class Head { Unknown, Conn, Mess, Stat, Init, Clos };

// Size of the sensor address block that opens a "Mess" body.
constexpr int kEuiBlock = 16;
// Characters kept of any text a gateway sends (its name, its modem's strings, its status):
// the log, the sensor tree and the locations table never get more.
constexpr int kMaxText = 64;

// The head of a message from its first 4 bytes; fewer bytes are no head.
Head headOf(const QByteArray& message);
// The first 4 bytes, one Latin-1 character each, as the debug output shows an unknown head.
QString headText(const QByteArray& message);

// Every zero-ended field, decoded as UTF-8; bytes after the last zero byte form no field.
QStringList splitFields(const QByteArray& bytes);

// Length of the message at the front of the bytes when its own bytes say where it ends:
// "Conn" at its zero byte, a status after its 9 (connected) or 2 fields, "Mess" after the
// records its payload announces. 0 while they do not say it (yet).
int knownLength(const QByteArray& bytes);

// What the front of a connection's buffered bytes holds.
struct Frame {
    enum Kind {
        Message, // a whole message of `length` bytes
        Incomplete, // a known head (or the start of one) whose rest has not arrived
        Junk, // `length` bytes without a known head, up to where one may start
    };
    Kind kind = Incomplete;
    int length = 0;
};
Frame frontFrame(const QByteArray& bytes);

// Gateway text decoded as UTF-8 and cut to kMaxText characters.
QString boundedText(const char* bytes, int size);
// A sensor address as the registry keeps it: 16 hexadecimal digits.
bool isEui64(const QString& text);

// The name of a "Conn" body, up to its zero byte; false without one.
bool parseConn(const QByteArray& body, QString* name);

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
// False when the body has fewer fields than its form needs. Texts are bounded.
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
