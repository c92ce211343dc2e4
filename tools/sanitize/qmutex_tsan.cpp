// ThreadSanitizer sees pthread and std mutexes, but QMutex locks and
// unlocks inside the Qt library, which is not instrumented: every QMutex
// would look like no lock at all. In the thread-sanitizer build these
// definitions stand in front of the library's (the program's own symbols
// come first), call the library's, and tell ThreadSanitizer what happened:
// an unlock releases, a lock acquires.
//
// Signals that worker threads send to the GUI thread through Qt's event
// queue are told to it the same way: the sender releases before it emits
// (core/gui_handoff.h), and an application-wide event filter acquires as
// each queued call reaches the GUI thread, before its arguments are read.
// (Other calls to the GUI thread go through core/gui_post.h.)
//
// The same definitions check the lock order against the parameter store's
// short lock (core/lock_check.h); in the builds without ThreadSanitizer
// that check is done by qmutex_lockcheck.cpp.
#include "core/gui_handoff.h"
#include "core/lock_check.h"
#include "tools/sanitize/real_symbol.h"

#include <QCoreApplication>
#include <QEvent>
#include <QMutex>

extern "C" {
void __tsan_acquire(void* addr);
void __tsan_release(void* addr);
}

void QMutex::lock() QT_MUTEX_LOCK_NOEXCEPT
{
    lock_check::short_lock_is_leaf("a QMutex");
    static const auto f = real_symbol<void (*)(QMutex*)>("_ZN6QMutex4lockEv");
    f(this);
    __tsan_acquire(this);
}

bool QMutex::tryLock(int timeout) QT_MUTEX_LOCK_NOEXCEPT
{
    lock_check::short_lock_is_leaf("a QMutex");
    static const auto f = real_symbol<bool (*)(QMutex*, int)>("_ZN6QMutex7tryLockEi");
    const bool locked = f(this, timeout);
    if (locked)
        __tsan_acquire(this);
    return locked;
}

void QMutex::unlock() noexcept
{
    static const auto f = real_symbol<void (*)(QMutex*)>("_ZN6QMutex6unlockEv");
    __tsan_release(this);
    f(this);
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
