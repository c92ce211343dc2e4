// The device's monotonic clock.
#include "platform/backends.h"

#include <chrono>
#include <thread>

namespace platform {
namespace board {
namespace {

class BoardClock : public Clock {
public:
    uint64_t nowUs() override
    {
        return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::microseconds>(
                                         std::chrono::steady_clock::now().time_since_epoch())
                                         .count());
    }
    void sleepUs(uint64_t us) override { std::this_thread::sleep_for(std::chrono::microseconds(us)); }
};

} // namespace

Clock& clock()
{
    static BoardClock instance;
    return instance;
}

} // namespace board
} // namespace platform
