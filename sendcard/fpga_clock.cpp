// Clock, on/off schedule and power control of the FPGA thread.
#include "sendcard/fpga_manage.h"

// The clock record, the schedule and the power sequence are not kept yet:
// these steps of the pass and of the command page change nothing.
void fpga_manage::Record_Time_Deal() {}

void fpga_manage::OnOff_time() {}

void fpga_manage::Checktime() {}

void fpga_manage::record_onoff_time(unsigned char) {}

void fpga_manage::Power_ctrl_init() {}
