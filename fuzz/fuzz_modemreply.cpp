// The modem's byte stream, as the serial port cuts it and with the pauses between reads: the
// replies must be those of each pause-free run of reads fed whole, and nothing waiting may
// outgrow the cap.
#include <QStringList>

#include "fuzz/streamreads.h"
#include "links/modemreplyparser.h"

namespace
{

QString describe(const ModemReply& r)
{
    const ModemNode& n = r.node;
    return QStringList { QString::number(r.type), r.info.model, r.info.revision, r.info.EUI64,
        QString::number(r.pan.pan), r.pan.deviceType, QString::number(r.pan.channel), QString::number(r.pan.power),
        r.pan.panId, r.pan.extendedPanId, n.NodeID, n.EUI64, n.ParentNodeID, n.DeviceType, r.castKind, r.sender,
        QString::fromLatin1(r.payload.toHex()) }
        .join(QLatin1Char('|'));
}

void take(ModemReplyParser& parser, const QByteArray& bytes, qint64 now, bool initialized, QStringList* seen)
{
    for (const ModemReply& r : parser.feed(bytes, now, initialized))
        *seen << describe(r);
    require(parser.buffered() < ModemReplyParser::maxBuffered);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzedDataProvider input(data, size);
    const bool initialized = input.ConsumeBool();
    const StreamReads stream(input, 2 * ModemReplyParser::pauseMs);

    ModemReplyParser cut;
    ModemReplyParser whole;
    QStringList fromCut;
    QStringList fromWhole;
    QByteArray run;
    qint64 runStart = 0;
    qint64 now = 0;
    for (const StreamReads::Read& read : stream.reads) {
        now += read.gapMs;
        if (initialized && read.gapMs > ModemReplyParser::pauseMs && !run.isEmpty()) {
            take(whole, run, runStart, initialized, &fromWhole);
            run.clear();
        }
        if (run.isEmpty())
            runStart = now;
        run += read.bytes;
        take(cut, read.bytes, now, initialized, &fromCut);
    }
    take(whole, run, runStart, initialized, &fromWhole);
    require(fromCut == fromWhole);
    return 0;
}
