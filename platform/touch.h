// Touch-screen input events (evdev).
#pragma once

#include <cstdint>
#include <string>

namespace platform {

// The evdev event types and codes of a touch screen.
namespace evdev {
constexpr uint16_t kEvSyn = 0x00;
constexpr uint16_t kEvKey = 0x01;
constexpr uint16_t kEvAbs = 0x03;
constexpr uint16_t kBtnTouch = 0x14a;
constexpr uint16_t kAbsX = 0x00;
constexpr uint16_t kAbsY = 0x01;
constexpr uint16_t kAbsMtPositionX = 0x35;
constexpr uint16_t kAbsMtPositionY = 0x36;
} // namespace evdev

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
