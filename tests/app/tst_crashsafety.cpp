// The whole program killed with SIGKILL and started again: once while it makes its tables, then
// five times while measurements stream in from a modem on a pseudo-terminal and a gateway on
// loopback.
//
// What "acknowledged" means here. A sensor is answered the moment its message arrives, before
// anything is stored: the measurement is handed to the ordered writer, whose thread commits
// the queue in batches. A reply therefore says "received", not "stored", and a kill loses what
// the writer still held in memory. A measurement is acknowledged once its batch is committed:
// from then on any reader of the database sees it. After every kill this test checks that
//   - the database passes PRAGMA integrity_check (read by python's sqlite3, not by Qt);
//   - every row a reader saw committed just before the kill is still there, exactly once, with
//     the sensor and the three values it was sent with;
//   - every stored row is a measurement that was sent, none of them twice;
//   - the program starts again (the single-instance segment of the killed copy does not lock
//     it out) and has its modem initialised within kStartLimitMs.
// The last run ends with an orderly close instead: then every measurement that went in,
// answered on the modem or taken from the gateway, is stored.
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QHash>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>
#include <memory>

#include "links/gatewaypeer.h"
#include "tools/gatewaysim/simulatedgateway.h"
#include "tools/modemsim/modempeer.h"

#include "driverprocess.h"
#include "payloads.h"

namespace
{

// A start that takes longer is a hang, not a slow machine.
constexpr int kStartLimitMs = 20000;
const QStringList kModemSensors { "000D6F00000C0001", "000D6F00000C0002", "000D6F00000C0003" };
const QStringList kGatewaySensors { "000D6F00000D0001", "000D6F00000D0002", "000D6F00000D0003" };

// Integrity and every stored row, one line per row, read by an independent reader.
const char* const kReader
    = "import sqlite3, sys\n"
      "con = sqlite3.connect(sys.argv[1])\n"
      "print(con.execute('PRAGMA integrity_check').fetchone()[0])\n"
      "f = lambda v: 'NULL' if v is None else '%.3f' % v\n"
      "# A kill before the tables were made leaves none: no rows, not a failure.\n"
      "tables = {r[0] for r in con.execute(\"SELECT name FROM sqlite_master WHERE type='table'\")}\n"
      "if {'measure', 'sensors'} <= tables:\n"
      "    for r in con.execute('SELECT s.EUI64, m.temperature, m.wetness, m.battery FROM measure m '\n"
      "                         'LEFT JOIN sensors s ON s.id = m.sensor_id'):\n"
      "        print(r[0], f(r[1]), f(r[2]), f(r[3]))\n";

struct Snapshot {
    QString integrity;
    QHash<QString, int> rows; // row -> how often it is stored
    int total = 0;
};

// Each measurement carries its sequence number as the temperature, so every row is unique.
QByteArray payloadFor(int seq)
{
    return payloads::measurement(float(seq), 10.5f + float(seq % 80), 2.5f + 0.125f * float(seq % 8));
}

QString rowFor(const QString& eui, int seq)
{
    return QString::asprintf(
        "%s %.3f %.3f %.3f", qPrintable(eui), double(seq), 10.5 + seq % 80, 2.5 + 0.125 * (seq % 8));
}

} // namespace

class TestCrashSafety : public QObject
{
    Q_OBJECT

    QTemporaryDir dir;
    QString work;
    QHash<QString, int> sent; // row -> sequence number
    int seq = 0;

    // One run of the program with a fresh modem line and a gateway on a free port.
    struct Run {
        std::unique_ptr<ModemPeer> modem;
        std::unique_ptr<GatewayPeer> gateway;
        std::unique_ptr<QProcess> program;
        qint64 startMs = 0;
        int modemCasts = 0;
    };

    // Reads the database; a running program goes on being fed meanwhile.
    Snapshot read(Run* feeding = nullptr)
    {
        Snapshot s;
        QProcess python;
        python.start(QStringLiteral("/usr/bin/python3"),
            { QStringLiteral("-c"), QString::fromLatin1(kReader), work + QStringLiteral("/data/measurement.db3") });
        if (feeding)
            stream(*feeding, [&] { return python.state() != QProcess::NotRunning; });
        python.waitForFinished(60000);
        if (python.exitStatus() != QProcess::NormalExit || python.exitCode() != 0) {
            s.integrity = QStringLiteral("reader failed: ") + QString::fromUtf8(python.readAllStandardError());
            return s;
        }
        QStringList lines = QString::fromUtf8(python.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts);
        s.integrity = lines.value(0);
        for (const QString& row : lines.mid(1)) {
            ++s.rows[row];
            ++s.total;
        }
        return s;
    }

    // Starts the program and waits until its modem is initialised and the gateway is answered.
    // Or kills it as soon as it prints the given line.
    void start(Run& run, bool closeByFile, const QByteArray& killOnLine = {})
    {
        for (int attempt = 0; attempt < 3 && !run.gateway; ++attempt) {
            run.modem = std::make_unique<ModemPeer>();
            QString error;
            QVERIFY2(run.modem->open(&error), qPrintable(error));
            run.modem->setRecording(false);
            const quint16 port = portForAProgram();
            QVERIFY(port);
            QFile config(work + QStringLiteral("/data/config.ini"));
            QVERIFY(config.open(QIODevice::WriteOnly | QIODevice::Truncate));
            config.write("[Modem]\nPortName=" + run.modem->portName().toUtf8()
                + "\nNetworkPort=" + QByteArray::number(port) + "\n[Other]\nDaysSave=730\n");
            config.close();

            QSignalSpy scriptDone(run.modem.get(), &ModemPeer::scriptDone);
            run.program = std::make_unique<QProcess>();
            QVector<std::pair<const char*, QString>> driver { { "ANSWER", "no" } };
            if (closeByFile)
                driver.append({ "CLOSE_FILE", dir.path() + "/close" });
            QElapsedTimer clock;
            clock.start();
            startDriver(*run.program, work, dir.path(), driver);
            QVERIFY(run.program->waitForStarted());
            if (!killOnLine.isEmpty()) {
                QByteArray out;
                QVERIFY(QTest::qWaitFor(
                    [&] { return (out += run.program->readAllStandardOutput()).contains(killOnLine); }, kStartLimitMs));
                ::kill(pid_t(run.program->processId()), SIGKILL);
                QVERIFY(run.program->waitForFinished(10000));
                return;
            }
            if (!scriptDone.wait(kStartLimitMs)) {
                // What the program said (a question, a box) or that it ended tells why.
                const QByteArray said = run.program->readAllStandardOutput();
                const QString state = run.program->state() == QProcess::NotRunning
                    ? QStringLiteral("it ended with exit code %1").arg(run.program->exitCode())
                    : QStringLiteral("it still runs");
                QFAIL(qPrintable(QStringLiteral("the modem was not initialised in time; %1; it said:\n%2")
                                     .arg(state, QString::fromUtf8(said))));
            }
            run.startMs = clock.elapsed();

            // The port was free a moment ago; another process may have taken it since.
            auto gateway = std::make_unique<GatewayPeer>();
            const QByteArray hello = SimulatedGateway::connMessage(QStringLiteral("Шлюз 1"))
                + SimulatedGateway::statusMessage(true, QStringLiteral("000D6F0000AB0001"));
            if (gateway->connectTo(port, &error) && gateway->send(hello)
                && QTest::qWaitFor([&] { return gateway->received().startsWith("Slep"); }, 10000)) {
                run.gateway = std::move(gateway);
            } else {
                run.program->kill();
                run.program->waitForFinished();
            }
        }
        QVERIFY2(run.gateway, "the gateway could not reach the program");
        checkQuiet(*run.program);
    }

    // Sends one measurement on each road; remembers what was sent.
    void sendPair(Run& run)
    {
        const QString modemEui = kModemSensors[seq % 3];
        sent.insert(rowFor(modemEui, seq), seq);
        run.modem->sendCast(QStringLiteral("UCAST"), modemEui, payloadFor(seq++));
        ++run.modemCasts;
        const QString gatewayEui = kGatewaySensors[seq % 3];
        sent.insert(rowFor(gatewayEui, seq), seq);
        QVERIFY(run.gateway->send(SimulatedGateway::castMessage(gatewayEui, payloadFor(seq++))));
    }

    // Eight measurements every 5 ms or so, for as long as the condition holds.
    template <typename While> void stream(Run& run, While condition)
    {
        while (condition()) {
            for (int i = 0; i < 4; ++i)
                sendPair(run);
            QTest::qWait(5);
        }
    }

    // No question, box or warning from the program so far: a start after a kill is like any other.
    void checkQuiet(QProcess& program)
    {
        const QStringList lines = QString::fromUtf8(program.readAllStandardOutput()).split('\n');
        for (const QString& line : lines) {
            for (const char* kind : { "QUESTION", "CRITICAL", "WARNING", "LOG" })
                QVERIFY2(!line.startsWith(QLatin1String(kind)), qPrintable(line));
        }
    }

    // Everything stored was sent, and once.
    void checkStored(const Snapshot& s)
    {
        QCOMPARE(s.integrity, QStringLiteral("ok"));
        for (auto it = s.rows.cbegin(); it != s.rows.cend(); ++it) {
            QVERIFY2(sent.contains(it.key()), qPrintable(QStringLiteral("stored but never sent: ") + it.key()));
            QVERIFY2(it.value() == 1, qPrintable(QStringLiteral("stored %1 times: ").arg(it.value()) + it.key()));
        }
    }

private slots:
    void initTestCase()
    {
        QVERIFY(dir.isValid());
        work = dir.path() + QStringLiteral("/work");
        QVERIFY(QDir().mkpath(work + QStringLiteral("/data")));
        // An empty file is an empty SQLite database: the program creates its tables in it.
        QFile db(work + QStringLiteral("/data/measurement.db3"));
        QVERIFY(db.open(QIODevice::WriteOnly));
    }

    void killedWhileMakingTheTables()
    {
        Run run;
        start(run, false, QByteArray("STARTUP Инициалищация базы данных"));
        if (QTest::currentTestFailed())
            return;
        const Snapshot after = read();
        qInfo("kill 0 while the database was being opened: integrity %s", qPrintable(after.integrity));
        QCOMPARE(after.integrity, QStringLiteral("ok"));
        QCOMPARE(after.total, 0);
    }

    void killedMidStream()
    {
        // Kills at varied moments of the stream: at once, in the first batches, and later.
        const int streamMs[] = { 1500, 0, 120, 400, 900 };
        int kills = 0;
        for (const int ms : streamMs) {
            Run run;
            start(run, false);
            if (QTest::currentTestFailed())
                return;
            QElapsedTimer clock;
            clock.start();
            stream(run, [&] { return clock.elapsed() < ms; });
            // The stream goes on while the reader looks; the kill comes as soon as it has.
            const Snapshot before = read(&run);
            ::kill(pid_t(run.program->processId()), SIGKILL);
            QVERIFY(run.program->waitForFinished(10000));
            QCOMPARE(run.program->exitStatus(), QProcess::CrashExit);
            checkQuiet(*run.program);
            ++kills;

            const Snapshot after = read();
            qInfo("kill %d after %d ms of streaming: started in %lld ms; rows committed %d before the kill, %d after; "
                  "%d sent in all, %d of them not stored; integrity %s",
                kills, ms, run.startMs, before.total, after.total, seq, seq - after.total, qPrintable(after.integrity));
            QCOMPARE(before.integrity, QStringLiteral("ok"));
            checkStored(after);
            for (auto it = before.rows.cbegin(); it != before.rows.cend(); ++it)
                QVERIFY2(
                    after.rows.value(it.key()) == 1, qPrintable(QStringLiteral("committed row lost: ") + it.key()));
            QVERIFY(after.total >= before.total);
        }
        QCOMPARE(kills, 5);
    }

    void orderlyCloseStoresEverything()
    {
        Run run;
        start(run, true);
        if (QTest::currentTestFailed())
            return;
        QSignalSpy replies(run.modem.get(), &ModemPeer::unicastReceived);
        const int firstSeq = seq;
        QElapsedTimer clock;
        clock.start();
        stream(run, [&] { return clock.elapsed() < 300; });
        // The modem answers each message it has taken; a gateway hears of a sensor new to the
        // program only after every message before it on the connection was taken in.
        QTRY_COMPARE_WITH_TIMEOUT(replies.size(), run.modemCasts, 30000);
        const QString sentinel = QStringLiteral("000D6F00000E0001");
        sent.insert(rowFor(sentinel, seq), seq);
        QVERIFY(run.gateway->send(SimulatedGateway::castMessage(sentinel, payloadFor(seq++))));
        QTRY_VERIFY_WITH_TIMEOUT(run.gateway->received().contains(sentinel.toLatin1()), 30000);

        QFile(dir.path() + QStringLiteral("/close")).open(QIODevice::WriteOnly);
        QVERIFY(run.program->waitForFinished(30000));
        QCOMPARE(run.program->exitStatus(), QProcess::NormalExit);
        QCOMPARE(run.program->exitCode(), 0);
        checkQuiet(*run.program);
        const Snapshot after = read();
        qInfo("orderly close: started in %lld ms; %d sent in this run, %d rows in all; integrity %s", run.startMs,
            seq - firstSeq, after.total, qPrintable(after.integrity));
        checkStored(after);
        for (auto it = sent.cbegin(); it != sent.cend(); ++it) {
            if (it.value() >= firstSeq)
                QVERIFY2(
                    after.rows.contains(it.key()), qPrintable(QStringLiteral("answered but not stored: ") + it.key()));
        }
    }
};

QTEST_GUILESS_MAIN(TestCrashSafety)
#include "tst_crashsafety.moc"
