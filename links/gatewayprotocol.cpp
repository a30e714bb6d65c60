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

bool parseStatus(const QByteArray& body, Status* status)
{
    const QStringList f = splitFields(body);
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
