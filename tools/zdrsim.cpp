// zdrsim: sends one line to the simulated board's control channel and
// prints the answer.
//
//   zdrsim [--root BOARD_ROOT] COMMAND [ARGS...]
//
// The board root is the build's own board (<build>/board) unless --root or
// ZDR_BOARD_ROOT names another; "zdrsim help" lists the commands. Exit
// status 0 when the answer ends with "ok", 1 when it ends with an error, 2
// when the arguments are wrong or the channel cannot be reached.
#include "sim/default_board_root.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

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
    line += "\n";

    const std::string path = root + "/sim/control.sock";
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    if (fd < 0 || path.size() >= sizeof(addr.sun_path)) {
        std::fprintf(stderr, "zdrsim: cannot use %s\n", path.c_str());
        return 2;
    }
    std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) != 0) {
        std::fprintf(stderr, "zdrsim: no control channel at %s (is the program running?)\n", path.c_str());
        return 2;
    }
    if (::write(fd, line.data(), line.size()) != static_cast<ssize_t>(line.size())) {
        std::fprintf(stderr, "zdrsim: cannot send\n");
        return 2;
    }
    // The answer ends with a line "ok" or "error ...".
    std::string reply;
    char buf[4096];
    for (;;) {
        const ssize_t n = ::read(fd, buf, sizeof(buf));
        if (n <= 0)
            break;
        reply.append(buf, static_cast<size_t>(n));
        const size_t end = reply.rfind('\n', reply.size() >= 2 ? reply.size() - 2 : 0);
        const std::string last = reply.substr(end == std::string::npos ? 0 : end + 1);
        if (last == "ok\n" || last.rfind("error", 0) == 0)
            break;
    }
    ::close(fd);
    std::fputs(reply.c_str(), stdout);
    const size_t end = reply.rfind('\n', reply.size() >= 2 ? reply.size() - 2 : 0);
    const std::string last = reply.substr(end == std::string::npos ? 0 : end + 1);
    return last == "ok\n" ? 0 : 1;
}
