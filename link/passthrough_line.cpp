#include "link/passthrough_line.h"

#include "core/wait_bound.h"
#include "sendcard/fpga_manage.h"

#include <chrono>

// The ticket that is up ends within its own bound: its transport ends the
// request it is serving (on TCP and UDP also one request of each PC ahead
// of it in that transport's line, none of which comes near minutes), sends
// the frame, waits for the cards' answer for at most the longest wait a
// pass-through has (a save to flash over the longest chains) and gives the
// PC 3 s to take it. A line that stands still for twice that longest wait
// holds a ticket that will never end. The waiter then gives up: its request
// ends without an answer, as one the cards did not answer. It is not sent
// (the pass-through ahead may still be open: its answer would be taken for
// this one's, or this one's go to the other PC), nor answered busy (the
// reply to a pass-through is the cards' own frame; the device's busy
// status belongs to uploads and card jobs). Its ticket is abandoned, so
// that the requests behind it keep their order and are not held.
const uint64_t PassThroughLine::kStandstillBoundUs = 2 * fpga_manage::kPassbyLongestUs;

namespace {

// How often a waiter looks at the board's clock; a ticket ending wakes it
// at once.
constexpr auto kLookInterval = std::chrono::milliseconds(50);

} // namespace

uint64_t PassThroughLine::take()
{
    std::lock_guard<std::mutex> hold(m_mutex);
    return m_next++;
}

bool PassThroughLine::isUp(uint64_t ticket)
{
    std::lock_guard<std::mutex> hold(m_mutex);
    return m_serving == ticket;
}

bool PassThroughLine::wait(uint64_t ticket)
{
    std::unique_lock<std::mutex> hold(m_mutex);
    if (m_serving != ticket)
        service_wait::blocks();
    uint64_t serving = m_serving;
    WaitBound standstill(kStandstillBoundUs);
    while (m_serving != ticket) {
        if (m_serving != serving) {
            // A ticket ahead ended: the bound runs from here.
            serving = m_serving;
            standstill = WaitBound(kStandstillBoundUs);
        } else if (standstill.passed()) {
            abandonLocked(ticket);
            return false;
        }
        m_moved.wait_for(hold, kLookInterval);
    }
    return true;
}

void PassThroughLine::done()
{
    {
        std::lock_guard<std::mutex> hold(m_mutex);
        ++m_serving;
        skipAbandoned();
    }
    m_moved.notify_all();
}

void PassThroughLine::abandon(uint64_t ticket)
{
    {
        std::lock_guard<std::mutex> hold(m_mutex);
        abandonLocked(ticket);
    }
    m_moved.notify_all();
}

void PassThroughLine::abandonLocked(uint64_t ticket)
{
    if (m_serving == ticket) {
        ++m_serving;
        skipAbandoned();
    } else if (ticket > m_serving) {
        m_abandoned.insert(ticket);
    }
}

void PassThroughLine::skipAbandoned()
{
    while (m_abandoned.erase(m_serving) != 0)
        ++m_serving;
}
