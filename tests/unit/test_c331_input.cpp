// The input side of the c331 chip: sharpness, crops, the end of the forced
// colour, port monitoring from the receivers' records and the chip's own
// measurements, and the input channel allocation.
#include "support/c331_fixture.h"

#include "avchips/velmosource.h"
#include "core/le_bytes.h"
#include "core/para_layout.h"
#include "sim/board.h"

namespace {

class C331Input : public C331Test {
protected:
    void SetUp() override
    {
        C331Test::SetUp();
        for (auto& h : velmosource::pInstance()->hdminfo)
            h = HdmiInfo{};
        for (int i = 0; i < 6; ++i)
            chip().setSource(i, {});
    }
    void TearDown() override
    {
        for (auto& h : velmosource::pInstance()->hdminfo)
            h = HdmiInfo{};
        C331Test::TearDown();
    }

    // Window w shows input `input` on output channel och.
    void window(int w, int input, int och)
    {
        m->gMwin.wincnt = std::max(m->gMwin.wincnt, w + 1);
        m->gWininfo[w].input = static_cast<uint8_t>(input);
        m->gWininfo[w].ochLst[0] = static_cast<uint8_t>(och);
        m->gWininfo[w].ochCnt = 1;
        m->gWininfo[w].totalh = 1;
        m->gWininfo[w].totalv = 1;
        m->PM_INPUT[w] = c331_manage::zdrApi_inputCvtC331(static_cast<DSP_INPUT_PORT>(input));
        m->PM_WIN_NUM[och] = w;
    }
    // Layer records at 2272 + 26 l: enable (+0), input (+8), x, y, w, h
    // (+10 .. +16). Layer 0 shows HDMI1 whole on the left output; layer 1
    // is off.
    static void layer0ShowsHdmi1()
    {
        ParaWriteLock lock;
        for (const auto& w : {std::pair<int, uint16_t>{0, 1}, {8, 2}, {10, 0}, {12, 0}, {14, 1920}, {16, 1080}, {26, 0}})
            setLe16(lock.block(), 2272 + w.first, w.second);
    }
    // A stable 1080p60 record at input `input` (1920 x 1080 of 2200 x 1125).
    void record(int input, int nosignal = 0, int lane = 0)
    {
        HdmiInfo& h = velmosource::pInstance()->hdminfo[input];
        h = HdmiInfo{};
        h.Hact = 1920; h.Hsync = 44; h.Hback = 148; h.Htotal = 2200;
        h.Vact = 1080; h.Vsync = 5; h.Vback = 36; h.Vtotal = 1125;
        h.pfreq = 148.5f; h.lane = lane; h.nosignal = nosignal; h.stable = 1;
    }
};

TEST_F(C331Input, SharpnessLevelsAndCoefficientSets)
{
    window(0, 2, 0);                      // HDMI1: chip port 1
    m->PI_PORT_INFO[1].STATE = 4;
    m->IWIN[0] = {0, 640, 0, 1000};
    m->OWIN[0] = {0, 1920, 0, 1100};      // 3 x across, 1.1 x down
    m->c331_SetSharpness(20);
    EXPECT_EQ(reg(0x0C2101) & 1, 1u);
    EXPECT_EQ(reg(0x0B0801), 6u);
    EXPECT_EQ(reg(0x0B0901), 128u);
    EXPECT_EQ(reg(0x0B1201), 128u);
    const uint32_t h[5] = {36, 43, 58, 4, 5}, v[3] = {44, 50, 56};
    for (unsigned k = 0; k < 5; ++k)
        EXPECT_EQ(reg(0x0B0C01 + 0x100 * k), h[k]) << k;
    for (unsigned k = 0; k < 3; ++k)
        EXPECT_EQ(reg(0x0B1501 + 0x100 * k), v[k]) << k;
    EXPECT_EQ(reg(0x0B5E01), 1u);
    EXPECT_EQ(reg(0x0B0901, 16), 0u) << "a channel of no window stays untouched";

    // 9 and 10 both switch the enhancer off with all coefficients 0.
    for (int s : {9, 10}) {
        m->c331_SetSharpness(20);
        m->c331_SetSharpness(s);
        EXPECT_EQ(reg(0x0B0801), 0u) << s;
        EXPECT_EQ(reg(0x0B1101), 0u) << s;
        EXPECT_EQ(reg(0x0B0901), 0u) << s;
        EXPECT_EQ(reg(0x0B0C01), 0u) << s;
        EXPECT_EQ(reg(0x0B1501), 0u) << s;
    }
    // An input window of no size never divides: the 1:1 set is used.
    m->IWIN[0] = {0, 0, 0, 0};
    m->c331_SetSharpness(11);
    EXPECT_EQ(reg(0x0B0C01), 44u);
    EXPECT_EQ(reg(0x0B1501), 44u);
    EXPECT_EQ(reg(0x0B0901), 12u);
    // The one-byte gain: 29 gives 243; 30 (256) and beyond stay at 255.
    const std::pair<int, uint32_t> gains[] = {{29, 243}, {30, 255}, {40, 255}, {0x7FFF, 255}};
    for (const auto& g : gains) {
        m->c331_SetSharpness(g.first);
        EXPECT_EQ(reg(0x0B0901), g.second) << g.first;
        EXPECT_EQ(reg(0x0B1201), g.second) << g.first;
    }
}

TEST_F(C331Input, CropOffsetsAndCorrections)
{
    window(0, 2, 0);
    m->PI_ACT[1] = {192, 1920, 41, 1080};
    m->PI_PORT_INFO[1].STATE = 4;
    ST_RECT full{0, 0, 1920, 1080};
    m->c331_SetCrop(0, 1, &full);
    EXPECT_EQ(m->PM_INPUT_OFFSET_EN[0], 1);
    for (int t = 0; t < 4; ++t)
        EXPECT_EQ(m->PM_INPUT_OFFSET[0][t], 0);

    ST_RECT r{100, 200, 2000, 400};       // beyond the width: full width from 0
    m->c331_SetCrop(0, 1, &r);
    EXPECT_EQ(r.x, 0);
    EXPECT_EQ(r.w, 1920);
    EXPECT_EQ(m->PM_INPUT_OFFSET[0][0], 0);
    EXPECT_EQ(m->PM_INPUT_OFFSET[0][1], 0);
    EXPECT_EQ(m->PM_INPUT_OFFSET[0][2], 200);
    EXPECT_EQ(m->PM_INPUT_OFFSET[0][3], 480);

    m->c331_SetCrop(0, 0, &r);
    EXPECT_EQ(m->PM_INPUT_OFFSET_EN[0], 0);
    EXPECT_EQ(m->PM_INPUT_OFFSET[0][2], 0);

    // A V-by-One input split over two channels takes crops twice its width.
    window(1, 5, 1);                      // HDMI4: chip port 4
    m->PI_ACT[4] = {96, 1920, 41, 2160};
    m->PI_PORT_INFO[4].STATE = 1;
    ST_RECT wide{0, 0, 3840, 2160};
    m->c331_SetCrop(1, 1, &wide);
    EXPECT_EQ(wide.w, 3840);
    EXPECT_EQ(m->PM_INPUT_OFFSET[1][1], 0);

    // No signal: offsets 0; bad window numbers change nothing.
    m->PI_ACT[1] = {16, 0, 16, 0};
    ST_RECT some{10, 10, 10, 10};
    EXPECT_EQ(m->zdrApi_CropGetOffset(1, &some, 0), 0);
    EXPECT_EQ(m->zdrApi_CropGetOffset(9, &some, 0), 0);
    m->c331_SetCrop(7, 1, &some);
    m->c331_SetCrop(-1, 1, &some);

    // A window's margins inside 960-wide output channels.
    m->pnl.och.width = 960;
    m->pnl.och.height = 540;
    ST_WIN_INFO wi{};
    wi.x = 100; wi.w = 500; wi.y = 600; wi.h = 100; wi.totalh = 1; wi.totalv = 1;
    EXPECT_EQ(m->zdrApi_OchGetWinOffset1(&wi, 0), 100);
    EXPECT_EQ(m->zdrApi_OchGetWinOffset1(&wi, 1), 360);
    EXPECT_EQ(m->zdrApi_OchGetWinOffset1(&wi, 2), 60);
    EXPECT_EQ(m->zdrApi_OchGetWinOffset1(&wi, 3), 380);
    m->pnl.och.width = 0;
    EXPECT_EQ(m->zdrApi_OchGetWinOffset1(&wi, 0), 0);
}

// A crop from the PC whose width runs past its input: x 100, y 20, width
// 59392 (0xE800) and height 1060 on HDMI1 at 1920 x 1080. It shows the
// whole width from x = 0, rows 20 to 1079, whichever path programs it: the
// layer choosing the crop with the port check of the same pass, the port
// check after the input changed to 1280 x 720 (where the height runs past
// as well) and a re-layout. The chip reads the window from memory as it
// does for the crop 0, 20, 1920, 1060.
TEST_F(C331Input, ACropPastItsInputIsCorrectedAlikeOnEveryPath)
{
    auto set = [](int off, uint16_t value) { setLe16(ParaWriteLock().block(), off, value); };
    layer0ShowsHdmi1();
    record(2);
    chip().setSource(2, {true, 1920, 1080, 60});
    m->zdrApi_PnlInit2(3840, 1080, 1920, 0, 3);
    m->load_hdmi();
    m->check_input_port(m->c331_fd);
    m->set_output(m->c331_fd);
    ASSERT_EQ(m->gMwin.wincnt, 1);
    ASSERT_EQ(m->PM_INPUT[0], 1);
    ASSERT_EQ(m->gWininfo[0].ochCnt, 1);
    const unsigned och = 16u * m->gWininfo[0].ochLst[0];
    persist();
    m->start_applied_copy();

    // What the output channel reads from memory: its five field addresses
    // (0x160804 + 4 k) and its active area (0x084002 .. 0x084602).
    auto reads = [this, och]() {
        std::vector<uint32_t> r;
        for (uint32_t d : {0x160804u, 0x160C04u, 0x161004u, 0x161404u, 0x161804u, 0x084002u, 0x084202u, 0x084402u,
                           0x084602u})
            r.push_back(reg(d, och));
        return r;
    };
    auto iwin = [this]() {
        const auto& i = m->IWIN[0];
        return std::vector<int>{i.hst, i.hw, i.vst, i.vw};
    };
    auto offsets = [this]() { return std::vector<int>(m->PM_INPUT_OFFSET[0], m->PM_INPUT_OFFSET[0] + 4); };
    // The PC's writes: a crop record (1472 + 10 k: head in use, crop number,
    // input 2; x, y, width, height), then layer 0's input word names it.
    auto pcCrop = [&](int k, uint16_t x, uint16_t y, uint16_t w, uint16_t h) {
        ParaWriteLock lock;
        const int rec = 1472 + 10 * k;
        set(rec + 0, static_cast<uint16_t>(0x8002 | (k << 8)));
        set(rec + 2, x);
        set(rec + 4, y);
        set(rec + 6, w);
        set(rec + 8, h);
        set(2272 + 8, static_cast<uint16_t>(0x8000 | k));
        lock.raise(1);
    };

    pcCrop(4, 0, 20, 1920, 1060);
    deal();
    ASSERT_EQ(iwin(), (std::vector<int>{0, 1920, 20, 1060}));
    const std::vector<uint32_t> inRange = reads();

    pcCrop(5, 100, 20, 0xE800, 1060);
    deal();
    EXPECT_EQ(m->PM_INPUT_OFFSET_EN[0], 1);
    EXPECT_EQ(offsets(), (std::vector<int>{0, 0, 20, 0}));
    EXPECT_EQ(iwin(), (std::vector<int>{0, 1920, 20, 1060}));
    EXPECT_EQ(reads(), inRange) << "read from the input's left edge";
    EXPECT_EQ(le16(store->ram_para, 1472 + 10 * 5 + 6), 0xE800) << "the PC's record is left as it wrote it";

    // The input changes to 1280 x 720 at 60 Hz (1560 x 765): the next port
    // check takes the crop against the new area, where y 20 + 1060 runs
    // past the height too.
    {
        HdmiInfo& h = velmosource::pInstance()->hdminfo[2];
        h.Hact = 1280; h.Htotal = 1560; h.Vact = 720; h.Vtotal = 765; h.pfreq = 71.604f;
    }
    chip().setSource(2, {true, 1280, 720, 60});
    deal();
    ASSERT_EQ(m->PI_ACT[1].hw, 1280);
    EXPECT_EQ(offsets(), (std::vector<int>{0, 0, 0, 0}));
    EXPECT_EQ(iwin(), (std::vector<int>{0, 1280, 0, 720}));

    // Back to 1920 x 1080, then layer 0 narrowed to 1900: the re-layout
    // reads the crop record and corrects it the same way.
    record(2);
    chip().setSource(2, {true, 1920, 1080, 60});
    deal();
    EXPECT_EQ(iwin(), (std::vector<int>{0, 1920, 20, 1060}));
    EXPECT_EQ(reads(), inRange);
    store16(2272 + 14, 1900);
    deal();
    ASSERT_EQ(m->gWininfo[0].w, 1900);
    EXPECT_EQ(offsets(), (std::vector<int>{0, 0, 20, 0}));
    EXPECT_EQ(iwin(), (std::vector<int>{0, 1920, 20, 1060}));
}

// A PC's RAM write of a shown crop's rectangle, without its flag (answered),
// then a new timing of the crop's input (HDMI1, 1920 x 1080 to 1280 x 720):
// the port check takes the rectangle the chip was given (x 0, y 20, 1200 x
// 700) against the new area; the PC's flag then brings the PC's rectangle.
TEST_F(C331Input, ARamWriteOfAShownCropWaitsForItsFlagThroughANewTimingOfItsInput)
{
    layer0ShowsHdmi1();
    auto input = [this](bool hd) {
        record(2);
        if (!hd) {
            HdmiInfo& h = velmosource::pInstance()->hdminfo[2];
            h.Hact = 1280; h.Htotal = 1560; h.Vact = 720; h.Vtotal = 765; h.pfreq = 71.604f;
        }
        chip().setSource(2, {true, hd ? 1920 : 1280, hd ? 1080 : 720, 60});
    };
    input(true);
    m->zdrApi_PnlInit2(3840, 1080, 1920, 0, 3);
    m->load_hdmi();
    m->check_input_port(m->c331_fd);
    m->set_output(m->c331_fd);
    persist();
    m->start_applied_copy();
    auto offsets = [this]() { return std::vector<int>(m->PM_INPUT_OFFSET[0], m->PM_INPUT_OFFSET[0] + 4); };
    const int rec = 1472 + 10 * 4;   // crop record 4: in use, input 2
    const struct {
        const char* what;
        int offset;                   // into the record
        std::vector<unsigned char> bytes;
        std::vector<int> pcs;         // the offsets of the PC's rectangle at 1280 x 720
    } rows[] = {
        {"the whole rectangle", 2, {0, 0, 0, 0, 0xC0, 3, 0x1C, 2}, {0, 320, 0, 180}},
        {"its width", 6, {0x80, 2}, {0, 640, 20, 0}},
        {"its x", 2, {40, 0}, {40, 40, 20, 0}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        input(true);
        {
            ParaWriteLock lock;
            setLe16(lock.block(), rec, 0x8402);
            setLe16(lock.block(), rec + 2, 0);
            setLe16(lock.block(), rec + 4, 20);
            setLe16(lock.block(), rec + 6, 1200);
            setLe16(lock.block(), rec + 8, 700);
            setLe16(lock.block(), 2272 + 8, 0x8004);
            lock.raise(1);
        }
        deal();
        ASSERT_EQ(m->PI_ACT[1].hw, 1920);
        ASSERT_EQ(offsets(), (std::vector<int>{0, 720, 20, 360}));

        std::vector<unsigned char> bytes = row.bytes;
        ASSERT_EQ(store->ZdrRamParaDeal(bytes.data(), static_cast<unsigned short>(bytes.size()),
                                        static_cast<unsigned>(rec + row.offset)),
                  0);
        input(false);
        deal();
        ASSERT_EQ(m->PI_ACT[1].hw, 1280);
        EXPECT_EQ(offsets(), (std::vector<int>{0, 80, 20, 0})) << "the rectangle the chip was given";

        c331_manage::para_change_flag = 1;   // the PC's flag
        deal();
        EXPECT_EQ(offsets(), row.pcs) << "the PC's rectangle, at its flag";
    }
}

TEST_F(C331Input, ForcedColourEndsOnTheChangePassAfterTheFpgasAreUp)
{
    window(0, 2, 0);
    window(1, 3, 1);
    m->PI_PORT_INFO[1].STATE = 4;         // window 0 has a picture
    m->PI_PORT_INFO[0].nosignal = 1;      // window 1 has none
    for (int c = 0; c < 8; ++c) {
        chip().setReg(0x084903, 0xFF00, 16 * c);
        chip().setReg(0x084801, 1, 16 * c);
    }
    g_force_bkcolor = 1;
    store16(para::kContrast, 40);
    deal();
    EXPECT_EQ(g_force_bkcolor.load(), 1) << "still waiting for the FPGAs";
    EXPECT_EQ(reg(0x084903), 0xFF00u);

    g_force_bkcolor = 0;                  // what the FPGA thread posts
    store16(para::kContrast, 41);
    deal();
    EXPECT_EQ(g_force_bkcolor.load(), 2);
    for (int c = 0; c < 8; ++c)
        EXPECT_EQ(reg(0x084903, 16 * c), 0u) << c;
    EXPECT_EQ(reg(0x084801, 0), 0u);
    EXPECT_EQ(reg(0x084801, 16), 1u);
}

TEST_F(C331Input, PortFollowsTheReceiverRecordAndTheMeasurement)
{
    window(0, 2, 0);                      // input 2 = chip port 1
    record(2);
    chip().setSource(2, {true, 1920, 1080, 60});
    m->load_hdmi();
    EXPECT_EQ(m->g_chg_input[0], 1);
    EXPECT_EQ(m->PI_HDMI_INFO[1].Htotal, 2200);
    m->check_input_port(m->c331_fd);
    EXPECT_EQ(m->PI_PORT_INFO[1].STATE, 4);
    EXPECT_EQ(m->PI_PORT_INFO[1].nosignal, 0);
    EXPECT_NEAR(m->PI_FV[1], 60.0, 0.01);
    EXPECT_NEAR(m->PI_FPICLK[1], 148.5e6, 1e4);
    EXPECT_EQ(m->PI_ACT[1].hst, 192);
    EXPECT_EQ(m->PI_ACT[1].hw, 1920);
    EXPECT_EQ(m->PI_ACT[1].vst, 41);
    EXPECT_EQ(m->PI_ACT[1].vw, 1080);
    EXPECT_EQ(m->PI_UPDATE[1], 1);

    // A second pass with nothing changed leaves the port alone; the
    // port's check clears its update mark when it starts.
    m->g_chg_input[0] = 0;
    m->load_hdmi();
    m->check_input_port(m->c331_fd);
    EXPECT_EQ(m->g_chg_input[0], 0);
    EXPECT_EQ(m->PI_UPDATE[1], 0);

    // The source goes away: background, no-signal area, state 0.
    chip().setSource(2, {});
    m->check_input_port(m->c331_fd);
    EXPECT_EQ(m->PI_PORT_INFO[1].STATE, 0);
    EXPECT_EQ(m->PI_PORT_INFO[1].nosignal, 1);
    EXPECT_EQ(m->PI_ACT[1].hst, 16);
    EXPECT_EQ(m->PI_ACT[1].hw, 0);
    EXPECT_EQ(m->PI_UPDATE[1], 1);
    EXPECT_EQ(reg(0x084801), 1u) << "the window shows the background";

    // Measured but the receiver says no signal: still no signal.
    chip().setSource(2, {true, 1920, 1080, 60});
    record(2, 1);
    m->load_hdmi();
    m->check_input_port(m->c331_fd);
    EXPECT_EQ(m->PI_PORT_INFO[1].STATE, 0);
    // And the signal comes back.
    record(2, 0);
    m->load_hdmi();
    m->check_input_port(m->c331_fd);
    EXPECT_EQ(m->PI_PORT_INFO[1].STATE, 4);
}

// The measurement rules at their edges, worked by hand: the count limits,
// the change thresholds (2 for the H values, 100 for the V and frame
// counts), the interlaced states and the lane checks of a V-by-One port.
TEST_F(C331Input, MeasurementLimitsThresholdsInterlacedStatesAndLanes)
{
    window(0, 2, 0);                      // input 2 = chip port 1
    record(2);
    chip().setSource(2, {true, 1920, 1080, 60});
    m->load_hdmi();
    m->check_input_port(m->c331_fd);
    ASSERT_EQ(m->PI_PORT_INFO[1].STATE, 4);
    m->g_chg_input[0] = 0;

    // Port 1's H count register (0xAE0A02) holds the count - 1: 0xFFFD is
    // 65534 (a count), 0xFFFF is 65536 (no signal).
    chip().setReg(0xAE0A02, 0xFFFD);
    m->check_input_port(m->c331_fd);
    EXPECT_EQ(m->PI_PORT_INFO[1].nosignal, 0);
    EXPECT_EQ(m->PI_PORT_INFO[1].HCNT, 65534);
    chip().setReg(0xAE0A02, 0xFFFF);
    m->check_input_port(m->c331_fd);
    EXPECT_EQ(m->PI_PORT_INFO[1].nosignal, 1);
    EXPECT_EQ(m->PI_PORT_INFO[1].STATE, 0);
    chip().setReg(0xAE0A02, 1919);
    m->check_input_port(m->c331_fd);
    ASSERT_EQ(m->PI_PORT_INFO[1].STATE, 4);
    m->g_chg_input[0] = 0;

    // Thresholds against the previous reading: H 1920 -> 1922 stays,
    // 1922 -> 1925 updates; V 1080 -> 1180 stays, -> 1281 updates; the
    // frame count 3333333 -> 3333433 stays, -> 3333534 updates.
    struct Step {
        uint32_t reg, value;
        int updated;
    };
    const Step steps[] = {
        {0xAE0A02, 1921, 0}, {0xAE0A02, 1924, 1}, {0xAE3A02, 1179, 0},
        {0xAE3A02, 1280, 1}, {0xAE5303, 3333432, 0}, {0xAE5303, 3333533, 1},
    };
    for (const Step& st : steps) {
        chip().setReg(st.reg, st.value);
        m->check_input_port(m->c331_fd);
        EXPECT_EQ(m->PI_UPDATE[1], st.updated) << std::hex << st.reg << " " << std::dec << st.value;
    }

    // Interlaced records: Vtotal 560..565 gives state 5 at 55 Hz or more,
    // 6 below; 260..265 state 7; 266..350 state 8; any other no interlace.
    struct Interlaced {
        int vtotal, hz, state, ip;
    };
    const Interlaced cases[] = {{562, 60, 5, 1}, {562, 50, 6, 1}, {262, 60, 7, 1}, {300, 50, 8, 1}, {1125, 60, 3, 0}};
    for (const Interlaced& c : cases) {
        record(2);
        HdmiInfo& h = velmosource::pInstance()->hdminfo[2];
        h.ip = 1;
        h.Vtotal = c.vtotal;
        h.datamode = c.ip ? 0 : 1;
        chip().setSource(2, {true, 1920, 1080, c.hz});
        m->load_hdmi();
        m->check_input_port(m->c331_fd);
        EXPECT_EQ(m->PI_PORT_INFO[1].STATE, c.state) << c.vtotal << " at " << c.hz;
        EXPECT_EQ(m->PI_PORT_INFO[1].IP, c.ip) << c.vtotal << " at " << c.hz;
    }

    // HDMI4 (chip port 4, receiver 0) with 4 lanes: the third lane's H
    // count (0xAE4202) reading 0xFFFF does not fail the check, which looks
    // at the first two lanes; with 8 lanes it does.
    window(1, 5, 1);
    record(5, 0, 4);
    chip().setSource(5, {true, 1920, 1080, 60, false, 4});
    m->load_hdmi();
    m->check_input_port(m->c331_fd);
    ASSERT_EQ(m->vbo_retry[0], 0);
    chip().setReg(0xAE4202, 0xFFFF);
    m->check_input_port(m->c331_fd);
    EXPECT_EQ(m->vbo_retry[0], 0);
    record(5, 0, 8);
    m->load_hdmi();
    m->check_input_port(m->c331_fd);
    EXPECT_EQ(m->vbo_retry[0], 1);
}

TEST_F(C331Input, UnstableOrUnusedPortsAreNotMeasured)
{
    window(0, 2, 0);
    record(2);
    velmosource::pInstance()->hdminfo[2].stable = 0;
    chip().setSource(2, {true, 1920, 1080, 60});
    m->load_hdmi();
    m->check_input_port(m->c331_fd);
    EXPECT_EQ(m->g_chg_input[0], 0);
    EXPECT_EQ(m->PI_PORT_INFO[1].STATE, 0);
    // Input 3 (port 0) is fed but no window uses it.
    record(3);
    chip().setSource(3, {true, 1280, 720, 50});
    m->load_hdmi();
    m->check_input_port(m->c331_fd);
    EXPECT_EQ(m->PI_PORT_INFO[0].STATE, 0);
    EXPECT_EQ(m->PI_HDMI_INFO[0].Hact, 1920) << "the record is copied all the same";
}

TEST_F(C331Input, VboPortAndItsReceiver)
{
    window(0, 5, 0);                      // HDMI4: chip port 4, receiver 0
    record(5, 0, 8);
    chip().setSource(5, {true, 1920, 1080, 60});
    m->load_hdmi();
    m->check_input_port(m->c331_fd);
    EXPECT_EQ(m->PI_PORT_INFO[4].STATE, 1) << "8 lanes: split over two channels";
    EXPECT_EQ(m->PI_ACT[4].hw, 960);
    EXPECT_EQ(reg(0x024F01), 255u) << "re-armed for 8 lanes";
    EXPECT_EQ(m->vbo_retry[0], 0);

    // The source goes: the receiver is re-armed on every pass, retries cycle.
    chip().setSource(5, {});
    for (int i = 0; i < 3; ++i)
        m->check_input_port(m->c331_fd);
    EXPECT_EQ(m->vbo_retry[0], 3);
    EXPECT_EQ(reg(0x024F01), 128u);
    EXPECT_EQ(reg(0x027F01), 15u);
    for (int i = 0; i < 27; ++i)
        m->check_input_port(m->c331_fd);
    EXPECT_EQ(m->vbo_retry[0], 0) << "30 wraps to 0";

    // Two lanes of 1080p60 run at 74.25 MHz each; the receiver's range bit
    // 3 is set all the same, as the receiver has always been set up.
    record(5, 0, 2);
    chip().setSource(5, {true, 1920, 1080, 60});
    m->load_hdmi();
    m->check_input_port(m->c331_fd);
    EXPECT_EQ(m->PI_PORT_INFO[4].STATE, 4);
    EXPECT_EQ(reg(0x024C01) & 0x08, 0x08u);
}

TEST_F(C331Input, NoSignalCheckOfEnabledPorts)
{
    window(0, 2, 0);
    m->port_status[1] = 0x80;
    m->check_port_valid(m->c331_fd);
    EXPECT_EQ(m->port_status[1], 0x81);
    chip().setSource(2, {true, 800, 600, 60});
    m->check_port_valid(m->c331_fd);
    EXPECT_EQ(m->port_status[1], 0x80);
    // Without bit 7 the port is not looked at.
    m->port_status[1] = 0x01;
    m->check_port_valid(m->c331_fd);
    EXPECT_EQ(m->port_status[1], 0x01);
}

TEST_F(C331Input, SetInputsourceAssignsAndRejects)
{
    window(0, 2, 0);
    chip().clearFrames();
    m->c331_SetInputsource(0, 10);        // 10 mod 6 = input 4: chip port 5
    EXPECT_EQ(m->gWininfo[0].input, 4);
    EXPECT_EQ(m->PM_INPUT[0], 5);
    // The window is reprogrammed by the output pass (which takes the mark).
    EXPECT_FALSE(chip().frames().empty());
    chip().clearFrames();
    m->c331_SetInputsource(1, 0);         // beyond the windows in use
    m->c331_SetInputsource(0, -1);
    EXPECT_EQ(m->PM_INPUT[0], 5);
    EXPECT_TRUE(chip().frames().empty());
    EXPECT_EQ(c331_manage::zdrApi_GetPortDevId(0), 3);
    EXPECT_EQ(c331_manage::zdrApi_GetPortDevId(9), 3);
    for (int i = 0; i < 6; ++i)
        EXPECT_EQ(c331_manage::zdrApi_GetPortDevId(c331_manage::zdrApi_inputCvtC331(static_cast<DSP_INPUT_PORT>(i))), i);
}

class C331Ich : public C331Input {
protected:
    void avail(int w, int port, int mode = 0)
    {
        m->PM_WIN_SHAPE[w][0] = m->PM_WIN_SHAPE[w][1] = 1;
        m->PM_INPUT[w] = port;
        m->PM_WIN_DBD_MODE[w] = mode;
    }
};

TEST_F(C331Ich, AllocationOrderAndPairs)
{
    for (int w = 0; w < 4; ++w) {
        avail(w, w);
        EXPECT_EQ(m->set_input(w, w), 0);
        EXPECT_EQ(m->g_win_ich[w][0], w);
    }
    avail(4, 4);
    EXPECT_EQ(m->set_input(4, 4), 0);
    EXPECT_EQ(m->g_win_ich[4][0], 4);
    EXPECT_EQ(m->g_win_ich[4][1], 5);
    // 2 + 2 + 4 = 8 is served; a CMOS window becoming 2 channels is not.
    avail(5, 5);
    EXPECT_EQ(m->set_input(5, 5), 0);
    EXPECT_EQ(m->check_ich_all(-1), 8);
    m->PM_WIN_DBD_MODE[0] = c331::DBD_CMOS_IN12;
    EXPECT_EQ(m->check_ich_all(-1), -1);
    // A port beyond 5 leaves the lists as they were.
    m->PM_WIN_DBD_MODE[0] = 0;
    EXPECT_EQ(m->set_input(0, 7), 2);
    EXPECT_EQ(m->g_win_ich[5][0], 6);
}

TEST_F(C331Ich, HalfUsedPairFirstAndInterlacedMove)
{
    m->g_ich_win[2] = 5;
    EXPECT_EQ(m->check_ich(0, 0), 3);
    for (int c = 0; c < 8; ++c)
        m->g_ich_win[c] = -1;
    for (int w = 0; w < 4; ++w) {
        avail(w, w);
        m->set_input(w, w);
    }
    // Window 4 on a port measuring interlaced: ICH0's owner moves to ICH4.
    avail(4, 1);
    m->PI_PORT_INFO[1].IP = 1;
    m->g_chg_input[0] = 0;
    EXPECT_EQ(m->set_input(4, 1), 1);
    EXPECT_EQ(m->g_ich_win[0], 4);
    EXPECT_EQ(m->g_ich_win[4], 0);
    EXPECT_EQ(m->g_chg_input[0], 2);

    // A window that is no longer available gives its channels back.
    m->PM_WIN_SHAPE[4][0] = 0;
    m->reset_ich(4);
    EXPECT_EQ(m->g_ich_win[0], -1);
    EXPECT_EQ(m->set_input(4, 1), 2);
}

// Making room for an interlaced window (channels 0 to 3 only) or a
// V-by-One pair moves a window that holds one channel, never one channel
// of a window that holds several (a pair or a multi-channel window).
TEST_F(C331Ich, MakingRoomNeverSplitsAWindowsChannels)
{
    auto set = [this](std::initializer_list<int> owners) {
        int c = 0;
        for (int o : owners)
            m->g_ich_win[c++] = o;
        for (int w = 0; w < 6; ++w)
            m->g_chg_input[w] = 0;
    };
    auto owners = [this]() { return std::vector<int>(m->g_ich_win, m->g_ich_win + 8); };
    avail(3, 1);
    m->PI_PORT_INFO[1].IP = 1;

    // ICH0/1 belong to window 0, ICH2 and ICH3 to windows 1 and 2: window
    // 1 moves to ICH4 and the interlaced window takes ICH2.
    set({0, 0, 1, 2, -1, -1, -1, -1});
    EXPECT_EQ(m->adjust_ich(1, 0, 3), 0);
    EXPECT_EQ(owners(), (std::vector<int>{0, 0, 3, 2, 1, -1, -1, -1}));
    EXPECT_EQ(m->g_chg_input[1], 2);
    EXPECT_EQ(m->g_chg_input[0], 0);

    // Every one of ICH0-3 belongs to a two-channel window: nothing moves;
    // the window is placed beyond ICH3, as when no channel can be freed.
    set({0, 0, 1, 1, -1, -1, -1, -1});
    m->adjust_ich(1, 0, 3);
    EXPECT_EQ(owners(), (std::vector<int>{0, 0, 1, 1, 3, -1, -1, -1}));

    // A pair: ICH4 is free but ICH5 is part of window 1's ICH5/ICH6; ICH7
    // is free but ICH6 is window 1's too: the pair goes to ICH0/ICH1,
    // window 2 moving from ICH1 to ICH2.
    set({-1, 2, -1, 0, -1, 1, 1, -1});
    EXPECT_EQ(m->adjust_ich(0, 1, 4), 0);
    EXPECT_EQ(owners(), (std::vector<int>{4, 4, 2, 0, -1, 1, 1, -1}));
    EXPECT_EQ(m->g_chg_input[2], 2);
    EXPECT_EQ(m->g_chg_input[1], 0);

    // A single-channel owner beside a free channel moves: ICH5's window 1
    // goes to ICH6, the pair takes ICH4/ICH5.
    set({0, 0, 2, 3, -1, 1, -1, -1});
    EXPECT_EQ(m->adjust_ich(0, 1, 4), 0);
    EXPECT_EQ(owners(), (std::vector<int>{0, 0, 2, 3, 4, 4, 1, -1}));

    // No pair can be freed without a split: refused, nothing moved.
    set({0, 0, 1, 1, 2, 2, 3, -1});
    EXPECT_EQ(m->adjust_ich(0, 1, 4), -1);
    EXPECT_EQ(owners(), (std::vector<int>{0, 0, 1, 1, 2, 2, 3, -1}));
}

TEST_F(C331Ich, ChannelSourceCodes)
{
    avail(0, 5);
    record(4, 0, 8);
    m->load_hdmi();
    m->set_input(0, 5);
    m->set_ichsel(m->c331_fd, 0);
    EXPECT_EQ(reg(0x001001 + 0x100 * 4), 12u);
    EXPECT_EQ(reg(0x001001 + 0x100 * 5), 14u);
    avail(1, 2);
    m->set_input(1, 2);
    m->set_ichsel(m->c331_fd, 1);
    EXPECT_EQ(reg(0x001001 + 0x100u * static_cast<unsigned>(m->g_win_ich[1][0])), 4u);
    m->PI_ACT[5] = {96, 960, 41, 2160};
    m->set_idual(m->c331_fd, 5, 1, 5);
    EXPECT_EQ(reg(0x030801 + 0x900 * 2), 3u);
    EXPECT_EQ(reg(0x030902 + 0x900 * 2), 96u);
    EXPECT_EQ(reg(0x030B02 + 0x900 * 2), 1920u);
    m->set_idual(m->c331_fd, 5, 0, 5);
    EXPECT_EQ(reg(0x030801 + 0x900 * 2), 0u);
}

} // namespace

namespace {

class C331DbdWindow : public C331Ich {};

TEST_F(C331DbdWindow, FourCmosPortsSideBySide)
{
    avail(0, 0, c331::DBD_CMOS_IN1234);
    m->g_chg_dbd[0] = 1;
    for (int p = 0; p < 4; ++p)
        m->g_dbd_port_act[p] = {100, 640, 20, 480};
    ASSERT_EQ(m->set_input(0, 0), 0);
    m->set_display_window_ich_dbd(m->c331_fd, 0, c331::DBD_CMOS_IN1234);
    for (unsigned i = 0; i < 4; ++i) {
        const unsigned ch = static_cast<unsigned>(m->g_win_ich[0][i]);
        EXPECT_EQ(reg(0x001001 + 0x100 * ch), 2 * i) << i;
        EXPECT_EQ(reg(0x101702, 16 * ch), 93u);
        EXPECT_EQ(reg(0x101B02, 16 * ch), 21u);
        EXPECT_EQ(reg(0x101902, 16 * ch), 640u);
        EXPECT_EQ(reg(0x100901, 16 * ch), i == 0 ? 1u : 8u + static_cast<unsigned>(m->g_win_ich[0][0]));
        // Write mode 0: four bytes a pixel after the channels before it.
        EXPECT_EQ(reg(0x161C04, 16 * ch), m->dbd_win_fld[0][0] + 4 * 640 * i);
    }
}

// Where each channel of a four-port window writes in the window's field
// memory, by write mode, worked by hand for areas 641 pixels wide (480
// lines); and the stacked variant, whose second row starts at the memory
// width value (1282 pixels: (1282 + 319) / 320 = 5) x 480 lines x 1024.
TEST_F(C331DbdWindow, LineOffsetsByWriteModeAndTheStackedSecondRow)
{
    struct Case {
        int mode;
        unsigned modeByte;
        unsigned offsets[4];
    };
    const Case cases[] = {
        {0, 0x00, {0, 2564, 5128, 7692}},      // 4 x S
        {1, 0x80, {0, 2051, 4102, 6153}},      // 16 x (S / 5) + 3 x (S mod 5)
        {2, 0x01, {2, 1712, 3424, 5128}},      // S up to a multiple of 3, x 8 / 3; first 2 x 1
        {3, 0x11, {0, 1282, 2564, 3846}},      // 2 x S
    };
    for (const Case& c : cases) {
        for (int ch = 0; ch < 8; ++ch)
            m->g_ich_win[ch] = -1;
        m->reset_dbd_mem(0);
        avail(0, 0, c331::DBD_CMOS_IN1234);
        m->g_chg_dbd[0] = 1;
        m->PS_MEM_WMODE[0] = c.mode;
        for (int p = 0; p < 4; ++p)
            m->g_dbd_port_act[p] = {100, 641, 20, 480};
        ASSERT_EQ(m->set_input(0, 0), 0);
        m->set_display_window_ich_dbd(m->c331_fd, 0, c331::DBD_CMOS_IN1234);
        for (unsigned i = 0; i < 4; ++i) {
            const unsigned ch = static_cast<unsigned>(m->g_win_ich[0][i]);
            EXPECT_EQ(reg(0x161C04, 16 * ch) - m->dbd_win_fld[0][0], c.offsets[i]) << "mode " << c.mode << " " << i;
            EXPECT_EQ(reg(0x007101 + 0x100 * ch), c.modeByte) << "mode " << c.mode << " " << i;
        }
    }

    for (int ch = 0; ch < 8; ++ch)
        m->g_ich_win[ch] = -1;
    m->reset_dbd_mem(0);
    avail(0, 0, c331::DBD_CMOS_IN1234Q);
    m->g_chg_dbd[0] = 1;
    m->PS_MEM_WMODE[0] = 3;
    ASSERT_EQ(m->set_input(0, 0), 0);
    m->set_display_window_ich_dbd(m->c331_fd, 0, c331::DBD_CMOS_IN1234Q);
    EXPECT_EQ(m->dbd_win_mwi[0], 5);
    const unsigned expected[4] = {0, 1282, 5u * 480 * 1024, 5u * 480 * 1024 + 1282};
    for (unsigned i = 0; i < 4; ++i) {
        const unsigned ch = static_cast<unsigned>(m->g_win_ich[0][i]);
        EXPECT_EQ(reg(0x161C04, 16 * ch) - m->dbd_win_fld[0][0], expected[i]) << i;
        EXPECT_EQ(reg(0x163101, 16 * ch), 5u) << i;
    }
}

TEST_F(C331DbdWindow, TooFewChannelsStopAfterTheSourceSelection)
{
    avail(0, 0, c331::DBD_CMOS_IN1234);
    for (int p = 0; p < 4; ++p)
        m->g_dbd_port_act[p] = {100, 640, 20, 480};
    for (int c = 0; c < 3; ++c)
        m->g_ich_win[c] = 0;
    m->rebuild_win_ich();
    m->set_display_window_ich_dbd(m->c331_fd, 0, c331::DBD_CMOS_IN1234);
    EXPECT_EQ(reg(0x001001 + 0x100), 2u) << "the source selection is written";
    EXPECT_EQ(reg(0x101902, 16), 0u) << "the channel windows are not";
}

TEST_F(C331DbdWindow, PortAreaFollowsTheMeasurement)
{
    window(0, 5, 0);                      // chip port 4
    record(5, 0, 8);
    chip().setSource(5, {true, 3840, 2160, 30});
    m->load_hdmi();
    velmosource::pInstance()->hdminfo[5].Hact = 3840;
    m->PI_HDMI_INFO[4].Hact = 3840;
    m->check_input_port(m->c331_fd);
    EXPECT_EQ(m->PI_ACT[4].hw, 1920);
    EXPECT_EQ(m->g_dbd_port_act[4].hw, 3840) << "the whole picture for a dot-by-dot window";
    chip().setSource(5, {});
    m->check_input_port(m->c331_fd);
    EXPECT_EQ(m->g_dbd_port_act[4].hw, 0);
}

} // namespace
