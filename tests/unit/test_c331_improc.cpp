// Image-processing blocks of input channels 0 to 3, the memory control and
// the scaler coefficient loaders, checked in the simulated chip.
#include "support/c331_fixture.h"

namespace {

class C331Improc : public C331Test {
protected:
    // Window 0 on chip port `port`, owning input channel ich.
    void owner(int port, int ich, int state, int vw, int ip = 0)
    {
        m->PM_INPUT[0] = port;
        m->g_ich_win[ich] = 0;
        m->rebuild_win_ich();
        m->PI_PORT_INFO[port].STATE = state;
        m->PI_PORT_INFO[port].IP = ip;
        m->PI_ACT[port] = {192, 1280, 25, vw};
    }
};

TEST_F(C331Improc, BlockReductionByFormatAndLevel)
{
    owner(1, 0, 4, 720);
    m->PM_BNR[1] = 2;
    m->set_ip(m->c331_fd, 0);
    EXPECT_EQ(reg(0x153B01), 160u);
    EXPECT_EQ(reg(0x154D02), 171u);
    EXPECT_EQ(reg(0x150801), 3u);

    // 1080i (fields of 540 lines): the NR enable stays 0.
    owner(2, 1, 5, 540, 1);
    m->PM_BNR[2] = 1;
    m->set_ip(m->c331_fd, 1);
    EXPECT_EQ(reg(0x154D02, 16), 384u);
    EXPECT_EQ(reg(0x153B01, 16), 144u);
    EXPECT_EQ(reg(0x150801, 16), 0u);
    EXPECT_EQ(reg(0x142C01, 16), 0x33u);
    EXPECT_EQ(reg(0x171C04, 16), m->PS_MEM_IP_I[1][0]) << "interlaced field addresses";
    EXPECT_EQ(reg(0x165B01, 16), 1u);

    // An unusual height writes no block-reduction set.
    owner(3, 2, 4, 1000);
    m->PM_BNR[3] = 3;
    chip().clearFrames();
    m->set_ip(m->c331_fd, 2);
    EXPECT_TRUE(writesTo(0x153B01, 32).empty());
    EXPECT_EQ(reg(0x150801, 32), 3u);
}

TEST_F(C331Improc, ShortRoadAndChannelsBeyondThree)
{
    owner(0, 3, 4, 1080);
    chip().setReg(0x157001, 0x55, 48);
    m->set_ip(m->c331_fd, 3);
    EXPECT_EQ(reg(0x157001, 48), 0u);
    EXPECT_EQ(reg(0x120801, 48), 0u);
    EXPECT_EQ(reg(0x171804, 48), m->PS_MEM_IP_P[3][0]);
    EXPECT_EQ(reg(0x171C04, 48), m->PS_MEM_IP_P[3][1]);
    EXPECT_EQ(reg(0x165B01, 48), 0u);

    owner(0, 4, 4, 1080);
    m->PM_BNR[0] = 1;
    chip().clearFrames();
    m->set_ip(m->c331_fd, 4);
    m->set_nr(m->c331_fd, 4, 0);
    EXPECT_EQ(registerFrames(), 0u);

    // A V-by-One port owning a low channel has no levels (never indexed
    // beyond the four CMOS inputs).
    owner(4, 0, 4, 1080);
    m->set_ip(m->c331_fd, 0);
    EXPECT_EQ(reg(0x150801), 0u);
}

TEST_F(C331Improc, MemoryControlAndWriteMode)
{
    owner(1, 2, 4, 1080);
    m->g_ich_win[3] = 0;
    m->rebuild_win_ich();
    m->PM_TNR[1] = 1;
    m->set_mct(m->c331_fd, 0, 0);
    EXPECT_EQ(reg(0x000801 + 0x200), 0x1Fu);
    EXPECT_EQ(reg(0x100901, 32), 1u);
    EXPECT_EQ(reg(0x150801, 32), 1u);
    EXPECT_EQ(reg(0x000801 + 0x300), 0x11u);
    EXPECT_EQ(reg(0x100901, 48), 10u);

    m->PM_MEM_WMODE[0] = 3;
    m->set_iscwct(m->c331_fd, 0);
    EXPECT_EQ(reg(0x007101 + 0x200), 0x11u);
    EXPECT_EQ(reg(0x007101 + 0x300), 0x11u);
}

TEST_F(C331Improc, CoefficientLoaders)
{
    EXPECT_EQ(c331_manage::lut_shrink_set(65001), 44);
    EXPECT_EQ(c331_manage::lut_shrink_set(65000), 38);
    EXPECT_EQ(c331_manage::lut_shrink_set(0), 44);
    EXPECT_EQ(c331_manage::lut_4sym_row(65536), 9);
    EXPECT_EQ(c331_manage::lut_4sym_row(13107), 1);
    EXPECT_EQ(c331_manage::lut_4sym_row(0), 1);

    m->set_lut_hshrnk(m->c331_fd, 30000, 2, 1);
    EXPECT_EQ(reg(0x007901), 4u);
    EXPECT_EQ(writesTo(0x007A01), (std::vector<uint8_t>{139, 143}));

    // Vertical shrink: channels 4 and 5 load a pair of sets; channels 0 to
    // 3 one set, or a pair when the channel's filter has 4 taps or more.
    chip().clearFrames();
    m->set_lut_vshrnk(m->c331_fd, 20000, 5);
    EXPECT_EQ(reg(0x007901), 2u);
    EXPECT_EQ(writesTo(0x007A01), (std::vector<uint8_t>{154, 158}));
    chip().clearFrames();
    m->set_lut_vshrnk(m->c331_fd, 20000, 3);
    EXPECT_EQ(writesTo(0x007A01), (std::vector<uint8_t>{142}));
    chip().clearFrames();
    m->PS_VSHRNK_TAPS[3] = 4;
    m->set_lut_vshrnk(m->c331_fd, 20000, 3);
    EXPECT_EQ(writesTo(0x007A01), (std::vector<uint8_t>{138, 142}));
    chip().clearFrames();
    m->set_lut_vshrnk(m->c331_fd, 20000, 6);
    EXPECT_TRUE(writesTo(0x007A01).empty()) << "no channel 6";

    m->set_lut_vshrnk_4sym(m->c331_fd, 36000, 1, 1);   // row 4
    EXPECT_EQ(reg(0x116801, 16), 0u);
    EXPECT_EQ(reg(0x117001, 16), 1u);
    EXPECT_EQ(reg(0x117F01, 16), 30u);
    EXPECT_EQ(reg(0x217F01, 16), 30u);
    m->set_lut_vshrnk_4sym(m->c331_fd, 40000, 1, 0);   // row 5: -3 as 253
    EXPECT_EQ(reg(0x117001, 16), 253u);
    EXPECT_EQ(reg(0x217F01, 16), 30u) << "the partner bank only with dual";
}

TEST_F(C331Improc, InterlaceBlocksByState)
{
    owner(2, 1, 7, 240, 1);
    m->PM_MVFLT[2] = 4;
    m->PM_DIAG[2] = 3;
    m->PM_COMB[2] = 3;
    m->PM_22PD[2] = 1;
    m->PM_22PDSQTH[2] = 5;
    m->PM_23PDSQTH[2] = 2;
    m->set_ip(m->c331_fd, 1);
    EXPECT_EQ(reg(0x141501, 16), 31u);
    EXPECT_EQ(reg(0x142101, 16), 31u);
    EXPECT_EQ(reg(0x145F01, 16), 49u);
    EXPECT_EQ(reg(0x143C01, 16), 112u);
    EXPECT_EQ(reg(0x142E01, 16), 0x0Du);
    EXPECT_EQ(reg(0x143901, 16), 0xC2u);
    EXPECT_EQ(reg(0x142C01, 16), 0x72u);
    EXPECT_EQ(reg(0x143001, 16), 0x52u);
    EXPECT_EQ(reg(0x142A01, 16), 0x20u);
    EXPECT_EQ(reg(0x146701, 16), 8u);
}

} // namespace
