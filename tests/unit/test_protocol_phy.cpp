// Framing of the control protocol: escapes, reassembly from streams split
// anywhere, and the frames that are dropped.
#include "link/protocol_phy.h"
#include "pcclient/pc_client.h"

#include <gtest/gtest.h>
#include <vector>

using pcclient::Bytes;

namespace {

struct Collector {
    protocol_phy phy;
    std::vector<Bytes> frames;
    void push(const Bytes& b) { push(b.data(), b.size()); }
    void push(const unsigned char* d, size_t n)
    {
        phy.push(d, n, [this](const unsigned char* body, int len) { frames.emplace_back(body, body + len); });
    }
};

// A request body whose payload holds every special byte.
Bytes specialBody()
{
    return pcclient::buildBody(0xF001, 0x60, Bytes{0xA5, 0xA6, 0x5A, 0x5B, 0x00, 0xA5, 0xA5, 0x5A, 0x01, 0x02});
}

Bytes concat(std::initializer_list<Bytes> parts)
{
    Bytes out;
    for (const Bytes& p : parts)
        out.insert(out.end(), p.begin(), p.end());
    return out;
}

} // namespace

TEST(ProtocolPhy, EscapesEverySpecialByteAndRoundTrips)
{
    const Bytes in{0xA5, 0xA6, 0x5A, 0x5B, 0x10};
    Bytes framed(protocol_phy::framed_size(in.size()));
    unsigned char state = 7;
    const int n = protocol_phy::data_re_transf_meaning(framed.data(), in.data(), static_cast<int>(in.size()), &state);
    framed.resize(static_cast<size_t>(n));
    EXPECT_EQ(framed, (Bytes{0xA5, 0xA5, 0xA5, 0xA6, 0x02, 0xA6, 0x01, 0x5B, 0x02, 0x5B, 0x01, 0x10, 0x5A}));
    EXPECT_EQ(state, 0);

    Bytes back(in.size());
    EXPECT_EQ(protocol_phy::data_transf_meaning(back.data(), framed.data() + 3, n - 4), 5);
    EXPECT_EQ(back, in);
    // Bad escapes and bare head or tail bytes are not a body.
    const Bytes bad1{0xA6, 0x03};
    const Bytes bad2{0x10, 0x5B};
    const Bytes bad3{0x10, 0x5A, 0x11};
    EXPECT_EQ(protocol_phy::data_transf_meaning(back.data(), bad1.data(), 2), -1);
    EXPECT_EQ(protocol_phy::data_transf_meaning(back.data(), bad2.data(), 2), -1);
    EXPECT_EQ(protocol_phy::data_transf_meaning(back.data(), bad3.data(), 3), -1);
}

TEST(ProtocolPhy, ReassemblesAFrameSplitAtEveryPosition)
{
    const Bytes body = specialBody();
    const Bytes wire = pcclient::frameBody(body);
    for (size_t cut = 0; cut <= wire.size(); ++cut) {
        Collector c;
        c.push(wire.data(), cut);
        c.push(wire.data() + cut, wire.size() - cut);
        ASSERT_EQ(c.frames.size(), 1u) << "cut at " << cut;
        EXPECT_EQ(c.frames[0], body);
    }
    // One byte at a time.
    Collector c;
    for (unsigned char b : wire)
        c.push(&b, 1);
    ASSERT_EQ(c.frames.size(), 1u);
    EXPECT_EQ(c.frames[0], body);
}

TEST(ProtocolPhy, SeveralFramesAndGarbageInOneRead)
{
    const Bytes a = pcclient::buildBody(0xF001, 0x61, pcclient::ramReadPayload(0x562, 4));
    const Bytes b = specialBody();
    Collector c;
    // Noise, a lone head pair, a tail with no frame, then two frames back to
    // back with noise between and a fourth head byte before the second.
    c.push(concat({Bytes{0x00, 0x5A, 0xA5, 0xA5, 0x33, 0x5A}, pcclient::frameBody(a), Bytes{0x01, 0x02, 0xA5},
                   pcclient::frameBody(b), Bytes{0x77}}));
    ASSERT_EQ(c.frames.size(), 2u);
    EXPECT_EQ(c.frames[0], a);
    EXPECT_EQ(c.frames[1], b);
    EXPECT_EQ(c.phy.stats().frames, 2u);
}

TEST(ProtocolPhy, DropsBadFramesAndKeepsTheNextGoodOne)
{
    const Bytes good = specialBody();
    Bytes badCheck = good;
    badCheck.back() ^= 0x01;
    Bytes badEscape = pcclient::frameBody(good);
    badEscape[5] = 0xA6;
    badEscape[6] = 0x07;
    Bytes truncated = pcclient::frameBody(good);
    truncated.resize(truncated.size() - 4);   // a new head follows before its tail
    const Bytes tooShort = pcclient::frameBody(Bytes{0x01, 0x02, 0x03, 0x03 ^ 0x01 ^ 0x02});

    Collector c;
    c.push(concat({pcclient::frameBody(badCheck), badEscape, truncated, tooShort, pcclient::frameBody(good)}));
    ASSERT_EQ(c.frames.size(), 1u);
    EXPECT_EQ(c.frames[0], good);
    EXPECT_EQ(c.phy.stats().badCheck, 1u);
    EXPECT_EQ(c.phy.stats().badEscape, 1u);
    EXPECT_EQ(c.phy.stats().broken, 1u);
    EXPECT_EQ(c.phy.stats().tooShort, 1u);
}

TEST(ProtocolPhy, AnOverLongFrameIsDroppedWithoutOverrun)
{
    // A body one byte longer than the limit (65536 bytes), with a correct
    // check byte: the byte beyond the limit (the check byte) comes plain, or
    // escaped.
    Bytes payload(65536 - 10, 0x11);
    Collector c;
    for (const unsigned char beyond : {0x11, 0xA5}) {
        payload.back() = 0;
        payload.back() = pcclient::buildBody(0xF001, 0x60, payload).back() ^ beyond;
        const Bytes body = pcclient::buildBody(0xF001, 0x60, payload);
        ASSERT_EQ(body.size(), 65537u);
        ASSERT_EQ(body.back(), beyond);
        c.push(pcclient::frameBody(body));
        EXPECT_TRUE(c.frames.empty()) << int(beyond);
        EXPECT_EQ(c.phy.stats().tooLong, beyond == 0x11 ? 1u : 2u);
    }

    // A body of exactly the limit passes; so does a frame after the long one.
    payload.pop_back();
    const Bytes fits = pcclient::buildBody(0xF001, 0x60, payload);
    c.push(pcclient::frameBody(fits));
    ASSERT_EQ(c.frames.size(), 1u);
    EXPECT_EQ(c.frames[0].size(), 65536u);

    // A stream that never ends a frame keeps its memory bounded.
    Collector endless;
    endless.push(Bytes{0xA5, 0xA5, 0xA5});
    const Bytes chunk(100000, 0x42);
    endless.push(chunk);
    endless.push(chunk);
    endless.push(pcclient::frameBody(specialBody()));
    EXPECT_EQ(endless.frames.size(), 1u);
}

TEST(ProtocolPhy, ResetForgetsAFrameInProgress)
{
    const Bytes wire = pcclient::frameBody(specialBody());
    Collector c;
    c.push(wire.data(), wire.size() / 2);
    c.phy.reset();
    c.push(wire.data() + wire.size() / 2, wire.size() - wire.size() / 2);
    EXPECT_TRUE(c.frames.empty());
    c.push(wire);
    EXPECT_EQ(c.frames.size(), 1u);
}
