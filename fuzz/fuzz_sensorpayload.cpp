// Sensor payloads as a modem or a gateway hands them over: records never reach past the
// payload, and the reply frame we send reads back as the interval it carries.
#include <QtEndian>

#include "fuzz/streamreads.h"
#include "links/sensorpayload.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray payload = QByteArray::fromRawData(reinterpret_cast<const char*>(data), int(size));
    int used = payload.isEmpty() ? 0 : 1;
    for (const CastRecord& r : splitSensorPayload(payload))
        used += 3 + r.value.size();
    require(used <= payload.size());
    decodeSensorPayload(payload, PresenceRule::AnyRecord);
    decodeSensorPayload(payload, PresenceRule::FlagByte);

    qint32 interval = 0;
    if (size >= 4)
        interval = qFromLittleEndian<qint32>(data);
    const QString eui64 = QString::fromLatin1(payload.left(8).toHex().toUpper());
    const QByteArray frame = sensorReplyFrame(eui64, interval);
    const QVector<CastRecord> reply = splitSensorPayload(frame.mid(frame.indexOf('\r') + 1, 8));
    require(reply.size() == 1 && reply[0].type == 4 && reply[0].value.size() == 4
        && qFromLittleEndian<qint32>(reply[0].value.constData()) == interval);
    return 0;
}
