#include "sendcard/fpga_manage.h"

#include "core/logMsg.h"
#include "platform/physmem.h"

fpga_manage* fpga_manage::p_fpga_manage = nullptr;

fpga_manage::fpga_manage() = default;
fpga_manage::~fpga_manage() = default;

fpga_manage* fpga_manage::pInstance()
{
    if (!p_fpga_manage)
        p_fpga_manage = new fpga_manage();
    return p_fpga_manage;
}

void fpga_manage::release_select_lines()
{
    if (!gpio_window) {
        static std::atomic<bool> said{false};
        if (!said.exchange(true))
            writeLogMsg(WARNING, "FPGA select lines not mapped: chip traffic goes out without driving them");
        return;
    }
    gpio_window->write16(kFpga0SelectPad, kPadHigh);
    gpio_window->write16(kFpga1SelectPad, kPadHigh);
}

std::atomic<unsigned char> ScreenState{1};
std::atomic<unsigned char> g_set_led_para{0};
std::atomic<unsigned char> g_set_led_setup{0};
