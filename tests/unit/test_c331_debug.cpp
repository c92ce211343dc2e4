// Chip diagnostics: the PC's debug bytes served at the end of a change
// pass, the register test sequences, the register dump asked for through
// the control link and the format of the console dumps.
#include "support/c331_fixture.h"

#include "avchips/velmosource.h"
#include "core/le_bytes.h"
#include "core/utils.h"
#include "link/message_deal.h"
#include "platform/platform.h"
#include "sim/board.h"
#include "sim/control_channel.h"

#include <QMutexLocker>

#include <cstdio>
#include <gtest/gtest.h>
#include <sstream>
#include <string>

namespace {

class C331Debug : public C331Test {
protected:
    // Debug bytes as the PC's register write leaves them: stored, then the
    // flag raised under the manage mutex.
    void request(int byte, unsigned char value)
    {
        ParaWriteLock lock;
        lock.status()[byte] = value;
        lock.raise(1);
    }
    static bool has(const std::string& out, const std::string& what) { return out.find(what) != std::string::npos; }
    // Layers 0 and 1 side by side, 1920 x 1080 each, showing inputs left
    // and right. Layer records at 2272 + 26 l: enable (+0), input (+8), x,
    // y, w, h (+10 .. +16).
    void twoLayers(int left, int right)
    {
        const int inputs[2] = {left, right};
        for (int l = 0; l < 2; ++l) {
            const int rec = 2272 + 26 * l;
            setLe16(ParaWriteLock().block(), rec + 0, 1);
            setLe16(ParaWriteLock().block(), rec + 8, static_cast<uint16_t>(inputs[l]));
            setLe16(ParaWriteLock().block(), rec + 10, static_cast<uint16_t>(1920 * l));
            setLe16(ParaWriteLock().block(), rec + 12, 0);
            setLe16(ParaWriteLock().block(), rec + 14, 1920);
            setLe16(ParaWriteLock().block(), rec + 16, 1080);
        }
    }
};

// The receivers on the board's I2C bus as the source-check thread reads
// them: sources plugged into the simulated board, the records read from
// the receivers and the chip's ports measured.
class C331DebugSources : public C331Debug {
protected:
    void SetUp() override
    {
        C331Debug::SetUp();
        v = velmosource::pInstance();
        v->i2c_fd = platform::i2c().open("/dev/i2c-0");
        ASSERT_GE(v->i2c_fd, 0);
        clearSources();
    }
    void TearDown() override
    {
        sim::Board::instance().control().execute("av-nak 4d off");
        clearSources();
        platform::i2c().close(v->i2c_fd);
        v->i2c_fd = -1;
        C331Debug::TearDown();
    }
    void clearSources()
    {
        for (int i = 0; i < 6; ++i)
            chip().setSource(i, {});
        QMutexLocker lock(&Utils::_source_hdminfo_mutex);
        for (HdmiInfo& h : v->hdminfo)
            h = HdmiInfo{};
    }
    static void plug(int input, int w, int h, int hz, int lanes = 0)
    {
        sim::C331ChipModel::VideoSource s{true, w, h, hz};
        s.lanes = lanes;
        sim::Board::instance().c331().setSource(input, s);
    }
    HdmiInfo record(int input)
    {
        QMutexLocker lock(&Utils::_source_hdminfo_mutex);
        return v->hdminfo[input];
    }
    // Words of input `input`'s signal record in the block (256 + 6 x input:
    // width, height, refresh).
    uint16_t signalWord(int input, int word) const { return le16(store->ram_para, 256 + 6 * input + 2 * word); }
    std::string dump(int section)
    {
        testing::internal::CaptureStdout();
        request(35, static_cast<unsigned char>(section + 1));
        deal();
        return testing::internal::GetCapturedStdout();
    }

    velmosource* v = nullptr;
};

TEST_F(C331Debug, TestSequenceByteRunsItsLowestBitOnly)
{
    request(34, 0x06);
    deal();
    EXPECT_EQ(store->run_status[34], 0);
    for (unsigned bank : {0x08u, 0x18u, 0x28u, 0x38u})
        EXPECT_EQ(writesTo(bank << 16 | 0x5701), std::vector<uint8_t>({9})) << bank;
    EXPECT_TRUE(writesTo(0x085701, 0x40).empty()) << "input bars not run";
    EXPECT_EQ(reg(0x386102), 0x560u);
    EXPECT_EQ(reg(0x386301), 0u);
    EXPECT_EQ(reg(0x386501), 0xFFu);
    EXPECT_EQ(reg(0x386801), 3u);
    EXPECT_EQ(reg(0x186601), 3u);

    request(34, 0x01);
    deal();
    EXPECT_EQ(reg(0x485701), 0x89u);
    EXPECT_EQ(reg(0x586102), 0xAC0u);
    EXPECT_EQ(reg(0x586401), 0xFFu);
    EXPECT_EQ(reg(0x586301), 0u);

    request(34, 0x04);
    deal();
    for (unsigned bank : {0x08u, 0x18u, 0x28u, 0x38u, 0x48u, 0x58u})
        EXPECT_EQ(reg(bank << 16 | 0x5701), 0u) << bank;

    chip().clearFrames();
    request(34, 0x18);
    deal();
    EXPECT_EQ(writesTo(0x027F01), std::vector<uint8_t>({0x0E, 0x0F}));
    EXPECT_EQ(reg(0x024C01), 0xABu);
    EXPECT_TRUE(writesTo(0x026801).empty());

    chip().setReg(0x501702, 7);
    request(34, 0x80);
    deal();
    EXPECT_EQ(reg(0x501702), 107u);

    m->c331_init_state = 6;
    request(34, 0x40);
    deal();
    EXPECT_EQ(m->c331_init_state.load(), 0) << "the chip is brought up again";
    EXPECT_EQ(store->run_status[34], 0);
}

TEST_F(C331Debug, DumpRequestsAndTheirSections)
{
    // Register 163 stores value + 1: 16 runs section 2, 0 runs section 0.
    testing::internal::CaptureStdout();
    request(35, 17);
    deal();
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_TRUE(has(out, "[zdrDbg_c331_param] c331_mem\n"));
    EXPECT_FALSE(has(out, "<<===OCH TIMING"));
    EXPECT_EQ(store->run_status[35], 0);

    testing::internal::CaptureStdout();
    request(35, 1);
    deal();
    out = testing::internal::GetCapturedStdout();
    EXPECT_TRUE(has(out, "[zdrDbg_c331_param] c331_param\n"));
    EXPECT_TRUE(has(out, "<<===OCH TIMING\r"));
    EXPECT_TRUE(has(out, "<<===OSD_WIN\r"));

    // Register-group byte: bit 0 dumps group 0; other bits only clear.
    testing::internal::CaptureStdout();
    request(36, 0x02);
    deal();
    out = testing::internal::GetCapturedStdout();
    EXPECT_FALSE(has(out, "grp:"));
    EXPECT_EQ(store->run_status[36], 0);
    testing::internal::CaptureStdout();
    request(36, 0x03);
    deal();
    out = testing::internal::GetCapturedStdout();
    EXPECT_TRUE(has(out, "[zdrDbg_c331_print_regGrp] grp:0\n"));
    EXPECT_TRUE(has(out, "ICHSEL="));
    testing::internal::CaptureStdout();
    m->zdrDbg_c331_print_regGrp(1);
    EXPECT_TRUE(has(testing::internal::GetCapturedStdout(), "\t not found valid grp!!!!!!!"));

    // Section 6 lights every output channel's background.
    m->zdrDbg_c331_param(20);
    for (unsigned c = 0; c < 8; ++c)
        EXPECT_EQ(reg(0x084903, 16 * c), 0xFFFFFFu);
}

// After a programmed two-window layout (HDMI1 left, HDMI3's V-by-One pair
// right, over two output channels), the group dump prints for every
// channel what the chip holds at the addresses the window programming
// writes.
TEST_F(C331Debug, TheGroupDumpPrintsTheRegistersTheWindowsWereProgrammedWith)
{
    // The sources measured.
    twoLayers(2, 4);
    for (int in : {2, 4}) {
        HdmiInfo& h = velmosource::pInstance()->hdminfo[in];
        h = HdmiInfo{};
        h.Hact = 1920; h.Hsync = 44; h.Hback = 148; h.Htotal = 2200;
        h.Vact = 1080; h.Vsync = 5; h.Vback = 36; h.Vtotal = 1125;
        h.pfreq = 148.5f; h.lane = in == 4 ? 2 : 0; h.nosignal = 0; h.stable = 1;
        chip().setSource(in, {true, 1920, 1080, 60, false, in == 4 ? 2 : 0});
    }
    m->zdrApi_PnlInit2(3840, 1080, 1920, 0, 3);
    m->load_hdmi();
    m->check_input_port(m->c331_fd);
    ASSERT_EQ(m->gMwin.wincnt, 2);
    m->set_output(m->c331_fd);
    ASSERT_NE(reg(0x160804, 16), 0u) << "channel 1 reads memory";
    ASSERT_EQ(reg(0x101902), 1920u) << "ICH0 captures HDMI1";

    testing::internal::CaptureStdout();
    m->zdrDbg_c331_print_regGrp(0);
    const std::string out = testing::internal::GetCapturedStdout();
    for (unsigned c = 0; c < 8; ++c) {
        const unsigned o = 16 * c;
        char line[512];
        std::snprintf(line, sizeof(line),
                      "\t ch%u OSFLD: %08x %08x %08x %08x %08x ISFLD: %08x %08x %08x %08x %08x\n"
                      "\t     OSYCT=%x ISYCT=%x OMWI=%x IMWI=%x OACT: %u %u %u %u IACT: %u %u %u %u "
                      "ICHSEL=%x ISCWCT=%x OSCWCT=%x\n",
                      c, reg(0x160804, o), reg(0x160C04, o), reg(0x161004, o), reg(0x161404, o), reg(0x161804, o),
                      reg(0x161C04, o), reg(0x162004, o), reg(0x162404, o), reg(0x162804, o), reg(0x162C04, o),
                      reg(0x080802, o), reg(0x100901, o), reg(0x163001, o), reg(0x163101, o), reg(0x084002, o),
                      reg(0x084202, o), reg(0x084402, o), reg(0x084602, o), reg(0x101702, o), reg(0x101902, o),
                      reg(0x101B02, o), reg(0x101D02, o), reg(0x001001 + 0x100 * c), reg(0x007101 + 0x100 * c),
                      reg(0x006901 + 0x100 * c));
        EXPECT_TRUE(has(out, line)) << "channel " << c << ", expected:\n" << line << "printed:\n" << out;
    }
    EXPECT_TRUE(has(out, "\t win1: OCH2 ")) << out;
    for (int in : {2, 4}) {
        velmosource::pInstance()->hdminfo[in] = HdmiInfo{};
        chip().setSource(in, {});
    }
}

// Section 2 of the dump after HDMI1 (chip port 1) took 1920 x 1080 at 60 Hz
// and HDMI4 (chip port 4, V-by-One receiver 0) 1280 x 720 at 50 Hz over 4
// lanes. The receivers frame the active picture with 88 + 44 + 148 pixels
// and 4 + 5 + 36 lines, both syncs positive; the chip counts a frame in
// 200,000,000 / hz clocks of a quarter of its 800 MHz memory clock:
//   port 1: 2200 x 1125, 200,000,000 / 3,333,333 = 60.000006 frames/s,
//           lines 60.000006 x 1125 = 67.500 kHz,
//           pixels 2200 x 1125 x 60.000006 = 148,500,014.850 Hz;
//           start 44 + 148 = 192, 5 + 36 = 41.
//   port 4: 1560 x 765, exactly 50 frames/s, 38.250 kHz, 59,670,000 Hz;
//           4 lanes split the picture over two channels: start 96, 41.
TEST_F(C331DebugSources, SectionTwoPrintsTheRatesAndPolaritiesOfTheMeasuredPorts)
{
    twoLayers(2, 5);
    plug(2, 1920, 1080, 60);
    plug(5, 1280, 720, 50, 4);
    // A pass of the source-check thread: every input read from its
    // receiver, those without a source as settled records of no signal.
    for (int i = 0; i < 6; ++i)
        ASSERT_EQ(v->poll_input(i), 0) << i;
    m->zdrApi_PnlInit2(3840, 1080, 1920, 0, 3);
    m->load_hdmi();
    m->check_input_port(m->c331_fd);
    ASSERT_EQ(m->PI_PORT_INFO[1].STATE, 4);
    ASSERT_EQ(m->PI_PORT_INFO[4].STATE, 1);
    // The layout is what the chip shows: the pass of the dump has nothing
    // else to apply.
    persist();
    m->start_applied_copy();

    const std::string out = dump(2);
    ASSERT_TRUE(has(out, "[zdrDbg_c331_param] c331_mem\n")) << out;
    auto line = [&out](const std::string& head) {
        const size_t at = out.find(head);
        return at == std::string::npos ? std::string() : out.substr(at, out.find('\n', at) - at + 1);
    };
    const std::string p1 = line("\t port1: ");
    EXPECT_TRUE(has(p1, " PM_IACTHST=192 PM_IACTVST=41 PI_FPICLK=148500014.850 PI_FH=67.500 PI_FV=60.000 ")) << p1;
    EXPECT_TRUE(has(p1, " PI_SYNC_POL=1/1\n")) << p1;
    const std::string p4 = line("\t port4: ");
    EXPECT_TRUE(has(p4, " PM_IACTHST=96 PM_IACTVST=41 PI_FPICLK=59670000.000 PI_FH=38.250 PI_FV=50.000 ")) << p4;
    EXPECT_TRUE(has(p4, " PI_SYNC_POL=1/1\n")) << p4;
    // HDMI2 (chip port 0) has no source: nothing measured, no polarity.
    const std::string p0 = line("\t port0: ");
    EXPECT_TRUE(has(p0, " PI_FPICLK=0.000 PI_FH=0.000 PI_FV=0.000 ")) << p0;
    EXPECT_TRUE(has(p0, " PI_SYNC_POL=0/0\n")) << p0;
    // The lane masks a V-by-One receiver is armed with for 2, 4 and 8 lanes.
    EXPECT_TRUE(has(out, "\t vbo0: PS_VBO_2LANE=192 PS_VBO_4LANE=240 PS_VBO_8LANE=255\n")) << out;
    EXPECT_TRUE(has(out, "\t vbo1: PS_VBO_2LANE=192 PS_VBO_4LANE=240 PS_VBO_8LANE=255\n")) << out;
    EXPECT_EQ(reg(0x024F01), 240u) << "receiver 0 armed for its 4 lanes";
}

// Section 10 reads inputs 5 and 4 again from their receivers: after the
// records were stored, HDMI4 changes to 3840 x 2160 at 30 Hz and HDMI3 is
// unplugged; the dump rewrites both records and prints what the receivers
// say now. 3840 x 2160 at 30: 4120 x 2205 x 30 = 272,538 kHz, above the
// 165 MHz of one pixel a clock (data mode 1).
TEST_F(C331DebugSources, SectionTenReadsInputsFiveAndFourAgainFromTheReceivers)
{
    plug(5, 1920, 1080, 60, 8);
    plug(4, 1280, 720, 50, 2);
    ASSERT_EQ(v->poll_input(5), 0);
    ASSERT_EQ(v->poll_input(4), 0);
    ASSERT_EQ(record(5).Hact, 1920);
    ASSERT_EQ(record(4).Hact, 1280);
    ASSERT_EQ(signalWord(4, 0), 1280);

    plug(5, 3840, 2160, 30, 8);
    chip().setSource(4, {});
    const std::string out = dump(10);
    EXPECT_TRUE(has(out, "[iTE6805_Get_Hdmi] dev_id:1, idx:5\n"
                         "\t[5] Hact:3840 Hsync:44 Hback:148 Hpol:1 Htotal:4120 Vact:2160 Vsync:5 Vback:36 Vpol:1 "
                         "Vtotal:2205 pfreq:272.538 type:1 datamode:1 lane:8 ip:0 nosignal:0\n"))
        << out;
    EXPECT_TRUE(has(out, "[iTE6805_Get_Hdmi] dev_id:0, idx:4\n"
                         "\t[4] Hact:0 Hsync:0 Hback:0 Hpol:0 Htotal:0 Vact:0 Vsync:0 Vback:0 Vpol:0 Vtotal:0 "
                         "pfreq:0.000 type:0 datamode:0 lane:0 ip:0 nosignal:1\n"))
        << out;
    EXPECT_LT(out.find("idx:5"), out.find("idx:4")) << "input 5 first";

    // The records follow the receivers; the one without signal is zeroed
    // and says so; both stay settled for the chip's port check.
    const HdmiInfo five = record(5);
    EXPECT_EQ(five.Hact, 3840);
    EXPECT_EQ(five.Vtotal, 2205);
    EXPECT_FLOAT_EQ(five.pfreq, 272.538f);
    EXPECT_EQ(five.datamode, 1);
    EXPECT_EQ(five.nosignal, 0);
    EXPECT_NE(five.stable, 0);
    const HdmiInfo four = record(4);
    EXPECT_EQ(four.Hact, 0);
    EXPECT_EQ(four.Htotal, 0);
    EXPECT_EQ(four.Vact, 0);
    EXPECT_EQ(four.pfreq, 0.0f);
    EXPECT_EQ(four.lane, 0);
    EXPECT_EQ(four.nosignal, 1);
    EXPECT_NE(four.stable, 0);
    // So do the inputs' signal records in the block.
    EXPECT_EQ(signalWord(5, 0), 3840);
    EXPECT_EQ(signalWord(5, 1), 2160);
    EXPECT_EQ(signalWord(5, 2), 30);
    EXPECT_EQ(signalWord(4, 0), 0);
    EXPECT_EQ(signalWord(4, 2), 0);
    EXPECT_EQ(store->run_status[35], 0);

    // A receiver that does not answer (HDMI4's at 0x48 + 5) leaves its
    // record as it was, and the dump says so.
    ASSERT_EQ(sim::Board::instance().control().execute("av-nak 4d on"), "ok\n");
    plug(5, 1280, 720, 50, 2);
    const std::string again = dump(10);
    EXPECT_TRUE(has(again, "[iTE6805_Get_Hdmi] dev_id:1, idx:5\n\t receiver not answering, record kept\n"
                           "\t[5] Hact:3840 "))
        << again;
    EXPECT_EQ(record(5).Hact, 3840);
    EXPECT_EQ(signalWord(5, 0), 3840);
}

TEST_F(C331Debug, RegisterPrintThroughTheControlLink)
{
    chip().setReg(0x091F01, 0x5A);
    chip().setReg(0x3E7F01, 0x01);
    c331_manage* const saved = c331_manage::p_c331_manage;
    c331_manage::p_c331_manage = m;
    testing::internal::CaptureStdout();
    const unsigned char status = link_services::c331_print();
    const std::string out = testing::internal::GetCapturedStdout();
    c331_manage::p_c331_manage = saved;
    EXPECT_EQ(status, 0);

    std::istringstream in(out);
    std::string line, first, last;
    int lines = 0;
    bool seen = false;
    while (std::getline(in, line)) {
        if (line.size() != 17 || line[6] != ' ' || line.back() != 'h')
            continue;
        if (first.empty())
            first = line;
        last = line;
        ++lines;
        seen = seen || line == "091F01  0000005Ah";
    }
    EXPECT_EQ(lines, 63 * 127);
    EXPECT_EQ(first.substr(0, 8), "000101  ");
    EXPECT_EQ(last, "3E7F01  00000001h");
    EXPECT_TRUE(seen);
}

TEST_F(C331Debug, TimingDecoderAndPixelClockDivisors)
{
    testing::internal::CaptureStdout();
    m->c331_outputTimmingCtrlReg(static_cast<char>(0x41), static_cast<char>(0x3E));
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_TRUE(has(out, "[c331_outputTimmingCtrlReg] 3E41\n"));
    EXPECT_TRUE(has(out, "\t POSY1EN: Enable, POSY2EN: Disable\n"));
    EXPECT_TRUE(has(out, "\t PO1CLK: XTALCLK\n"));
    EXPECT_TRUE(has(out, "\t PO2CLK: PIPLLCLK\n"));
    // 0x41: sync and field from output 1's own signals; 0x3E: from PWM
    // channel 2 and GLPWM 2.
    EXPECT_TRUE(has(out, "\t PO1VS: PO1VS\n")) << out;
    EXPECT_TRUE(has(out, "\t PO1FLD: PO1FLD\n")) << out;
    EXPECT_TRUE(has(out, "\t PO2VS: PWMCH2\n")) << out;
    EXPECT_TRUE(has(out, "\t PO2FLD: GLPWM2\n")) << out;
    testing::internal::CaptureStdout();
    m->c331_outputTimmingCtrlReg(static_cast<char>(0x14), static_cast<char>(0x28));
    out = testing::internal::GetCapturedStdout();
    EXPECT_TRUE(has(out, "\t PO1CLK: CLK\n\t PO1VS: PO1HS\n\t PO1FLD: PO1ACT\n")) << out;
    EXPECT_TRUE(has(out, "\t PO2CLK: CLK\n\t PO2VS: PO2ACT\n\t PO2FLD: PO2HS\n")) << out;

    testing::internal::CaptureStdout();
    m->c331_calc_PixelCLK();
    out = testing::internal::GetCapturedStdout();
    const size_t second = out.find("[c331_calc_PixelCLK] 4.95MHz");
    ASSERT_NE(second, std::string::npos);
    EXPECT_EQ(out.find("htt:"), out.find("htt:100\n"));
    EXPECT_EQ(out.find("htt:", second), out.find("htt:100\n", second));
    EXPECT_FALSE(has(out, "htt:101\n"));
    EXPECT_TRUE(has(out, "htt:16500\n"));
}

} // namespace
