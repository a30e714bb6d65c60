#pragma once

#include <QByteArray>
#include <QPair>
#include <QString>
#include <QStringList>
#include <QVector>

#include <array>

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

// Why the bytes at the front of a connection were dropped.
enum class Fault {
    UnknownHead, // no known head: the bytes up to the next one
    BadAddress, // a "Mess" whose address block is not 16 hexadecimal digits
    BadRecord, // a "Mess" record of an unknown kind or of a width its kind never has
    Cut, // a "Mess" with the head of another message inside, or a connection ended mid-message
    BadText, // a name or status field with a control byte in it
    TooLong, // a name or status that had not ended after kMaxPending bytes
    BadModemAddress, // a connected status whose modem address is not 16 hexadecimal digits
};
constexpr int kFaultCount = 7;
// How many messages were dropped for each fault, indexed by Fault.
using FaultCounts = std::array<int, kFaultCount>;

// The most a connection keeps of a message that has not ended yet: only a text field can grow
// that long, a "Mess" never has more than 20 + 1 + 255 * 11 bytes.
constexpr int kMaxPending = 1 << 20;

// What the front of a connection's buffered bytes holds. A message is checked as far as its
// bytes have come: a "Mess" address of 16 hexadecimal digits, records of the kinds a sensor
// sends with the widths their values have and no other message's head among them, text fields
// without control bytes, a connected status's modem address of 16 hexadecimal digits. A "Mess"
// that its gateway cut short is completed by the bytes of the next message: their head
// (letters, no record kind or width) is refused as a record, or, read as the last value's
// bytes, stands inside the message or runs on past its end. Either way the cut message is
// dropped and the stream goes on at that head. A whole message whose last bytes may begin a
// head waits for the next bytes to tell; `ended`: the connection has ended, no bytes come, and
// such a message is whole.
struct Frame {
    enum Kind {
        Message, // a whole, valid message of `length` bytes
        Incomplete, // a known head (or the start of one), valid so far, whose rest has not arrived
        Rejected, // `length` bytes dropped for `fault`, up to where a head may start
    };
    Kind kind = Incomplete;
    int length = 0;
    Fault fault = Fault::UnknownHead;
};
Frame frontFrame(const QByteArray& bytes, bool ended = false);

// Whether new bytes can decide a name or status that waits for its end: a zero byte ends a
// field, a control byte refuses it. Other bytes only make the field longer.
bool mayEndText(const QByteArray& bytes);

// Gateway text decoded as UTF-8 and cut to kMaxText characters.
QString boundedText(const char* bytes, int size);

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
// the payload, every byte behind the block. A framed message has 16 hexadecimal digits there.
struct Cast {
    QString eui64;
    QByteArray payload;
};
Cast parseCast(const QByteArray& body);

// "Slep" followed by one EUI64, zero byte, interval in decimal, zero byte per sensor.
QByteArray slepFrame(const QVector<QPair<QString, int>>& intervals);

} // namespace GatewayProtocol
