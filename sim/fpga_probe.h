// What the simulated board lets a test see of the running program's FPGA
// manager, and the LED screen change a page would request. Nothing on the
// device.
#pragma once

namespace sim {

// Registers "fpga-status", "fpga-image" and "fpga-led-request".
void registerFpgaProbes();

} // namespace sim
