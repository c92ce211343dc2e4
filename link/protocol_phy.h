// Framing of the PC control protocol. On the wire a frame is three 0xA5
// bytes, the escaped body and 0x5A. Inside the body 0xA5, 0xA6, 0x5A and 0x5B
// are escaped: 0xA5 -> A6 02, 0xA6 -> A6 01, 0x5A -> 5B 02, 0x5B -> 5B 01.
// The body's last byte is the XOR of all bytes before it (Utils::BCC).
//
// A protocol_phy reassembles frames from a byte stream that may be split
// anywhere (UDP datagrams, TCP and serial reads): bytes outside a frame are
// skipped, a frame with a bad escape, a bad check byte, fewer than
// kMinBody bytes or more than kMaxBody bytes is dropped.
#pragma once

#include <cstddef>
#include <functional>

class protocol_phy {
public:
    // Smallest body: ten header bytes and the check byte.
    static constexpr int kMinBody = 11;
    // Largest body accepted from the wire.
    static constexpr int kMaxBody = 65536;
    static constexpr unsigned char kHead = 0xA5;
    static constexpr unsigned char kTail = 0x5A;

    // Counters of what the reassembly dropped (for tests and diagnostics).
    struct Stats {
        unsigned long frames = 0;       // frames delivered
        unsigned long badCheck = 0;     // check byte wrong
        unsigned long badEscape = 0;    // escape byte followed by anything but 01/02
        unsigned long tooShort = 0;     // fewer than kMinBody bytes
        unsigned long tooLong = 0;      // more than kMaxBody bytes
        unsigned long broken = 0;       // a new head inside a body
    };

    using FrameHandler = std::function<void(const unsigned char* body, int length)>;

    protocol_phy();

    // Feeds received bytes; calls onFrame for each complete, un-escaped,
    // check-byte-correct body (check byte included in length). Bytes of an
    // unfinished frame are kept for the next call.
    void push(const unsigned char* data, size_t length, const FrameHandler& onFrame);
    // Forgets a frame in progress (a new peer, a closed connection).
    void reset();
    const Stats& stats() const { return m_stats; }

    // Un-escapes length bytes of a body (without the head and tail bytes)
    // into out (room for length bytes). Returns the body length, or -1 for a
    // bad escape or a head or tail byte inside the body.
    static int data_transf_meaning(unsigned char* out, const unsigned char* in, int length);

    // Frames a reply for sending: three 0xA5, the length bytes of in
    // escaped, 0x5A. out needs room for framed_size(length) bytes. Sets the
    // byte at state (when not null) to 0. Returns the framed length.
    static int data_re_transf_meaning(unsigned char* out, const unsigned char* in, int length,
                                      unsigned char* state);
    static constexpr size_t framed_size(size_t length) { return 2 * length + 4; }

private:
    enum class State { Hunt, Body };
    void drop(unsigned long& counter);
    // Adds body bytes; what goes beyond kMaxBody marks the body too long.
    void keep(unsigned char byte);
    void keep(const unsigned char* bytes, size_t count);

    State m_state = State::Hunt;
    int m_heads = 0;              // consecutive 0xA5 seen while hunting
    bool m_escape = false;        // last body byte was an escape byte
    unsigned char m_escapeByte = 0;
    bool m_overflow = false;      // the body in progress has grown too long
    int m_length = 0;
    unsigned char m_body[kMaxBody];
    Stats m_stats;
};
