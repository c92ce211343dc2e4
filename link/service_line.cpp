#include "link/service_line.h"

#include "core/logMsg.h"
#include "core/utils.h"
#include "core/wait_bound.h"

#include <algorithm>
#include <chrono>
#include <sys/eventfd.h>
#include <poll.h>
#include <unistd.h>

namespace {

// How often the line is looked at while a pass-through waits for its
// ticket (another transport's pass-through ending wakes nobody here).
constexpr int kTicketPollMs = 10;
// How often a worker standing by looks at the line when nothing wakes it
// (nothing needs it to: a long service, and the end, wake it; the other
// worker reads again once a short one has ended).
constexpr int kStandByPollMs = 60000;
// The tick thread looks at the line at every tick (10 ms, see watch). A
// service found under way at two looks this far apart or more (half a
// tick: two ticks, not one look come early) has lasted from one tick to
// two, 10 to 20 ms: the worker standing by reads from then on.
constexpr std::chrono::microseconds kLooksApart{Utils::TickCount::kTickUs / 2};

std::atomic<uint64_t> g_placesGiven{0};

} // namespace

ServiceLine::ServiceLine(Side& side)
    : m_side(side)
{
    m_handOverFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    m_endFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
}

ServiceLine::~ServiceLine()
{
    stop();
    for (int fd : {m_handOverFd, m_endFd})
        if (fd >= 0)
            ::close(fd);
}

namespace {

void signal(int fd)
{
    const uint64_t one = 1;
    if (fd >= 0 && ::write(fd, &one, sizeof(one)) < 0) {
        // Already signalled (the counter is full).
    }
}

} // namespace

void ServiceLine::start(const char* const names[2])
{
    for (int i = 0; i < 2; ++i) {
        const char* name = names[i];
        m_workers[i] = std::thread([this, name] { run(name); });
    }
    Utils::watch_ticks(&ServiceLine::watch, this);
}

void ServiceLine::stop()
{
    Utils::unwatch_ticks(&ServiceLine::watch, this);
    m_stop = true;
    signal(m_endFd);
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
    unplace(stream);
    m_streams.erase(std::remove(m_streams.begin(), m_streams.end(), &stream), m_streams.end());
}

bool ServiceLine::wantsPlace(const Stream& stream) const
{
    return stream.place == 0 && &stream != m_serving && stream.endpoint->pending() && m_side.mayServe(stream);
}

uint64_t ServiceLine::placesGiven()
{
    return g_placesGiven.load(std::memory_order_relaxed);
}

void ServiceLine::takePlace(Stream& stream)
{
    if (!wantsPlace(stream))
        return;
    g_placesGiven.fetch_add(1, std::memory_order_relaxed);
    stream.place = m_nextPlace++;
    ++m_placed;
    stream.endpoint->take_ticket();
}

void ServiceLine::unplace(Stream& stream)
{
    if (stream.place == 0)
        return;
    stream.place = 0;
    --m_placed;
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

bool ServiceLine::serve(Stream* next, std::unique_lock<LineMutex>& hold)
{
    if (!next)
        return false;
    unplace(*next);
    m_serving = next;
    markService();
    link_endpoint::Job job = next->endpoint->next();
    // The line is let go for the service, whatever it waits on: the worker
    // standing by reads once the tick thread has seen the service under
    // way at two ticks (see watch), or at once when the service tells it
    // waits (see handOver).
    hold.unlock();
    {
        const service_wait::Scope waits(&ServiceLine::handOver, this);
        m_side.serve(*next, job);
    }
    hold.lock();
    m_serving = nullptr;
    markService();
    m_side.served(*next);
    // What arrived during the service takes its place before the stream
    // just served takes its next one: it goes behind those heard from
    // meanwhile.
    lookBeforeServing(next);
    takePlace(*next);
    return true;
}

void ServiceLine::lookBeforeServing(const Stream* justServed)
{
    // The other worker, when it reads, took what arrived as it came; else
    // it is looked at when a service follows at once (the first in line,
    // or the next request of the stream just served). When none does, the
    // next wait takes what arrived, in the order it arrived.
    if (m_readers == 0 && !m_serving && (m_placed > 0 || (justServed && wantsPlace(*justServed))))
        m_side.look();
}

void ServiceLine::run(const char* name)
{
    Utils::name_thread(name);
    std::unique_lock<LineMutex> hold(m_mutex);
    // What has arrived was just taken: by a wait, or at the end of a
    // service (see serve()).
    bool taken = false;
    while (!m_stop) {
        // What arrived while this worker stood by takes its place before
        // the next in line is served.
        if (!taken)
            lookBeforeServing(nullptr);
        taken = serveNext(hold);
        if (taken)
            continue;
        // Nothing to serve now: what the transport looks after before it
        // waits (it may have let a request in).
        int waitMs = m_side.tend();
        taken = serveNext(hold);
        if (taken)
            continue;
        // The other worker reads: this one stands by (see standBy).
        if (m_readers > 0) {
            standBy(hold);
            continue;
        }
        if (m_placed > 0 && ticketWaits())
            waitMs = std::min(waitMs, kTicketPollMs);
        ++m_readers;
        hold.unlock();
        m_side.wait(waitMs);
        hold.lock();
        --m_readers;
        m_side.take();
        taken = true;
    }
}

void ServiceLine::standBy(std::unique_lock<LineMutex>& hold)
{
    // The other worker reads, or serves. This one waits until a service
    // has been seen under way at two ticks, whatever it waits on (see
    // watch), or tells it waits (see handOver), and reads from then on; it
    // costs no wake while services are short.
    ++m_standing;
    hold.unlock();
    pollfd fds[2] = {{m_handOverFd, POLLIN, 0}, {m_endFd, POLLIN, 0}};
    if (::poll(fds, 2, kStandByPollMs) > 0 && (fds[0].revents & POLLIN)) {
        uint64_t count = 0;
        if (::read(m_handOverFd, &count, sizeof(count)) < 0) {
            // Taken by the other worker meanwhile.
        }
    }
    hold.lock();
    --m_standing;
}

void ServiceLine::handOver(void* line)
{
    // Called without the line: the worker standing by, if any, reads now.
    ServiceLine& self = *static_cast<ServiceLine*>(line);
    if (self.m_standing.load() > 0)
        signal(self.m_handOverFd);
}

void ServiceLine::watch(void* line)
{
    // On the tick thread, at every tick: a service found under way at two
    // looks kLooksApart apart or more has lasted 10 to 20 ms.
    ServiceLine& self = *static_cast<ServiceLine*>(line);
    const uint64_t mark = self.m_serviceMark.load(std::memory_order_relaxed);
    const auto now = std::chrono::steady_clock::now();
    if ((mark & 1) == 0 || mark != self.m_watchedMark) {
        self.m_watchedMark = mark;
        self.m_watchedSince = now;
    } else if (now - self.m_watchedSince >= kLooksApart) {
        handOver(line);
    }
}
