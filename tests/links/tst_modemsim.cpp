#include <QtTest>

#include <QProcess>
#include <QSerialPort>
#include <QtEndian>

#include <cstring>
#include <fcntl.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include "app/appstate.h"
#include "links/modemmodule.h"

namespace
{

const char* const kOpener = "OSTRIVEL_MODEMSIM_OPENER";

// Whether the port opens and is not marked exclusive.
bool opensShared(const QString& port)
{
    const int fd = ::open(port.toLocal8Bit().constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (fd < 0)
        return false;
    int exclusive = 1;
    const bool shared = ::ioctl(fd, TIOCGEXCL, &exclusive) == 0 && exclusive == 0;
    ::close(fd);
    return shared;
}

// Reads one record value of the sensor payload: type, flag, length 4, little-endian float.
bool readRecord(const QByteArray& payload, int at, int type, double low, double high)
{
    if (payload.size() < at + 7 || payload[at] != type || payload[at + 2] != 4)
        return false;
    const quint32 bits = qFromLittleEndian<quint32>(payload.constData() + at + 3);
    float value = 0;
    std::memcpy(&value, &bits, sizeof value);
    return value >= low && value <= high;
}

// Stops and deletes the module however the test ends.
struct RunningModule {
    ModemModule* m = new ModemModule;
    ~RunningModule()
    {
        QMetaObject::invokeMethod(m, &ModemModule::slotStopModule, Qt::QueuedConnection);
        m->wait(5000);
        delete m;
    }
};

} // namespace

// The simulator as people use it: started on its own, its printed port given to the module.
class TestModemSim : public QObject
{
    Q_OBJECT
private slots:
    void simulatorFeedsTheModule_data();
    void simulatorFeedsTheModule();
    void portFreeAfterAKilledProgram();
};

void TestModemSim::simulatorFeedsTheModule_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("kind");
    QTest::newRow("network formed") << QStringList {} << "UCAST";
    QTest::newRow("no network, broadcasts") << QStringList { "--no-network", "--kind", "BCAST" } << "BCAST";
}

void TestModemSim::simulatorFeedsTheModule()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, kind);

    QProcess sim;
    sim.start(QStringLiteral(MODEMSIM), QStringList { "--sensors", "3", "--interval", "100", "--quiet" } + arguments);
    QVERIFY2(sim.waitForStarted(5000), qPrintable(sim.errorString()));
    QVERIFY(sim.waitForReadyRead(5000));
    const QString first = QString::fromLocal8Bit(sim.readLine()).trimmed();
    QVERIFY2(first.startsWith("PortName = /dev/"), qPrintable(first));

    AppState appState;
    appState.PortName = first.section(" = ", 1);
    QStringList ends;
    QMap<QString, QByteArray> lastPayload;
    QStringList kinds;
    // Receives in this thread and takes its pending calls with it when the row ends.
    QObject sink;
    RunningModule running;
    ModemModule* module = running.m;
    module->moveToThread(module);
    connect(module, &ModemModule::signalEndInitialization, &sink, [&](const QString& t) { ends << t; });
    connect(module, &ModemModule::signalCastReceived, &sink,
        [&](const QString& k, const QString& eui, const QByteArray& p) {
            kinds << k;
            lastPayload[eui] = p;
        });
    module->start();

    QTRY_COMPARE_WITH_TIMEOUT(ends, QStringList { QString() }, 5000);
    QTRY_COMPARE_WITH_TIMEOUT(lastPayload.size(), 3, 5000);
    QCOMPARE(kinds.join(" "), QVector<QString>(kinds.size(), kind).toList().join(" "));
    for (const QByteArray& p : qAsConst(lastPayload)) {
        QCOMPARE(p.size(), 22);
        QCOMPARE(int(p[0]), 3);
        QVERIFY(readRecord(p, 1, 1, -10, 45));
        QVERIFY(readRecord(p, 8, 2, 5, 99));
        QVERIFY(readRecord(p, 15, 3, 2, 3.3));
    }
    QCOMPARE(module->state().nodes.size(), 3);

    const QString eui = lastPayload.firstKey();
    const QByteArray reply
        = "AT+UCASTB:08," + eui.toLatin1() + "\r" + QByteArray("\x01\x04\x01\x04\x14\x00\x00\x00\r", 9);
    QMetaObject::invokeMethod(
        module, [module, reply] { module->slotSendData(reply); }, Qt::QueuedConnection);
    QByteArray printed;
    QTRY_VERIFY_WITH_TIMEOUT(
        (printed += sim.readAll()).contains("<- reply to " + eui.toLatin1() + ": sleep interval 20 s"), 5000);

    sim.terminate();
    QVERIFY(sim.waitForFinished(5000));
}

// A program that has the port open, as the program's modem link opens it, is killed: the
// next start must be able to open the port again.
void TestModemSim::portFreeAfterAKilledProgram()
{
    QProcess sim;
    QTemporaryDir dir;
    const QString link = dir.filePath(QStringLiteral("modem"));
    sim.start(QStringLiteral(MODEMSIM), { "--sensors", "0", "--quiet", "--link", link });
    QVERIFY2(sim.waitForStarted(5000), qPrintable(sim.errorString()));
    QVERIFY(sim.waitForReadyRead(5000));
    QCOMPARE(QString::fromLocal8Bit(sim.readLine()).trimmed(), "PortName = " + link);

    QProcess opener;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QLatin1String(kOpener), link);
    opener.setProcessEnvironment(env);
    opener.start(QCoreApplication::applicationFilePath(), QStringList());
    QVERIFY(opener.waitForFinished(30000));
    QCOMPARE(opener.exitStatus(), QProcess::CrashExit);
    QCOMPARE(opener.readAllStandardOutput(), QByteArray("open\n"));
    QTRY_VERIFY_WITH_TIMEOUT(opensShared(link), 5000);

    sim.terminate();
    QVERIFY(sim.waitForFinished(5000));
}

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    // The killed program: opens the port with Qt SerialPort, says so, and dies on the spot.
    if (qEnvironmentVariableIsSet(kOpener)) {
        QSerialPort port(qEnvironmentVariable(kOpener));
        if (!port.open(QIODevice::ReadWrite))
            return 1;
        ::write(STDOUT_FILENO, "open\n", 5);
        ::raise(SIGKILL);
    }
    TestModemSim test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}
#include "tst_modemsim.moc"
