// The touch screen: events are injected by tests or the control channel and
// read by the program from its evdev-like descriptor. Descriptors are
// virtual numbers far above real ones, so they never name a real file.
#pragma once

#include "platform/touch.h"

#include <condition_variable>
#include <deque>
#include <mutex>
#include <set>

namespace sim {

class TouchModel {
public:
    int open();                  // a descriptor of the simulated device
    int close(int fd);
    bool isOpen(int fd) const;
    // Waits up to timeoutMs (negative: no limit) for an event: 1 read, 0
    // none, -1 for a descriptor that is not (or no longer) open.
    int readEvent(int fd, platform::TouchEvent& event, int timeoutMs);

    // Queues one event (stamped with the current time when it has none), or
    // a whole tap: BTN_TOUCH 1, the position as ABS_MT_POSITION_X/Y and
    // ABS_X/Y, sync, BTN_TOUCH 0, sync.
    void inject(const platform::TouchEvent& event);
    void tap(int x, int y);

private:
    mutable std::mutex mutex_;
    std::condition_variable cv_;
    std::deque<platform::TouchEvent> queue_;
    std::set<int> open_;
    int next_ = 0x50000000;
};

} // namespace sim
