// Gateways that misbehave, and what the rest of the program feels meanwhile. A modem sensor on a
// pseudo-terminal is answered all along (the probe); each phase gives its reply times (median,
// 99th percentile, maximum) beside the quiet baseline of the same run, and the peak memory:
//   baseline      a bound gateway sends whole messages at 200/s;
//   cut           for every cut position of one "Mess": the cut message, then whole messages
//                 at 200/s on the same connection; messages lost and rows stored under the
//                 cut sensor, per position;
//   flood         10,000 "Mess" with an address that is no EUI64, in one burst;
//   not reading   with 2,976 sensors registered, an unbound connection sends 0.9 MB of valid
//                 "Mess" and never reads what it is sent.
//   bench_gatewaypeers [--after N] [--flood N] [--sensors N]
#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QSqlQuery>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTextEdit>
#include <QThread>
#include <QTime>
#include <QTimer>

#include <atomic>
#include <cstdio>
#include <memory>
#include <thread>

#include "app/appstate.h"
#include "bench/common/modemprobe.h"
#include "bench/common/modemroad.h"
#include "bench/percentile.h"
#include "gatewayhub.h"
#include "gatewaypeer.h"
#include "links/networkmodule.h"
#include "links/zigbeeclient.h"
#include "storage/sqlbasemodule.h"
#include "tools/modemsim/simulatedsensor.h"
#include "ui/interfacemodule.h"

namespace
{

QByteArray cast(const QString& eui, float t)
{
    return "Mess" + eui.toLatin1() + SimulatedSensor::payload(t, 40, 3);
}

QString sensor(int group, int n)
{
    return QStringLiteral("000D6F00%1%2").arg(group, 2, 16, QLatin1Char('0')).arg(n, 6, 16, QLatin1Char('0')).toUpper();
}

long statusKiB(const char* key)
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith(key))
            return line.mid(int(qstrlen(key))).trimmed().split(' ').value(0).toLong();
    }
    return -1;
}

// Resident memory sampled from a thread of its own, so a stalled main thread misses no peak.
class RssSampler
{
public:
    RssSampler()
        : worker([this] {
            while (!stop) {
                const long now = statusKiB("VmRSS:");
                long seen = peak.load();
                while (now > seen && !peak.compare_exchange_weak(seen, now)) { }
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            }
        })
    {
    }
    ~RssSampler()
    {
        stop = true;
        worker.join();
    }
    long takePeakMiB() { return peak.exchange(statusKiB("VmRSS:")) / 1024; }
    long currentMiB() const { return peak.load() / 1024; }

private:
    std::atomic<bool> stop { false };
    std::atomic<long> peak { 0 };
    std::thread worker;
};

// A gateway on loopback in a thread of its own: it writes what it is given at its own pace,
// however long the program under test stalls.
class PacedGateway
{
public:
    PacedGateway()
    {
        context = new QObject;
        context->moveToThread(&thread);
        thread.start();
    }
    ~PacedGateway()
    {
        run([this] {
            delete timer;
            delete socket;
        });
        context->deleteLater();
        thread.quit();
        thread.wait();
    }
    // A gateway that does not read takes one byte into its buffer and leaves the rest.
    bool connectTo(quint16 port, bool reads)
    {
        bool ok = false;
        run([&] {
            socket = new QTcpSocket;
            if (!reads)
                socket->setReadBufferSize(1);
            socket->connectToHost(QStringLiteral("127.0.0.1"), port);
            ok = socket->waitForConnected(5000);
            if (!reads)
                socket->setSocketOption(QAbstractSocket::ReceiveBufferSizeSocketOption, 4096);
            QObject::connect(socket, &QTcpSocket::readyRead, socket, [this, reads] {
                if (reads)
                    socket->readAll();
            });
            QObject::connect(socket, &QTcpSocket::disconnected, socket, [this] { dropped = true; });
        });
        return ok;
    }
    // Writes the pieces one per interval; `sent` counts them.
    void send(const QList<QByteArray>& pieces, int intervalMs)
    {
        sent = 0;
        QMetaObject::invokeMethod(context, [this, pieces, intervalMs] {
            delete timer;
            timer = new QTimer;
            timer->setTimerType(Qt::PreciseTimer);
            timer->setInterval(intervalMs);
            QObject::connect(timer, &QTimer::timeout, timer, [this, pieces] {
                if (sent >= pieces.size()) {
                    timer->stop();
                    return;
                }
                socket->write(pieces[sent]);
                ++sent;
            });
            timer->start();
        });
    }
    void close()
    {
        run([this] {
            if (timer)
                timer->stop();
            socket->disconnectFromHost();
        });
    }

    std::atomic<int> sent { 0 };
    std::atomic<bool> dropped { false };

private:
    template <typename F> void run(F&& f)
    {
        QMetaObject::invokeMethod(context, std::forward<F>(f), Qt::BlockingQueuedConnection);
    }

    QThread thread;
    QObject* context = nullptr;
    QTcpSocket* socket = nullptr;
    QTimer* timer = nullptr;
};

void waitFor(const std::function<bool()>& done, int timeoutMs)
{
    QElapsedTimer t;
    t.start();
    while (!done() && t.elapsed() < timeoutMs)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
}

void pause(int ms)
{
    waitFor([] { return false; }, ms);
}

int rows(const QString& eui)
{
    QSqlQuery q;
    q.prepare(QStringLiteral("SELECT COUNT(*) FROM measure m JOIN sensors s ON s.id = m.sensor_id WHERE s.EUI64 = ?"));
    q.addBindValue(eui);
    return q.exec() && q.next() ? q.value(0).toInt() : -1;
}

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QCommandLineParser cli;
    cli.addHelpOption();
    cli.addOption({ "after", "Whole messages after each cut.", "N", "100" });
    cli.addOption({ "flood", "Messages with a bad address in the flood.", "N", "10000" });
    cli.addOption({ "sensors", "Sensors registered for the reader that does not read.", "N", "2976" });
    cli.addOption({ "input", "KB the reader that does not read sends.", "KB", "900" });
    cli.process(app);
    const int after = cli.value("after").toInt();
    const int flood = cli.value("flood").toInt();

    QTemporaryDir dir;
    QDir::setCurrent(dir.path());
    QDir().mkdir(QStringLiteral("data"));
    AppState state;
    state.BreakInterval = 120;
    state.DaysSave = 365;
    SQLBaseModule sql;
    state.followDatabase(sql);
    sql.init(0, QString(), QString(), QString(), QString(), 0);
    std::unique_ptr<NetworkModule> net = startGatewayServer();
    if (!sql.db.isOpen() || !net) {
        std::fprintf(stderr, "bench_gatewaypeers: database or server did not start\n");
        return 1;
    }
    GatewayHub hub(state, *net, sql);
    // The network log as the main window shows it.
    QTextEdit networkLog;
    networkLog.resize(900, 300);
    networkLog.show();
    QObject::connect(net.get(), &NetworkModule::signalInterfNetworkMess, &networkLog, [&networkLog](const QString& t) {
        networkLog.append(InterfaceModule::networkLogLine(QTime::currentTime(), t));
    });
    QElapsedTimer clock;
    clock.start();
    QHash<QString, qint64> castAt; // when the server handed a sentinel's message on
    QObject::connect(net.get(), &NetworkModule::signalNetworkCastReceived, &app,
        [&](ZigBeeClient*, const QString& eui, const QByteArray&) {
            if (eui.startsWith(QLatin1String("000D6F00EE")))
                castAt.insert(eui, clock.nsecsElapsed());
        });

    // The probe: a sensor on the local modem, answered by the modem road every 20 ms.
    ModemProbe probe;
    ModemRoad modemRoad(state, *sql.writer);
    if (!probe.open() || !modemRoad.start(state, probe)) {
        std::fprintf(stderr, "bench_gatewaypeers: the modem's start-up script did not run\n");
        return 1;
    }
    probe.startTicking(
        20, [&probe] { probe.send(QStringLiteral("000D6F0000A0A0A0"), SimulatedSensor::payload(21, 40, 3)); });
    pause(500);

    RssSampler rss;
    auto startPhase = [&] {
        probe.takeLatencies();
        rss.takePeakMiB();
    };
    auto endPhase = [&](const char* name, const QString& extra) {
        const QVector<double> copy = probe.takeLatencies();
        std::printf("%-12s probe replies %4d: median %7.2f ms, p99 %8.2f ms, max %8.2f ms; RSS peak %5ld MiB  %s\n",
            name, int(copy.size()), percentile(copy, 0.5), percentile(copy, 0.99), percentile(copy, 1.0),
            rss.takePeakMiB(), qPrintable(extra));
        std::fflush(stdout);
    };
    const quint16 port = net->serverPort();

    // Baseline: a bound gateway at 200 messages/s.
    PacedGateway steady;
    steady.connectTo(port, true);
    steady.send({ hello("steady", "000D6F0000AB0001") }, 1);
    pause(300);
    {
        startPhase();
        QList<QByteArray> messages;
        for (int i = 0; i < 600; ++i)
            messages << cast(sensor(0xB0, i % 10), 20 + i % 7);
        steady.send(messages, 5);
        waitFor([&] { return steady.sent >= messages.size(); }, 20000);
        pause(100);
        endPhase("baseline", QStringLiteral("(bound gateway, 200 messages/s)"));
    }

    // A cut "Mess", then whole messages on the same connection, at every cut position.
    {
        startPhase();
        const QByteArray whole = cast(QStringLiteral("000D6F00FFFF0000"), 22.5f);
        QStringList lostText;
        int lostTotal = 0;
        for (int cut = 1; cut < whole.size(); ++cut) {
            PacedGateway g;
            g.connectTo(port, true);
            QList<QByteArray> pieces { hello("cut", "000D6F0000AB0002") + whole.left(cut) };
            for (int i = 0; i < after; ++i)
                pieces << cast(sensor(0xC0, cut), 20 + i % 7);
            g.send(pieces, 5);
            waitFor([&] { return g.sent >= pieces.size(); }, 60000);
            pause(50);
            g.close();
            pause(20);
            waitFor([&] { return sql.writer->queueLength() == 0; }, 20000);
            const int lost = after - rows(sensor(0xC0, cut));
            lostTotal += lost;
            lostText << QString::number(lost);
        }
        waitFor([&] { return sql.writer->queueLength() == 0; }, 20000);
        const int falseRows = rows(QStringLiteral("000D6F00FFFF0000"));
        endPhase("cut", QStringLiteral("(%1 positions x %2 messages)").arg(whole.size() - 1).arg(after));
        std::printf("  lost after the cut, by position 1..%d: %s\n  lost in all %d of %d; rows stored under the cut "
                    "sensor: %d\n",
            int(whole.size() - 1), qPrintable(lostText.join(' ')), lostTotal, int(whole.size() - 1) * after, falseRows);
    }

    // 10,000 messages whose address is no EUI64, in one burst, then a sentinel.
    {
        PacedGateway g;
        g.connectTo(port, true);
        g.send({ hello("flood", "000D6F0000AB0003") }, 1);
        pause(300);
        startPhase();
        QByteArray burst;
        for (int i = 0; i < flood; ++i)
            burst += "Mess" + QByteArray("000D6F0000C0A0\0\0", 16) + QByteArray(1, '\0');
        const QString sentinel = QStringLiteral("000D6F00EE000001");
        burst += cast(sentinel, 20);
        const qint64 start = clock.nsecsElapsed();
        g.send({ burst }, 1);
        waitFor([&] { return castAt.contains(sentinel); }, 120000);
        const double seconds = (castAt.value(sentinel, clock.nsecsElapsed()) - start) / 1e9;
        pause(500);
        endPhase("flood",
            QStringLiteral("(%1 bad messages, %2 KB: handled in %3 ms, %4 log lines)")
                .arg(flood)
                .arg(burst.size() / 1024)
                .arg(seconds * 1000, 0, 'f', 1)
                .arg(networkLog.document()->blockCount()));
        g.close();
    }

    // A connection that is never bound and never reads, while many sensors are registered.
    {
        for (int i = 0; i < cli.value("sensors").toInt(); ++i) {
            auto* s = new Sensor;
            s->EUI64 = sensor(0xD0, i);
            state.sensors.append(s);
        }
        PacedGateway g;
        g.connectTo(port, false);
        startPhase();
        const long before = statusKiB("VmRSS:") / 1024;
        QList<QByteArray> chunks;
        const int frames = cli.value("input").toInt() * 1024 / cast(sensor(0xE0, 0), 1).size();
        QByteArray chunk;
        for (int i = 0; i < frames; ++i) {
            chunk += cast(sensor(0xE0, i % 50), 21);
            if (chunk.size() > 4500 || i == frames - 1) {
                chunks << chunk;
                chunk.clear();
            }
        }
        const QString sentinel = QStringLiteral("000D6F00EE000002");
        chunks << cast(sentinel, 20);
        g.send(chunks, 25);
        const qint64 start = clock.nsecsElapsed();
        // Stops early rather than let the machine run out of memory.
        waitFor([&] { return castAt.contains(sentinel) || g.dropped || rss.currentMiB() > 2500; }, 180000);
        const double seconds = (clock.nsecsElapsed() - start) / 1e9;
        const bool dropped = g.dropped;
        g.close();
        pause(1000);
        endPhase("not reading",
            QStringLiteral("(%1 frames in %2 s; RSS %3 MiB before, %4 MiB 1 s after the peer "
                           "left; %5)")
                .arg(frames)
                .arg(seconds, 0, 'f', 1)
                .arg(before)
                .arg(statusKiB("VmRSS:") / 1024)
                .arg(dropped ? "disconnected by the program" : "not disconnected"));
    }

    probe.stopTicking();
    modemRoad.stop();
    sql.slotStopModule();
    return 0;
}
