// Control-channel commands of the chip manager on the simulated board.
#pragma once

class c331_manage;

// Registers "c331-state" (init state, gate, identity reads, flags); does
// nothing on the device.
void registerC331Probes(c331_manage* m);
