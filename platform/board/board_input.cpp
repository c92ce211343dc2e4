// Touch-screen events (evdev) and kernel hot-plug events (uevent netlink) on
// the device.
#include "platform/backends.h"

#include <cerrno>
#include <fcntl.h>
#include <linux/input.h>
#include <linux/netlink.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace platform {
namespace board {
namespace {

// Waits until fd is readable: 1 readable, 0 timed out, -1 error.
int waitReadable(int fd, int timeoutMs)
{
    pollfd p{fd, POLLIN, 0};
    int r;
    do {
        r = ::poll(&p, 1, timeoutMs);
    } while (r < 0 && errno == EINTR);
    if (r <= 0)
        return r;
    if (p.revents & (POLLERR | POLLNVAL))
        return -1;
    return (p.revents & (POLLIN | POLLHUP)) ? 1 : 0;
}

class BoardTouch : public TouchInput {
public:
    int open(const std::string& node) override
    {
        return ::open(node.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    }
    int close(int fd) override { return ::close(fd); }

    int readEvent(int fd, TouchEvent& event, int timeoutMs) override
    {
        const int w = waitReadable(fd, timeoutMs);
        if (w <= 0)
            return w;
        input_event ev{};
        ssize_t n;
        do {
            n = ::read(fd, &ev, sizeof(ev));
        } while (n < 0 && errno == EINTR);
        if (n < 0)
            return (errno == EAGAIN || errno == EWOULDBLOCK) ? 0 : -1;
        if (n != static_cast<ssize_t>(sizeof(ev)))
            return -1;   // end of file or a torn record
        event.sec = static_cast<uint32_t>(ev.input_event_sec);
        event.usec = static_cast<uint32_t>(ev.input_event_usec);
        event.type = ev.type;
        event.code = ev.code;
        event.value = ev.value;
        return 1;
    }
};

class BoardHotplug : public Hotplug {
public:
    int open() override
    {
        const int fd = ::socket(AF_NETLINK, SOCK_DGRAM | SOCK_CLOEXEC, NETLINK_KOBJECT_UEVENT);
        if (fd < 0)
            return -1;
        sockaddr_nl addr{};
        addr.nl_family = AF_NETLINK;
        addr.nl_pid = 0;   // the kernel picks a unique port id
        addr.nl_groups = 1;
        if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) < 0) {
            const int saved = errno;
            ::close(fd);
            errno = saved;
            return -1;
        }
        return fd;
    }
    int close(int fd) override { return ::close(fd); }

    ssize_t receive(int fd, char* buffer, size_t size, int timeoutMs) override
    {
        if (!buffer || size == 0) {
            errno = EINVAL;
            return -1;
        }
        const int w = waitReadable(fd, timeoutMs);
        if (w <= 0)
            return w;
        ssize_t n;
        do {
            n = ::recv(fd, buffer, size, MSG_DONTWAIT);
        } while (n < 0 && errno == EINTR);
        if (n < 0)
            return (errno == EAGAIN || errno == EWOULDBLOCK) ? 0 : -1;
        return n;
    }
};

} // namespace

TouchInput& touch()
{
    static BoardTouch instance;
    return instance;
}

Hotplug& hotplug()
{
    static BoardHotplug instance;
    return instance;
}

} // namespace board
} // namespace platform
