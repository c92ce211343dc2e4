#include "link/link_transport.h"

#include "core/global.h"
#include "core/wait_bound.h"
#include "link/link_global.h"
#include "sendcard/fpga_manage.h"

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <set>
#include <vector>

namespace {

// The transport that last passed a frame through, by pass-through code.
std::atomic<link_transport*> g_passby_transports[256];

// One pass-through is open at a time: a request from a second transport
// waits until the first has its answer or has given up (the answer is
// routed by the one pass-through code). The requests take their turns in
// the order they came, so that a transport with many queued requests holds
// another for at most the request being served. A request takes its turn
// (a ticket) when it is next on its stream; a transport that serves many
// PCs serves the others' plain requests while the turn of one PC's
// pass-through has not come. Taken before the FPGA link mutex.
class PassThroughTurns {
public:
    uint64_t take()
    {
        std::lock_guard<std::mutex> hold(m_mutex);
        return m_next++;
    }
    bool up(uint64_t turn)
    {
        std::lock_guard<std::mutex> hold(m_mutex);
        return m_serving == turn;
    }
    void wait(uint64_t turn)
    {
        std::unique_lock<std::mutex> hold(m_mutex);
        m_turn.wait(hold, [&] { return m_serving == turn; });
    }
    // The turn being served has ended.
    void done()
    {
        {
            std::lock_guard<std::mutex> hold(m_mutex);
            ++m_serving;
            skipAbandoned();
        }
        m_turn.notify_all();
    }
    // A turn that will not be used (its stream went away): passed over.
    void abandon(uint64_t turn)
    {
        {
            std::lock_guard<std::mutex> hold(m_mutex);
            if (m_serving == turn) {
                ++m_serving;
                skipAbandoned();
            } else {
                m_abandoned.insert(turn);
            }
        }
        m_turn.notify_all();
    }

private:
    void skipAbandoned()
    {
        while (m_abandoned.erase(m_serving) != 0)
            ++m_serving;
    }

    std::mutex m_mutex;
    std::condition_variable m_turn;
    uint64_t m_next = 0;
    uint64_t m_serving = 0;
    std::set<uint64_t> m_abandoned;
};
PassThroughTurns g_passthrough_turns;

// Holds a pass-through's turn from its start to its end.
class PassThroughTurn {
public:
    explicit PassThroughTurn(uint64_t turn) { g_passthrough_turns.wait(turn); }
    ~PassThroughTurn() { g_passthrough_turns.done(); }
    PassThroughTurn(const PassThroughTurn&) = delete;
    PassThroughTurn& operator=(const PassThroughTurn&) = delete;
};

bool passthrough_in_turn(link_transport& transport, const unsigned char* frame, int length, uint64_t turn);

} // namespace

link_transport::~link_transport()
{
    for (auto& slot : g_passby_transports) {
        link_transport* self = this;
        slot.compare_exchange_strong(self, nullptr);
    }
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
    return passthrough_in_turn(transport, frame, length, g_passthrough_turns.take());
}

namespace {

bool passthrough_in_turn(link_transport& transport, const unsigned char* frame, int length, uint64_t turn)
{
    fpga_manage* m = fpga_manage::p_fpga_manage;
    if (!m) {
        g_passthrough_turns.abandon(turn);
        return false;
    }
    const unsigned char code = transport.passby_code();
    const PassThroughTurn oneAtATime(turn);
    uint64_t boundUs = 0;
    {
        FpgaMutexHold hold(m->fpga_link_mutex);
        transport.waiting_passthrough = 1;
        m->fpga_passby_reply = 0;
        g_passby_transports[code] = &transport;
        g_passby_trans_port = code;
        m->Dealwith1_PC_to_eth(length, frame);
        pc_cmd_time = G_timeTicks.load();
        boundUs = m->passby_answer_bound_us(frame, length);
    }
    // Wait for the cards' answer, polling both FPGAs, for as long as what
    // the frame asks may take (a save to flash long, a RAM or register
    // access 5 s); a silent card ends the wait at that bound, and a
    // request that was dropped or reached no linked port does not wait.
    // Every other transport waits for its turn meanwhile.
    const WaitBound bound(boundUs);
    bool answered = false;
    while (boundUs > 0) {
        {
            FpgaMutexHold hold(m->fpga_link_mutex);
            m->reg_IRQ_Dealwith(0, 0);
            m->reg_IRQ_Dealwith(1, 0);
            if (m->fpga_passby_reply.load() == 1 && transport.reply_list_ready()) {
                m->fpga_passby_reply = 0;
                answered = true;
                break;
            }
        }
        if (bound.passed())
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
        // not sent with a later request.
        FpgaMutexHold hold(m->fpga_link_mutex);
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
    give_up_turn();
}

void link_endpoint::reset()
{
    give_up_turn();
    m_phy.reset();
    m_waiting.clear();
}

void link_endpoint::give_up_turn()
{
    if (m_hasTurn)
        g_passthrough_turns.abandon(m_turn);
    m_hasTurn = false;
}

void link_endpoint::take_turn()
{
    if (m_hasTurn || m_waiting.empty())
        return;
    const std::vector<unsigned char>& front = m_waiting.front();
    if (!link_frame::isPassThrough(front.data(), static_cast<int>(front.size())))
        return;
    m_turn = g_passthrough_turns.take();
    m_hasTurn = true;
}

bool link_endpoint::front_waits_for_cards() const
{
    return m_hasTurn && !g_passthrough_turns.up(m_turn);
}

void link_endpoint::receive(const unsigned char* data, size_t length, uint64_t peer, const Sender& send)
{
    m_phy.push(data, length, [&](const unsigned char* body, int n) { serve(body, n, peer, send); });
}

void link_endpoint::take(const unsigned char* data, size_t length)
{
    m_phy.push(data, length, [&](const unsigned char* body, int n) { m_waiting.emplace_back(body, body + n); });
}

void link_endpoint::serve_one(uint64_t peer, const Sender& send)
{
    if (m_waiting.empty())
        return;
    const std::vector<unsigned char> body = std::move(m_waiting.front());
    m_waiting.pop_front();
    // A pass-through whose turn was taken while it waited is served in it.
    const bool turnTaken = m_hasTurn;
    m_hasTurn = false;
    serve(body.data(), static_cast<int>(body.size()), peer, send, turnTaken);
}

void link_endpoint::serve(const unsigned char* body, int n, uint64_t peer, const Sender& send, bool turnTaken)
{
    pc_cmd_time = G_timeTicks.load();
    pc_cmd_valid = 1;
    if (link_frame::isPassThrough(body, n)) {
        if (turnTaken)
            passthrough_in_turn(m_transport, body, n, m_turn);
        else
            passthrough_to_cards(m_transport, body, n);
        return;
    }
    message_deal::Origin origin;
    origin.transport = m_transport.passby_code();
    origin.peer = peer;
    const int r = m_deal.message_group_deal(body, n, origin);
    if (r <= 0)
        return;
    const int framed = protocol_phy::data_re_transf_meaning(m_framed, m_deal.reply(), r, nullptr);
    send(m_framed, framed);
}
