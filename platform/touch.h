// Touch-screen input events (evdev).
#pragma once

#include <cstdint>
#include <string>

namespace platform {

struct TouchEvent {
    uint32_t sec = 0;
    uint32_t usec = 0;
    uint16_t type = 0;   // 1 key, 3 absolute axis, 0 sync (evdev numbering)
    uint16_t code = 0;
    int32_t value = 0;
};

class TouchInput {
public:
    virtual ~TouchInput() = default;
    virtual int open(const std::string& node) = 0;          // descriptor or -1
    virtual int close(int fd) = 0;
    // Waits up to timeoutMs for one event: 1 read, 0 none, -1 error.
    virtual int readEvent(int fd, TouchEvent& event, int timeoutMs) = 0;
};

} // namespace platform
