// Register access of the c331 chip: the frames on the wire (bank cache,
// channel offsets, byte order, masked writes, clocks, FPGA select lines),
// and the simulated chip that answers them.
#include "support/board_clock.h"
#include "support/sim_board_test.h"

#include "platform/platform.h"
#include "sendcard/fpga_manage.h"
#include "sim/board.h"
#include "sim/c331_chip.h"
#include "sim/control_channel.h"
#include "sim/phys_mem.h"
#include "videochip/c331_drv.h"

#include <chrono>
#include <memory>
#include <thread>

namespace {

using Frame = sim::C331ChipModel::Frame;

class C331Drv : public SimBoardTest {
protected:
    void SetUp() override
    {
        SimBoardTest::SetUp();
        drv = std::make_unique<c331_drv>();
        fd = drv->initialize();
        ASSERT_GE(fd, 0);
        chip().clearFrames();
    }

    sim::C331ChipModel& chip() { return sim::Board::instance().c331(); }
    std::vector<Frame> frames() { return chip().frames(); }

    static void expectFrame(const Frame& f, uint8_t b0, uint8_t b1)
    {
        EXPECT_EQ(f.b0, b0);
        EXPECT_EQ(f.b1, b1);
    }

    std::unique_ptr<c331_drv> drv;
    int fd = -1;
};

TEST_F(C331Drv, NodeIsOpenedInMode3With8BitWordsAt10MHz)
{
    uint8_t mode = 0, bits = 0;
    uint32_t hz = 0;
    EXPECT_EQ(platform::spi().getMode(fd, mode), 0);
    EXPECT_EQ(platform::spi().getBitsPerWord(fd, bits), 0);
    EXPECT_EQ(platform::spi().getMaxSpeed(fd, hz), 0);
    EXPECT_EQ(mode, 3);
    EXPECT_EQ(bits, 8);
    EXPECT_EQ(hz, 10000000u);
}

TEST_F(C331Drv, BankSelectIsSentOnlyWhenTheBankChanges)
{
    drv->write_C331(fd, 0x0C2802, 0x1234, 0);
    drv->write_C331(fd, 0x0C2A02, 0x0001, 0);
    std::vector<Frame> f = frames();
    ASSERT_EQ(f.size(), 5u);
    expectFrame(f[0], 0x80, 0x0C);      // bank select
    expectFrame(f[1], 0xA8, 0x34);      // low byte first
    expectFrame(f[2], 0xA9, 0x12);
    expectFrame(f[3], 0xAA, 0x01);      // same bank: no select
    expectFrame(f[4], 0xAB, 0x00);

    // The same descriptor for channel 1 is 16 banks further; every change
    // of offset selects again.
    chip().clearFrames();
    drv->write_C331(fd, 0x0C2802, 7, 16);
    drv->write_C331(fd, 0x0C2802, 8, 0);
    f = frames();
    ASSERT_EQ(f.size(), 6u);
    expectFrame(f[0], 0x80, 0x1C);
    expectFrame(f[3], 0x80, 0x0C);
    EXPECT_EQ(chip().reg(0x0C2802, 16), 7u);
    EXPECT_EQ(chip().reg(0x0C2802), 8u);

    // After init_reg_acc_param the next access selects even the same bank.
    chip().clearFrames();
    drv->init_reg_acc_param();
    drv->read_C331(fd, 0x0C2801, 0);
    f = frames();
    ASSERT_EQ(f.size(), 2u);
    expectFrame(f[0], 0x80, 0x0C);
}

TEST_F(C331Drv, AWriteToAddressZeroMovesTheCachedBankWithTheChip)
{
    // Address 0 is the bank register of every bank.
    drv->write_C331(fd, 0xFF0001, 8, 0);
    drv->write_C331(fd, 0xFF0101, 5, 0);
    const std::vector<Frame> f = frames();
    ASSERT_EQ(f.size(), 4u);
    expectFrame(f[0], 0x80, 0xFF);
    expectFrame(f[1], 0x80, 0x08);
    expectFrame(f[2], 0x80, 0xFF);     // the chip is in bank 8 now: select again
    expectFrame(f[3], 0x81, 0x05);
    EXPECT_EQ(chip().reg(0xFF0101), 5u);
    EXPECT_EQ(chip().reg(0x080101), 0u);
}

TEST_F(C331Drv, TwoByteRegisterOnTheWire)
{
    drv->write_C331(fd, 0x334002, 0x1234, 0);
    chip().clearFrames();
    EXPECT_EQ(drv->read_C331(fd, 0x334002, 0), 0x1234u);
    const std::vector<Frame> f = frames();
    ASSERT_EQ(f.size(), 2u);
    expectFrame(f[0], 0x40, 0xFF);
    expectFrame(f[1], 0x41, 0xFF);
    // Writes at 10 MHz, reads at half that.
    EXPECT_EQ(f[0].speedHz, 5000000u);
    drv->write_C331(fd, 0x334001, 1, 0);
    EXPECT_EQ(frames().back().speedHz, 10000000u);
    EXPECT_EQ(frames().back().b0, 0xC0);
}

TEST_F(C331Drv, FourByteValuesAndCountZero)
{
    drv->write_C331(fd, 0x063804, 0x07060504, 0);
    EXPECT_EQ(chip().byte(0x06, 0x38), 0x04);
    EXPECT_EQ(chip().byte(0x06, 0x3B), 0x07);
    EXPECT_EQ(drv->read_C331(fd, 0x063804, 0), 0x07060504u);

    chip().clearFrames();
    drv->write_C331(fd, 0x077000, 0xFF, 0);
    EXPECT_EQ(drv->read_C331(fd, 0x077000, 0), 0u);
    const std::vector<Frame> f = frames();
    ASSERT_EQ(f.size(), 1u) << "a count of 0 sends at most the bank select";
    EXPECT_TRUE(f[0].bankSelect());
}

TEST_F(C331Drv, MaskedWriteKeepsTheOtherBits)
{
    drv->write_C331(fd, 0x0C2101, 0x3C, 0);
    drv->write_c331_mask(fd, 0x0C2101, 0xA5, 0x0F, 0);
    EXPECT_EQ(chip().reg(0x0C2101), 0x35u);
    drv->write_c331_mask(fd, 0x0C2101, 0xFF, 0x80, 16);
    EXPECT_EQ(chip().reg(0x0C2101, 16), 0x80u);
    EXPECT_EQ(chip().reg(0x0C2101), 0x35u);
}

TEST_F(C331Drv, EveryChipMessageGoesOutWithBothFpgaSelectLinesHigh)
{
    sim::PhysMemModel& mem = sim::Board::instance().mem();
    fpga_manage* fpga = fpga_manage::pInstance();
    fpga->gpio_window = platform::physMem().map(sim::PhysMemModel::kRiuBase, sim::PhysMemModel::kRiuLength);
    ASSERT_TRUE(fpga->gpio_window);
    // An FPGA access left a select line low.
    fpga->gpio_window->write16(kFpga0SelectPad, kPadLow);
    fpga->gpio_window->write16(kFpga1SelectPad, kPadLow);
    ASSERT_FALSE(mem.padHigh(kFpga0SelectPad));

    drv->write_C331(fd, 0x0C2802, 0x1234, 0);
    drv->read_C331(fd, 0x0C2802, 0);
    fpga->gpio_window.reset();

    const std::vector<Frame> f = frames();
    ASSERT_EQ(f.size(), 5u);
    for (const Frame& fr : f)
        EXPECT_TRUE(fr.selectsHigh);
    EXPECT_TRUE(mem.padHigh(kFpga0SelectPad));
    EXPECT_TRUE(mem.padHigh(kFpga1SelectPad));
}

TEST_F(C331Drv, ASilentChipReadsAsTheIdleBus)
{
    chip().setSilent(true);
    EXPECT_EQ(drv->read_C331(fd, 0xB20801, 0), 0xFFu);
    drv->write_C331(fd, 0x0C2802, 0x1234, 0);
    chip().setSilent(false);
    EXPECT_EQ(chip().reg(0x0C2802), 0u) << "writes to a silent chip are lost";
    EXPECT_EQ(drv->read_C331(fd, 0xB20801, 0), 0x24u);
}

// ---- the simulated chip -------------------------------------------------

class C331Model : public C331Drv {};

TEST_F(C331Model, IdentityLockAndChannelStatusModelTheHardware)
{
    EXPECT_EQ(drv->read_C331(fd, 0xB20801, 0), 0x24u);
    drv->write_C331(fd, 0xB20801, 0x11, 0);
    EXPECT_EQ(drv->read_C331(fd, 0xB20801, 0), 0x24u) << "the identity is read-only";
    EXPECT_EQ(drv->read_C331(fd, 0xB26301, 0) & 0xA0, 0xA0u) << "both V-by-One receivers locked";
    for (unsigned ch = 0; ch < 8; ++ch)
        EXPECT_EQ(drv->read_C331(fd, 0xA83F01 + 0x500 * ch, 0), 0xFFu) << "no input on channel " << ch;
}

TEST_F(C331Model, SyncStatusFollowsItsLatchAtTheNextFrameAndFieldPhasesCountFrames)
{
    // The board's clock ten times slower: a frame lasts 167 ms here.
    BoardClockSpeed slow(0.1);
    auto nextFrame = [this](uint64_t frame) {
        while (chip().frame() == frame)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    };
    uint64_t frame = chip().frame();
    drv->write_C331(fd, 0x050901, 0x05, 0);
    drv->write_C331(fd, 0x050801, 0x80, 0);
    if (chip().frame() == frame) {
        EXPECT_EQ(drv->read_C331(fd, 0x052301, 0), 0u) << "the output sync came before the next frame";
        EXPECT_EQ(drv->read_C331(fd, 0x052201, 0), 0u) << "the input sync came before the next frame";
    }
    nextFrame(frame);
    EXPECT_EQ(drv->read_C331(fd, 0x052301, 0), 0x05u);
    EXPECT_EQ(drv->read_C331(fd, 0x052201, 0), 0x80u);
    drv->write_C331(fd, 0x050901, 0, 0);
    EXPECT_EQ(drv->read_C331(fd, 0x052301, 0), 0u);

    frame = chip().frame();
    const unsigned first = drv->read_C331(fd, 0xAB4701, 0);
    for (unsigned i = 1; i < 16; ++i)
        EXPECT_EQ(drv->read_C331(fd, 0xAB4701 + 0x100 * i, 0), first);
    EXPECT_EQ((first >> 2) & 3, first & 3);
    EXPECT_EQ(first & 3, frame & 3);
    // The next frame moves every phase on by one.
    nextFrame(frame);
    EXPECT_EQ(drv->read_C331(fd, 0xAB4C01, 0) & 3, (first + 1) & 3);

    chip().setSyncStuck(true);
    drv->write_C331(fd, 0x050901, 1, 0);
    EXPECT_EQ(drv->read_C331(fd, 0x052301, 0), 0u);
}

TEST_F(C331Model, ControlCommandsShowAndChangeRegisters)
{
    sim::ControlChannel& c = sim::Board::instance().control();
    drv->write_C331(fd, 0x0C2802, 0x1FF, 32);
    EXPECT_EQ(c.execute("c331-reg 0C2802 20"), "0x01FF\nok\n");
    EXPECT_EQ(c.execute("c331-reg B20801"), "0x24\nok\n");
    EXPECT_EQ(c.execute("c331-set 0C2A02 BEEF"), "ok\n");
    EXPECT_EQ(drv->read_C331(fd, 0x0C2A02, 0), 0xBEEFu);
    const std::string dump = c.execute("c331-dump B2");
    EXPECT_NE(dump.find("00: 0C 00 00 00 00 00 00 00 24"), std::string::npos) << dump << "(address 0: the bank)";
    EXPECT_NE(c.execute("c331-log 2").find("R 0C2B -> BE"), std::string::npos);
    EXPECT_EQ(c.execute("c331-reg 0C2805").rfind("error", 0), 0u);
    EXPECT_EQ(c.execute("c331-silent on"), "ok\n");
    EXPECT_EQ(drv->read_C331(fd, 0xB20801, 0), 0xFFu);
    EXPECT_EQ(c.execute("c331-silent off"), "ok\n");
}

} // namespace
