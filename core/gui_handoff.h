// Calls a worker thread hands to the GUI thread through Qt's event queue
// (a queued signal, invokeMethod). The queue is locked inside the Qt
// library, where ThreadSanitizer does not look: the hand-off is told to it
// here, so that what the sender wrote before posting counts as seen by the
// call. Nothing in other builds.
#pragma once

#if defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define ZDR_TSAN_BUILD 1
#endif
#endif
#if defined(__SANITIZE_THREAD__)
#define ZDR_TSAN_BUILD 1
#endif

#ifdef ZDR_TSAN_BUILD
extern "C" void __tsan_acquire(void* addr);
extern "C" void __tsan_release(void* addr);
#endif

namespace gui_handoff {

inline char* token()
{
    static char t;
    return &t;
}

// The thread that posts, just before it posts (and the GUI thread as a
// posted call ends, so that its poster may free what the call used).
inline void posted()
{
#ifdef ZDR_TSAN_BUILD
    __tsan_release(token());
#endif
}

// The thread that runs the posted call, as it begins (and the poster once
// the hand-off has returned).
inline void received()
{
#ifdef ZDR_TSAN_BUILD
    __tsan_acquire(token());
#endif
}

} // namespace gui_handoff
