// Flash partitions of the simulated board through the platform interface.
#include "support/sim_board_test.h"

#include "platform/platform.h"
#include "sim/board.h"
#include "sim/control_channel.h"
#include "sim/mtd_model.h"

#include <vector>

namespace {

using Fault = sim::MtdModel::Fault;
constexpr uint32_t kBlock = 0x20000;

class SimMtd : public SimBoardTest {
protected:
    void SetUp() override
    {
        SimBoardTest::SetUp();
        logo_ = platform::mtd().open("/dev/mtd8");
        ASSERT_GE(logo_, 0);
    }
    void TearDown() override
    {
        platform::mtd().close(logo_);
        SimBoardTest::TearDown();
    }
    std::vector<uint8_t> read(int fd, off_t offset, size_t size)
    {
        std::vector<uint8_t> data(size, 0x5A);
        EXPECT_EQ(platform::mtd().pread(fd, data.data(), size, offset), static_cast<ssize_t>(size));
        return data;
    }
    static bool all(const std::vector<uint8_t>& data, uint8_t value)
    {
        for (uint8_t b : data) {
            if (b != value)
                return false;
        }
        return true;
    }
    int logo_ = -1;
};

TEST_F(SimMtd, GeometryOfThePartitions)
{
    platform::MtdInfo info;
    ASSERT_EQ(platform::mtd().getInfo(logo_, info), 0);
    EXPECT_EQ(info.size, 0x100000u);
    EXPECT_EQ(info.erasesize, kBlock);
    EXPECT_EQ(info.writesize, 0x800u);

    const int kernel = platform::mtd().open("/dev/mtd10");
    ASSERT_GE(kernel, 0);
    ASSERT_EQ(platform::mtd().getInfo(kernel, info), 0);
    EXPECT_EQ(info.size, 0x500000u);
    EXPECT_EQ(info.erasesize, kBlock);
    EXPECT_EQ(platform::mtd().close(kernel), 0);
    EXPECT_EQ(platform::mtd().getInfo(kernel, info), -1) << "closed";

    EXPECT_EQ(platform::mtd().open("/dev/mtd3"), -1);
    EXPECT_EQ(platform::mtd().open("/data/app"), -1);
    EXPECT_EQ(platform::mtd().getInfo(12345, info), -1);
}

TEST_F(SimMtd, FreshPartitionReadsErasedAndReadsStopAtTheEnd)
{
    EXPECT_TRUE(all(read(logo_, 0, 0x100000), 0xFF));
    std::vector<uint8_t> tail(64, 0);
    EXPECT_EQ(platform::mtd().pread(logo_, tail.data(), tail.size(), 0x100000 - 16), 16);
    EXPECT_EQ(platform::mtd().pread(logo_, tail.data(), tail.size(), 0x100000), 0);
    EXPECT_EQ(platform::mtd().pread(logo_, tail.data(), tail.size(), -1), -1);
}

TEST_F(SimMtd, EraseChecksAlignmentAndBounds)
{
    const std::vector<uint8_t> data(0x1000, 0x00);
    ASSERT_EQ(platform::mtd().pwrite(logo_, data.data(), data.size(), kBlock), 0x1000);

    EXPECT_EQ(platform::mtd().erase(logo_, kBlock + 0x100, kBlock), -1) << "unaligned start";
    EXPECT_EQ(platform::mtd().erase(logo_, kBlock, 0x1000), -1) << "unaligned length";
    EXPECT_EQ(platform::mtd().erase(logo_, kBlock, 0), -1) << "nothing";
    EXPECT_EQ(platform::mtd().erase(logo_, 0xE0000, 2 * kBlock), -1) << "past the end";
    EXPECT_EQ(platform::mtd().erase(logo_, 0xFFFE0000u, 0x40000), -1) << "wrapping";
    EXPECT_TRUE(all(read(logo_, kBlock, 0x1000), 0x00)) << "a refused erase changes nothing";
    EXPECT_EQ(sim::Board::instance().mtd().eraseCount("/dev/mtd8"), 0u);

    EXPECT_EQ(platform::mtd().unlock(logo_, 0, 0x100000), 0);
    EXPECT_EQ(platform::mtd().erase(logo_, kBlock, kBlock), 0);
    EXPECT_TRUE(all(read(logo_, kBlock, kBlock), 0xFF));
    EXPECT_EQ(platform::mtd().erase(logo_, 0xE0000, kBlock), 0) << "the last block";
    EXPECT_EQ(sim::Board::instance().mtd().eraseCount("/dev/mtd8"), 2u);
}

TEST_F(SimMtd, WritesStayInsideAndOnlyClearBits)
{
    const uint8_t bytes[4] = {0x12, 0x34, 0x56, 0x78};
    EXPECT_EQ(platform::mtd().pwrite(logo_, bytes, 4, 0x100000 - 2), -1) << "crosses the end";
    EXPECT_EQ(platform::mtd().pwrite(logo_, bytes, 4, 0x200000), -1);
    EXPECT_EQ(platform::mtd().pwrite(logo_, bytes, 4, -4), -1);
    EXPECT_TRUE(all(read(logo_, 0x100000 - 16, 16), 0xFF));
    EXPECT_EQ(platform::mtd().pwrite(logo_, bytes, 0, 0x100000), 0);

    ASSERT_EQ(platform::mtd().pwrite(logo_, bytes, 4, 0x100000 - 4), 4);
    EXPECT_EQ(read(logo_, 0x100000 - 4, 4), std::vector<uint8_t>(bytes, bytes + 4));
    // The bytes reach the partition file under the board root.
    const std::string file = readFile(hostPath("/dev/mtd8"));
    ASSERT_EQ(file.size(), 0x100000u);
    EXPECT_EQ(file.substr(0x100000 - 4), std::string("\x12\x34\x56\x78", 4));

    // Programming over data that was not erased keeps the AND.
    const uint8_t over[4] = {0xF0, 0x0F, 0xFF, 0x00};
    ASSERT_EQ(platform::mtd().pwrite(logo_, over, 4, 0x100000 - 4), 4);
    EXPECT_EQ(read(logo_, 0x100000 - 4, 4), (std::vector<uint8_t>{0x10, 0x04, 0x56, 0x00}));
    ASSERT_EQ(platform::mtd().erase(logo_, 0x100000 - kBlock, kBlock), 0);
    ASSERT_EQ(platform::mtd().pwrite(logo_, over, 4, 0x100000 - 4), 4);
    EXPECT_EQ(read(logo_, 0x100000 - 4, 4), std::vector<uint8_t>(over, over + 4));
}

TEST_F(SimMtd, InjectedFaultsFailOnlyTheirRequest)
{
    sim::MtdModel& model = sim::Board::instance().mtd();
    const int kernel = platform::mtd().open("/dev/mtd10");
    ASSERT_GE(kernel, 0);
    const uint8_t zero[2] = {0, 0};
    platform::MtdInfo info;

    model.setFault("/dev/mtd8", Fault::GetInfo);
    EXPECT_EQ(platform::mtd().getInfo(logo_, info), -1);
    EXPECT_EQ(platform::mtd().getInfo(kernel, info), 0) << "the other partition works";
    EXPECT_EQ(platform::mtd().erase(logo_, 0, kBlock), 0);

    model.setFault("/dev/mtd8", Fault::Unlock);
    EXPECT_EQ(platform::mtd().unlock(logo_, 0, kBlock), -1);
    EXPECT_EQ(platform::mtd().getInfo(logo_, info), 0);

    model.setFault("/dev/mtd8", Fault::Write);
    EXPECT_EQ(platform::mtd().pwrite(logo_, zero, 2, 0), -1);
    EXPECT_TRUE(all(read(logo_, 0, 2), 0xFF)) << "a failed write writes nothing";

    model.setFault("/dev/mtd8", Fault::None);
    ASSERT_EQ(platform::mtd().pwrite(logo_, zero, 2, 0), 2);

    // Through the control channel.
    sim::ControlChannel& control = sim::Board::instance().control();
    EXPECT_EQ(control.execute("mtd-fault /dev/mtd8 erase"), "ok\n");
    EXPECT_EQ(model.fault("/dev/mtd8"), Fault::Erase);
    EXPECT_EQ(platform::mtd().erase(logo_, 0, kBlock), -1);
    EXPECT_TRUE(all(read(logo_, 0, 2), 0x00)) << "a failed erase erases nothing";
    EXPECT_EQ(control.execute("mtd-fault /dev/mtd8 none"), "ok\n");
    EXPECT_EQ(platform::mtd().erase(logo_, 0, kBlock), 0);
    EXPECT_EQ(control.execute("mtd-fault /dev/mtd8 melt").rfind("error ", 0), 0u);
    EXPECT_EQ(control.execute("mtd-fault /dev/mtd99 erase").rfind("error ", 0), 0u);
    platform::mtd().close(kernel);
}

} // namespace
