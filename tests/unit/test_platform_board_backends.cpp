// The device back ends, exercised on what a PC safely has: pipes, a
// pseudo-terminal of the test's own, ordinary files and memory.
#include "support/sim_board_test.h"

#include "platform/backends.h"

#include <fcntl.h>
#include <linux/input.h>
#include <pty.h>
#include <sys/mman.h>
#include <termios.h>
#include <unistd.h>

namespace platform {
namespace board {
// Defined beside the /dev/mem window: the same window over given memory.
std::unique_ptr<MemWindow> windowOverMemory(void* memory, size_t length);
} // namespace board
} // namespace platform

namespace {

class PlatformBoardBackends : public SimBoardTest {};

TEST_F(PlatformBoardBackends, NetBindsEverywhereAndBroadcastsReplies)
{
    const platform::Net& net = platform::board::net();
    EXPECT_EQ(net.bindAddress(), htonl(INADDR_ANY));
    EXPECT_TRUE(net.broadcastAllowed());
    sockaddr_in sender{};
    sender.sin_family = AF_INET;
    sender.sin_addr.s_addr = htonl(0xC0A80105);
    sender.sin_port = htons(4000);
    const sockaddr_in to = net.broadcastReplyTo(sender);
    EXPECT_EQ(to.sin_family, AF_INET);
    EXPECT_EQ(to.sin_addr.s_addr, htonl(INADDR_BROADCAST));
    EXPECT_EQ(to.sin_port, htons(4000));
}

TEST_F(PlatformBoardBackends, ShellReturnsStatusAndOutput)
{
    EXPECT_EQ(platform::board::shell().run("exit 3"), 3 << 8);
    std::string out;
    EXPECT_EQ(platform::board::shell().capture("printf 'a\\nb'", out), 0);
    EXPECT_EQ(out, "a\nb");
    EXPECT_EQ(platform::board::shell().capture("exit 2", out), 2 << 8);
    EXPECT_EQ(out, "");
}

TEST_F(PlatformBoardBackends, TouchReadsWholeEventsWithTimeout)
{
    int p[2];
    ASSERT_EQ(::pipe(p), 0);
    platform::TouchEvent e;
    EXPECT_EQ(platform::board::touch().readEvent(p[0], e, 30), 0);

    input_event ev{};
    ev.input_event_sec = 12;
    ev.input_event_usec = 34;
    ev.type = EV_ABS;
    ev.code = ABS_MT_POSITION_X;
    ev.value = -5;
    ASSERT_EQ(::write(p[1], &ev, sizeof(ev)), static_cast<ssize_t>(sizeof(ev)));
    ASSERT_EQ(platform::board::touch().readEvent(p[0], e, 100), 1);
    EXPECT_EQ(e.sec, 12u);
    EXPECT_EQ(e.usec, 34u);
    EXPECT_EQ(e.type, EV_ABS);
    EXPECT_EQ(e.code, ABS_MT_POSITION_X);
    EXPECT_EQ(e.value, -5);

    // A torn record, then the end of the stream, are errors.
    ASSERT_EQ(::write(p[1], &ev, 5), 5);
    ::close(p[1]);
    EXPECT_EQ(platform::board::touch().readEvent(p[0], e, 100), -1);
    EXPECT_EQ(platform::board::touch().readEvent(p[0], e, 100), -1);
    ::close(p[0]);
    EXPECT_EQ(platform::board::touch().readEvent(p[0], e, 10), -1) << "closed descriptor";
}

TEST_F(PlatformBoardBackends, SerialOpensRaw8N1AtTheRate)
{
    int master = -1, slave = -1;
    char name[128];
    ASSERT_EQ(::openpty(&master, &slave, name, nullptr, nullptr), 0);
    struct Case {
        uint32_t baud;
        speed_t speed;
    };
    for (const Case c : {Case{9600, B9600}, Case{921600, B921600}, Case{12345, B115200}}) {
        const int fd = platform::board::serial().open(name, c.baud);
        ASSERT_GE(fd, 0);
        termios tio{};
        ASSERT_EQ(::tcgetattr(fd, &tio), 0);
        EXPECT_EQ(::cfgetospeed(&tio), c.speed) << c.baud;
        EXPECT_EQ(tio.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
        EXPECT_EQ(tio.c_cflag & (PARENB | CSTOPB), 0u);
        EXPECT_EQ(tio.c_lflag & (ICANON | ECHO), 0u);
        EXPECT_EQ(tio.c_oflag & OPOST, 0u);
        EXPECT_EQ(platform::board::serial().close(fd), 0);
    }
    EXPECT_EQ(platform::board::serial().open(root() + "/no-such-port", 9600), -1);
    ::close(slave);
    ::close(master);
}

TEST_F(PlatformBoardBackends, DeviceRequestsOnOrdinaryFilesFailCleanly)
{
    const std::string path = root() + "/not-a-device";
    writeFile(path, std::string(64, 'x'));

    const int m = platform::board::mtd().open(path);
    ASSERT_GE(m, 0);
    platform::MtdInfo info;
    EXPECT_EQ(platform::board::mtd().getInfo(m, info), -1);
    EXPECT_EQ(platform::board::mtd().erase(m, 0, 0x20000), -1);
    EXPECT_EQ(platform::board::mtd().pwrite(m, "abcd", 4, 8), 4);
    char back[4];
    EXPECT_EQ(platform::board::mtd().pread(m, back, 4, 8), 4);
    EXPECT_EQ(std::string(back, 4), "abcd");
    platform::board::mtd().close(m);

    const int s = platform::board::spi().open(path);
    ASSERT_GE(s, 0);
    EXPECT_EQ(platform::board::spi().setMode(s, 0), -1);
    uint32_t hz = 0;
    EXPECT_EQ(platform::board::spi().getMaxSpeed(s, hz), -1);
    platform::SpiTransfer t;
    EXPECT_EQ(platform::board::spi().message(s, &t, 0), 0);
    EXPECT_EQ(platform::board::spi().message(s, nullptr, 1), -1);
    EXPECT_EQ(platform::board::spi().message(s, &t, 100000), -1) << "more than one request can carry";
    EXPECT_EQ(platform::board::spi().message(s, &t, 1), -1);
    platform::board::spi().close(s);

    const int i = platform::board::i2c().open(path);
    ASSERT_GE(i, 0);
    platform::I2cMessage msg;
    EXPECT_EQ(platform::board::i2c().transfer(i, &msg, 0), -1);
    EXPECT_EQ(platform::board::i2c().transfer(i, &msg, 43), -1);
    msg.len = 4;   // a length without a buffer
    EXPECT_EQ(platform::board::i2c().transfer(i, &msg, 1), -1);
    platform::board::i2c().close(i);
    EXPECT_EQ(platform::board::spi().open(root() + "/missing"), -1);
}

TEST_F(PlatformBoardBackends, MemoryWindowIsBoundsChecked)
{
    const size_t page = static_cast<size_t>(::sysconf(_SC_PAGESIZE));
    void* mem = ::mmap(nullptr, page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    ASSERT_NE(mem, MAP_FAILED);
    auto* words = static_cast<uint16_t*>(mem);
    words[3] = 0xCAFE;
    {
        auto window = platform::board::windowOverMemory(mem, 16);
        ASSERT_TRUE(window);
        EXPECT_EQ(window->length(), 16u);
        EXPECT_EQ(window->read16(6), 0xCAFE);
        window->write16(14, 0x1234);
        EXPECT_EQ(words[7], 0x1234);
        window->write16(16, 0x5555);    // past the end
        window->write16(5, 0x6666);     // odd
        window->write16(static_cast<size_t>(-2), 0x7777);
        EXPECT_EQ(words[8], 0);
        EXPECT_EQ(words[2], 0);
        EXPECT_EQ(window->read16(16), 0);
        EXPECT_EQ(window->read16(static_cast<size_t>(-1)), 0);
        auto tiny = platform::board::windowOverMemory(mem, 1);
        EXPECT_EQ(tiny->read16(0), 0) << "no whole register fits";
    }
    EXPECT_EQ(words[3], 0xCAFE) << "a borrowed window leaves the memory mapped";
    ::munmap(mem, page);
    EXPECT_FALSE(platform::board::windowOverMemory(nullptr, 16));
    EXPECT_FALSE(platform::board::physMem().map(0x1F000000, 0)) << "an empty window is refused before /dev/mem";
}

} // namespace
