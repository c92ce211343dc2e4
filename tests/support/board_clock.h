// Runs the simulated board's clock at another speed for as long as the
// object lives: every model's time and every wait of the code under test
// go faster (or slower) together.
#pragma once

#include "sim/sim_clock.h"

#include <cstdint>

class BoardClockSpeed {
public:
    explicit BoardClockSpeed(double speed) : saved_(sim::SimClock::instance().speed())
    {
        sim::SimClock::instance().setSpeed(speed);
    }
    ~BoardClockSpeed() { sim::SimClock::instance().setSpeed(saved_); }
    BoardClockSpeed(const BoardClockSpeed&) = delete;
    BoardClockSpeed& operator=(const BoardClockSpeed&) = delete;

private:
    double saved_;
};

// A margin for an upper bound on board time: ms of real (host) time at the
// board's present speed. On a busy machine the code under test may be held
// off the processor for some milliseconds, which a sped-up board clock
// turns into many board milliseconds; a bound on board time allows for it.
inline uint64_t boardUsOfRealMs(double ms)
{
    return static_cast<uint64_t>(ms * 1000.0 * sim::SimClock::instance().speed());
}
