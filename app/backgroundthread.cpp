#include "app/backgroundthread.h"

#include <QThread>

#ifdef Q_OS_LINUX
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>
#endif

namespace BackgroundThread
{

namespace
{

// Ten steps of niceness: about a tenth of the share of a thread at the default.
const int kNiceness = 10;

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

} // namespace BackgroundThread
