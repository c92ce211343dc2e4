#include "sim/control_client.h"

#include <cstring>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace sim {

namespace {

std::string lastLine(const std::string& answer)
{
    const size_t end = answer.rfind('\n', answer.size() >= 2 ? answer.size() - 2 : 0);
    return answer.substr(end == std::string::npos ? 0 : end + 1);
}

} // namespace

bool askControl(const std::string& root, const std::string& line, std::string& answer, std::string& why)
{
    answer.clear();
    const std::string path = root + "/sim/control.sock";
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    if (path.size() >= sizeof(addr.sun_path)) {
        why = "cannot use " + path + " (longer than a Unix socket path)";
        return false;
    }
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        why = "cannot use " + path;
        return false;
    }
    std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) != 0) {
        ::close(fd);
        why = "no control channel at " + path + " (is the program running?)";
        return false;
    }
    const std::string request = line + "\n";
    if (::write(fd, request.data(), request.size()) != static_cast<ssize_t>(request.size())) {
        ::close(fd);
        why = "cannot send to " + path;
        return false;
    }
    // The answer ends with a line "ok" or "error ...".
    char buf[4096];
    for (;;) {
        const ssize_t n = ::read(fd, buf, sizeof(buf));
        if (n <= 0)
            break;
        answer.append(buf, static_cast<size_t>(n));
        const std::string last = lastLine(answer);
        if (last == "ok\n" || last.rfind("error", 0) == 0)
            break;
    }
    ::close(fd);
    return true;
}

bool answerOk(const std::string& answer)
{
    return lastLine(answer) == "ok\n";
}

} // namespace sim
