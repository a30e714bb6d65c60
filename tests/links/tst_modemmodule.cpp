#include <QtTest>

#include <QDir>
#include <QFileInfo>
#include <QLockFile>
#include <QMutex>
#include <QScopeGuard>
#include <QSerialPort>

#include <atomic>
#include <ctime>
#include <pthread.h>
#include <thread>

#include "core/threadscheduling.h"
#include "links/modemmodule.h"
#include "links/sensorpayload.h"
#include "links/serialportlock.h"
#include "tools/modemsim/modempeer.h"

namespace
{

const QString atiText = QStringLiteral("Информация о модеме : ATI");
const QString powerText = QStringLiteral("Установка мощности передатчика");
const QString netText = QStringLiteral("Информация о сети: AT+N");
const QString formText = QStringLiteral("Создание сети (PAN): AT+EN");
const QString s0eText = QStringLiteral("Удаление подтверждений (ACK,NACK): ATS0E=10C0");
const QString s10Text = QStringLiteral("Режим снифера: ATS104=1");
const QString snText = QStringLiteral("Обновить список устройств: AT+SN");
const QString watchdogText
    = QStringLiteral("Прошло много времени, но корректного ответа\nиз последовательного порта не "
                     "поступило.\nСкорее всего это порт не ZigBee модема.\nПопробуйте выбрать "
                     "другой COM порт в настройках приложения");
const QByteArray sensor = "000D6F0000C0A001";
const QByteArray payload("\x03\x01\x01\x04\x00\x00\xa8\x41\x02\x01\x04\x0d\x0a\x80\xff", 15);
const QByteArray noise("OK\r\n\0\xff line noise\r\n", 19);

// Anything the module logs above debug level fails the test that caused it.
QMutex logLock;
QStringList unexpectedLog;
void recordWarnings(QtMsgType type, const QMessageLogContext&, const QString& text)
{
    if (type == QtDebugMsg || type == QtInfoMsg)
        return;
    QMutexLocker lock(&logLock);
    unexpectedLog << text;
}

// Descriptors of this process open on the given terminal: the peer's own, plus the module's.
int openCount(const QString& terminal)
{
    int n = 0;
    const QDir fds(QStringLiteral("/proc/self/fd"));
    for (const QFileInfo& fd : fds.entryInfoList(QDir::System | QDir::NoDotAndDotDot))
        n += fd.symLinkTarget() == terminal;
    return n;
}

} // namespace

// Everything the module tells the GUI thread, collected there as the application would see it.
class Recorder : public QObject
{
public:
    QStringList progress;
    QList<int> states; // initState at each progress text
    QStringList ends;
    QStringList status;
    QStringList casts;
    int handOns = 0;
    QByteArray data;
    std::atomic<quint64> turnNs { 0 }; // the modem thread's turn, as the kernel holds it

    void attach(ModemModule* m)
    {
        connect(m, &ModemModule::signalSetInitInfoString, this, [this](const QString& t) { progress << t; });
        connect(
            m, &ModemModule::signalSetInitInfoString, m,
            [this, m](const QString&) {
                const int s = m->state().initState;
                QMetaObject::invokeMethod(this, [this, s] { states << s; });
                turnNs = ThreadScheduling::turnNs();
            },
            Qt::DirectConnection);
        connect(m, &ModemModule::signalEndInitialization, this, [this](const QString& t) { ends << t; });
        connect(m, &ModemModule::signalSetStatusText, this, [this](const QString& t) { status << t; });
        connect(m, &ModemModule::signalDataReaded, this, [this](const QByteArray& d) { data += d; });
        connect(m, &ModemModule::signalCastsReceived, this, [this](const QVector<ModemCast>& taken) {
            ++handOns;
            for (const ModemCast& c : taken)
                casts << c.kind + '|' + c.eui64 + '|' + c.payload.toHex();
        });
    }
};

class TestModemModule : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();
    void script_data();
    void script();
    void silentModemThenLateAnswer();
    void missingPort();
    void lockLeftBehind_data();
    void lockLeftBehind();
    void trafficAfterInitialisation();
    void stopHandsOnTheLast();
    void whatTheLineCannotTakeWaitsInOrder();
    void answersInShortTurns();
    void sleepIntervalTable();
    void noiseOnTheLine();
    void stopClosesThePort();
    void lineLostAfterInitialisation();

private:
    void startModule(int watchdogMs = 15000, int handOnMs = ModemModule::kHandOnMs);
    void stopModule();
    void initialise(int watchdogMs = 15000, int handOnMs = ModemModule::kHandOnMs);

    QString portName;
    ModemPeer* peer = nullptr;
    ModemModule* module = nullptr;
    Recorder* recorder = nullptr;
};

void TestModemModule::initTestCase()
{
    qInstallMessageHandler(recordWarnings);
}

void TestModemModule::init()
{
    peer = new ModemPeer;
    recorder = new Recorder;
    QString error;
    QVERIFY2(peer->open(&error), qPrintable(error));
    portName = peer->portName();
}

void TestModemModule::cleanup()
{
    if (module)
        stopModule();
    delete recorder;
    delete peer;
    QMutexLocker lock(&logLock);
    const QStringList log = std::exchange(unexpectedLog, {});
    QVERIFY2(log.isEmpty(), qPrintable(log.join('\n')));
}

void TestModemModule::startModule(int watchdogMs, int handOnMs)
{
    module = new ModemModule;
    module->setWatchdogInterval(watchdogMs);
    module->setHandOnInterval(handOnMs);
    module->setPortName(portName);
    module->slotTerminalShown(true);
    module->moveToThread(module);
    recorder->attach(module);
    module->start();
}

void TestModemModule::stopModule()
{
    QMetaObject::invokeMethod(module, &ModemModule::slotStopModule, Qt::QueuedConnection);
    QVERIFY(module->wait(5000));
    delete module;
    module = nullptr;
}

void TestModemModule::initialise(int watchdogMs, int handOnMs)
{
    startModule(watchdogMs, handOnMs);
    QTRY_COMPARE_WITH_TIMEOUT(recorder->ends, QStringList { QString() }, 5000);
}

void TestModemModule::script_data()
{
    QTest::addColumn<bool>("formed");
    QTest::addColumn<QByteArray>("commands");
    QTest::addColumn<QStringList>("progress");
    QTest::addColumn<QList<int>>("states");
    QTest::addColumn<QString>("panState");

    QTest::newRow("network formed") << true
                                    << QByteArray("ATI\rATS01=-7,mirvasol\rAT+N\rATS0E=94C0\rATS10=0010\rAT+SN\r")
                                    << QStringList { atiText, powerText, netText, s0eText, s10Text, snText }
                                    << QList<int> { 0, 1, 1, 3, 4, 5 } << "COO|11|-7|1A2B|0123456789ABCDEF";
    QTest::newRow("no network") << false
                                << QByteArray(
                                       "ATI\rATS01=-7,mirvasol\rAT+N\rAT+EN\rAT+N\rATS0E=94C0\rATS10=0010\rAT+SN\r")
                                << QStringList { atiText, powerText, netText, formText, netText, s0eText, s10Text,
                                       snText }
                                << QList<int> { 0, 1, 1, 1, 2, 3, 4, 5 } << "COO|11|-7|1A2B|0123456789ABCDEF";
}

void TestModemModule::script()
{
    QFETCH(bool, formed);
    QFETCH(QByteArray, commands);
    QFETCH(QStringList, progress);
    QFETCH(QList<int>, states);
    QFETCH(QString, panState);

    peer->setNetwork(formed ? ModemPeer::Network::Formed : ModemPeer::Network::None);
    startModule(1500);
    QTRY_COMPARE_WITH_TIMEOUT(recorder->ends, QStringList { QString() }, 5000);
    QCOMPARE(peer->received(), commands);
    QTRY_COMPARE(recorder->progress, progress);
    QTRY_COMPARE(recorder->states, states);
    QTRY_COMPARE(recorder->data, peer->sent());

    const ModemState s = module->state();
    QVERIFY(s.initialized);
    QCOMPARE(s.initState, 6);
    QCOMPARE(QStringList({ s.modemInfo.model, s.modemInfo.revision, s.modemInfo.EUI64 }),
        QStringList({ "ETRX357", "309C", "000D6F0000A1B2C3" }));
    QVERIFY(s.panInfo.pan);
    QCOMPARE(QStringList({ s.panInfo.deviceType, QString::number(s.panInfo.channel), QString::number(s.panInfo.power),
                             s.panInfo.panId, s.panInfo.extendedPanId })
                 .join('|'),
        panState);

    // A modem that answered in time never hears from the watchdog.
    QTest::qWait(1700);
    QCOMPARE(recorder->ends, QStringList { QString() });
}

void TestModemModule::silentModemThenLateAnswer()
{
    peer->setSilent(true);
    startModule(300);
    QTRY_COMPARE_WITH_TIMEOUT(recorder->ends, QStringList { watchdogText }, 5000);
    QCOMPARE(peer->received(), QByteArray("ATI\r"));
    QVERIFY(!module->state().initialized);

    peer->setSilent(false);
    QTRY_COMPARE_WITH_TIMEOUT(recorder->ends, QStringList({ watchdogText, QString() }), 5000);
    QVERIFY(module->state().initialized);
}

void TestModemModule::missingPort()
{
    const QString name = QDir::current().absoluteFilePath(QStringLiteral("no-such-port"));
    portName = name;
    startModule(200);
    QVERIFY(module->wait(5000));
    QTest::qWait(400); // long enough for a watchdog that should not exist
    QCOMPARE(recorder->ends,
        QStringList { "Последовательный порт " + name
            + " не открыт!\nВозможно он уже открыт в другом приложении\nили его не "
              "существует\nПопробуйте выбрать другой COM порт в настройках приложения\n" });
    QVERIFY(recorder->progress.isEmpty());
    module->slotSendData("AT+SN\r"); // no port: nothing to write to, nothing happens
    QVERIFY(peer->received().isEmpty());
}

void TestModemModule::lockLeftBehind_data()
{
    QTest::addColumn<bool>("held");
    // A copy killed between creating the lock file and writing its process id into it.
    QTest::newRow("empty file of a killed copy") << false;
    QTest::newRow("held by a copy that runs") << true;
}

void TestModemModule::lockLeftBehind()
{
    QFETCH(bool, held);
    const QString file = SerialPortLock::path(peer->portName());
    QLockFile holder(file);
    // The lock folder serves every program of the machine: nothing of this case stays there.
    const auto removeEmpty = qScopeGuard([&] {
        if (!held && QFileInfo(file).size() == 0)
            QFile::remove(file);
    });
    if (held) {
        QVERIFY(holder.tryLock(0));
    } else {
        QFile empty(file);
        QVERIFY2(empty.open(QIODevice::NewOnly), qPrintable(file));
        // Left by a copy killed a moment ago, not in this very millisecond.
        QVERIFY(empty.setFileTime(QDateTime::currentDateTime().addSecs(-2), QFileDevice::FileModificationTime));
    }
    {
        // The file is where Qt looks: its own port refuses the line.
        QSerialPort probe(peer->portName());
        QVERIFY(!probe.open(QIODevice::ReadWrite));
        QCOMPARE(probe.error(), QSerialPort::PermissionError);
    }
    if (held) {
        startModule(200);
        QVERIFY(module->wait(5000));
        QTRY_COMPARE(recorder->ends.size(), 1);
        QVERIFY(recorder->ends.first().startsWith("Последовательный порт " + peer->portName() + " не открыт!"));
        QVERIFY(QFileInfo(file).size() > 0);
    } else {
        initialise();
        QVERIFY(module->state().initialized);
    }
}

void TestModemModule::trafficAfterInitialisation()
{
    initialise();
    const QByteArray commands = peer->received();

    // A device seen twice is listed once, with its first node id; both reports are shown.
    peer->send("SED:" + sensor + ",4A10\r\n");
    peer->send("NEWNODE:5B20," + sensor + ",0000\r\n\r\nSED:" + sensor + ",5B20\r\n");
    peer->send("FFD:000D6F0000C0B0FF,7B3C\r\n");
    QTRY_COMPARE(recorder->status,
        QStringList({ "Устройство вышло на связь. Тип:SED EUI64:" + sensor,
            "Подключено новое устройство. Тип:SED EUI64:" + sensor,
            "Устройство вышло на связь. Тип:FFD EUI64:000D6F0000C0B0FF" }));
    const QVector<ModemNode> nodes = module->state().nodes;
    QCOMPARE(nodes.size(), 2);
    QCOMPARE(QStringList({ nodes[0].NodeID, nodes[0].EUI64, nodes[0].ParentNodeID, nodes[0].DeviceType }),
        QStringList({ "4A10", sensor, "0000", "SED" }));
    QCOMPARE(nodes[1].DeviceType, QStringLiteral("FFD"));

    // A sensor message and the module's own answer to it, with the interval the table holds
    // for the sensor (20 s for one it does not hold), its echo, and the next message behind
    // the echo.
    const QString known = QStringLiteral("000D6F0000C0B0FF");
    module->sleepIntervals().set(known, 300);
    peer->sendCast("UCAST", sensor, payload);
    QTRY_COMPARE(recorder->casts, QStringList { "UCAST|" + sensor + '|' + payload.toHex() });
    const QByteArray unknownReply
        = "AT+UCASTB:08," + sensor + "\r" + QByteArray("\x01\x04\x01\x04\x14\x00\x00\x00\r", 9);
    QTRY_COMPARE(peer->received(), commands + unknownReply);
    peer->sendCast("MCAST", known, "\x01");
    QTRY_COMPARE(recorder->casts.size(), 2);
    QCOMPARE(recorder->casts.last(), "MCAST|" + known + "|01");
    const QByteArray reply = unknownReply + sensorReplyFrame(known, 300);
    QTRY_COMPARE(peer->received(), commands + reply);

    // Once closed, a message is neither answered nor handed on: the node report behind it is.
    module->sleepIntervals().close();
    peer->send(ModemPeer::castFrame("UCAST", sensor, payload) + "SED:" + sensor + ",4A10\r\n");
    QTRY_COMPARE(recorder->status.size(), 4);
    QCOMPARE(recorder->casts.size(), 2);

    // Identity and network replies still update the state, and start nothing.
    peer->send("ATI\r" + ModemPeer::identityReply().replace("R309C", "R400"));
    peer->send("AT+N\r\r\n+N=FFD,20,3,0BAD,00000000000000FF\r\n\r\nOK\r\n");
    QTRY_COMPARE(module->state().panInfo.channel, 20);
    QCOMPARE(module->state().modemInfo.revision, QStringLiteral("400"));
    QCOMPARE(module->state().panInfo.power, 3);
    QTRY_COMPARE(recorder->data, peer->sent());
    QCOMPARE(peer->received(), commands + reply);
    QCOMPARE(recorder->progress.size(), 6);

    // With the terminal off, what the modem reads no longer goes to the main thread.
    QMetaObject::invokeMethod(
        module, [this] { module->slotTerminalShown(false); }, Qt::QueuedConnection);
    const QByteArray shown = recorder->data;
    peer->send("AT+N\r\r\n+N=FFD,21,3,0BAD,00000000000000FF\r\n\r\nOK\r\n");
    QTRY_COMPARE(module->state().panInfo.channel, 21);
    QTest::qWait(50);
    QCOMPARE(recorder->data, shown);
}

// The modem thread asks for the kernel's short turns, so that a message wakes it ahead of the
// main thread and the writer; no other thread of the program has them.
// Answered messages wait to go to the main thread together; a stop hands on those still
// waiting, so that every message answered is stored.
void TestModemModule::stopHandsOnTheLast()
{
    initialise(15000, 60000);
    const QByteArray commands = peer->received();
    QByteArray burst, replies;
    QStringList casts;
    for (int i = 0; i < 10; ++i) {
        const QByteArray eui = "000D6F0000C0A0" + QByteArray::number(10 + i);
        burst += ModemPeer::castFrame("UCAST", eui, payload);
        replies += sensorReplyFrame(eui, 20);
        casts << "UCAST|" + eui + '|' + payload.toHex();
    }
    peer->send(burst);
    QTRY_COMPARE(peer->received(), commands + replies);
    QTest::qWait(100);
    QCOMPARE(recorder->handOns, 0);
    stopModule();
    QTRY_COMPARE(recorder->casts, casts);
    QCOMPARE(recorder->handOns, 1);
}

// A write goes straight to the line; what the line cannot take at once waits in the port, and
// everything written after it waits behind it.
void TestModemModule::whatTheLineCannotTakeWaitsInOrder()
{
    initialise();
    const QByteArray commands = peer->received();
    const QByteArray many = QByteArray("AT+SN\r").repeated(20000);
    QMetaObject::invokeMethod(module, [m = module, many] {
        m->slotSendData(many);
        m->slotSendData("ATS10=0010\r");
    });
    QTRY_COMPARE_WITH_TIMEOUT(peer->received().size(), commands.size() + many.size() + 11, 20000);
    QVERIFY(peer->received() == commands + many + "ATS10=0010\r");
}

void TestModemModule::answersInShortTurns()
{
    bool granted = false;
    std::thread([&granted] { granted = ThreadScheduling::answerPromptly(); }).join();
    if (!granted)
        QSKIP("this kernel has no turns of a chosen length (Linux 6.12 and later have)");
    initialise();
    QCOMPARE(quint64(recorder->turnNs), quint64(100000));
    QVERIFY(ThreadScheduling::turnNs() != 100000);
}

// What the module answers each sensor with: the registry's interval, 20 s for a sensor it does
// not hold, the first of two sensors with one address (closing: trafficAfterInitialisation).
void TestModemModule::sleepIntervalTable()
{
    SleepIntervals table;
    const QString a = QStringLiteral("000D6F000000000A");
    const QString b = QStringLiteral("000D6F000000000B");
    QCOMPARE(table.replyFor(a), 20);
    table.assign({ { a, 300 }, { b, 60 }, { a, 900 } });
    QCOMPARE(table.replyFor(a), 300);
    QCOMPARE(table.replyFor(a.toLower()), 300); // one sensor whatever the case
    QCOMPARE(table.replyFor(b), 60);
    table.set(b, 120);
    table.set(QStringLiteral("000D6F000000000C"), 30);
    QCOMPARE(table.replyFor(b), 120);
    QCOMPARE(table.replyFor(QStringLiteral("000D6F000000000C")), 30);
    // A whole registry replaces what the table held: a removed sensor is unknown again.
    table.assign({ { b, 45 } });
    QCOMPARE(table.replyFor(a), 20);
    QCOMPARE(table.replyFor(b), 45);
}

void TestModemModule::noiseOnTheLine()
{
    peer->setNoise(noise);
    initialise();
    const QByteArray second = QByteArray("\x02\x00\r\n", 4);
    peer->send(noise + ModemPeer::castFrame("UCAST", sensor, payload) + noise
        + ModemPeer::castFrame("BCAST", sensor, second) + noise);
    QTRY_COMPARE(recorder->casts,
        QStringList({ "UCAST|" + sensor + '|' + payload.toHex(), "BCAST|" + sensor + '|' + second.toHex() }));
}

void TestModemModule::stopClosesThePort()
{
    QCOMPARE(openCount(peer->portName()), 1);
    initialise();
    QCOMPARE(openCount(peer->portName()), 2);
    stopModule();
    QCOMPARE(openCount(peer->portName()), 1);
}

void TestModemModule::lineLostAfterInitialisation()
{
    initialise(1000);
    clockid_t cpu {};
    QMetaObject::invokeMethod(
        module, [&cpu] { pthread_getcpuclockid(pthread_self(), &cpu); }, Qt::BlockingQueuedConnection);
    const QString portName = peer->portName();

    // Closing both ends of the pseudo-terminal hangs the line up under the module.
    delete std::exchange(peer, nullptr);
    QTRY_COMPARE(recorder->status, QStringList { "Связь с модемом потеряна: порт " + portName + " закрыт" });
    QVERIFY(!module->state().initialized);
    QCOMPARE(openCount(portName), 0);

    timespec start {}, end {};
    clock_gettime(cpu, &start);
    QTest::qWait(1500);
    clock_gettime(cpu, &end);
    const double spent = double(end.tv_sec - start.tv_sec) + double(end.tv_nsec - start.tv_nsec) / 1e9;
    QVERIFY2(spent < 0.05, qPrintable(QString::number(spent) + " s of CPU in 1.5 s"));
    // The watchdog has had its time: the lost line is not taken for a modem that never answered.
    QCOMPARE(recorder->ends, QStringList { QString() });
    QMutexLocker lock(&logLock);
    QVERIFY(!unexpectedLog.isEmpty() && unexpectedLog.takeFirst().startsWith("modem line"));
}

QTEST_GUILESS_MAIN(TestModemModule)
#include "tst_modemmodule.moc"
