// Framing and fields of the gateway protocol, and the log lines built from them.
#include <QtTest>

#include "gatewaypeer.h"
#include "links/gatewaylog.h"
#include "links/gatewayprotocol.h"
#include "links/rejectiontally.h"
#include "tools/gatewaysim/simulatedgateway.h"

using namespace GatewayProtocol;

namespace
{

const QByteArray kConnectedBody = connectedStatus("000D6F0000AB0001");
// count 1: temperature, flag 1, 4 bytes
const QByteArray kPayload = QByteArray::fromHex("01010104cdcc0c41");
const QByteArray kEui = "000D6F0000C0A001";

using Intervals = QVector<QPair<QString, int>>;

} // namespace

Q_DECLARE_METATYPE(Intervals)
Q_DECLARE_METATYPE(FaultCounts)

class TestGatewayProtocol : public QObject
{
    Q_OBJECT
private slots:
    void splitsFields_data();
    void splitsFields();
    void knowsWhereMessagesEnd_data();
    void knowsWhereMessagesEnd();
    void decidesWaitingTextOnlyAtItsEnd_data();
    void decidesWaitingTextOnlyAtItsEnd();
    void countsRejections_data();
    void countsRejections();
    void reportsRejections_data();
    void reportsRejections();
    void parsesStatus_data();
    void parsesStatus();
    void parsesCast_data();
    void parsesCast();
    void buildsSlep_data();
    void buildsSlep();
    void escapesPeerTextInLogLines();
};

void TestGatewayProtocol::splitsFields_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QStringList>("fields");
    QTest::newRow("nothing") << QByteArray() << QStringList {};
    QTest::newRow("no zero byte") << QByteArray("abc") << QStringList {};
    QTest::newRow("one") << z("abc") << QStringList { "abc" };
    QTest::newRow("empty fields") << QByteArray(3, '\0') << QStringList { "", "", "" };
    QTest::newRow("tail dropped") << z("a") + z("") + "tail" << QStringList { "a", "" };
    QTest::newRow("utf-8") << z("Шлюз 1") + z("ok") << QStringList { "Шлюз 1", "ok" };
}

void TestGatewayProtocol::splitsFields()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QStringList, fields);
    QCOMPARE(SimulatedGateway::splitFields(bytes), fields);
}

void TestGatewayProtocol::knowsWhereMessagesEnd_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<int>("kind");
    QTest::addColumn<int>("length");
    QTest::addColumn<int>("fault");
    const int whole = Frame::Message;
    const int waits = Frame::Incomplete;
    const int dropped = Frame::Rejected;
    const int none = int(Fault::UnknownHead);
    const QByteArray cast = "Mess" + kEui + kPayload;
    QTest::newRow("Conn") << "Conn" + z("gw") << whole << 7 << none;
    QTest::newRow("Conn, invalid utf-8 name, then more") << "Conn" + z("\xd0") + "Stat" << whole << 6 << none;
    QTest::newRow("Conn without zero") << QByteArray("Conngw") << waits << 0 << none;
    QTest::newRow("Conn, tab in the name") << "Conn" + z("g\tw") << whole << 8 << none;
    QTest::newRow("Conn cut, then a Mess") << "Conngw" + cast << dropped << 6 << int(Fault::BadText);
    QTest::newRow("Mess") << cast << whole << cast.size() << none;
    QTest::newRow("Mess then Mess") << cast + cast << whole << cast.size() << none;
    QTest::newRow("Mess, double and interval records")
        << "Mess" + kEui + QByteArray::fromHex("0203010800000000000000000401040a000000") << whole << 39 << none;
    QTest::newRow("Mess, count 0") << "Mess" + kEui + QByteArray(1, '\0') << whole << 21 << none;
    QTest::newRow("Mess, payload cut") << "Mess" + kEui + kPayload.left(6) << waits << 0 << none;
    QTest::newRow("Mess, record head cut") << "Mess" + kEui + QByteArray::fromHex("020101") << waits << 0 << none;
    QTest::newRow("Mess, no payload yet") << "Mess" + kEui << waits << 0 << none;
    QTest::newRow("Mess, address cut") << "Mess" + kEui.left(7) << waits << 0 << none;
    // Everything after the cut belongs to the next message: its head stands where the cut
    // message goes wrong, and the stream goes on there.
    QTest::newRow("Mess cut in the address, then a Mess")
        << "Mess" + kEui.left(7) + cast << dropped << 11 << int(Fault::BadAddress);
    QTest::newRow("Mess cut before the count, then a Mess") << "Mess" + kEui + cast << dropped << 20 << int(Fault::Cut);
    QTest::newRow("Mess cut after a record, then a Mess")
        << "Mess" + kEui + QByteArray::fromHex("0201010400002041") + cast << dropped << 28 << int(Fault::BadRecord);
    QTest::newRow("Mess cut in a value, then a Mess")
        << "Mess" + kEui + QByteArray::fromHex("010101040000") + cast << dropped << 26 << int(Fault::Cut);
    QTest::newRow("Mess cut in a value, then a status") << "Mess" + kEui + QByteArray::fromHex("010101080000") + "Stat"
            + kConnectedBody << dropped << 26 << int(Fault::Cut);
    QTest::newRow("Mess ending in what may be a head waits")
        << "Mess" + kEui + QByteArray::fromHex("0101010400004d65") << waits << 0 << none;
    QTest::newRow("Mess ending in what is no head")
        << "Mess" + kEui + QByteArray::fromHex("0101010400004d65") + "x" << whole << 28 << none;
    QTest::newRow("Mess, address ended early by zeros")
        << "Mess" + QByteArray("AB\0\0\0\0\0\0\0\0\0\0\0\0\0\0", 16) + kPayload + cast << dropped
        << 4 + 16 + kPayload.size() << int(Fault::BadAddress);
    QTest::newRow("Mess, unknown record kind")
        << "Mess" + kEui + QByteArray::fromHex("0105010400002041") << dropped << 28 << int(Fault::BadRecord);
    QTest::newRow("Mess, temperature of 2 bytes")
        << "Mess" + kEui + QByteArray::fromHex("010101020000") << dropped << 26 << int(Fault::BadRecord);
    QTest::newRow("Mess, interval of 8 bytes") << "Mess" + kEui + QByteArray::fromHex("0104010800000000000000004d")
                                               << dropped << 4 + 16 + 12 << int(Fault::BadRecord);
    QTest::newRow("status, connected") << "Stat" + kConnectedBody << whole << 4 + kConnectedBody.size() << none;
    QTest::newRow("status, connected, modem address of 17 digits")
        << "Stat" + kConnectedBody.left(40) + "1" + kConnectedBody.mid(40) + "Mess" << dropped
        << 4 + kConnectedBody.size() + 1 << int(Fault::BadModemAddress);
    QTest::newRow("status, connected, 8 fields")
        << "Init" + kConnectedBody.left(kConnectedBody.size() - 17) << waits << 0 << none;
    QTest::newRow("status, other") << "Clos" + z("Disconnected") + z("gone") + "Mess" << whole << 22 << none;
    QTest::newRow("status, other, 1 field") << "Stat" + z("Disconnected") << waits << 0 << none;
    QTest::newRow("status, connected in other case") << "Stat" + z("connected") + z("x") << whole << 16 << none;
    QTest::newRow("status cut, then a Mess")
        << "Stat" + kConnectedBody.left(30) + cast << dropped << 34 << int(Fault::BadText);
    QTest::newRow("lower-case head") << "stat" + z("Disconnected") + z("x") << dropped << 19 << none;
    QTest::newRow("unknown head, up to a tail that may be one") << QByteArray("PingMe") << dropped << 4 << none;
    QTest::newRow("under 4 bytes") << QByteArray("Con") << waits << 0 << none;
    QTest::newRow("under 4 bytes, no head") << QByteArray("Cxn") << dropped << 3 << none;
}

void TestGatewayProtocol::knowsWhereMessagesEnd()
{
    QFETCH(QByteArray, bytes);
    QFETCH(int, kind);
    QFETCH(int, length);
    QFETCH(int, fault);
    const Frame frame = frontFrame(bytes);
    QCOMPARE(int(frame.kind), kind);
    QCOMPARE(frame.length, length);
    if (kind == Frame::Rejected)
        QCOMPARE(int(frame.fault), fault);
    // Once the connection has ended no bytes come: what waited for them is whole.
    if (QTest::currentDataTag() == QByteArray("Mess ending in what may be a head waits"))
        QCOMPARE(frontFrame(bytes, true).length, 28);
}

void TestGatewayProtocol::decidesWaitingTextOnlyAtItsEnd_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<bool>("decides");
    QTest::newRow("letters") << QByteArray("Шлюз 1") << false;
    QTest::newRow("tab, line feed, carriage return") << QByteArray("a\tb\nc\r") << false;
    QTest::newRow("zero byte") << QByteArray("ab\0c", 4) << true;
    QTest::newRow("count byte of a Mess") << QByteArray("Mess\x03", 5) << true;
    QTest::newRow("escape") << QByteArray("\x1b[0m") << true;
}

void TestGatewayProtocol::decidesWaitingTextOnlyAtItsEnd()
{
    QFETCH(QByteArray, bytes);
    QFETCH(bool, decides);
    QCOMPARE(mayEndText(bytes), decides);
}

void TestGatewayProtocol::parsesStatus_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<bool>("connected");
    QTest::addColumn<QStringList>("texts"); // status, name, firmware, EUI64, type, PAN, extended PAN
    QTest::addColumn<int>("channel");
    QTest::addColumn<int>("power");
    QTest::newRow("connected") << kConnectedBody << true << true
                               << QStringList { "", "ETRX357", "R309C", "000D6F0000AB0001", "COO", "1A2B",
                                      "000D6F0000AB1A2B" }
                               << 11 << 3;
    QTest::newRow("numbers that are none")
        << z("Connected") + z("") + z("") + z("") + z("") + z("x") + z("-4") + z("") + z("") << true << true
        << QStringList { "", "", "", "", "", "", "" } << 0 << -4;
    QTest::newRow("other") << z("Disconnected") + z("Нет модема") << true << false
                           << QStringList { "Нет модема", "", "", "", "", "", "" } << 0 << 0;
    QTest::newRow("other, extra fields") << z("No") + z("text") + z("more") << true << false
                                         << QStringList { "text", "", "", "", "", "", "" } << 0 << 0;
    QTest::newRow("connected, 8 fields") << kConnectedBody.left(kConnectedBody.size() - 17) << false << false
                                         << QStringList { "", "", "", "", "", "", "" } << 0 << 0;
    QTest::newRow("other, 1 field") << z("Disconnected") << false << false << QStringList { "", "", "", "", "", "", "" }
                                    << 0 << 0;
    QTest::newRow("no field") << QByteArray("Disconnected") << false << false
                              << QStringList { "", "", "", "", "", "", "" } << 0 << 0;
}

void TestGatewayProtocol::parsesStatus()
{
    QFETCH(QByteArray, body);
    QFETCH(bool, ok);
    QFETCH(bool, connected);
    QFETCH(QStringList, texts);
    QFETCH(int, channel);
    QFETCH(int, power);
    Status s;
    QCOMPARE(parseStatus(body, &s), ok);
    QCOMPARE(s.connected, connected);
    QCOMPARE(QStringList(
                 { s.statusText, s.deviceName, s.firmwareRevision, s.eui64, s.deviceType, s.panId, s.extendedPanId }),
        texts);
    QCOMPARE(s.channel, channel);
    QCOMPARE(s.power, power);
}

void TestGatewayProtocol::parsesCast_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QString>("eui64");
    QTest::addColumn<QByteArray>("payload");
    QTest::newRow("whole") << kEui + kPayload << QString(kEui) << kPayload;
    QTest::newRow("zero ends the address early")
        << QByteArray("ABCD\0xxxxxxxxxxx", 16) + kPayload << "ABCD" << kPayload;
    QTest::newRow("zero bytes in the payload") << kEui + QByteArray("\x01\x01\x00\x04\x00\x00\x00\x00", 8)
                                               << QString(kEui) << QByteArray("\x01\x01\x00\x04\x00\x00\x00\x00", 8);
    QTest::newRow("short address") << QByteArray("ABC") << "ABC" << QByteArray();
    QTest::newRow("empty address") << QByteArray(16, '\0') + kPayload << "" << kPayload;
    QTest::newRow("nothing") << QByteArray() << "" << QByteArray();
}

void TestGatewayProtocol::parsesCast()
{
    QFETCH(QByteArray, body);
    QFETCH(QString, eui64);
    QFETCH(QByteArray, payload);
    const Cast cast = parseCast(body);
    QCOMPARE(cast.eui64, eui64);
    QCOMPARE(cast.payload, payload);
}

void TestGatewayProtocol::buildsSlep_data()
{
    QTest::addColumn<Intervals>("intervals");
    QTest::addColumn<QByteArray>("frame");
    QTest::newRow("no sensor") << Intervals {} << QByteArray("Slep");
    QTest::newRow("one") << Intervals { { "000D6F0000C0A001", 60 } } << "Slep" + z("000D6F0000C0A001") + z("60");
    QTest::newRow("three, negative and zero") << Intervals { { "A", 600 }, { "B", -5 }, { "C", 0 } }
                                              << "Slep" + z("A") + z("600") + z("B") + z("-5") + z("C") + z("0");
}

void TestGatewayProtocol::buildsSlep()
{
    QFETCH(Intervals, intervals);
    QFETCH(QByteArray, frame);
    QCOMPARE(slepFrame(intervals), frame);
}

void TestGatewayProtocol::escapesPeerTextInLogLines()
{
    QCOMPARE(GatewayLog::connected("<b>gw&\"", "::ffff:10.0.0.2"),
        QString("<B><span style=\"color:#008000;\">Новое подключение.</B></span> \"&lt;b&gt;gw&amp;&quot;\" "
                "(::ffff:10.0.0.2)"));
    QCOMPARE(GatewayLog::modemDisconnected("gw", "1.2.3.4", "<i>x</i>"),
        QString("<B><span style=\"color:#A00000;\">Модем отсоеденён от </B></span>\"gw\" (1.2.3.4)  "
                "&lt;i&gt;x&lt;/i&gt;"));
}

void TestGatewayProtocol::countsRejections_data()
{
    QTest::addColumn<QVector<int>>("steps"); // ms of each rejection, in order
    QTest::addColumn<QVector<bool>>("atOnce"); // whether its line may go out at once
    QTest::addColumn<QVector<int>>("taken"); // ms at which the line goes out (-1: not taken)
    QTest::newRow("one") << QVector<int> { 0 } << QVector<bool> { true } << QVector<int> { 0 };
    QTest::newRow("burst waits for the interval")
        << QVector<int> { 0, 1, 2, 999 } << QVector<bool> { true, false, false, false }
        << QVector<int> { 0, -1, -1, -1 };
    QTest::newRow("after the interval, at once again")
        << QVector<int> { 0, 1000, 5000 } << QVector<bool> { true, true, true } << QVector<int> { 0, 1000, 5000 };
    QTest::newRow("late line restarts the interval")
        << QVector<int> { 0, 500, 1200, 1300, 2300 } << QVector<bool> { true, false, true, false, true }
        << QVector<int> { 0, -1, 1200, -1, 2300 };
}

void TestGatewayProtocol::countsRejections()
{
    QFETCH(QVector<int>, steps);
    QFETCH(QVector<bool>, atOnce);
    QFETCH(QVector<int>, taken);
    RejectionTally tally(1000);
    QCOMPARE(tally.dueIn(0), -1);
    int counted = 0;
    for (int i = 0; i < steps.size(); ++i) {
        QCOMPARE(tally.add(Fault::BadAddress, steps[i]), atOnce[i]);
        ++counted;
        if (taken[i] >= 0) {
            QCOMPARE(tally.dueIn(taken[i]), 0);
            QCOMPARE(tally.take(taken[i])[size_t(Fault::BadAddress)], counted);
            counted = 0;
            QVERIFY(tally.isEmpty());
        } else {
            // Due when the interval since the last line is over.
            QVERIFY(tally.dueIn(steps[i]) > 0);
        }
    }
}

void TestGatewayProtocol::reportsRejections_data()
{
    QTest::addColumn<FaultCounts>("counts");
    QTest::addColumn<QString>("text");
    const QString head = "<B><span style=\"color:#A00000;\">Отброшено ";
    const QString from = "</B></span> от \"&lt;gw&gt;\" (10.0.0.2): ";
    QTest::newRow("one") << FaultCounts { 1, 0, 0, 0, 0, 0 }
                         << head + "1 сообщение" + from + "неизвестный заголовок — 1";
    QTest::newRow("three of two kinds") << FaultCounts { 0, 2, 1, 0, 0,
        0 } << head + "3 сообщения" + from + "неверный адрес датчика — 2, неверная запись измерения — 1";
    QTest::newRow("eleven") << FaultCounts { 0, 0, 0, 0, 11, 0 }
                            << head + "11 сообщений" + from + "управляющий символ в тексте — 11";
    QTest::newRow("ten thousand and one") << FaultCounts { 0, 10000, 0, 1, 0,
        0 } << head + "10001 сообщение" + from + "неверный адрес датчика — 10000, сообщение оборвано — 1";
    QTest::newRow("twenty-two") << FaultCounts { 0, 0, 0, 0, 0, 22 }
                                << head + "22 сообщения" + from + "текст без конца длиннее 1 МБ — 22";
    QTest::newRow("modem address") << FaultCounts { 0, 0, 0, 0, 0, 0, 2 }
                                   << head + "2 сообщения" + from + "неверный адрес модема — 2";
}

void TestGatewayProtocol::reportsRejections()
{
    QFETCH(FaultCounts, counts);
    QFETCH(QString, text);
    QCOMPARE(GatewayLog::rejected("<gw>", "10.0.0.2", counts), text);
}

QTEST_GUILESS_MAIN(TestGatewayProtocol)
#include "tst_gatewayprotocol.moc"
