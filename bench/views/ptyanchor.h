#pragma once

#include <QVector>

#include <atomic>
#include <sys/types.h>
#include <thread>

// The floor under every reply time: a bare ping-pong over a pseudo-terminal between this
// process and a child that echoes what it reads, timed beside the program in the same run.
class PtyAnchor
{
public:
    ~PtyAnchor();
    // Pings every `intervalMs` until stop().
    bool start(int intervalMs);
    QVector<double> stop();

private:
    void run(int intervalMs);

    int master = -1;
    pid_t child = -1;
    std::thread pinger;
    std::atomic<bool> stopping { false };
    QVector<double> latencies;
};
