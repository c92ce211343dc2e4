// Picture and window controls of the c331 chip and the input-side register
// helpers, checked in the simulated chip's registers and frame log.
#include "support/board_clock.h"
#include "support/c331_fixture.h"

#include "core/le_bytes.h"
#include "core/para_layout.h"
#include "sim/board.h"
#include "videochip/c331_drv.h"

#include <fstream>
#include <iterator>

namespace {

const uint8_t kRtct[5][7] = {
    {0, 0, 0, 0, 0, 0, 0},
    {0x99, 0x99, 0x21, 0x43, 0x55, 0x77, 0x99},
    {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF},
    {0xFF, 0xFF, 0x21, 0x43, 0x55, 0x77, 0xFF},
    {0x99, 0x99, 0xFF, 0xFF, 0xFF, 0xFF, 0x99},
};

class C331Controls : public C331Test {
protected:
    // Every write to the update timing register 0x22: the latch is held (0xFF)
    // first and released (0x99) last around a picture control.
    void expectLatched()
    {
        const std::vector<uint8_t> w = writesTo(0x002201);
        ASSERT_GE(w.size(), 2u);
        EXPECT_EQ(w.front(), 0xFF);
        EXPECT_EQ(w.back(), 0x99);
    }

    void allChannels(uint32_t desc, uint32_t value)
    {
        for (unsigned c = 0; c < 8; ++c)
            EXPECT_EQ(reg(desc, 16 * c), value) << std::hex << desc << " channel " << c;
    }

    // Two windows shown, each on one output channel.
    void twoWindows()
    {
        m->gMwin.wincnt = 2;
        m->gWininfo[0].ochLst[0] = 0;
        m->gWininfo[1].ochLst[0] = 1;
        m->gWininfo[0].srcLayer = 0;
        m->gWininfo[1].srcLayer = 1;
        for (int c = 0; c < 8; ++c)
            m->PM_WIN_NUM[c] = c < 2 ? c : 6;
    }

    std::string log()
    {
        std::ifstream in(hostPath("/data/velmokq/log/prqEnglneLog"));
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
};

TEST_F(C331Controls, RegisterUpdateLatchModes)
{
    for (int mode : {0, 1, 2, 3, 7}) {
        chip().clearFrames();
        chip().setReg(0x002901, 0x40);
        m->set_rtct(m->c331_fd, mode);
        const uint8_t* want = kRtct[mode == 7 ? 4 : mode];
        for (unsigned i = 0; i < 7; ++i)
            EXPECT_EQ(reg(0x002201 + 0x100 * i), want[i]) << "mode " << mode << " register " << i;
        // The status hold bit brackets the seven writes and other bits stay.
        const std::vector<uint8_t> hold = writesTo(0x002901);
        ASSERT_EQ(hold.size(), 2u);
        EXPECT_EQ(hold[0], 0x41);
        EXPECT_EQ(hold[1], 0x40);
    }
}

TEST_F(C331Controls, BrightnessContrastSaturationValues)
{
    const std::pair<int, uint32_t> brightness[] = {{0, 0xC00}, {100, 1024}, {50, 0}, {150, 0xFEC}, {25, 0xE00}};
    for (const auto& b : brightness) {
        chip().clearFrames();
        m->c331_SetBrightness(static_cast<unsigned short>(b.first));
        for (uint32_t r : {0x0C3A02u, 0x0C3C02u, 0x0C3E02u})
            allChannels(r, b.second);
        expectLatched();
    }

    chip().setReg(0x0C2101, 0x80, 16);
    m->c331_SetContrast(50);
    for (uint32_t r : {0x0C2802u, 0x0C2A02u, 0x0C2C02u})
        allChannels(r, 511);
    EXPECT_EQ(reg(0x0C2101, 16), 0x81u) << "enable bit set, the others kept";
    m->c331_SetContrast(201);       // 201 modulo 101 = 100
    allChannels(0x0C2802, 1023);

    chip().clearFrames();
    m->c331_SetSaturation(100);
    for (uint32_t r : {0x0C1B02u, 0x0C1D02u, 0x0C1F02u})
        allChannels(r, 1023);
    allChannels(0x0C1401, 1);
    expectLatched();
    m->c331_SetSaturation(37);
    allChannels(0x0C1D02, 37 * 1023 / 100);
}

TEST_F(C331Controls, ColourTemperaturePresetsAndCustomGains)
{
    struct Case {
        int packed;
        uint32_t r, g, b;
    };
    const Case cases[] = {
        {1, 8845, 8113, 7056},                        // warm
        {2, 8192, 8192, 8192},                        // natural
        {3, 6944, 8282, 10978},                       // cool
        {static_cast<int>(0x80400000u), 8192, 4096, 0},   // custom: red 128, green 64, blue 0
        {static_cast<int>(0x40404000u), 4096, 4096, 4096},
        {static_cast<int>(0xFF00FF04u), 16320, 0, 16320},    // type bits 0-1 only: 4 is custom
    };
    for (const Case& c : cases) {
        chip().clearFrames();
        m->c331_SetColorTemp(c.packed);
        const uint32_t want[9] = {c.r, 0, 0, 0, c.g, 0, 0, 0, c.b};
        for (unsigned i = 0; i < 9; ++i)
            allChannels(0x0C5B02 + 0x200 * i, want[i]);
        expectLatched();
    }
}

TEST_F(C331Controls, ColourTemperatureSetsBit5OfTheGlobalRegisters)
{
    chip().setReg(0x005901, 0x03);
    m->c331_SetColorTemp(2);
    for (unsigned a = 0; a < 8; ++a)
        EXPECT_EQ(reg(0x005901 + 0x100 * a) & 0x20, 0x20u);
    EXPECT_EQ(reg(0x005901), 0x23u);
}

TEST_F(C331Controls, TestPatternsRepeatEveryTwentyAndTwoWindowsRefuse)
{
    m->gMwin.wincnt = 1;
    m->gWininfo[0].w = 1920;
    ASSERT_EQ(m->och_in_use(), 4) << "4 x 1 output channels after define_param";

    ASSERT_EQ(m->c331_SetPattern(1), 0);
    EXPECT_TRUE(m->zdrApi_IsPatternGen());
    for (unsigned c = 0; c < 4; ++c) {
        EXPECT_EQ(reg(0x085701, 16 * c), 4u);
        EXPECT_EQ(reg(0x086301, 16 * c), 255u);
        EXPECT_EQ(reg(0x086401, 16 * c), 0u);
        EXPECT_EQ(reg(0x085B02, 16 * c), c == 0 ? 0u : 3u) << "window 0 not wider than 2048";
        EXPECT_EQ(reg(0x086801, 16 * c), 3u);
    }
    EXPECT_EQ(reg(0x085701, 16 * 4), 0u) << "channels beyond the panel are left alone";

    // Pattern 21 shows the same as pattern 1.
    m->c331_SetPattern(3);   // blue
    EXPECT_EQ(reg(0x086301), 0u);
    EXPECT_EQ(reg(0x086501), 255u);
    m->c331_SetPattern(21);
    EXPECT_EQ(reg(0x085701), 4u);
    EXPECT_EQ(reg(0x086301), 255u);
    EXPECT_EQ(reg(0x086501), 0u);

    // 9 and 10 leave the generator cleared.
    for (int p : {9, 10}) {
        m->c331_SetPattern(p);
        EXPECT_EQ(reg(0x085701), 0u);
        EXPECT_EQ(reg(0x086301), 0u);
        EXPECT_EQ(reg(0x085B02), 0u);
    }
    m->c331_SetPattern(18);   // index 17
    EXPECT_EQ(reg(0x085701, 16), 9u);
    EXPECT_EQ(reg(0x085B02, 16), 32917u);
    EXPECT_EQ(reg(0x086102, 16), 3840u);
    m->c331_SetPattern(16);   // index 15
    EXPECT_EQ(reg(0x085801), 2u);
    EXPECT_EQ(reg(0x085F02), 36863u);
    EXPECT_EQ(reg(0x086801), 0u);
    EXPECT_EQ(reg(0x086601), 3u);

    m->gWininfo[0].w = 3840;
    m->c331_SetPattern(2);
    EXPECT_EQ(reg(0x085B02), 0x8000u) << "window 0 wider than 2048";
    EXPECT_EQ(reg(0x086401), 255u);

    ASSERT_EQ(m->c331_SetPattern(0), 0);
    EXPECT_FALSE(m->zdrApi_IsPatternGen());
    EXPECT_EQ(reg(0x085701), 0u);

    twoWindows();
    chip().clearFrames();
    EXPECT_EQ(m->c331_SetPattern(1), -1);
    EXPECT_EQ(registerFrames(), 0u) << "nothing written with two windows shown";
    EXPECT_FALSE(m->zdrApi_IsPatternGen());
}

TEST_F(C331Controls, PatternOnShowsThePictureInsteadOfTheNoInputBackground)
{
    m->gMwin.wincnt = 1;
    m->PM_INPUT[0] = 0;            // a port without signal (state 0)
    for (int c = 0; c < 8; ++c)
        m->PM_WIN_NUM[c] = c < 2 ? 0 : 6;
    m->set_input_bkg2(m->c331_fd, 0, 0);
    EXPECT_EQ(reg(0x084801), 1u) << "no input: background";
    m->c331_SetPattern(1);
    EXPECT_EQ(reg(0x084801), 0u);
    EXPECT_EQ(reg(0x084801, 16), 0u);
    EXPECT_EQ(reg(0x084801, 32), 0u) << "channel 2 shows another window";
    g_force_bkcolor = 1;
    m->set_input_bkg2(m->c331_fd, 0, 0);
    EXPECT_EQ(reg(0x084801), 1u);
    EXPECT_EQ(reg(0x084903), 0x00FF00u) << "the forced colour of start-up";
}

TEST_F(C331Controls, WindowAttributeOnlyForShownWindows)
{
    twoWindows();
    m->PM_WIN_SHAPE[1][0] = m->PM_WIN_SHAPE[1][1] = 1;
    m->PM_AREA_NUM[1] = 0;
    m->c331_SetWinAttr(1, 6);      // 6 modulo 4 = 2
    EXPECT_EQ(m->gWininfo[1].rotate, 2);
    EXPECT_EQ(m->PM_WIN_HMIRROR[1], 0);
    EXPECT_EQ(m->PM_WIN_VMIRROR[1], 1);
    // The output pass reprogrammed the window's channel upside down and
    // consumed the mark.
    EXPECT_EQ(reg(0x163001, 16), 256u - 64u);
    EXPECT_EQ(reg(0x082201, 16), 0u);
    EXPECT_EQ(m->g_chg_win[1], 0);
    m->g_chg_win[2] = 0;
    m->gWininfo[2].rotate = 0;
    m->c331_SetWinAttr(2, 3);
    EXPECT_EQ(m->gWininfo[2].rotate, 0) << "window 2 is not shown";
    EXPECT_EQ(m->g_chg_win[2], 0);
}

TEST_F(C331Controls, WindowOutputBlackFreezeEffectAndDotByDot)
{
    twoWindows();
    m->PM_INPUT[1] = 2;
    setLe16(ParaWriteLock().block(), para::layer(1) + para::kLayerP2P, 3);

    // Black: the window's channel shows the background.
    m->c331_SetWinOutput(m->c331_fd, 1, 0x1);
    EXPECT_EQ(m->gWininfo[1].outputMode, 1);
    EXPECT_EQ(reg(0x084801, 16), 1u);
    EXPECT_EQ(reg(0x084801), 0u);

    // Freeze without a signal stays live but takes effect and dot-by-dot.
    m->g_chg_win[1] = 0;
    m->c331_SetWinOutput(m->c331_fd, 1, 0x1 | 0x2 | 0x4 | 0x100);
    EXPECT_EQ(m->gWininfo[1].outputMode & 2, 0);
    EXPECT_EQ(m->PM_WIN_FADE_EN[1], 1);
    EXPECT_EQ(m->PM_WIN_DBD_MODE[1], c331::DBD_CMOS_IN34);
    EXPECT_EQ(m->g_chg_win[1], 0) << "the output pass ran and consumed the mark";
    EXPECT_EQ(reg(0x002201), 0x99u) << "and released the latch";
    EXPECT_EQ(reg(0x100901, 16), 0u);

    // With a signal the freeze goes to the window's first output channel.
    m->PI_PORT_INFO[2].STATE = 4;
    m->g_chg_win[1] = 0;
    m->c331_SetWinOutput(m->c331_fd, 1, 0x1 | 0x2);
    EXPECT_EQ(m->gWininfo[1].outputMode, 3);
    EXPECT_EQ(reg(0x100901, 16), 2u);
    EXPECT_EQ(m->PM_WIN_DBD_MODE[1], c331::DBD_CMOS_IN34) << "freeze returns before the other bits";
    m->c331_SetWinOutput(m->c331_fd, 1, 0x1);
    EXPECT_EQ(reg(0x100901, 16), 1u);
    EXPECT_EQ(m->gWininfo[1].outputMode, 1);
    m->c331_SetWinOutput(m->c331_fd, 1, 0x1);
    EXPECT_EQ(m->PM_WIN_DBD_MODE[1], c331::DBD_DISABLE);
    EXPECT_EQ(m->PM_WIN_FADE_EN[1], 0);

    // A window that is not shown is left alone.
    m->c331_SetWinOutput(m->c331_fd, 4, 0x1);
    EXPECT_EQ(m->gWininfo[4].outputMode, 0);
}

TEST_F(C331Controls, DotByDotModeFollowsTheLayerAndStaysOffWhileItsBitIsOff)
{
    twoWindows();
    const int out = para::layer(1) + para::kLayerOutput;
    setLe16(ParaWriteLock().block(), out, 0x100);
    m->c331_SetWinDbdMode(m->c331_fd, 1, 12);
    EXPECT_EQ(m->PM_WIN_DBD_MODE[1], c331::DBD_SINGLE_INPUT);
    m->c331_SetWinDbdMode(m->c331_fd, 1, 9);
    EXPECT_EQ(m->PM_WIN_DBD_MODE[1], c331::DBD_VBO_IN12V);

    setLe16(ParaWriteLock().block(), out, 0);
    m->PM_WIN_DBD_MODE[1] = c331::DBD_DISABLE;
    m->g_chg_win[1] = 0;
    m->c331_SetWinDbdMode(m->c331_fd, 1, 2);
    EXPECT_EQ(m->PM_WIN_DBD_MODE[1], c331::DBD_DISABLE) << "dot-by-dot is off for this layer";
    EXPECT_EQ(m->g_chg_win[1], 0);
}

TEST_F(C331Controls, PrioritiesBecomeWindowOrderWords)
{
    twoWindows();
    m->c331_SetWinPriority(0, 4);
    m->c331_SetWinPriority(1, 7);      // folded to 1
    m->c331_SetWinPriority1(m->c331_fd);
    EXPECT_EQ(m->PM_OVERLAY_PRI[0], 1);
    EXPECT_EQ(m->PM_OVERLAY_PRI[1], 4);
    for (int w = 2; w < 6; ++w)
        EXPECT_EQ(m->PM_OVERLAY_PRI[w], 0);
}

TEST_F(C331Controls, InputSourceCropRefusesIndicesBeyondTheTable)
{
    twoWindows();
    ParaWriteLock().block()[para::crop(5)] = 3;
    m->c331_SetInputsourceCrop(1, 0x8005);
    EXPECT_EQ(m->gWininfo[1].cropIdx, 5);
    EXPECT_EQ(m->gWininfo[1].input, 3);
    m->c331_SetInputsourceCrop(1, 0x8028);
    EXPECT_EQ(m->gWininfo[1].cropIdx, 5) << "crop index 40 refused";
    m->c331_SetInputsourceCrop(3, 0x8001);
    EXPECT_EQ(m->gWininfo[3].cropIdx, 0) << "window 3 not shown";
}

// ---- input-side helpers ------------------------------------------------

TEST_F(C331Controls, VByOneLanesPolarityAndDataMode)
{
    chip().setReg(0x003902, 0x0004);
    m->PI_HDMI_INFO[5].lane = 8;
    m->PI_HDMI_INFO[5].Hpol = 1;
    m->PI_HDMI_INFO[5].Vpol = 0;
    chip().setReg(0x063C04, 0x12345678);
    m->set_VBOInput(m->c331_fd, 1);
    EXPECT_EQ(reg(0x002002), 0x404u);
    EXPECT_EQ(reg(0x003902), 0x0204u) << "receiver 0's select byte kept";
    EXPECT_EQ(reg(0x063C04), 0x22225678u);

    m->PI_HDMI_INFO[4].lane = 2;
    m->set_VBOInput(m->c331_fd, 0);
    EXPECT_EQ(reg(0x001E02), 1u);
    EXPECT_EQ(reg(0x003902), 0x0210u);

    chip().setReg(0x063804, 0x07070707);
    m->PI_HDMI_INFO[2].Hpol = 1;
    m->PI_HDMI_INFO[2].Vpol = 1;
    m->set_sypol(m->c331_fd, 0, 2);
    EXPECT_EQ(reg(0x063804), 0x07070707u);
    m->PI_HDMI_INFO[2].Vpol = 0;
    m->set_sypol(m->c331_fd, 0, 2);
    EXPECT_EQ(reg(0x063804), 0x07060707u);

    m->set_pict(m->c331_fd, 1, 3);
    m->set_pict(m->c331_fd, 1, 0);
    EXPECT_EQ(reg(0x001802), 0x1001u);
    m->set_pict(m->c331_fd, 0, 3);
    EXPECT_EQ(reg(0x001802), 0x0001u);
    m->set_pict(m->c331_fd, 1, 4);
    EXPECT_EQ(reg(0x001802), 0x0001u) << "only ports 0 to 3";
}

TEST_F(C331Controls, VByOneRangeBitFollowsTheClock)
{
    m->set_VBORXfrange(m->c331_fd, 1, 40000000.0f, 0);
    EXPECT_EQ(reg(0x026801), 0x08u);
    m->set_VBORXfrange(m->c331_fd, 1, 60000000.0f, 0);
    EXPECT_EQ(reg(0x026801), 0u);
    m->set_VBORXfrange(m->c331_fd, 1, 0, 1);
    EXPECT_EQ(reg(0x026801), 0x08u) << "flip";
}

TEST_F(C331Controls, InputSyncWaitIsBoundedAndLogsOnce)
{
    // A channel with input (channel 1 takes port 1, which HDMI1 feeds): the
    // latched sync comes with the next frame.
    chip().setSource(2, {true, 1920, 1080, 60});
    chip().setReg(0x001101, 2);
    ASSERT_EQ(reg(0xA84401), 0x00u);
    EXPECT_EQ(reg(0xA80E02), 1919u) << "channel 1's field width - 1";
    EXPECT_EQ(reg(0xA81002), 1079u);
    chip().clearFrames();
    const uint64_t frame = chip().frame();
    m->wait1_pivs(m->c331_fd, 1);
    EXPECT_GE(chip().frame(), frame + 1) << "the wait ended before the sync came";
    EXPECT_EQ(writesTo(0x050801), (std::vector<uint8_t>{2, 0}));
    EXPECT_EQ(reg(0x002901), 0u);

    // A chip whose sync never comes: the status is read for 50 ms of the
    // board's time (a frame at 24 Hz and some), then on.
    chip().setSyncStuck(true);
    chip().clearFrames();
    const uint64_t start = sim::SimClock::instance().nowUs();
    m->wait1_pivs(m->c331_fd, 1);
    EXPECT_GE(sim::SimClock::instance().nowUs() - start, 50000u);
    size_t statusReads = 0;
    for (const auto& f : chip().frames())
        statusReads += (!f.write() && f.bank == 0x05 && f.addr() == 0x22) ? 1 : 0;
    EXPECT_GT(statusReads, 1u);
    m->wait1_pivs(m->c331_fd, 1);
    auto count = [this] {
        const std::string text = log();
        size_t n = 0;
        for (size_t p = text.find("input vertical sync"); p != std::string::npos;
             p = text.find("input vertical sync", p + 1))
            ++n;
        return n;
    };
    EXPECT_EQ(count(), 1u);
    chip().setSyncStuck(false);
    m->wait1_pivs(m->c331_fd, 1);
    chip().setSyncStuck(true);
    m->wait1_pivs(m->c331_fd, 1);
    EXPECT_EQ(count(), 2u) << "logged again after a good wait";

    chip().clearFrames();
    m->wait1_pivs(m->c331_fd, 8);
    EXPECT_EQ(chip().frames().size(), 0u) << "channels 0 to 7 only";

    // Without its source the channel reports no input: no wait.
    chip().setSyncStuck(true);
    chip().setSource(2, {});
    EXPECT_EQ(reg(0xA84401), 0xFFu);
    const uint64_t quick = sim::SimClock::instance().nowUs();
    m->wait1_pivs(m->c331_fd, 1);
    EXPECT_LT(sim::SimClock::instance().nowUs() - quick, 50000u);
    chip().setSyncStuck(false);
}

TEST_F(C331Controls, FieldWaitsReturnTheNextField)
{
    EXPECT_EQ(m->wait_ifld_change(m->c331_fd, 6), 0);
    // The field moves on with every frame: each wait ends at the next one.
    BoardClockSpeed slow(0.1);   // a frame lasts 167 ms here
    for (int k = 0; k < 2; ++k) {
        const uint64_t frame = chip().frame();
        const int field = k == 0 ? m->wait_ifld_change(m->c331_fd, 4) : m->wait_ofld_change(m->c331_fd, 3);
        EXPECT_GE(chip().frame(), frame + 1);
        EXPECT_EQ(field, static_cast<int>(chip().frame() & 3)) << "the field of the frame that has begun";
    }
}

TEST_F(C331Controls, DotByDotMemoryBlocks)
{
    m->g_dbd_port_act[0] = {0, 3840, 0, 2160};
    EXPECT_TRUE(m->check_dbd_input(m->c331_fd, 0));
    m->g_dbd_port_act[0] = {0, 2560, 0, 2176};
    EXPECT_FALSE(m->check_dbd_input(m->c331_fd, 0));
    m->g_dbd_port_act[4] = {0, 5120, 0, 2160};
    EXPECT_FALSE(m->check_dbd_input(m->c331_fd, 4));

    m->g_dbd_port_act[0] = {0, 1920, 0, 1080};
    for (int w = 0; w < 3; ++w)
        m->g_win_ich[w][0] = w;
    m->PM_WIN_DBD_MODE[0] = c331::DBD_CMOS_IN12V;
    m->PM_WIN_DBD_MODE[1] = c331::DBD_CMOS_IN12V;
    m->PM_WIN_DBD_MODE[2] = c331::DBD_CMOS_IN1234Q;
    ASSERT_EQ(m->set_dbd_mem(m->c331_fd, 0), 0);
    ASSERT_EQ(m->set_dbd_mem(m->c331_fd, 1), 0);
    EXPECT_EQ(m->dbd_win_blk[0][0], 5);
    EXPECT_EQ(m->dbd_win_blk[0][1], 4);
    EXPECT_EQ(m->dbd_win_blk[1][0], 3);
    EXPECT_EQ(m->dbd_win_blk[1][1], 2);
    EXPECT_EQ(m->dbd_win_fld[1][0], m->PS_MEM_DBD[0] + 2 * m->PS_DBD_BLK_SIZE) << "lowest block taken";
    EXPECT_EQ(m->dbd_win_mwi[0], 6) << "1920 pixels";
    EXPECT_EQ(m->set_dbd_mem(m->c331_fd, 2), -1);
    EXPECT_EQ(m->dbd_win_blk[2][0], -1) << "a failed window keeps no block";
    EXPECT_EQ(m->dbd_mem_blk[0], -1);
    EXPECT_EQ(m->dbd_mem_blk[1], -1);

    m->g_dbd_port_act[0].hw = 1921;
    ASSERT_EQ(m->set_dbd_mem(m->c331_fd, 0), 0);
    EXPECT_EQ(m->dbd_win_mwi[0], 7);

    // A single input that fits its channel's own memory takes no block.
    m->reset_dbd_mem(0);
    m->PM_WIN_DBD_MODE[0] = c331::DBD_SINGLE_INPUT;
    m->PM_INPUT[0] = 0;
    m->g_win_ich[0][0] = 3;
    ASSERT_EQ(m->set_dbd_mem(m->c331_fd, 0), 0);
    EXPECT_EQ(m->dbd_win_fld[0][2], m->PS_MEM_SC[3][2]);
    EXPECT_EQ(m->dbd_win_mwi[0], 64);
    EXPECT_EQ(m->dbd_win_blk[0][0], -1);
}

TEST_F(C331Controls, InputAndOutputWindows)
{
    m->PM_WIN_SHAPE[0][0] = 2;
    m->PM_WIN_SHAPE[0][1] = 1;
    m->PM_INPUT[0] = 1;
    m->PI_ACT[1] = {192, 1920, 41, 1080};
    m->PM_WIN_DBD_MODE[0] = 0;
    m->PM_INPUT_OFFSET_EN[0] = 1;
    m->PM_INPUT_OFFSET[0][0] = 1920;       // reaches the width: starts at 0
    m->PM_INPUT_OFFSET[0][1] = 100;
    m->PM_INPUT_OFFSET[0][2] = 40;
    m->PM_INPUT_OFFSET[0][3] = 60;
    m->calc_iwin2(0);
    EXPECT_EQ(m->IWIN[0].hst, 0);
    EXPECT_EQ(m->IWIN[0].hw, 1920) << "a width below 1 takes the whole width";
    EXPECT_EQ(m->IWIN[0].vst, 40);
    EXPECT_EQ(m->IWIN[0].vw, 980);

    m->PM_WIN_OFFSET[0][0] = 10;
    m->PM_WIN_OFFSET[0][1] = 30;
    m->calc_owin2(0);
    EXPECT_EQ(m->OWIN[0].hst, 10);
    EXPECT_EQ(m->OWIN[0].hw, 2 * m->PS_ACTHW - 40);
    EXPECT_EQ(m->OWIN[0].vw, m->PS_ACTVW);

    m->PM_WIN_SHAPE[0][1] = 0;
    m->calc_iwin2(0);
    EXPECT_EQ(m->IWIN[0].hw, 0) << "a window without shape is not available";
    m->calc_owin2(0);
    EXPECT_EQ(m->OWIN[0].vw, 0);
}

} // namespace
