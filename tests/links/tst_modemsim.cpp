#include <QtTest>

#include <QProcess>
#include <QSerialPort>
#include <QtEndian>

#include <cstring>
#include <fcntl.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include "links/modemmodule.h"

namespace
{

const char* const kOpener = "--killed-opener"; // the first argument of the killed program, the port the second

// Whether the port opens and is not marked exclusive (root would open it even so).
bool opensShared(const QString& port)
{
    const int fd = ::open(QFile::encodeName(port), O_RDWR | O_NOCTTY | O_NONBLOCK);
    int exclusive = 1;
    const bool read = fd >= 0 && ::ioctl(fd, TIOCGEXCL, &exclusive) == 0;
    ::close(fd);
    return read && exclusive == 0;
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
};

void TestModemSim::simulatorFeedsTheModule_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("kind");
    QTest::newRow("network formed") << QStringList {} << "UCAST";
    QTest::newRow("no network, broadcasts") << QStringList { "--no-network", "--kind", "BCAST" } << "BCAST";
    // A program that had the port open, as the modem link opens it, was killed: the port opens
    // again. The link lies in a folder of its own.
    QTest::newRow("link, a killed program held it") << QStringList { "--link" } << "UCAST";
}

void TestModemSim::simulatorFeedsTheModule()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, kind);

    QTemporaryDir dir;
    const QString link = arguments.endsWith("--link") ? dir.filePath(QStringLiteral("modem")) : QString();
    if (!link.isEmpty())
        arguments << link;
    QProcess sim;
    sim.start(QStringLiteral(MODEMSIM), QStringList { "--sensors", "3", "--interval", "100", "--quiet" } + arguments);
    QVERIFY2(sim.waitForStarted(5000), qPrintable(sim.errorString()));
    QVERIFY(sim.waitForReadyRead(5000));
    const QString first = QString::fromLocal8Bit(sim.readLine()).trimmed();
    QVERIFY2(link.isEmpty() ? first.startsWith("PortName = /dev/") : first == "PortName = " + link, qPrintable(first));
    if (!link.isEmpty()) {
        QProcess opener;
        opener.start(QCoreApplication::applicationFilePath(), { kOpener, link });
        QVERIFY(opener.waitForFinished(30000));
        QCOMPARE(opener.exitStatus(), QProcess::CrashExit);
        QCOMPARE(opener.readAllStandardOutput(), QByteArray("open\n"));
        QTRY_VERIFY_WITH_TIMEOUT(opensShared(link), 5000);
    }

    QStringList ends;
    QMap<QString, QByteArray> lastPayload;
    QStringList kinds;
    // Receives in this thread and takes its pending calls with it when the row ends.
    QObject sink;
    RunningModule running;
    ModemModule* module = running.m;
    module->setPortName(first.section(" = ", 1));
    module->moveToThread(module);
    connect(module, &ModemModule::signalEndInitialization, &sink, [&](const QString& t) { ends << t; });
    connect(module, &ModemModule::signalCastsReceived, &sink, [&](const QVector<ModemCast>& taken) {
        for (const ModemCast& c : taken) {
            kinds << c.kind;
            lastPayload[c.eui64] = c.payload;
        }
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

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    // The killed program: opens the port with Qt SerialPort, says so, and dies on the spot.
    if (argc > 2 && qstrcmp(argv[1], kOpener) == 0) {
        QSerialPort port(QString::fromLocal8Bit(argv[2]));
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
