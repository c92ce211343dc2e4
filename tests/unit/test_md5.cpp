// MD5 digest: RFC 1321 test suite, streaming in chunks, digest in the middle
// of a stream.
#include "core/md5.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace {

std::string md5Of(const std::string& s)
{
    MD5 m(s.data(), s.size());
    return m.toString();
}

std::string pseudoRandom(size_t n, unsigned seed)
{
    std::mt19937 rng(seed);
    std::string s(n, '\0');
    for (auto& c : s)
        c = static_cast<char>(rng() & 0xFF);
    return s;
}

} // namespace

TEST(Md5Vectors, Rfc1321TestSuite)
{
    const std::pair<const char*, const char*> cases[] = {
        {"", "d41d8cd98f00b204e9800998ecf8427e"},
        {"a", "0cc175b9c0f1b6a831c399e269772661"},
        {"abc", "900150983cd24fb0d6963f7d28e17f72"},
        {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
        {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
        {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789",
         "d174ab98d277d9f5a5611c2c9f419d9f"},
        {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
         "57edf4a22be3c955ac49da2e2107b67a"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(md5Of(c.first), c.second) << "input \"" << c.first << "\"";
}

TEST(Md5Vectors, EmptyDigestOfFreshObjectAndRawBytes)
{
    MD5 m;
    EXPECT_EQ(m.toString(), "d41d8cd98f00b204e9800998ecf8427e");
    const unsigned char expected[16] = {0xd4, 0x1d, 0x8c, 0xd9, 0x8f, 0x00, 0xb2, 0x04,
                                        0xe9, 0x80, 0x09, 0x98, 0xec, 0xf8, 0x42, 0x7e};
    EXPECT_EQ(0, memcmp(m.digest(), expected, 16));
}

TEST(Md5Vectors, MillionLetterA)
{
    const std::string big(1000000, 'a');
    EXPECT_EQ(md5Of(big), "7707d6ae4e027c70eea2a935c2296f21");
}

TEST(Md5Vectors, LengthsAroundThePaddingBoundary)
{
    // 55 bytes pad within the block, 56 and 64 bytes need a second block.
    EXPECT_EQ(md5Of(std::string(55, 'a')), "ef1772b6dff9a122358552954ad0df65");
    EXPECT_EQ(md5Of(std::string(56, 'a')), "3b0c8ac703f828b04c6c197006d17218");
    EXPECT_EQ(md5Of(std::string(64, 'a')), "014842d480b571495a4a0363793f7367");
}

TEST(Md5Streaming, ChunksOfRandomSizesEqualOneShot)
{
    for (unsigned seed = 1; seed <= 8; ++seed) {
        const std::string msg = pseudoRandom(10000 + seed * 37, seed);
        const std::string whole = md5Of(msg);
        std::mt19937 rng(seed * 1000);
        MD5 m;
        size_t pos = 0;
        while (pos < msg.size()) {
            size_t n = rng() % 150; // includes zero-length chunks
            if (n > msg.size() - pos)
                n = msg.size() - pos;
            m.update(reinterpret_cast<const unsigned char*>(msg.data() + pos), n);
            pos += n;
        }
        EXPECT_EQ(m.toString(), whole) << "seed " << seed;
    }
}

TEST(Md5Streaming, ChunkedMillionLetterA)
{
    MD5 m;
    const std::string chunk(997, 'a');
    size_t left = 1000000;
    while (left) {
        const size_t n = std::min(left, chunk.size());
        m.update(chunk.data(), n);
        left -= n;
    }
    EXPECT_EQ(m.toString(), "7707d6ae4e027c70eea2a935c2296f21");
}

TEST(Md5Streaming, DigestThenContinueEqualsDigestOfWhole)
{
    const std::string msg = pseudoRandom(300, 42);
    const std::string whole = md5Of(msg);
    // Split points on both sides of the padding boundaries of a block.
    for (size_t k : {0u, 1u, 10u, 55u, 56u, 57u, 60u, 63u, 64u, 65u, 119u, 120u, 127u, 128u, 200u, 300u}) {
        MD5 m;
        m.update(msg.data(), k);
        EXPECT_EQ(m.toString(), md5Of(msg.substr(0, k))) << "prefix " << k;
        m.update(msg.data() + k, msg.size() - k);
        EXPECT_EQ(m.toString(), whole) << "split at " << k;
    }
}

TEST(Md5Streaming, DigestTwiceReturnsSameBytes)
{
    MD5 m("message digest", 14);
    const unsigned char* p1 = m.digest();
    std::vector<unsigned char> first(p1, p1 + 16);
    const unsigned char* p2 = m.digest();
    EXPECT_EQ(std::vector<unsigned char>(p2, p2 + 16), first);
    EXPECT_EQ(MD5::bytesToHexString(p2, 16), "f96b697d7cb7938d525a2f31aaf161d0");
}

TEST(Md5Streaming, ResetStartsAFreshDigest)
{
    MD5 m("abc", 3);
    EXPECT_EQ(m.toString(), "900150983cd24fb0d6963f7d28e17f72");
    m.reset();
    EXPECT_EQ(m.toString(), "d41d8cd98f00b204e9800998ecf8427e");
    m.update("a", 1);
    EXPECT_EQ(m.toString(), "0cc175b9c0f1b6a831c399e269772661");
}

TEST(Md5Helpers, HexStringAndConstants)
{
    const unsigned char bytes[] = {0x00, 0x0f, 0xf0, 0xab, 0x9c};
    EXPECT_EQ(MD5::bytesToHexString(bytes, sizeof bytes), "000ff0ab9c");
    EXPECT_EQ(MD5::bytesToHexString(bytes, 0), "");
    EXPECT_EQ(std::string(MD5::HEX, 16), "0123456789abcdef");
    EXPECT_EQ(MD5::PADDING[0], 0x80);
    for (int i = 1; i < 64; ++i)
        EXPECT_EQ(MD5::PADDING[i], 0) << i;
}
