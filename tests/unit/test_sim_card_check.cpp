// The simulated receiving cards' check answer, faulty card switch and the
// writes that reach every card.
#include "sim/rcv_card_model.h"

#include <gtest/gtest.h>

namespace {

std::vector<uint8_t> sealed(std::vector<uint8_t> f)
{
    uint8_t x = 0;
    for (uint8_t b : f)
        x ^= b;
    f.push_back(x);
    return f;
}

std::vector<uint8_t> checkFrame(uint8_t port, uint8_t flag, uint32_t config)
{
    std::vector<uint8_t> f(29, 0);
    f[0] = 0xFE;
    f[1] = static_cast<uint8_t>(0x0F | ((port & 3) << 4));
    f[2] = 0x00;
    f[3] = 0xF0;
    f[4] = 0x10;
    f[5] = 0xAA;
    f[6] = 0xFF;
    f[7] = static_cast<uint8_t>(port + 1);
    f[9] = 0x10;
    f[16] = flag;
    for (int i = 0; i < 4; ++i)
        f[17 + i] = static_cast<uint8_t>(config >> (8 * i));
    f[21] = 0xFF;
    return sealed(f);
}

TEST(SimCardCheck, AnswersWithTheConfigIdAndTheFaultyCardUntilARestoreWritesIt)
{
    sim::RcvCardChain chain(2);
    chain.setCards(4);
    auto a = chain.request(checkFrame(2, 1, 0x778899AB));
    ASSERT_EQ(a.size(), 24u);
    EXPECT_EQ(a[18], 0xAB);
    EXPECT_EQ(a[22], 255);
    EXPECT_EQ(a[11], 4);
    // A plain search keeps its short answer.
    EXPECT_EQ(chain.request(checkFrame(2, 0, 0x778899AB)).size(), 16u);

    chain.setFaultyCard(3);
    EXPECT_EQ(chain.request(checkFrame(2, 1, 1))[22], 3);
    // A write to every card does not restore it; one to the card does.
    std::vector<uint8_t> all = {0xFF, 0x0F, 0x00, 0xF0, 0x10, 0x67, 0x01, 0x00, 0x00, 0xA0, 0x05};
    chain.request(sealed(all));
    EXPECT_EQ(chain.faultyCard(), 3);
    std::vector<uint8_t> own = all;
    own[0] = 0x03;
    own[1] = 0x20;
    chain.request(sealed(own));
    EXPECT_EQ(chain.faultyCard(), -1);
    EXPECT_EQ(chain.request(checkFrame(2, 1, 1))[22], 255);

    // Save and the mapping switch to every card.
    std::vector<uint8_t> save = {0xFF, 0x0F, 0x00, 0xF0, 0x10, 0x67, 0x01, 0x03, 0x00, 0x81, 0xFF, 0x00};
    chain.request(sealed(save));
    EXPECT_EQ(chain.saves(0), 1u);
    EXPECT_EQ(chain.saves(3), 1u);
    std::vector<uint8_t> map = {0xFF, 0x0F, 0x00, 0xF0, 0x10, 0x67, 0x01, 0x03, 0x00, 0xA0, 0x03, 0x0F, 0x01, 0x09};
    chain.request(sealed(map));
    EXPECT_EQ(chain.mappingValue(), 9);
}

} // namespace
