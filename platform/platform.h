// Selection of the platform back ends. The device build uses the board back
// ends (the real Linux device files); a PC build uses the simulated board.
#pragma once

#include "platform/board_root.h"
#include "platform/clock.h"
#include "platform/hotplug.h"
#include "platform/i2c.h"
#include "platform/mtd.h"
#include "platform/net.h"
#include "platform/physmem.h"
#include "platform/serial.h"
#include "platform/shell.h"
#include "platform/spi.h"
#include "platform/touch.h"

#include <functional>
#include <string>

namespace platform {

enum class Backend { Board, Sim };

// The back end of this build (board for the device build, sim otherwise).
Backend defaultBackend();
Backend backend();
// Switches every device kind to the given back end (tests and start-up).
void selectBackend(Backend b);

Shell& shell();
Spi& spi();
I2c& i2c();
PhysMem& physMem();
Mtd& mtd();
Serial& serial();
TouchInput& touch();
Hotplug& hotplug();
const Net& net();

// Start-up of the platform for the program: on the simulated board this
// lays out the board root and opens the control channel. Returns false when
// the board cannot be prepared.
bool startForProgram();
// Checks the settings the program takes from its environment, before
// anything starts: false with the reason when one is not taken.
bool checkEnvironment(std::string& error);

// Before the Qt application is made: on the simulated board Qt's caches
// and settings are kept inside the board root.
void prepareGui();
// The program is up (its windows and connections exist): the simulated
// board registers the probes through which tests see the program's state.
void programStarted();

// The event loop has ended and the program leaves: the simulated board
// stops its control channel (its clients answered, its socket removed).
void programEnding();

// How long main() waits for the hardware to settle before it starts.
unsigned settleDelayMs();

// The board root the simulated board takes when ZDR_BOARD_ROOT names none
// (for the program's usage text).
const char* simDefaultBoardRoot();

// Asked by the shell runner when "reboot" has been run. The program installs
// a handler that ends the event loop; by default nothing happens.
void setRebootHandler(std::function<void()> handler);
void requestReboot();

} // namespace platform
