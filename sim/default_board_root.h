// The board root of the simulated board when ZDR_BOARD_ROOT names none: the
// build's own board, <build>/board (the folder scripts/run-sim.sh uses).
// The build passes it in as ZDR_DEFAULT_BOARD_ROOT, from the one CMake
// setting of that name, to the program and to zdrsim alike.
#pragma once

#include <cstdlib>
#include <string>

#ifndef ZDR_DEFAULT_BOARD_ROOT
#error "ZDR_DEFAULT_BOARD_ROOT is set by the build (CMakeLists.txt)"
#endif

namespace sim {

// The board root in use: ZDR_BOARD_ROOT when it is set and not empty,
// otherwise ZDR_DEFAULT_BOARD_ROOT.
inline std::string boardRootSetting()
{
    const char* env = std::getenv("ZDR_BOARD_ROOT");
    return env && *env ? env : ZDR_DEFAULT_BOARD_ROOT;
}

} // namespace sim
