// Gateway replies while a problem report with a large archive goes out, against the same
// replies with nothing being sent, in one run: the GUI thread answers the gateways, so
// whatever the send does there shows as reply latency. A gateway on loopback sends a
// measurement every few milliseconds from a thread of its own and times each "Slep" reply;
// the letter goes to a TLS SMTP server in another thread.

#include <QApplication>
#include <QCheckBox>
#include <QCommandLineParser>
#include <QElapsedTimer>
#include <QFile>
#include <QMutex>
#include <QPushButton>
#include <QRandomGenerator>
#include <QTextStream>
#include <QThread>

#include <atomic>
#include <memory>

#include "dialogs/prompt.h"
#include "dialogs/dialogsendreport.h"
#include "gatewayhub.h"
#include "gatewaypeer.h"
#include "links/networkmodule.h"
#include "percentile.h"
#include "smtpsink.h"
#include "sqliteworkspace.h"
#include "testcerts.h"

namespace
{

// A gateway with its modem.
const QByteArray kHello = hello("bench", "000D6F0000AB0001");

// One measurement (21.5 °C, 40 %, 3.0 V) of the n-th sensor. A sensor the program has not seen
// is registered and announced at once: its "Slep" is the reply timed.
QByteArray cast(int n)
{
    return "Mess" + QStringLiteral("000D6F0000C1%1").arg(n, 4, 16, QLatin1Char('0')).toUpper().toLatin1()
        + QByteArray::fromHex("030101040000ac410201040000204203010400004040");
}

class SilentPrompt : public Prompt
{
public:
    bool question(const QString&) override { return true; }
    void critical(const QString&, const QString& text) override { shown << text; }
    void warning(const QString&, const QString& text) override { shown << text; }
    void information(const QString&, const QString& text) override { shown << text; }
    QStringList shown;
};

// Times replies from its own thread: sends a new sensor's measurement, waits for the reply.
class ReplyProbe
{
public:
    explicit ReplyProbe(GatewayPeer& peer, int intervalMs)
        : peer(peer)
        , intervalMs(intervalMs)
    {
    }
    void start()
    {
        thread.reset(QThread::create([this] { run(); }));
        thread->start();
    }
    void stop()
    {
        stopping = true;
        thread->wait();
    }
    // Phase 0 idle, 1 sending; samples go to the phase current when they were sent.
    std::atomic<int> phase { 0 };
    std::atomic<int> lost { 0 };
    QVector<double> samples[2];
    QMutex lock;

private:
    void run()
    {
        for (int n = 1; !stopping; ++n) {
            const int size = peer.received().size();
            const int at = phase;
            QElapsedTimer clock;
            clock.start();
            peer.send(cast(n));
            while (peer.received().size() == size && clock.elapsed() < 10000 && !stopping)
                QThread::usleep(100);
            const double ms = clock.nsecsElapsed() / 1e6;
            if (peer.received().size() == size) {
                lost += stopping ? 0 : 1;
            } else {
                QMutexLocker locker(&lock);
                samples[at] << ms;
            }
            QThread::msleep(ulong(intervalMs));
        }
    }

    GatewayPeer& peer;
    int intervalMs;
    std::atomic_bool stopping { false };
    std::unique_ptr<QThread> thread;
};

void runFor(int ms)
{
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < ms)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
}

QString figures(const QVector<double>& v)
{
    return QStringLiteral("%1 replies, median %2 ms, p95 %3 ms, p99 %4 ms, max %5 ms")
        .arg(v.size())
        .arg(percentile(v, 0.5), 0, 'f', 2)
        .arg(percentile(v, 0.95), 0, 'f', 2)
        .arg(percentile(v, 0.99), 0, 'f', 2)
        .arg(percentile(v, 1.0), 0, 'f', 2);
}

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QTextStream out(stdout);
    QCommandLineParser options;
    options.addHelpOption();
    const QCommandLineOption mibOption("mib", "Size of the data folder's extra file, MiB.", "MiB", "75");
    const QCommandLineOption intervalOption("interval", "Pause between two measurements, ms.", "ms", "5");
    const QCommandLineOption idleOption("idle", "Idle phase, ms.", "ms", "3000");
    options.addOptions({ mibOption, intervalOption, idleOption });
    options.process(app);

    SqliteWorkspace workspace;
    std::unique_ptr<NetworkModule> net = startGatewayServer();
    TestCerts certs;
    if (!workspace.isOpen() || !net || !certs.create(workspace.dir.path())) {
        out << "bench_sendreport: database, gateway server or certificates did not start " << certs.error << "\n";
        return 1;
    }
    GatewayHub hub(*workspace.state, *net, *workspace.sql);
    SmtpSink sink(certs.serverCert, certs.serverKey);
    const quint16 smtpPort = sink.start();

    // Random bytes do not compress: the archive is as large as the file.
    const qint64 size = options.value(mibOption).toLongLong() << 20;
    QFile noise(QStringLiteral("data/noise.bin"));
    if (!smtpPort || !noise.open(QIODevice::WriteOnly)) {
        out << "bench_sendreport: no SMTP server or no data file\n";
        return 1;
    }
    QVector<quint32> words(1 << 18);
    for (qint64 written = 0; written < size; written += words.size() * 4) {
        QRandomGenerator::global()->fillRange(words.data(), words.size());
        noise.write(reinterpret_cast<const char*>(words.constData()), qMin<qint64>(words.size() * 4, size - written));
    }
    noise.close();

    SilentPrompt prompt;
    setPrompt(&prompt);
    DialogSendReport dialog;
    dialog.setRelay({ QStringLiteral("localhost"), smtpPort, QStringLiteral("relay@bench.test"), QStringLiteral("pw") },
        QStringLiteral("support@bench.test"));
    dialog.setSslConfiguration(certs.clientConfiguration());

    GatewayPeer peer;
    QString error;
    if (!peer.connectTo(net->serverPort(), &error) || !peer.send(kHello)) {
        out << "bench_sendreport: gateway did not connect: " << error << "\n";
        return 1;
    }
    // The gateway is bound to its room before the timing starts.
    runFor(1000);

    ReplyProbe probe(peer, options.value(intervalOption).toInt());
    probe.start();
    runFor(options.value(idleOption).toInt());

    probe.phase = 1;
    bool closed = false;
    QObject::connect(&dialog, &QDialog::finished, [&] { closed = true; });
    dialog.show();
    dialog.findChild<QCheckBox*>(QStringLiteral("isSendData"))->click();
    QElapsedTimer sending;
    sending.start();
    dialog.findChild<QPushButton*>(QStringLiteral("pushSend"))->click();
    while (!closed && sending.elapsed() < 600000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    const qint64 sendMs = sending.elapsed();
    probe.stop();

    const QFileInfo archive(QStringLiteral("sent_data.zip"));
    out << "archive " << QString::number(archive.size() / 1048576.0, 'f', 1) << " MiB, letter "
        << QString::number(sink.letterBytes / 1048576.0, 'f', 1) << " MiB, sent in " << sendMs << " ms"
        << (prompt.shown.isEmpty() ? QString() : QStringLiteral(", box: ") + prompt.shown.join(' ')) << "\n";
    out << "idle:    " << figures(probe.samples[0]) << "\n";
    out << "sending: " << figures(probe.samples[1]) << "\n";
    const auto ratio = [&](double p) {
        return QString::number(percentile(probe.samples[1], p) / qMax(percentile(probe.samples[0], p), 0.001), 'f', 2);
    };
    out << "sending / idle: median " << ratio(0.5) << "x, p95 " << ratio(0.95) << "x, p99 " << ratio(0.99) << "x, max "
        << ratio(1.0) << "x; lost replies " << probe.lost << Qt::endl;
    return closed && sink.letters == 1 && prompt.shown.isEmpty() ? 0 : 1;
}
