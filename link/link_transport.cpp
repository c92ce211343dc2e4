#include "link/link_transport.h"

#include "core/global.h"
#include "core/lock_check.h"
#include "core/logMsg.h"
#include "core/wait_bound.h"
#include "link/link_global.h"
#include "link/passthrough_line.h"
#include "platform/clock.h"
#include "sendcard/fpga_manage.h"

#include <atomic>
#include <vector>

namespace {

// The transport that last passed a frame through, by pass-through code.
std::atomic<link_transport*> g_passby_transports[256];

// The one pass-through line of the control link. Taken before the FPGA
// link mutex.
PassThroughLine g_passthrough_line;

// Ends the ticket being served when the pass-through returns.
class TicketInService {
public:
    TicketInService() = default;
    ~TicketInService() { g_passthrough_line.done(); }
    TicketInService(const TicketInService&) = delete;
    TicketInService& operator=(const TicketInService&) = delete;
};

bool passthrough_with_ticket(link_transport& transport, const unsigned char* frame, int length, uint64_t ticket);

// The processor's requests are served until the program stops serving them
// (link_stop_serving): each counts itself in while it is served and then
// looks whether serving has stopped; the stop says so and then waits until
// none is counted in, for a while. Past that, answers end: a request that
// has stored looks whether they have before it answers. Either the request
// sees the stop, or the stop sees the request (both orders are
// sequentially consistent), so what the program stores after the stop
// holds every change it answered.
std::atomic<int> g_requestsInService{0};
std::atomic<bool> g_servingStopped{false};
std::atomic<bool> g_answersEnded{false};

class RequestInService {
public:
    RequestInService() { g_requestsInService.fetch_add(1); }
    ~RequestInService() { g_requestsInService.fetch_sub(1); }
    RequestInService(const RequestInService&) = delete;
    RequestInService& operator=(const RequestInService&) = delete;
    // The program stopped serving requests (looked at once counted in).
    bool servingStopped() const { return g_servingStopped.load(); }
    // The stop's wait for the requests counted in is over: none is answered.
    bool answersEnded() const { return g_answersEnded.load(); }
};

// Holds the FPGA link mutex when it can be taken before untilUs (board
// clock); tried every 100 us meanwhile.
class LinkHoldUntil {
public:
    LinkHoldUntil(pthread_mutex_t& m, uint64_t untilUs) : m_(m)
    {
        lock_check::short_lock_is_leaf("an FPGA mutex");
        const uint64_t now = platform::clock().nowUs();
        held_ = waitUntil(untilUs > now ? untilUs - now : 0, 100, [&] { return pthread_mutex_trylock(&m_) == 0; });
    }
    ~LinkHoldUntil()
    {
        if (held_)
            pthread_mutex_unlock(&m_);
    }
    bool held() const { return held_; }
    LinkHoldUntil(const LinkHoldUntil&) = delete;
    LinkHoldUntil& operator=(const LinkHoldUntil&) = delete;

private:
    pthread_mutex_t& m_;
    bool held_ = false;
};

} // namespace

link_transport::~link_transport()
{
    for (auto& slot : g_passby_transports) {
        link_transport* self = this;
        slot.compare_exchange_strong(self, nullptr);
    }
}

bool link_stop_serving(int boundMs)
{
    g_servingStopped = true;
    const bool ended = waitUntil(uint64_t(boundMs) * 1000, 1000, [] { return g_requestsInService.load() == 0; });
    g_answersEnded = true;
    return ended;
}

int link_requests_in_service()
{
    return g_requestsInService.load();
}

bool link_queue_passby_reply(unsigned char code, const unsigned char* frame, int length)
{
    link_transport* t = g_passby_transports[code].load();
    if (!t || code == kPassbyNone || length <= 0)
        return false;
    std::vector<unsigned char> framed(protocol_phy::framed_size(static_cast<size_t>(length)));
    const int n = protocol_phy::data_re_transf_meaning(framed.data(), frame, length, nullptr);
    t->queue_reply(framed.data(), n);
    return true;
}

bool passthrough_to_cards(link_transport& transport, const unsigned char* frame, int length)
{
    return passthrough_with_ticket(transport, frame, length, g_passthrough_line.take());
}

namespace {

bool passthrough_with_ticket(link_transport& transport, const unsigned char* frame, int length, uint64_t ticket)
{
    fpga_manage* m = fpga_manage::p_fpga_manage;
    if (!m) {
        g_passthrough_line.abandon(ticket);
        return false;
    }
    // One pass-through at a time, in the order of the tickets. A waiter
    // that gives up (see PassThroughLine) sends nothing.
    if (!g_passthrough_line.wait(ticket)) {
        writeLogMsg(WARNING, "Pass-through: the one ahead never ended, request dropped");
        return false;
    }
    const TicketInService oneAtATime;
    // The frame's time runs from here, when it is taken from the line: the
    // waits for the FPGA link, the SPI bus, the ports' transmit buffers and
    // the cards' answer all lie within its bound. Until the frame is sent
    // its bound is not known (it depends on the ports reached): the FPGA
    // link is waited for no longer than the least bound of a frame that is
    // waited for (5 s), else the request ends unsent.
    const uint64_t takenUs = platform::clock().nowUs();
    const unsigned char code = transport.passby_code();
    uint64_t deadlineUs = takenUs;
    {
        const LinkHoldUntil hold(m->fpga_link_mutex, takenUs + fpga_manage::kCardFrameUs);
        if (hold.held()) {
            transport.waiting_passthrough = 1;
            m->fpga_passby_reply = 0;
            // Nothing is open before this transport's code is set: a late
            // answer to the request before (taken by another thread's poll
            // meanwhile) fits nothing and reaches no one.
            m->passby_begin(takenUs);
            g_passby_transports[code] = &transport;
            g_passby_trans_port = code;
            m->passby_forward(length, frame, takenUs);
            deadlineUs = m->passby_deadline_us.load();
        } else {
            writeLogMsg(WARNING, "Pass-through: the FPGA link stayed busy; request dropped");
        }
    }
    // Wait for the cards' answer, polling both FPGAs, until the frame's
    // time is over: as long as what the frame asks may take (a save to
    // flash long, a RAM or register access 5 s), counted from when it was
    // taken; a silent card ends the wait there, and a request that was
    // dropped or reached no linked port does not wait. A poll does not
    // start while the SPI bus is held (a chip write), nor wait for the
    // FPGA link past the frame's end. Every other pass-through waits for
    // its ticket meanwhile.
    bool answered = false;
    // The polls' transfers take the bus by the frame's end or not at all
    // (a chip write that begins to hold it during a poll).
    const fpga_manage::SpiBusBound bus(deadlineUs);
    while (deadlineUs > takenUs) {
        {
            const LinkHoldUntil hold(m->fpga_link_mutex, deadlineUs);
            if (!hold.held())
                break;
            if (fpga_manage::spi_bus_free()) {
                m->reg_IRQ_Dealwith(0, 0);
                m->reg_IRQ_Dealwith(1, 0);
            }
            if (m->fpga_passby_reply.load() == 1 && transport.reply_list_ready()) {
                m->fpga_passby_reply = 0;
                answered = true;
                break;
            }
        }
        if (platform::clock().nowUs() >= deadlineUs)
            break;
        boardSleepUs(1);
    }
    // The answer is written outside the FPGA link mutex: a PC that reads
    // slowly does not hold the sending card's own card traffic. Nothing
    // replaces this transport's reply list meanwhile (answers are queued
    // only for the open pass-through, which is this one until it returns).
    if (answered)
        transport.send_reply_list();
    if (!answered) {
        // Nothing came back: the pass-through ends so that a late answer is
        // not sent with a later request. The FPGA link is not waited for
        // past the frame's end (the code is cleared without it then).
        const LinkHoldUntil hold(m->fpga_link_mutex, deadlineUs);
        unsigned char mine = code;
        g_passby_trans_port.compare_exchange_strong(mine, kPassbyNone);
    }
    transport.waiting_passthrough = 0;
    return answered;
}

} // namespace

link_endpoint::link_endpoint(link_transport& transport)
    : m_transport(transport)
{
}

link_endpoint::~link_endpoint()
{
    give_up_ticket();
}

void link_endpoint::reset()
{
    give_up_ticket();
    m_phy.reset();
    m_waiting.clear();
    m_waitingBytes = 0;
}

void link_endpoint::give_up_ticket()
{
    if (m_hasTicket)
        g_passthrough_line.abandon(m_ticket);
    m_hasTicket = false;
}

void link_endpoint::take_ticket()
{
    if (m_hasTicket || m_waiting.empty())
        return;
    const std::vector<unsigned char>& front = m_waiting.front();
    if (!link_frame::isPassThrough(front.data(), static_cast<int>(front.size())))
        return;
    m_ticket = g_passthrough_line.take();
    m_hasTicket = true;
}

bool link_endpoint::front_waits_for_ticket() const
{
    return m_hasTicket && !g_passthrough_line.isUp(m_ticket);
}

void link_endpoint::receive(const unsigned char* data, size_t length, uint64_t peer, const Sender& send)
{
    m_phy.push(data, length, [&](const unsigned char* body, int n) { serve(body, n, peer, send, nullptr); });
}

void link_endpoint::take(const unsigned char* data, size_t length, const Bounds* bounds)
{
    m_phy.push(data, length, [&](const unsigned char* body, int n) {
        const size_t bytes = static_cast<size_t>(n);
        if (bounds) {
            if (m_waiting.size() >= bounds->frames || m_waitingBytes + bytes > bounds->bytes ||
                *bounds->allBytes + bytes > bounds->allBytesBound)
                return;
            *bounds->allBytes += bytes;
        }
        m_waiting.emplace_back(body, body + n);
        m_waitingBytes += bytes;
    });
}

link_endpoint::Job link_endpoint::next()
{
    Job job;
    if (m_waiting.empty())
        return job;
    job.body = std::move(m_waiting.front());
    m_waiting.pop_front();
    m_waitingBytes -= job.body.size();
    // A pass-through whose ticket was taken while it waited is served with
    // that ticket.
    job.ticketTaken = m_hasTicket;
    job.ticket = m_ticket;
    m_hasTicket = false;
    return job;
}

void link_endpoint::serve(Job& job, uint64_t peer, const Sender& send)
{
    if (job.body.empty())
        return;
    serve(job.body.data(), static_cast<int>(job.body.size()), peer, send, job.ticketTaken ? &job.ticket : nullptr);
}

void link_endpoint::serve(const unsigned char* body, int n, uint64_t peer, const Sender& send, const uint64_t* ticket)
{
    // The PC is active until this request ends (sendcard/pc_activity.h).
    const PcRequest pcRequest;
    if (link_frame::isPassThrough(body, n)) {
        if (ticket)
            passthrough_with_ticket(m_transport, body, n, *ticket);
        else
            passthrough_to_cards(m_transport, body, n);
        return;
    }
    // Answered only when served before the program stopped serving, so
    // that what it acknowledged is what the program stores as it leaves.
    const RequestInService request;
    if (request.servingStopped())
        return;
    message_deal::Origin origin;
    origin.transport = m_transport.passby_code();
    origin.peer = peer;
    const int r = m_deal.message_group_deal(body, n, origin);
    if (r <= 0)
        return;
    const int framed = protocol_phy::data_re_transf_meaning(m_framed, m_deal.reply(), r, nullptr);
    if (!request.answersEnded())
        send(m_framed, framed);
}
