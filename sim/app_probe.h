// What the simulated board lets a test see of the running program: the tick
// count and the window on top, through the control channel. Does nothing on
// the device.
#pragma once

namespace sim {

// Keeps Qt's caches and settings of a simulated run inside the board root.
void prepareGuiEnvironment();
// Registers the control commands "ticks", "page-focus", "top-window",
// "store-read", "store-set", "idle-times" and "widget-geometry", and delivers the simulated
// touch screen's presses to the widgets.
void registerAppProbes();

} // namespace sim
