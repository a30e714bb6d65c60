#include "links/gatewayprotocol.h"

namespace GatewayProtocol
{

namespace
{

constexpr int kHeadSize = 4;
const char kConnected[] = "Connected";
constexpr int kConnectedFields = 9;
constexpr int kOtherFields = 2;

// Position just past the n-th zero byte at or after from, 0 when there are fewer.
int pastZero(const QByteArray& bytes, int from, int n)
{
    int at = from;
    for (int i = 0; i < n; ++i) {
        const int zero = bytes.indexOf('\0', at);
        if (zero < 0)
            return 0;
        at = zero + 1;
    }
    return at;
}

int castLength(const QByteArray& bytes)
{
    int at = kHeadSize + kEuiBlock;
    if (bytes.size() <= at)
        return 0;
    const int count = quint8(bytes[at]);
    ++at;
    for (int i = 0; i < count; ++i) {
        if (bytes.size() < at + 3)
            return 0;
        at += 3 + quint8(bytes[at + 2]);
        if (bytes.size() < at)
            return 0;
    }
    return at;
}

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

// Whether the bytes from `at` to the end, fewer than a head, could still become one.
bool startsHead(const QByteArray& bytes, int at)
{
    const int n = bytes.size() - at;
    for (const char* head : kHeads) {
        if (qstrncmp(bytes.constData() + at, head, uint(n)) == 0)
            return true;
    }
    return false;
}

int statusLength(const QByteArray& bytes)
{
    const int first = pastZero(bytes, kHeadSize, 1);
    if (first == 0)
        return 0;
    const bool connected = bytes.mid(kHeadSize, first - 1 - kHeadSize) == kConnected;
    return pastZero(bytes, kHeadSize, connected ? kConnectedFields : kOtherFields);
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

QString headText(const QByteArray& message)
{
    return QString::fromLatin1(message.left(kHeadSize));
}

QStringList splitFields(const QByteArray& bytes)
{
    QStringList fields;
    int start = 0;
    for (int zero = bytes.indexOf('\0'); zero >= 0; zero = bytes.indexOf('\0', start)) {
        fields << QString::fromUtf8(bytes.constData() + start, zero - start);
        start = zero + 1;
    }
    return fields;
}

int knownLength(const QByteArray& bytes)
{
    switch (headOf(bytes)) {
    case Head::Conn:
        return pastZero(bytes, kHeadSize, 1);
    case Head::Mess:
        return castLength(bytes);
    case Head::Stat:
    case Head::Init:
    case Head::Clos:
        return statusLength(bytes);
    case Head::Unknown:
        break;
    }
    return 0;
}

Frame frontFrame(const QByteArray& bytes)
{
    Frame frame;
    if (bytes.size() < kHeadSize && startsHead(bytes, 0))
        return frame;
    if (headOf(bytes) != Head::Unknown) {
        frame.length = knownLength(bytes);
        if (frame.length > 0)
            frame.kind = Frame::Message;
        return frame;
    }
    // The junk runs to the next known head, or to a tail that may start one.
    int end = bytes.size();
    for (const char* head : kHeads) {
        const int at = bytes.indexOf(head, 1);
        if (at > 0 && at < end)
            end = at;
    }
    for (int at = qMax(1, bytes.size() - kHeadSize + 1); at < end; ++at) {
        if (bytes.size() - at < kHeadSize && startsHead(bytes, at)) {
            end = at;
            break;
        }
    }
    frame.kind = Frame::Junk;
    frame.length = end;
    return frame;
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

bool isEui64(const QString& text)
{
    if (text.size() != kEuiBlock)
        return false;
    for (const QChar c : text) {
        const ushort u = c.unicode();
        if (!((u >= '0' && u <= '9') || (u >= 'A' && u <= 'F') || (u >= 'a' && u <= 'f')))
            return false;
    }
    return true;
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
