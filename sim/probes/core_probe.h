// Control-channel commands of the core services on the simulated board.
#pragma once

namespace sim {

// Registers "usb-events" (hot-plug source open, codes emitted and codes
// delivered to the GUI thread) and "idle-names" (the input names on the
// idle status screen); does nothing on the device.
void registerCoreProbes();

} // namespace sim
