#include "hub/closesignals.h"

#include <QSocketNotifier>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace
{

const int kSignals[] = { SIGINT, SIGTERM };
// The pipe's read and write ends, -1 while no object watches.
int pipeEnds[2] = { -1, -1 };

void onSignal(int number)
{
    const int saved = errno;
    const char byte = char(number);
    // Non-blocking: with the pipe full the program is closing already.
    const ssize_t written = ::write(pipeEnds[1], &byte, 1);
    Q_UNUSED(written);
    errno = saved;
}

void setHandler(void (*handler)(int))
{
    struct sigaction action = {};
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int number : kSignals)
        ::sigaction(number, &action, nullptr);
}

} // namespace

CloseSignals::CloseSignals(QObject* parent)
    : QObject(parent)
{
    Q_ASSERT(pipeEnds[0] < 0);
    if (::pipe(pipeEnds) != 0) {
        qWarning("Stop signals will end the program at once: %s", strerror(errno));
        pipeEnds[0] = pipeEnds[1] = -1;
        return;
    }
    for (int end : pipeEnds) {
        ::fcntl(end, F_SETFL, ::fcntl(end, F_GETFL) | O_NONBLOCK);
        ::fcntl(end, F_SETFD, FD_CLOEXEC);
    }
    notifier = new QSocketNotifier(pipeEnds[0], QSocketNotifier::Read, this);
    connect(notifier, &QSocketNotifier::activated, this, &CloseSignals::readPipe);
    setHandler(&onSignal);
}

CloseSignals::~CloseSignals()
{
    if (pipeEnds[0] < 0)
        return;
    // The handlers go before the pipe: a signal never writes into a closed or reused descriptor.
    setHandler(SIG_DFL);
    delete notifier;
    ::close(pipeEnds[0]);
    ::close(pipeEnds[1]);
    pipeEnds[0] = pipeEnds[1] = -1;
}

void CloseSignals::readPipe()
{
    char bytes[16];
    ssize_t n = 0;
    while ((n = ::read(pipeEnds[0], bytes, sizeof bytes)) > 0) {
        for (ssize_t i = 0; i < n; ++i)
            emit received(bytes[i]);
    }
}

#else

CloseSignals::CloseSignals(QObject* parent)
    : QObject(parent)
{
}

CloseSignals::~CloseSignals() = default;

void CloseSignals::readPipe() { }

#endif
