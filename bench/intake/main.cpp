// Intake benchmark: sensor messages from a modem on a pseudo-terminal, through the modem
// module, the intake and SQLite, and back to the line as replies.
//   bench_intake [--sensors N] [--messages M] [--rate per-second] [--burst K]
// Reports the time from a message leaving the modem to its reply arriving there (median,
// 99th percentile) at the given rate, and the measurements stored per second when the
// intake runs flat out.
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QHash>
#include <QRandomGenerator>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <cstdio>

#include "app/appstate.h"
#include "app/sensorintake.h"
#include "links/modemmodule.h"
#include "storage/databasewriter.h"
#include "storage/sqlbasemodule.h"
#include "tools/modemsim/modempeer.h"
#include "tools/modemsim/simulatedsensor.h"

namespace {

class BenchSink : public QObject, public IntakeSink
{
    Q_OBJECT
public:
    SQLBaseModule* sql = nullptr;
    int stored = 0;
signals:
    void reply(QByteArray frame);

public:
    void sendModemReply(const QByteArray& frame) override { emit reply(frame); }
    void sensorRegistered() override {}
    void sensorMoved() override {}
    void announceSleepInterval(const QString&, int) override {}
    void registryChanged() override {}
    void storeMeasurement(const PendingMeasurement& m) override
    {
        sql->writer->enqueue(m);
        ++stored;
    }
    void raiseNotification(const NotificationsMessage&) override {}
    void showStatus(const QString&) override {}
    void resendSensorList(ZigBeeClient*) override {}
};

double percentile(QVector<double> v, double p)
{
    if (v.isEmpty())
        return 0;
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, int(p * v.size()))];
}

}  // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QCommandLineParser cli;
    cli.addHelpOption();
    cli.addOption({ "sensors", "Simulated sensors.", "N", "50" });
    cli.addOption({ "messages", "Messages over the modem line.", "M", "2000" });
    cli.addOption({ "rate", "Messages per second over the line.", "R", "200" });
    cli.addOption({ "burst", "Measurements for the flat-out run.", "K", "20000" });
    cli.process(app);
    const int sensors = cli.value("sensors").toInt();
    const int messages = cli.value("messages").toInt();
    const int rate = std::max(1, cli.value("rate").toInt());
    const int burst = cli.value("burst").toInt();

    QTemporaryDir dir;
    QDir::setCurrent(dir.path());
    QDir().mkdir(QStringLiteral("data"));

    AppState state;
    state.BreakInterval = 120;
    SQLBaseModule sql;
    sql.init(0, QString(), QString(), QString(), QString(), 0);
    BenchSink sink;
    sink.sql = &sql;
    SensorIntake intake(state, sink, [] { return QDateTime::currentMSecsSinceEpoch(); });

    // The modem end runs in a thread of its own, like the hardware would.
    QThread peerThread;
    ModemPeer peer;
    QString error;
    if (!peer.open(&error)) {
        std::fprintf(stderr, "cannot open a pseudo-terminal: %s\n", qPrintable(error));
        return 1;
    }
    peer.setRecording(false);
    peer.moveToThread(&peerThread);
    peerThread.start();
    state.PortName = peer.portName();

    ModemModule modem;
    modem.moveToThread(&modem);
    QObject::connect(&modem, &ModemModule::signalCastReceived, &app,
        [&](QString kind, QString eui, QByteArray payload) { intake.modemCast(kind, eui, payload); });
    QObject::connect(&sink, &BenchSink::reply, &modem, &ModemModule::slotSendData);

    QHash<QString, qint64> sentAt;  // guarded by running everything of the peer in its thread
    QVector<double> latencies;
    QElapsedTimer clock;
    clock.start();
    QObject::connect(&peer, &ModemPeer::unicastReceived, &peer, [&](const QString& eui, const QByteArray&) {
        const qint64 t = sentAt.take(eui);
        if (t)
            latencies.append((clock.nsecsElapsed() - t) / 1e6);
    });
    QEventLoop waitScript;
    QObject::connect(&peer, &ModemPeer::scriptDone, &waitScript, &QEventLoop::quit);
    modem.start();
    QTimer::singleShot(15000, &waitScript, &QEventLoop::quit);
    waitScript.exec();

    QRandomGenerator random(7);
    QVector<SimulatedSensor> simulated;
    for (int i = 0; i < sensors; ++i)
        simulated.append(SimulatedSensor(i, &random));
    int sent = 0;
    auto* sender = new QTimer;
    sender->moveToThread(&peerThread);
    sender->setInterval(std::max(1, 1000 / rate));
    QObject::connect(sender, &QTimer::timeout, &peer, [&] {
        if (sent >= messages)
            return;
        SimulatedSensor& s = simulated[sent % sensors];
        sentAt.insert(s.eui64(), clock.nsecsElapsed());
        peer.sendCast(QStringLiteral("UCAST"), s.eui64(), s.nextPayload());
        ++sent;
    });
    QMetaObject::invokeMethod(sender, [sender] { sender->start(); }, Qt::QueuedConnection);

    const qint64 lineStart = clock.elapsed();
    while (sink.stored < messages && clock.elapsed() - lineStart < 120000)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    QThread::msleep(200);
    QMetaObject::invokeMethod(sender, [sender] { sender->stop(); sender->deleteLater(); }, Qt::BlockingQueuedConnection);
    QMetaObject::invokeMethod(&modem, "slotStopModule", Qt::QueuedConnection);
    modem.wait();
    QVector<double> copy;
    QMetaObject::invokeMethod(&peer, [&] { copy = latencies; }, Qt::BlockingQueuedConnection);
    peerThread.quit();
    peerThread.wait();

    std::printf("line: %d messages from %d sensors at %d/s, %d stored, %d replies\n", messages, sensors, rate,
        sink.stored, copy.size());
    std::printf("message to reply on the line: median %.2f ms, p99 %.2f ms, max %.2f ms\n", percentile(copy, 0.5),
        percentile(copy, 0.99), percentile(copy, 1.0));

    // Flat out: the intake alone with SQLite storing every measurement.
    const int before = sink.stored;
    QElapsedTimer flat;
    flat.start();
    for (int i = 0; i < burst; ++i) {
        SimulatedSensor& s = simulated[i % sensors];
        intake.modemCast(QStringLiteral("UCAST"), s.eui64(), s.nextPayload());
    }
    const double seconds = flat.nsecsElapsed() / 1e9;
    QSqlQuery q(QStringLiteral("SELECT COUNT(*) FROM measure"));
    q.next();
    std::printf("flat out: %d measurements in %.2f s = %.0f per second (%lld rows in measure)\n", sink.stored - before,
        seconds, (sink.stored - before) / seconds, q.value(0).toLongLong());
    sql.slotStopModule();
    return 0;
}

#include "main.moc"
