#include <QtTest>

#include "links/modemreplyparser.h"

namespace
{

const QByteArray sensorA = "000D6F0000C0A001";
const QByteArray sensorB = "000D6F0000C0A002";
// Binary payloads hold zero bytes, line ends and bytes above 0x7f.
const QByteArray binary("\x03\x01\x01\x04\x00\x00\xa8\x41\x0d\x0a\xff\x80", 12);
const QByteArray sixBytes("\x01\x00\x0a\x0d\x80\xff", 6);
const QByteArray sleepReply("\x01\x04\x01\x04\x3c\x00\x00\x00", 8);

QByteArray frame(const char* kind, const QByteArray& eui, const QByteArray& payload)
{
    return kind + QByteArray(":") + eui + ',' + QByteArray::number(payload.size(), 16).rightJustified(2, '0') + '='
        + payload + "\r\n";
}

QString cast(const char* kind, const QByteArray& eui, const QByteArray& payload)
{
    return QStringLiteral("%1|%2|%3").arg(kind, eui, payload.toHex());
}

QString describe(const ModemReply& r)
{
    const auto node = [&](const char* what) {
        return QStringList { what, r.node.NodeID, r.node.EUI64, r.node.ParentNodeID, r.node.DeviceType }.join('|');
    };
    switch (r.type) {
    case ModemReply::Identity:
        return QStringList { "identity", r.info.model, r.info.revision, r.info.EUI64 }.join('|');
    case ModemReply::PowerAccepted:
        return "power";
    case ModemReply::NoNetwork:
        return "nopan";
    case ModemReply::NetworkCreated:
        return "joined";
    case ModemReply::NetworkInfo:
        return QStringList { "pan", r.pan.deviceType, QString::number(r.pan.channel), QString::number(r.pan.power),
            r.pan.panId, r.pan.extendedPanId }
            .join('|');
    case ModemReply::S0EAccepted:
        return "s0e";
    case ModemReply::S10Accepted:
        return "s10";
    case ModemReply::DeviceListAccepted:
        return "sn";
    case ModemReply::NewNode:
        return node("newnode");
    case ModemReply::NodeAnnounced:
        return node("node");
    case ModemReply::Cast:
        return QStringLiteral("%1|%2|%3").arg(r.castKind, r.sender, QString::fromLatin1(r.payload.toHex()));
    case ModemReply::BadSender:
        return QStringLiteral("dropped|%1|%2").arg(r.castKind, r.sender);
    }
    return "?";
}

QStringList feedAll(ModemReplyParser& parser, const QList<QByteArray>& chunks, const QList<int>& gaps, bool initialized)
{
    qint64 now = 100000;
    parser.lastChunkTime = now;
    QStringList seen;
    for (int i = 0; i < chunks.size(); ++i) {
        now += gaps.value(i);
        for (const ModemReply& r : parser.feed(chunks[i], now, initialized))
            seen << describe(r);
    }
    return seen;
}

} // namespace

class TestModemReplyParser : public QObject
{
    Q_OBJECT
private slots:
    void feed_data();
    void feed();
    void splitAnywhere();
};

void TestModemReplyParser::feed_data()
{
    QTest::addColumn<QList<QByteArray>>("chunks");
    QTest::addColumn<QList<int>>("gaps"); // ms before each chunk
    QTest::addColumn<bool>("initialized");
    QTest::addColumn<QStringList>("expected");
    QTest::addColumn<int>("leftOver");

    using L = QList<QByteArray>;
    const QByteArray ati = "ATI\r\r\nTelegesis ETRX357\r\nR309C\r\n000D6F0000A1B2C3\r\n\r\nOK\r\n";
    const QByteArray echoHead = "AT+UCASTB:08," + sensorA + "\r";
    const QByteArray node = "FFD:" + sensorB + ",7B3C\r\n";
    const QString nodeSeen = "node|7B3C|" + sensorB + "|0000|FFD";

    QTest::newRow("1 identity") << L { ati } << QList<int> {} << false
                                << QStringList { "identity|ETRX357|309C|000D6F0000A1B2C3" } << 0;
    QTest::newRow("1 identity, lower-case maker, model with blanks")
        << L { "ATI\r\r\ntelegesis ETRX3 USB\r\nR308\r\n000D6F0000000001\r\n\r\nOK\r\n" } << QList<int> {} << true
        << QStringList { "identity|ETRX3 USB|308|000D6F0000000001" } << 0;
    QTest::newRow("2 power") << L { "ATS01=-7,mirvasol\r\r\nOK\r\n" } << QList<int> {} << false
                             << QStringList { "power" } << 0;
    QTest::newRow("3 no network") << L { "AT+N\r\r\n+N=NoPAN\r\n\r\nOK\r\n" } << QList<int> {} << false
                                  << QStringList { "nopan" } << 0;
    QTest::newRow("4 joined") << L { "AT+EN\r\r\nJPAN:11,1A2B,0123456789ABCDEF\r\n\r\nOK\r\n" } << QList<int> {}
                              << false << QStringList { "joined" } << 0;
    QTest::newRow("5 network") << L { "AT+N\r\r\n+N=COO,11,-07,1A2B,0123456789ABCDEF\r\n\r\nOK\r\n" } << QList<int> {}
                               << false << QStringList { "pan|COO|11|-7|1A2B|0123456789ABCDEF" } << 0;
    QTest::newRow("5 network, power not a number")
        << L { "AT+N\r\r\n+N=FFD,26,high,00FF,00000000000000AA\r\n\r\nOK\r\n" } << QList<int> {} << false
        << QStringList { "pan|FFD|26|0|00FF|00000000000000AA" } << 0;
    QTest::newRow("6 S0E") << L { "ATS0E=94C0\r\r\nOK\r\n" } << QList<int> {} << false << QStringList { "s0e" } << 0;
    QTest::newRow("7 S10") << L { "ATS10=0010\r\r\nOK\r\n" } << QList<int> {} << false << QStringList { "s10" } << 0;
    QTest::newRow("8 device list") << L { "AT+SN\r\r\nOK\r\n" } << QList<int> {} << true << QStringList { "sn" } << 0;
    QTest::newRow("9 new node") << L { "NEWNODE:4A10," + sensorA + ",1234\r\n\r\nSED:" + sensorA + ",4A10\r\n" }
                                << QList<int> {} << true << QStringList { "newnode|4A10|" + sensorA + "|1234|SED" }
                                << 0;
    QTest::newRow("10 announced twice") << L { node + node } << QList<int> {} << true
                                        << QStringList { nodeSeen, nodeSeen } << 0;
    QTest::newRow("11 echo waits at 43 bytes")
        << L { echoHead + sleepReply + "\r\nOK\r" } << QList<int> {} << true << QStringList {} << 43;
    // The six bytes after the echoed data are not examined: letters show that exactly 44 go.
    QTest::newRow("11 echo drops exactly 44 bytes")
        << L { echoHead + sleepReply + "ABCDEF" + node } << QList<int> {} << true << QStringList { nodeSeen } << 0;
    QTest::newRow("11 echo completed by a later chunk")
        << L { echoHead, sleepReply + "\r\nOK\r\n" + node } << QList<int> { 0, 20 } << true << QStringList { nodeSeen }
        << 0;
    // The echo's head read the way its rule reads it: a line feed anywhere in its line, or in
    // its length, makes it noise; a length that is no number skips the bare 36 bytes.
    QTest::newRow("11 line feed inside the echo's line")
        << L { "AT+UCASTB:08," + sensorA + "\n" + node } << QList<int> {} << true << QStringList { nodeSeen } << 0;
    QTest::newRow("11 line end inside the echo's length")
        << L { "AT+UCASTB:0\r," + sensorA + "\r\n" + node } << QList<int> {} << true
        << QStringList { nodeSeen } << 0;
    QTest::newRow("11 echo with no number for its length")
        << L { "AT+UCASTB:zz,\r" + QByteArray(22, 'x') + node } << QList<int> {} << true << QStringList { nodeSeen }
        << 0;
    QTest::newRow("12 payload of 6 waits for one more byte")
        << L { "UCAST:" + sensorA + ",06=" + sixBytes } << QList<int> {} << true << QStringList {} << 32;
    QTest::newRow("12 one more byte releases it")
        << L { "UCAST:" + sensorA + ",06=" + sixBytes, "\r" } << QList<int> { 0, 10 } << true
        << QStringList { cast("UCAST", sensorA, sixBytes) } << 0;
    QTest::newRow("12 zero and high bytes, text behind still read")
        << L { frame("UCAST", sensorA, binary) + node } << QList<int> {} << true
        << QStringList { cast("UCAST", sensorA, binary), nodeSeen } << 0;
    QTest::newRow("12 two messages in one chunk")
        << L { frame("MCAST", sensorA, sixBytes) + frame("BCAST", sensorB, binary) } << QList<int> {} << true
        << QStringList { cast("MCAST", sensorA, sixBytes), cast("BCAST", sensorB, binary) } << 0;
    QTest::newRow("12 sender of 17 digits, then a message")
        << L { frame("UCAST", sensorA + "1", binary) + frame("BCAST", sensorB, sixBytes) } << QList<int> {} << true
        << QStringList { "dropped|UCAST|" + sensorA + "1", cast("BCAST", sensorB, sixBytes) } << 0;
    QTest::newRow("12 negative length is not a length") << L { "UCAST:" + sensorA + ",-1=\r\n" } << QList<int> {}
                                                        << true << QStringList { cast("UCAST", sensorA, {}) } << 0;
    // A message's head read the way its rule reads it: the length runs to the '=' through commas,
    // no field runs past a line end, the sender may be empty.
    QTest::newRow("12 comma inside the length") << L { "UCAST:" + sensorA + ",0,2=\r\n" + node } << QList<int> {}
                                                << true << QStringList { cast("UCAST", sensorA, {}), nodeSeen } << 0;
    QTest::newRow("12 line end inside the head")
        << L { "UCAST:" + sensorA + "\r\n,02=AB\r\n" + node } << QList<int> {} << true << QStringList { nodeSeen }
        << 0;
    QTest::newRow("12 empty sender") << L { "MCAST:,02=AB\r\n" + node } << QList<int> {} << true
                                     << QStringList { "dropped|MCAST|", nodeSeen } << 0;
    QTest::newRow("12 no such kind") << L { "XCAST:" + sensorA + ",02=AB\r\n" + node } << QList<int> {} << true
                                     << QStringList { nodeSeen } << 0;
    QTest::newRow("12 length beyond the cap is noise")
        << L { "UCAST:" + sensorA + ",FFFFFFFF=\r\n" + node } << QList<int> {} << true << QStringList { nodeSeen } << 0;
    QTest::newRow("split before initialisation, long pause")
        << L { ati.left(20), ati.mid(20) } << QList<int> { 0, 60000 } << false
        << QStringList { "identity|ETRX357|309C|000D6F0000A1B2C3" } << 0;
    QTest::newRow("split after initialisation, 500 ms")
        << L { frame("UCAST", sensorA, binary).left(30), frame("UCAST", sensorA, binary).mid(30) }
        << QList<int> { 0, 500 } << true << QStringList { cast("UCAST", sensorA, binary) } << 0;
    QTest::newRow("split after initialisation, 501 ms loses the first part")
        << L { frame("UCAST", sensorA, binary).left(30), frame("UCAST", sensorA, binary).mid(30) + node }
        << QList<int> { 0, 501 } << true << QStringList { nodeSeen } << 0;
    QTest::newRow("leading line ends") << L { "\r\n\r\r\n\n\n", "\rAT+SN\r\r\nOK\r\n" } << QList<int> {} << false
                                       << QStringList { "sn" } << 0;
    QTest::newRow("stray OK before a message")
        << L { "OK\r\n" + node } << QList<int> {} << false << QStringList { nodeSeen } << 0;
    QTest::newRow("zero byte at the front")
        << L { QByteArray("\0\x01zz\r\n", 6) + node } << QList<int> {} << false << QStringList { nodeSeen } << 0;
    QTest::newRow("noise between two messages")
        << L { frame("UCAST", sensorA, sixBytes) + "\x93\xa0 line noise\r\n" + frame("UCAST", sensorB, binary) }
        << QList<int> {} << true << QStringList { cast("UCAST", sensorA, sixBytes), cast("UCAST", sensorB, binary) }
        << 0;
    QTest::newRow("noise without a line end yet")
        << L { "garbage", "\r\n" + node } << QList<int> { 0, 10 } << true << QStringList { nodeSeen } << 0;
    QTest::newRow("zero byte inside a partial reply")
        << L { QByteArray("UCAST:000D\0\r\n", 13) + node } << QList<int> {} << false << QStringList { nodeSeen } << 0;
    QTest::newRow("identity without its blank line never matches")
        << L { "ATI\r\r\nTelegesis X\r\nR1\r\nEUI\r\nOK\r\n" + node } << QList<int> {} << false
        << QStringList { nodeSeen } << 0;
    QTest::newRow("captures stay within one line")
        << L { "NEWNODE:1,2\r\n" + node } << QList<int> {} << true << QStringList { nodeSeen } << 0;
    QTest::newRow("a partial line waits") << L { "NEWNODE:1,2," } << QList<int> {} << true << QStringList {} << 12;
    // Noise decides the fate of the rest of its line, whether or not the line end has arrived.
    QTest::newRow("noise and a zero byte before a message on its line")
        << L { QByteArray("Z\0UCAST:", 8) + sensorA + ",02=AB\r\n" + node } << QList<int> {} << true
        << QStringList { nodeSeen } << 0;
    QTest::newRow("noise before a join on its line")
        << L { "=NEWNODE:4A10," + sensorA + ",1234\r\n\r\nSED:" + sensorA + ",4A10\r\n" } << QList<int> {} << true
        << QStringList { "node|4A10|" + sensorA + "|0000|SED" } << 0;
    QTest::newRow("a reply over several lines fails at once, the message behind it is read")
        << L { "NEWNODE:4A10," + sensorA + ",4A10\r\n", "UCAST:" + sensorA + ",02=ABx" } << QList<int> { 0, 10 } << true
        << QStringList { cast("UCAST", sensorA, "AB") } << 0;
    QTest::newRow("an endless line is capped")
        << L { "UCAST:" + QByteArray(5000, 'A'), QByteArray(5000, 'A'), "\r\n" + node } << QList<int> { 0, 10, 10 }
        << true << QStringList { nodeSeen } << 0;
}

void TestModemReplyParser::feed()
{
    QFETCH(QList<QByteArray>, chunks);
    QFETCH(QList<int>, gaps);
    QFETCH(bool, initialized);
    QFETCH(QStringList, expected);
    QFETCH(int, leftOver);

    ModemReplyParser parser;
    QCOMPARE(feedAll(parser, chunks, gaps, initialized), expected);
    QCOMPARE(parser.buffered(), leftOver);

    // Without a pause between them, the same bytes give the same replies whole or cut anywhere.
    if (initialized && std::any_of(gaps.begin(), gaps.end(), [](int gap) { return gap > ModemReplyParser::pauseMs; }))
        return;
    const QByteArray stream = chunks.join();
    for (int cut = 0; cut < stream.size(); ++cut) {
        ModemReplyParser cutParser;
        QCOMPARE(feedAll(cutParser, { stream.left(cut), stream.mid(cut) }, { 0, 10 }, initialized), expected);
        QCOMPARE(cutParser.buffered(), leftOver);
    }
}

// A whole conversation gives the same replies however the line cuts it up.
void TestModemReplyParser::splitAnywhere()
{
    const QByteArray stream = "ATI\r\r\nTelegesis ETRX357\r\nR309C\r\n000D6F0000A1B2C3\r\n\r\nOK\r\n"
                              "ATS01=-7,mirvasol\r\r\nOK\r\n"
                              "AT+N\r\r\n+N=NoPAN\r\n\r\nOK\r\n"
                              "AT+EN\r\r\nJPAN:11,1A2B,0123456789ABCDEF\r\n\r\nOK\r\n"
                              "AT+N\r\r\n+N=COO,11,-07,1A2B,0123456789ABCDEF\r\n\r\nOK\r\n"
                              "ATS0E=94C0\r\r\nOK\r\nATS10=0010\r\r\nOK\r\nAT+SN\r\r\nOK\r\n"
                              "NEWNODE:4A10,"
        + sensorA + ",0000\r\n\r\nSED:" + sensorA + ",4A10\r\nAT+UCASTB:08," + sensorA + "\r" + sleepReply
        + "\r\nOK\r\n" + frame("UCAST", sensorA, binary) + frame("BCAST", sensorB, sixBytes) + "\r\n";
    ModemReplyParser whole;
    const QStringList expected = feedAll(whole, { stream }, {}, false);
    QCOMPARE(expected.size(), 11);

    for (int cut = 1; cut < stream.size(); ++cut) {
        ModemReplyParser parser;
        QCOMPARE(feedAll(parser, { stream.left(cut), stream.mid(cut) }, { 0, 100 }, false), expected);
    }
    QList<QByteArray> bytes;
    for (const char c : stream)
        bytes << QByteArray(1, c);
    ModemReplyParser parser;
    QCOMPARE(feedAll(parser, bytes, {}, false), expected);
    QCOMPARE(parser.buffered(), 0);
}

QTEST_GUILESS_MAIN(TestModemReplyParser)
#include "tst_modemreplyparser.moc"
