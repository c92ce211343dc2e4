// The running-time record kept in the flash behind FPGA 0: when the box
// started and how long it has run, advanced by the FPGA thread.
#pragma once

class clock_record_run {
public:
    // Loads the record at start (before the FPGA thread runs).
    void clock_record_init();
    // One step of the record's upkeep, every pass of the FPGA thread.
    void clock_record_deal();
    // The system clock was set: start a new record group.
    void dealwith_record_timing();
};
