// Kernel hot-plug events (the NETLINK_KOBJECT_UEVENT socket).
#pragma once

#include <cstddef>
#include <sys/types.h>

namespace platform {

class Hotplug {
public:
    virtual ~Hotplug() = default;
    virtual int open() = 0;                                  // descriptor or -1
    virtual int close(int fd) = 0;
    // Waits up to timeoutMs for one event message: its length, 0 for none,
    // -1 on error.
    virtual ssize_t receive(int fd, char* buffer, size_t size, int timeoutMs) = 0;
};

} // namespace platform
