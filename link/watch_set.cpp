#include "link/watch_set.h"

#include <cerrno>
#include <unistd.h>

WatchSet::WatchSet()
    : m_epoll(::epoll_create1(EPOLL_CLOEXEC))
{
}

WatchSet::~WatchSet()
{
    if (m_epoll >= 0)
        ::close(m_epoll);
}

bool WatchSet::watch(int fd, uint64_t key, uint32_t events, bool once)
{
    epoll_event ev{};
    ev.events = once ? events | EPOLLONESHOT : events;
    ev.data.u64 = key;
    if (::epoll_ctl(m_epoll, EPOLL_CTL_MOD, fd, &ev) == 0)
        return true;
    return errno == ENOENT && ::epoll_ctl(m_epoll, EPOLL_CTL_ADD, fd, &ev) == 0;
}

bool WatchSet::watchEnd(int fd)
{
    // Once readable it ends every wait.
    epoll_event ev{};
    ev.events = EPOLLIN;
    ev.data.u64 = kEndKey;
    return fd >= 0 && ::epoll_ctl(m_epoll, EPOLL_CTL_ADD, fd, &ev) == 0;
}

void WatchSet::unwatch(int fd)
{
    ::epoll_ctl(m_epoll, EPOLL_CTL_DEL, fd, nullptr);
}

int WatchSet::wait(epoll_event* found, int most, int timeoutMs)
{
    const int n = ::epoll_wait(m_epoll, found, most, timeoutMs);
    int kept = 0;
    for (int i = 0; i < n; ++i)
        if (found[i].data.u64 != kEndKey)
            found[kept++] = found[i];
    return kept;
}
