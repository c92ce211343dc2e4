// The chip's output side: the panel set-up from the screen words (channel
// arrangement, timing, registers and the result words in the block), the
// channel allocation of one and two windows, and the output programming
// pass that puts a layout into the chip's channel registers.
#include "support/c331_fixture.h"

#include "core/le_bytes.h"
#include "core/para_layout.h"

#include <vector>

namespace {

class C331Output : public C331Test {
protected:
    void SetUp() override
    {
        C331Test::SetUp();
        for (int l = 0; l < 6; ++l)
            setLe16(store->ram_para, para::layer(l) + para::kLayerEnable, 0);
    }

    void layer(int l, int x, int y, int w, int h, int input = 2)
    {
        const int rec = para::layer(l);
        setLe16(store->ram_para, rec + para::kLayerEnable, 1);
        setLe16(store->ram_para, rec + para::kLayerInput, static_cast<uint16_t>(input));
        setLe16(store->ram_para, rec + para::kLayerX, static_cast<uint16_t>(x));
        setLe16(store->ram_para, rec + para::kLayerY, static_cast<uint16_t>(y));
        setLe16(store->ram_para, rec + para::kLayerW, static_cast<uint16_t>(w));
        setLe16(store->ram_para, rec + para::kLayerH, static_cast<uint16_t>(h));
        setLe16(store->ram_para, rec + para::kLayerMirror, 0);
        setLe16(store->ram_para, rec + para::kLayerOutput, 0);
        setLe16(store->ram_para, para::kLayerPriority + 2 * l, static_cast<uint16_t>(l));
    }

    uint16_t word(int off) { return le16(store->ram_para, off); }
    std::vector<int> list(const uint8_t* l) { return std::vector<int>(l, l + 8); }
    std::vector<int> ints(const int* a, int n) { return std::vector<int>(a, a + n); }
    bool chOn(int c) { return (reg(0x000801 + 0x100u * static_cast<unsigned>(c)) & 1) != 0; }
};

TEST_F(C331Output, UhdScreenWithoutSpliceUsesOneChannelPair)
{
    m->zdrApi_PnlInit2(3840, 2160, 0, 0, 0);
    const ST_OCH_SPEC& o = m->pnl.och;
    EXPECT_EQ(o.use1och, 1);
    EXPECT_EQ(o.arrang, c331::ARRANG2K4_2x1);
    EXPECT_EQ(m->pnl.och_HCnt, 2);
    EXPECT_EQ(m->pnl.och_VCnt, 1);
    EXPECT_EQ(m->pnl.out1w, 3840);
    EXPECT_EQ(m->pnl.out2w, 3840);
    EXPECT_EQ(o.height, 2160);
    EXPECT_GE(o.htt, 3840 + 20);
    EXPECT_EQ(o.width, o.htt - 20);
    EXPECT_GE(o.vtt, 2160 + 12);
    // The result words for the FPGA side.
    EXPECT_EQ(word(1382), 0);
    EXPECT_EQ(word(1384), 0);
    EXPECT_EQ(word(1386), 1);
    EXPECT_EQ(word(1388), 1);
    EXPECT_EQ(word(1390), o.width);
    EXPECT_EQ(word(1392), 2160);
    EXPECT_EQ(word(1394), 0);
    // Timing registers of every channel and the back porch that takes up
    // the rest of the line.
    EXPECT_EQ(m->PS_HBP, o.htt - o.width - 12 - 4);
    for (unsigned c = 0; c < 8; ++c) {
        EXPECT_EQ(reg(0x080A02, 16 * c), static_cast<uint32_t>(o.htt - 2));
        EXPECT_EQ(reg(0x080C02, 16 * c), static_cast<uint32_t>(o.vtt - 2));
        EXPECT_EQ(reg(0x084202, 16 * c) != 0u, true);
        EXPECT_EQ(reg(0x083202, 16 * c), static_cast<uint32_t>(m->PS_OAOIHED));
    }
    EXPECT_EQ(reg(0x034401), 5u);
    EXPECT_EQ(reg(0x034501), 2u);
    EXPECT_EQ(reg(0x035E04), 0x76543210u);
    EXPECT_EQ(reg(0x004B01), 11u);
    EXPECT_EQ(reg(0x004801), 137u);
    EXPECT_EQ(m->PS_VBOTX_MODE, 2);
    EXPECT_EQ(m->PS_PANEL_HW, 2 * o.width);
    // No layer: one full-screen window over both channels.
    EXPECT_EQ(m->gMwin.wincnt, 1);
    EXPECT_EQ(m->gWininfo[0].w, 3840);
}

TEST_F(C331Output, SideBySideOutputsSplitTheScreen)
{
    m->zdrApi_PnlInit2(3840, 1080, 1920, 0, 3);
    EXPECT_EQ(m->pnl.out1w, 1920);
    EXPECT_EQ(m->pnl.out2w, 1920);
    EXPECT_EQ(m->pnl.out1h, 1080);
    EXPECT_EQ(m->pnl.out2h, 0);
    const ST_OCH_SPEC& o = m->pnl.och;
    EXPECT_EQ(o.arrang, c331::ARRANG2K4_2x1);
    EXPECT_EQ(o.width % 4, 0);
    EXPECT_GE(o.width, 1920);
    EXPECT_EQ(o.height, o.vtt - 12);
    EXPECT_EQ(m->pnl.xoffs, o.width - 1920);
    EXPECT_EQ(word(1382), m->pnl.xoffs);
    EXPECT_EQ(word(1386), 2);
    EXPECT_EQ(word(1388), 1);
    // The rounding comes out of the back porch.
    EXPECT_EQ(m->PS_HBP, o.htt - o.width - 12 - 4);
}

TEST_F(C331Output, StackedOutputsAndOversizedFrames)
{
    m->zdrApi_PnlInit2(1920, 2160, 0, 1080, 2);
    EXPECT_EQ(m->pnl.och.arrang, c331::ARRANG2K4_1x2);
    EXPECT_EQ(m->pnl.out2h, 1080);
    EXPECT_EQ(m->pnl.och.height, 1080);
    EXPECT_EQ(m->pnl.yoffs, 0);
    EXPECT_EQ(word(1386), 1);
    EXPECT_EQ(word(1388), 2);

    // 8000 x 5000 side by side needs two channel pairs; the halved frame
    // (2000 + 80) x (5000 + 12) still exceeds the pixel clock, so its VTT is
    // cut before the search.
    m->zdrApi_PnlInit2(8000, 5000, 4000, 0, 3);
    const ST_OCH_SPEC& o = m->pnl.och;
    EXPECT_EQ(o.use1och, 0);
    EXPECT_EQ(o.arrang, c331::ARRANG2K4_4x1_8K);
    EXPECT_LE(static_cast<long long>(o.htt) * o.vtt, 9933552LL);
    EXPECT_LT(o.vtt, 5000 + 12);
    EXPECT_GE(o.htt, 2080);
    EXPECT_EQ(word(1386), 4);
}

TEST_F(C331Output, DegenerateScreensKeepSizesSane)
{
    // CP21 leaves both outputs empty: the channel follows from the blanks.
    m->zdrApi_PnlInit2(1920, 1080, 0, 0, 5);
    EXPECT_EQ(m->pnl.out1w, 0);
    EXPECT_GE(m->pnl.och.width, 0);
    // A zero screen divides nothing by zero and allocates nothing.
    m->zdrApi_PnlInit2(0, 0, 0, 0, 1);
    EXPECT_EQ(m->pnl.och.height, 0);
    // An output wider than the screen is held to it (the other is empty,
    // not negative).
    m->zdrApi_PnlInit2(1920, 1080, 4000, 0, 3);
    EXPECT_EQ(m->pnl.out1w, 1920);
    EXPECT_EQ(m->pnl.out2w, 0);
    m->zdrApi_PnlInit2(1920, 1080, 0, 3000, 1);
    EXPECT_EQ(m->pnl.out2h, 0);

    const std::vector<unsigned char> before(store->ram_para, store->ram_para + 4096);
    m->zdrApi_WriteRam(1382);
    EXPECT_EQ(std::vector<unsigned char>(store->ram_para, store->ram_para + 4096), before);
}

TEST_F(C331Output, TimingListProperties)
{
    int n = 0;
    const int (*t)[2] = c331_manage::timing_list(&n);
    ASSERT_EQ(n, 5199);
    EXPECT_EQ(t[0][0], 660);
    EXPECT_EQ(t[0][1], 15000);
    EXPECT_EQ(t[n - 1][0], 8280);
    EXPECT_EQ(t[n - 1][1], 1196);
    for (int i = 0; i < n; ++i) {
        const long long p = static_cast<long long>(t[i][0]) * t[i][1];
        ASSERT_GE(p, 5094049LL);
        ASSERT_LE(p, 9933552LL);
    }
}

TEST_F(C331Output, OneWindowOverBothChannels)
{
    layer(0, 0, 0, 3840, 1080);
    m->zdrApi_PnlInit2(3840, 1080, 1920, 0, 3);
    const int xo = m->pnl.xoffs;
    ASSERT_EQ(m->gMwin.wincnt, 1);
    EXPECT_EQ(m->gWininfo[0].x, xo);
    const ST_WIN_INFO& w = m->gWininfo[0];
    EXPECT_EQ(w.totalh, 2);
    EXPECT_EQ(w.totalv, 1);
    EXPECT_EQ(list(w.ochLst), (std::vector<int>{0, 1, 255, 255, 255, 255, 255, 255}));
    EXPECT_EQ(ints(m->PM_WIN_NUM, 8), (std::vector<int>{0, 0, 6, 6, 6, 6, 6, 6}));
    EXPECT_EQ(ints(m->PM_AREA_NUM, 8), (std::vector<int>{0, 1, 8, 8, 8, 8, 8, 8}));
    EXPECT_EQ(m->PM_INPUT[0], 1) << "input HDMI1 is chip port 1";
    EXPECT_EQ(m->PM_WIN_SHAPE[0][0], 2);
    EXPECT_EQ(m->PM_WIN_OFFSET[0][0], xo % m->pnl.och.width);
    EXPECT_TRUE(chOn(0));
    EXPECT_TRUE(chOn(1));
    EXPECT_FALSE(chOn(2));
    EXPECT_EQ(m->g_chg_win[0], 1);
}

TEST_F(C331Output, TwoFullScreenWindowsTakeFreeChannelsOverTheSameAreas)
{
    sideBySidePanel();
    m->pnl.och.arrang = c331::ARRANG2K4_2x1;
    layer(0, 0, 0, 3840, 1080);
    layer(1, 0, 0, 3840, 1080, 4);
    m->zdrApi_initEnvC331();
    m->zdrApi_MultiWinChAlloc(1);
    m->zdrApi_MultiWinChInit();
    EXPECT_EQ(list(m->gWininfo[1].ochLst), (std::vector<int>{2, 3, 255, 255, 255, 255, 255, 255}));
    EXPECT_EQ(list(m->gWininfo[1].ochPosLst), (std::vector<int>{0, 1, 255, 255, 255, 255, 255, 255}));
    EXPECT_EQ(ints(m->PM_OVERLAY, 8), (std::vector<int>{1, 2, 1, 2, 5, 6, 7, 8}));
    EXPECT_EQ(ints(m->PM_WIN_NUM, 8), (std::vector<int>{0, 0, 1, 1, 6, 6, 6, 6}));
    EXPECT_EQ(m->g_chg_overlay, 1);
    EXPECT_TRUE(chOn(3));
}

TEST_F(C331Output, ChannelBordersAndTheTwoByTwoGap)
{
    sideBySidePanel();
    m->pnl.och.arrang = c331::ARRANG2K4_2x1;
    layer(0, 0, 0, 1920, 1080);          // ends exactly on the border
    layer(1, 1920, 0, 1920, 1080, 3);    // starts on it
    m->zdrApi_initEnvC331();
    m->zdrApi_MultiWinChAlloc(1);
    m->zdrApi_MultiWinChInit();
    EXPECT_EQ(list(m->gWininfo[0].ochLst)[0], 0);
    EXPECT_EQ(m->gWininfo[0].ochCnt, 1);
    EXPECT_EQ(list(m->gWininfo[1].ochLst)[0], 1);
    EXPECT_EQ(m->gWininfo[1].ochCnt, 1);
    EXPECT_EQ(ints(m->PM_OVERLAY, 8), (std::vector<int>{1, 2, 3, 4, 5, 6, 7, 8}));
    EXPECT_EQ(m->pnl.chErr, 0);

    // 2 x 2 channels; a window in the right column only lists 1 2 3 and the
    // fourth part has no channel: the error flag, no index beyond the table.
    m->pnl.och.arrang = c331::ARRANG2K4_2x2_8K;
    m->pnl.och_HCnt = 2;
    m->pnl.och_VCnt = 2;
    for (int l = 0; l < 6; ++l)
        setLe16(store->ram_para, para::layer(l) + para::kLayerEnable, 0);
    layer(0, 1920, 0, 1920, 2160);
    layer(1, 0, 0, 3840, 2160);
    m->zdrApi_initEnvC331();
    m->zdrApi_MultiWinChAlloc(1);
    m->zdrApi_MultiWinChInit();
    const ST_WIN_INFO& w = m->gWininfo[0];
    EXPECT_EQ(w.totalh, 2);
    EXPECT_EQ(w.totalv, 2);
    EXPECT_EQ(list(w.ochLst), (std::vector<int>{1, 2, 3, 255, 255, 255, 255, 255}));
    EXPECT_EQ(m->pnl.chErr, 1);
}

} // namespace
