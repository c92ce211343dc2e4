// Every reset the system makes of a running FPGA, with the chip thread's
// change pass taking its part: how the screen comes back afterwards (the
// black-out word, the on/off schedule, the brightness, a test pattern), and
// what the PC reads meanwhile. Ticks are driven by the test.
#include "support/fake_clock.h"
#include "support/fpga_fixture.h"

#include "core/brightness_acts.h"
#include "core/global.h"
#include "core/le_bytes.h"
#include "core/utils.h"
#include "core/zdrrampara.h"
#include "link/message_deal.h"
#include "pcclient/pc_client.h"
#include "sim/board.h"
#include "sim/c331_chip.h"
#include "sim/shell_model.h"
#include "videochip/c331_drv.h"
#include "videochip/c331_manage.h"

#include <QMutexLocker>
#include <array>
#include <cstring>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

namespace {

// Block words, from the parameter block's layout.
constexpr int kSpliceWord = 1376;
constexpr int kLedWidthWord = 1378;
constexpr int kLedHeightWord = 1380;
constexpr int kOut1WidthWord = 1412;
constexpr int kOut1HeightWord = 1414;
constexpr int kBlackoutWord = 2116;
constexpr int kPatternByte = 864;

// A register as the PC reads it from the sending card (register read of
// the control link).
unsigned char pcRead(int fpga, unsigned reg)
{
    unsigned char v = 0xEE;
    link_services::sendcard_read_registers(fpga, reg, 1, &v);
    return v;
}

// A manual brightness record of 8-bit levels (mode 16), level 0x72 in all
// 48 slots: register 6 = 0x72 once it is in force.
std::vector<uint8_t> manualRecord()
{
    std::vector<uint8_t> r = {0xAA, 0x03, 0xAA, 0x00, 0x00, 0x00, 0x31, 0x00, 0x10};
    r.insert(r.end(), 48, 0x72);
    return r;
}

class FpgaResets : public FpgaTest {
public:
    using FpgaTest::mgr;
    using FpgaTest::model;
    using FpgaTest::writeCommandPage;
    using FpgaTest::flash;

protected:
    void SetUp() override
    {
        FpgaTest::SetUp();
        store = ZdrRamPara::p_zdrrampara_config;
        flash(2).poke(0x6CE000, manualRecord());
        {
            // The percent the record's level stands for (0x72 is 45 %).
            setLe16(ParaWriteLock().block(), 2176, 45);
        }
        for (int i = 0; i < 2; ++i) {
            model(i).setPortLink(i == 0 ? 0 : 5, true);
            // The measured input covers any LED size the test sets.
            model(i).setInput(1920, 1080, 833753);
        }
        // The chip thread's manager, as it stands once the chip is up.
        chip = new c331_manage();
        chip->c331_fd = chip->drv->initialize();
        ASSERT_GE(chip->c331_fd, 0);
        chip->load_system_param();
        chip->define_param();
        chip->start_applied_copy();
        std::memset(ParaWriteLock().status() + 34, 0, 3);   // no debug requests of the PC
        c331_manage::p_c331_manage = chip;
        g_fpga_c331_start = 1;
    }
    void TearDown() override
    {
        c331_manage::p_c331_manage = nullptr;
        delete chip;
        chip = nullptr;
        FpgaTest::TearDown();
    }

public:
    // One tick: a pass of the FPGA thread, then the chip thread's change
    // pass when it has something to apply; after it the samples every
    // moment must pass.
    void step()
    {
        tick();
        if (chipPaused)
            ;
        else if (c331_manage::para_change_flag.load() != 0 || g_led_panel_reinit.load() != 0 || chip->panel_deferred)
            c331_manage::c331managerdeal(chip);
        sample();
    }
    int run(const std::function<bool()>& done, int maxTicks)
    {
        for (int t = 1; t <= maxTicks; ++t) {
            step();
            if (done())
                return t;
        }
        return -1;
    }
    void idle(int ticks)
    {
        run([] { return false; }, ticks);
    }

    // A page's or the PC's store of block words, then the chip flag.
    void storeWords(std::initializer_list<std::pair<int, uint16_t>> words)
    {
        ParaWriteLock bytes;
        for (const auto& w : words)
            setLe16(bytes.block(), w.first, w.second);
        bytes.raise(1);
    }
    void storePattern(unsigned char pattern)
    {
        ParaWriteLock bytes;
        bytes.block()[kPatternByte] = pattern;
        bytes.raise(1);
    }
    // An LED request as the pages post it: the words stored, the
    // handshake asked for, the chip flag raised.
    void ledRequest(std::initializer_list<std::pair<int, uint16_t>> words, bool reinit = false)
    {
        C331ParaLock lock;
        {
            ParaWriteLock bytes;
            for (const auto& w : words)
                setLe16(bytes.block(), w.first, w.second);
        }
        {
            QMutexLocker led(&Utils::_led_para_init_mutex);
            g_set_led_para = 1;
            g_set_led_setup = 0;
            if (reinit)
                g_led_panel_reinit = 1;
        }
        lock.raise();
    }
    // The PC's schedule (command page type 2, stored): on 07:30, off 22:00.
    void storeSchedule()
    {
        unsigned char page[fpga_manage::kCmdPageSize] = {};
        page[0] = 0xAA;
        page[1] = 2;
        page[2] = 0xAA;
        page[3] = page[4] = page[5] = 0;
        setLe16(page, 6, 5);
        page[8] = 1;
        page[9] = 0x07;
        page[10] = 0x30;
        page[11] = 0x22;
        page[12] = 0x00;
        runCommandPage(page);
    }

    bool upAgain(const uint64_t (&before)[2], bool fpga0, bool fpga1)
    {
        return mgr().get_fpga_status() == 1 && (!fpga0 || model(0).counters().resets > before[0]) &&
               (!fpga1 || model(1).counters().resets > before[1]);
    }

    // What must hold at every moment: no output on at brightness 0, none
    // lit while the screen is to be dark, and the PC's read of register 0
    // (black-out bit) and register 3 (output bit) what the FPGA holds.
    void sample()
    {
        for (int i = 0; i < 2; ++i) {
            const uint8_t r0 = model(i).storedReg(0), r3 = model(i).storedReg(3), r6 = model(i).storedReg(6);
            if ((r3 & 0x20) && r6 == 0)
                fault("FPGA " + std::to_string(i) + " output on at brightness 0");
            if (expectDark && (r3 & 0x20) && !(r0 & 0x04) && !model(i).inReset())
                fault("FPGA " + std::to_string(i) + " lit while the screen is to be dark");
            if (expectLit && (r3 & 0x20) && (r0 & 0x04) && !model(i).inReset())
                fault("FPGA " + std::to_string(i) + " dark while the screen is to be lit");
            if (checkImage) {
                const unsigned char img0 = pcRead(i, 0);
                const unsigned char img3 = pcRead(i, 3);
                if ((img0 & 0x04) != (r0 & 0x04) || (img3 & 0x20) != (r3 & 0x20))
                    fault("FPGA " + std::to_string(i) + " the PC reads register 0 " + std::to_string(img0) +
                          " / 3 " + std::to_string(img3) + ", the FPGA holds " + std::to_string(r0) + " / " +
                          std::to_string(r3));
            }
        }
    }
    void fault(const std::string& what)
    {
        if (faults.size() < 5)
            faults.push_back(situation + ": " + what);
        ++faultCount;
    }

    // After a reset: both FPGAs and their images as the settings say.
    void expectScreen(bool dark, unsigned char pattern)
    {
        for (unsigned char i = 0; i < 2; ++i) {
            SCOPED_TRACE(situation + ", FPGA " + std::to_string(i));
            EXPECT_EQ(model(i).storedReg(0) & 0x04, dark ? 0x04 : 0x00) << "register 0";
            EXPECT_EQ(pcRead(i, 0) & 0x04, dark ? 0x04 : 0x00) << "register 0 as the PC reads it";
            EXPECT_EQ(model(i).storedReg(3) & 0x20, 0x20) << "outputs of register 3";
            EXPECT_EQ(pcRead(i, 3) & 0x20, 0x20) << "outputs of register 3 as the PC reads them";
            EXPECT_EQ(model(i).storedReg(6), 0x72) << "register 6";
            EXPECT_EQ(pcRead(i, 6), 0x72) << "register 6 as the PC reads it";
        }
        EXPECT_EQ(ScreenState.load(), dark ? 0 : 1) << situation;
        EXPECT_EQ(mgr().MCU_RAM_EXTEND[29], dark ? 0 : 1) << situation;
        EXPECT_EQ(chip->zdrApi_IsPatternGen(), pattern != 0) << situation << ": test pattern";
        // The pattern generator of output channel 0 (its mode register).
        if (pattern != 0)
            EXPECT_NE(sim::Board::instance().c331().reg(0x085701), 0u) << situation << ": pattern generator";
        else
            EXPECT_EQ(sim::Board::instance().c331().reg(0x085701), 0u) << situation << ": pattern generator";
    }

public:
    ZdrRamPara* store = nullptr;
    c331_manage* chip = nullptr;
    FakeClock clock;
    bool chipPaused = false;   // the chip thread is busy elsewhere
    bool expectDark = false;
    bool expectLit = false;
    bool checkImage = true;
    std::string situation;
    std::vector<std::string> faults;
    int faultCount = 0;
};

// A reset the system makes of a running FPGA: what starts it, which FPGAs
// it resets, and the fault (set before, cleared once it acted) that leads
// the bring-up into it.
struct ResetCase {
    const char* name;
    bool fpga0, fpga1;
    std::function<void(FpgaResets&, int round)> start;
    std::function<bool(FpgaResets&)> acted;   // the fault did its work (null: none)
    std::function<void(FpgaResets&)> clear;
};

TEST_F(FpgaResets, EveryResetEndsWithTheScreenAsTheSettingsSay)
{
    bringUp();
    idle(60);
    using R = FpgaResets;
    const uint16_t width0 = le16(store->ram_para, kLedWidthWord);
    const uint16_t height0 = le16(store->ram_para, kLedHeightWord);

    // An LED size different from the one stored now: 1280 x 720 and the
    // start size in turn.
    auto otherSize = [&](R& t) -> std::pair<uint16_t, uint16_t> {
        return le16(t.store->ram_para, kLedWidthWord) == 1280 ? std::make_pair(width0, height0)
                                                              : std::make_pair(uint16_t(1280), uint16_t(720));
    };
    int busFd = -1;   // FPGA 1's bus while it does not carry
    const std::vector<ResetCase> cases = {
        {"LED size change", true, true,
         [&](R& t, int) {
             const auto s = otherSize(t);
             t.ledRequest({{kLedWidthWord, s.first}, {kLedHeightWord, s.second}});
         },
         nullptr, nullptr},
        {"splice Apply", true, true,
         [&](R& t, int) {
             const auto s = otherSize(t);
             t.ledRequest({{kSpliceWord, le16(t.store->ram_para, kSpliceWord)},
                           {kLedWidthWord, s.first},
                           {kLedHeightWord, s.second},
                           {kOut1WidthWord, s.first},
                           {kOut1HeightWord, s.second}});
         },
         nullptr, nullptr},
        {"Re-initialise", true, true, [](R& t, int) { t.ledRequest({}, true); }, nullptr, nullptr},
        {"a size that goes back before the chip acts", true, true,
         [&](R& t, int round) {
             const auto now = std::make_pair(le16(t.store->ram_para, kLedWidthWord),
                                             le16(t.store->ram_para, kLedHeightWord));
             const auto other = otherSize(t);
             t.ledRequest({{kLedWidthWord, other.first}, {kLedHeightWord, other.second}});
             t.idle(round % 2 ? 10 : 30);
             t.ledRequest({{kLedWidthWord, now.first}, {kLedHeightWord, now.second}});
             // Once the screen is dark for it, the PC sets the black-out
             // and takes it back (outside an off period: inside one, the
             // PC taking it back would end the period, a case of its own
             // below).
             t.run([] { return g_set_led_para.load() == 0; }, 200);
             if (t.mgr().screen_off_state == 1)
                 return;
             const uint16_t blackout = le16(t.store->ram_para, kBlackoutWord);
             t.storeWords({{kBlackoutWord, static_cast<uint16_t>(blackout ? 0 : 1)}});
             t.idle(3);
             t.storeWords({{kBlackoutWord, blackout}});
         },
         nullptr, nullptr},
        {"link watch", false, true,
         [](R& t, int) {
             t.model(1).setFault(sim::FpgaModel::Fault::NoLink);
             t.mgr().reset_fpga_rst(1);   // an upgrade of FPGA 1's bitstream
         },
         [](R& t) { return t.mgr().fpga_state[1] == 17; },
         [](R& t) { t.model(1).setFault(sim::FpgaModel::Fault::None); }},
        {"parameter RAM check", true, false,
         [](R& t, int) {
             t.model(0).setFault(sim::FpgaModel::Fault::RamError);
             t.mgr().reset_fpga_rst(0);
         },
         [](R& t) { return t.mgr().ram_check[0] == 0 && t.mgr().fpga_rst_pending[0] == 1; },
         [](R& t) { t.model(0).setFault(sim::FpgaModel::Fault::None); }},
        {"start-up error", false, true,
         [](R& t, int) {
             t.model(1).setFault(sim::FpgaModel::Fault::InitError);
             t.mgr().reset_fpga_rst(1);
         },
         [](R& t) { return t.mgr().fpga_state[1] == 2 && t.mgr().fpga_rst_pending[1] == 1; },
         [](R& t) { t.model(1).setFault(sim::FpgaModel::Fault::None); }},
        {"bring-up reads its bus does not carry", false, true,
         [&](R& t, int) {
             t.mgr().reset_fpga_rst(1);
             t.run([&] { return t.mgr().fpga_state[1] == 2 && !t.mgr().fpga_rst_pending[1]; }, 3000);
             std::swap(busFd, t.mgr().spi_fd[1]);
         },
         [](R& t) { return t.mgr().fpga_rst_pending[1] == 1; },
         [&](R& t) { std::swap(busFd, t.mgr().spi_fd[1]); }},
        {"an FPGA found lost", true, false,
         [](R& t, int) {
             t.model(0).setFault(sim::FpgaModel::Fault::BadVersion);
             t.model(0).setReg(22, 0x40);
             t.model(0).setIrq(true);
         },
         [](R& t) { return t.mgr().fpga_state[0] != 7; },
         [](R& t) {
             t.model(0).setIrq(false);
             t.model(0).setFault(sim::FpgaModel::Fault::None);
         }},
    };

    struct Settings {
        bool blackout;
        bool offPeriod;
        unsigned char pattern;
        bool offPasses = false;   // each day's off time passes while the reset runs
    };
    const Settings settings[] = {
        {false, false, 3}, {true, false, 0}, {false, true, 0}, {true, true, 5}, {false, false, 0, true}};
    int day = 5;
    // 22:00 passes while the FPGAs are reset: every FPGA up goes dark at
    // once (one still coming up takes it when its output goes on), and the
    // minute is over before they are all up.
    auto passOffTime = [&] {
        clock.set(2026, 3, day, 22, 0, 10);
        idle(40);
        for (unsigned char i = 0; i < 2; ++i) {
            if (mgr().fpga_up(i)) {
                EXPECT_EQ(model(i).storedReg(0) & 0x04, 0x04) << situation << ": FPGA " << int(i) << " lit at 22:00";
            }
        }
        clock.set(2026, 3, day, 22, 1, 0);
    };

    int round = 0;
    for (const Settings& s : settings) {
        // The settings: the black-out word from the PC, the schedule with
        // the clock inside or outside its off period, a test pattern.
        storeSchedule();
        storeWords({{kBlackoutWord, static_cast<uint16_t>(s.blackout ? 1 : 0)}});
        storePattern(s.pattern);
        if (s.offPasses) {
        } else if (s.offPeriod) {
            clock.set(2026, 3, 5, 22, 0, 10);   // the off time acts
            ASSERT_GT(run([&] { return mgr().screen_off_state == 1; }, 400), 0) << "the schedule did not switch off";
            clock.set(2026, 3, 5, 22, 30, 0);   // inside the off period
        } else {
            clock.set(2026, 3, 5, 12, 0, 0);
            ASSERT_EQ(mgr().screen_off_state, 0) << "the schedule has not switched off yet";
        }
        const bool dark = s.blackout || s.offPeriod || s.offPasses;
        idle(60);
        expectDark = dark && !s.offPasses;

        for (const ResetCase& c : cases) {
            std::ostringstream name;
            name << c.name << " (black-out " << (s.blackout ? "on" : "off") << ", "
                 << (s.offPasses ? "the off time passing" : s.offPeriod ? "inside" : "outside")
                 << " the off period, pattern " << int(s.pattern) << ")";
            situation = name.str();
            if (s.offPasses) {
                // The next day: its on time lights the screen; then the
                // clock stands just before the off time.
                expectDark = false;
                clock.set(2026, 3, ++day, 7, 30, 5);
                ASSERT_GT(run([&] { return (model(0).storedReg(0) & 0x04) == 0; }, 400), 0) << situation;
                clock.set(2026, 3, day, 21, 59, 30);
                idle(30);
            }
            const uint64_t before[2] = {model(0).counters().resets, model(1).counters().resets};
            c.start(*this, round++);
            if (s.offPasses && !c.acted)
                passOffTime();
            if (c.acted) {
                ASSERT_GT(run([&] { return c.acted(*this); }, 3000), 0) << situation << ": the fault did not act";
                if (s.offPasses)
                    passOffTime();   // while the FPGA retries
                c.clear(*this);
            }
            const bool lost = std::string(c.name) == "an FPGA found lost";
            const int took = run(
                [&] {
                    return lost ? mgr().get_fpga_status() == 1 && mgr().fpga_state[0] == 7
                                : upAgain(before, c.fpga0, c.fpga1);
                },
                6000);
            ASSERT_GT(took, 0) << situation << ": the FPGAs did not come back; resets " << model(0).counters().resets
                               << "/" << model(1).counters().resets << ", led-para " << int(g_set_led_para.load())
                               << " " << int(g_set_led_setup.load()) << ", states " << int(mgr().fpga_state[0])
                               << "/" << int(mgr().link_state[0]) << " " << int(mgr().fpga_state[1]) << "/"
                               << int(mgr().link_state[1]);
            idle(30);
            expectScreen(dark, s.pattern);
        }
        expectDark = false;
    }
    EXPECT_EQ(faultCount, 0) << [&] {
        std::string all;
        for (const auto& f : faults)
            all += f + "\n";
        return all;
    }();
}

// A write path of the FPGA thread or the link, and an FPGA silent for a
// moment at that point (1 s): once it answers again the screen is as the
// settings say, and so are the status, the screen state, byte 29, the
// image and the PC's read of it.
struct SilentCase {
    const char* name;
    int fpga;   // the FPGA made silent
    std::function<void(FpgaResets&)> before;   // up to the moment, answering
    // The other FPGA's write (register, a bit of its mask) after which this
    // one falls silent; -1: silent before the path starts.
    int afterReg;
    uint8_t afterMask;
    std::function<void(FpgaResets&)> path;
    bool dark;
};

TEST_F(FpgaResets, EverySilentMomentEndsWithTheScreenAsTheSettingsSay)
{
    bringUp();
    idle(60);
    using R = FpgaResets;
    // The PC's command page: a manual level of 8-bit levels, not stored.
    auto pcLevel = [](R& t, unsigned char level) {
        const unsigned char head[10] = {0xAA, 0x03, 0x00, 0, 0, 0, 0x02, 0x00, 0x10, level};
        t.writeCommandPage(head, sizeof(head));
        EXPECT_EQ(link_services::sendcard_write_register(0, 2, 0x04, 0x04), link_frame::kOk);
    };
    auto untilLink = [](R& t, int fpga, unsigned char state) {
        t.mgr().reset_fpga_rst(static_cast<unsigned char>(fpga));
        ASSERT_GT(t.run([&] { return t.mgr().link_state[fpga] == state; }, 3000), 0);
    };
    // The schedule's time coming (the schedule stored before the off time),
    // the clock 20 s before it until then.
    auto scheduleTime = [](const char* name, std::array<int, 6> at, bool off) {
        return SilentCase{name, 1,
                          [at, off](R& t) {
                              if (off)
                                  t.storeSchedule();
                              t.clock.set(at[0], at[1], at[2], at[3], at[4] - (at[5] < 30 ? 1 : 0), (at[5] + 40) % 60);
                              t.idle(60);
                          },
                          0, 0x04,
                          [at, off](R& t) {
                              t.clock.set(at[0], at[1], at[2], at[3], at[4], at[5]);
                              t.run([&] { return t.mgr().screen_off_state == (off ? 1 : 0); }, 400);
                          },
                          off};
    };
    const std::vector<SilentCase> cases = {
        {"black-out on: FPGA 1 silent as FPGA 0 takes it", 1, [](R& t) { t.storeWords({{kBlackoutWord, 0}}); t.idle(20); },
         0, 0x04, [](R& t) { t.storeWords({{kBlackoutWord, 1}}); }, true},
        {"black-out off: FPGA 1 silent as FPGA 0 takes it", 1, nullptr, 0, 0x04,
         [](R& t) { t.storeWords({{kBlackoutWord, 0}}); }, false},
        {"LED size request: FPGA 0 silent at its first step", 0, nullptr, -1, 0,
         [](R& t) { t.ledRequest({{kLedWidthWord, 1280}, {kLedHeightWord, 720}}); }, false},
        {"bring-up: FPGA 1 silent at link state 14", 1, [&](R& t) { untilLink(t, 1, 14); }, -1, 0, nullptr, false},
        {"bring-up: FPGA 0 silent at link state 15 (output on)", 0, [&](R& t) { untilLink(t, 0, 15); }, -1, 0, nullptr,
         false},
        {"brightness from the PC: FPGA 1 silent as FPGA 0 takes it", 1, [&](R& t) { pcLevel(t, 0x40); t.idle(20); }, 6,
         0xFF, [&](R& t) { pcLevel(t, 0x72); }, false},
        {"the PC writes a register of a silent FPGA", 1, nullptr, -1, 0,
         [](R&) { EXPECT_EQ(link_services::sendcard_write_register(1, 0, 0x02, 0x00), link_frame::kFailed); }, false},
        scheduleTime("off time: FPGA 1 silent as FPGA 0 takes it", {2026, 3, 5, 22, 0, 10}, true),
        scheduleTime("on time: FPGA 1 silent as FPGA 0 takes it", {2026, 3, 6, 7, 30, 5}, false),
    };
    for (const SilentCase& c : cases) {
        situation = c.name;
        SCOPED_TRACE(situation);
        if (c.before)
            c.before(*this);
        sim::FpgaModel& silent = model(c.fpga);
        sim::FpgaModel& other = model(1 - c.fpga);
        if (c.afterReg < 0)
            silent.setFault(sim::FpgaModel::Fault::Dead);
        else
            other.onRegisterWrite([&](unsigned r, uint8_t mask, uint8_t) {
                if (int(r) == c.afterReg && (mask & c.afterMask))
                    silent.setFault(sim::FpgaModel::Fault::Dead);
            });
        if (c.path)
            c.path(*this);
        idle(100);
        other.onRegisterWrite(nullptr);
        ASSERT_EQ(silent.fault(), sim::FpgaModel::Fault::Dead) << "the moment did not come";
        silent.setFault(sim::FpgaModel::Fault::None);
        ASSERT_GT(run([&] {
                      return mgr().get_fpga_status() == 1 && g_set_led_para.load() == 0 && !mgr().led_request_dark &&
                             !BrightnessActs::pInstance()->percent_act_waiting();
                  },
                  6000),
                  0)
            << "the FPGAs did not come back";
        idle(60);
        for (int i = 0; i < 2; ++i) {
            SCOPED_TRACE("FPGA " + std::to_string(i));
            // Register 3 bit 2 latches the brightness and clears itself.
            for (unsigned r : {0u, 3u, 6u, 23u})
                EXPECT_EQ(pcRead(i, r) & ~(r == 3 ? 0x04 : 0), model(i).reg(r)) << "register " << r;
            EXPECT_EQ(model(i).reg(0) & 0x04, c.dark ? 0x04 : 0);
            EXPECT_EQ(model(i).reg(3) & 0x20, 0x20);
            EXPECT_EQ(model(i).reg(6), 0x72);
        }
        EXPECT_EQ(ScreenState.load(), c.dark ? 0 : 1);
        EXPECT_EQ(mgr().MCU_RAM_EXTEND[29], c.dark ? 0 : 1);
    }
    EXPECT_EQ(faultCount, 0) << (faults.empty() ? "" : faults.front());
}

// A brightness set while FPGA 0, FPGA 1 or both are silent for a moment
// (0.5 or 2 s, from just before the change or from the other FPGA's write of
// register 6), or while FPGA 1 loses the level it took: 3 s after both are
// up, and past the re-send 10 s on, both show the level set, word 2176 says
// it (the PC reads it back at once, as its software does) and the record is
// the one the setting stores.
TEST_F(FpgaResets, ABrightnessSetInASilentMomentIsTheLevelOnceBothAreUp)
{
    bringUp();
    idle(60);
    clock.set(2026, 3, 5, 12, 0, 0);
    message_deal pc;
    auto pcCall = [&](unsigned char command, const pcclient::Bytes& payload) {
        const pcclient::Bytes body = pcclient::buildBody(pcclient::kProcessor, command, payload);
        return pcclient::parseReply(pc.reply(), pc.message_group_deal(body.data(), int(body.size()), {}));
    };
    auto record = [](unsigned char mode, unsigned char level) {
        std::vector<uint8_t> r = {0xAA, 0x03, 0xAA, 0x00, 0x00, 0x00, 0x31, 0x00, mode};
        r.resize(57, level);
        return r;
    };
    auto pcPage = [&](unsigned char mode, unsigned char level, bool stored) {
        std::vector<uint8_t> page = record(mode, level);
        page[2] = stored ? 0xAA : 0x00;
        writeCommandPage(page.data(), static_cast<unsigned>(page.size()));
        link_services::sendcard_write_register(0, 2, 0x04, 0x04);
    };
    auto linkPorts = [&](bool on) {
        model(0).setPortLink(0, on);
        model(1).setPortLink(5, on);
        ASSERT_GT(run([&] { return (mgr().port_link_image() != 0) == on; }, 400), 0);
    };
    enum How { kPage, kItem, kPcStored, kPcShown };
    const struct {
        const char* name;
        How how;
        unsigned char mode;    // of the PC's level, or of the record stored before (255 none)
        bool unlinked = false;
    } paths[] = {
        {"the page's percent", kPage, 255},
        {"the PC's brightness item", kItem, 255},
        {"the PC's stored manual level", kPcStored, 16},
        {"the PC's manual level, not stored", kPcShown, 16},
        {"the PC's stored 4-bit level", kPcStored, 0},
        {"the page's percent in a 4-bit mode", kPage, 0},
        {"the page's percent while a half-hour table runs", kPage, 17},
        {"the page's percent with no port linked", kPage, 255, true},
    };
    const struct {
        const char* name;
        bool silent[2];
        int takes;   // silent once this FPGA took register 6; -1: from just before the change
        bool loses = false;   // instead, it loses the level at once and answers on
    } silences[] = {
        {"FPGA 0 silent", {true, false}, -1},  {"FPGA 1 silent", {false, true}, -1},
        {"both silent", {true, true}, -1},     {"FPGA 0 silent as FPGA 1 takes it", {true, false}, 1},
        {"FPGA 1 silent as FPGA 0 takes it", {false, true}, 0}, {"both silent as FPGA 0 takes it", {true, true}, 0},
        {"FPGA 1 loses the level it took", {false, false}, 1, true},
    };
    unsigned k = 0;
    for (const auto& p : paths) {
        for (const auto& s : silences) {
            if (p.unlinked && s.takes >= 0)
                continue;   // nothing is written
            const int ticks = ++k % 3 ? 50 : 200;
            situation = std::string(p.name) + ", " + s.name;
            if (!s.loses)
                situation += " for " + std::to_string(ticks * 10) + " ms";
            SCOPED_TRACE(situation);
            const bool percent = p.how == kPage || p.how == kItem;
            if (percent && p.mode != 255) {
                pcPage(p.mode, p.mode == 0 ? 3 : 0x30, true);
                idle(p.mode == 17 ? 1100 : 30);   // a table shows its slot at the task's next run
            }
            if (p.unlinked)
                linkPorts(false);
            unsigned level = percent ? 20 + 7 * k % 75 : p.mode == 0 ? 1 + k % 15 : 40 + 7 * k % 200;
            if (percent && le16(store->ram_para, 2176) == level)
                ++level;
            const unsigned char value = percent ? fpga_manage::bri_percent_to_value(level, p.mode)
                                                : fpga_manage::bri_level_to_value(level, p.mode);
            const std::vector<uint8_t> stored = p.how == kPcShown ? flash(2).peek(fpga_manage::kBrightRecord, 57)
                                                : percent         ? record(16, value)
                                                                  : record(p.mode, uint8_t(level));
            bool fell = false;
            auto fallSilent = [&] {
                fell = true;
                for (int i = 0; i < 2; ++i)
                    if (s.silent[i])
                        model(i).setFault(sim::FpgaModel::Fault::Dead);
            };
            if (s.takes < 0)
                fallSilent();
            else
                model(s.takes).onRegisterWrite([&](unsigned r, uint8_t, uint8_t) {
                    if (r != 6 || fell)
                        return;
                    if (!s.loses)
                        return fallSilent();
                    model(s.takes).setReg(6, 0x10);
                    fell = true;
                });
            if (p.how == kPage)
                storeWords({{2176, uint16_t(level)}});
            else if (p.how == kItem)
                EXPECT_EQ(pcCall(link_frame::kWriteItems, pcclient::itemsPayload({{1, 0, uint16_t(level)}})).status, 0);
            else
                pcPage(p.mode, uint8_t(level), p.how == kPcStored);
            EXPECT_EQ(pcCall(link_frame::kReadRam, pcclient::ramReadPayload(2176, 2)).status, 0);
            idle(ticks);
            ASSERT_TRUE(fell) << "the moment did not come";
            for (int i = 0; i < 2; ++i) {
                model(i).onRegisterWrite(nullptr);
                model(i).setFault(sim::FpgaModel::Fault::None);
            }
            ASSERT_GT(run([&] { return mgr().get_fpga_status() == 1 && !BrightnessActs::pInstance()->percent_act_waiting(); }, 6000), 0)
                << "the FPGAs did not come back";
            const pcclient::Reply read = pcCall(link_frame::kReadRam, pcclient::ramReadPayload(2176, 2));
            if (p.unlinked)
                linkPorts(true);
            for (int wait : {300, 800}) {
                idle(wait);
                for (int i = 0; i < 2; ++i) {
                    EXPECT_EQ(model(i).reg(6), value) << "register 6 of FPGA " << i << " after " << wait;
                    EXPECT_EQ(pcRead(i, 6), value) << "register 6 of FPGA " << i << " as the PC reads it";
                }
            }
            // Word 2176 says the level: its own percent, or one that sets it.
            const unsigned word = le16(store->ram_para, 2176);
            EXPECT_TRUE(fpga_manage::bri_value_to_percent(value) == word ||
                        fpga_manage::bri_percent_to_value(word, p.mode) == value)
                << "word 2176 is " << word << " for register value " << int(value);
            EXPECT_EQ(read.data.size() == 2 ? le16(read.data.data(), 0) : -1, int(word)) << "read once both were up";
            EXPECT_EQ(flash(2).peek(fpga_manage::kBrightRecord, 57), stored) << "stored record";
        }
    }
    EXPECT_EQ(faultCount, 0) << (faults.empty() ? "" : faults.front());
}

// One FPGA cannot link and is reset by its link watch again and again; the
// other one runs. What the PC reads of each is what it holds, and the
// black-out reaches the running one, on and off.
TEST_F(FpgaResets, ABlackOutReachesTheRunningFpgaWhileTheOtherComesUp)
{
    bringUp();
    idle(60);
    model(1).setFault(sim::FpgaModel::Fault::NoLink);
    ledRequest({{kLedWidthWord, 1280}, {kLedHeightWord, 720}});
    ASSERT_GT(run([&] { return model(0).counters().resets == 1 && mgr().link_state[0] == 18; },
                  6000),
              0);
    EXPECT_NE(mgr().link_state[1], 18);
    EXPECT_EQ(mgr().get_fpga_status(), 0);
    // FPGA 1's link watch gives up waiting and resets it: it comes up again
    // from the start.
    ASSERT_GT(run([&] { return model(1).counters().resets >= 2 && mgr().fpga_state[1] < 7; }, 3000), 0);
    idle(30);
    EXPECT_EQ(mgr().link_state[0], 18);
    EXPECT_EQ(model(0).storedReg(0) & 0x04, 0);
    EXPECT_EQ(pcRead(0, 0), model(0).storedReg(0)) << "the PC's read of the running FPGA";
    EXPECT_EQ(pcRead(0, 3) & 0x20, 0x20);
    EXPECT_EQ(ScreenState.load(), 1);
    EXPECT_EQ(mgr().MCU_RAM_EXTEND[29], 1);

    // The PC sets the black-out: the running FPGA goes dark.
    storeWords({{kBlackoutWord, 1}});
    EXPECT_GT(run([&] { return (model(0).storedReg(0) & 0x04) != 0; }, 100), 0) << "the black-out did not reach it";
    EXPECT_EQ(pcRead(0, 0) & 0x04, 0x04);
    EXPECT_EQ(ScreenState.load(), 0);
    EXPECT_EQ(mgr().MCU_RAM_EXTEND[29], 0);
    storeWords({{kBlackoutWord, 0}});
    EXPECT_GT(run([&] { return (model(0).storedReg(0) & 0x04) == 0; }, 100), 0) << "the black-out did not end";
    EXPECT_EQ(ScreenState.load(), 1);
    EXPECT_NE(mgr().link_state[1], 18) << "FPGA 1 was to stay in bring-up";
    EXPECT_EQ(faultCount, 0) << (faults.empty() ? "" : faults.front());
}

// The screen is dark for an LED request and the chip has not answered yet:
// the PC sets the black-out and takes it back. The screen stays dark and
// says so until the answer resets both FPGAs, which brings it back lit.
TEST_F(FpgaResets, ABlackOutTakenBackBeforeTheChipAnswersLeavesNoScreenSayingLitWhileDark)
{
    bringUp();
    idle(60);
    chipPaused = true;
    ledRequest({{kLedWidthWord, 1280}, {kLedHeightWord, 720}});
    ASSERT_GT(run([] { return g_set_led_para.load() == 0; }, 200), 0);
    ASSERT_EQ(model(0).storedReg(3) & 0x20, 0) << "outputs still on";
    // The chip's part of a black-out change: the word, then the flag.
    for (uint16_t blackout : {1, 0}) {
        setLe16(ParaWriteLock().block(), kBlackoutWord, blackout);
        idle(20);
    }
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(model(i).storedReg(3) & 0x20, 0) << "FPGA " << i;
        EXPECT_EQ(pcRead(i, 0) & 0x04, 0x04) << "FPGA " << i << " said lit with its outputs off";
    }
    EXPECT_EQ(ScreenState.load(), 0);
    EXPECT_EQ(mgr().MCU_RAM_EXTEND[29], 0);

    chipPaused = false;
    ASSERT_GT(run([&] { return model(0).counters().resets == 1 && model(1).counters().resets == 1 &&
                               mgr().get_fpga_status() == 1; },
                  3000),
              0);
    idle(30);
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(model(i).storedReg(0) & 0x04, 0) << "FPGA " << i;
        EXPECT_EQ(model(i).storedReg(3) & 0x20, 0x20) << "FPGA " << i;
        EXPECT_EQ(pcRead(i, 0) & 0x04, 0) << "FPGA " << i;
    }
    EXPECT_EQ(ScreenState.load(), 1);
    EXPECT_EQ(faultCount, 0) << (faults.empty() ? "" : faults.front());
}

// The PC and the schedule each change the screen in turn: the later of
// them decides what it shows, and a reset then leaves it so. An on time
// takes the PC's black-out back: the PC reads the word back as 0.
TEST_F(FpgaResets, AResetKeepsWhatThePcAndTheScheduleLastSet)
{
    bringUp();
    idle(60);
    storeSchedule();   // on 07:30, off 22:00
    int day = 5;
    auto pcBlackout = [&](uint16_t on) {
        storeWords({{kBlackoutWord, on}});
        idle(20);
    };
    // The day's off or on time comes; justBefore runs as the clock passes
    // it, and the FPGA thread's next pass reads the time.
    auto scheduleTime = [&](bool off, const std::function<void()>& justBefore) {
        clock.set(2026, 3, day, off ? 21 : 7, off ? 59 : 29, 50);
        idle(60);
        clock.set(2026, 3, day, off ? 22 : 7, off ? 0 : 30, 5);
        if (justBefore) {
            justBefore();
            g_change.time_read_time = G_timeTicks - 30;
        }
        ASSERT_GT(run([&] { return (off ? mgr().off_pending[0] : mgr().on_pending[0]) == 0; }, 400), 0);
        idle(10);
    };
    auto resetBoth = [&](const std::function<void()>& meanwhile) {
        const uint64_t before[2] = {model(0).counters().resets, model(1).counters().resets};
        mgr().reset_fpga_rst(0);
        mgr().reset_fpga_rst(1);
        if (meanwhile)
            meanwhile();
        ASSERT_GT(run([&] { return upAgain(before, true, true); }, 6000), 0) << "the FPGAs did not come back";
        idle(30);
    };
    struct Turn {
        const char* name;
        std::function<void()> change;
        bool dark;
        uint16_t word;   // the black-out word as the PC reads it back
    };
    const Turn turns[] = {
        {"the off time", [&] { scheduleTime(true, nullptr); }, true, 0},
        {"the PC sets the black-out in the off period and takes it back, in the off time's minute",
         [&] { pcBlackout(1); pcBlackout(0); }, false, 0},
        {"the PC's black-out, then the next day's on time",
         [&] { pcBlackout(1); ++day; scheduleTime(false, nullptr); }, false, 0},
        {"the PC's black-out after the on time, in its minute", [&] { pcBlackout(1); }, true, 1},
        {"the PC takes the black-out back, then the off time",
         [&] { pcBlackout(0); scheduleTime(true, nullptr); }, true, 0},
        {"the PC's black-out, then the on time while both FPGAs are reset",
         [&] { pcBlackout(1); ++day; resetBoth([&] { scheduleTime(false, nullptr); }); }, false, 0},
        // The PC acts after the minute began, before the FPGA thread reaches
        // it: the PC's act is the later one.
        {"the PC takes the black-out back just after the off time, before the FPGA thread reaches it",
         [&] {
             pcBlackout(1);
             scheduleTime(true, [&] {
                 storeWords({{kBlackoutWord, 0}});
                 c331_manage::c331managerdeal(chip);
             });
         },
         false, 0},
        {"the PC's black-out just after the on time, before the FPGA thread reaches it",
         [&] { ++day; scheduleTime(false, [&] { storeWords({{kBlackoutWord, 1}}); }); }, true, 1},
    };
    for (const Turn& turn : turns) {
        SCOPED_TRACE(situation = turn.name);
        expectDark = expectLit = false;
        turn.change();
        expectDark = turn.dark;
        expectLit = !turn.dark;
        for (const char* when : {"after the change", "after a reset"}) {
            if (std::string(when) == "after a reset")
                resetBoth(nullptr);
            for (int i = 0; i < 2; ++i) {
                EXPECT_EQ(model(i).storedReg(0) & 0x04, turn.dark ? 0x04 : 0x00) << when << ", FPGA " << i;
                EXPECT_EQ(pcRead(i, 0) & 0x04, turn.dark ? 0x04 : 0x00) << when << ", FPGA " << i << ", PC's read";
            }
            EXPECT_EQ(ScreenState.load(), turn.dark ? 0 : 1) << when;
            EXPECT_EQ(le16(store->ram_para, kBlackoutWord), turn.word) << when << ": the black-out word";
        }
    }
    expectDark = expectLit = false;
    EXPECT_EQ(faultCount, 0) << (faults.empty() ? "" : faults.front());
}

// Every way the screen is lit or darkened, followed by every other way,
// with the FPGA thread free or busy (no pass) when the later act arrives,
// from the black-out word at 0 and at 1: the later act decides what both
// FPGAs show, what the PC reads back (register 0, the screen state, word
// 2116), and so it stays through a reset of FPGA 1 and of both. A RAM
// write of the word is applied by the PC's flag, and is an act there when
// it sets another value than the last act on the word.
struct ScreenWay {
    const char* name;
    bool dark;
    int word;   // the black-out word it leaves: 0 / 1, -1 as it was
    int scheduleMinute;   // the minute of the day it acts at; -1: the PC's act
    std::function<void(FpgaResets&)> pc;
    enum Kind { kAct, kRamFlag, kRamNoFlag } kind = kAct;
};

TEST_F(FpgaResets, TheScreenShowsItsLatestActWhicheverWayItCame)
{
    using R = FpgaResets;
    bringUp();
    idle(60);
    storeSchedule();   // on 07:30, off 22:00
    const uint16_t width0 = le16(store->ram_para, kLedWidthWord);
    const uint16_t height0 = le16(store->ram_para, kLedHeightWord);
    message_deal deal;
    message_deal::Origin origin;
    origin.transport = 3;
    origin.peer = 1;
    auto pcCall = [&](uint16_t dest, unsigned char command, const pcclient::Bytes& payload, unsigned char port) {
        const pcclient::Bytes body = pcclient::buildBody(dest, command, payload, port);
        const int n = deal.message_group_deal(body.data(), static_cast<int>(body.size()), origin);
        return n > 0 ? pcclient::parseReply(deal.reply(), n).status : 0xFF;
    };
    auto answered = [&](const char* what, unsigned char status) {
        if (status != 0)
            fault(std::string(what) + " answered " + std::to_string(status));
    };
    auto item5 = [&](uint16_t v) { answered("item 5", pcCall(pcclient::kProcessor, 0xB0, pcclient::itemsPayload({{5, 0, v}}), 0)); };
    auto register0 = [&](bool dark) {
        for (unsigned char fpga : {0, 1})
            answered("register 0", pcCall(pcclient::kSendingCard, 0xA0,
                                          pcclient::regWritePayload({{0, 0x04, static_cast<unsigned char>(dark ? 4 : 0)}}),
                                          fpga));
    };
    auto ramWrite = [&](const pcclient::Bytes& bytes, bool flag) {
        answered("RAM write", pcCall(pcclient::kProcessor, 0x60, pcclient::ramWritePayload(kBlackoutWord, bytes), 0));
        if (flag)
            answered("flag", pcCall(pcclient::kProcessor, 0xA0, pcclient::regWritePayload({{11, 0xFF, 1}}), 0));
    };
    // User mode 1 saved as the screen stands now, with its black-out word.
    auto userMode = [&](uint16_t v) {
        {
            ParaWriteLock bytes;
            unsigned char* slot = bytes.slot(0);
            slot[0] = slot[1] = 0xAA;
            std::memcpy(slot + 2, store->ram_para + 896, 4096 - 896);
            setLe16(slot, 2 + kBlackoutWord - 896, v);
        }
        answered("item 4", pcCall(pcclient::kProcessor, 0xB0, pcclient::itemsPayload({{4, 0, 1}}), 0));
    };
    const std::vector<ScreenWay> ways = {
        {"the on time", false, 0, 7 * 60 + 30, nullptr},
        {"the off time", true, -1, 22 * 60, nullptr},
        {"item 5 = 1", true, 1, -1, [&](R&) { item5(1); }},
        {"item 5 = 0", false, 0, -1, [&](R&) { item5(0); }},
        {"a RAM write of word 2116 = 1", true, 1, -1, [&](R&) { ramWrite({1, 0}, true); }, ScreenWay::kRamFlag},
        {"a RAM write of word 2116 = 0", false, 0, -1, [&](R&) { ramWrite({0, 0}, true); }, ScreenWay::kRamFlag},
        {"a RAM write of 2116..2119 = 00 00 01 00", false, 0, -1, [&](R&) { ramWrite({0, 0, 1, 0}, true); },
         ScreenWay::kRamFlag},
        {"a RAM write of word 2116 = 1 without its flag", true, 1, -1, [&](R&) { ramWrite({1, 0}, false); },
         ScreenWay::kRamNoFlag},
        {"register 0 dark on both", true, -1, -1, [&](R&) { register0(true); }},
        {"register 0 lit on both", false, -1, -1, [&](R&) { register0(false); }},
        {"a user mode with the black-out", true, 1, -1, [&](R&) { userMode(1); }},
        {"a user mode without the black-out", false, 0, -1, [&](R&) { userMode(0); }},
    };
    int day = 5;
    // The clock at a time of the day; the FPGA thread reads it on its next
    // pass.
    auto setClock = [&](int minuteOfDay, int second) {
        clock.set(2026, 3, day, minuteOfDay / 60, minuteOfDay % 60, second);
        g_change.time_read_time = G_timeTicks - 30;
    };
    auto check = [&](bool dark, uint16_t word, const char* when) {
        for (int i = 0; i < 2; ++i) {
            if ((model(i).storedReg(0) & 0x04) != (dark ? 0x04 : 0))
                fault(std::string(when) + ": FPGA " + std::to_string(i) + (dark ? " lit" : " dark"));
            if ((pcRead(i, 0) & 0x04) != (dark ? 0x04 : 0))
                fault(std::string(when) + ": the PC reads FPGA " + std::to_string(i) + (dark ? " lit" : " dark"));
            if ((model(i).storedReg(3) & 0x20) == 0)
                fault(std::string(when) + ": FPGA " + std::to_string(i) + " outputs off");
        }
        if (ScreenState.load() != (dark ? 0 : 1))
            fault(std::string(when) + ": screen state " + std::to_string(ScreenState.load()));
        if (le16(store->ram_para, kBlackoutWord) != word)
            fault(std::string(when) + ": word 2116 reads " + std::to_string(le16(store->ram_para, kBlackoutWord)));
    };
    int rows = 0;
    for (int baseline : {0, 1}) {
        for (bool busy : {false, true}) {
            for (const ScreenWay& first : ways) {
                for (const ScreenWay& second : ways) {
                    std::ostringstream name;
                    name << first.name << ", then " << second.name << (busy ? ", the FPGA thread busy" : "")
                         << ", word 2116 at " << baseline << " before";
                    situation = name.str();
                    ++rows;
                    // A new day, the minute before the first act: the
                    // screen lit by the PC, the word at the baseline.
                    const int firstAt = first.scheduleMinute >= 0 ? first.scheduleMinute : 12 * 60;
                    day += 2;
                    setClock(firstAt - 1, 0);
                    idle(30);
                    item5(static_cast<uint16_t>(baseline));
                    register0(false);
                    idle(10);
                    // The first act, at its minute or at noon; the second a
                    // second after it, or at its own minute (the next day
                    // when that minute is not later).
                    setClock(firstAt, 5);
                    if (first.pc)
                        first.pc(*this);
                    if (!busy)
                        idle(30);
                    bool onTimePassed = false;   // an on time between the two
                    if (second.scheduleMinute >= 0) {
                        if (second.scheduleMinute <= firstAt) {
                            ++day;
                            onTimePassed = second.dark;
                        }
                        setClock(second.scheduleMinute, 5);
                    } else {
                        setClock(firstAt, 6);
                        second.pc(*this);
                    }
                    idle(30);
                    // What the screen shows, the last act on the word, the
                    // word, and a RAM write waiting for its flag.
                    bool dark = false, wordAct = baseline != 0, waiting = false;
                    int word = baseline;
                    for (const ScreenWay* w : {&first, &second}) {
                        if (w == &second && onTimePassed) {
                            wordAct = false;   // the on time between them
                            word = waiting ? word : 0;
                        }
                        switch (w->kind) {
                        case ScreenWay::kAct:
                            dark = w->dark;
                            if (w->scheduleMinute >= 0 && !w->dark) {   // the on time takes the word back
                                wordAct = false;
                                word = waiting ? word : 0;
                            } else if (w->word >= 0) {
                                wordAct = w->dark;
                                word = w->word;
                                waiting = false;
                            }
                            break;
                        case ScreenWay::kRamFlag:
                            word = w->word;
                            waiting = false;
                            if (w->dark != wordAct)
                                dark = wordAct = w->dark;
                            break;
                        case ScreenWay::kRamNoFlag:
                            word = w->word;
                            waiting = true;
                            break;
                        }
                    }
                    check(dark, static_cast<uint16_t>(word), "after the acts");

                    uint64_t before[2] = {model(0).counters().resets, model(1).counters().resets};
                    mgr().reset_fpga_rst(1);
                    if (run([&] { return upAgain(before, false, true); }, 6000) < 0)
                        fault("FPGA 1 did not come back");
                    idle(30);
                    check(dark, static_cast<uint16_t>(word), "after a reset of FPGA 1");

                    before[0] = model(0).counters().resets;
                    before[1] = model(1).counters().resets;
                    const bool other = le16(store->ram_para, kLedWidthWord) == width0;
                    ledRequest({{kLedWidthWord, other ? uint16_t(1280) : width0},
                                {kLedHeightWord, other ? uint16_t(720) : height0}});
                    if (run([&] { return upAgain(before, true, true); }, 6000) < 0)
                        fault("the FPGAs did not come back from an LED size change");
                    idle(30);
                    check(dark, static_cast<uint16_t>(word), "after an LED size change");
                }
            }
        }
    }
    EXPECT_EQ(rows, 576);

    // The PC storing a wider area as it read it, passing over the word
    // without changing it, does not light a screen the off time darkened.
    situation = "a RAM write over word 2116, unchanged, after the off time";
    day += 2;
    setClock(22 * 60 - 1, 0);
    idle(30);
    item5(0);
    register0(false);
    idle(10);
    setClock(22 * 60, 5);
    idle(30);
    pcclient::Bytes area(16);
    std::memcpy(area.data(), store->ram_para + kBlackoutWord - 4, area.size());
    answered("RAM write", pcCall(pcclient::kProcessor, 0x60, pcclient::ramWritePayload(kBlackoutWord - 4, area), 0));
    answered("flag", pcCall(pcclient::kProcessor, 0xA0, pcclient::regWritePayload({{11, 0xFF, 1}}), 0));
    idle(30);
    check(true, 0, "after the write");
    EXPECT_EQ(faultCount, 0) << faultCount << " faults; the first:\n" << [&] {
        std::string all;
        for (const auto& f : faults)
            all += f + "\n";
        return all;
    }();
}

// A page the PC posted (its RAM write), then a bring-up of the FPGAs before
// its strobe: an LED size change, an FPGA that fell silent, the LED
// screen's re-initialisation. The bring-up reads the FPGAs' version, which
// the PC reads in page bytes 12..15 as before; the strobe runs the page as
// the PC wrote it: the clock it set, the on/off table and the brightness
// table it stored, byte for byte.
TEST_F(FpgaResets, APagePostedBeforeABringUpRunsAsThePcWroteIt)
{
    clock.set(2026, 3, 5, 12, 0, 0);
    bringUp();
    idle(60);
    using R = FpgaResets;
    using Bytes = std::vector<uint8_t>;
    const uint16_t width0 = le16(store->ram_para, kLedWidthWord);
    const uint16_t height0 = le16(store->ram_para, kLedHeightWord);
    struct BringUp {
        const char* name;
        bool fpga0, fpga1;
        std::function<void(R&)> start;
    };
    const std::vector<BringUp> bringUps = {
        {"an LED size change", true, true,
         [&](R& t) {
             const bool first = le16(t.store->ram_para, kLedWidthWord) == width0;
             t.ledRequest({{kLedWidthWord, first ? uint16_t(1280) : width0},
                           {kLedHeightWord, first ? uint16_t(720) : height0}});
         }},
        {"FPGA 0 fallen silent", true, false,
         [](R& t) {
             t.model(0).setFault(sim::FpgaModel::Fault::Dead);
             EXPECT_GT(t.run([&] { return t.mgr().fpga_rst_pending[0] != 0; }, 3000), 0) << "no reset";
             t.model(0).setFault(sim::FpgaModel::Fault::None);
         }},
        {"the LED screen's re-initialisation", true, true, [](R& t) { t.ledRequest({}, true); }},
    };
    auto& shell = sim::Board::instance().shell();
    struct Posted {
        const char* name;
        Bytes page;
        std::function<void(R&, const Bytes&)> check;
    };
    Bytes onOff = {0xAA, 2, 0xAA, 0, 0, 0, 17, 0, 4};
    for (uint8_t b : {0x06, 0x10, 0x21, 0x40, 0x07, 0x20, 0x22, 0x50, 0x08, 0x30, 0x23, 0x05, 0x09, 0x41, 0x20, 0x15})
        onOff.push_back(b);
    Bytes table = {0xAA, 3, 0xAA, 0, 0, 0, 49, 0, 1};
    for (unsigned k = 0; k < 48; ++k)
        table.push_back(static_cast<uint8_t>(1 + (k * 7) % 15));
    const std::vector<Posted> posted = {
        {"a clock", {0xAA, 1, 0, 0, 0, 0, 7, 0, 0x25, 0x20, 0x06, 0x12, 0x14, 0x45, 0x30, 0x00},
         [&](R&, const Bytes&) {
             EXPECT_EQ(shell.commands(), std::vector<std::string>({"date \"2025-6-12 14:45:30\";hwclock -wu"}));
         }},
        {"an on/off table", onOff,
         [](R& t, const Bytes& page) {
             EXPECT_EQ(t.flash(2).peek(fpga_manage::kOnOffRecord, page.size()), page) << "the record stored";
             EXPECT_EQ(t.mgr().off_minute[0], 40);
             EXPECT_EQ(t.mgr().on_hour[1], 7);
         }},
        {"a brightness table", table,
         [](R& t, const Bytes& page) {
             EXPECT_EQ(t.flash(2).peek(fpga_manage::kBrightRecord, page.size()), page) << "the record stored";
             EXPECT_EQ(t.mgr().bri_mode, 1);
             EXPECT_EQ(Bytes(t.mgr().table().HalfHourValue, t.mgr().table().HalfHourValue + 48),
                       Bytes(page.begin() + 9, page.end()));
         }},
    };
    const Bytes version(sim::FpgaModel::kVersion, sim::FpgaModel::kVersion + 4);
    auto pcRead = [](unsigned offset, unsigned count) {
        Bytes b(count);
        EXPECT_EQ(link_services::sendcard_read_ram(0, 0x10000 + offset, b.data(), static_cast<int>(count)),
                  link_frame::kOk);
        return b;
    };
    for (const BringUp& b : bringUps) {
        for (const Posted& p : posted) {
            situation = std::string(p.name) + " posted before " + b.name;
            SCOPED_TRACE(situation);
            ASSERT_EQ(link_services::sendcard_write_ram(0, 0x10000, p.page.data(), static_cast<int>(p.page.size())),
                      link_frame::kOk);
            const uint64_t before[2] = {model(0).counters().resets, model(1).counters().resets};
            b.start(*this);
            ASSERT_GT(run([&] { return upAgain(before, b.fpga0, b.fpga1) && g_set_led_para.load() == 0; }, 6000), 0)
                << "the FPGAs did not come back";
            EXPECT_EQ(pcRead(12, 4), version) << "the PC reads the FPGA's version";
            shell.clearLog();
            ASSERT_EQ(link_services::sendcard_write_register(0, 2, 0x04, 0x04), link_frame::kOk);
            p.check(*this, p.page);
            idle(10);
        }
    }
    // The PC's write of those bytes reads back as written, until the next
    // bring-up.
    const unsigned char mine = 0x5C;
    ASSERT_EQ(link_services::sendcard_write_ram(0, 0x10000 + 13, &mine, 1), link_frame::kOk);
    EXPECT_EQ(pcRead(12, 4), Bytes({version[0], mine, version[2], version[3]}));
    EXPECT_EQ(faultCount, 0) << (faults.empty() ? "" : faults.front());
}

} // namespace
