#include "core/threadscheduling.h"

#include <QThread>

#ifdef Q_OS_LINUX
#include <cstdint>
#include <sched.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>
#endif

namespace ThreadScheduling
{

namespace
{

// Ten steps of niceness: about a tenth of the share of a thread at the default.
const int kNiceness = 10;

#ifdef Q_OS_LINUX
// The kernel's sched_attr, as far as its first version (glibc has no wrapper before 2.41).
struct SchedAttr {
    std::uint32_t size;
    std::uint32_t policy;
    std::uint64_t flags;
    std::int32_t nice;
    std::uint32_t priority;
    std::uint64_t runtime; // for SCHED_OTHER: the length of the thread's turn, in ns
    std::uint64_t deadline;
    std::uint64_t period;
};

// The shortest turn the kernel grants: 0.1 ms, against 0.75 ms × (1 + log2 cores) by default.
const std::uint64_t kPromptTurnNs = 100000;
#endif

} // namespace

void startBehind(QThread* thread)
{
    QObject::connect(
        thread, &QThread::started, thread,
        [] {
#ifdef Q_OS_LINUX
            // Linux keeps a niceness per thread; the thread's own id names it.
            setpriority(PRIO_PROCESS, id_t(syscall(SYS_gettid)), kNiceness);
#else
            QThread::currentThread()->setPriority(QThread::LowPriority);
#endif
        },
        Qt::DirectConnection);
    thread->start();
}

bool answerPromptly()
{
#ifdef Q_OS_LINUX
    // The thread's policy and niceness stay; only the turn's length changes, which needs no
    // privilege. Other policies than the default one have no such turns.
    SchedAttr attr {};
    if (syscall(SYS_sched_getattr, 0, &attr, sizeof attr, 0) != 0 || attr.policy != SCHED_OTHER)
        return false;
    attr.size = sizeof attr;
    attr.flags = 0;
    attr.runtime = kPromptTurnNs;
    if (syscall(SYS_sched_setattr, 0, &attr, 0) != 0)
        return false;
    // Kernels before 6.12 take the call and ignore the turn's length.
    return turnNs() == kPromptTurnNs;
#else
    return false;
#endif
}

unsigned long long turnNs(long tid)
{
#ifdef Q_OS_LINUX
    SchedAttr attr {};
    return syscall(SYS_sched_getattr, pid_t(tid), &attr, sizeof attr, 0) == 0 ? attr.runtime : 0;
#else
    Q_UNUSED(tid)
    return 0;
#endif
}

} // namespace ThreadScheduling
