// Kernel hot-plug events: uevent messages ("add@/devices/...\0ACTION=add\0...")
// injected by tests or the control channel.
#pragma once

#include <condition_variable>
#include <deque>
#include <mutex>
#include <map>
#include <string>
#include <sys/types.h>

namespace sim {

class HotplugModel {
public:
    // Descriptors are virtual numbers far above real ones.
    int open();
    int close(int fd);
    // Waits up to timeoutMs (negative: no limit) for one message and copies
    // as much as fits: its length, 0 for none, -1 for a descriptor that is
    // not open. Every open descriptor sees every message once.
    ssize_t receive(int fd, char* buffer, size_t size, int timeoutMs);

    // Queues one raw message (NUL-separated fields, as the kernel sends) for
    // every open descriptor; as with the kernel's socket, a message sent
    // while nobody listens is lost.
    void inject(const std::string& message);
    // Number of open descriptors (tests wait for the program to listen).
    size_t listeners() const;
    // Number of readers waiting inside receive() for a message.
    size_t waiting() const;

private:
    mutable std::mutex mutex_;
    std::condition_variable cv_;
    std::map<int, std::deque<std::string>> open_;   // queue per descriptor
    int next_ = 0x58000000;
    size_t waiting_ = 0;
};

} // namespace sim
