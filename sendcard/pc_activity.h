// The PC's activity, which pauses the sending card's own traffic to the
// receiving cards (the idle card search with the sensor and brightness
// work of the idle pass, and the card jobs).
//
// The rule: the PC is active from when one of its requests is taken until
// 80 ticks after the last one ended, however long each is served (a
// pass-through waiting seconds for a card, a chip write behind a held SPI
// bus). The control link marks every request it serves with a PcRequest;
// the FPGA thread asks pc_activity(), which clears the flag once the PC has
// been quiet that long. pc_cmd_valid (1 while active) and pc_cmd_time (the
// tick the last request began or ended) are what others read.
#pragma once

#include <atomic>

extern std::atomic<unsigned char> pc_cmd_valid;
extern std::atomic<unsigned int> pc_cmd_time;

// A PC request in service for the scope.
class PcRequest {
public:
    PcRequest();
    ~PcRequest();
    PcRequest(const PcRequest&) = delete;
    PcRequest& operator=(const PcRequest&) = delete;
    // Whether a request is in service now.
    static bool open();
};

// The PC's activity as the FPGA thread sees it: quiet, active, or quiet
// from this call on (the flag ran out here and is cleared).
enum class PcActivity { Quiet, Active, RanOut };
PcActivity pc_activity();
