// Linked into the tests of a ThreadSanitizer build only.
//
// Debian's Qt is not built with ThreadSanitizer, so the sanitizer never sees QMutex and
// QWaitCondition synchronise: they lock with atomics and futexes inside libQt5Core, where
// nothing is instrumented. Every value our code guards with a QMutex would then be reported as
// a race. These definitions take the place of Qt's for the calls our code makes, run Qt's own
// code unchanged, and tell the sanitizer what that code did: a lock acquires the mutex, an
// unlock releases it, a wait releases and reacquires it. Nothing is hidden: a value touched
// without the lock is still reported.
//
// A queued call is handed over through Qt's event queue, under a mutex inside Qt: emitting a
// signal or invoking a functor releases, and the event handler of a receiver of ours acquires
// before Qt runs the slot. One sync point serves every queued call; another the way back of a
// blocking one. What Qt allocates for the call after that (the argument copies, the event) it
// allocates in code of its own, which scripts/tsan.sh keeps out of the sanitizer's sight; where
// it copies an argument through a copy constructor of ours, tests/tsan.supp says why.
//
// QThread::wait() is the same story: Qt starts its threads detached and tells a waiter of the
// end through its own mutex, so the sanitizer never learns that what the thread did comes
// before what the waiter does next. Each thread Qt starts ends here with a release on its
// QThread, which a wait that saw the thread finish acquires.
#include <QApplication>
#include <QDeadlineTimer>
#include <QEvent>
#include <QMainWindow>
#include <QMutex>
#include <QThread>
#include <QWaitCondition>
#include <QWidget>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <mutex>

#include <dlfcn.h>
#include <pthread.h>
#include <sched.h>
#include <sanitizer/tsan_interface.h>

namespace
{

// Qt's own definition of a function that this file defines as well.
template <typename F> F qtDefinition(const char* symbol)
{
    void* f = dlsym(RTLD_NEXT, symbol);
    if (!f) {
        std::fprintf(stderr, "tsanqtlocks: %s not found in Qt\n", symbol);
        std::abort();
    }
    return reinterpret_cast<F>(f);
}

} // namespace

void QMutex::lock() QT_MUTEX_LOCK_NOEXCEPT
{
    static const auto qt = qtDefinition<void (*)(QMutex*)>("_ZN6QMutex4lockEv");
    qt(this);
    __tsan_acquire(this);
}

bool QMutex::tryLock(int timeout) QT_MUTEX_LOCK_NOEXCEPT
{
    static const auto qt = qtDefinition<bool (*)(QMutex*, int)>("_ZN6QMutex7tryLockEi");
    const bool locked = qt(this, timeout);
    if (locked)
        __tsan_acquire(this);
    return locked;
}

void QMutex::unlock() noexcept
{
    static const auto qt = qtDefinition<void (*)(QMutex*)>("_ZN6QMutex6unlockEv");
    __tsan_release(this);
    qt(this);
}

// The contended paths of the inline QBasicMutex::lock() and unlock(); their fast paths are
// inline atomics on the same address, which the sanitizer sees.
void QBasicMutex::lockInternal() QT_MUTEX_LOCK_NOEXCEPT
{
    static const auto qt = qtDefinition<void (*)(QBasicMutex*)>("_ZN11QBasicMutex12lockInternalEv");
    qt(this);
    __tsan_acquire(this);
}

bool QBasicMutex::lockInternal(int timeout) QT_MUTEX_LOCK_NOEXCEPT
{
    static const auto qt = qtDefinition<bool (*)(QBasicMutex*, int)>("_ZN11QBasicMutex12lockInternalEi");
    const bool locked = qt(this, timeout);
    if (locked)
        __tsan_acquire(this);
    return locked;
}

void QBasicMutex::unlockInternal() noexcept
{
    static const auto qt = qtDefinition<void (*)(QBasicMutex*)>("_ZN11QBasicMutex14unlockInternalEv");
    __tsan_release(this);
    qt(this);
}

bool QWaitCondition::wait(QMutex* mutex, QDeadlineTimer deadline)
{
    static const auto qt = qtDefinition<bool (*)(QWaitCondition*, QMutex*, QDeadlineTimer)>(
        "_ZN14QWaitCondition4waitEP6QMutex14QDeadlineTimer");
    __tsan_release(mutex);
    const bool woken = qt(this, mutex, deadline);
    __tsan_acquire(mutex);
    return woken;
}

bool QWaitCondition::wait(QMutex* mutex, unsigned long time)
{
    static const auto qt
        = qtDefinition<bool (*)(QWaitCondition*, QMutex*, unsigned long)>("_ZN14QWaitCondition4waitEP6QMutexm");
    __tsan_release(mutex);
    const bool woken = qt(this, mutex, time);
    __tsan_acquire(mutex);
    return woken;
}

namespace
{

// Threads that have passed their final release, by their QThread (the argument Qt starts them
// with); guarded by a pthread mutex, which the sanitizer sees. Never destroyed: threads may
// still end while the process exits.
std::mutex& endedGuard = *new std::mutex;
std::map<void*, bool>& ended = *new std::map<void*, bool>;

struct Start {
    void* (*routine)(void*);
    void* argument;
};

void* runThenRelease(void* start)
{
    const Start s = *static_cast<Start*>(start);
    delete static_cast<Start*>(start);
    void* result = s.routine(s.argument);
    __tsan_release(s.argument);
    std::lock_guard<std::mutex> lock(endedGuard);
    ended[s.argument] = true;
    return result;
}

} // namespace

extern "C" int pthread_create(pthread_t* thread, const pthread_attr_t* attr, void* (*routine)(void*), void* argument)
{
    static const auto next
        = qtDefinition<int (*)(pthread_t*, const pthread_attr_t*, void* (*)(void*), void*)>("pthread_create");
    {
        std::lock_guard<std::mutex> lock(endedGuard);
        ended[argument] = false;
    }
    return next(thread, attr, &runThenRelease, new Start { routine, argument });
}

bool QThread::wait(QDeadlineTimer deadline)
{
    static const auto qt = qtDefinition<bool (*)(QThread*, QDeadlineTimer)>("_ZN7QThread4waitE14QDeadlineTimer");
    if (!qt(this, deadline))
        return false;
    // Qt wakes the waiter just before the thread's routine returns.
    for (;;) {
        {
            std::lock_guard<std::mutex> lock(endedGuard);
            const auto it = ended.find(this);
            if (it == ended.end() || it->second)
                break;
        }
        sched_yield();
    }
    __tsan_acquire(this);
    return true;
}

bool QThread::wait(unsigned long time)
{
    return wait(time == ULONG_MAX ? QDeadlineTimer(QDeadlineTimer::Forever) : QDeadlineTimer(qint64(time)));
}

namespace
{

char queuedCalls;
// A blocking queued call returns once its slot has run in the receiver's thread: Qt wakes the
// caller through a semaphore of its own after the event handler returns.
char blockingReturns;

} // namespace

void QMetaObject::activate(QObject* sender, const QMetaObject* meta, int index, void** argv)
{
    static const auto qt = qtDefinition<void (*)(QObject*, const QMetaObject*, int, void**)>(
        "_ZN11QMetaObject8activateEP7QObjectPKS_iPPv");
    __tsan_release(&queuedCalls);
    qt(sender, meta, index, argv);
}

void QMetaObject::activate(QObject* sender, int offset, int index, void** argv)
{
    static const auto qt
        = qtDefinition<void (*)(QObject*, int, int, void**)>("_ZN11QMetaObject8activateEP7QObjectiiPPv");
    __tsan_release(&queuedCalls);
    qt(sender, offset, index, argv);
}

namespace
{

// A functor invoked in another thread reaches its receiver as a MetaCall event too, but a plain
// QObject receiver (a context made with `new QObject`) has Qt's own vtable, so its event handler
// is Qt's and not the one defined below: the functor, wrapped in this, acquires itself, and so
// does its end, which may come in the receiver's thread without a call when the receiver goes
// first and Qt drops the event.
class AcquiringCall : public QtPrivate::QSlotObjectBase
{
public:
    explicit AcquiringCall(QtPrivate::QSlotObjectBase* call)
        : QSlotObjectBase(&impl)
        , wrapped(call)
    {
    }

private:
    static void impl(int which, QSlotObjectBase* self, QObject* receiver, void** args, bool* ret)
    {
        auto* me = static_cast<AcquiringCall*>(self);
        switch (which) {
        case Destroy:
            __tsan_acquire(&queuedCalls);
            me->wrapped->destroyIfLastRef();
            delete me;
            break;
        case Call:
            __tsan_acquire(&queuedCalls);
            me->wrapped->call(receiver, args);
            __tsan_release(&blockingReturns);
            break;
        case Compare:
            *ret = me->wrapped->compare(args);
            break;
        }
    }

    QtPrivate::QSlotObjectBase* wrapped;
};

} // namespace

bool QMetaObject::invokeMethodImpl(
    QObject* object, QtPrivate::QSlotObjectBase* slot, Qt::ConnectionType type, void* ret)
{
    static const auto qt = qtDefinition<bool (*)(QObject*, QtPrivate::QSlotObjectBase*, Qt::ConnectionType, void*)>(
        "_ZN11QMetaObject16invokeMethodImplEP7QObjectPN9QtPrivate15QSlotObjectBaseEN2Qt14ConnectionTypeEPv");
    const bool queued = type == Qt::QueuedConnection || type == Qt::BlockingQueuedConnection
        || (type == Qt::AutoConnection && object && object->thread() != QThread::currentThread());
    if (queued)
        slot = new AcquiringCall(slot);
    __tsan_release(&queuedCalls);
    const bool invoked = qt(object, slot, type, ret);
    if (type == Qt::BlockingQueuedConnection)
        __tsan_acquire(&blockingReturns);
    return invoked;
}

// The event handlers our classes inherit; a queued call arrives as a MetaCall event.
#define TSAN_QT_EVENT(Class, symbol)                                                                                   \
    bool Class::event(QEvent* event)                                                                                   \
    {                                                                                                                  \
        static const auto qt = qtDefinition<bool (*)(Class*, QEvent*)>(symbol);                                        \
        if (event->type() != QEvent::MetaCall)                                                                         \
            return qt(this, event);                                                                                    \
        __tsan_acquire(&queuedCalls);                                                                                  \
        const bool handled = qt(this, event);                                                                          \
        __tsan_release(&blockingReturns);                                                                              \
        return handled;                                                                                                \
    }

TSAN_QT_EVENT(QObject, "_ZN7QObject5eventEP6QEvent")
TSAN_QT_EVENT(QThread, "_ZN7QThread5eventEP6QEvent")
TSAN_QT_EVENT(QWidget, "_ZN7QWidget5eventEP6QEvent")
TSAN_QT_EVENT(QMainWindow, "_ZN11QMainWindow5eventEP6QEvent")
TSAN_QT_EVENT(QApplication, "_ZN12QApplication5eventEP6QEvent")

namespace
{

// A queued call to a plain QObject (a context object made as `QObject`, not as a class of ours)
// is handled by Qt's own event handler, which the definitions above do not replace. Every event
// Qt delivers passes its notify callbacks first: a MetaCall event acquires there as well.
bool acquireMetaCall(void** data)
{
    if (static_cast<QEvent*>(data[1])->type() == QEvent::MetaCall)
        __tsan_acquire(&queuedCalls);
    return false; // the event goes on to its receiver
}

const bool metaCallsSeen = QInternal::registerCallback(QInternal::EventNotifyCallback, acquireMetaCall);

} // namespace
