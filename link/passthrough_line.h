// The pass-through line shared by every transport of the control link. One
// pass-through to the receiving cards is open at a time (the cards' answer
// is routed by the one pass-through code), and the pass-throughs are sent
// in the order they took their tickets: a request takes a ticket when it is
// next on its stream, waits until its ticket is up, is served and ends its
// ticket; a ticket whose stream went away is abandoned and passed over.
//
// Not to be confused with a connection's place in its own transport's line
// (TCP connections, UDP senders), which decides which PC the transport
// serves next; a transport that serves many PCs serves the others' plain
// requests while one PC's pass-through waits for its ticket.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <set>

class PassThroughLine {
public:
    // How long a waiter waits while the line does not move (no ticket
    // ending) before it gives up: see the definition.
    static const uint64_t kStandstillBoundUs;

    // Takes the next ticket.
    uint64_t take();
    // Whether the ticket is the one being served (asks, changes nothing).
    bool isUp(uint64_t ticket);
    // Waits until the ticket is up (true). False when the line stood still
    // for kStandstillBoundUs of the board's clock: the ticket is then
    // abandoned (passed over when it comes up) and must not be served.
    bool wait(uint64_t ticket);
    // The ticket being served has ended; the next one not abandoned is up.
    void done();
    // A ticket that will not be served (its stream went away, or its
    // waiter gave up): passed over, at once when it is up.
    void abandon(uint64_t ticket);

private:
    void abandonLocked(uint64_t ticket);
    void skipAbandoned();

    std::mutex m_mutex;
    std::condition_variable m_moved;
    uint64_t m_next = 0;
    uint64_t m_serving = 0;
    std::set<uint64_t> m_abandoned;
};
