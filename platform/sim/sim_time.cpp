// The clock of the simulated board (sim/sim_clock.h).
#include "platform/backends.h"
#include "sim/sim_clock.h"

namespace platform {
namespace simboard {
namespace {

class BoardTimeClock : public Clock {
public:
    uint64_t nowUs() override { return sim::SimClock::instance().nowUs(); }
    void sleepUs(uint64_t us) override { sim::SimClock::instance().sleepUs(us); }
};

} // namespace

Clock& clock()
{
    static BoardTimeClock instance;
    return instance;
}

} // namespace simboard
} // namespace platform
