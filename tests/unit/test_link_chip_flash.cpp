// The PC's flash commands for the c331 chip's serial flash (selector 4)
// and the font reload of register 0x0E, over the dispatcher.
#include "support/link_fixture.h"

#include "core/zdrrampara.h"
#include "sim/board.h"
#include "sim/c331_chip.h"
#include "videochip/c331_drv.h"
#include "videochip/c331_manage.h"

#include <gtest/gtest.h>

namespace {

using pcclient::Bytes;

Bytes eraseRequest(unsigned selector, unsigned type, unsigned sector, unsigned count)
{
    return {static_cast<unsigned char>(selector), static_cast<unsigned char>(type),
            static_cast<unsigned char>(sector), static_cast<unsigned char>(sector >> 8),
            static_cast<unsigned char>(count), static_cast<unsigned char>(count >> 8)};
}

Bytes rangeRequest(unsigned selector, uint32_t address, unsigned length)
{
    return {static_cast<unsigned char>(selector), static_cast<unsigned char>(address),
            static_cast<unsigned char>(address >> 8), static_cast<unsigned char>(address >> 16),
            static_cast<unsigned char>(length), static_cast<unsigned char>(length >> 8)};
}

Bytes writeRequest(uint32_t address, const Bytes& data, unsigned selector = 4)
{
    Bytes b = rangeRequest(selector, address, static_cast<unsigned>(data.size()));
    b.reserve(b.size() + data.size());
    for (unsigned char byte : data)
        b.push_back(byte);
    return b;
}

} // namespace

class ChipFlashLink : public LinkTest {
protected:
    void SetUp() override
    {
        LinkTest::SetUp();
        m = new c331_manage();
        m->c331_fd = m->drv->initialize();
        ASSERT_GE(m->c331_fd, 0);
        m->load_system_param();
        m->define_param();
        c331_manage::p_c331_manage = m;
        chip().clearFlashOps();
    }
    void TearDown() override
    {
        chip().setFlashStuck(false);
        c331_manage::p_c331_manage = nullptr;
        delete m;
        c331_manage::font_status = 0;
        LinkTest::TearDown();
    }
    sim::C331ChipModel& chip() { return sim::Board::instance().c331(); }
    pcclient::Reply erase(unsigned type, unsigned sector, unsigned count, unsigned selector = 4)
    {
        return callProcessor(link_frame::kEraseFlash, eraseRequest(selector, type, sector, count));
    }
    pcclient::Reply read(uint32_t address, unsigned length, unsigned selector = 4)
    {
        return callProcessor(link_frame::kReadFlash, rangeRequest(selector, address, length));
    }

    c331_manage* m = nullptr;
};

TEST_F(ChipFlashLink, EraseWriteAndReadRoundTripThroughTheChipFlash)
{
    Bytes data(700);
    for (size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<unsigned char>(i ^ 0x5A);
    EXPECT_EQ(erase(2, 0x100, 1).status, link_frame::kOk);     // 64 KiB at 0x100000
    EXPECT_EQ(callProcessor(link_frame::kWriteFlash, writeRequest(0x100010, data)).status, link_frame::kOk);
    const pcclient::Reply r = read(0x100010, 700);
    ASSERT_EQ(r.status, link_frame::kOk);
    EXPECT_EQ(r.data, data);
    EXPECT_EQ(chip().flashRead(0x100010, 700), std::vector<uint8_t>(data.begin(), data.end()));

    // Count 0 is one unit; a 32 KiB erase from sector 0x108 clears 0x108000.
    chip().clearFlashOps();
    EXPECT_EQ(erase(1, 0x108, 0).status, link_frame::kOk);
    const auto ops = chip().flashOps();
    ASSERT_EQ(ops.size(), 1u);
    EXPECT_EQ(ops[0].address, 0x108000u);
    EXPECT_EQ(ops[0].length, 0x8000u);
}

TEST_F(ChipFlashLink, RangesAndShapesThatDoNotFitAreRefusedAndChangeNothing)
{
    // Erase: type, alignment of the block sizes, the end of the flash.
    EXPECT_EQ(erase(3, 0, 1).status, link_frame::kRefused);
    EXPECT_EQ(erase(1, 4, 1).status, link_frame::kRefused);
    EXPECT_EQ(erase(2, 8, 1).status, link_frame::kRefused);
    EXPECT_EQ(erase(0, 0x1FFF, 2).status, link_frame::kRefused);
    EXPECT_EQ(erase(2, 0x1FF0, 2).status, link_frame::kRefused);
    EXPECT_EQ(erase(2, 0xFFF0, 0xFFFF).status, link_frame::kRefused);     // would wrap in 32 bits
    EXPECT_TRUE(chip().flashOps().empty());
    EXPECT_EQ(erase(0, 0x1FFF, 1).status, link_frame::kOk);             // the last sector fits

    // Write: the length must match the data, be at least 1.
    Bytes w = writeRequest(0x200000, Bytes(10, 0));
    w.pop_back();
    EXPECT_EQ(callProcessor(link_frame::kWriteFlash, w).status, link_frame::kRefused);
    w = writeRequest(0x200000, Bytes(10, 0));
    w.push_back(0);
    EXPECT_EQ(callProcessor(link_frame::kWriteFlash, w).status, link_frame::kRefused);
    EXPECT_EQ(callProcessor(link_frame::kWriteFlash, rangeRequest(4, 0x200000, 0)).status, link_frame::kRefused);
    EXPECT_EQ(callProcessor(link_frame::kWriteFlash, Bytes{4, 0, 0}).status, link_frame::kRefused);

    // Read: 1 to 4096 bytes.
    EXPECT_EQ(read(0x200000, 0).status, link_frame::kRefused);
    EXPECT_EQ(read(0x200000, 4097).status, link_frame::kRefused);
    EXPECT_EQ(read(0xFFFF00, 4096).status, link_frame::kOk);
    EXPECT_EQ(callProcessor(link_frame::kReadFlash, Bytes{4, 0, 0, 0, 1}).status, link_frame::kRefused);
    EXPECT_TRUE(chip().flashOps().size() == 1u);     // only the erase that fitted

    // Flashes other than the chip's are not served by these commands.
    EXPECT_EQ(erase(0, 0, 1, 0).status, link_frame::kNotAvailable);
    EXPECT_EQ(read(0, 16, 2).status, link_frame::kNotAvailable);
    EXPECT_EQ(callProcessor(link_frame::kWriteFlash, writeRequest(0, Bytes(4, 0), 1)).status,
              link_frame::kNotAvailable);
}

TEST_F(ChipFlashLink, AFlashThatDoesNotFinishIsReportedAsFailed)
{
    chip().setFlashStuck(true);
    EXPECT_EQ(erase(0, 0x300, 1).status, link_frame::kFailed);
    EXPECT_EQ(callProcessor(link_frame::kWriteFlash, writeRequest(0x300000, Bytes(4, 0))).status,
              link_frame::kFailed);
    EXPECT_EQ(read(0x300000, 4).status, link_frame::kFailed);
    EXPECT_EQ(callProcessor(link_frame::kWriteRegister, Bytes{0x0E, 0, 0xFF, 0x08}).status,
              link_frame::kFailed);
}

TEST_F(ChipFlashLink, Register0EBit3ReadsTheFontHeadersAndLoadsTheFonts)
{
    chip().flashErase(0x450000, 0x1000);
    c331_manage::font_status = 0;
    EXPECT_EQ(callProcessor(link_frame::kWriteRegister, Bytes{0x0E, 0, 0xFF, 0x01}).status, link_frame::kOk);
    EXPECT_EQ(c331_manage::font_status.load(), 0);
    EXPECT_EQ(callProcessor(link_frame::kWriteRegister, Bytes{0x0E, 0, 0xFF, 0x08}).status, link_frame::kOk);
    EXPECT_EQ(c331_manage::font_status.load(), 0x0B);
    EXPECT_EQ(store->run_status[43] & 0x3F, 0x17);
    size_t dmas = 0;
    for (const auto& op : chip().flashOps())
        dmas += op.kind == 'D';
    EXPECT_EQ(dmas, 4u);
}

TEST_F(ChipFlashLink, WithoutTheChipTheCommandsAreNotAvailable)
{
    c331_manage::p_c331_manage = nullptr;
    EXPECT_EQ(erase(0, 0, 1).status, link_frame::kNotAvailable);
    EXPECT_EQ(read(0, 16).status, link_frame::kNotAvailable);
    c331_manage::p_c331_manage = m;
}
