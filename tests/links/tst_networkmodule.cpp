// The gateway server against real gateways on loopback: what the program makes of their bytes
// (records, signals, log lines, in order) and exactly which bytes they receive.
#include <QtTest>

#include <QRegularExpression>
#include <QTcpServer>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include "gatewaypeer.h"
#include "links/gatewayprotocol.h"
#include "links/networkmodule.h"
#include "links/zigbeeclient.h"

namespace
{

const QString kPeer = QStringLiteral("127.0.0.1"); // an IPv4 peer in dotted form, not IPv4-mapped
const QByteArray kConnected = connectedStatus("000D6F0000AB0001");
const QByteArray kPayload = QByteArray::fromHex("03010004000020410201040000004203010400004040");
const QString kGreen = QStringLiteral("<B><span style=\"color:#008000;\">");
const QString kRed = QStringLiteral("<B><span style=\"color:#A00000;\">");
const QString kClose = QStringLiteral("</B></span>");

QString describe(const ZigBeeClient* c)
{
    if (!c->modemConnected)
        return QStringLiteral("off|") + c->statusText;
    return QStringList { "on", c->modem.DeviceName, c->modem.FirmwareRevision, c->modem.EUI64, c->DeviceType,
        QString::number(c->Channel), QString::number(c->Power), c->PanID, c->ExtendedPanID }
        .join('|');
}

// Everything the module tells the rest of the program, in order, with the record as it was
// at each signal.
struct Recorder : QObject {
    QStringList events;
    QSet<ZigBeeClient*> gone;

    explicit Recorder(NetworkModule* m)
    {
        connect(m, &NetworkModule::signalInterfNetworkMess, this, [this](const QString& t) { events << "log " + t; });
        connect(m, &NetworkModule::signalNewConnection, this, [this](ZigBeeClient* c) { add("conn", c, c->name); });
        connect(m, &NetworkModule::signalNetworkCastReceived, this,
            [this](ZigBeeClient* c, const QString& eui, const QByteArray& p) {
                add("cast", c, c->name + ' ' + eui + ' ' + p.toHex());
            });
        connect(m, &NetworkModule::signalStatReceived, this, [this](ZigBeeClient* c) { add("stat", c, describe(c)); });
        connect(m, &NetworkModule::signalInitReceived, this, [this](ZigBeeClient* c) { add("init", c, describe(c)); });
        connect(m, &NetworkModule::signalClosReceived, this, [this](ZigBeeClient* c) { add("clos", c, describe(c)); });
        connect(m, &NetworkModule::signalDisconnected, this, [this](ZigBeeClient* c) {
            add("disc", c, c->name);
            gone.insert(c);
        });
    }
    void add(const char* kind, ZigBeeClient* c, const QString& text)
    {
        // A record is never used after its connection has been reported gone.
        QVERIFY(!gone.contains(c));
        events << QString::fromLatin1(kind) + ' ' + text;
    }
    QStringList only(const QString& prefix) const
    {
        QStringList l;
        for (const QString& e : events)
            if (e.startsWith(prefix))
                l << e;
        return l;
    }
    QStringList without(const char* prefix) const
    {
        QStringList l;
        for (const QString& e : events)
            if (!e.startsWith(QLatin1String(prefix)))
                l << e;
        return l;
    }
};

// The server, what it tells the program, and one gateway connected to it.
struct Session {
    std::unique_ptr<NetworkModule> module = startGatewayServer();
    std::unique_ptr<Recorder> rec;
    GatewayPeer peer;
    QString error = QStringLiteral("no free port for the server");

    bool start()
    {
        if (!module)
            return false;
        rec = std::make_unique<Recorder>(module.get());
        return peer.connectTo(module->serverPort(), &error);
    }
};

// A gateway that connects and never reads a byte: a plain socket with a small receive buffer, so
// the program's output stays with the program.
class SilentPeer
{
public:
    explicit SilentPeer(quint16 port)
    {
        fd = ::socket(AF_INET, SOCK_STREAM, 0);
        const int small = 4096;
        ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
        sockaddr_in address {};
        address.sin_family = AF_INET;
        address.sin_port = htons(port);
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        connected = ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    }
    ~SilentPeer() { ::close(fd); }
    SilentPeer(const SilentPeer&) = delete;
    SilentPeer& operator=(const SilentPeer&) = delete;

    bool connected = false;

private:
    int fd = -1;
};

// The counts of the rejection lines, added up.
int rejectedCount(const QStringList& lines)
{
    static const QRegularExpression count(QStringLiteral("Отброшено (\\d+) "));
    int sum = 0;
    for (const QString& line : lines)
        sum += count.match(line).captured(1).toInt();
    return sum;
}

} // namespace

class TestNetworkModule : public QObject
{
    Q_OBJECT
private slots:
    void announcesGatewayAndModem_data();
    void announcesGatewayAndModem();
    void passesCastsExactly_data();
    void passesCastsExactly();
    void handlesPendingBytesBeforeRecordGoes_data();
    void handlesPendingBytesBeforeRecordGoes();
    void survivesMalformedInput_data();
    void survivesMalformedInput();
    void sendsExactFrames_data();
    void sendsExactFrames();
    void endsConnectionWithoutConn();
    void destructorLeavesNoSignal();
    void endsConnectionThatDoesNotRead_data();
    void endsConnectionThatDoesNotRead();
    void reportsFloodOfBadMessagesInFewLines();
    void resendsSensorListAtMostOncePerPause();
    void refusesUnusablePort();
};

void TestNetworkModule::announcesGatewayAndModem_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QStringList>("events");
    const QString conn = kGreen + "Новое подключение." + kClose + " \"Шлюз 1\" (" + kPeer + ")";
    const QString up = kGreen + "Модем подсоединён" + kClose + " к \"Шлюз 1\" (" + kPeer + ")"
        + " &nbsp; DeviceName: ETRX357 &nbsp; FirmwareRevision: R309C &nbsp; EUI64: 000D6F0000AB0001";
    const QString on = "on|ETRX357|R309C|000D6F0000AB0001|COO|11|3|1A2B|000D6F0000AB1A2B";
    for (const char* head : { "Stat", "Init", "Clos" }) {
        QTest::addRow("Conn and connected %s", head)
            << "Conn" + z("Шлюз 1") + head + kConnected
            << QStringList { "log " + conn, "conn Шлюз 1", "log " + up, QString(head).toLower() + ' ' + on };
    }
    QTest::newRow("other form") << "Conn" + z("Шлюз 1") + "Stat" + z("Disconnected") + z("Нет модема")
                                << QStringList { "log " + conn, "conn Шлюз 1",
                                       "log " + kRed + "Модем отсоеденён от " + kClose + "\"Шлюз 1\" (" + kPeer
                                           + ")  Нет модема",
                                       "stat off|Нет модема" };
    QTest::newRow("word Connected in other case")
        << "Conn" + z("Шлюз 1") + "Init" + z("CONNECTED") + z("x")
        << QStringList { "log " + conn, "conn Шлюз 1",
               "log " + kRed + "Модем отсоеденён от " + kClose + "\"Шлюз 1\" (" + kPeer + ")  x", "init off|x" };
    QTest::newRow("markup in peer text") << "Conn" + z("<b>&") + "Stat" + z("No") + z("<i>")
                                         << QStringList { "log " + kGreen + "Новое подключение." + kClose
                                                    + " \"&lt;b&gt;&amp;\" (" + kPeer + ")",
                                                "conn <b>&",
                                                "log " + kRed + "Модем отсоеденён от " + kClose + "\"&lt;b&gt;&amp;\" ("
                                                    + kPeer + ")  &lt;i&gt;",
                                                "stat off|<i>" };
    QTest::newRow("Mess with a 14-digit address")
        << "Conn" + z("Шлюз 1") + "Mess" + QByteArray("000D6F0000C0A0\0\0", 16) + kPayload
        << QStringList { "log " + conn, "conn Шлюз 1",
               "log " + kRed + "Отброшено 1 сообщение" + kClose + " от \"Шлюз 1\" (" + kPeer
                   + "): неверный адрес датчика — 1" };
    const QByteArray longName = QString(70000, QChar(0x0416)).toUtf8();
    QTest::newRow("name cut to 64 characters")
        << "Conn" + longName + '\0' + "Stat" + z("Off") + longName + '\0'
        << QStringList { "log " + kGreen + "Новое подключение." + kClose + " \"" + QString(64, QChar(0x0416)) + "\" ("
                   + kPeer + ")",
               "conn " + QString(64, QChar(0x0416)),
               "log " + kRed + "Модем отсоеденён от " + kClose + "\"" + QString(64, QChar(0x0416)) + "\" (" + kPeer
                   + ")  " + QString(64, QChar(0x0416)),
               "stat off|" + QString(64, QChar(0x0416)) };
    QTest::newRow("status before Conn, empty name")
        << "Stat" + kConnected
        << QStringList { "log " + kGreen + "Модем подсоединён" + kClose + " к \"\" (" + kPeer + ")"
                   + " &nbsp; DeviceName: ETRX357 &nbsp; FirmwareRevision: R309C &nbsp; EUI64: 000D6F0000AB0001",
               "stat " + on };
}

void TestNetworkModule::announcesGatewayAndModem()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QStringList, events);
    Session s;
    QVERIFY2(s.start(), qPrintable(s.error));
    QVERIFY(s.peer.send(bytes));
    QTRY_COMPARE(s.rec->events, events);
    QCOMPARE(s.module->clients.size(), 1);
    const ZigBeeClient* c = s.module->clients.first();
    QCOMPARE(NetworkModule::peerText(c), kPeer);
    QVERIFY(qAbs(c->connectTime.secsTo(QDateTime::currentDateTime())) < 10);
}

void TestNetworkModule::passesCastsExactly_data()
{
    QTest::addColumn<QList<QByteArray>>("writes");
    QTest::addColumn<QStringList>("casts");
    const QByteArray eui = "000D6F0000C0A001";
    const QByteArray zeros = QByteArray::fromHex("02010004000000000300040000a040");
    QTest::newRow("payload with zero bytes")
        << QList<QByteArray> { "Mess" + eui + zeros } << QStringList { "cast  " + eui + ' ' + zeros.toHex() };
    QTest::newRow("address ended early by a zero: dropped")
        << QList<QByteArray> { "Mess" + QByteArray("ABCD\0\0\0\0\0\0\0\0\0\0\0\0", 16) + kPayload } << QStringList {};
    QTest::newRow("two in one write") << QList<QByteArray> { "Mess" + eui + kPayload + "Mess" + eui
        + zeros } << QStringList { "cast  " + eui + ' ' + kPayload.toHex(), "cast  " + eui + ' ' + zeros.toHex() };
    QTest::newRow("Conn, then a Mess without zero bytes, one write")
        << QList<QByteArray> { "Conn" + z("gw") + "Mess" + eui + QByteArray::fromHex("01010104cdcc0c41") }
        << QStringList { "conn gw", "cast gw " + eui + " 01010104cdcc0c41" };
    QTest::newRow("cut into three writes")
        << QList<QByteArray> { "Me", "ss" + eui.left(5), eui.mid(5) + kPayload.left(9), kPayload.mid(9) }
        << QStringList { "cast  " + eui + ' ' + kPayload.toHex() };
    QTest::newRow("payload shorter than it says: waits for the rest")
        << QList<QByteArray> { "Mess" + eui + QByteArray::fromHex("0501010400") } << QStringList {};
    QTest::newRow("under 16 address bytes: waits") << QList<QByteArray> { "MessABC" } << QStringList {};
}

void TestNetworkModule::passesCastsExactly()
{
    QFETCH(QList<QByteArray>, writes);
    QFETCH(QStringList, casts);
    Session s;
    QVERIFY2(s.start(), qPrintable(s.error));
    for (const QByteArray& w : writes)
        QVERIFY(s.peer.send(w));
    QTRY_COMPARE(s.rec->without("log"), casts);
    // Nothing more comes once the read is over.
    QTest::qWait(50);
    QCOMPARE(s.rec->without("log"), casts);
}

void TestNetworkModule::handlesPendingBytesBeforeRecordGoes_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QStringList>("events");
    const QByteArray eui = "000D6F0000C0A001";
    QTest::newRow("Mess") << "Conn" + z("gw") + "Mess" + eui + kPayload
                          << QStringList { "conn gw", "cast gw " + eui + ' ' + kPayload.toHex(), "disc gw" };
    QTest::newRow("status") << "Conn" + z("gw") + "Clos" + z("Off") + z("bye")
                            << QStringList { "conn gw", "clos off|bye", "disc gw" };
    // What the close leaves incomplete is never handled as if it were whole.
    QTest::newRow("Mess cut short by the close")
        << "Conn" + z("gw") + "Mess" + eui + "\x05" << QStringList { "conn gw", "disc gw" };
    QTest::newRow("Conn without zero byte") << QByteArray("Conngw") << QStringList { "disc " };
    QTest::newRow("connected status, 3 fields")
        << "Conn" + z("gw") + "Stat" + z("Connected") + z("a") + z("b") << QStringList { "conn gw", "disc gw" };
}

void TestNetworkModule::handlesPendingBytesBeforeRecordGoes()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QStringList, events);
    Session s;
    QVERIFY2(s.start(), qPrintable(s.error));
    QVERIFY(s.peer.sendAndClose(bytes));
    QTRY_COMPARE(s.rec->without("log"), events);
    QVERIFY(s.rec->events.value(s.rec->events.size() - 2).startsWith("log " + kRed + "Отсоединение клиента" + kClose));
    QVERIFY(s.module->clients.isEmpty());
}

void TestNetworkModule::survivesMalformedInput_data()
{
    QTest::addColumn<QList<QByteArray>>("writes");
    QTest::addColumn<QStringList>("events");
    QTest::addColumn<QStringList>("rejected"); // the log lines of dropped messages
    QByteArray noise(1 << 20, '\0');
    for (int i = 0; i < noise.size(); ++i)
        noise[i] = char((quint32(i) * 7919u + 13u) % 251u);
    auto dropped = [](const char* why) {
        return QStringList { "log " + kRed + "Отброшено 1 сообщение" + kClose + " от \"\" (" + kPeer + "): " + why };
    };
    const QStringList unknown = dropped("неизвестный заголовок — 1");
    QTest::newRow("lower-case head") << QList<QByteArray> { "conn" + z("gw") } << QStringList {} << unknown;
    QTest::newRow("unknown head") << QList<QByteArray> { "Ping" + z("gw") } << QStringList {} << unknown;
    QTest::newRow("under 4 bytes, no head") << QList<QByteArray> { "Xy" } << QStringList {} << unknown;
    QTest::newRow("start of a head, then another head") << QList<QByteArray> { "Co" } << QStringList {} << unknown;
    QTest::newRow("Mess with empty address") << QList<QByteArray> { "Mess" + QByteArray(16, '\0') + kPayload }
                                             << QStringList {} << dropped("неверный адрес датчика — 1");
    QTest::newRow("junk between messages")
        << QList<QByteArray> { "Conn" + z("gw") + "junk!" + "Stat" + z("Off") + z("x") }
        << QStringList { "conn gw", "stat off|x" }
        << QStringList { "log " + kRed + "Отброшено 1 сообщение" + kClose + " от \"gw\" (" + kPeer
               + "): неизвестный заголовок — 1" };
    // However many reads the noise takes, it is one stretch without a head.
    QTest::newRow("1 MB of noise") << QList<QByteArray> { noise } << QStringList {} << unknown;
    QTest::newRow("noise behind a Conn") << QList<QByteArray> { "Conn" + z("gw") + noise } << QStringList { "conn gw" }
                                         << QStringList { "log " + kRed + "Отброшено 1 сообщение" + kClose
                                                + " от \"gw\" (" + kPeer + "): неизвестный заголовок — 1" };
    QTest::newRow("status cut by a pause")
        << QList<QByteArray> { "Stat" + kConnected.left(30), kConnected.mid(30) }
        << QStringList { "stat on|ETRX357|R309C|000D6F0000AB0001|COO|11|3|1A2B|000D6F0000AB1A2B" } << QStringList {};
    QTest::newRow("name over 1 MB") << QList<QByteArray> { "Conn" + QByteArray(GatewayProtocol::kMaxPending + 10, 'x')
        + z("") } << QStringList {} << dropped("текст без конца длиннее 1 МБ — 1");
}

void TestNetworkModule::survivesMalformedInput()
{
    QFETCH(QList<QByteArray>, writes);
    QFETCH(QStringList, events);
    QFETCH(QStringList, rejected);
    Session s;
    QVERIFY2(s.start(), qPrintable(s.error));
    for (const QByteArray& w : writes) {
        QVERIFY(s.peer.send(w));
        QTest::qWait(150);
    }
    QCOMPARE(s.rec->without("log"), events);
    // The connection still works once the gateway has paused.
    QVERIFY(s.peer.send("Conn" + z("after") + "Stat" + z("Off") + z("x")));
    const QStringList after = events + QStringList { "conn after", "stat off|x" };
    QTRY_COMPARE(s.rec->without("log"), after);
    QCOMPARE(s.rec->only("log " + kRed + "Отброшено"), rejected);
    QVERIFY(s.peer.isConnected());
    QCOMPARE(s.module->clients.size(), 1);
}

void TestNetworkModule::sendsExactFrames_data()
{
    QTest::addColumn<int>("kind"); // 0 slotSlepSend, 1 slotSlepSend2
    QTest::addColumn<bool>("toAll");
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QByteArray>("expected");
    QTest::newRow("list, 0 sensors, one") << 0 << false << QByteArray("Slep") << QByteArray("Slep");
    QTest::newRow("list, 1 sensor, all") << 0 << true << "Slep" + z("000D6F0000C0A001") + z("60")
                                         << "Slep" + z("000D6F0000C0A001") + z("60");
    const QByteArray three = "Slep" + z("000D6F0000C0A001") + z("60") + z("000D6F0000C0A002") + z("300")
        + z("000D6F0000C0A003") + z("86399");
    QTest::newRow("list, 3 sensors, one") << 0 << false << three << three;
    QTest::newRow("one pair, all") << 1 << true << QByteArray("000D6F0000C0A001")
                                   << "Slep" + z("000D6F0000C0A001") + z("60");
    QTest::newRow("one pair, one") << 1 << false << QByteArray("000D6F0000C0A001")
                                   << "Slep" + z("000D6F0000C0A001") + z("60");
}

void TestNetworkModule::sendsExactFrames()
{
    QFETCH(int, kind);
    QFETCH(bool, toAll);
    QFETCH(QByteArray, bytes);
    QFETCH(QByteArray, expected);
    auto module = startGatewayServer();
    QVERIFY(module);
    Recorder rec(module.get());
    GatewayPeer announced, silent;
    QVERIFY2(announced.connectTo(module->serverPort()), qPrintable(announced.failure));
    QVERIFY(announced.send("Conn" + z("gw")));
    QTRY_COMPARE(rec.without("log"), QStringList { "conn gw" });
    // A gateway that never sent "Conn" counts as well.
    QVERIFY2(silent.connectTo(module->serverPort()), qPrintable(silent.failure));
    QTRY_COMPARE(module->clients.size(), 2);
    ZigBeeClient* target = nullptr;
    for (ZigBeeClient* c : qAsConst(module->clients))
        if (c->name == "gw")
            target = c;
    QVERIFY(target);
    ZigBeeClient* to = toAll ? nullptr : target;
    if (kind == 0)
        module->slotSlepSend(to, bytes);
    else
        module->slotSlepSend2(to, QString::fromLatin1(bytes), 60);
    QTRY_COMPARE(announced.received(), expected);
    QTest::qWait(50);
    QCOMPARE(announced.received(), expected);
    QCOMPARE(silent.received(), toAll ? expected : QByteArray());
}

void TestNetworkModule::endsConnectionWithoutConn()
{
    Session s;
    QVERIFY2(s.start(), qPrintable(s.error));
    QTRY_COMPARE(s.module->clients.size(), 1);
    s.peer.close();
    QTRY_COMPARE(s.rec->events,
        QStringList({ "log " + kRed + "Отсоединение клиента" + kClose + " \"\" (" + kPeer + ")", "disc " }));
    QVERIFY(s.module->clients.isEmpty());
}

void TestNetworkModule::destructorLeavesNoSignal()
{
    auto module = startGatewayServer();
    QVERIFY(module);
    Recorder rec(module.get());
    GatewayPeer a, b;
    QVERIFY2(a.connectTo(module->serverPort()), qPrintable(a.failure));
    QVERIFY2(b.connectTo(module->serverPort()), qPrintable(b.failure));
    QVERIFY(a.send("Conn" + z("a") + "Mess000D6F"));
    QTRY_COMPARE(rec.without("log"), QStringList { "conn a" });
    QTRY_COMPARE(module->clients.size(), 2);
    module.reset();
    QCOMPARE(rec.without("log"), QStringList { "conn a" });
    QTRY_VERIFY(!a.isConnected());
    QTRY_VERIFY(!b.isConnected());
}

void TestNetworkModule::endsConnectionThatDoesNotRead_data()
{
    QTest::addColumn<bool>("reads");
    QTest::newRow("gateway that reads") << true;
    QTest::newRow("gateway that does not read") << false;
}

void TestNetworkModule::endsConnectionThatDoesNotRead()
{
    QFETCH(bool, reads);
    auto module = startGatewayServer();
    QVERIFY(module);
    Recorder rec(module.get());
    std::unique_ptr<GatewayPeer> reader;
    std::unique_ptr<SilentPeer> silent;
    if (reads) {
        reader = std::make_unique<GatewayPeer>();
        QVERIFY2(reader->connectTo(module->serverPort()), qPrintable(reader->failure));
    } else {
        silent = std::make_unique<SilentPeer>(module->serverPort());
        QVERIFY(silent->connected);
    }
    QTRY_COMPARE(module->clients.size(), 1);
    ZigBeeClient* client = module->clients.first();
    QTcpSocket* socket = module->clients.firstKey();
    const QByteArray list = "Slep" + QByteArray(64 * 1024 - 4, 'A');
    const qint64 bound = NetworkModule::Limits().maxUnsent;
    // 16 MB: more than the system's buffers on both ends hold.
    int sent = 0;
    for (; sent < 256 && !module->clients.isEmpty(); ++sent) {
        // What waits unsent never passes the bound by more than the message that crossed it.
        QVERIFY(socket->bytesToWrite() <= bound + list.size());
        module->slotSlepSend(client, list);
        if (reads)
            QTRY_COMPARE(socket->bytesToWrite(), 0);
        else
            QCoreApplication::processEvents();
    }
    if (reads) {
        QCOMPARE(sent, 256);
        QTRY_COMPARE(reader->received().size(), 256 * list.size());
        QCOMPARE(module->clients.size(), 1);
        QVERIFY(rec.events.isEmpty());
        return;
    }
    QVERIFY(sent < 256);
    QTRY_VERIFY(module->clients.isEmpty());
    QCOMPARE(rec.events,
        QStringList({ "log " + kRed + "Отсоединение клиента" + kClose + " \"\" (" + kPeer
                + "): не принимает данные (не отправлено более 1024 КБ)",
            "disc " }));
}

void TestNetworkModule::reportsFloodOfBadMessagesInFewLines()
{
    Session s;
    QVERIFY2(s.start(), qPrintable(s.error));
    QElapsedTimer clock;
    clock.start();
    QByteArray flood = "Conn" + z("gw");
    for (int i = 0; i < 10000; ++i)
        flood += "Mess" + QByteArray("000D6F0000C0A0\0\0", 16) + QByteArray(1, '\0');
    flood += "Mess000D6F0000C0A001" + kPayload;
    QVERIFY(s.peer.send(flood));
    QTRY_COMPARE(s.rec->without("log"), QStringList({ "conn gw", "cast gw 000D6F0000C0A001 " + kPayload.toHex() }));
    s.peer.close();
    QTRY_VERIFY(s.module->clients.isEmpty());
    const qint64 elapsed = clock.elapsed();
    const QStringList lines = s.rec->only("log " + kRed + "Отброшено");
    QCOMPARE(rejectedCount(lines), 10000);
    // The first at once, then one per second at most, the rest when the connection ends.
    QVERIFY2(lines.size() <= 2 + elapsed / 1000, qPrintable(QString::number(lines.size())));
    QVERIFY(lines.first().endsWith(
        "Отброшено 1 сообщение" + kClose + " от \"gw\" (" + kPeer + "): неверный адрес датчика — 1"));
    for (const QString& line : lines)
        QVERIFY2(line.contains(QRegularExpression(": неверный адрес датчика — \\d+$")), qPrintable(line));
}

void TestNetworkModule::resendsSensorListAtMostOncePerPause()
{
    auto module = startGatewayServer();
    QVERIFY(module);
    NetworkModule::Limits limits;
    limits.sensorListPauseMs = 400;
    module->setLimits(limits);
    // As the intake does for a gateway that is not bound yet.
    const QByteArray list = "Slep" + z("000D6F0000C0A009") + z("300");
    connect(module.get(), &NetworkModule::signalNetworkCastReceived, this, [&](ZigBeeClient* c) {
        if (module->sensorListDue(c))
            module->slotSlepSend(c, list);
    });
    GatewayPeer peer;
    QVERIFY2(peer.connectTo(module->serverPort()), qPrintable(peer.failure));
    QByteArray casts;
    for (int i = 0; i < 50; ++i)
        casts += "Mess000D6F0000C0A001" + kPayload;
    QVERIFY(peer.send(casts));
    QTRY_COMPARE(peer.received(), list);
    QTest::qWait(500);
    QCOMPARE(peer.received(), list);
    QVERIFY(peer.send(casts));
    QTRY_COMPARE(peer.received(), list + list);
    QVERIFY(!module->sensorListDue(nullptr));
}

void TestNetworkModule::refusesUnusablePort()
{
    QTest::ignoreMessage(QtWarningMsg, "Gateway server not started: the network port 0 is outside 1-65535");
    NetworkModule zero(0);
    QVERIFY(!zero.isListening());

    QTcpServer taken;
    QVERIFY(taken.listen(QHostAddress::Any, 0));
    QTest::ignoreMessage(QtWarningMsg,
        QRegularExpression(QStringLiteral("^Gateway server cannot listen on port %1: .+").arg(taken.serverPort())));
    NetworkModule busy(taken.serverPort());
    QVERIFY(!busy.isListening());
}

QTEST_GUILESS_MAIN(TestNetworkModule)
#include "tst_networkmodule.moc"
