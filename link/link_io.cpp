#include "link/link_io.h"

#include "core/wait_bound.h"

#include "core/logMsg.h"
#include "platform/platform.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

bool link_write_all(int fd, const unsigned char* data, size_t length)
{
    // The whole reply in bounded time: a socket's send time-out restarts
    // whenever a little data moves, so a PC that reads a few bytes now and
    // then would otherwise hold its transport's thread for as long as it
    // likes.
    return link_write_all(fd, data, length,
                          std::chrono::steady_clock::now() + std::chrono::milliseconds(kLinkWriteBoundMs));
}

bool link_write_all(int fd, const unsigned char* data, size_t length, std::chrono::steady_clock::time_point end)
{
    bool socket = true;
    while (length > 0) {
        if (std::chrono::steady_clock::now() >= end)
            return false;
        // A socket is never waited on inside send(): its own send time-out
        // would come on top of the bound. The wait is the poll below.
        ssize_t n = socket ? ::send(fd, data, length, MSG_NOSIGNAL | MSG_DONTWAIT) : ::write(fd, data, length);
        if (n < 0 && errno == ENOTSOCK && socket) {
            socket = false;
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            pollfd p{fd, POLLOUT, 0};
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
            const int waitMs = static_cast<int>(std::max<long long>(1, std::min<long long>(1000, left.count())));
            // A peer that takes nothing for a while is waited for up to the
            // bound, checked at the top.
            service_wait::blocks();
            if (::poll(&p, 1, waitMs) < 0 && errno != EINTR)
                return false;
            continue;
        }
        if (n <= 0)
            return false;
        data += n;
        length -= static_cast<size_t>(n);
    }
    return true;
}

int link_open_server(int type, unsigned short devicePort, int backlog, unsigned short& boundPort)
{
    const platform::Net& net = platform::net();
    const bool stream = type == SOCK_STREAM;
    const int fd = ::socket(AF_INET, type | SOCK_CLOEXEC | (stream ? SOCK_NONBLOCK : 0), 0);
    if (fd < 0) {
        const int error = errno;
        writeLogMsg(ERROR, std::string(stream ? "TCP" : "UDP") + " port " + std::to_string(devicePort) +
                               " cannot be opened: " + std::strerror(error));
        errno = error;
        return -1;
    }
    const int one = 1;
    // A TCP port is taken again at once after a restart (the last run's
    // connections may linger); a UDP port is not shared with a second
    // program, which would otherwise get part of the PCs' datagrams.
    if (stream)
        ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof(one));
    if (!stream && net.broadcastAllowed())
        ::setsockopt(fd, SOL_SOCKET, SO_BROADCAST, &one, sizeof(one));
    sockaddr_in addr;
    std::memset(&addr, 0, sizeof(addr));
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = net.bindAddress();
    addr.sin_port = htons(net.listenPort(devicePort));
    socklen_t len = sizeof(addr);
    if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) != 0 ||
        (stream && ::listen(fd, backlog) != 0) ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
        const int error = errno;
        writeLogMsg(ERROR, std::string(stream ? "TCP" : "UDP") + " port " + std::to_string(devicePort) +
                               " cannot be opened: " + std::strerror(error));
        ::close(fd);
        errno = error;
        return -1;
    }
    boundPort = ntohs(addr.sin_port);
    return fd;
}
