// The FPGA SPI layer: command words, the GPIO line order of a transaction
// and the SPI-NOR operations, seen byte for byte on a recording bus, and
// the same operations against the simulated flashes.
#include "support/board_clock.h"
#include "support/fpga_fixture.h"

#include "core/utils.h"
#include "sim/board.h"
#include "sim/control_channel.h"
#include "sim/phys_mem.h"
#include "sim/spi_bus.h"

#include <atomic>
#include <cstdio>
#include <thread>
#include <mutex>
#include <string>
#include <vector>

namespace {

std::string hex(const std::vector<uint8_t>& bytes, size_t max = 8)
{
    std::string s;
    char b[4];
    for (size_t i = 0; i < bytes.size() && i < max; ++i) {
        std::snprintf(b, sizeof(b), "%02X", bytes[i]);
        s += b;
    }
    return s;
}

// One log of everything on the wires: pad changes and whole messages.
struct WireLog {
    std::mutex mutex;
    std::vector<std::string> events;
    void add(const std::string& e)
    {
        std::lock_guard<std::mutex> lock(mutex);
        events.push_back(e);
    }
};

// Stands in for an FPGA or a flash: records every message; a flash's status
// reads answer "ready" unless told it stays busy.
class Recorder : public sim::SpiDevice {
public:
    Recorder(std::string name, WireLog& log) : name_(std::move(name)), log_(log) {}

    void transfer(const uint8_t* tx, uint8_t* rx, uint32_t len, uint32_t speedHz) override
    {
        for (uint32_t i = 0; i < len; ++i) {
            const size_t pos = current_.size();
            current_.push_back(tx[i]);
            if (rx)
                rx[i] = (current_[0] == 0x05 && pos >= 1) ? (busy ? 0x01 : 0x00) : static_cast<uint8_t>(pos);
        }
        speeds.push_back(speedHz);
    }
    void endMessage() override
    {
        log_.add("msg " + name_ + " " + hex(current_) + (current_.size() > 8 ? "+" + std::to_string(current_.size()) : ""));
        messages.push_back(current_);
        current_.clear();
    }

    std::vector<std::vector<uint8_t>> messages;
    std::vector<uint32_t> speeds;
    bool busy = false;

private:
    std::string name_;
    WireLog& log_;
    std::vector<uint8_t> current_;
};

class FpgaWires : public FpgaTest {
protected:
    void SetUp() override
    {
        FpgaTest::SetUp();
        sim::SpiBusModel& bus = sim::Board::instance().spi();
        for (int i = 0; i < 4; ++i) {
            rec[i] = std::make_shared<Recorder>(std::string(".") + std::to_string(i + 1), log);
            bus.attach(sim::kFpgaNodes[i], rec[i]);
        }
        const unsigned pads[] = {kFpga0SelectPad,  kFpga1SelectPad, kFpga0CommandPad, kFpga1CommandPadA,
                                 kFpga1CommandPadB, kFpga0FlashPad,  kFpga1FlashPadA,  kFpga1FlashPadB};
        for (unsigned pad : pads) {
            char name[16];
            std::snprintf(name, sizeof(name), "%06X", pad);
            const std::string n = name;
            sim::Board::instance().mem().onWrite(sim::PhysMemModel::kRiuBase + pad, [this, n](uint16_t v) {
                log.add("pad " + n + (v & 0x10 ? " H" : " L"));
            });
        }
    }

    WireLog log;
    std::shared_ptr<Recorder> rec[4];
};

TEST(FpgaCommandWord, RegisterAndRamWordsCarryTheirFields)
{
    // Register read: 0x05, register in bits 16-23, no mask.
    EXPECT_EQ(fpga_manage::fpga_reg_cmd_to_spi_data(2, 0, 22, 1, 0xFF), 0x00160005u);
    // Register write of register 3 with mask 0x40: bytes 04 00 03 40.
    EXPECT_EQ(fpga_manage::fpga_reg_cmd_to_spi_data(2, 0, 3, 0, 0x40), 0x40030004u);
    // RAM write to block 50 at 0x010; RAM read sets bit 0.
    EXPECT_EQ(fpga_manage::fpga_cmd_to_spi_data(1, 50, 0x010, 0), 0x00103202u);
    EXPECT_EQ(fpga_manage::fpga_cmd_to_spi_data(1, 1, 116, 1), 0x00740103u);
    // Only the low 12 bits of a RAM address are carried: 0x1234 -> 0x234.
    EXPECT_EQ(fpga_manage::fpga_cmd_to_spi_data(1, 5, 0x1234, 0), 0x02340502u);
}

TEST_F(FpgaWires, RegisterReadOfFpga0DrivesTheLinesInOrder)
{
    log.events.clear();
    unsigned char v = 0;
    ASSERT_EQ(mgr().read_fpga_register(3, &v, 0), 1);
    const std::vector<std::string> expected = {
        "pad 207838 H", "pad 207810 L", "pad 207900 H", "msg .1 05000300", "pad 207838 L",
        "msg .1 FF",    "pad 207810 H", "pad 207900 H",
    };
    EXPECT_EQ(log.events, expected);
    EXPECT_EQ(v, 0x00);   // the recorder answers position 0
    for (uint32_t s : rec[0]->speeds)
        EXPECT_EQ(s, 10000000u);
}

TEST_F(FpgaWires, MaskedRegisterWriteOfFpga1SendsWordThenValue)
{
    log.events.clear();
    ASSERT_EQ(mgr().write_fpga_register(3, 0x40, 1, 0x40), 1);
    const std::vector<std::string> expected = {
        "pad 20794C H", "pad 207954 H", "pad 207900 L", "pad 207810 H", "msg .2 04000340",
        "pad 20794C L", "pad 207954 L", "msg .2 40",    "pad 207810 H", "pad 207900 H",
    };
    EXPECT_EQ(log.events, expected);
}

TEST_F(FpgaWires, RamAccessFoldsTheAddressAndMovesTheData)
{
    const unsigned char data[3] = {0xA1, 0xB2, 0xC3};
    ASSERT_EQ(mgr().write_fpga_ram(data, 0x1234, 3, 5, 0), 1);
    ASSERT_EQ(rec[0]->messages.size(), 2u);
    EXPECT_EQ(hex(rec[0]->messages[0]), "02053402");
    EXPECT_EQ(hex(rec[0]->messages[1]), "A1B2C3");

    unsigned char in[4] = {};
    ASSERT_EQ(mgr().read_fpga_ram(in, 116, 4, 1, 1), 1);
    ASSERT_EQ(rec[1]->messages.size(), 2u);
    EXPECT_EQ(hex(rec[1]->messages[0]), "03017400");
    EXPECT_EQ(hex(rec[1]->messages[1]), "FFFFFFFF");   // clocked out as 0xFF
    EXPECT_EQ(hex(std::vector<uint8_t>(in, in + 4)), "00010203");

    // Nothing is sent for an empty or over-long transfer.
    EXPECT_EQ(mgr().write_fpga_ram(data, 0, 0, 1, 0), 0);
    EXPECT_EQ(mgr().read_fpga_ram(in, 0, 4097, 1, 0), 0);
    EXPECT_EQ(rec[0]->messages.size(), 2u);
}

TEST_F(FpgaWires, FlashProgramAt0x1F0IsSplitAtPageBoundaries)
{
    std::vector<unsigned char> buffer(4 + 300);
    for (int k = 0; k < 300; ++k)
        buffer[4 + k] = static_cast<unsigned char>(k);
    log.events.clear();
    ASSERT_EQ(mgr().drv->FPGA_SPI_FLASH_VBYONE_WRITE(2, 0x1F0, buffer.data(), 300), 1);

    const auto& m = rec[2]->messages;
    ASSERT_EQ(m.size(), 9u);
    const uint32_t starts[3] = {0x1F0, 0x200, 0x300};
    const size_t sizes[3] = {16, 256, 28};
    size_t k = 0;
    for (int piece = 0; piece < 3; ++piece) {
        EXPECT_EQ(hex(m[3 * piece]), "06");
        const std::vector<uint8_t>& p = m[3 * piece + 1];
        ASSERT_EQ(p.size(), sizes[piece] + 4);
        EXPECT_EQ(p[0], 0x02);
        EXPECT_EQ((p[1] << 16) | (p[2] << 8) | p[3], static_cast<int>(starts[piece]));
        for (size_t j = 0; j < sizes[piece]; ++j, ++k)
            ASSERT_EQ(p[4 + j], static_cast<uint8_t>(k)) << "piece " << piece << " byte " << j;
        EXPECT_EQ(hex(m[3 * piece + 2]), "05FF");
    }
    // The flash is reached through FPGA 0's select and flash lines only.
    EXPECT_EQ(log.events.front(), "pad 207900 H");
    EXPECT_EQ(log.events[1], "pad 207810 L");
    EXPECT_EQ(log.events[2], "pad 207860 L");
    EXPECT_EQ(log.events[log.events.size() - 3], "pad 207860 H");
    EXPECT_TRUE(rec[0]->messages.empty());
    EXPECT_TRUE(rec[3]->messages.empty());
}

TEST_F(FpgaWires, A5000ByteReadGoesOutAsThreeTransfers)
{
    std::vector<unsigned char> dest(5000, 0xEE);
    ASSERT_EQ(mgr().drv->FPGA_SPI_FLASH_VBYONE_READ(3, 0x10000, 5000, dest.data()), 1);
    const auto& m = rec[3]->messages;
    ASSERT_EQ(m.size(), 3u);
    EXPECT_EQ(m[0].size(), 2053u);
    EXPECT_EQ(m[1].size(), 2053u);
    EXPECT_EQ(m[2].size(), 909u);
    EXPECT_EQ(hex(m[0], 5), "0B010000FF");
    EXPECT_EQ(hex(m[1], 5), "0B010800FF");
    EXPECT_EQ(hex(m[2], 5), "0B011000FF");
    // The data are the received bytes from the sixth on (the recorder
    // answers each byte's position).
    EXPECT_EQ(dest[0], 5);
    EXPECT_EQ(dest[2048], 5);
    EXPECT_EQ(dest[4999], static_cast<uint8_t>(5 + 903));
}

TEST_F(FpgaWires, FlashBoundsAreCheckedWithoutWrapAround)
{
    fpga_drv& d = *mgr().drv;
    std::vector<unsigned char> buf(4 + 0x200, 0);
    // The last byte of the flash is accepted, one more is refused.
    EXPECT_EQ(d.FPGA_SPI_FLASH_VBYONE_WRITE(2, 0x7FFFFF, buf.data(), 1), 1);
    EXPECT_EQ(d.FPGA_SPI_FLASH_VBYONE_READ(2, 0x7FFFFF, 1, buf.data()), 1);
    const size_t sent = rec[2]->messages.size();
    EXPECT_EQ(d.FPGA_SPI_FLASH_VBYONE_WRITE(2, 0x7FFFFF, buf.data(), 2), 0);
    EXPECT_EQ(d.FPGA_SPI_FLASH_VBYONE_READ(2, 0x800000, 1, buf.data()), 0);
    EXPECT_EQ(d.FPGA_SPI_FLASH_VBYONE_WRITE(2, 0, buf.data(), 0), 0);
    // Ranges whose end wraps past 32 bits.
    EXPECT_EQ(d.FPGA_SPI_FLASH_VBYONE_WRITE(2, 0xFFFFFF00u, buf.data(), 0x200), 0);
    EXPECT_EQ(d.FPGA_SPI_FLASH_VBYONE_READ(2, 0xFFFFFFFFu, 2, buf.data()), 0);
    EXPECT_EQ(d.FPGA_SPI_FLASH_VBYONE_ERASE(2, 0, 2, 0x10000000u), 0);   // 16 x count wraps to 0
    EXPECT_EQ(d.FPGA_SPI_FLASH_VBYONE_ERASE(2, 0xFFFFFFFFu, 0, 1), 0);
    // One 64 KiB block from sector 2032 ends at 2048; from 2033 it does not fit.
    EXPECT_EQ(d.FPGA_SPI_FLASH_VBYONE_ERASE(2, 2033, 2, 1), 0);
    EXPECT_EQ(d.FPGA_SPI_FLASH_VBYONE_ERASE(2, 0, 3, 1), 0);
    EXPECT_EQ(rec[2]->messages.size(), sent) << "a refused operation sent something";
    EXPECT_EQ(d.FPGA_SPI_FLASH_VBYONE_ERASE(2, 2032, 2, 1), 1);
    // busy poll, write enable, busy poll, erase 0xD8 at 0x7F0000, busy poll
    ASSERT_EQ(rec[2]->messages.size(), sent + 5);
    EXPECT_EQ(hex(rec[2]->messages[sent + 1]), "06");
    EXPECT_EQ(hex(rec[2]->messages[sent + 3]), "D87F0000");
}

TEST_F(FpgaWires, AFlashThatStaysBusyOrAFailedTransferReportsFailure)
{
    fpga_drv& d = *mgr().drv;
    rec[2]->busy = true;
    std::vector<unsigned char> buf(4 + 16, 0);
    // write enable, the page, then status reads for the page's 10 ms
    const uint64_t start = sim::SimClock::instance().nowUs();
    EXPECT_EQ(d.FPGA_SPI_FLASH_VBYONE_WRITE(2, 0, buf.data(), 16), 0);
    EXPECT_GE(sim::SimClock::instance().nowUs() - start, 10000u);
    EXPECT_GT(rec[2]->messages.size(), 3u);
    for (size_t k = 2; k < rec[2]->messages.size(); ++k)
        ASSERT_EQ(hex(rec[2]->messages[k]), "05FF") << k;
    {
        BoardClockSpeed fast(200);
        EXPECT_EQ(d.FPGA_SPI_FLASH_VBYONE_ERASE(2, 0, 0, 1), 0);
    }

    // A node without a device: every transfer fails.
    sim::Board::instance().spi().detach(sim::kFpgaNodes[3]);
    unsigned char id[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    EXPECT_EQ(d.FPGA_SPI_FLASH_VBYONE_READ(3, 0, 16, buf.data()), 0);
    EXPECT_EQ(d.FPGA_SPI_FLASH_VBYONE_WRITE(3, 0, buf.data(), 16), 0);
    EXPECT_EQ(d.FPGA_SPI_FLASH_SSTF016B_RD_UID(3, id), 0);
    EXPECT_EQ(id[0], 1) << "a failed id read changed the caller's bytes";
    sim::Board::instance().spi().detach(sim::kFpgaNodes[1]);
    unsigned char v = 0x5A;
    EXPECT_EQ(mgr().read_fpga_register(22, &v, 1), 0);
    EXPECT_EQ(v, 0x5A);
}

// A flash that stays busy holds only its own operation: between the polls
// of its busy wait the SPI bus is free for the video chip's and the FPGAs'
// transfers (taken here as they take it), for erases and programs alike.
TEST_F(FpgaWires, AFlashThatStaysBusyLeavesTheBusFreeBetweenItsPolls)
{
    fpga_drv& d = *mgr().drv;
    rec[2]->busy = true;
    BoardClockSpeed fast(20);   // the 4 s bound in 0.2 s
    for (const bool erase : {true, false}) {
        SCOPED_TRACE(erase ? "an erase" : "a page program");
        std::atomic<bool> done{false};
        std::vector<unsigned char> buf(4 + 16, 0);
        std::thread flash([&] {
            if (erase)
                d.FPGA_SPI_FLASH_VBYONE_ERASE(2, 0, 0, 1);
            else
                d.FPGA_SPI_FLASH_VBYONE_WRITE(2, 0, buf.data(), 16);
            done = true;
        });
        // Once the flash's operation held the bus, the bus is taken again
        // and again while it still waits.
        bool held = false;
        int taken = 0;
        while (!done) {
            if (!Utils::_spi_mutex.tryLock()) {
                held = true;
                continue;
            }
            Utils::_spi_mutex.unlock();
            if (held && !done)
                ++taken;
        }
        flash.join();
        EXPECT_GT(taken, 5) << "the bus stayed held across the busy wait";
    }
}

// ---- against the simulated flashes ------------------------------------

using FpgaFlash = FpgaTest;

TEST_F(FpgaFlash, ProgramEraseReadAndIdAgainstTheSimulatedFlash)
{
    fpga_drv& d = *mgr().drv;
    std::vector<unsigned char> buf(4 + 300);
    for (int k = 0; k < 300; ++k)
        buf[4 + k] = static_cast<unsigned char>(0x80 + k);
    ASSERT_EQ(d.FPGA_SPI_FLASH_VBYONE_WRITE(3, 0x1F0, buf.data(), 300), 1);
    std::vector<unsigned char> back(300);
    ASSERT_EQ(d.FPGA_SPI_FLASH_VBYONE_READ(3, 0x1F0, 300, back.data()), 1);
    for (int k = 0; k < 300; ++k)
        ASSERT_EQ(back[k], static_cast<unsigned char>(0x80 + k)) << k;
    EXPECT_EQ(flash(3).counters().programs, 3u);
    EXPECT_EQ(flash(2).peek(0x1F0, 1)[0], 0xFF) << "the other flash was written";

    // Programming only clears bits; an erase sets the whole sector to 0xFF.
    std::vector<unsigned char> one = {0, 0, 0, 0, 0x0F};
    ASSERT_EQ(d.FPGA_SPI_FLASH_VBYONE_WRITE(3, 0x1F0, one.data(), 1), 1);
    EXPECT_EQ(flash(3).peek(0x1F0, 1)[0], 0x80 & 0x0F);
    flash(3).poke(0x1000, {0x12});
    ASSERT_EQ(d.FPGA_SPI_FLASH_VBYONE_ERASE(3, 0, 0, 1), 1);
    EXPECT_EQ(flash(3).peek(0x1F0, 2), std::vector<uint8_t>({0xFF, 0xFF}));
    EXPECT_EQ(flash(3).peek(0x1000, 1)[0], 0x12) << "the erase reached the next sector";

    unsigned char id[8];
    ASSERT_EQ(d.FPGA_SPI_FLASH_SSTF016B_RD_UID(2, id), 1);
    const auto uid = flash(2).uniqueId();
    EXPECT_TRUE(std::equal(uid.begin(), uid.end(), id));
    EXPECT_NE(flash(2).uniqueId(), flash(3).uniqueId());

    // A flash that stays busy: the operation fails once its bound in time
    // has passed (a page: 10 ms).
    flash(2).setStuckBusy(true);
    const uint64_t before = flash(2).counters().statusReads;
    const uint64_t erasesBefore = flash(2).counters().erases;
    const uint64_t start = sim::SimClock::instance().nowUs();
    EXPECT_EQ(d.FPGA_SPI_FLASH_VBYONE_WRITE(2, 0, buf.data(), 8), 0);
    EXPECT_GE(sim::SimClock::instance().nowUs() - start, 10000u);
    EXPECT_GT(flash(2).counters().statusReads - before, 1u);
    {
        BoardClockSpeed fast(200);
        EXPECT_EQ(d.FPGA_SPI_FLASH_VBYONE_ERASE(2, 0, 0, 1), 0);
    }
    EXPECT_EQ(flash(2).counters().erases, erasesBefore);
}

} // namespace

namespace {

using FpgaLines = FpgaTest;

TEST_F(FpgaLines, InterruptInputsAreReadThroughTheWindow)
{
    EXPECT_EQ(mgr().fpga_irq_line(0), 0);
    model(1).setIrq(true);
    EXPECT_EQ(mgr().fpga_irq_line(0), 0);
    EXPECT_EQ(mgr().fpga_irq_line(1), 1);
    EXPECT_EQ(sim::Board::instance().control().execute("fpga-irq 0 on"), "ok\n");
    EXPECT_EQ(mgr().fpga_irq_line(0), 1);
}

TEST_F(FpgaLines, WithoutTheGpioWindowLineChangesAreSafeNoOps)
{
    fpga_manage::destroyForTest();
    sim::Board::instance().mem().setMsysFails(true);
    fpga_manage::createForTest(false);
    EXPECT_EQ(mgr().gpio_window, nullptr);
    mgr().release_select_lines();
    mgr().gpio_set(kFpga0SelectPad, kPadLow);
    EXPECT_TRUE(sim::Board::instance().mem().padHigh(kFpga0SelectPad));
    model(0).setIrq(true);
    EXPECT_EQ(mgr().fpga_irq_line(0), 0);
    // Without the lines no FPGA is selected: the bus reads idle, which is
    // no answer.
    unsigned char v = 0;
    EXPECT_EQ(mgr().read_fpga_register(31, &v, 0), 0);
    EXPECT_EQ(v, 0);
    EXPECT_EQ(model(0).counters().commands, 0u);
}

} // namespace
