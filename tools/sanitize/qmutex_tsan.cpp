// ThreadSanitizer sees pthread and std mutexes, but QMutex locks and
// unlocks inside the Qt library, which is not instrumented: every QMutex
// would look like no lock at all. In the thread-sanitizer build these
// definitions stand in front of the library's (the program's own symbols
// come first), call the library's, and tell ThreadSanitizer what happened:
// an unlock releases, a lock acquires.
//
// Calls that worker threads hand to the GUI thread through Qt's event
// queue are told to it the same way: the sender releases as it posts (in
// core/gui_handoff.h, and here as QMetaObject::invokeMethod hands its call
// object to the library), and an application-wide event filter acquires as
// each queued call reaches the GUI thread, before its arguments are read.
#include "core/gui_handoff.h"

#include <QCoreApplication>
#include <QEvent>
#include <QMutex>

#include <dlfcn.h>

extern "C" {
void __tsan_acquire(void* addr);
void __tsan_release(void* addr);
}

namespace {

template <typename F>
F real(const char* name)
{
    void* f = dlsym(RTLD_NEXT, name);
    return reinterpret_cast<F>(f);
}

} // namespace

void QMutex::lock() QT_MUTEX_LOCK_NOEXCEPT
{
    static const auto f = real<void (*)(QMutex*)>("_ZN6QMutex4lockEv");
    f(this);
    __tsan_acquire(this);
}

bool QMutex::tryLock(int timeout) QT_MUTEX_LOCK_NOEXCEPT
{
    static const auto f = real<bool (*)(QMutex*, int)>("_ZN6QMutex7tryLockEi");
    const bool locked = f(this, timeout);
    if (locked)
        __tsan_acquire(this);
    return locked;
}

void QMutex::unlock() noexcept
{
    static const auto f = real<void (*)(QMutex*)>("_ZN6QMutex6unlockEv");
    __tsan_release(this);
    f(this);
}

bool QMetaObject::invokeMethodImpl(QObject* object, QtPrivate::QSlotObjectBase* slot, Qt::ConnectionType type,
                                   void* ret)
{
    static const auto f = real<bool (*)(QObject*, QtPrivate::QSlotObjectBase*, Qt::ConnectionType, void*)>(
        "_ZN11QMetaObject16invokeMethodImplEP7QObjectPN9QtPrivate15QSlotObjectBaseEN2Qt14ConnectionTypeEPv");
    // The call object is shared with the event that carries it and freed by
    // whichever lets go of it last; Qt counts the holders inside the
    // library. Holding it here until the hand-off is done lets the free be
    // ordered after the call when it happens in this thread.
    gui_handoff::posted();
    slot->ref();
    const bool done = f(object, slot, type, ret);
    gui_handoff::received();
    slot->destroyIfLastRef();
    return done;
}

namespace {

class HandoffFilter : public QObject {
public:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::MetaCall)
            gui_handoff::received();
        return QObject::eventFilter(watched, event);
    }
};

void installHandoffFilter()
{
    static HandoffFilter filter;
    QCoreApplication::instance()->installEventFilter(&filter);
}

} // namespace

Q_COREAPP_STARTUP_FUNCTION(installHandoffFilter)
