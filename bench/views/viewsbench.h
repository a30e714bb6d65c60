#pragma once

#include <QByteArray>
#include <QCoreApplication>
#include <QObject>
#include <QString>
#include <QThread>
#include <QVector>

#include <functional>

class ModemProbe;
class ProgramRun;

// What the scenarios of bench_views share: the event loop paced by a condition, the program
// started on a prepared folder with the modem probe on its line, and the replies reported
// beside their anchor.
namespace ViewsBench
{

double threadCpuMs();
// Runs the event loop, sleeping between events, until `done` or the time-out.
void waitFor(const std::function<bool()>& done, int timeoutMs);
inline void pause(int ms)
{
    waitFor([] { return false; }, ms);
}

// Addresses of the year database's sensors, and of sensors the benchmark makes up.
QString datagenKey(int i);
QString newSensorKey(int i);

// Writes the configuration, starts the program and waits until it has run the modem's script.
bool startProgram(ProgramRun& run, ModemProbe& line, const QString& program, quint16 networkPort);
// The program's own schema in the run's folder, with `sensors` known sensors (newSensorKey)
// in a room per 50 of them.
bool makeDatabase(ProgramRun& run, int sensors = 0);
// The program on a database with `known` sensors, showing tab `tab` with the "last" window
// entry `last`, refreshing on every stored batch.
bool startEmptyProgram(
    ProgramRun& run, ModemProbe& line, const QString& program, quint16 port, int tab, int last = 17, int known = 0);
// Rows of `table` in the running program's database, read beside it as another reader would;
// -1 when it cannot be read.
qint64 storedRows(const ProgramRun& run, const QString& table);

void reportReplies(
    const char* what, const QVector<double>& replies, const QVector<double>& anchor, int unanswered, double busy);

// Replies and the anchor's pings of one stretch of a run.
struct Phase {
    QVector<double> replies;
    QVector<double> anchor;
    int unanswered = 0;
    double busy = 0;
    double seconds = 0;
    double ratio() const;
};

// Ticks `tick` at `rate` a second until `done`, beside a pty anchor of its own.
bool runPhase(ProgramRun& run, ModemProbe& line, int rate, const std::function<void()>& tick,
    const std::function<bool()>& done, int timeoutMs, Phase* phase);

// Simulated gateways in a thread of their own: the sockets of thousands of them would slow
// down the modem line's thread, which times the replies.
class GatewayThread
{
public:
    GatewayThread()
    {
        context.moveToThread(&thread);
        thread.start();
    }
    ~GatewayThread()
    {
        run([this] { context.moveToThread(QCoreApplication::instance()->thread()); });
        thread.quit();
        thread.wait();
    }
    void run(const std::function<void()>& f) { QMetaObject::invokeMethod(&context, f, Qt::BlockingQueuedConnection); }

    QObject context;
    QThread thread;
};

} // namespace ViewsBench

// The scenarios, one file each.
int refreshScenario(int sensors, int refreshes, int tab);
int graphScenario(
    int seconds, const QString& cache, const QString& program, const QString& refreshAction, int tab, double rate);
int floodScenario(int newSensors, const QString& program);
int registerScenario(int newSensors, int rate, int tab, const QString& program);
int ratiosScenario(const QVector<int>& counts, int rate, int tab, int seconds, const QString& program);
int gatewaysScenario(int gateways, int rate, int tab, const QString& program);
// Gateways connected and reporting once a second each, with a modem sensor answered all along,
// beside an epoll server doing the same.
int gatewayStreamScenario(int gateways, int seconds, int runs, int tab, const QString& program);
// CPU and reply times of the program under the modem stream, beside the bare wiring program:
// after it, or `together` with it.
int cpuScenario(const QVector<int>& tabs, const QVector<int>& known, int rate, int seconds, int runs, bool together,
    const QString& program);
