#include "link/service_line.h"

#include "core/logMsg.h"
#include "core/utils.h"

#include <algorithm>
#include <cerrno>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <unistd.h>

namespace {

// How often the line is looked at while a pass-through waits for its
// ticket (another transport's pass-through ending wakes nobody here).
constexpr int kTicketPollMs = 10;

} // namespace

ServiceLine::ServiceLine(Side& side)
    : m_side(side)
{
}

ServiceLine::~ServiceLine()
{
    stop();
    if (m_stopFd >= 0)
        ::close(m_stopFd);
    if (m_epoll >= 0)
        ::close(m_epoll);
}

bool ServiceLine::start(const char* const names[2])
{
    m_epoll = ::epoll_create1(EPOLL_CLOEXEC);
    m_stopFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    // The stop descriptor stays armed (not one-shot): once written it wakes
    // every worker.
    epoll_event ev{};
    ev.events = EPOLLIN;
    ev.data.u64 = kStopKey;
    if (m_epoll < 0 || m_stopFd < 0 || ::epoll_ctl(m_epoll, EPOLL_CTL_ADD, m_stopFd, &ev) != 0) {
        writeLogMsg(ERROR, std::string("Control link: no epoll set for ") + names[0]);
        return false;
    }
    for (int i = 0; i < 2; ++i) {
        const char* name = names[i];
        m_workers[i] = std::thread([this, name] { run(name); });
    }
    return true;
}

void ServiceLine::stop()
{
    m_stop = true;
    if (m_stopFd >= 0) {
        const uint64_t one = 1;
        if (::write(m_stopFd, &one, sizeof(one)) < 0) {
            // Already written (the counter is full).
        }
    }
    for (std::thread& t : m_workers)
        if (t.joinable())
            t.join();
}

void ServiceLine::join(Stream& stream)
{
    m_streams.push_back(&stream);
}

void ServiceLine::leave(Stream& stream)
{
    m_streams.erase(std::remove(m_streams.begin(), m_streams.end(), &stream), m_streams.end());
}

void ServiceLine::takePlace(Stream& stream)
{
    if (stream.place != 0 || &stream == m_serving || !stream.endpoint->pending() || !m_side.mayServe(stream))
        return;
    stream.place = m_nextPlace++;
    stream.endpoint->take_ticket();
}

bool ServiceLine::watch(int fd, uint64_t key, uint32_t events)
{
    epoll_event ev{};
    ev.events = events | EPOLLONESHOT;
    ev.data.u64 = key;
    if (::epoll_ctl(m_epoll, EPOLL_CTL_MOD, fd, &ev) == 0)
        return true;
    return errno == ENOENT && ::epoll_ctl(m_epoll, EPOLL_CTL_ADD, fd, &ev) == 0;
}

void ServiceLine::unwatch(int fd)
{
    ::epoll_ctl(m_epoll, EPOLL_CTL_DEL, fd, nullptr);
}

ServiceLine::Stream* ServiceLine::pickNext()
{
    // The first in line whose request may be served; a pass-through whose
    // ticket is not up is passed over. Chooses, changes nothing.
    Stream* next = nullptr;
    for (Stream* s : m_streams) {
        if (s->place == 0 || (next && next->place < s->place) || !m_side.mayServe(*s) ||
            s->endpoint->front_waits_for_ticket())
            continue;
        next = s;
    }
    return next;
}

bool ServiceLine::ticketWaits() const
{
    for (const Stream* s : m_streams)
        if (s->place != 0 && s->endpoint->front_waits_for_ticket())
            return true;
    return false;
}

bool ServiceLine::serveNext(std::unique_lock<std::mutex>& hold)
{
    Stream* next = m_serving ? nullptr : pickNext();
    if (!next)
        return false;
    next->place = 0;
    m_serving = next;
    link_endpoint::Job job = next->endpoint->next();
    hold.unlock();
    m_side.serve(*next, job);
    hold.lock();
    m_serving = nullptr;
    m_side.served(*next);
    takePlace(*next);
    return true;
}

void ServiceLine::run(const char* name)
{
    Utils::name_thread(name);
    epoll_event events[16];
    std::unique_lock<std::mutex> hold(m_mutex);
    while (!m_stop) {
        if (serveNext(hold))
            continue;
        // Nothing to serve now: what the transport looks after before it
        // waits (it may have let a request in).
        int waitMs = m_side.tend();
        if (serveNext(hold))
            continue;
        if (ticketWaits())
            waitMs = std::min(waitMs, kTicketPollMs);
        hold.unlock();
        const int n = ::epoll_wait(m_epoll, events, 16, waitMs);
        hold.lock();
        for (int i = 0; i < n; ++i)
            if (events[i].data.u64 != kStopKey)
                m_side.arrived(events[i].data.u64, events[i].events);
    }
}
