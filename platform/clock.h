// The board's monotonic clock: what every wait for hardware measures its
// bound on, and sleeps on. On the device it is the kernel's monotonic
// clock; on the simulated board the board's own clock, which the device
// models keep time by too (a test may run it faster or slower than real
// time).
#pragma once

#include <cstdint>

namespace platform {

class Clock {
public:
    virtual ~Clock() = default;
    // Microseconds since an arbitrary start; never goes back.
    virtual uint64_t nowUs() = 0;
    // Sleeps for us microseconds of this clock.
    virtual void sleepUs(uint64_t us) = 0;
};

Clock& clock();

} // namespace platform
