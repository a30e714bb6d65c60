#pragma once

#include <QElapsedTimer>
#include <QHash>
#include <QQueue>
#include <QThread>
#include <QVector>

#include <atomic>
#include <functional>

#include "tools/modemsim/modempeer.h"

class QTimer;

// The modem end of a pseudo-terminal in a thread of its own, as the hardware would be: what it
// sends is timed until the program's reply to that sensor comes back. Replies to one sensor
// come in the order of its messages, so each reply closes the oldest message of its sensor.
class ModemProbe
{
public:
    ModemProbe();
    ~ModemProbe();
    ModemProbe(const ModemProbe&) = delete;
    ModemProbe& operator=(const ModemProbe&) = delete;

    // Opens the pseudo-terminal and starts the peer's thread; false, with the reason printed,
    // when no pseudo-terminal could be had.
    bool open();
    QString portName() const { return peer.portName(); }
    // The program (or the modem module) ran its start-up script on the line.
    bool scriptDone() const { return script; }
    // Runs the calling thread's events until the script has run, at most `timeoutMs`; false when
    // it has not by then.
    bool waitForScript(int timeoutMs);

    // Sends one message and starts its clock; only from the peer's thread (a tick, run()).
    void send(const QString& eui64, const QByteArray& payload);
    // Calls `tick` in the peer's thread every `intervalMs` until stopTicking(); one ticker at a time.
    void startTicking(int intervalMs, const std::function<void()>& tick);
    void stopTicking();
    // Runs `f` in the peer's thread and returns when it has.
    void run(const std::function<void()>& f);

    // Message to reply times in ms since the last take, and the messages still unanswered.
    QVector<double> takeLatencies();
    int unanswered();

    ModemPeer peer;
    QThread thread;

private:
    QElapsedTimer clock;
    // Touched only in the peer's thread.
    QHash<QString, QQueue<qint64>> sentAt;
    QVector<double> latencies;
    QTimer* ticker = nullptr;
    std::atomic<bool> script { false };
};
