// A gateway's byte stream as TCP cuts it: the messages split off must be the same as from the
// whole stream (the framing knows no pauses), and every field read from them stays within its
// message and its bounds.
#include <QStringList>

#include "fuzz/streamreads.h"
#include "links/gatewayprotocol.h"

using namespace GatewayProtocol;

namespace
{

// What the gateway server makes of the bytes a connection has buffered, as it does it: a
// name or a status waiting for its zero byte is not looked at again until one arrives.
struct Connection {
    QByteArray buffer;
    QList<QByteArray> messages;
    QByteArray junk;

    void take(const QByteArray& bytes)
    {
        const Head waiting = headOf(buffer);
        const bool textWaits
            = waiting == Head::Conn || waiting == Head::Stat || waiting == Head::Init || waiting == Head::Clos;
        buffer += bytes;
        if (textWaits && !mayEndText(bytes) && buffer.size() <= kMaxPending)
            return;
        int at = 0;
        while (at < buffer.size()) {
            const Frame frame = frontFrame(buffer.mid(at));
            if (frame.kind == Frame::Incomplete)
                break;
            require(frame.length > 0 && frame.length <= buffer.size() - at);
            const QByteArray piece = buffer.mid(at, frame.length);
            if (frame.kind == Frame::Rejected)
                junk += piece;
            else
                messages << piece;
            at += frame.length;
        }
        buffer.remove(0, at);
    }
};

void checkFields(const QByteArray& message)
{
    // Alone, a message that ends in what may start a head waits for the bytes behind it.
    const Frame frame = frontFrame(message + "Conn");
    require(frame.kind == Frame::Message && frame.length == message.size());
    const QByteArray body = message.mid(4);
    QString name;
    Status status;
    switch (headOf(message)) {
    case Head::Conn:
        require(parseConn(body, &name) && name.size() <= kMaxText);
        break;
    case Head::Mess: {
        const Cast cast = parseCast(body);
        require(cast.payload.size() == body.size() - kEuiBlock && cast.eui64.size() <= kEuiBlock);
        break;
    }
    case Head::Stat:
    case Head::Init:
    case Head::Clos:
        require(parseStatus(body, &status));
        for (const QString& text : { status.statusText, status.deviceName, status.firmwareRevision, status.eui64,
                 status.deviceType, status.panId, status.extendedPanId })
            require(text.size() <= kMaxText);
        break;
    case Head::Unknown:
        require(false);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzedDataProvider input(data, size);
    const StreamReads stream(input, 0);
    Connection cut;
    for (const StreamReads::Read& read : stream.reads)
        cut.take(read.bytes);
    Connection whole;
    whole.take(stream.stream);
    require(cut.messages == whole.messages && cut.junk == whole.junk && cut.buffer == whole.buffer);
    for (const QByteArray& message : qAsConst(whole.messages))
        checkFields(message);
    splitFields(stream.stream);
    return 0;
}
