#include "sim/hotplug_model.h"

#include <chrono>
#include <cstring>

namespace sim {

int HotplugModel::open()
{
    std::lock_guard<std::mutex> lock(mutex_);
    const int fd = next_++;
    open_[fd];
    return fd;
}

int HotplugModel::close(int fd)
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (open_.erase(fd) == 0)
        return -1;
    cv_.notify_all();   // a reader waiting on it gives up
    return 0;
}

ssize_t HotplugModel::receive(int fd, char* buffer, size_t size, int timeoutMs)
{
    if (!buffer || size == 0)
        return -1;
    std::unique_lock<std::mutex> lock(mutex_);
    auto ready = [&] {
        auto it = open_.find(fd);
        return it == open_.end() || !it->second.empty();
    };
    ++waiting_;
    if (timeoutMs < 0)
        cv_.wait(lock, ready);
    else
        cv_.wait_for(lock, std::chrono::milliseconds(timeoutMs), ready);
    --waiting_;
    auto it = open_.find(fd);
    if (it == open_.end())
        return -1;
    if (it->second.empty())
        return 0;
    const std::string message = std::move(it->second.front());
    it->second.pop_front();
    // A datagram larger than the buffer is cut, as recv() does.
    const size_t n = std::min(size, message.size());
    std::memcpy(buffer, message.data(), n);
    return static_cast<ssize_t>(n);
}

void HotplugModel::inject(const std::string& message)
{
    std::lock_guard<std::mutex> lock(mutex_);
    for (auto& q : open_)
        q.second.push_back(message);
    cv_.notify_all();
}

size_t HotplugModel::listeners() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return open_.size();
}

size_t HotplugModel::waiting() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return waiting_;
}

} // namespace sim
