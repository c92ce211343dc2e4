// The line in which a transport that serves many PCs at once (TCP
// connections, UDP senders) serves their requests: one at a time, in the
// order they arrived.
//
// Each PC's stream has at most one place in the line, taken when its
// request arrives, or, for a request that arrived earlier, once the one
// before it was served: the PC just served goes behind those heard from
// meanwhile. So a PC that queued many slow requests (pass-throughs to
// cards, flash erases) holds a PC that comes later for at most the request
// being served. A pass-through takes its ticket in the pass-through line
// (see PassThroughLine) with its place, so that the two lines keep the
// same order, across the transports too; while its ticket is not up it
// waits, and the others are served meanwhile.
//
// Two workers share the work, each reading and serving in turn: the one
// that reads a request serves it when nothing is being served, with no
// hand-over between threads, while the other stands by. What has arrived
// meanwhile is taken before the next in line is served. A service lets
// the line go; once the tick thread, which looks at every 10 ms tick, has
// seen it under way at two ticks (10 to 20 ms into it, whatever it waits
// on, see watch()), the one standing by reads what arrives
// meanwhile, giving it its place at once, so a long service changes
// nobody's place (a service that tells it waits, a pass-through or a write
// waiting for a chip pass, see service_wait, hands over at once). A short
// service wakes nobody.
#pragma once

#include "link/line_mutex.h"
#include "link/link_transport.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

class ServiceLine {
public:
    // What the line knows of one PC's stream (a transport's connection or
    // sender derives from it).
    struct Stream {
        uint64_t place = 0;   // its place in the line (0: not in it)
        std::unique_ptr<link_endpoint> endpoint;
    };

    // The transport's part: its reading and sending. One worker at a time
    // calls wait() and then take(), or look().
    class Side {
    public:
        virtual ~Side() = default;
        // Without the line's mutex: waits up to timeoutMs for what arrives,
        // keeping it for take(); ends at once once endFd() is readable (the
        // line stops), or once the transport ended its waits before it
        // stopped the line.
        virtual void wait(int timeoutMs) = 0;
        // Under the mutex: takes what wait() found.
        virtual void take() = 0;
        // Under the mutex: takes what has arrived, without waiting.
        virtual void look()
        {
            wait(0);
            take();
        }
        // Under the mutex, before a worker that found nothing to serve
        // waits: what the transport looks after between arrivals. Returns
        // how long the wait for arrivals may last (ms).
        virtual int tend() = 0;
        // Whether the stream's next request may be served now (asks).
        virtual bool mayServe(const Stream& stream) const = 0;
        // Without the mutex: serves a job taken from the stream.
        virtual void serve(Stream& stream, link_endpoint::Job& job) = 0;
        // Under the mutex, once the stream's service has ended.
        virtual void served(Stream& stream) = 0;
    };

    explicit ServiceLine(Side& side);
    ~ServiceLine();
    ServiceLine(const ServiceLine&) = delete;
    ServiceLine& operator=(const ServiceLine&) = delete;

    // Starts the two workers, named names[0] and names[1].
    void start(const char* const names[2]);
    // Ends the workers (each ends its service first) and waits for them.
    void stop();

    // The mutex every member below is called under.
    LineMutex& mutex() { return m_mutex; }
    // A stream comes into the line's care, or leaves it (never the one
    // being served).
    void join(Stream& stream);
    void leave(Stream& stream);
    // Gives the stream its place, and its next request's pass-through
    // ticket, when it has a request waiting that may be served and no
    // place (see above).
    void takePlace(Stream& stream);
    // The stream gives up its place (it keeps its request).
    void unplace(Stream& stream);
    // Places given by every line since the program started: an arrival
    // taken into its line, or a stream's next request. What a test waits
    // for to know that a request it sent has its place.
    static uint64_t placesGiven();
    // The stream being served (nullptr: none).
    const Stream* serving() const { return m_serving; }
    // Readable once the line stops: every wait of a worker watches it.
    int endFd() const { return m_endFd; }

private:
    void run(const char* name);
    // Stands by while the other worker reads or serves, until a service
    // has lasted long or tells it waits (or the line stops, or a minute
    // passes); called and returns under the mutex.
    void standBy(std::unique_lock<LineMutex>& hold);
    // A service waits (called on its worker, from inside the wait, without
    // the mutex), or has lasted long: the worker standing by, if any, is
    // woken.
    static void handOver(void* line);
    // Called on the tick thread at every tick: hands over once a service
    // has lasted long (see the .cpp).
    static void watch(void* line);
    // Serves the first in line, when nothing is being served and one may
    // be (true).
    bool serveNext(std::unique_lock<LineMutex>& hold)
    {
        return !m_serving && m_placed > 0 && serve(pickNext(), hold);
    }
    bool serve(Stream* next, std::unique_lock<LineMutex>& hold);
    // Takes what has arrived before a service that follows at once (after
    // the stream justServed, or nullptr).
    void lookBeforeServing(const Stream* justServed);
    // Whether takePlace() would give the stream a place now.
    bool wantsPlace(const Stream& stream) const;
    Stream* pickNext();
    bool ticketWaits() const;

    Side& m_side;
    LineMutex m_mutex;
    std::vector<Stream*> m_streams;
    Stream* m_serving = nullptr;
    // Odd while a service is under way: services begun and ended. Written
    // under the mutex, read without it (see watch).
    std::atomic<uint64_t> m_serviceMark{0};
    // The tick thread's own: the mark at the last ticks, and since when.
    uint64_t m_watchedMark = 0;
    std::chrono::steady_clock::time_point m_watchedSince;
    void markService() { m_serviceMark.store(m_serviceMark.load(std::memory_order_relaxed) + 1, std::memory_order_relaxed); }
    uint64_t m_nextPlace = 1;
    int m_placed = 0;   // streams with a place
    // Workers waiting for arrivals, and standing by.
    int m_readers = 0;
    std::atomic<int> m_standing{0};
    // Wakes the worker standing by; ends the standing by at the end.
    int m_handOverFd = -1;
    int m_endFd = -1;
    std::atomic<bool> m_stop{false};
    std::thread m_workers[2];
};
