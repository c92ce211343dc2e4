// Sending-card FPGA manager: the two FPGAs, their flashes, the emulated
// sending-card registers and pages, and the FPGA thread.
#pragma once

#include <atomic>

class fpga_manage {
public:
    static fpga_manage* pInstance();
    static fpga_manage* p_fpga_manage;

private:
    fpga_manage();
};


// 1 while the LED screen is shown, 0 while it is blacked out.
extern std::atomic<unsigned char> ScreenState;
