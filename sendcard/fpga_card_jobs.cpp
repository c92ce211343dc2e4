// The mapping wizard's card jobs: positions (job 1), save (job 3) and the
// mapping switch (job 4).
#include "sendcard/fpga_manage.h"

#include "core/logMsg.h"

#include <atomic>
#include <string>

namespace {

// A job this build cannot run stays posted (nothing pretends it ran); it is
// reported once.
void jobUnavailable(unsigned char code)
{
    static std::atomic<unsigned int> said{0};
    const unsigned int bit = 1u << (code & 31);
    if (!(said.fetch_or(bit) & bit))
        writeLogMsg(WARNING, "receiving-card job " + std::to_string(code) + " is not available");
}

} // namespace

void fpga_manage::SmartMapping_deal()
{
    jobUnavailable(1);
}

void fpga_manage::save_para_deal()
{
    jobUnavailable(3);
}

void fpga_manage::mapping_enable_deal()
{
    jobUnavailable(4);
}

void fpga_manage::get_rcvcard_x_y(unsigned int, unsigned short*, unsigned short*) {}

unsigned char fpga_manage::rcv_card_cmd_create(unsigned char*, unsigned short)
{
    return 0;
}

unsigned char fpga_manage::ram_reset_cmd_create(unsigned char*, unsigned char, unsigned short, unsigned short)
{
    return 0;
}
