// Framing and fields of the gateway protocol, and the log lines built from them.
#include <QtTest>

#include "links/gatewaylog.h"
#include "links/gatewayprotocol.h"

using namespace GatewayProtocol;

namespace
{

QByteArray z(const char* text)
{
    return QByteArray(text) + '\0';
}

const QByteArray kConnectedBody = z("Connected") + z("ETRX357") + z("R309C") + z("000D6F0000AB0001") + z("COO")
    + z("11") + z("3") + z("1A2B") + z("000D6F0000AB1A2B");
// count 1: temperature, flag 1, 4 bytes
const QByteArray kPayload = QByteArray::fromHex("01010104cdcc0c41");
const QByteArray kEui = "000D6F0000C0A001";

using Intervals = QVector<QPair<QString, int>>;

} // namespace

Q_DECLARE_METATYPE(Intervals)

class TestGatewayProtocol : public QObject
{
    Q_OBJECT
private slots:
    void splitsFields_data();
    void splitsFields();
    void knowsWhereMessagesEnd_data();
    void knowsWhereMessagesEnd();
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
    QCOMPARE(splitFields(bytes), fields);
}

void TestGatewayProtocol::knowsWhereMessagesEnd_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<int>("length");
    const QByteArray cast = "Mess" + kEui + kPayload;
    QTest::newRow("Conn") << "Conn" + z("gw") << 7;
    QTest::newRow("Conn, invalid utf-8 name, then more") << "Conn" + z("\xd0") + "Stat" << 6;
    QTest::newRow("Conn without zero") << QByteArray("Conngw") << 0;
    QTest::newRow("Mess") << cast << cast.size();
    QTest::newRow("Mess then Mess") << cast + cast << cast.size();
    QTest::newRow("Mess, zero bytes in address and payload")
        << "Mess" + QByteArray("AB\0\0\0\0\0\0\0\0\0\0\0\0\0\0", 16) + QByteArray::fromHex("0201000100030000") << 28;
    QTest::newRow("Mess, count 0") << "Mess" + kEui + QByteArray(1, '\0') << 21;
    QTest::newRow("Mess, payload cut") << "Mess" + kEui + kPayload.left(6) << 0;
    QTest::newRow("Mess, record head cut") << "Mess" + kEui + QByteArray::fromHex("020101") << 0;
    QTest::newRow("Mess, no payload yet") << "Mess" + kEui << 0;
    QTest::newRow("status, connected") << "Stat" + kConnectedBody << 4 + kConnectedBody.size();
    QTest::newRow("status, connected, 8 fields") << "Init" + kConnectedBody.left(kConnectedBody.size() - 17) << 0;
    QTest::newRow("status, other") << "Clos" + z("Disconnected") + z("gone") + "Mess" << 22;
    QTest::newRow("status, other, 1 field") << "Stat" + z("Disconnected") << 0;
    QTest::newRow("status, connected in other case") << "Stat" + z("connected") + z("x") << 16;
    QTest::newRow("lower-case head") << "stat" + z("Disconnected") + z("x") << 0;
    QTest::newRow("unknown head") << QByteArray("Ping") << 0;
    QTest::newRow("under 4 bytes") << QByteArray("Con") << 0;
}

void TestGatewayProtocol::knowsWhereMessagesEnd()
{
    QFETCH(QByteArray, bytes);
    QFETCH(int, length);
    QCOMPARE(knownLength(bytes), length);
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

QTEST_GUILESS_MAIN(TestGatewayProtocol)
#include "tst_gatewayprotocol.moc"
