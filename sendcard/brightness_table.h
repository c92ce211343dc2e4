// The half-hour table of the brightness: a level for each half hour of the
// day and the slot the brightness task applied last.
//
// The rule: in the table mode the slot of the clock's time (slot 0 =
// 00:00-00:29, slot 47 = 23:30 on; a time past the day keeps to slot 47)
// sets the level; the task shows a slot's level when the slot begins,
// sends it once more on its next look within the slot, and then leaves it
// until the next slot. A record the PC
// stores or the start reads brings a new table and forgets the slot, so the
// task applies its slot anew. The FPGA manager owns this state (its
// `table()` shows it); nothing else writes it.
#pragma once

#include <cstring>

struct BrightnessTable {
    BrightnessTable() { std::memset(HalfHourValue, 15, sizeof(HalfHourValue)); }

    // The levels of the 48 slots (4-bit or 8-bit as the mode says).
    unsigned char HalfHourValue[48];
    // The slot applied last (255: none since the table came).
    unsigned char last_slot = 255;
};
