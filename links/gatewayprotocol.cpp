#include "links/gatewayprotocol.h"

#include "links/sensorpayload.h"

namespace GatewayProtocol
{

namespace
{

constexpr int kHeadSize = 4;
const char kConnected[] = "Connected";
constexpr int kConnectedFields = 9;
constexpr int kOtherFields = 2;
constexpr int kModemField = 3; // of a connected status: the modem's EUI64

// Every zero-ended field, each decoded as bounded text.
QStringList boundedFields(const QByteArray& bytes)
{
    QStringList fields;
    int start = 0;
    for (int zero = bytes.indexOf('\0'); zero >= 0; zero = bytes.indexOf('\0', start)) {
        fields << boundedText(bytes.constData() + start, zero - start);
        start = zero + 1;
    }
    return fields;
}

const char* const kHeads[] = { "Conn", "Mess", "Stat", "Init", "Clos" };

// Whether the bytes from `at` on, fewer than a head or not, begin like one of the heads.
bool startsHead(const QByteArray& bytes, int at)
{
    const int n = qMin(bytes.size() - at, kHeadSize);
    for (const char* head : kHeads) {
        if (qstrncmp(bytes.constData() + at, head, uint(n)) == 0)
            return true;
    }
    return false;
}

bool isHeadLetter(char c)
{
    return c == 'C' || c == 'M' || c == 'S' || c == 'I';
}

// Where a stretch that is no message ends: at the first head from `from` on, or at a tail that
// may become one. One pass over the bytes, so a flood of bad messages costs what its bytes cost.
int nextHead(const QByteArray& bytes, int from)
{
    const char* d = bytes.constData();
    for (int at = qMax(from, 1); at < bytes.size(); ++at) {
        if (isHeadLetter(d[at]) && startsHead(bytes, at))
            return at;
    }
    return bytes.size();
}

Frame wholeFrame(int length)
{
    Frame frame;
    frame.kind = Frame::Message;
    frame.length = length;
    return frame;
}

Frame rejected(const QByteArray& bytes, Fault fault, int from = 1)
{
    Frame frame;
    frame.kind = Frame::Rejected;
    frame.length = nextHead(bytes, from);
    frame.fault = fault;
    return frame;
}

// A text refused at the control byte at `at`: that byte belongs to a "Mess" whose head stands
// closest before it, inside the text, when the text was cut short. A head further back is part
// of the text itself (the word "Connected").
Frame rejectedText(const QByteArray& bytes, int at)
{
    const char* d = bytes.constData();
    for (int head = at - kHeadSize; head >= 1; --head) {
        if (isHeadLetter(d[head]) && startsHead(bytes, head)) {
            Frame frame = rejected(bytes, Fault::BadText);
            frame.length = head;
            return frame;
        }
    }
    return rejected(bytes, Fault::BadText, at);
}

// Tab, line feed and carriage return may stand in a text; other control bytes never do, while
// every "Mess" carries some (its count and record kinds).
bool isControl(char c)
{
    return c > 0 && c < 0x20 && c != '\t' && c != '\n' && c != '\r';
}

// Sensors send temperature (1), humidity (2) and battery voltage (3) as 4- or 8-byte floats,
// and may echo their sleep interval (4) as a 4-byte integer. A head's letters are none of these
// kinds, nor a width.
bool validRecord(char kind, int width)
{
    switch (kind) {
    case 1:
    case 2:
    case 3:
        return width == 4 || width == 8;
    case 4:
        return width == 4;
    default:
        return false;
    }
}

bool isRecordKind(char kind)
{
    return validRecord(kind, 4) || validRecord(kind, 8);
}

// How far the records of a "Mess" reach: to their end when all have come (whole), to the first
// byte that no record may have (wrong), or else to the end of the bytes.
int recordsEnd(const QByteArray& bytes, bool* whole, bool* wrong)
{
    const int n = bytes.size();
    const char* d = bytes.constData();
    *whole = false;
    *wrong = false;
    int at = kHeadSize + kEuiBlock;
    const int count = quint8(d[at++]);
    for (int i = 0; i < count; ++i) {
        // The kind is checked before the width has come: a cut shows at its first byte.
        if (n <= at)
            return n;
        if (!isRecordKind(d[at])) {
            *wrong = true;
            return at;
        }
        if (n < at + 3)
            return n;
        if (!validRecord(d[at], quint8(d[at + 2]))) {
            *wrong = true;
            return at;
        }
        at += 3 + quint8(d[at + 2]);
        if (n < at)
            return n;
    }
    *whole = true;
    return at;
}

Frame castFrame(const QByteArray& bytes, bool ended)
{
    const int n = bytes.size();
    const char* d = bytes.constData();
    for (int at = kHeadSize; at < qMin(n, kHeadSize + kEuiBlock); ++at) {
        if (!isEui64Digit(d[at]))
            return rejected(bytes, Fault::BadAddress);
    }
    if (n <= kHeadSize + kEuiBlock)
        return Frame();
    bool whole = false;
    bool wrong = false;
    const int end = recordsEnd(bytes, &whole, &wrong);
    // Record kinds and widths are no letters, so a head can only stand inside a value, and a
    // sensor's value does not spell one: the message was cut there. A message that ends in what
    // may be the start of a head (a float between 128 and 511 ends in 'C') waits for the bytes
    // that tell, so that what is decided never depends on how the bytes were read; once the
    // connection has ended none can come, and it is whole.
    for (int at = kHeadSize + kEuiBlock; at < end; ++at) {
        if (isHeadLetter(d[at]) && startsHead(bytes, at)) {
            if (n - at >= kHeadSize)
                return rejected(bytes, Fault::Cut);
            if (whole && !ended)
                return Frame();
        }
    }
    if (wrong)
        return rejected(bytes, Fault::BadRecord);
    return whole ? wholeFrame(end) : Frame();
}

// Fields from `at` on: whole when `fields` zero bytes have come, refused at a control byte or
// past kMaxPending bytes. `at` is left past the last zero byte seen.
Frame textFrame(const QByteArray& bytes, int* at, int fields)
{
    const char* d = bytes.constData();
    for (int seen = 0; *at < bytes.size(); ++*at) {
        if (*at >= kMaxPending)
            return rejected(bytes, Fault::TooLong, *at);
        if (d[*at] == '\0') {
            if (++seen == fields)
                return wholeFrame(++*at);
        } else if (isControl(d[*at])) {
            return rejectedText(bytes, *at);
        }
    }
    return Frame();
}

Frame statusFrame(const QByteArray& bytes)
{
    int at = kHeadSize;
    const Frame first = textFrame(bytes, &at, 1);
    if (first.kind != Frame::Message)
        return first;
    const bool connected = bytes.mid(kHeadSize, first.length - 1 - kHeadSize) == kConnected;
    Frame frame = textFrame(bytes, &at, (connected ? kConnectedFields : kOtherFields) - 1);
    // The modem's address becomes its location's: the same rule as a sensor's.
    if (connected && frame.kind == Frame::Message
        && !isEui64(bytes.mid(kHeadSize, frame.length - kHeadSize).split('\0').value(kModemField))) {
        frame.kind = Frame::Rejected;
        frame.fault = Fault::BadModemAddress;
    }
    return frame;
}

} // namespace

Head headOf(const QByteArray& message)
{
    if (message.size() < kHeadSize)
        return Head::Unknown;
    const QByteArray head = message.left(kHeadSize);
    if (head == "Conn")
        return Head::Conn;
    if (head == "Mess")
        return Head::Mess;
    if (head == "Stat")
        return Head::Stat;
    if (head == "Clos")
        return Head::Clos;
    if (head == "Init")
        return Head::Init;
    return Head::Unknown;
}

Frame frontFrame(const QByteArray& bytes, bool ended)
{
    if (bytes.size() < kHeadSize && startsHead(bytes, 0))
        return Frame();
    int at = kHeadSize;
    switch (headOf(bytes)) {
    case Head::Conn:
        return textFrame(bytes, &at, 1);
    case Head::Mess:
        return castFrame(bytes, ended);
    case Head::Stat:
    case Head::Init:
    case Head::Clos:
        return statusFrame(bytes);
    case Head::Unknown:
        break;
    }
    return rejected(bytes, Fault::UnknownHead);
}

bool mayEndText(const QByteArray& bytes)
{
    for (const char c : bytes) {
        if (c == '\0' || isControl(c))
            return true;
    }
    return false;
}

QString boundedText(const char* bytes, int size)
{
    // Four bytes per character at most: nothing past what can be kept is decoded.
    QString text = QString::fromUtf8(bytes, qMin(size, kMaxText * 4));
    if (text.size() > kMaxText) {
        text.truncate(kMaxText);
        if (text.at(kMaxText - 1).isHighSurrogate())
            text.chop(1);
    }
    return text;
}

bool parseConn(const QByteArray& body, QString* name)
{
    const int zero = body.indexOf('\0');
    if (zero < 0)
        return false;
    *name = boundedText(body.constData(), zero);
    return true;
}

bool parseStatus(const QByteArray& body, Status* status)
{
    const QStringList f = boundedFields(body);
    if (!f.isEmpty() && f[0] == QLatin1String(kConnected)) {
        if (f.size() < kConnectedFields)
            return false;
        status->connected = true;
        status->deviceName = f[1];
        status->firmwareRevision = f[2];
        status->eui64 = f[3];
        status->deviceType = f[4];
        // A field that is no number counts as 0.
        status->channel = f[5].toInt(nullptr, 10);
        status->power = f[6].toInt(nullptr, 10);
        status->panId = f[7];
        status->extendedPanId = f[8];
        return true;
    }
    if (f.size() < kOtherFields)
        return false;
    status->connected = false;
    status->statusText = f[1];
    return true;
}

Cast parseCast(const QByteArray& body)
{
    const QByteArray block = body.left(kEuiBlock);
    const int zero = block.indexOf('\0');
    Cast cast;
    cast.eui64 = QString::fromUtf8(zero < 0 ? block : block.left(zero));
    cast.payload = body.mid(kEuiBlock);
    return cast;
}

QByteArray slepFrame(const QVector<QPair<QString, int>>& intervals)
{
    QByteArray frame("Slep");
    for (const auto& pair : intervals) {
        frame += pair.first.toUtf8();
        frame += '\0';
        frame += QByteArray::number(pair.second, 10);
        frame += '\0';
    }
    return frame;
}

} // namespace GatewayProtocol
