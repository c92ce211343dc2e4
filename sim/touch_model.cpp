#include "sim/touch_model.h"

#include <chrono>
#include <sys/time.h>

namespace sim {
namespace {

using namespace platform::evdev;

platform::TouchEvent makeEvent(uint16_t type, uint16_t code, int32_t value)
{
    platform::TouchEvent e;
    e.type = type;
    e.code = code;
    e.value = value;
    return e;
}

platform::TouchEvent stamped(const platform::TouchEvent& event)
{
    platform::TouchEvent e = event;
    if (e.sec == 0 && e.usec == 0) {
        timeval tv;
        ::gettimeofday(&tv, nullptr);
        e.sec = static_cast<uint32_t>(tv.tv_sec);
        e.usec = static_cast<uint32_t>(tv.tv_usec);
    }
    return e;
}

} // namespace

int TouchModel::open()
{
    std::lock_guard<std::mutex> lock(mutex_);
    const int fd = next_++;
    open_.insert(fd);
    return fd;
}

int TouchModel::close(int fd)
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (open_.erase(fd) == 0)
        return -1;
    cv_.notify_all();
    return 0;
}

bool TouchModel::isOpen(int fd) const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return open_.count(fd) != 0;
}

int TouchModel::readEvent(int fd, platform::TouchEvent& event, int timeoutMs)
{
    std::unique_lock<std::mutex> lock(mutex_);
    auto ready = [&] { return open_.count(fd) == 0 || !queue_.empty(); };
    if (timeoutMs < 0)
        cv_.wait(lock, ready);
    else
        cv_.wait_for(lock, std::chrono::milliseconds(timeoutMs), ready);
    if (open_.count(fd) == 0)
        return -1;
    if (queue_.empty())
        return 0;
    event = queue_.front();
    queue_.pop_front();
    return 1;
}

void TouchModel::inject(const platform::TouchEvent& event)
{
    std::lock_guard<std::mutex> lock(mutex_);
    queue_.push_back(stamped(event));
    cv_.notify_all();
}

void TouchModel::tap(int x, int y)
{
    const platform::TouchEvent events[] = {
        makeEvent(kEvKey, kBtnTouch, 1),   makeEvent(kEvAbs, kAbsMtPositionX, x),
        makeEvent(kEvAbs, kAbsMtPositionY, y), makeEvent(kEvAbs, kAbsX, x),
        makeEvent(kEvAbs, kAbsY, y),       makeEvent(kEvSyn, 0, 0),
        makeEvent(kEvKey, kBtnTouch, 0),   makeEvent(kEvSyn, 0, 0),
    };
    std::lock_guard<std::mutex> lock(mutex_);
    for (const auto& e : events)
        queue_.push_back(stamped(e));
    cv_.notify_all();
}

} // namespace sim
