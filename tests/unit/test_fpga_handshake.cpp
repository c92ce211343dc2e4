// The LED panel re-initialisation handshake between a requester, the chip
// thread and the FPGA thread, and the freeze-output sequence.
#include "support/fpga_fixture.h"

#include "core/global.h"
#include "core/le_bytes.h"
#include "core/utils.h"
#include "core/zdrrampara.h"
#include "platform/clock.h"
#include "support/board_clock.h"
#include "videochip/c331_manage.h"

#include <QMutexLocker>
#include <atomic>
#include <chrono>
#include <ostream>
#include <string>
#include <thread>

namespace {

using FpgaHandshake = FpgaTest;

void post(unsigned char value)
{
    QMutexLocker lock(&Utils::_led_para_init_mutex);
    g_set_led_para = value;
    if (value == 1)
        g_set_led_setup = 0;
}

// Within its wait (a slow board clock: 2 s of it last 20 s here).
TEST_F(FpgaHandshake, ARequestWaitsAWhileForBothFpgasToBeUp)
{
    BoardClockSpeed slow(0.1);
    const uint64_t posted = platform::clock().nowUs();
    post(1);
    runUntil([] { return false; }, 200);
    ASSERT_LT(platform::clock().nowUs() - posted, fpga_manage::kLedRequestWaitUs);
    EXPECT_EQ(g_set_led_para.load(), 1);
    EXPECT_EQ(g_set_led_setup.load(), 0);
    EXPECT_EQ(model(0).storedReg(0) & 0x04, 0) << "blanked before the FPGAs were up";
    EXPECT_EQ(ScreenState.load(), 1);
}

TEST_F(FpgaHandshake, RequestBlanksTheScreenAndTheChipsAnswerResetsBothFpgas)
{
    bringUp();
    post(1);
    tick();
    EXPECT_EQ(g_set_led_setup.load(), 1);
    for (int i = 0; i < 2; ++i)
        EXPECT_EQ(model(i).storedReg(0) & 0x04, 0x04) << "black-out on FPGA " << i;
    EXPECT_EQ(ScreenState.load(), 0);
    const int ticks = runUntil([] { return g_set_led_para.load() == 0; }, 200);
    EXPECT_GE(ticks, 42);
    EXPECT_EQ(g_set_led_setup.load(), 0);
    for (int i = 0; i < 2; ++i)
        EXPECT_EQ(model(i).storedReg(3) & 0x20, 0) << "outputs still on, FPGA " << i;

    // The chip has re-initialised its panel.
    post(2);
    tick();
    EXPECT_EQ(g_set_led_para.load(), 0);
    EXPECT_EQ(mgr().fpga_rst_pending[0], 1);
    EXPECT_EQ(mgr().fpga_rst_pending[1], 1);
    EXPECT_EQ(mgr().get_fpga_status(), 0) << "reported up while being reset";
    bringUp();
    EXPECT_EQ(model(0).counters().resets, 1u);
    EXPECT_EQ(model(1).counters().resets, 1u);
    EXPECT_EQ(model(0).storedReg(3) & 0x20, 0x20) << "outputs back on";
    // The black-out is off: the screen is lit again, and the image and
    // the screen state say so (the reset cleared register 0).
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(model(i).storedReg(0) & 0x04, 0) << "FPGA " << i;
        EXPECT_EQ(mgr().MCU_REG_func[i][0] & 0x04, 0) << "image of FPGA " << i;
    }
    EXPECT_EQ(ScreenState.load(), 1);
    EXPECT_EQ(mgr().MCU_RAM_EXTEND[29], 1);

    // Again with the black-out on (word 2116 = 1): each FPGA is dark before
    // its output goes on, and stays dark.
    {
        ParaWriteLock bytes;
        bytes.block()[2116] = 1;
        bytes.block()[2117] = 0;
    }
    post(1);
    runUntil([] { return g_set_led_para.load() == 0; }, 200);
    std::atomic<int> litOutputs{0};
    for (int i = 0; i < 2; ++i) {
        model(i).onRegisterWrite([this, i, &litOutputs](unsigned reg, uint8_t mask, uint8_t value) {
            if (reg == 3 && (mask & value & 0x20) && !(model(i).storedReg(0) & 0x04))
                ++litOutputs;
        });
    }
    post(2);
    tick();
    bringUp();
    for (int i = 0; i < 2; ++i)
        model(i).onRegisterWrite(nullptr);
    EXPECT_EQ(model(0).counters().resets, 2u);
    EXPECT_EQ(litOutputs.load(), 0) << "an output went on with the screen lit";
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(model(i).storedReg(3) & 0x20, 0x20) << "FPGA " << i;
        EXPECT_EQ(model(i).storedReg(0) & 0x04, 0x04) << "FPGA " << i;
        EXPECT_EQ(mgr().MCU_REG_func[i][0] & 0x04, 0x04) << "image of FPGA " << i;
    }
    EXPECT_EQ(ScreenState.load(), 0);
    runUntil([] { return false; }, 100);
    for (int i = 0; i < 2; ++i)
        EXPECT_EQ(model(i).storedReg(0) & 0x04, 0x04) << "FPGA " << i;
}

// The chip thread takes its manage mutex, sees the request and waits for
// the FPGA thread while the links are still coming up: neither waits for
// the other for ever.
TEST_F(FpgaHandshake, ARequestDuringBringUpWithTheChipMutexHeldCompletes)
{
    post(1);
    pthread_mutex_lock(&c331_manage::c331_mutex);   // the waiting chip thread
    bool chipWaiting = true;
    int t = 0;
    for (; t < 6000; ++t) {
        tick();
        if (chipWaiting && g_set_led_para.load() == 0) {
            post(2);
            pthread_mutex_unlock(&c331_manage::c331_mutex);
            chipWaiting = false;
        }
        if (!chipWaiting && model(1).counters().resets == 1 && mgr().get_fpga_status() == 1)
            break;
    }
    if (chipWaiting)
        pthread_mutex_unlock(&c331_manage::c331_mutex);
    ASSERT_FALSE(chipWaiting) << "the FPGA side never finished its part";
    ASSERT_LT(t, 6000) << "the FPGAs did not come up again";
    EXPECT_EQ(model(0).counters().resets, 1u);
    EXPECT_EQ(g_force_bkcolor.load(), 0);
    EXPECT_EQ(c331_manage::para_change_flag.load(), 1);
}

TEST_F(FpgaHandshake, TheSameWithRealThreads)
{
    fpga_manage::destroyForTest();
    fpga_manage::createForTest(true);
    g_fpga_c331_start = 1;
    std::atomic<bool> stop{false};
    std::atomic<bool> answered{false};
    post(1);
    std::thread chip([&] {
        pthread_mutex_lock(&c331_manage::c331_mutex);
        for (;;) {
            {
                QMutexLocker lock(&Utils::_led_para_init_mutex);
                if (g_set_led_para.load() != 1 || stop)
                    break;
            }
            std::this_thread::sleep_for(std::chrono::microseconds(10));
        }
        if (!stop) {
            post(2);
            answered = true;
        }
        pthread_mutex_unlock(&c331_manage::c331_mutex);
    });
    auto done = [&] {
        return answered && fpga_manage::p_fpga_manage->get_fpga_status() == 1 &&
               model(0).counters().resets == 1 && model(1).counters().resets == 1;
    };
    for (int t = 0; t < 20000 && !done(); ++t) {
        ++G_timeTicks;
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    stop = true;
    chip.join();
    EXPECT_TRUE(done()) << "status " << fpga_manage::p_fpga_manage->get_fpga_status() << " answered " << answered;
    fpga_manage::destroyForTest();
}

// Where FPGAs fall silent during an LED request (or never answer again
// until the test revives them).
enum class Silent { Never, Before, AfterBlackOut, AfterOutputsOff, WaitingForTheChip, AtTheAnswer, DuringBringUp, After };

struct SilentRow {
    const char* name;
    bool page;          // posted by a page (1); else the chip's answer to a PC's new size (2)
    Silent when;
    unsigned fpgas;     // bit i: FPGA i falls silent
    bool chipAnswers;   // the chip answers 30 ticks after the request hands it over
    bool dark;          // the screen's last act: the PC's item 5 right after the silence
};

void PrintTo(const SilentRow& row, std::ostream* out)
{
    *out << row.name;
}

class FpgaHandshakeSilence : public FpgaHandshake, public testing::WithParamInterface<SilentRow> {};

// The request ends within its bound on the FPGAs that are up, which show
// the screen's last act with their outputs on; an FPGA that answers again
// is brought up after the chip's answer (to the new size) and shows it too.
TEST_P(FpgaHandshakeSilence, TheRequestEndsOnTheFpgasThatAreUpAndShowsTheLastAct)
{
    const SilentRow row = GetParam();
    bringUp();
    auto silent = [&](int i) { return (row.fpgas >> i) & 1; };
    bool silenced = false, answered = false;
    uint64_t resetsAtAnswer[2] = {0, 0};
    auto silence = [&](Silent point) {
        if (silenced || row.when != point)
            return;
        for (int i : {0, 1})
            if (silent(i))
                model(i).setFault(sim::FpgaModel::Fault::Dead);
        ParaWriteLock item5;
        item5.blackout_command(row.dark ? 1 : 0);
        silenced = true;
    };
    auto answer = [&] {
        for (int i : {0, 1})
            resetsAtAnswer[i] = model(i).counters().resets;
        post(2);
        answered = true;
        silence(Silent::AtTheAnswer);
    };
    auto shows = [&](int i) {
        return mgr().fpga_up(static_cast<unsigned char>(i)) &&
               (model(i).storedReg(0) & 0x04) == (row.dark ? 0x04 : 0) && (model(i).storedReg(3) & 0x20) != 0;
    };
    if (row.when == Silent::Before || row.when == Silent::Never) {
        silence(row.when);
        silenced = true;
        ASSERT_GT(runUntil([&] { return !(silent(0) && mgr().fpga_up(0)) && !(silent(1) && mgr().fpga_up(1)); },
                           3000), 0);
    }
    const uint64_t posted = platform::clock().nowUs();
    if (row.page)
        post(1);
    else
        answer();

    // The request ends, and the FPGAs that are up show the last act.
    uint64_t ended = 0;
    unsigned handedAt = 0;
    const uint64_t limit = fpga_manage::kLedRequestBoundUs + boardUsOfRealMs(4000);
    bool done = false;
    while (!done && platform::clock().nowUs() - posted < limit) {
        tick();
        if (g_set_led_setup.load() == 1)
            silence(Silent::AfterBlackOut);
        if (g_set_led_setup.load() == 2)
            silence(Silent::AfterOutputsOff);
        if (row.page && !answered && g_led_panel_reinit.load() == 1 && g_set_led_para.load() == 0) {
            if (!handedAt)
                handedAt = G_timeTicks.load();
            silence(Silent::WaitingForTheChip);
            if (row.chipAnswers && G_timeTicks.load() - handedAt >= 30) {
                g_led_panel_reinit = 0;
                answer();
            }
        }
        for (int i : {0, 1}) {
            if (answered && silent(i) && !mgr().fpga_rst_pending[i] && mgr().fpga_state[i] >= 3 &&
                !mgr().fpga_up(static_cast<unsigned char>(i)))
                silence(Silent::DuringBringUp);
        }
        if (answered && mgr().get_fpga_status() == 1)
            silence(Silent::After);
        const bool released = g_set_led_para.load() == 0 && mgr().led_request_dark.load() == 0 &&
                              (answered || !row.chipAnswers);
        if (released && !ended)
            ended = platform::clock().nowUs();
        done = released && silenced && (silent(0) || shows(0)) && (silent(1) || shows(1));
    }
    ASSERT_TRUE(done) << "para " << int(g_set_led_para.load()) << " step " << int(g_set_led_setup.load())
                      << " held " << int(mgr().led_request_dark.load()) << " answered " << answered << " FPGA 0 "
                      << int(mgr().fpga_state[0]) << "/" << int(mgr().link_state[0]) << " reg0 "
                      << int(model(0).storedReg(0)) << " FPGA 1 " << int(mgr().fpga_state[1]) << "/"
                      << int(mgr().link_state[1]) << " reg0 " << int(model(1).storedReg(0));
    EXPECT_LE(ended - posted, fpga_manage::kLedRequestBoundUs + boardUsOfRealMs(500));

    // The chip answers late, the silent FPGAs answer again: every FPGA is
    // brought up after the answer and shows the last act.
    if (!answered) {
        g_led_panel_reinit = 0;
        answer();
    }
    for (int i : {0, 1})
        model(i).setFault(sim::FpgaModel::Fault::None);
    EXPECT_GT(runUntil([&] { return shows(0) && shows(1) && mgr().get_fpga_status() == 1; }, 6000), 0)
        << "FPGA 0 " << int(mgr().fpga_state[0]) << "/" << int(mgr().link_state[0]) << " FPGA 1 "
        << int(mgr().fpga_state[1]) << "/" << int(mgr().link_state[1]);
    for (int i : {0, 1})
        EXPECT_GT(model(i).counters().resets, resetsAtAnswer[i]) << "FPGA " << i << " not reset after the answer";
    EXPECT_EQ(g_set_led_para.load(), 0);
    EXPECT_EQ(mgr().led_request_dark.load(), 0);
}

INSTANTIATE_TEST_SUITE_P(
    AtEachStep, FpgaHandshakeSilence,
    testing::Values(
        SilentRow{"PageFpga1DeadBefore", true, Silent::Before, 2, true, false},
        SilentRow{"PageFpga0DeadBefore", true, Silent::Before, 1, true, false},
        SilentRow{"PageBothDeadBefore", true, Silent::Before, 3, true, false},
        SilentRow{"PageFpga1AfterTheBlackOut", true, Silent::AfterBlackOut, 2, true, false},
        SilentRow{"PageFpga1AfterTheBlackOutDarkAct", true, Silent::AfterBlackOut, 2, true, true},
        SilentRow{"PageFpga0AfterTheBlackOut", true, Silent::AfterBlackOut, 1, true, false},
        SilentRow{"PageBothAfterTheBlackOut", true, Silent::AfterBlackOut, 3, true, false},
        SilentRow{"PageFpga1AfterOutputsOff", true, Silent::AfterOutputsOff, 2, true, false},
        SilentRow{"PageFpga0AfterOutputsOff", true, Silent::AfterOutputsOff, 1, true, false},
        SilentRow{"PageFpga1WaitingForTheChip", true, Silent::WaitingForTheChip, 2, true, false},
        SilentRow{"PageBothWaitingForTheChip", true, Silent::WaitingForTheChip, 3, true, false},
        SilentRow{"PageFpga1AtTheAnswer", true, Silent::AtTheAnswer, 2, true, false},
        SilentRow{"PageFpga0AtTheAnswer", true, Silent::AtTheAnswer, 1, true, false},
        SilentRow{"PageFpga1DuringBringUp", true, Silent::DuringBringUp, 2, true, false},
        SilentRow{"PageFpga0DuringBringUp", true, Silent::DuringBringUp, 1, true, false},
        SilentRow{"PageFpga1After", true, Silent::After, 2, true, false},
        SilentRow{"PageBothAfter", true, Silent::After, 3, true, false},
        SilentRow{"PageFpga1AfterTheBlackOutChipSilent", true, Silent::AfterBlackOut, 2, false, false},
        SilentRow{"PageChipSilent", true, Silent::Never, 0, false, false},
        SilentRow{"PcFpga1DeadBefore", false, Silent::Before, 2, true, false},
        SilentRow{"PcFpga0DeadBeforeDarkAct", false, Silent::Before, 1, true, true},
        SilentRow{"PcBothDeadBefore", false, Silent::Before, 3, true, false},
        SilentRow{"PcFpga0AtTheAnswer", false, Silent::AtTheAnswer, 1, true, false},
        SilentRow{"PcFpga1DuringBringUp", false, Silent::DuringBringUp, 2, true, false}),
    [](const testing::TestParamInfo<SilentRow>& info) { return std::string(info.param.name); });

TEST_F(FpgaHandshake, FreezeOutputPulsesTheOutputsAndGivesUpAfter501Tries)
{
    bringUp();
    std::vector<std::pair<uint8_t, uint8_t>> reg23;
    model(1).onRegisterWrite([&reg23](unsigned reg, uint8_t mask, uint8_t value) {
        if (reg == 23)
            reg23.emplace_back(mask, value);
    });
    g_freeze_out = 1;
    const int ticks = runUntil([] { return g_freeze_out.load() == 0; }, 1000);
    ASSERT_GT(ticks, 5 * 21);
    model(1).onRegisterWrite(nullptr);
    // Output enable off and on, then the freeze pulse on bit 5.
    const std::vector<std::pair<uint8_t, uint8_t>> expected = {{0x01, 0x00}, {0x01, 0x01}, {0x20, 0x21}, {0x20, 0x01}};
    EXPECT_EQ(reg23, expected);
    EXPECT_EQ(model(0).storedReg(0) & 0x04, 0) << "black-out left on";
    EXPECT_EQ(g_set_led_setup.load(), 0);

    // A freeze check that never clears is given up after 501 looks.
    model(0).setReg(22, 0x04);
    mgr().MCU_REG_func[0][22] = 0x04;
    g_freeze_out = 1;
    const int long_ticks = runUntil([] { return g_freeze_out.load() == 0; }, 20000);
    EXPECT_GT(long_ticks, 500 * 21);
    EXPECT_EQ(g_set_led_setup.load(), 0);
}

} // namespace
