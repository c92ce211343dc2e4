// Ethernet port transport of the two FPGAs: frames to and from the
// receiving cards, and the PC's pass-through.
#include "sendcard/fpga_manage.h"

std::atomic<unsigned char> pc_cmd_valid{0};
std::atomic<unsigned int> pc_cmd_time{0};

// Card answers are not collected yet: the interrupt poll reads nothing.
void fpga_manage::reg_IRQ_Dealwith(unsigned char, unsigned char) {}
