#include "sendcard/clock_record_run.h"

// The running-time record is not kept yet: nothing is read or written.
void clock_record_run::clock_record_init() {}

void clock_record_run::clock_record_deal() {}

void clock_record_run::dealwith_record_timing() {}
