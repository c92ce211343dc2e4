// What the four transports of the control link have in common: each owns a
// protocol_phy and a message_deal, hands every valid frame either to the
// receiving cards (pass-through) or to the dispatcher, and sends replies
// back on the transport the frame came from.
#pragma once

#include "link/message_deal.h"
#include "link/protocol_phy.h"

#include <atomic>
#include <cstdint>
#include <cstring>
#include <deque>
#include <functional>
#include <vector>

class link_transport {
public:
    virtual ~link_transport();

    // The code this transport records in g_passby_trans_port.
    virtual unsigned char passby_code() const = 0;
    // Whether the reply list holds a record (the cards' answer queued for
    // the PC by the sending card).
    virtual bool reply_list_ready() = 0;
    // Sends the records of the reply list and empties it.
    virtual void send_reply_list() = 0;
    // Replaces the reply list by one record of framed bytes addressed to the
    // peer of the last request (called by the sending card).
    virtual void queue_reply(const unsigned char* framed, int length) = 0;

    // The transport's framing object; the sending card frames the cards'
    // answers with it.
    protocol_phy phy;
    // 1 while the thread serving a request of this transport waits for the
    // cards' answer.
    std::atomic<unsigned char> waiting_passthrough{0};
};

// Hands one pass-through frame (destination below 0xF000, source 0xF010) to
// the sending card and has the cards' answer sent back on the transport.
// Returns false when the frame was dropped. This is the one place where the
// pass-through joins the control link.
bool passthrough_to_cards(link_transport& transport, const unsigned char* frame, int length);

// Replaces a transport's reply list by one record holding framed bytes
// (cut to the record's room); the record, for the caller's peer fields.
template <typename List>
typename List::value_type& link_replace_reply(List& list, const unsigned char* framed, int length)
{
    list.clear();
    list.emplace_back();
    auto& r = list.back();
    const size_t n = length < 0 ? 0 : static_cast<size_t>(length);
    r.length = static_cast<uint32_t>(n <= sizeof(r.data) ? n : sizeof(r.data));
    std::memcpy(r.data, framed, r.length);
    return r;
}

// The program leaves: no request to the processor is served any more, on
// any transport (none is answered); those being served are waited for up
// to boundMs (false when one still runs then: it is not answered). Once it
// returns, every change answered is in the store, and none is answered
// later.
bool link_stop_serving(int boundMs);
// The requests to the processor being served now (counted in, see above).
int link_requests_in_service();

// Queues one card answer (un-escaped) on the transport whose pass-through
// code is `code`: the transport that last passed a frame through with that
// code. False when no such transport exists (the answer is dropped).
bool link_queue_passby_reply(unsigned char code, const unsigned char* frame, int length);

// The receive side of one stream (a serial port, a TCP connection, the UDP
// socket): reassembly, dispatch and replies.
class link_endpoint {
public:
    using Sender = std::function<void(const unsigned char* data, int length)>;

    explicit link_endpoint(link_transport& transport);
    ~link_endpoint();
    link_endpoint(const link_endpoint&) = delete;
    link_endpoint& operator=(const link_endpoint&) = delete;

    // Feeds received bytes from a peer and serves every frame they
    // complete; replies go to send.
    void receive(const unsigned char* data, size_t length, uint64_t peer, const Sender& send);
    // Bounds on what a PC may have waiting: its frames and bytes, and the
    // bytes of every PC of the transport together (`allBytes`, counting
    // those this stream takes). A frame beyond any is dropped whole.
    struct Bounds {
        size_t frames;
        size_t bytes;
        size_t allBytesBound;
        size_t* allBytes;
    };
    // Feeds received bytes; the frames they complete wait, in order, to be
    // served one at a time (a stream whose requests must not hold others).
    void take(const unsigned char* data, size_t length, const Bounds* bounds = nullptr);
    // Forgets a frame in progress, keeping the complete frames waiting (a
    // datagram of the stream was lost: no frame is joined across the gap).
    void drop_partial() { m_phy.reset(); }
    bool pending() const { return !m_waiting.empty(); }
    size_t waiting_bytes() const { return m_waitingBytes; }
    // Takes a ticket in the pass-through line (see PassThroughLine) for the
    // oldest waiting frame when it is a pass-through without one. A
    // transport calls it when the stream takes its place in the
    // transport's own line (behind what arrived while the previous request
    // was served), so that the two lines keep the same order.
    void take_ticket();
    // True while the oldest waiting frame is a pass-through whose ticket,
    // taken, is not up: a transport serves other streams meanwhile. Asks,
    // changes nothing.
    bool front_waits_for_ticket() const;
    // Gives back the ticket taken for the oldest waiting frame
    // (take_ticket() takes a new one, behind the others).
    void give_up_ticket();
    // The oldest waiting frame, taken from the line with the pass-through
    // ticket taken for it, to be served by serve() (by one thread, while
    // others may go on feeding the stream).
    struct Job {
        std::vector<unsigned char> body;
        bool ticketTaken = false;
        uint64_t ticket = 0;
    };
    Job next();
    // Serves a job taken by next() (nothing for an empty one); replies go
    // to send.
    void serve(Job& job, uint64_t peer, const Sender& send);
    // Takes the oldest waiting frame and serves it.
    void serve_one(uint64_t peer, const Sender& send)
    {
        Job job = next();
        serve(job, peer, send);
    }
    // Forgets a frame in progress and the frames waiting.
    void reset();
    const protocol_phy::Stats& stats() const { return m_phy.stats(); }

private:
    void serve(const unsigned char* body, int n, uint64_t peer, const Sender& send, const uint64_t* ticket);

    link_transport& m_transport;
    std::deque<std::vector<unsigned char>> m_waiting;
    size_t m_waitingBytes = 0;
    // The pass-through ticket taken for the oldest waiting frame.
    bool m_hasTicket = false;
    uint64_t m_ticket = 0;
    protocol_phy m_phy;
    message_deal m_deal;
    unsigned char m_framed[protocol_phy::framed_size(message_deal::kMaxReply)];
};
