// Serial ports of the simulated board as pseudo-terminals.
#include "support/sim_board_test.h"

#include "platform/platform.h"
#include "sim/board.h"
#include "sim/serial_model.h"

#include <cerrno>
#include <chrono>
#include <thread>
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

class SimSerial : public SimBoardTest {
protected:
    // Reads exactly n bytes (or fewer on a 2 s timeout).
    static std::string readSome(int fd, size_t n)
    {
        std::string got;
        while (got.size() < n) {
            pollfd p{fd, POLLIN, 0};
            if (::poll(&p, 1, 2000) <= 0)
                break;
            char buf[256];
            const ssize_t r = ::read(fd, buf, std::min(sizeof(buf), n - got.size()));
            if (r <= 0)
                break;
            got.append(buf, static_cast<size_t>(r));
        }
        return got;
    }
    static std::string linkTarget(const std::string& path)
    {
        char buf[256];
        const ssize_t n = ::readlink(path.c_str(), buf, sizeof(buf));
        return n > 0 ? std::string(buf, static_cast<size_t>(n)) : std::string();
    }
};

TEST_F(SimSerial, BytesFlowBothWaysUnchanged)
{
    const int fd = platform::serial().open("/dev/ttyS2", 115200);
    ASSERT_GE(fd, 0);
    const std::string peerPath = sim::Board::instance().serial().peerPath("/dev/ttyS2");
    EXPECT_EQ(peerPath, hostPath("/dev/ttyS2"));
    EXPECT_EQ(linkTarget(peerPath).rfind("/dev/pts/", 0), 0u);
    const int peer = ::open(peerPath.c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(peer, 0);

    const std::string toPeer("\x55\xAA\r\n\x00\xFF\x03 ok", 10);
    ASSERT_EQ(::write(fd, toPeer.data(), toPeer.size()), static_cast<ssize_t>(toPeer.size()));
    EXPECT_EQ(readSome(peer, toPeer.size()), toPeer);

    const std::string toProgram("\x7E\x01\n\r\x11\x13\x7F", 7);
    ASSERT_EQ(::write(peer, toProgram.data(), toProgram.size()), static_cast<ssize_t>(toProgram.size()));
    EXPECT_EQ(readSome(fd, toProgram.size()), toProgram);

    // Raw: nothing is echoed back to the sender.
    pollfd p{fd, POLLIN, 0};
    EXPECT_EQ(::poll(&p, 1, 100), 0);
    ::close(peer);
    EXPECT_EQ(platform::serial().close(fd), 0);
}

TEST_F(SimSerial, WithoutAPeerTheLineIsQuietAndWritesAreDropped)
{
    const int fd = platform::serial().open("/dev/ttyS1", 9600);
    ASSERT_GE(fd, 0);
    // No peer has ever opened the port: no hang-up, no error.
    pollfd p{fd, POLLIN, 0};
    EXPECT_EQ(::poll(&p, 1, 100), 0);

    // Far more than the terminal holds: the writes never stall for good.
    const int flags = ::fcntl(fd, F_GETFL);
    ASSERT_EQ(::fcntl(fd, F_SETFL, flags | O_NONBLOCK), 0);
    const std::string chunk(1024, 'z');
    size_t written = 0;
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (written < 64 * 1024 && std::chrono::steady_clock::now() < until) {
        const ssize_t n = ::write(fd, chunk.data(), chunk.size());
        if (n > 0) {
            written += static_cast<size_t>(n);
        } else {
            ASSERT_TRUE(errno == EAGAIN || errno == EWOULDBLOCK) << errno;
            pollfd w{fd, POLLOUT, 0};
            ::poll(&w, 1, 100);
        }
    }
    EXPECT_EQ(written, 64u * 1024u);
    ASSERT_EQ(::fcntl(fd, F_SETFL, flags), 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(400));

    // A peer that opens later hears only what is sent after it came.
    const int peer = ::open(hostPath("/dev/ttyS1").c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(peer, 0);
    pollfd q{peer, POLLIN, 0};
    EXPECT_EQ(::poll(&q, 1, 200), 0) << "old bytes are gone";
    EXPECT_EQ(::write(fd, "hello", 5), 5);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));   // a few drain rounds
    EXPECT_EQ(readSome(peer, 5), "hello") << "nothing is dropped while a peer listens";

    // A peer that comes and goes leaves the master usable.
    ::close(peer);
    p.revents = 0;
    EXPECT_EQ(::poll(&p, 1, 100), 0);
    EXPECT_EQ(::write(fd, "x", 1), 1);
    platform::serial().close(fd);
}

TEST_F(SimSerial, LinksAreReplacedAndRemoved)
{
    const std::string link = hostPath("/dev/ttyS3");
    writeFile(link, "stale");
    const int a = platform::serial().open("/dev/ttyS3", 115200);
    ASSERT_GE(a, 0);
    const std::string first = linkTarget(link);
    EXPECT_FALSE(first.empty());
    const int b = platform::serial().open("/dev/ttyS3", 115200);
    ASSERT_GE(b, 0);
    const std::string second = linkTarget(link);
    EXPECT_NE(first, second);

    EXPECT_EQ(platform::serial().close(a), 0);
    EXPECT_EQ(linkTarget(link), second) << "the newer port keeps its link";
    EXPECT_EQ(platform::serial().close(b), 0);
    struct stat st;
    EXPECT_NE(::lstat(link.c_str(), &st), 0);
    EXPECT_EQ(platform::serial().close(b), -1);
    EXPECT_EQ(platform::serial().open("ttyS3", 115200), -1) << "relative node";
}

} // namespace
