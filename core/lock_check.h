// Lock checks, compiled in when ZDR_LOCK_CHECKS is set (the sanitizer
// builds set it): the parameter store's short lock (ParaBytesLock) is a
// leaf, so every lock the program takes through its wrappers (the Utils
// mutexes and every other QMutex, the c331 manage mutex) is first checked
// against it: taken while this thread holds the short lock, the program
// names the lock on stderr and aborts. Off, the check is an empty inline
// function.
#pragma once

namespace lock_check {

#if defined(ZDR_LOCK_CHECKS) && ZDR_LOCK_CHECKS
constexpr bool kOn = true;
void short_lock_is_leaf(const char* what);
#else
constexpr bool kOn = false;
inline void short_lock_is_leaf(const char*) {}
#endif

} // namespace lock_check
