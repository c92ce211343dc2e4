// What the simulated board lets a test see of the running program's FPGA
// manager, and the LED screen change a page would request. Nothing on the
// device.
#pragma once

namespace sim {

// Registers "fpga-status", "fpga-image", "fpga-led-request" and "card-job".
void registerFpgaProbes();

} // namespace sim
