// The lock-check builds without ThreadSanitizer (the address build, or a
// plain build configured with ZDR_LOCK_CHECKS=ON): QMutex locks and
// unlocks inside the Qt library, so these definitions stand in front of the
// library's (the program's own symbols come first), check the lock against
// the parameter store's short lock (core/lock_check.h) and call the
// library's. QMutexLocker calls QMutex::lock(), so every Utils mutex is
// checked. The thread build does the same in qmutex_tsan.cpp.
#include "core/lock_check.h"
#include "tools/sanitize/real_symbol.h"

#include <QMutex>

void QMutex::lock() QT_MUTEX_LOCK_NOEXCEPT
{
    lock_check::short_lock_is_leaf("a QMutex");
    static const auto f = real_symbol<void (*)(QMutex*)>("_ZN6QMutex4lockEv");
    f(this);
}

bool QMutex::tryLock(int timeout) QT_MUTEX_LOCK_NOEXCEPT
{
    lock_check::short_lock_is_leaf("a QMutex");
    static const auto f = real_symbol<bool (*)(QMutex*, int)>("_ZN6QMutex7tryLockEi");
    return f(this, timeout);
}
