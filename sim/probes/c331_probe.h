// Control-channel commands of the chip manager on the simulated board.
#pragma once

namespace sim {

// Registers "c331-state" (init state, gate, identity reads, flags),
// "c331-fonts" and "c331-ports"; does nothing on the device.
void registerC331Probes();

} // namespace sim
