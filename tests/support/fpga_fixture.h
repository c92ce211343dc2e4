// Fixture for tests of the FPGA manager on a fresh simulated board: the
// parameter store loaded from the default file, both FPGA clock set-ups
// done, and a manager without its thread whose passes the test runs while
// it advances G_timeTicks itself.
#pragma once

#include "support/store_fixture.h"

#include "sendcard/fpga_manage.h"
#include "sim/fpga_model.h"

#include <functional>

class FpgaTest : public StoreTest {
protected:
    void SetUp() override;
    void TearDown() override;

    fpga_manage& mgr() { return *fpga_manage::p_fpga_manage; }
    sim::FpgaModel& model(int fpga);
    sim::NorFlashModel& flash(int chip);

    // One tick, then one pass of the FPGA thread.
    void tick();
    // Ticks until done() holds (checked after each pass); the number of
    // ticks it took, or -1 when maxTicks passed without it.
    int runUntil(const std::function<bool()>& done, int maxTicks);
    // Both FPGAs up (fails the test when they do not come up).
    void bringUp();
    // Messages sent to an FPGA spidev node (0..3) so far.
    uint64_t messages(int node);
    // The command page as a PC's RAM write leaves it (count bytes from
    // offset), and a byte of it as a PC reads it.
    void writeCommandPage(const unsigned char* bytes, unsigned count, unsigned offset = 0)
    {
        ASSERT_TRUE(mgr().command_page.pc_write(offset, bytes, count));
    }
    // A whole page (kCmdPageSize bytes) written, then run by its strobe.
    void runCommandPage(const unsigned char* page)
    {
        writeCommandPage(page, fpga_manage::kCmdPageSize);
        mgr().Dealwith_mcu_ram();
    }
    unsigned char commandPageByte(unsigned offset)
    {
        unsigned char b = 0;
        EXPECT_TRUE(mgr().command_page.pc_read(offset, &b, 1));
        return b;
    }
};
