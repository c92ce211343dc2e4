// zdrsim: sends one line to the simulated board's control channel and
// prints the answer.
//
//   zdrsim [--root BOARD_ROOT] COMMAND [ARGS...]
//
// The board root is build/board unless --root or ZDR_BOARD_ROOT names
// another; "zdrsim help" lists the commands. Exit status 0 when the answer
// ends with "ok", 1 when it ends with an error, 2 when the channel cannot be
// reached.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

int main(int argc, char** argv)
{
    const char* env = std::getenv("ZDR_BOARD_ROOT");
    std::string root = env && *env ? env : "build/board";
    int i = 1;
    if (i + 1 < argc && std::strcmp(argv[i], "--root") == 0) {
        root = argv[i + 1];
        i += 2;
    }
    if (i >= argc || std::strcmp(argv[i], "--help") == 0) {
        std::fputs("usage: zdrsim [--root BOARD_ROOT] COMMAND [ARGS...]   (zdrsim help lists the commands)\n",
                   i >= argc ? stderr : stdout);
        return i >= argc ? 2 : 0;
    }
    std::string line;
    for (; i < argc; ++i)
        line += std::string(line.empty() ? "" : " ") + argv[i];
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
