// A mail server's replies as TCP cuts them: the client must see the same replies, and give up
// on an overlong reply at the same one, whether the bytes came whole or in pieces.
#include "fuzz/streamreads.h"
#include "mail/smtpreplyreader.h"

namespace
{

// Reads as the client does: every complete reply after each read, then the length check.
QStringList readAll(const QVector<StreamReads::Read>& reads)
{
    SmtpReplyReader reader;
    QStringList seen;
    SmtpReplyReader::Reply reply;
    for (const StreamReads::Read& read : reads) {
        reader.append(read.bytes);
        while (reader.takeReply(&reply))
            seen << QString::number(reply.code) + QLatin1Char(':') + reply.lines.join(QLatin1Char('\n'));
        if (reader.overflowed()) {
            seen << QStringLiteral("overflow");
            break;
        }
    }
    return seen;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzedDataProvider input(data, size);
    // Replies around the cap: a run of one byte about as long as the cap, somewhere in the stream.
    const bool nearCap = input.ConsumeBool();
    const int runAt = input.ConsumeIntegral<quint16>();
    const int runLength = SmtpReplyReader::kMaxPending + input.ConsumeIntegralInRange(-16, 16);
    const char runByte = input.ConsumeIntegral<char>();
    const StreamReads stream(input, 0);
    QByteArray bytes = stream.stream;
    if (nearCap)
        bytes.insert(runAt % (bytes.size() + 1), QByteArray(runLength, runByte));
    require(readAll(stream.cut(bytes)) == readAll({ { bytes, 0 } }));
    return 0;
}
