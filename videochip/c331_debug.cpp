// Diagnostics of the chip for engineers at the console: parameter and
// register dumps and register test sequences, started by the PC.
#include "videochip/c331_manage.h"

// None of the diagnostics is part of this build yet; a request is consumed
// and nothing is run.
void c331_manage::zdrDbg_c331_param(int section) { (void)section; }
void c331_manage::zdrDbg_c331_print_regGrp(int group) { (void)group; }
void c331_manage::input_slidebar(int fd) { (void)fd; }
void c331_manage::output_slidebar(int fd) { (void)fd; }
void c331_manage::disable_slidebar(int fd) { (void)fd; }
void c331_manage::vbyone_rx_ch1_seq(int fd) { (void)fd; }
void c331_manage::vbyone_rx_ch2_seq(int fd) { (void)fd; }
void c331_manage::read_c331_b174bug(int fd) { (void)fd; }
void c331_manage::write_read_c331_b80_iacthstch5(int fd) { (void)fd; }
void c331_manage::zdrDbg_c331_param() {}
void c331_manage::c331_print() {}
void c331_manage::c331_outputTimmingCtrlReg(char ctl1, char ctl2) { (void)ctl1; (void)ctl2; }
void c331_manage::c331_calc_PixelCLK() {}
void c331_manage::c331_debugEnv() {}
