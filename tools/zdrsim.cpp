// zdrsim: sends one line to the simulated board's control channel and
// prints the answer.
//
//   zdrsim [--root BOARD_ROOT] COMMAND [ARGS...]
//
// The board root is the build's own board (<build>/board) unless --root or
// ZDR_BOARD_ROOT names another; "zdrsim help" lists the commands. Exit
// status 0 when the answer ends with "ok", 1 when it ends with an error, 2
// when the arguments are wrong or the channel cannot be reached.
#include "sim/control_client.h"
#include "sim/default_board_root.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

const char* const kUsage =
    "usage: zdrsim [--root BOARD_ROOT] COMMAND [ARGS...]\n"
    "Sends one line to the simulated board's control channel\n"
    "(BOARD_ROOT/sim/control.sock) and prints the answer; \"zdrsim help\" lists\n"
    "the commands. The board root is ZDR_BOARD_ROOT, or else " ZDR_DEFAULT_BOARD_ROOT ".\n"
    "Exit status: 0 answer ok, 1 answer error, 2 wrong arguments or no channel.\n";

[[noreturn]] void refuse(const std::string& why)
{
    std::fprintf(stderr, "zdrsim: %s\nzdrsim: \"zdrsim --help\" prints the usage\n", why.c_str());
    std::exit(2);
}

} // namespace

int main(int argc, char** argv)
{
    std::string root = sim::boardRootSetting();
    int i = 1;
    // Options come before the command; the command's own arguments are the
    // board's to judge.
    for (; i < argc && argv[i][0] == '-'; ++i) {
        const std::string o = argv[i];
        if (o == "--help" || o == "-h") {
            std::fputs(kUsage, stdout);
            return 0;
        }
        if (o == "--root") {
            if (i + 1 >= argc || !*argv[i + 1] || argv[i + 1][0] == '-')
                refuse("--root needs a board root folder");
            root = argv[++i];
            continue;
        }
        refuse("unknown option " + o);
    }
    if (i >= argc)
        refuse("no command");
    std::string line;
    for (; i < argc; ++i) {
        // The channel takes one line: an argument may not end it early.
        if (std::strpbrk(argv[i], "\r\n"))
            refuse("an argument holds a line break");
        line += std::string(line.empty() ? "" : " ") + argv[i];
    }
    std::string answer, why;
    if (!sim::askControl(root, line, answer, why)) {
        std::fprintf(stderr, "zdrsim: %s\n", why.c_str());
        return 2;
    }
    std::fputs(answer.c_str(), stdout);
    return sim::answerOk(answer) ? 0 : 1;
}
