#include "sendcard/pc_activity.h"

#include "core/global.h"
#include "core/utils.h"

std::atomic<unsigned char> pc_cmd_valid{0};
std::atomic<unsigned int> pc_cmd_time{0};

namespace {

// Requests in service (several transports serve at once).
std::atomic<int> g_open{0};

constexpr unsigned kQuietTicks = 80;

} // namespace

PcRequest::PcRequest()
{
    g_open.fetch_add(1);
    pc_cmd_time = G_timeTicks.load();
    pc_cmd_valid = 1;
}

PcRequest::~PcRequest()
{
    // Stamped before it counts out: once none is open, the stamp is the
    // last end.
    pc_cmd_time = G_timeTicks.load();
    pc_cmd_valid = 1;
    g_open.fetch_sub(1);
}

bool PcRequest::open()
{
    return g_open.load() > 0;
}

PcActivity pc_activity()
{
    // A request in service keeps the PC active whatever the flag says (a
    // clear that crossed its start is undone).
    if (PcRequest::open()) {
        pc_cmd_valid = 1;
        return PcActivity::Active;
    }
    if (pc_cmd_valid.load() == 0)
        return PcActivity::Quiet;
    if (Utils::getTimeSpace(pc_cmd_time.load()) <= kQuietTicks)
        return PcActivity::Active;
    pc_cmd_valid = 0;
    return PcActivity::RanOut;
}
