// The chip manager: identity wait and bring-up driven step by step, the
// power-on programming, the fixed parameters and the window list built
// from the layers.
#include "support/c331_fixture.h"

#include "core/le_bytes.h"
#include "core/para_layout.h"
#include "videochip/c331_drv.h"

#include <fstream>
#include <iterator>

namespace {

class C331Manage : public C331Test {
protected:
    size_t logCount(const std::string& what)
    {
        std::ifstream in(hostPath("/data/velmokq/log/prqEnglneLog"));
        const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        size_t n = 0;
        for (size_t p = text.find(what); p != std::string::npos; p = text.find(what, p + 1))
            ++n;
        return n;
    }
};

TEST_F(C331Manage, FiveGoodIdentityReadsStartTheBringUp)
{
    for (int i = 0; i < 4; ++i)
        m->manage_step();
    EXPECT_EQ(m->c331_init_state, 4);
    // Wrong reads do not reset the count.
    chip().setSilent(true);
    for (int i = 0; i < 30; ++i)
        m->manage_step();
    EXPECT_EQ(m->c331_init_state, 4);
    EXPECT_EQ(m->identity_bad, 30u);
    chip().setSilent(false);
    m->manage_step();
    EXPECT_EQ(m->c331_init_state, 5);
    EXPECT_EQ(g_fpga_c331_start, 0u);

    g_force_bkcolor = 1;
    chip().clearFrames();
    m->manage_step();
    EXPECT_EQ(m->c331_init_state, 6);
    EXPECT_EQ(g_fpga_c331_start, 1u);

    // The power-on programming reached the chip.
    EXPECT_EQ(reg(0xFF0201), 200u);
    EXPECT_EQ(reg(0xFF0401), 97u);
    EXPECT_EQ(reg(0xFF0503), 1u);
    EXPECT_EQ(reg(0x080103), 0u) << "the system control writes stay in their bank";
    EXPECT_EQ(reg(0x000801), 1u) << "the first pass set up window 0's input channel";
    EXPECT_EQ(reg(0x042B02), 0xF000u);
    EXPECT_EQ(reg(0x063C04), 0x33333333u);
    EXPECT_EQ(reg(0x100901, 16 * 5), 12u);
    EXPECT_EQ(reg(0x080A02, 16 * 3), static_cast<uint32_t>(m->PS_HTOTAL - 2)) << "the panel's timing";
    EXPECT_GT(m->PS_HTOTAL, 660);
    EXPECT_EQ(reg(0x027F01), 15u);
    // PLL code 76 to both PLLs with the fixed parameters.
    EXPECT_EQ(writesTo(0x021801), (std::vector<uint8_t>{76}));
    EXPECT_EQ(writesTo(0x027801), (std::vector<uint8_t>{76, 9, 9})) << "power-on, then the panel";
    // The register-update latch is released.
    EXPECT_EQ(reg(0x002201), 0x99u);
    EXPECT_EQ(reg(0x002401), 0x21u);
    // The forced background colour of start-up on every output channel.
    for (unsigned c = 0; c < 8; ++c) {
        EXPECT_EQ(reg(0x084903, 16 * c), 0x00FF00u);
        EXPECT_EQ(reg(0x084801, 16 * c), 1u);
    }
    // The picture words of the block: contrast 50, natural colour.
    EXPECT_EQ(reg(0x0C2802, 16 * 7), 511u);
    EXPECT_EQ(reg(0x0C5B02), 8192u);
    EXPECT_EQ(reg(0x0C3A02), 0u) << "the chip's brightness stays 50";
    EXPECT_EQ(m->PM_WIN_STITCHING[1], 1) << "window parameters loaded";
    EXPECT_EQ(m->PM_WIN_NUM[0], 0) << "the panel's window list is allocated";

    // From now on every step is a change pass; the first ones draw the OSD
    // and program its windows as the window parameters asked (one request
    // served a pass).
    EXPECT_EQ(m->osd_update_dirty, 1);
    m->manage_step();
    EXPECT_EQ(m->osd_update_dirty, 0);
    m->manage_step();
    EXPECT_EQ(m->osd_set_dirty, 0);
    const uint64_t before = chip().frameCount();
    m->manage_step();
    EXPECT_EQ(chip().frameCount(), before) << "an idle change pass touches no register";
}

TEST_F(C331Manage, NoForcedColourUnlessRequested)
{
    g_force_bkcolor = 2;
    m->c331_init_state = 5;
    m->manage_step();
    EXPECT_EQ(m->c331_init_state, 6);
    // The window without input shows the black background, not the green
    // of start-up.
    EXPECT_EQ(reg(0x084903), 0u);
    for (uint8_t v : writesTo(0x084A01))     // the green byte
        EXPECT_EQ(v, 0u);
}

TEST_F(C331Manage, OsdOnAtStartUpLoadsTheMenuOnTheFirstPass)
{
    setLe16(ParaWriteLock().block(), para::kOsdOn, 1);
    m->c331_init_state = 5;
    m->manage_step();
    EXPECT_EQ(g_osd_update, 1u);
}

TEST_F(C331Manage, AChipThatNeverAnswersKeepsTheGateClosedAndSaysSoOnce)
{
    chip().setSilent(true);
    m->identity_log_after = 50;
    for (int i = 0; i < 49; ++i)
        m->manage_step();
    EXPECT_EQ(logCount("does not answer its identity"), 0u);
    for (int i = 0; i < 200; ++i)
        m->manage_step();
    EXPECT_EQ(m->c331_init_state, 0);
    EXPECT_EQ(g_fpga_c331_start, 0u);
    EXPECT_EQ(logCount("does not answer its identity (0xB20801 reads 0xFF"), 1u);
}

TEST_F(C331Manage, PllCodeByRatio)
{
    EXPECT_EQ(c331_manage::pll_code(22, 27000000, 1, 0), 76);    // ratio 148
    EXPECT_EQ(c331_manage::pll_code(40, 4000000, 1, 0), 72);     // ratio 40
    EXPECT_EQ(c331_manage::pll_code(41, 4000000, 1, 0), 76);
    EXPECT_EQ(c331_manage::pll_code(21, 4000000, 1, 0), 72);
    EXPECT_EQ(c331_manage::pll_code(20, 4000000, 1, 0), 68);     // ratio 20
    EXPECT_EQ(c331_manage::pll_code(20, 2000000, 1, 1), 68) << "mode 1 steps by 2 MHz";
    EXPECT_EQ(c331_manage::pll_code(22, 27000000, 0, 0), 68) << "no divider, no division";
}

TEST_F(C331Manage, LoadParamMarksWhatChanged)
{
    m->load_param();
    const int inputs[6] = {4, 5, 1, 2, 3, 0};
    for (int w = 0; w < 6; ++w) {
        EXPECT_EQ(m->PM_INPUT[w], inputs[w]);
        EXPECT_EQ(m->PM_WIN_STITCHING[w], w);
        EXPECT_EQ(m->PM_WIN_FADE_IN[w], 60);
        EXPECT_EQ(m->g_chg_win[w], 1);
    }
    EXPECT_EQ(m->PM_WIN_OFFSET[3][2], 1080);
    EXPECT_EQ(m->PM_INPUT_OFFSET[2][0], 400);
    EXPECT_EQ(m->PM_WIN_VMIRROR[2], 1);
    EXPECT_EQ(m->PM_OVERLAY_PRI[0], 1);
    EXPECT_EQ(m->PM_WIN_NUM[3], 1);
    EXPECT_EQ(m->PM_AREA_NUM[3], 1);
    EXPECT_EQ(m->PM_OSD_SCROLL_MODE, 2);
    EXPECT_EQ(m->osd_set_dirty, 1);
    EXPECT_EQ(m->osd_update_dirty, 1);
    EXPECT_EQ(m->g_chg_pri, 1);

    for (int w = 0; w < 6; ++w)
        m->g_chg_win[w] = 0;
    m->osd_set_dirty = m->osd_update_dirty = 0;
    m->PM_WIN_FADE_OUT[4] = 5;
    m->load_param();
    for (int w = 0; w < 6; ++w)
        EXPECT_EQ(m->g_chg_win[w], w == 4 ? 1 : 0) << "window " << w;
    EXPECT_EQ(m->osd_set_dirty, 0);
    EXPECT_EQ(m->osd_update_dirty, 0);
}

// ---- window list ---------------------------------------------------------

class C331Windows : public C331Test {
protected:
    void layer(int l, int enable, int x, int y, int w, int h, uint16_t input = 1, uint16_t mirror = 0)
    {
        ParaWriteLock lock;
        unsigned char* b = lock.block();
        const int r = para::layer(l);
        setLe16(b, r + para::kLayerEnable, static_cast<uint16_t>(enable));
        setLe16(b, r + para::kLayerX, static_cast<uint16_t>(x));
        setLe16(b, r + para::kLayerY, static_cast<uint16_t>(y));
        setLe16(b, r + para::kLayerW, static_cast<uint16_t>(w));
        setLe16(b, r + para::kLayerH, static_cast<uint16_t>(h));
        setLe16(b, r + para::kLayerInput, input);
        setLe16(b, r + para::kLayerMirror, mirror);
    }
    void disableAll()
    {
        for (int l = 0; l < 6; ++l)
            setLe16(ParaWriteLock().block(), para::layer(l) + para::kLayerEnable, 0);
    }
};

TEST_F(C331Windows, EnabledLayersAreRenumbered)
{
    sideBySidePanel();
    disableAll();
    layer(0, 1, 0, 0, 1920, 1080, 2, 1);
    layer(2, 1, 1920, 0, 1920, 1080, 4, 2);
    setLe16(ParaWriteLock().block(), para::layer(2) + para::kLayerOutput, 0x101);
    setLe16(ParaWriteLock().block(), para::layer(2) + para::kLayerP2P, 8);
    setLe16(ParaWriteLock().block(), para::kLayerFade + 4 * 2, 25);
    m->zdrApi_initEnvC331();

    ASSERT_EQ(m->gMwin.wincnt, 2);
    EXPECT_EQ(m->window_of_layer(0), 0);
    EXPECT_EQ(m->window_of_layer(1), -1) << "a disabled layer has no window";
    EXPECT_EQ(m->window_of_layer(2), 1);
    const ST_WIN_INFO& w1 = m->gWininfo[1];
    EXPECT_EQ(w1.x, 1920);
    EXPECT_EQ(w1.w, 1920);
    EXPECT_EQ(w1.input, 4);
    EXPECT_EQ(w1.rotate, 2);
    EXPECT_EQ(w1.outputMode, 1);
    EXPECT_EQ(w1.layer, 2);
    EXPECT_EQ(m->PM_WIN_VMIRROR[1], 1);
    EXPECT_EQ(m->PM_WIN_HMIRROR[0], 1);
    EXPECT_EQ(m->PM_WIN_DBD_MODE[1], c331::DBD_VBO_IN12);
    EXPECT_EQ(m->PM_WIN_FADE_IN[1], 25);
    EXPECT_EQ(m->gMwin.pwin[1].x, 1920);
}

TEST_F(C331Windows, DuplicatePriorityMovesToTheLowestFree)
{
    sideBySidePanel();
    disableAll();
    layer(0, 1, 0, 0, 100, 100);
    layer(1, 1, 0, 0, 100, 100);
    layer(3, 1, 0, 0, 100, 100);
    setLe16(ParaWriteLock().block(), para::kLayerPriority + 0, 3);
    setLe16(ParaWriteLock().block(), para::kLayerPriority + 2, 3);
    setLe16(ParaWriteLock().block(), para::kLayerPriority + 6, 10);   // folded to 4
    m->zdrApi_initEnvC331();
    ASSERT_EQ(m->gMwin.wincnt, 3);
    EXPECT_EQ(m->gWininfo[0].layer, 3);
    EXPECT_EQ(m->gWininfo[1].layer, 0);
    EXPECT_EQ(m->gWininfo[2].layer, 4);
}

TEST_F(C331Windows, InvalidLayoutsFallBackToOneFullScreenWindow)
{
    sideBySidePanel();
    disableAll();
    layer(1, 1, 0, 0, 1920, 1080);
    layer(3, 1, 1921, 0, 1920, 1080);     // one pixel beyond the channel area
    m->zdrApi_initEnvC331();
    ASSERT_EQ(m->gMwin.wincnt, 1);
    EXPECT_EQ(m->gWininfo[0].w, 3840);
    EXPECT_EQ(m->gWininfo[0].h, 1080);
    EXPECT_EQ(m->window_of_layer(1), 0) << "the first enabled layer";
    EXPECT_EQ(m->window_of_layer(3), -1);

    layer(3, 1, 1920, 0, 1920, 1080, 6);  // input 6 does not exist
    m->zdrApi_initEnvC331();
    EXPECT_EQ(m->gMwin.wincnt, 1);

    layer(3, 1, 1920, 0, 1920, 1080, 0x8028);   // crop record 40: beyond the table
    m->zdrApi_initEnvC331();
    EXPECT_EQ(m->gMwin.wincnt, 1);

    ParaWriteLock().block()[para::crop(39)] = 5;
    layer(3, 1, 1920, 0, 1920, 1080, 0x8027);
    m->zdrApi_initEnvC331();
    ASSERT_EQ(m->gMwin.wincnt, 2);
    EXPECT_EQ(m->gWininfo[1].input, 5);
    EXPECT_EQ(m->gWininfo[1].cropIdx, 39);
    EXPECT_EQ(m->PM_INPUT_OFFSET_EN[1], 1);

    disableAll();
    m->zdrApi_initEnvC331();
    EXPECT_EQ(m->gMwin.wincnt, 1) << "no layer: one full-screen window";
}

} // namespace
