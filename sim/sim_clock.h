// The simulated board's own clock. It runs at the host's steady time times
// a speed (1 by default); the device models keep time by it (frames, flash
// busy times, late answers) and the program measures its waits and sleeps
// on it through the platform clock, so that a test may run the board
// faster (many frames) or slower (a tight look at timing) without a wait
// being bypassed.
#pragma once

#include <chrono>
#include <cstdint>
#include <mutex>

namespace sim {

class SimClock {
public:
    static SimClock& instance();

    uint64_t nowUs() const;
    // Sleeps us microseconds of board time.
    void sleepUs(uint64_t us) const;

    // Board microseconds per host microsecond, 0.01 to 1000.
    void setSpeed(double speed);
    double speed() const;

private:
    SimClock();
    mutable std::mutex mutex_;
    std::chrono::steady_clock::time_point hostBase_;
    uint64_t boardBase_ = 0;
    double speed_ = 1.0;
};

} // namespace sim
