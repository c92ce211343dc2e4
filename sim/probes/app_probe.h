// What the simulated board lets a test see of the running program, through
// the control channel. The platform's sim back end calls these; nothing on
// the device.
#pragma once

namespace sim {

// Keeps Qt's caches and settings of a simulated run inside the board root.
void prepareGuiEnvironment();
// Registers the control commands "ticks", "page-focus", "top-window",
// "store-read", "store-set", "idle-times" and "widget-geometry" and those
// of the chip, FPGA and core probes, and delivers the simulated touch
// screen's presses to the widgets. Called once the program is up.
void registerAppProbes();
// The program leaves (its event loop has ended): stops the control channel
// (every client thread joined, the socket removed). The probes of waiting
// clients run in the GUI thread, which takes them until the channel has
// stopped. Called in the GUI thread.
void stopControlForExit();

} // namespace sim
