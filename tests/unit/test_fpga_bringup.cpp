// Bring-up and link watch of the two FPGAs on the simulated board, with the
// ticks driven by the test, and the thread's gate and change flags.
#include "support/fpga_fixture.h"

#include "avchips/velmosource.h"
#include "core/global.h"
#include "core/le_bytes.h"
#include "core/para_layout.h"
#include "core/utils.h"
#include "videochip/c331_manage.h"

#include <chrono>
#include <thread>

namespace {

using FpgaBringUp = FpgaTest;

TEST_F(FpgaBringUp, BothFpgasComeUpAndTheChipIsTold)
{
    EXPECT_EQ(mgr().get_fpga_status(), 0);
    const int ticks = runUntil([this] { return mgr().fpga_state[0] == 7 && mgr().fpga_state[1] == 7; }, 1000);
    ASSERT_GT(ticks, 5 * 30) << "each bring-up step waits more than 30 ticks";
    EXPECT_EQ(mgr().MCU_REG_func[0][80], 3);
    EXPECT_EQ(mgr().get_fpga_status(), 0) << "up before the link watch";
    EXPECT_EQ(g_force_bkcolor.load(), 1);

    bringUp();
    for (int i = 0; i < 2; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(mgr().link_state[i], fpga_manage::kLinkUp);
        EXPECT_EQ(mgr().MCU_REG_func[i][80], 3);
        EXPECT_EQ(mgr().ram_check[i], 1);
        // V-by-One init steps, output on, output enable, start-up done.
        EXPECT_EQ(model(i).storedReg(3) & 0xE0, 0xE0);
        EXPECT_EQ(model(i).storedReg(23) & 0x0B, 0x01);   // bit 1 handshake and bit 3 cleared again
        EXPECT_EQ(model(i).storedReg(2) & 0x08, 0x08);
        EXPECT_GE(model(i).counters().pageApplies, 5u);
        // The parameter page went to RAM block 1: the built-in page with
        // the port geometry reset and the global port numbers.
        const std::vector<uint8_t> page = model(i).ram(1, 0, 1024);
        EXPECT_TRUE(std::equal(page.begin(), page.begin() + 116, mgr().MCU_RAM_PARA_func[i]));
        EXPECT_EQ(le16(page.data(), 60), 1280);
        EXPECT_EQ(le16(page.data(), 8 + 4), 1280);   // port 0 width
        EXPECT_EQ(le16(page.data(), 296), 1398);
        EXPECT_EQ(page[276], 1 + 16 * i);
        EXPECT_EQ(page[291], 16 + 16 * i);
        // The control unique id (flash 2's id) in registers 32..39.
        const auto uid = flash(2).uniqueId();
        for (int k = 0; k < 8; ++k)
            EXPECT_EQ(model(i).storedReg(32 + k), uid[k]);
    }
    EXPECT_EQ(mgr().device_id, Utils::calcCRC32(mgr().control_uid, 16));
    // Version registers on the command page.
    EXPECT_EQ(commandPageByte(15), sim::FpgaModel::kVersion[3]);
    EXPECT_EQ(commandPageByte(24), 1);
    EXPECT_EQ(commandPageByte(25), 17);
    // The chip ends its forced colour on its next pass.
    EXPECT_EQ(g_force_bkcolor.load(), 0);
    EXPECT_EQ(c331_manage::para_change_flag.load(), 1);
}

TEST_F(FpgaBringUp, VersionYearsOutsideTheRangeAreNotAlive)
{
    model(0).setVersionYear(0x19);   // 25: alive
    model(1).setVersionYear(0x18);   // 24: not alive
    runUntil([] { return false; }, 400);
    EXPECT_EQ(mgr().fpga_state[0], 7);
    EXPECT_EQ(mgr().fpga_state[1], 1);
    EXPECT_EQ(mgr().MCU_REG_func[1][31], 0x18);
    EXPECT_EQ(model(1).storedReg(3), 0) << "a rejected FPGA was written to";

    model(1).setVersionYear(0x31);   // 49: not alive
    runUntil([] { return false; }, 100);
    EXPECT_EQ(mgr().MCU_REG_func[1][31], 0x31);
    EXPECT_EQ(mgr().fpga_state[1], 1);
    model(1).setVersionYear(0x30);   // 48: alive
    EXPECT_GT(runUntil([this] { return mgr().get_fpga_status() == 1; }, 3000), 0);
}

TEST_F(FpgaBringUp, AStuckInitErrorCostsTwoResetPulsesThenBringUpProceeds)
{
    model(0).setFault(sim::FpgaModel::Fault::InitError);
    std::vector<int> pulses;
    int inReset = 0;
    unsigned char stateDuringReset = 255;
    bool steppedInReset = false;
    for (int t = 0; t < 3000 && mgr().get_fpga_status() != 1; ++t) {
        const unsigned char before = mgr().fpga_state[0];
        tick();
        if (model(0).inReset()) {
            ++inReset;
            if (stateDuringReset == 255)
                stateDuringReset = mgr().fpga_state[0];
            steppedInReset |= mgr().fpga_state[0] != before;
        } else if (inReset) {
            pulses.push_back(inReset);
            inReset = 0;
        }
    }
    ASSERT_EQ(pulses.size(), 2u);
    for (int p : pulses)
        EXPECT_GE(p, 201);
    EXPECT_EQ(stateDuringReset, 2) << "the state is left as it was during the pulse";
    EXPECT_FALSE(steppedInReset) << "bring-up stepped on while the FPGA was held in reset";
    EXPECT_EQ(model(0).counters().resets, 2u);
    EXPECT_EQ(mgr().get_fpga_status(), 1) << "after two rounds the bring-up goes on regardless";
}

TEST_F(FpgaBringUp, NoLockIsGivenUpAfterEightReads)
{
    model(1).setFault(sim::FpgaModel::Fault::NoLock);
    runUntil([this] { return mgr().fpga_state[1] == 5; }, 1000);
    int reads = 0;
    for (int t = 0; t < 1000 && mgr().fpga_state[1] == 5; ++t) {
        const uint64_t before = model(1).counters().commands;
        tick();
        reads += model(1).counters().commands != before;
    }
    EXPECT_EQ(reads, 8);
    EXPECT_EQ(mgr().fpga_state[1], 6);
    EXPECT_GT(runUntil([this] { return mgr().fpga_state[1] == 7; }, 100), 0);
    EXPECT_EQ(model(1).counters().resets, 0u);
}

TEST_F(FpgaBringUp, ALinkThatNeverLocksIsResetWithGrowingPatience)
{
    model(1).setFault(sim::FpgaModel::Fault::NoLink);
    ASSERT_GT(runUntil([this] { return mgr().fpga_state[1] == fpga_manage::kStateLinkReset; }, 2000), 0);
    EXPECT_EQ(mgr().link_try[1], 20);
    EXPECT_EQ(mgr().link_rst_count[1], 1);
    EXPECT_TRUE(model(1).inReset());
    EXPECT_EQ(mgr().get_fpga_status(), 0);
    const int pulse = runUntil([this] { return !model(1).inReset(); }, 400);
    EXPECT_GE(pulse, 201);
    EXPECT_EQ(mgr().fpga_state[1], 1) << "bring-up starts again from the version read";
    // Brought up again; the link comes once the fault is gone.
    model(1).setFault(sim::FpgaModel::Fault::None);
    bringUp();
    EXPECT_EQ(model(1).counters().resets, 1u);

    // Past twelve resets the tries outgrow a byte: 13 resets wait 280 tries.
    model(1).setFault(sim::FpgaModel::Fault::NoLink);
    mgr().link_state[1] = 0;
    mgr().link_rst_count[1] = 13;
    mgr().link_try[1] = 279;
    ASSERT_GT(runUntil([this] { return mgr().link_try[1] == 280; }, 100), 0);
    EXPECT_GT(runUntil([this] { return mgr().fpga_state[1] == fpga_manage::kStateLinkReset; }, 100), 0);
    EXPECT_EQ(mgr().link_rst_count[1], 14);

    // After 101 resets the watch gives up and goes on without the lock.
    runUntil([this] { return mgr().fpga_state[1] == 7; }, 3000);
    mgr().link_state[1] = 0;
    mgr().link_rst_count[1] = 101;
    mgr().link_try[1] = 102 * 20;
    ASSERT_GT(runUntil([this] { return mgr().link_state[1] != 0; }, 100), 0);
    EXPECT_EQ(mgr().fpga_state[1], 7);
    EXPECT_FALSE(model(1).inReset());
}

TEST_F(FpgaBringUp, AParameterRamThatReadsBackWrongResetsTheFpga)
{
    model(0).setFault(sim::FpgaModel::Fault::RamError);
    ASSERT_GT(runUntil([this] { return mgr().fpga_rst_pending[0] == 1; }, 1000), 0);
    EXPECT_EQ(mgr().ram_check[0], 0);
    EXPECT_EQ(mgr().get_fpga_status(), 0);
    model(0).setFault(sim::FpgaModel::Fault::None);
    bringUp();
    EXPECT_EQ(mgr().ram_check[0], 1);
}

TEST_F(FpgaBringUp, AnFpgaWithoutItsClockIsLeftAloneAndTheOtherWaits)
{
    velmosource::p_velmo_source->fpga_clk_setup_state[1] = 1;
    mgr().lcd_change_flag = 1;
    runUntil([] { return false; }, 800);
    EXPECT_EQ(model(1).counters().commands, 0u);
    EXPECT_EQ(mgr().fpga_state[0], 7);
    EXPECT_EQ(mgr().link_state[0], 3) << "the watch waits for the other FPGA";
    EXPECT_EQ(mgr().get_fpga_status(), 0);
    EXPECT_EQ(mgr().lcd_change_flag.load(), 1) << "the change stays pending";
}

TEST_F(FpgaBringUp, TheLinkWatchDoesNotWaitForABusyChipMutex)
{
    // The chip thread holds its mutex (for instance while it waits for the
    // LED handshake): the links still come up, the chip is told later.
    pthread_mutex_lock(&c331_manage::c331_mutex);
    bringUp();
    EXPECT_EQ(g_force_bkcolor.load(), 1);
    EXPECT_EQ(c331_manage::para_change_flag.load(), 0);
    // Meanwhile the PC asked for a rewrite of the user-mode files (flag 2):
    // the raise of the links does not lower it.
    c331_manage::para_change_flag = 2;
    pthread_mutex_unlock(&c331_manage::c331_mutex);
    tick();
    EXPECT_EQ(g_force_bkcolor.load(), 0);
    EXPECT_EQ(c331_manage::para_change_flag.load(), 2);
}

TEST_F(FpgaBringUp, ChangeFlagsAreAppliedOnceUpAndARaiseDuringTheApplyIsKept)
{
    mgr().lcd_change_flag = 1;
    bringUp();
    EXPECT_EQ(mgr().lcd_change_flag.load(), 0);

    // The chip raises the geometry change again while it is being applied.
    const uint64_t applies = model(0).counters().pageApplies;
    model(0).onRegisterWrite([this](unsigned reg, uint8_t mask, uint8_t) {
        if (reg == 2 && mask == 0x01)
            mgr().lcd_change_flag = 1;
    });
    mgr().lcd_change_flag = 1;
    tick();
    EXPECT_EQ(model(0).counters().pageApplies, applies + 1);
    EXPECT_EQ(mgr().lcd_change_flag.load(), 1) << "the second raise was lost";
    model(0).onRegisterWrite(nullptr);
    tick();
    EXPECT_EQ(mgr().lcd_change_flag.load(), 0);
    EXPECT_EQ(model(0).counters().pageApplies, applies + 2);

    // Black-out word set: the act blanks both FPGAs.
    setLe16(ParaWriteLock().block(), para::kBlackout, 1);
    tick();
    EXPECT_EQ(model(0).storedReg(0) & 0x04, 0x04);
    EXPECT_EQ(model(1).storedReg(0) & 0x04, 0x04);
    EXPECT_EQ(ScreenState.load(), 0);
    EXPECT_EQ(mgr().MCU_RAM_EXTEND[29], 0);
}

TEST_F(FpgaBringUp, OffsetChangeMovesFpga0PortsOnTheFpga)
{
    bringUp();
    setLe16(ParaWriteLock().block(), para::kPanelResult, 100);
    setLe16(ParaWriteLock().block(), para::kPanelResult + 2, 50);
    mgr().lcd_change_flag = 1;
    tick();
    const std::vector<uint8_t> page = model(0).ram(1, 0, 1024);
    EXPECT_EQ(le16(page.data(), 8), 100);     // port 0 x
    EXPECT_EQ(le16(page.data(), 10), 50);     // port 0 y
    EXPECT_EQ(le16(page.data(), 12), 1280);   // widths stay
    EXPECT_EQ(le16(model(1).ram(1, 8, 2).data(), 0), 0) << "only FPGA 0's page is rebuilt";
}

// The worker thread itself: nothing at all while the gate is closed.
TEST_F(FpgaTest, TheThreadWaitsForTheGate)
{
    fpga_manage::destroyForTest();
    G_timeTicks = 1000;
    fpga_manage::createForTest(true);
    auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (mgr().loop_count < 200 && std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    ASSERT_GE(mgr().loop_count.load(), 200u);
    EXPECT_EQ(messages(0), 0u);
    EXPECT_EQ(messages(1), 0u);

    G_timeTicks = 2000;   // past the first bring-up wait
    g_fpga_c331_start = 1;
    while (model(1).counters().commands == 0 && std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    EXPECT_GT(model(0).counters().commands, 0u);
    EXPECT_GT(model(1).counters().commands, 0u);
    fpga_manage::destroyForTest();
}

} // namespace
