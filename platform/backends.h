// The two sets of back ends behind platform.h. Each function returns a
// long-lived object of its back end.
#pragma once

#include "platform/platform.h"

namespace platform {
namespace board {
Shell& shell();
Spi& spi();
I2c& i2c();
PhysMem& physMem();
Mtd& mtd();
Serial& serial();
TouchInput& touch();
Hotplug& hotplug();
const Net& net();
Clock& clock();
} // namespace board

namespace simboard {
Shell& shell();
Spi& spi();
I2c& i2c();
PhysMem& physMem();
Mtd& mtd();
Serial& serial();
TouchInput& touch();
Hotplug& hotplug();
const Net& net();
Clock& clock();
// Lays out the board root named by ZDR_BOARD_ROOT (or the build's default)
// and opens the control channel.
bool startForProgram();
// The settings read from the environment; false with the reason when one
// is not taken.
bool checkEnvironment(std::string& error);
// ZDR_SIM_SETTLE_MS, 0 when not set.
unsigned settleDelayMs();
const char* defaultBoardRoot();
void prepareGui();
void programStarted();
void programEnding();
} // namespace simboard
} // namespace platform
