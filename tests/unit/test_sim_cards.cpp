// The simulated FPGAs' port engine and the receiving cards behind the
// ports, driven through the FPGA manager's SPI accessors.
#include "support/fpga_fixture.h"

#include "core/le_bytes.h"
#include "core/utils.h"
#include "sim/board.h"
#include "sim/control_channel.h"

#include <vector>

namespace {

class SimCards : public FpgaTest {
protected:
    std::string control(const std::string& line) { return sim::Board::instance().control().execute(line); }

    // Sends a frame on a port of an FPGA as the sending card does.
    void send(const std::vector<unsigned char>& f, unsigned port, unsigned char fpga)
    {
        mgr().Send_to_port(f.data(), static_cast<unsigned short>(f.size()), static_cast<unsigned short>(port), fpga);
    }

    unsigned char reg(unsigned r, unsigned char fpga)
    {
        unsigned char v = 0;
        EXPECT_EQ(mgr().read_fpga_register(r, &v, fpga), 1);
        return v;
    }

    // The answer shown in receive channel p: its length from the length
    // registers and its bytes from the channel's RAM block.
    std::vector<unsigned char> shown(unsigned p, unsigned char fpga)
    {
        static const unsigned lowRegs[8] = {24, 133, 135, 137, 149, 150, 151, 152};
        const unsigned high = (reg(p < 4 ? 25 : 153, fpga) >> (2 * (p & 3))) & 3;
        const unsigned length = (reg(lowRegs[p], fpga) | (high << 8)) + 1;
        std::vector<unsigned char> out(length);
        mgr().read_fpga_ram(out.data(), 0, static_cast<int>(length), 2 + 2 * p, fpga);
        return out;
    }

    void release(unsigned p, unsigned char fpga)
    {
        const unsigned char bit = static_cast<unsigned char>(1u << (p & 3));
        mgr().write_fpga_register(p < 4 ? 130 : 146, bit, fpga, bit);
    }

    static std::vector<unsigned char> search(unsigned port)
    {
        std::vector<unsigned char> f(30);
        fpga_manage::build_search_frame(f.data(), static_cast<unsigned short>(port), 0, 0, 0);
        return f;
    }

    static bool checkOk(const std::vector<unsigned char>& f)
    {
        return !f.empty() && Utils::BCC(f.data(), static_cast<unsigned>(f.size() - 1)) == f.back();
    }
};

TEST_F(SimCards, ASearchIsAnsweredWithTheCardCountInTheReceiveChannel)
{
    ASSERT_EQ(control("cards 4 300 mf"), "ok\n");   // FPGA 0 port 3: pair 1
    EXPECT_EQ(mgr().fpga_irq_line(0), 0);
    send(search(3), 3, 0);

    EXPECT_EQ(model(0).portFrames(3), 1u);
    EXPECT_EQ(reg(129, 0) & 0x55, 0x04) << "pair 1 ready";
    EXPECT_EQ(mgr().fpga_irq_line(0), 1);
    EXPECT_EQ(mgr().fpga_irq_line(1), 0);
    const std::vector<unsigned char> a = shown(1, 0);
    ASSERT_EQ(a.size(), 16u);
    EXPECT_EQ(le16(a.data(), 0), 0xF000) << "to the requester";
    EXPECT_EQ(le16(a.data(), 2), 0x3000) << "card 0 with the port bits";
    EXPECT_EQ(a[5], 0xAA);
    EXPECT_EQ(a[7], 4);
    EXPECT_EQ(a[9], 0x10);
    EXPECT_EQ(a[10], 0);
    EXPECT_EQ(le16(a.data(), 11), 300);
    EXPECT_EQ(a[13], 1) << "multi-function card";
    EXPECT_TRUE(checkOk(a));

    release(1, 0);
    EXPECT_EQ(reg(129, 0) & 0x55, 0);
    EXPECT_EQ(mgr().fpga_irq_line(0), 0);
}

TEST_F(SimCards, AnswersQueueInTheirPairUntilReleased)
{
    control("cards 27 2");   // FPGA 1 port 10: pair 5
    control("cards 28 5");   // FPGA 1 port 11: same pair
    send(search(10), 10, 1);
    send(search(11), 11, 1);
    EXPECT_EQ(model(1).waitingAnswers(5), 2u);
    EXPECT_EQ(reg(145, 1) & 0x55, 0x04);
    EXPECT_EQ(le16(shown(5, 1).data(), 11), 2);
    release(5, 1);
    EXPECT_EQ(le16(shown(5, 1).data(), 11), 5);
    EXPECT_EQ(le16(shown(5, 1).data(), 2), 0x3000);
    release(5, 1);
    EXPECT_EQ(model(1).waitingAnswers(5), 0u);
    EXPECT_EQ(mgr().fpga_irq_line(1), 0);
}

TEST_F(SimCards, OnlyAddressedCardsOfALinkedPortAnswer)
{
    control("cards 2 3");   // FPGA 0 port 1
    unsigned char f[fpga_manage::kMaxPortFrame];
    // Card 2 of 3 answers from its own address.
    const unsigned char data[4] = {1, 2, 3, 4};
    mgr().load_write_ram_cmd_create(1, 2, 0x40, data, 4, f, 0);
    send(std::vector<unsigned char>(f, f + 23), 1, 0);
    ASSERT_EQ(model(0).waitingAnswers(0), 1u);
    std::vector<unsigned char> a = shown(0, 0);
    EXPECT_EQ(le16(a.data(), 2), 0x1002);
    EXPECT_EQ(a[9], 0x60);
    EXPECT_TRUE(checkOk(a));
    release(0, 0);
    EXPECT_EQ(model(0).cards(1).cardRam(2, 0x40, 4), std::vector<uint8_t>({1, 2, 3, 4}));
    EXPECT_EQ(model(0).cards(1).log(2).size(), 1u);

    // Card 3 does not exist; a frame with a wrong check byte is not taken.
    mgr().load_write_ram_cmd_create(1, 3, 0x40, data, 4, f, 0);
    send(std::vector<unsigned char>(f, f + 23), 1, 0);
    mgr().load_write_ram_cmd_create(1, 2, 0x40, data, 4, f, 0);
    f[22] ^= 1;
    send(std::vector<unsigned char>(f, f + 23), 1, 0);
    EXPECT_EQ(model(0).waitingAnswers(0), 0u);
    EXPECT_EQ(model(0).cards(1).requests(), 3u);

    // A frame to every card (0x0FFF) reaches all three and stands in each
    // card's log; card 0 answers it.
    mgr().load_write_ram_cmd_create(1, 0, 0x80, data, 4, f, 1);
    send(std::vector<unsigned char>(f, f + 23), 1, 0);
    ASSERT_EQ(model(0).waitingAnswers(0), 1u);
    EXPECT_EQ(le16(shown(0, 0).data(), 2), 0x1000);
    release(0, 0);
    for (unsigned c = 0; c < 3; ++c) {
        ASSERT_EQ(model(0).cards(1).log(c).size(), c == 2 ? 2u : 1u) << "card " << c;
        EXPECT_EQ(le16(model(0).cards(1).log(c).back().data(), 0), 0x0FFF) << "card " << c;
        EXPECT_EQ(model(0).cards(1).cardRam(c, 0x80, 4), std::vector<uint8_t>({1, 2, 3, 4})) << "card " << c;
    }

    // One silent card takes its frames and answers none; with card 0
    // silent a frame to every card goes unanswered, yet every card takes
    // it.
    EXPECT_EQ(control("card-silent 2 0 on"), "ok\n");
    EXPECT_NE(control("card-silent 2 0 loud").find("usage"), std::string::npos);
    EXPECT_NE(control("card-silent 2 4095 on").find("usage"), std::string::npos);
    mgr().load_write_ram_cmd_create(1, 0, 0x90, data, 4, f, 1);
    send(std::vector<unsigned char>(f, f + 23), 1, 0);
    EXPECT_EQ(model(0).waitingAnswers(0), 0u);
    for (unsigned c = 0; c < 3; ++c)
        EXPECT_EQ(model(0).cards(1).cardRam(c, 0x90, 4), std::vector<uint8_t>({1, 2, 3, 4})) << "card " << c;
    mgr().load_write_ram_cmd_create(1, 0, 0x40, data, 4, f, 0);
    send(std::vector<unsigned char>(f, f + 23), 1, 0);
    EXPECT_EQ(model(0).waitingAnswers(0), 0u) << "card 0 is silent";
    mgr().load_write_ram_cmd_create(1, 2, 0x40, data, 4, f, 0);
    send(std::vector<unsigned char>(f, f + 23), 1, 0);
    ASSERT_EQ(model(0).waitingAnswers(0), 1u) << "card 2 answers";
    EXPECT_EQ(le16(shown(0, 0).data(), 2), 0x1002);
    release(0, 0);
    EXPECT_EQ(control("card-silent 2 0 off"), "ok\n");
    mgr().load_write_ram_cmd_create(1, 0, 0x40, data, 4, f, 0);
    send(std::vector<unsigned char>(f, f + 23), 1, 0);
    EXPECT_EQ(model(0).waitingAnswers(0), 1u);
    release(0, 0);

    // Port 0 of the pair: no cards, no link, no frame.
    send(search(0), 0, 0);
    EXPECT_EQ(model(0).portFrames(0), 0u);
    EXPECT_EQ(model(0).waitingAnswers(0), 0u);
    // Linked without cards: the frame goes out, nothing answers.
    control("fpga-link 0 0 up");
    send(search(0), 0, 0);
    EXPECT_EQ(model(0).portFrames(0), 1u);
    EXPECT_EQ(model(0).waitingAnswers(0), 0u);
}

TEST_F(SimCards, ALongFrameTravelsWithItsTenBitLength)
{
    control("cards 9 1");   // FPGA 0 port 8: pair 4
    std::vector<unsigned char> data(256);
    for (size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<unsigned char>(i);
    unsigned char f[fpga_manage::kMaxPortFrame];
    mgr().load_write_ram_cmd_create(8, 0, 0, data.data(), 256, f, 0);
    send(std::vector<unsigned char>(f, f + 275), 8, 0);
    release(4, 0);
    // Read the 256 bytes back: an answer of 18 + 256 + 1 bytes.
    std::vector<unsigned char> rd = {0x00, 0x00, 0x00, 0xF0, 0x10, 0x67, 0x01, 0x09, 0x00, 0x61,
                                     0,    0,    0,    0,    0x00, 0x01, 0,    0,    0};
    rd.back() = Utils::BCC(rd.data(), 18);
    send(rd, 8, 0);
    const std::vector<unsigned char> a = shown(4, 0);
    ASSERT_EQ(a.size(), 275u);
    EXPECT_EQ((reg(153, 0) & 3), 1) << "bits 8-9 of 274";
    EXPECT_EQ(std::vector<unsigned char>(a.begin() + 18, a.end() - 1), data);
    EXPECT_TRUE(checkOk(a));
}

TEST_F(SimCards, FaultSwitchesAndTheControlCommands)
{
    EXPECT_EQ(control("cards 20 3"), "ok\n");   // FPGA 1 port 3
    EXPECT_EQ(model(1).cards(3).cards(), 3u);
    EXPECT_TRUE(model(1).portLinks() & (1u << 3));
    EXPECT_NE(control("cards 33 1").find("usage"), std::string::npos);
    EXPECT_NE(control("cards 0 1").find("usage"), std::string::npos);
    EXPECT_NE(control("cards 1 4096").find("usage"), std::string::npos);
    EXPECT_NE(control("card-fault 20 loud").find("usage"), std::string::npos);

    EXPECT_EQ(control("card-fault 20 silent"), "ok\n");
    send(search(3), 3, 1);
    EXPECT_EQ(model(1).waitingAnswers(1), 0u);
    const std::string log = control("card-log 20");
    EXPECT_EQ(log.substr(0, 20), "sent 1\nrequests 1\nfe");
    EXPECT_NE(log.find("fe3f00f010aaff04"), std::string::npos) << log;

    control("card-fault 20 badcheck");
    send(search(3), 3, 1);
    ASSERT_EQ(model(1).waitingAnswers(1), 1u);
    EXPECT_FALSE(checkOk(shown(1, 1)));
    release(1, 1);
    control("card-fault 20 none");
    send(search(3), 3, 1);
    EXPECT_TRUE(checkOk(shown(1, 1)));

    control("cards 20 0");
    release(1, 1);
    send(search(3), 3, 1);
    EXPECT_EQ(model(1).waitingAnswers(1), 0u) << "no cards, no answer";
}

} // namespace
