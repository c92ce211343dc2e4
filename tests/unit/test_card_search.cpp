// The idle receiving-card search: which port of a pair each sweep searches,
// the answers stored as per-port card counts, silent ports zeroed, and the
// pause while the PC is active.
#include "support/fpga_fixture.h"

#include "core/global.h"
#include "core/le_bytes.h"
#include "core/utils.h"
#include "sim/board.h"
#include "sim/control_channel.h"

namespace {

class CardSearch : public FpgaTest {
protected:
    void SetUp() override
    {
        FpgaTest::SetUp();
        g_change.search_count = 0;
        g_change.search_active = 0;
        mgr().search_sent_mask = 0;
        mgr().search_answer_mask = 0;
    }

    std::string control(const std::string& line) { return sim::Board::instance().control().execute(line); }

    // Marks both FPGAs running in the image and runs one due sweep, then
    // the interrupt polls that collect the answers.
    void sweep()
    {
        mgr().MCU_REG_func[0][80] = 3;
        mgr().MCU_REG_func[1][80] = 3;
        g_change.search_gate = 15;
        G_timeTicks += 80;
        mgr().Search_Card_Cmd();
        for (int k = 0; k < 8; ++k) {
            mgr().reg_IRQ_Dealwith(0, 0);
            mgr().reg_IRQ_Dealwith(1, 0);
        }
    }

    std::string ram1(int fpga, unsigned offset, unsigned n)
    {
        std::string r =
            control("fpga-ram " + std::to_string(fpga) + " 1 " + std::to_string(offset) + " " + std::to_string(n));
        const std::string ok = "\nok\n";
        if (r.size() >= ok.size() && r.compare(r.size() - ok.size(), ok.size(), ok) == 0)
            r.resize(r.size() - ok.size());
        return r;
    }
};

TEST_F(CardSearch, SweepsAlternateBetweenThePortsOfAPairAndStoreTheCounts)
{
    control("cards 1 2");   // FPGA 0 ports 0 and 1: pair 0
    control("cards 2 4");
    control("cards 32 7");  // FPGA 1 port 15

    sweep();   // even ports first
    EXPECT_EQ(model(0).portFrames(0), 1u);
    EXPECT_EQ(model(0).portFrames(1), 0u);
    EXPECT_EQ(model(1).portFrames(15), 1u) << "the only linked port of its pair";
    EXPECT_EQ(mgr().search_sent_mask.load(), (1u << 0) | (1u << 31));
    EXPECT_EQ(ram1(0, 100, 2), "0200");
    EXPECT_EQ(mgr().get_port_card_num(0), 2);
    EXPECT_EQ(mgr().get_port_card_num(31), 7);
    EXPECT_EQ(ram1(1, 668, 2), "0700");

    sweep();   // odd ports first
    EXPECT_EQ(model(0).portFrames(1), 1u);
    EXPECT_EQ(model(0).portFrames(0), 1u);
    EXPECT_EQ(mgr().get_port_card_num(1), 4);
    EXPECT_EQ(ram1(0, 102, 2), "0400");

    // The next sweep's evaluation sums all ports.
    sweep();
    EXPECT_EQ(mgr().total_card_num, 2 + 4 + 7);
    EXPECT_EQ(model(0).waitingAnswers(0), 0u) << "search answers are released";
}

TEST_F(CardSearch, APortWhoseCardsFallSilentIsZeroedAfterAnOddSweep)
{
    control("cards 1 2");
    control("cards 2 4");
    sweep();
    sweep();
    ASSERT_EQ(ram1(0, 102, 2), "0400");
    sweep();   // even: port 0 again
    control("card-fault 2 silent");
    sweep();   // odd: port 1 searched, no answer
    EXPECT_EQ(ram1(0, 102, 2), "0400");
    sweep();   // its evaluation
    EXPECT_EQ(ram1(0, 102, 5), "0000000000");
    EXPECT_EQ(mgr().get_port_card_num(1), 0);
    EXPECT_EQ(ram1(0, 100, 2), "0200") << "the other port keeps its count";

    // A wrong check byte counts as no answer.
    control("card-fault 2 badcheck");
    sweep();
    sweep();
    sweep();
    EXPECT_EQ(mgr().get_port_card_num(1), 0);
    control("card-fault 2 none");
    sweep();
    sweep();
    EXPECT_EQ(mgr().get_port_card_num(1), 4);
}

TEST_F(CardSearch, AnAnswerWithoutItsPortByteIsPlacedByItsChannelAndSource)
{
    control("cards 27 3");   // FPGA 1 port 10: pair 5, place 2 in its group
    mgr().MCU_REG_func[1][80] = 3;
    unsigned char f[30];
    fpga_manage::build_search_frame(f, 10, 0, 0, 0);
    f[29] ^= f[7];
    f[7] = 0;
    mgr().Send_to_port(f, 30, 10, 1);
    mgr().reg_IRQ_Dealwith(1, 0);
    EXPECT_EQ(mgr().get_port_card_num(16 + 10), 3);
    EXPECT_EQ(ram1(1, 648, 2), "0300");
    EXPECT_EQ(mgr().search_answer_mask.load(), 1u << (5 + 8));
}

TEST_F(CardSearch, NoSearchWhileThePcIsActive)
{
    bringUp();
    control("cards 3 6");   // FPGA 0 port 2
    // The PC keeps talking: no search frame goes out.
    const uint64_t before = model(0).portFrames(2);
    for (int t = 0; t < 200; ++t) {
        pc_cmd_valid = 1;
        pc_cmd_time = G_timeTicks.load();
        tick();
    }
    EXPECT_EQ(model(0).portFrames(2), before);
    // Once it is quiet for more than 80 ticks the search runs again.
    ASSERT_GT(runUntil([this] { return mgr().get_port_card_num(2) == 6; }, 400), 80);
    EXPECT_EQ(pc_cmd_valid.load(), 0);
    EXPECT_EQ(ram1(0, 108, 2), "0600");
}

} // namespace
