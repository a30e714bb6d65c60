#pragma once

#include <QByteArray>
#include <QString>
#include <QVector>

#include "links/modemrecords.h"

class QRegularExpressionMatch;

// One thing the modem told us, in the order it arrived on the line.
struct ModemReply {
    enum Type {
        Identity, // "ATI" answered: info
        PowerAccepted, // "ATS01=…" accepted
        NoNetwork, // "AT+N" answered with no PAN
        NetworkCreated, // "AT+EN" formed a PAN
        NetworkInfo, // "AT+N" answered with a PAN: pan
        S0EAccepted, // "ATS0E=…" accepted
        S10Accepted, // "ATS10=…" accepted
        DeviceListAccepted, // "AT+SN" accepted
        NewNode, // a device joined: node
        NodeAnnounced, // a device announced itself: node
        Cast, // a sensor message: castKind, sender, payload
        BadSender, // a sensor message whose sender is no EUI64, dropped whole: castKind, sender
    };

    Type type = Identity;
    ModemInfo info;
    PanInfo pan;
    ModemNode node;
    QString castKind;
    QString sender;
    QByteArray payload;
};

// Turns the modem's byte stream into replies. It reads no port and no clock: the caller hands
// over each chunk with its arrival time, so the framing can be replayed byte for byte.
class ModemReplyParser
{
public:
    // Nothing waiting for completion may grow past this; a partial line that does is noise.
    static constexpr int maxBuffered = 8192;
    // After initialisation, a pause longer than this between chunks discards what is pending.
    static constexpr qint64 pauseMs = 500;

    // Appends one chunk that arrived at nowMs (any monotonic milliseconds) and returns every
    // reply it completes. Once the modem is initialized, a pause of more than pauseMs since the
    // previous chunk first drops whatever was left unconsumed.
    QVector<ModemReply> feed(const QByteArray& chunk, qint64 nowMs, bool initialized);

    // Bytes received but not consumed yet.
    int buffered() const { return byteBuffer.size() - head; }
    void clear();

    // Arrival time of the previous chunk; the module sets it when it sends "ATI".
    qint64 lastChunkTime = 0;

private:
    enum class Step { Consumed, Wait };

    Step parseOne(QVector<ModemReply>& out);
    // Our own reply echoed: "AT+UCASTB:<length>,<line>\r"; false where its rule would not match.
    static bool echoHead(const char* text, int window, QString* length);
    Step skipEcho(const QString& length);
    // A sensor message's head: "UCAST:<sender>,<length>=", its fields as they stand.
    struct CastHead {
        QByteArray kind, sender, length;
        int size = 0; // bytes up to and with the '='
    };
    static bool castHead(const char* text, int window, CastHead* cast);
    Step readCast(const CastHead& cast, QVector<ModemReply>& out);
    Step dropNoise();
    Step waitForText(const QString& text);
    Step waitForBytes(qint64 total);
    bool skipToLineEnd();
    bool worthMatching();
    void removeFront(int n);
    int lineWindow() const;

    QByteArray byteBuffer;
    int head = 0; // bytes before head are consumed; compacted once per chunk
    // Noise was found on a line whose end has not arrived yet: what arrives goes up to it.
    bool skippingLine = false;
    // A waiting reply is matched again only once it could turn out differently: when retryAt
    // bytes are buffered or, while scanFrom is not -1, when a byte that `wake` names arrives at
    // or after scanFrom. castComma: a ',' is among the bytes scanned so far.
    enum class Wake { LineEnds, AnyByte };
    int retryAt = 0;
    int scanFrom = -1;
    Wake wake = Wake::LineEnds;
    bool castComma = false;
};
