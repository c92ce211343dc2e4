// Screen brightness of the sending card.
#include "sendcard/fpga_manage.h"

// The brightness is not written to the FPGAs yet: nothing is sent, and the
// result says so.
int fpga_manage::Brightness_hand_dealwith(int)
{
    return 0;
}

void fpga_manage::record_bright_change() {}

void fpga_manage::Extension_function() {}
