// The USB upgrade, run by the FPGA thread in place of its pass.
#include "sendcard/fpga_manage.h"

#include "core/logMsg.h"

std::atomic<unsigned int> g_usb_grade{0};

// The upgrade is not available yet: the request stays posted, reported once.
void fpga_manage::usb_upgrade_manage_deal(void*)
{
    static std::atomic<bool> said{false};
    if (!said.exchange(true))
        writeLogMsg(WARNING, "USB upgrade is not available");
}
