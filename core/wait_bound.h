// Waits for hardware: a bound in time on the board's monotonic clock, and
// the sleeps between polls on the same clock. A wait polls at its own
// interval until its condition holds or its bound has passed; a bound is
// never a count of reads, whose duration depends on the bus.
#pragma once

#include "platform/clock.h"

#include <cstdint>

// A thread serving a request may let another thread take over what it
// would do meanwhile (the control link's workers: the other one reads the
// PCs' requests while this one serves). That happens once the tick thread
// has seen the service under way at two of its 10 ms ticks (10 to 20 ms
// into it), whatever it waits on; blocks(), called before the
// waits that may last, makes it happen at once: it tells the thread's
// service once.
namespace service_wait {

using Hook = void (*)(void* context);

// While it lives, this thread's service is told through hook(context).
class Scope {
public:
    Scope(Hook hook, void* context);
    ~Scope();
    Scope(const Scope&) = delete;
    Scope& operator=(const Scope&) = delete;
};

// This thread is about to wait.
void blocks();

} // namespace service_wait

class WaitBound {
public:
    explicit WaitBound(uint64_t us) : end_(platform::clock().nowUs() + us) {}
    bool passed() const { return platform::clock().nowUs() >= end_; }

private:
    uint64_t end_;
};

// Polls done() every intervalUs (0: back to back) until it holds (true) or
// boundUs has passed (false). done() is asked once more after the bound,
// so that an answer that came during the last sleep counts.
template <typename Done>
bool waitUntil(uint64_t boundUs, uint64_t intervalUs, Done done)
{
    const WaitBound bound(boundUs);
    for (;;) {
        if (done())
            return true;
        service_wait::blocks();
        if (bound.passed())
            return done();
        if (intervalUs)
            platform::clock().sleepUs(intervalUs);
    }
}

inline void boardSleepUs(uint64_t us)
{
    service_wait::blocks();
    platform::clock().sleepUs(us);
}
