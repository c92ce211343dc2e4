#include "link/protocol_phy.h"

#include "core/utils.h"

#include <cstring>

namespace {

constexpr unsigned char kEscA6 = 0xA6;
constexpr unsigned char kEsc5B = 0x5B;

// The byte an escape pair stands for, or -1 when the pair is not one.
int unescape(unsigned char escape, unsigned char code)
{
    if (escape == kEscA6)
        return code == 0x02 ? 0xA5 : (code == 0x01 ? 0xA6 : -1);
    return code == 0x02 ? 0x5A : (code == 0x01 ? 0x5B : -1);
}

// A tail or head byte, or an escape byte (0x5A, 0x5B, 0xA5, 0xA6).
bool isSpecial(unsigned char b)
{
    return static_cast<unsigned char>(b - protocol_phy::kTail) <= 1 ||
           static_cast<unsigned char>(b - protocol_phy::kHead) <= 1;
}

// Where the run of plain bytes from `from` ends: the next special byte, or
// the end.
size_t plainEnd(const unsigned char* data, size_t from, size_t length)
{
    while (from < length && !isSpecial(data[from]))
        ++from;
    return from;
}

} // namespace

protocol_phy::protocol_phy() = default;

void protocol_phy::reset()
{
    m_state = State::Hunt;
    m_heads = 0;
    m_escape = false;
    m_overflow = false;
    m_length = 0;
}

void protocol_phy::drop(unsigned long& counter)
{
    ++counter;
    reset();
}

inline void protocol_phy::keep(unsigned char byte)
{
    if (m_length < kMaxBody)
        m_body[m_length++] = byte;
    else
        m_overflow = true;
}

inline void protocol_phy::keep(const unsigned char* bytes, size_t count)
{
    const size_t room = static_cast<size_t>(kMaxBody - m_length);
    const size_t kept = count < room ? count : room;
    std::memcpy(m_body + m_length, bytes, kept);
    m_length += static_cast<int>(kept);
    m_overflow = m_overflow || count > room;
}

void protocol_phy::push(const unsigned char* data, size_t length, const FrameHandler& onFrame)
{
    for (size_t i = 0; i < length; ++i) {
        if (m_state == State::Body && !m_escape) {
            // The plain bytes up to the next head, tail or escape byte go
            // into the body at once.
            const size_t plain = plainEnd(data, i, length);
            keep(data + i, plain - i);
            i = plain;
            if (i == length)
                break;
        }
        const unsigned char b = data[i];
        if (m_state == State::Hunt) {
            if (b == kHead) {
                ++m_heads;
                continue;
            }
            // Three heads (or more) and then the first body byte.
            if (m_heads < 3) {
                m_heads = 0;
                continue;
            }
            m_state = State::Body;
            m_length = 0;
            m_escape = false;
            m_overflow = false;
        }

        // Inside a body.
        if (b == kHead) {
            // A new frame begins before this one ended: this one is lost.
            drop(m_stats.broken);
            m_heads = 1;
            continue;
        }
        if (b == kTail) {
            if (m_escape) {
                drop(m_stats.badEscape);
            } else if (m_overflow) {
                drop(m_stats.tooLong);
            } else if (m_length < kMinBody) {
                drop(m_stats.tooShort);
            } else if (Utils::BCC(m_body, static_cast<unsigned>(m_length - 1)) != m_body[m_length - 1]) {
                drop(m_stats.badCheck);
            } else {
                const int n = m_length;
                reset();
                ++m_stats.frames;
                onFrame(m_body, n);
            }
            continue;
        }
        if (m_escape) {
            m_escape = false;
            const int v = unescape(m_escapeByte, b);
            if (v < 0) {
                drop(m_stats.badEscape);
                continue;
            }
            keep(static_cast<unsigned char>(v));
            continue;
        }
        if (b == kEscA6 || b == kEsc5B) {
            m_escape = true;
            m_escapeByte = b;
            continue;
        }
        keep(b);
    }
}

int protocol_phy::data_transf_meaning(unsigned char* out, const unsigned char* in, int length)
{
    int n = 0;
    for (int i = 0; i < length; ++i) {
        const unsigned char b = in[i];
        if (b == kHead || b == kTail)
            return -1;
        if (b == kEscA6 || b == kEsc5B) {
            if (i + 1 >= length)
                return -1;
            const int v = unescape(b, in[++i]);
            if (v < 0)
                return -1;
            out[n++] = static_cast<unsigned char>(v);
        } else {
            out[n++] = b;
        }
    }
    return n;
}

int protocol_phy::data_re_transf_meaning(unsigned char* out, const unsigned char* in, int length,
                                         unsigned char* state)
{
    int n = 0;
    out[n++] = kHead;
    out[n++] = kHead;
    out[n++] = kHead;
    for (int i = 0; i < length; ++i) {
        // The plain bytes up to the next special one go as they are.
        const int plain = static_cast<int>(plainEnd(in, static_cast<size_t>(i), static_cast<size_t>(length)));
        std::memcpy(out + n, in + i, static_cast<size_t>(plain - i));
        n += plain - i;
        i = plain;
        if (i == length)
            break;
        switch (in[i]) {
        case 0xA5: out[n++] = kEscA6; out[n++] = 0x02; break;
        case 0xA6: out[n++] = kEscA6; out[n++] = 0x01; break;
        case 0x5A: out[n++] = kEsc5B; out[n++] = 0x02; break;
        case 0x5B: out[n++] = kEsc5B; out[n++] = 0x01; break;
        }
    }
    out[n++] = kTail;
    if (state)
        *state = 0;
    return n;
}
