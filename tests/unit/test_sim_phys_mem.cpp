// Register space of the simulated board: the model, the windows of the
// platform interface and the control commands.
#include "support/sim_board_test.h"

#include "platform/platform.h"
#include "sim/board.h"
#include "sim/control_channel.h"
#include "sim/phys_mem.h"

namespace {

using Mem = sim::PhysMemModel;

class SimPhysMem : public SimBoardTest {
protected:
    Mem& mem() { return sim::Board::instance().mem(); }
    sim::ControlChannel& control() { return sim::Board::instance().control(); }
};

TEST_F(SimPhysMem, UniqueIdIsServedAndReadOnly)
{
    EXPECT_EQ(mem().read16(Mem::kRiuBase + Mem::kUidA), 0x1234);
    EXPECT_EQ(mem().read16(Mem::kRiuBase + Mem::kUidB), 0x5678);
    EXPECT_EQ(mem().read16(Mem::kRiuBase + Mem::kUidC), 0x9ABC);
    mem().setUniqueId(0x0102, 0x0304, 0x0506);
    mem().write16(Mem::kRiuBase + Mem::kUidA, 0xFFFF);
    EXPECT_EQ(mem().read16(Mem::kRiuBase + Mem::kUidA), 0x0102);
    EXPECT_EQ(mem().read16(Mem::kRiuBase + Mem::kUidC), 0x0506);

    // As the program reads it: through the msys region and a window.
    platform::MsysRegion region;
    ASSERT_TRUE(platform::physMem().msysRequest(region));
    EXPECT_EQ(region.physBase, Mem::kRiuBase);
    EXPECT_EQ(region.length, Mem::kRiuLength);
    auto window = platform::physMem().map(region.physBase, region.length);
    ASSERT_TRUE(window);
    EXPECT_EQ(window->length(), Mem::kRiuLength);
    EXPECT_EQ(window->read16(Mem::kUidB), 0x0304);

    EXPECT_EQ(control().execute("uid abcd ef01 2345"), "ok\n");
    EXPECT_EQ(window->read16(Mem::kUidA), 0xABCD);
    EXPECT_EQ(window->read16(Mem::kUidC), 0x2345);
    EXPECT_EQ(control().execute("uid 1 2").rfind("error ", 0), 0u);
    EXPECT_EQ(control().execute("uid 1 2 10000").rfind("error ", 0), 0u);
}

TEST_F(SimPhysMem, RegistersReadBackWithResetValuesAndHooks)
{
    const uint32_t reg = Mem::kRiuBase + 0x1000;
    EXPECT_EQ(mem().read16(reg), 0);
    mem().setResetValue(reg, 0x00F0);
    EXPECT_EQ(mem().read16(reg), 0x00F0);
    int calls = 0;
    uint16_t seen = 0;
    mem().onWrite(reg, [&](uint16_t v) {
        ++calls;
        seen = v;
    });
    mem().write16(reg, 0x1234);
    EXPECT_EQ(mem().read16(reg), 0x1234);
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(seen, 0x1234);

    mem().onRead(reg, [] { return uint16_t(0x4321); });
    EXPECT_EQ(mem().read16(reg), 0x4321);
    mem().onRead(reg, nullptr);
    EXPECT_EQ(mem().read16(reg), 0x1234);

    EXPECT_FALSE(mem().padHigh(0x2000));
    mem().write16(Mem::kRiuBase + 0x2000, 0x0010);
    EXPECT_TRUE(mem().padHigh(0x2000));
    mem().write16(Mem::kRiuBase + 0x2000, 0x00EF);
    EXPECT_FALSE(mem().padHigh(0x2000));
}

TEST_F(SimPhysMem, WindowsStayInsideTheirBounds)
{
    auto window = platform::physMem().map(Mem::kRiuBase + 0x100, 0x10);
    ASSERT_TRUE(window);
    window->write16(0x0E, 0xBEEF);
    EXPECT_EQ(mem().read16(Mem::kRiuBase + 0x10E), 0xBEEF);
    window->write16(0x10, 0x1111);   // just past the end
    window->write16(0x03, 0x2222);   // odd
    window->write16(static_cast<size_t>(-2), 0x3333);
    EXPECT_EQ(mem().read16(Mem::kRiuBase + 0x110), 0);
    EXPECT_EQ(mem().read16(Mem::kRiuBase + 0x103), 0);
    EXPECT_EQ(window->read16(0x10), 0);
    EXPECT_EQ(window->read16(static_cast<size_t>(-1)), 0);

    EXPECT_FALSE(platform::physMem().map(Mem::kRiuBase, 0));
    EXPECT_FALSE(platform::physMem().map(0xFFFFF000u, 0x2000)) << "beyond 4 GiB";
}

TEST_F(SimPhysMem, FailureSwitchesAndMemoryCommands)
{
    mem().setMemOpenFails(true);
    EXPECT_FALSE(platform::physMem().map(Mem::kRiuBase, 0x100));
    mem().setMemOpenFails(false);
    EXPECT_TRUE(platform::physMem().map(Mem::kRiuBase, 0x100));

    platform::MsysRegion region;
    EXPECT_EQ(control().execute("msys-fail on"), "ok\n");
    EXPECT_TRUE(mem().msysFails());
    EXPECT_FALSE(platform::physMem().msysRequest(region));
    EXPECT_EQ(control().execute("msys-fail off"), "ok\n");
    EXPECT_TRUE(platform::physMem().msysRequest(region));

    EXPECT_EQ(control().execute("mem-fail on"), "ok\n");
    EXPECT_FALSE(platform::physMem().map(Mem::kRiuBase, 0x100));
    EXPECT_EQ(control().execute("mem-fail off"), "ok\n");
    EXPECT_EQ(control().execute("mem-fail sometimes").rfind("error ", 0), 0u);

    EXPECT_EQ(control().execute("mem-write 1F001000 5a5a"), "ok\n");
    EXPECT_EQ(mem().read16(0x1F001000), 0x5A5A);
    EXPECT_EQ(control().execute("mem-read 0x1F001000"), "0x5A5A\nok\n");
    EXPECT_EQ(control().execute("mem-write 1F001000 12345").rfind("error ", 0), 0u);
    EXPECT_EQ(control().execute("mem-read zz").rfind("error ", 0), 0u);
    EXPECT_EQ(mem().read16(0x1F001000), 0x5A5A);
}

class PlatformSimNet : public SimBoardTest {};

TEST_F(PlatformSimNet, LoopbackOnlyAndRepliesToTheSender)
{
    const platform::Net& net = platform::net();
    EXPECT_EQ(net.bindAddress(), htonl(INADDR_LOOPBACK));
    EXPECT_FALSE(net.broadcastAllowed());
    sockaddr_in sender{};
    sender.sin_family = AF_INET;
    sender.sin_addr.s_addr = htonl(0x7F000001);
    sender.sin_port = htons(5001);
    sockaddr_in to = net.broadcastReplyTo(sender);
    EXPECT_EQ(to.sin_family, AF_INET);
    EXPECT_EQ(to.sin_addr.s_addr, sender.sin_addr.s_addr);
    EXPECT_EQ(to.sin_port, htons(5001));
    // Whatever the sender claims, the reply stays on this machine.
    sender.sin_addr.s_addr = htonl(0xC0A80163);
    to = net.broadcastReplyTo(sender);
    EXPECT_EQ(to.sin_addr.s_addr, htonl(INADDR_LOOPBACK));
    EXPECT_EQ(to.sin_port, htons(5001));
}

} // namespace
