// Start-up of the simulated board for the program.
#include "platform/backends.h"
#include "sim/board.h"
#include "sim/default_board_root.h"
#include "sim/control_channel.h"
#include "sim/probes/app_probe.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/un.h>

namespace platform {
namespace simboard {
namespace {

// The longest pause before start-up a run may ask for: ten minutes.
constexpr unsigned long long kMaxSettleMs = 600000;

// The value of a setting; null when it is not set or empty.
const char* setting(const char* name)
{
    const char* v = std::getenv(name);
    return v && *v ? v : nullptr;
}

// ZDR_SIM_SETTLE_MS: false when it is not a whole number of milliseconds
// from 0 to kMaxSettleMs.
bool readSettleMs(unsigned& ms)
{
    ms = 0;
    const char* v = setting("ZDR_SIM_SETTLE_MS");
    unsigned long long n = 0;
    if (v && !sim::parseUnsigned(v, kMaxSettleMs, n, 10))
        return false;
    ms = static_cast<unsigned>(n);
    return true;
}

} // namespace

bool checkEnvironment(std::string& error)
{
    unsigned ms = 0;
    if (!readSettleMs(ms)) {
        error = std::string("ZDR_SIM_SETTLE_MS must be a whole number of milliseconds from 0 to ") +
                std::to_string(kMaxSettleMs) + ", not '" + setting("ZDR_SIM_SETTLE_MS") + "'";
        return false;
    }
    const char* ephemeral = setting("ZDR_SIM_EPHEMERAL_PORTS");
    if (ephemeral && std::strcmp(ephemeral, "0") != 0 && std::strcmp(ephemeral, "1") != 0) {
        error = std::string("ZDR_SIM_EPHEMERAL_PORTS must be 0 or 1, not '") + ephemeral + "'";
        return false;
    }
    return true;
}

// The simulated hardware needs no settling; a run may still ask for the
// device's pause to watch the start-up order.
unsigned settleDelayMs()
{
    unsigned ms = 0;
    return readSettleMs(ms) ? ms : 0;
}

const char* defaultBoardRoot()
{
    return ZDR_DEFAULT_BOARD_ROOT;
}

bool startForProgram()
{
    const std::string root = sim::boardRootSetting();
    sim::Board& board = sim::Board::instance();
    board.reset(root);
    // One program per board root: a second would take over the control
    // socket and write the same flash and parameter files.
    std::string claim;
    if (!board.claimRoot(claim)) {
        std::fprintf(stderr, "zdrK47N: %s\n", claim.c_str());
        return false;
    }
    if (!board.prepareFileSystem()) {
        std::fprintf(stderr, "Simulated board: cannot lay out the board root '%s'\n", root.c_str());
        return false;
    }
    const std::string socketPath = board.simFile("control.sock");
    std::string control;
    if (socketPath.size() >= sizeof(sockaddr_un::sun_path)) {
        std::fprintf(stderr,
                     "Simulated board: warning: the control socket path '%s' is longer than a Unix socket "
                     "allows (%zu bytes); running without the control channel. Choose a shorter "
                     "ZDR_BOARD_ROOT to have it.\n",
                     socketPath.c_str(), sizeof(sockaddr_un::sun_path) - 1);
        control = "none (path too long)";
    } else if (!board.control().start(socketPath)) {
        std::fprintf(stderr, "Simulated board: warning: cannot open the control socket '%s'; running without it\n",
                     socketPath.c_str());
        control = "none";
    } else {
        control = socketPath;
    }
    // The program's own commands come once it is up (sim::registerAppProbes).
    board.control().setProgramStarting(true);
    // Control commands to run before the program starts (faults that must
    // hold from power-on), separated by ';'.
    if (const char* start = std::getenv("ZDR_SIM_START_COMMANDS")) {
        std::string all = start;
        size_t pos = 0;
        while (pos <= all.size()) {
            const size_t end = std::min(all.find(';', pos), all.size());
            const std::string line = all.substr(pos, end - pos);
            if (line.find_first_not_of(' ') != std::string::npos) {
                const std::string answer = board.control().execute(line);
                if (answer.rfind("error", 0) == 0 || answer.find("\nerror") != std::string::npos)
                    std::fprintf(stderr, "Simulated board: start command '%s' failed: %s", line.c_str(),
                                 answer.c_str());
            }
            pos = end + 1;
        }
    }
    std::printf("Simulated board: root %s, control socket %s\n", board.root().c_str(), control.c_str());
    std::fflush(stdout);
    return true;
}

void prepareGui()
{
    sim::prepareGuiEnvironment();
}

void programStarted()
{
    sim::registerAppProbes();
}

void programEnding()
{
    sim::stopControlForExit();
}

} // namespace simboard
} // namespace platform
