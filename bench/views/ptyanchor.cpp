#include "bench/views/ptyanchor.h"

#include <QElapsedTimer>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <poll.h>
#include <pty.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

PtyAnchor::~PtyAnchor()
{
    stop();
}

bool PtyAnchor::start(int intervalMs)
{
    int slave = -1;
    termios raw {};
    cfmakeraw(&raw);
    if (openpty(&master, &slave, nullptr, &raw, nullptr) != 0)
        return false;
    child = fork();
    if (child < 0)
        return false;
    if (child == 0) {
        ::close(master);
        char buffer[256];
        for (;;) {
            const ssize_t n = ::read(slave, buffer, sizeof buffer);
            if (n <= 0 && errno != EINTR)
                _exit(0);
            if (n > 0 && ::write(slave, buffer, size_t(n)) != n)
                _exit(1);
        }
    }
    ::close(slave);
    pinger = std::thread([this, intervalMs] { run(intervalMs); });
    return true;
}

void PtyAnchor::run(int intervalMs)
{
    // As long as a modem message with its reply.
    static const char ping[] = "UCAST:000D6F0000C0A000,0C=0102030405060708090A0B\r\n";
    const size_t length = sizeof ping - 1;
    QElapsedTimer clock;
    clock.start();
    while (!stopping) {
        const qint64 sent = clock.nsecsElapsed();
        if (::write(master, ping, length) != ssize_t(length))
            return;
        size_t got = 0;
        char buffer[256];
        while (got < length && !stopping) {
            pollfd p { master, POLLIN, 0 };
            if (::poll(&p, 1, 100) > 0) {
                const ssize_t n = ::read(master, buffer, sizeof buffer);
                if (n <= 0)
                    return;
                got += size_t(n);
            }
        }
        latencies.append((clock.nsecsElapsed() - sent) / 1e6);
        std::this_thread::sleep_for(std::chrono::milliseconds(intervalMs));
    }
}

QVector<double> PtyAnchor::stop()
{
    stopping = true;
    if (pinger.joinable())
        pinger.join();
    if (master >= 0) {
        ::close(master);
        master = -1;
    }
    if (child > 0) {
        ::kill(child, SIGTERM);
        ::waitpid(child, nullptr, 0);
        child = -1;
    }
    return latencies;
}
