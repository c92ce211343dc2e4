#include "sim/sim_clock.h"

#include <algorithm>
#include <thread>

namespace sim {

SimClock& SimClock::instance()
{
    static SimClock clock;
    return clock;
}

SimClock::SimClock() : hostBase_(std::chrono::steady_clock::now()) {}

uint64_t SimClock::nowUs() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    const double host = std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - hostBase_).count();
    return boardBase_ + static_cast<uint64_t>(host * speed_);
}

void SimClock::sleepUs(uint64_t us) const
{
    double speed;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        speed = speed_;
    }
    std::this_thread::sleep_for(std::chrono::duration<double, std::micro>(static_cast<double>(us) / speed));
}

void SimClock::setSpeed(double speed)
{
    speed = std::min(1000.0, std::max(0.01, speed));
    std::lock_guard<std::mutex> lock(mutex_);
    const auto host = std::chrono::steady_clock::now();
    boardBase_ += static_cast<uint64_t>(std::chrono::duration<double, std::micro>(host - hostBase_).count() * speed_);
    hostBase_ = host;
    speed_ = speed;
}

double SimClock::speed() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return speed_;
}

} // namespace sim
