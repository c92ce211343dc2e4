#pragma once

#include <cstdint>
#include <sys/epoll.h>

// An epoll set of the descriptors a worker waits on (one worker at a time:
// see ServiceLine). A descriptor is watched level-triggered, so that a
// request served at once costs no re-arming; or once, so that it reports
// at most one event (EPOLLHUP, EPOLLERR) until armed again. A descriptor
// watched by watchEnd() ends every wait once readable.
class WatchSet {
public:
    WatchSet();
    ~WatchSet();
    WatchSet(const WatchSet&) = delete;
    WatchSet& operator=(const WatchSet&) = delete;
    bool ok() const { return m_epoll >= 0; }
    // Polls readable while an event waits.
    int fd() const { return m_epoll; }

    // Watches fd for events (EPOLLIN, EPOLLRDHUP: EPOLLHUP and EPOLLERR
    // always count), reported with key; false when the set refused it.
    bool watch(int fd, uint64_t key, uint32_t events, bool once = false);
    bool watchEnd(int fd);
    // Takes fd out of the set (before it is closed).
    void unwatch(int fd);
    // Waits up to timeoutMs: the number of events found (the end's not
    // among them).
    int wait(epoll_event* found, int most, int timeoutMs);

private:
    static constexpr uint64_t kEndKey = ~uint64_t{0};
    int m_epoll = -1;
};
