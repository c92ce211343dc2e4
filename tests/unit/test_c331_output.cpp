// The chip's output side: the panel set-up from the screen words (channel
// arrangement, timing, registers and the result words in the block), the
// channel allocation of one and two windows, and the output programming
// pass that puts a layout into the chip's channel registers.
#include "support/board_clock.h"
#include "support/c331_fixture.h"

#include "core/le_bytes.h"
#include "core/para_layout.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

namespace {

class C331Output : public C331Test {
protected:
    void SetUp() override
    {
        C331Test::SetUp();
        for (int l = 0; l < 6; ++l)
            setLe16(ParaWriteLock().block(), para::layer(l) + para::kLayerEnable, 0);
    }

    void layer(int l, int x, int y, int w, int h, int input = 2)
    {
        const int rec = para::layer(l);
        setLe16(ParaWriteLock().block(), rec + para::kLayerEnable, 1);
        setLe16(ParaWriteLock().block(), rec + para::kLayerInput, static_cast<uint16_t>(input));
        setLe16(ParaWriteLock().block(), rec + para::kLayerX, static_cast<uint16_t>(x));
        setLe16(ParaWriteLock().block(), rec + para::kLayerY, static_cast<uint16_t>(y));
        setLe16(ParaWriteLock().block(), rec + para::kLayerW, static_cast<uint16_t>(w));
        setLe16(ParaWriteLock().block(), rec + para::kLayerH, static_cast<uint16_t>(h));
        setLe16(ParaWriteLock().block(), rec + para::kLayerMirror, 0);
        setLe16(ParaWriteLock().block(), rec + para::kLayerOutput, 0);
        setLe16(ParaWriteLock().block(), para::kLayerPriority + 2 * l, static_cast<uint16_t>(l));
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
    // Screen words of 32768 and more (from the PC) do not turn negative.
    m->zdrApi_PnlInit2(1920, 40000, 0, 0, 0);
    EXPECT_EQ(m->pnl.ledH, 32767);
    EXPECT_GT(m->pnl.och.height, 0);
    m->zdrApi_PnlInit2(65535, 65535, 65535, 65535, 1);
    EXPECT_EQ(m->pnl.ledW, 32767);
    EXPECT_GE(m->pnl.out2h, 0);
    EXPECT_GT(m->pnl.och.height, 0);

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
        setLe16(ParaWriteLock().block(), para::layer(l) + para::kLayerEnable, 0);
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

// ---- overlay, blending and the output pass ---------------------------

TEST_F(C331Output, LayerListsSortedByWindowOrderAndWritten)
{
    const int win[8] = {0, 0, 1, 1, 6, 6, 6, 6};
    const int ov[8] = {1, 2, 1, 2, 1, 6, 7, 8};   // channel 4 renders nothing over area 0
    for (int c = 0; c < 8; ++c) {
        m->PM_WIN_NUM[c] = win[c];
        m->PM_OVERLAY[c] = ov[c];
    }
    m->PM_OVERLAY_PRI[0] = 4;
    m->PM_OVERLAY_PRI[1] = 1;
    m->update_overlay_info();
    ASSERT_EQ(m->g_och_layer_cnt[0], 3);
    EXPECT_EQ(ints(m->g_och_layer[0], 3), (std::vector<int>{4, 2, 0})) << "windowless channel at the bottom";
    EXPECT_EQ(ints(m->win_och_tbl[1], 3), (std::vector<int>{2, 3, -1}));
    EXPECT_EQ(m->g_och_layer_cnt[2], 0);
    m->set_overlay(m->c331_fd);
    EXPECT_EQ(reg(0x0E0904), 0x8ACu);
    EXPECT_EQ(reg(0x0E0904, 16), 0x9Bu) << "channel 3 (window order 1) below channel 1 (4)";
    EXPECT_EQ(reg(0x0E0904, 32), 0u);

    m->reset_layer_coef(m->c331_fd, 0);
    EXPECT_EQ(reg(0x0E1101), 0x80u) << "set 0: the background";
    // Set 5 (layers 0 and 2): the highest layer takes the weight.
    EXPECT_EQ(reg(0x0E1101 + 0x500 * 5 + 0x300), 0x80u);
    EXPECT_EQ(reg(0x0E1101 + 0x500 * 5 + 0x100), 0u);
    EXPECT_EQ(reg(0x0E1101, 32), 0u) << "an empty area has no weight";
    m->reset_layer_coef(m->c331_fd, 1);
    EXPECT_EQ(reg(0x0E0F02), 0x100u);

    // A fade of window 0 in area 0 (layer 2 there) in one step: full weight.
    chip().clearFrames();
    m->set_layer_coef(m->c331_fd, 0, 0, 1);
    EXPECT_EQ(reg(0x0E1101 + 0x500 * 7 + 0x300), 128u);     // set 7: layers 0-2
    EXPECT_EQ(reg(0x0E1101 + 0x500 * 7 + 0x200), 0u) << "layer 1 below gets the rest";
    EXPECT_EQ(reg(0x0E1101 + 0x500 * 4 + 0x000), 0u) << "set 4: only the background below";
    EXPECT_EQ(writesTo(0x002301), (std::vector<uint8_t>{255, 203}));
    // Fading out over 2 steps ends with the window gone.
    m->set_layer_coef(m->c331_fd, 0, 2, 0);
    EXPECT_EQ(reg(0x0E1101 + 0x500 * 7 + 0x300), 0u);
    EXPECT_EQ(reg(0x0E1101 + 0x500 * 7 + 0x200), 128u);
}

TEST_F(C331Output, FadeAndFreezeWaitsAreBounded)
{
    m->PM_WIN_NUM[0] = 0;
    m->PM_OVERLAY[0] = 1;
    m->update_overlay_info();
    chip().setSyncStuck(true);
    chip().clearFrames();
    {
        // The first step gives up after 200 ms of the board's time; the
        // other three do not wait again for the stopped sync.
        const uint64_t start = sim::SimClock::instance().nowUs();
        m->set_layer_coef(m->c331_fd, 0, 3, 1);
        const uint64_t took = sim::SimClock::instance().nowUs() - start;
        EXPECT_GE(took, 200000u);
        EXPECT_LT(took, 2u * 200000u);
    }
    EXPECT_EQ(m->wait_logged[c331_manage::WAIT_POVS], true);
    size_t syncReads = 0;
    for (const auto& f : chip().frames())
        syncReads += !f.write() && f.bank == 0x05 && f.addr() == 0x23;
    EXPECT_GT(syncReads, 1u);
    chip().setSyncStuck(false);
    m->set_layer_coef(m->c331_fd, 0, 0, 1);
    EXPECT_EQ(m->wait_logged[c331_manage::WAIT_POVS], false);
}

// The fade's steps and the freeze follow the chip's frame clock: a fade of
// N steps spans N output frames, and the freeze shows the fifth buffer
// once the next output frame has begun (judged by the frame count: a late
// wake on a busy machine is far shorter than a frame of 167 ms here).
TEST_F(C331Output, FadeStepsAndTheFreezeFollowTheFrames)
{
    BoardClockSpeed slow(0.1);   // a frame lasts 167 ms here
    m->PM_WIN_NUM[0] = 0;
    m->PM_OVERLAY[0] = 1;
    m->update_overlay_info();
    const uint64_t frame = chip().frame();
    m->set_layer_coef(m->c331_fd, 0, 3, 1);   // four steps: 0 to 3
    EXPECT_GE(chip().frame() - frame, 4u);
    EXPECT_LE(chip().frame() - frame, 6u);

    for (int c = 0; c < 8; ++c)
        m->PM_WIN_NUM[c] = m->applied_win_num[c] = c == 0 ? 0 : 6;
    for (int i = 0; i < 8; ++i)
        m->applied_win_ich[0][i] = m->g_win_ich[0][i] = -1;
    m->applied_win_ich[0][0] = 2;
    m->g_chg_win[0] = 1;
    chip().watch(0x16, 0x6C);   // 0x166C02 of output channel 0
    const uint64_t asked = chip().frame();
    m->set_freeze(m->c331_fd, 1);
    const auto writes = chip().watched();
    ASSERT_EQ(writes.size(), 1u);
    // The next frame, or the one after when the freeze's own writes before
    // its wait crossed a frame's end.
    const uint64_t at = writes[0].atUs / chip().frameUs();
    EXPECT_GE(at, asked + 1) << "the freeze did not wait for a frame to begin";
    EXPECT_LE(at, asked + 2) << "the freeze waited past the next frame's beginning";
}

TEST_F(C331Output, FreezeHoldsTheFifthBufferAndReleaseRestoresTheRotation)
{
    for (int c = 0; c < 8; ++c)
        m->PM_WIN_NUM[c] = m->applied_win_num[c] = c == 0 ? 0 : 6;
    for (int i = 0; i < 8; ++i)
        m->applied_win_ich[0][i] = m->g_win_ich[0][i] = -1;
    m->applied_win_ich[0][0] = 2;
    const int sel[5] = {0, 1, 2, 3, 4};
    std::copy(sel, sel + 5, m->fld_sel[0]);
    m->g_chg_win[0] = 1;
    // Frames of 333 ms here: no frame begins between the test's reading of
    // the phase and the freeze's own.
    BoardClockSpeed slow(0.05);
    const int k = static_cast<int>(((reg(0xAB4701 + 0x200) >> 2) + 3) & 3);   // phase when frozen
    m->set_freeze(m->c331_fd, 1);
    EXPECT_EQ(reg(0x100901, 16 * 2), 2u) << "input channel 2 frozen";
    EXPECT_EQ(m->win_frozen[0], 1);
    EXPECT_EQ(m->fld_sel[0][4], k) << "the buffer of the frozen phase moved to the fifth place";
    EXPECT_EQ(reg(0x166C02), static_cast<uint32_t>(k * 0x1111));
    EXPECT_EQ(reg(0x166603, 16 * 2) >> 16, static_cast<uint32_t>(k));
    m->set_freeze(m->c331_fd, 0);
    EXPECT_EQ(m->win_frozen[0], 0);
    const int* s = m->fld_sel[0];
    EXPECT_EQ(reg(0x166C02), static_cast<uint32_t>(((s[0] << 4) | s[3]) + (s[1] << 8) + (s[2] << 12)));

    // A window without an input channel: only the latch is touched.
    m->applied_win_ich[0][0] = -1;
    chip().clearFrames();
    m->set_freeze(m->c331_fd, 1);
    EXPECT_TRUE(writesTo(0x100901).empty());
}

TEST_F(C331Output, IdleChannelsStopReading)
{
    layer(0, 0, 0, 3840, 1080);
    m->zdrApi_PnlInit2(3840, 1080, 1920, 0, 3);
    for (unsigned c = 0; c < 8; ++c)
        chip().setReg(0x084202, 100, 16 * c);
    m->reset_act(m->c331_fd, 1);
    EXPECT_EQ(reg(0x084202), 100u);
    EXPECT_EQ(reg(0x084202, 16), 100u);
    for (unsigned c = 2; c < 8; ++c)
        EXPECT_EQ(reg(0x084202, 16 * c), 0u);
}

// ---- geometry --------------------------------------------------------

TEST_F(C331Output, ScalingRatiosAndChannelParts)
{
    _ScalingSt s{};
    m->calc_scaling({0, 1920, 0, 1080}, {0, 960, 0, 1080}, &s);
    EXPECT_EQ(s.hmode, 1);
    EXPECT_EQ(s.hshrink, 959 * 65536 / 1919 + 1);
    EXPECT_EQ(s.hshrink, 32751);
    EXPECT_EQ(s.vmode, 0);
    m->calc_scaling({0, 960, 0, 0}, {0, 1920, 0, 1080}, &s);
    EXPECT_EQ(s.hmode, 2);
    EXPECT_EQ(s.hzoom, 32751);
    EXPECT_EQ(s.vmode, 0) << "a zero size: no ratio";
    EXPECT_EQ(s.vzoom, 0);
    m->calc_scaling({0, 1920, 0, -5}, {0, 1920, 0, 1080}, &s);
    EXPECT_EQ(s.hmode, 0) << "equal sizes";
    EXPECT_EQ(s.vmode, 0) << "a negative size: no ratio";
    m->calc_scaling({0, 1, 0, 1080}, {0, 1920, 0, 1}, &s);
    EXPECT_EQ(s.hmode, 2);
    EXPECT_EQ(s.hzoom, 1) << "one pixel stretched";
    EXPECT_EQ(s.vmode, 1);
    EXPECT_EQ(s.vshrink, 1);

    m->PS_ACTHW = 1920;
    m->PS_ACTVW = 1080;
    m->PM_WIN_SHAPE[0][0] = 2;
    m->PM_WIN_SHAPE[0][1] = 1;
    _ImageWindowDef2_St p[8];
    m->calc_oact({1000, 1920, 0, 1080}, p, 0);
    EXPECT_EQ(p[0].hst, 1000);
    EXPECT_EQ(p[0].hw, 920);
    EXPECT_EQ(p[0].firstCol, 1);
    EXPECT_EQ(p[0].lastCol, 0);
    EXPECT_EQ(p[1].hst, 0);
    EXPECT_EQ(p[1].hw, 1000);
    EXPECT_EQ(p[1].lastCol, 1);
    EXPECT_EQ(p[0].vw, 1080);
    // A shape beyond the table is held to eight columns.
    m->PM_WIN_SHAPE[0][0] = 40;
    m->calc_oact({0, 100, 0, 10}, p, 0);
    EXPECT_EQ(p[0].hw, 100);

    chip().clearFrames();
    m->set_lut_vzoom_4sym(m->c331_fd, 0, 1);
    EXPECT_EQ(reg(0x0A6801, 16), 0x40u);
    EXPECT_EQ(reg(0x0A7F01, 16), 0u);
    m->set_lut_vzoom_4sym(m->c331_fd, 100, 1);
    EXPECT_EQ(reg(0x0A6801, 16), 0u);
    EXPECT_EQ(reg(0x0A7F01, 16), 64u);
    EXPECT_EQ(reg(0x0A7101, 16), 255u);
    const size_t before = registerFrames();
    m->set_lut_vzoom_4sym(m->c331_fd, 100, 8);
    EXPECT_EQ(registerFrames(), before);
}

TEST_F(C331Output, ZoomedWindowOverTwoChannelsOverlapsItsReadsAtTheSeam)
{
    m->PS_ACTHW = 1920;
    m->PS_ACTVW = 1080;
    m->PS_ACTHST = 100;
    m->PS_ACTVST = 20;
    m->PM_WIN_SHAPE[0][0] = 2;
    m->PM_WIN_SHAPE[0][1] = 1;
    for (int c = 0; c < 8; ++c) {
        m->PM_WIN_NUM[c] = c < 2 ? 0 : 6;
        m->PM_AREA_NUM[c] = c < 2 ? c : 8;
    }
    m->PM_MEM_WMODE[0] = 0;
    // 1920 input pixels zoomed to 3840: ratio 32760; the seam between the
    // channels lies at memory pixel 960 and the whole line ends at 1920.
    m->set_display_window_och(m->c331_fd, {0, 1920, 0, 1080}, {0, 3840, 0, 1080}, 0);
    EXPECT_EQ(reg(0x0A4902), 32760u);
    EXPECT_EQ(reg(0x0A4601), 199u);
    EXPECT_EQ(reg(0x0A4601, 16), 199u);
    EXPECT_EQ(reg(0x084202), 964u) << "960 pixels and 4 beyond the seam";
    EXPECT_EQ(reg(0x084202, 16), 964u) << "4 before the seam and 960";
    EXPECT_EQ(reg(0x160804, 16) - reg(0x160804), 956u * 4) << "the second channel starts 4 pixels early";
    EXPECT_EQ(reg(0x0A4401), 0u) << "no vertical zoom";
    EXPECT_EQ(reg(0x084602), 1081u);
}

// The input side of a window, worked by hand from the capture rules: one
// channel of a progressive port, then a port arriving in two halves whose
// shrunk first half is widened, with the compact memory format falling
// back to four bytes a pixel.
TEST_F(C331Output, TheInputSideCapturesShrinksAndWritesTheHalves)
{
    // Port 1 (one channel, ICH0), active area 192, 1920 / 41, 1080; a
    // window cropped at 100, 20 and shrunk 1000 -> 500 across and 1000 ->
    // 540 down.
    for (int c = 0; c < 8; ++c)
        m->g_ich_win[c] = -1;
    m->g_win_ich[0][0] = 0;
    m->g_win_ich[0][1] = -1;
    m->g_ich_win[0] = 0;
    m->PM_INPUT[0] = 1;
    m->PI_PORT_INFO[1].STATE = 4;
    m->PI_ACT[1] = {192, 1920, 41, 1080};
    m->PS_MEM_WMODE[0] = 0;
    m->set_display_window_ich(m->c331_fd, {100, 1000, 20, 1000}, {0, 500, 0, 540}, 0);
    EXPECT_EQ(reg(0x101702), 185u) << "active start - 7";
    EXPECT_EQ(reg(0x101902), 1920u);
    EXPECT_EQ(reg(0x101B02), 42u);
    EXPECT_EQ(reg(0x101D02), 1080u);
    EXPECT_EQ(reg(0x114702), 32736u) << "499 x 65536 / 999 + 1";
    EXPECT_EQ(reg(0x114C02), 35360u) << "539 x 65536 / 999 + 1";
    EXPECT_EQ(reg(0x114401), 199u);
    EXPECT_EQ(reg(0x114901), 0x84u);
    // The capture starts with the line: no initial phase, so the memory
    // pixel the output side reads for the crop start (((R x 99) >> 16) + 1
    // = 50) holds the first sample at or after input pixel 100.
    EXPECT_EQ(reg(0x114201), 0u);
    EXPECT_EQ(reg(0x114501), 0u);
    EXPECT_EQ(reg(0x114A01), 0u);
    EXPECT_EQ(reg(0x161C04), 0u);
    EXPECT_EQ(reg(0x162004), 0x8800000u);
    EXPECT_EQ(reg(0x163101), 64u);

    // Port 5 in two halves of 960 (state 1, 2 lanes: dual mode 2) on ICH4
    // and ICH5, 1920 -> 514 across: R = 17520; the first half shrinks to
    // 257 pixels, rounded up to 258, which need 963 input pixels: the
    // first capture is 963 wide, the second starts 3 later and is 3
    // narrower. The excess of 3 moves the compact format 1 to format 0.
    for (int c = 0; c < 8; ++c)
        m->g_ich_win[c] = -1;
    m->g_win_ich[0][0] = 4;
    m->g_win_ich[0][1] = 5;
    m->g_win_ich[0][2] = -1;
    m->g_ich_win[4] = m->g_ich_win[5] = 0;
    m->PM_INPUT[0] = 5;
    m->PI_PORT_INFO[5].STATE = 1;
    m->PI_PORT_INFO[5].IP = 0;
    m->PI_HDMI_INFO[5].lane = 2;
    m->PI_ACT[5] = {96, 960, 41, 2160};
    m->PS_MEM_WMODE[0] = 1;
    testing::internal::CaptureStdout();
    m->set_display_window_ich(m->c331_fd, {0, 1920, 0, 2160}, {0, 514, 0, 2160}, 0);
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_NE(out.find("\n *** YUV CHG DET win=0 [1] to [0]\n"), std::string::npos) << out;
    EXPECT_EQ(m->PM_MEM_WMODE[0], 0);
    const unsigned ich4 = 16 * 4;
    EXPECT_EQ(reg(0x101702, ich4), 89u);
    EXPECT_EQ(reg(0x101902, ich4), 963u);
    EXPECT_EQ(reg(0x201702, ich4), 92u);
    EXPECT_EQ(reg(0x201902, ich4), 957u);
    EXPECT_EQ(reg(0x114702, ich4), 17520u);
    EXPECT_EQ(reg(0x114C02, ich4), 0u) << "no vertical shrink";
    EXPECT_EQ(reg(0x114901, ich4), 0x80u);
    EXPECT_EQ(reg(0x114501, ich4), 0u);
    // The second half continues the samples at its pixel 963:
    // 256 - ((963 x 17520) & 0xFFFF) >> 8 = 143.
    EXPECT_EQ(reg(0x214501, ich4), 143u);
    EXPECT_EQ(reg(0x214201, ich4), 128u);
    // Field memories: ICH4's, and for the second half the same plus the
    // first half's line: the 963 pixels give 258 samples, 4 bytes each.
    EXPECT_EQ(reg(0x161C04, ich4), 0x8000u);
    EXPECT_EQ(reg(0x162004, ich4), 0x8808000u);
    EXPECT_EQ(reg(0x261C04, ich4), 0x8000u + 1032u);
    EXPECT_EQ(reg(0x262004, ich4), 0x8808000u + 1032u);
    EXPECT_EQ(reg(0x200901, ich4), 12u) << "the pair's first channel + 8";
    // The pair takes the port's two halves (control 3, start 96, 1920 wide).
    EXPECT_EQ(reg(0x030801 + 0x900 * 2), 3u);
    EXPECT_EQ(reg(0x030B02 + 0x900 * 2), 1920u);
}

TEST_F(C331Output, StitchingLookUp)
{
    for (int w = 0; w < 6; ++w)
        m->PM_WIN_STITCHING[w] = w;
    int w = 0;
    int partner = 0;
    EXPECT_EQ(m->check_stitching_win(&w, &partner), 0);
    m->PM_WIN_STITCHING[3] = 1;
    w = 1;
    EXPECT_EQ(m->check_stitching_win(&w, &partner), 1);
    EXPECT_EQ(partner, 3);
    w = 3;
    EXPECT_EQ(m->check_stitching_win(&w, &partner), 2);
    EXPECT_EQ(w, 1);
    m->PM_WIN_STITCHING[3] = 9;    // beyond the windows
    w = 3;
    EXPECT_EQ(m->check_stitching_win(&w, &partner), 0);
}

TEST_F(C331Output, TwoWindowLayoutReachesTheChannels)
{
    layer(0, 0, 0, 1920, 1080, 2);
    layer(1, 1920, 0, 1920, 1080, 4);
    setLe16(ParaWriteLock().block(), para::layer(1) + para::kLayerMirror, 1);
    m->zdrApi_PnlInit2(3840, 1080, 1920, 0, 3);
    const int xo = m->pnl.xoffs;
    ASSERT_EQ(m->gMwin.wincnt, 2);
    ASSERT_EQ(m->gWininfo[0].ochCnt, 1);
    EXPECT_EQ(ints(m->PM_WIN_NUM, 3), (std::vector<int>{0, 1, 6}));
    chip().clearFrames();
    m->set_output(m->c331_fd);

    const int W = m->PS_ACTHW;
    // Window 0 lies at xoffs in channel 0 and ends xoffs into channel 1
    // when the channel is wider than the output; here each part ends where
    // the window does.
    EXPECT_EQ(reg(0x084002), static_cast<uint32_t>(xo % W + m->PS_ACTHST));
    EXPECT_EQ(reg(0x083202), static_cast<uint32_t>(xo % W + 1920 + m->PS_OAOIHST) & 0xFFFF);
    EXPECT_EQ(reg(0x082201), 0u);
    EXPECT_EQ(reg(0x082201, 16), 1u) << "window 1 mirrored";
    EXPECT_EQ(reg(0x080802), 0x01u);
    EXPECT_EQ(reg(0x080802, 16), 0x411u) << "window 1's V-by-One input feeds it from input channels 4 and 5";
    EXPECT_EQ(reg(0x163001, 16), 64u);
    EXPECT_EQ(reg(0x084202, 32), 0u) << "channel 2 is idle";
    // Layer lists: each window alone over its own channel area.
    EXPECT_EQ(reg(0x0E0904), 8u);
    EXPECT_EQ(reg(0x0E0904, 16), 9u);
    EXPECT_EQ(reg(0x002201), 0x99u) << "latch released";
    EXPECT_FALSE(writesTo(0x002201).empty());
    EXPECT_EQ(writesTo(0x002201).front(), 0u) << "the freeze first stops the latch";
    for (int w = 0; w < 6; ++w) {
        EXPECT_EQ(m->g_chg_win[w], 0);
        EXPECT_EQ(m->g_chg_mirror[w], 0);
    }
    EXPECT_EQ(m->g_chg_overlay, 0);
    EXPECT_EQ(ints(m->applied_win_num, 3), (std::vector<int>{0, 1, 6}));

    // A second pass without changes leaves the windows' channels alone.
    chip().clearFrames();
    m->set_output(m->c331_fd);
    EXPECT_TRUE(writesTo(0x082201, 16).empty());
}

TEST_F(C331Output, EachWindowGetsItsInputChannelsFromThePass)
{
    layer(0, 0, 0, 1920, 1080, 2);      // HDMI1: chip port 1, one channel
    layer(1, 1920, 0, 1920, 1080, 4);   // HDMI3: chip port 5, a V-by-One pair
    m->zdrApi_PnlInit2(3840, 1080, 1920, 0, 3);
    ASSERT_EQ(m->gMwin.wincnt, 2);
    chip().clearFrames();
    m->set_output(m->c331_fd);

    EXPECT_EQ(ints(m->g_win_ich[0], 2), (std::vector<int>{0, -1}));
    EXPECT_EQ(ints(m->g_win_ich[1], 3), (std::vector<int>{4, 5, -1}));
    EXPECT_EQ(ints(m->g_ich_win, 8), (std::vector<int>{0, -1, -1, -1, 1, 1, -1, -1}));
    // Channel sources: port 1 on ICH0, port 5's pair on ICH4/5.
    EXPECT_EQ(reg(0x001001), 2u);
    EXPECT_EQ(reg(0x001401), 12u);
    EXPECT_GE(reg(0x001501), 13u);
    // Each window's first channel is programmed as a window's own sync
    // source and captures from its port.
    EXPECT_EQ(reg(0x100901, 0), 1u);
    EXPECT_EQ(reg(0x100901, 16 * 4), 1u);
    EXPECT_FALSE(writesTo(0x101902, 0).empty());
    EXPECT_FALSE(writesTo(0x101902, 16 * 4).empty());
    EXPECT_EQ(reg(0x101902, 16 * 1), 0u) << "an idle input channel captures nothing";
    EXPECT_EQ(ints(m->applied_win_ich[1], 2), (std::vector<int>{4, 5}));

    // Dropping window 1 gives its channels back on the next pass.
    setLe16(ParaWriteLock().block(), para::layer(1) + para::kLayerEnable, 0);
    m->zdrApi_PnlInit2(3840, 1080, 1920, 0, 3);
    ASSERT_EQ(m->gMwin.wincnt, 1);
    m->set_output(m->c331_fd);
    EXPECT_EQ(m->g_win_ich[1][0], -1);
    EXPECT_EQ(m->g_ich_win[4], -1);
    EXPECT_EQ(m->g_ich_win[5], -1);
    EXPECT_EQ(m->g_win_ich[0][0], 0);
}

TEST_F(C331Output, OneWindowOverTwoChannelsReadsConsecutiveSlices)
{
    layer(0, 0, 0, 3840, 1080);
    m->zdrApi_PnlInit2(3840, 1080, 0, 0, 0);     // both outputs show the screen
    ASSERT_EQ(m->gWininfo[0].ochCnt, 1) << "no splice: the screen fits one channel";

    layer(0, 0, 0, 3840, 1080);
    m->zdrApi_PnlInit2(3840, 1080, 1920, 0, 3);
    ASSERT_EQ(m->gWininfo[0].ochCnt, 2);
    m->set_output(m->c331_fd);
    ASSERT_GE(m->g_win_ich[0][0], 0);
    const uint32_t a0 = reg(0x160804);
    const uint32_t a1 = reg(0x160804, 16);
    const int first = m->PS_ACTHW - m->pnl.xoffs;
    EXPECT_EQ(a1 - a0, static_cast<uint32_t>(first * 4)) << "channel 1 reads on where channel 0 ends";
    EXPECT_EQ(reg(0x080802), (static_cast<uint32_t>(m->g_win_ich[0][0]) << 8) | 1u)
        << "first channel fed by the window's input channel";
    EXPECT_EQ(reg(0x080802, 16), 0x1011u) << "second channel follows channel 0";
    EXPECT_EQ(reg(0x084202, 16), static_cast<uint32_t>(3840 - first));
}

TEST_F(C331Output, ChangePassReLayoutProgramsTheWindows)
{
    layer(0, 0, 0, 3840, 1080);
    m->zdrApi_PnlInit2(3840, 1080, 1920, 0, 3);
    m->set_output(m->c331_fd);
    persist();
    m->start_applied_copy();
    std::memcpy(m->applied_para, store->ram_para, 4096);
    ASSERT_EQ(ints(m->PM_WIN_NUM, 3), (std::vector<int>{0, 0, 6}));

    // A second layer is enabled on the right half: the pass re-lays out the
    // windows and programs both.
    {
        ParaWriteLock lock;
        layer(1, 1920, 0, 1920, 1080, 4);
        lock.raise();
    }
    chip().clearFrames();
    deal();
    EXPECT_EQ(m->gMwin.wincnt, 2);
    EXPECT_EQ(ints(m->PM_WIN_NUM, 4), (std::vector<int>{0, 0, 1, 6}));
    EXPECT_EQ(ints(m->PM_OVERLAY, 4), (std::vector<int>{1, 2, 2, 4}));
    EXPECT_EQ(reg(0x0E0904, 16) & 0xFF, 0x9Au) << "window 1's channel over window 0's in area 1";
    EXPECT_FALSE(writesTo(0x080802, 32).empty());
    EXPECT_EQ(reg(0x002201), 0x99u);

    // Its rectangle narrows: channel 2 reads fewer pixels.
    const uint32_t before = reg(0x084202, 32);
    store16(para::layer(1) + para::kLayerW, 960);
    deal();
    EXPECT_LT(reg(0x084202, 32), before);
    EXPECT_EQ(m->gWininfo[1].w, 960);
}

} // namespace
