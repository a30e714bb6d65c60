#include "links/modemreplyparser.h"

#include <QRegularExpression>

#include <cstring>

#include "links/sensorpayload.h"

namespace
{

// The identity reply is the longest the modem sends: six line feeds from the echoed "ATI" to
// its final "OK". No reply needs to look further, so a rule never waits on more lines than that.
constexpr int maxReplyLines = 6;

enum Rule {
    RuleIdentity,
    RulePower,
    RuleNoPan,
    RuleJoined,
    RulePanInfo,
    RuleS0E,
    RuleS10,
    RuleDeviceList,
    RuleNewNode,
    RuleAnnounce,
    RuleEcho,
    RuleCast,
    RuleCount
};

// A field of a reply runs up to the separator behind it and never past the end of its line, so
// one garbled line cannot swallow the replies behind it. A field that may not hold its own
// separator gives the same split as the shortest field would, and each match costs time in
// proportion to the text, however many separators a hostile line repeats.
#define FIELD_TO(separator) "([^\r\n" separator "]*)"
#define LINE_FIELD "([^\r\n]*)"

const QRegularExpression* rules()
{
    static const QRegularExpression table[RuleCount] = {
        QRegularExpression("^ATI\r\r\n(TELEGESIS|Telegesis|telegesis) " LINE_FIELD "\r\nR" LINE_FIELD "\r\n" LINE_FIELD
                           "\r\n\r\nOK\r\n"),
        QRegularExpression("^ATS01=-7,mirvasol\r\r\nOK\r\n"),
        QRegularExpression("^AT[+]N\r\r\n[+]N=NoPAN\r\n\r\nOK\r\n"),
        QRegularExpression("^AT[+]EN\r\r\nJPAN[:]" FIELD_TO(",") "," FIELD_TO(",") "," LINE_FIELD "\r\n\r\nOK\r\n"),
        QRegularExpression("^AT[+]N\r\r\n[+]N=(FFD|COO|ZED|SED|MED),(\\d\\d)," FIELD_TO(",") "," FIELD_TO(
            ",") "," LINE_FIELD "\r\n\r\nOK\r\n"),
        QRegularExpression("^ATS0E=94C0\r\r\nOK\r\n"),
        QRegularExpression("^ATS10=0010\r\r\nOK\r\n"),
        QRegularExpression("^AT[+]SN\r\r\nOK\r\n"),
        QRegularExpression("^NEWNODE[:]" FIELD_TO(",") "," FIELD_TO(
            ",") "," LINE_FIELD "\r\n\r\n(COO|FFD|SED|MED|ZED)[:]" FIELD_TO(",") "," LINE_FIELD "\r\n"),
        QRegularExpression("^(COO|FFD|SED|MED|ZED)[:]" FIELD_TO(",") "," LINE_FIELD "\r\n"),
        QRegularExpression("^AT[+]UCASTB[:]([^\r\n]{2})," LINE_FIELD "\r"),
        QRegularExpression("^(UCAST|MCAST|BCAST)[:]" FIELD_TO(",") "," FIELD_TO("=") "="),
    };
    return table;
}

#undef FIELD_TO
#undef LINE_FIELD

// Whether some rule still waits for more of the text and none is complete.
bool someRuleWaits(const QString& text)
{
    bool waits = false;
    for (int rule = 0; rule < RuleCount; ++rule) {
        const QRegularExpressionMatch m = rules()[rule].match(
            text, 0, QRegularExpression::PartialPreferCompleteMatch, QRegularExpression::AnchoredMatchOption);
        if (m.hasMatch())
            return false;
        waits = waits || m.hasPartialMatch();
    }
    return waits;
}

bool startsAsCast(const QString& text)
{
    const QChar kind = text.isEmpty() ? QChar() : text.at(0);
    return (kind == QLatin1Char('U') || kind == QLatin1Char('M') || kind == QLatin1Char('B'))
        && text.midRef(1, 5) == QLatin1String("CAST:");
}

// Lengths on the line are hexadecimal and never negative; anything else counts as 0.
qint64 hexLength(const QString& text)
{
    bool ok = false;
    const uint value = text.toUInt(&ok, 16);
    return ok ? qint64(value) : 0;
}

ModemNode node(const QString& id, const QString& eui64, const QString& parent, const QString& type)
{
    ModemNode n;
    n.NodeID = id;
    n.EUI64 = eui64;
    n.ParentNodeID = parent;
    n.DeviceType = type;
    return n;
}

// The rule whose reply `text` starts with, its match in `m`; RuleCount when none matches, and
// then `couldComplete` tells whether more text could still complete one.
int matchingRule(const QString& text, QRegularExpressionMatch* m, bool* couldComplete)
{
    const auto match = [&text](int rule) {
        return rules()[rule].match(
            text, 0, QRegularExpression::PartialPreferCompleteMatch, QRegularExpression::AnchoredMatchOption);
    };
    // Once the modem runs, nearly every reply is a sensor's message, and no other rule can match
    // text that starts as one: its rule is tried first, and the others only when it fails.
    if (startsAsCast(text)) {
        *m = match(RuleCast);
        if (m->hasMatch())
            return RuleCast;
    }
    for (int rule = 0; rule < RuleCount; ++rule) {
        *m = match(rule);
        if (m->hasMatch())
            return rule;
        *couldComplete = *couldComplete || m->hasPartialMatch();
    }
    return RuleCount;
}

// The reply of a rule whose text holds all of it (the echo and the sensor message go on by length).
ModemReply textReply(int rule, const QRegularExpressionMatch& m)
{
    ModemReply r;
    switch (rule) {
    case RuleIdentity:
        r.type = ModemReply::Identity;
        r.info.model = m.captured(2);
        r.info.revision = m.captured(3);
        r.info.EUI64 = m.captured(4);
        break;
    case RulePower:
        r.type = ModemReply::PowerAccepted;
        break;
    case RuleNoPan:
        r.type = ModemReply::NoNetwork;
        break;
    case RuleJoined:
        r.type = ModemReply::NetworkCreated;
        break;
    case RulePanInfo:
        r.type = ModemReply::NetworkInfo;
        r.pan.pan = true;
        r.pan.deviceType = m.captured(1);
        r.pan.channel = m.captured(2).toInt();
        r.pan.power = m.captured(3).toInt();
        r.pan.panId = m.captured(4);
        r.pan.extendedPanId = m.captured(5);
        break;
    case RuleS0E:
        r.type = ModemReply::S0EAccepted;
        break;
    case RuleS10:
        r.type = ModemReply::S10Accepted;
        break;
    case RuleDeviceList:
        r.type = ModemReply::DeviceListAccepted;
        break;
    case RuleNewNode:
        r.type = ModemReply::NewNode;
        r.node = node(m.captured(1), m.captured(2), m.captured(3), m.captured(4));
        break;
    case RuleAnnounce:
        r.type = ModemReply::NodeAnnounced;
        r.node = node(m.captured(3), m.captured(2), QStringLiteral("0000"), m.captured(1));
        break;
    }
    return r;
}

} // namespace

QVector<ModemReply> ModemReplyParser::feed(const QByteArray& chunk, qint64 nowMs, bool initialized)
{
    // Before initialisation the script waits for its replies however slowly they come; after it,
    // a pause means whatever is left over will never be completed.
    if (initialized && nowMs - lastChunkTime > pauseMs)
        clear();
    lastChunkTime = nowMs;
    byteBuffer.append(chunk);

    QVector<ModemReply> out;
    while (head < byteBuffer.size()) {
        if (skippingLine && !skipToLineEnd())
            break;
        const char c = byteBuffer.at(head);
        if (c == '\r' || c == '\n') {
            removeFront(1);
            continue;
        }
        if (!worthMatching() || parseOne(out) == Step::Wait)
            break;
    }
    // One compaction per chunk keeps the cost linear however many replies a chunk holds.
    byteBuffer.remove(0, head);
    head = 0;
    return out;
}

void ModemReplyParser::clear()
{
    byteBuffer.clear();
    head = 0;
    skippingLine = false;
    retryAt = 0;
    scanFrom = -1;
}

void ModemReplyParser::removeFront(int n)
{
    head += qBound(0, n, buffered());
    // Whatever waited is gone: the next reply is matched as soon as it is looked at.
    retryAt = 0;
    scanFrom = -1;
}

// Whether matching the waiting text again could give another answer than last time: see
// waitForText for which bytes can. Looking at each new byte once keeps a line that arrives in
// many small reads as cheap as one that arrives whole.
bool ModemReplyParser::worthMatching()
{
    if (buffered() >= retryAt)
        return true;
    if (scanFrom < 0)
        return false;
    const char* text = byteBuffer.constData() + head;
    const bool cast = buffered() >= 6 && (text[0] == 'U' || text[0] == 'M' || text[0] == 'B')
        && std::memcmp(text + 1, "CAST:", 5) == 0;
    for (int i = scanFrom; i < buffered(); ++i) {
        const char c = text[i];
        if (c == '\r' || c == '\n' || c == '\0' || wake == Wake::AnyByte)
            return true;
        if (c == '=' && cast && castComma)
            return true;
        castComma = castComma || c == ',';
    }
    scanFrom = buffered();
    return false;
}

// The text the rules may look at: up to the first zero byte (a binary payload is cut out by its
// length, never matched), no further than one reply can reach, and never past the cap.
int ModemReplyParser::lineWindow() const
{
    const char* begin = byteBuffer.constData() + head;
    const char* end = begin + qMin(buffered(), maxBuffered);
    const char* p = begin;
    for (int lines = 0; lines < maxReplyLines && p < end; ++lines) {
        const void* lf = std::memchr(p, '\n', size_t(end - p));
        p = lf ? static_cast<const char*>(lf) + 1 : end;
    }
    const void* zero = std::memchr(begin, 0, size_t(p - begin));
    return int((zero ? static_cast<const char*>(zero) : p) - begin);
}

ModemReplyParser::Step ModemReplyParser::parseOne(QVector<ModemReply>& out)
{
    const int window = lineWindow();
    CastHead cast;
    if (castHead(byteBuffer.constData() + head, window, &cast))
        return readCast(cast, out);
    QString echoLength;
    if (echoHead(byteBuffer.constData() + head, window, &echoLength))
        return skipEcho(echoLength);
    const QString text = QString::fromLatin1(byteBuffer.constData() + head, window);
    bool couldComplete = false;
    QRegularExpressionMatch m;
    const int rule = matchingRule(text, &m, &couldComplete);
    if (rule == RuleCount) {
        // A prefix of some reply is worth waiting for only if nothing hides the rest of it.
        if (couldComplete && window == buffered() && buffered() < maxBuffered)
            return waitForText(text);
        return dropNoise();
    }
    if (rule == RuleEcho)
        return skipEcho(m.captured(1));
    if (rule == RuleCast) {
        cast.kind = m.captured(1).toLatin1();
        cast.sender = m.captured(2).toLatin1();
        cast.length = m.captured(3).toLatin1();
        cast.size = m.capturedLength(0);
        return readCast(cast, out);
    }
    removeFront(m.capturedLength(0));
    out.append(textReply(rule, m));
    return Step::Consumed;
}

// Our own reply to a sensor comes back as a 30-byte command head, the data and six more bytes;
// the data may hold anything, so the whole echo is skipped by count.
ModemReplyParser::Step ModemReplyParser::skipEcho(const QString& length)
{
    const qint64 echo = hexLength(length) + 36;
    if (buffered() < echo)
        return echo > maxBuffered ? dropNoise() : waitForBytes(echo);
    removeFront(int(echo));
    return Step::Consumed;
}

// Every answer to a sensor comes back as an echo, read here as its rule reads it: two bytes of
// length on the line, a comma, and the rest of the line up to its carriage return.
bool ModemReplyParser::echoHead(const char* text, int window, QString* length)
{
    constexpr int prefix = 10; // "AT+UCASTB:"
    if (window < prefix + 4 || std::memcmp(text, "AT+UCASTB:", prefix) != 0 || text[prefix + 2] != ',')
        return false;
    const auto lineEnd = [](char c) { return c == '\r' || c == '\n'; };
    if (lineEnd(text[prefix]) || lineEnd(text[prefix + 1]))
        return false;
    for (int i = prefix + 3; i < window; ++i) {
        if (text[i] == '\r') {
            *length = QString::fromLatin1(text + prefix, 2);
            return true;
        }
        if (text[i] == '\n')
            return false;
    }
    return false;
}

// Once the modem runs nearly every reply is a sensor's message: its head is read here as its
// rule reads it, a field running to its separator and never past a line end, without the
// rules' cost. False when `text` holds no whole head; the rules then tell a part of one from
// noise.
bool ModemReplyParser::castHead(const char* text, int window, CastHead* cast)
{
    if (window < 6 || std::memcmp(text + 1, "CAST:", 5) != 0
        || (std::memcmp(text, "UCAST", 5) != 0 && std::memcmp(text, "MCAST", 5) != 0
            && std::memcmp(text, "BCAST", 5) != 0))
        return false;
    const auto fieldEnd = [text, window](int from, char separator) {
        for (int i = from; i < window; ++i) {
            if (text[i] == separator)
                return i;
            if (text[i] == '\r' || text[i] == '\n')
                return -1;
        }
        return -1;
    };
    const int comma = fieldEnd(6, ',');
    const int equals = comma < 0 ? -1 : fieldEnd(comma + 1, '=');
    if (equals < 0)
        return false;
    cast->kind = QByteArray(text, 5);
    cast->sender = QByteArray(text + 6, comma - 6);
    cast->length = QByteArray(text + comma + 1, equals - comma - 1);
    cast->size = equals + 1;
    return true;
}

// The payload is binary and announced by length; at least one byte must follow it so that a
// length cut short by the line is never taken for a whole message.
ModemReplyParser::Step ModemReplyParser::readCast(const CastHead& cast, QVector<ModemReply>& out)
{
    const qint64 length = hexLength(QString::fromLatin1(cast.length));
    const qint64 matched = cast.size;
    if (matched + length >= buffered())
        return matched + length + 1 > maxBuffered ? dropNoise() : waitForBytes(matched + length + 1);
    // A sender that is no EUI64 (a corrupted line) would register a sensor no database row can
    // hold: the message goes, payload and all, and is told as such.
    ModemReply r;
    r.type = isEui64(cast.sender) ? ModemReply::Cast : ModemReply::BadSender;
    r.castKind = QString::fromLatin1(cast.kind);
    r.sender = QString::fromLatin1(cast.sender);
    r.payload = byteBuffer.mid(head + int(matched), int(length));
    removeFront(int(matched + length));
    out.append(r);
    return Step::Consumed;
}

// A reply is completed only by its last byte: a line end, or the first '=' after a sensor
// message's ','. Text that fails on its first line goes up to the line end as noise, so the
// bytes before that line end need no look. Text past a line end that fails loses only its
// first line and what follows is read at once, so every byte that could make it fail counts:
// any byte while it waits in fixed text, only a line end while it waits in a field (every
// field after a line end runs on, through its separators, to the end of its line). A zero
// byte or the cap ends any wait.
ModemReplyParser::Step ModemReplyParser::waitForText(const QString& text)
{
    retryAt = maxBuffered;
    scanFrom = buffered();
    castComma = text.contains(QLatin1Char(','));
    const bool firstLine = !text.contains(QLatin1Char('\r')) && !text.contains(QLatin1Char('\n'));
    wake = firstLine || someRuleWaits(text + QLatin1String("\x01,=\x01")) ? Wake::LineEnds : Wake::AnyByte;
    return Step::Wait;
}

// The rest of a reply announced by its length is binary: only its size matters.
ModemReplyParser::Step ModemReplyParser::waitForBytes(qint64 total)
{
    retryAt = int(total);
    scanFrom = -1;
    return Step::Wait;
}

// Text that no reply can start with (a stray "OK", line noise, a zero byte) is dropped up to
// its line end, so everything behind it is still read. The line end may come in a later read:
// the bytes up to it go too, so the replies read never depend on where the reads were cut.
ModemReplyParser::Step ModemReplyParser::dropNoise()
{
    removeFront(1);
    skippingLine = true;
    skipToLineEnd();
    return Step::Consumed;
}

// Drops bytes up to the next line end; false when none has arrived yet.
bool ModemReplyParser::skipToLineEnd()
{
    const char* begin = byteBuffer.constData() + head;
    int n = 0;
    while (n < buffered() && begin[n] != '\r' && begin[n] != '\n')
        ++n;
    skippingLine = n == buffered();
    removeFront(n);
    return !skippingLine;
}
