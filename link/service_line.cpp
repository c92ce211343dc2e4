#include "link/service_line.h"

#include "core/logMsg.h"
#include "core/utils.h"
#include "core/wait_bound.h"

#include <algorithm>
#include <sys/eventfd.h>
#include <poll.h>
#include <unistd.h>

namespace {

// How often the line is looked at while a pass-through waits for its
// ticket (another transport's pass-through ending wakes nobody here).
constexpr int kTicketPollMs = 10;
// How often a worker standing by looks at the line when nothing wakes it.
constexpr int kStandByPollMs = 1000;
// A service found under way at two looks this far apart has lasted that
// long: the worker standing by reads from then on.
constexpr int kLongServiceMs = 5;
// Looks at which no service began, after which the worker standing by
// waits for arrivals again instead of looking.
constexpr int kQuietLooks = 10;

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
}

void ServiceLine::stop()
{
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

void ServiceLine::takePlace(Stream& stream)
{
    if (!wantsPlace(stream))
        return;
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
    // standing by reads once the service has lasted kLongServiceMs, or at
    // once when the service tells it waits (see handOver).
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
    // The other worker reads, or serves. A service found under way at two
    // looks kLongServiceMs apart has lasted that long, whatever it waits
    // on: this worker reads from then on. It looks (without the line)
    // every kLongServiceMs while services begin; while the line is quiet
    // it wakes with the other worker when a request arrives. A service
    // that tells it waits wakes it at once (see handOver).
    ++m_standing;
    hold.unlock();
    uint64_t seen = m_serviceMark.load(std::memory_order_relaxed);
    int quiet = 0;
    while (!m_stop) {
        const bool looking = quiet < kQuietLooks;
        pollfd fds[3] = {{m_handOverFd, POLLIN, 0}, {m_endFd, POLLIN, 0}, {m_side.arrivalFd(), POLLIN, 0}};
        if (::poll(fds, looking ? 2 : 3, looking ? kLongServiceMs : kStandByPollMs) > 0 &&
            (fds[0].revents & POLLIN)) {
            uint64_t count = 0;
            if (::read(m_handOverFd, &count, sizeof(count)) < 0) {
                // Taken by the other worker meanwhile.
            }
            break;
        }
        const uint64_t mark = m_serviceMark.load(std::memory_order_relaxed);
        if ((mark & 1) != 0 && mark == seen)
            break;
        quiet = looking && mark == seen ? quiet + 1 : 0;
        seen = mark;
    }
    hold.lock();
    --m_standing;
}

void ServiceLine::handOver(void* line)
{
    // Called without the line: the worker standing by, if any, need not
    // wait for its next look.
    ServiceLine& self = *static_cast<ServiceLine*>(line);
    if (self.m_standing.load() > 0)
        signal(self.m_handOverFd);
}
