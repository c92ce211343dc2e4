// Runs the simulated board's clock at another speed for as long as the
// object lives: every model's time and every wait of the code under test
// go faster (or slower) together.
#pragma once

#include "sim/sim_clock.h"

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
