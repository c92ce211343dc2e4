// The LED panel re-initialisation handshake between a requester, the chip
// thread and the FPGA thread, and the freeze-output sequence.
#include "support/fpga_fixture.h"

#include "core/global.h"
#include "core/le_bytes.h"
#include "core/utils.h"
#include "core/zdrrampara.h"
#include "videochip/c331_manage.h"

#include <QMutexLocker>
#include <atomic>
#include <chrono>
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

TEST_F(FpgaHandshake, ARequestWaitsUntilBothFpgasAreUp)
{
    post(1);
    runUntil([] { return false; }, 200);
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
