// The simulated FPGAs and their flashes as a driver sees them on the bus,
// and through the control channel.
#include "support/board_clock.h"
#include "support/sim_board_test.h"

#include "sim/board.h"
#include "sim/control_channel.h"
#include "sim/fpga_model.h"
#include "sim/phys_mem.h"
#include "sim/spi_bus.h"

#include <chrono>
#include <vector>

namespace {

class SimFpga : public SimBoardTest {
protected:
    sim::PhysMemModel& mem() { return sim::Board::instance().mem(); }
    sim::FpgaBoard& board() { return sim::Board::instance().fpga(); }
    void pad(uint32_t offset, bool high) { mem().write16(sim::PhysMemModel::kRiuBase + offset, high ? 0x10 : 0); }

    // One message on a node; the received bytes.
    std::vector<uint8_t> send(int node, std::vector<uint8_t> tx)
    {
        std::vector<uint8_t> rx(tx.size(), 0);
        sim::Board::instance().spi().message(sim::kFpgaNodes[node], {tx.data()}, {rx.data()},
                                             {static_cast<uint32_t>(tx.size())}, {10000000});
        return rx;
    }
    // A whole FPGA 0 transaction as the driver makes it.
    std::vector<uint8_t> fpga0(std::vector<uint8_t> word, std::vector<uint8_t> data)
    {
        pad(0x207838, true);
        pad(0x207810, false);
        send(0, word);
        pad(0x207838, false);
        std::vector<uint8_t> rx = send(0, data);
        pad(0x207810, true);
        return rx;
    }
    uint8_t readReg0(unsigned r) { return fpga0({0x05, 0, static_cast<uint8_t>(r), 0}, {0xFF})[0]; }
    std::string control(const std::string& line) { return sim::Board::instance().control().execute(line); }
};

TEST_F(SimFpga, RegistersApplyMasksTriggersAndLiveBits)
{
    EXPECT_EQ(readReg0(31), sim::FpgaModel::kVersion[3]);
    fpga0({0x04, 0, 23, 0x0F}, {0xFF});
    fpga0({0x04, 0, 23, 0xF0}, {0x50});
    EXPECT_EQ(readReg0(23), 0x5F);
    // Trigger bits act once and read back clear.
    fpga0({0x04, 0, 2, 0x09}, {0x09});
    EXPECT_EQ(readReg0(2), 0x08);
    EXPECT_EQ(board().fpga(0).counters().pageApplies, 1u);
    // The version is read-only.
    fpga0({0x04, 0, 31, 0xFF}, {0x99});
    EXPECT_EQ(readReg0(31), sim::FpgaModel::kVersion[3]);
    // Lock follows the two init steps, the link also the output enable.
    EXPECT_EQ(readReg0(22) & 0x90, 0x00);
    EXPECT_EQ(readReg0(40) & 0x1C, 0x00);
    fpga0({0x04, 0, 3, 0xC0}, {0xC0});
    EXPECT_EQ(readReg0(22) & 0x90, 0x90);   // 23 bit 0 set above
    EXPECT_EQ(readReg0(40) & 0x1C, 0x1C);
    board().fpga(0).setFault(sim::FpgaModel::Fault::NoLink);
    EXPECT_EQ(readReg0(22) & 0x90, 0x10);
    // Port links.
    board().fpga(0).setPortLink(1, true);
    board().fpga(0).setPortLink(9, true);
    EXPECT_EQ(readReg0(128), 0x02);
    EXPECT_EQ(readReg0(144), 0x02);
}

TEST_F(SimFpga, RamBlocksAndTheInputMeasurement)
{
    fpga0({0x02, 7, 0xFE, 0x0F}, {1, 2, 3});   // address 0xFFE wraps in the block
    EXPECT_EQ(board().fpga(0).ram(7, 0xFFE, 3), std::vector<uint8_t>({1, 2, 3}));
    EXPECT_EQ(fpga0({0x03, 7, 0xFF, 0x0F}, {0xFF, 0xFF}), std::vector<uint8_t>({2, 3}));
    // The FPGA keeps its measurement in block 1 even over a page write.
    fpga0({0x02, 1, 116, 0}, std::vector<uint8_t>(8, 0));
    std::vector<uint8_t> m = fpga0({0x03, 1, 116, 0}, std::vector<uint8_t>(8, 0xFF));
    EXPECT_EQ(m[0] | (m[1] << 8), 1920);
    EXPECT_EQ(m[2] | (m[3] << 8), 1080);
    EXPECT_EQ(m[4] | (m[5] << 8) | (m[6] << 16) | (m[7] << 24), 833333);
    EXPECT_EQ(control("fpga-input 0 none"), "ok\n");
    EXPECT_EQ(control("fpga-ram 0 1 116 4"), "00000000\nok\n");
}

TEST_F(SimFpga, ListensOnlyWhenSelectedOutOfResetAndNotOnItsFlash)
{
    pad(0x207838, true);
    send(0, {0x05, 0, 31, 0});   // select high: nobody hears
    EXPECT_EQ(sim::Board::instance().spi().unheardCount(sim::kFpgaNodes[0]), 1u);
    EXPECT_EQ(board().fpga(0).counters().commands, 0u);

    // Data without a command word is a protocol error.
    pad(0x207838, false);
    pad(0x207810, false);
    send(0, {0xFF});
    EXPECT_EQ(board().fpga(0).counters().protocolErrors, 1u);
    pad(0x207810, true);

    // Reset: power-on values, nothing answers, a boot when released.
    fpga0({0x04, 0, 23, 0xFF}, {0x77});
    pad(0x207858, false);
    EXPECT_TRUE(board().fpga(0).inReset());
    EXPECT_EQ(readReg0(31), 0xFF);
    pad(0x207858, true);
    EXPECT_EQ(readReg0(23), 0x00);
    EXPECT_EQ(board().fpga(0).counters().resets, 1u);

    // FPGA 1 needs both command lines for a command word.
    pad(0x207900, false);
    pad(0x20794C, true);
    pad(0x207954, false);
    send(1, {0x05, 0, 31, 0});
    EXPECT_EQ(board().fpga(1).counters().commands, 0u);
    pad(0x207900, true);

    // A dead FPGA never answers.
    EXPECT_EQ(control("fpga-fault 0 dead"), "ok\n");
    EXPECT_EQ(readReg0(31), 0xFF);
    EXPECT_EQ(control("fpga-fault 0 none"), "ok\n");
    EXPECT_EQ(readReg0(31), sim::FpgaModel::kVersion[3]);
}

class SimFpgaFlash : public SimFpga {
protected:
    void selectFlash2(bool on)
    {
        pad(0x207810, !on);
        pad(0x207860, !on);
    }
    std::vector<uint8_t> flash2(std::vector<uint8_t> tx)
    {
        selectFlash2(true);
        std::vector<uint8_t> rx = send(2, tx);
        selectFlash2(false);
        return rx;
    }
    // Until the running program or erase has ended (an erase takes up to
    // 200 ms of board time).
    void waitReady()
    {
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while ((flash2({0x05, 0xFF})[1] & 1) && std::chrono::steady_clock::now() < until) {
        }
    }
};

TEST_F(SimFpgaFlash, ProgramNeedsWriteEnableAndWrapsInItsPage)
{
    flash2({0x02, 0x00, 0x01, 0xFE, 0x11, 0x22});
    EXPECT_EQ(board().flash(2).counters().refused, 1u);
    EXPECT_EQ(board().flash(2).peek(0x1FE, 1)[0], 0xFF);

    flash2({0x06});
    EXPECT_EQ(flash2({0x05, 0xFF})[1], 0x02);   // write enabled, idle
    {
        // The board's clock slowed down a hundred times: 500 us of program
        // time last 50 ms here.
        BoardClockSpeed slow(0.01);
        const uint64_t start = sim::SimClock::instance().nowUs();
        flash2({0x02, 0x00, 0x01, 0xFE, 0x11, 0x22, 0x33, 0x44});
        EXPECT_EQ(board().flash(2).peek(0x1FE, 2), std::vector<uint8_t>({0x11, 0x22}));
        EXPECT_EQ(board().flash(2).peek(0x100, 2), std::vector<uint8_t>({0x33, 0x44})) << "no wrap inside the page";
        EXPECT_EQ(board().flash(2).peek(0x200, 1)[0], 0xFF);
        // Busy for the page's program time (0.5 ms), then idle with write
        // enable gone.
        EXPECT_EQ(flash2({0x05, 0xFF})[1] & 1, 1);
        while (flash2({0x05, 0xFF})[1] & 1) {
        }
        EXPECT_GE(sim::SimClock::instance().nowUs() - start, 500u);
        EXPECT_FALSE(board().flash(2).writeEnabled());
    }

    // Program ANDs; a 32 KiB erase clears its aligned unit.
    flash2({0x06});
    flash2({0x02, 0x00, 0x01, 0xFE, 0xF0});
    waitReady();
    EXPECT_EQ(board().flash(2).peek(0x1FE, 1)[0], 0x10);
    board().flash(2).poke(0x8000, {0x00});
    flash2({0x06});
    flash2({0x52, 0x00, 0x7F, 0xFF});
    waitReady();
    EXPECT_EQ(board().flash(2).peek(0x1FE, 1)[0], 0xFF);
    EXPECT_EQ(board().flash(2).peek(0x8000, 1)[0], 0x00);

    // Fast read with its dummy byte, and the unique id after four dummies.
    std::vector<uint8_t> rd = flash2({0x0B, 0x00, 0x80, 0x00, 0x00, 0xFF, 0xFF});
    EXPECT_EQ(rd[5], 0x00);
    EXPECT_EQ(rd[6], 0xFF);
    std::vector<uint8_t> id = flash2({0x4B, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0});
    const auto uid = board().flash(2).uniqueId();
    EXPECT_TRUE(std::equal(uid.begin(), uid.end(), id.begin() + 5));
}

TEST_F(SimFpgaFlash, ContentsPersistAcrossABoardResetAndFaultsHold)
{
    EXPECT_EQ(control("flash-write 3 0x6C7000 AA0102"), "ok\n");
    EXPECT_EQ(control("flash-read 3 0x6C7000 4"), "aa0102ff\nok\n");
    flash2({0x06});
    flash2({0x20, 0x00, 0x00, 0x00});   // erase sector 0 of flash 2 through the bus
    board().flash(2).poke(0x10, {0x42});
    sim::Board::instance().reset(root());
    EXPECT_EQ(sim::Board::instance().fpga().flash(3).peek(0x6C7000, 4), std::vector<uint8_t>({0xAA, 1, 2, 0xFF}));
    EXPECT_EQ(sim::Board::instance().fpga().flash(2).peek(0x10, 1)[0], 0x42);

    EXPECT_EQ(control("flash-busy 2 stuck"), "ok\n");
    for (int i = 0; i < 20; ++i)
        EXPECT_EQ(flash2({0x05, 0xFF})[1] & 1, 1);
    EXPECT_EQ(control("flash-busy 2 normal"), "ok\n");
    EXPECT_EQ(flash2({0x05, 0xFF})[1] & 1, 0);
    EXPECT_EQ(control("flash-uid 3 0102030405060708"), "0102030405060708\nok\n");
    EXPECT_EQ(control("fpga-reg 1 31"), "0x24\nok\n");
    EXPECT_EQ(control("fpga-link 1 all up"), "ok\n");
    EXPECT_EQ(control("fpga-reg 1 144"), "0xFF\nok\n");
    EXPECT_EQ(control("fpga-link 1 3 down"), "ok\n");
    EXPECT_EQ(control("fpga-reg 1 128"), "0xF7\nok\n");
    EXPECT_NE(control("fpga-fault 2 dead").find("error"), std::string::npos);
    EXPECT_NE(control("flash-read 4 0 1").find("error"), std::string::npos);
}

} // namespace
