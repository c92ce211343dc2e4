// The FPGA manager's answers to the touch pages while this build has no
// FPGA thread: no port is linked, the FPGAs do not run, and a posted job
// stays posted until it is ended.
#include "sendcard/fpga_manage.h"

#include <atomic>

namespace {
std::atomic<unsigned char> g_ui_card_job{0};
}

unsigned int fpga_wlan_state()
{
    return 0;
}

bool fpga_both_running()
{
    return false;
}

unsigned char fpga_card_job()
{
    return g_ui_card_job.load();
}

bool fpga_post_card_job(unsigned char job, unsigned char)
{
    unsigned char idle = 0;
    return g_ui_card_job.compare_exchange_strong(idle, job);
}

void fpga_end_card_job()
{
    g_ui_card_job = 0;
}

unsigned short fpga_card_reply()
{
    return 65535;
}
