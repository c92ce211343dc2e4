// The control channel of the simulated board, in process and over its Unix
// socket.
#include "support/sim_board_test.h"

#include "sim/board.h"
#include "sim/control_channel.h"

#include <chrono>
#include <climits>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>

namespace {

class SimControl : public SimBoardTest {
protected:
    void TearDown() override
    {
        channel_.stop();
        SimBoardTest::TearDown();
    }
    std::string socketPath() const { return sim::Board::instance().simFile("test-control.sock"); }

    static int connectTo(const std::string& path)
    {
        const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un addr{};
        addr.sun_family = AF_UNIX;
        path.copy(addr.sun_path, sizeof(addr.sun_path) - 1);
        if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) < 0) {
            ::close(fd);
            return -1;
        }
        return fd;
    }
    // Reads until the reply holds `lines` final "ok"/"error" lines.
    static std::string readReplies(int fd, int replies)
    {
        std::string got;
        int done = 0;
        while (done < replies) {
            pollfd p{fd, POLLIN, 0};
            if (::poll(&p, 1, 3000) <= 0)
                break;
            char buf[512];
            const ssize_t n = ::recv(fd, buf, sizeof(buf), 0);
            if (n <= 0)
                break;
            got.append(buf, static_cast<size_t>(n));
            done = 0;
            size_t start = 0, eol;
            while ((eol = got.find('\n', start)) != std::string::npos) {
                const std::string line = got.substr(start, eol - start);
                if (line == "ok" || line.rfind("error", 0) == 0)
                    ++done;
                start = eol + 1;
            }
        }
        return got;
    }
    static void send(int fd, const std::string& text)
    {
        ASSERT_EQ(::send(fd, text.data(), text.size(), MSG_NOSIGNAL), static_cast<ssize_t>(text.size()));
    }

    sim::ControlChannel channel_;
};

TEST_F(SimControl, ExecuteRunsCommandsAndReportsErrors)
{
    channel_.add("echo", "prints its words", [](const std::vector<std::string>& args, std::string& reply) {
        for (const auto& a : args)
            reply += a + "\n";
        return true;
    });
    channel_.add("fail", "always fails", [](const std::vector<std::string>&, std::string& reply) {
        reply = "broken\nreally";
        return false;
    });
    channel_.add("throw", "throws", [](const std::vector<std::string>&, std::string&) -> bool {
        throw std::runtime_error("thrown");
    });
    EXPECT_EQ(channel_.execute("ping"), "ok\n");
    EXPECT_EQ(channel_.execute("nope 1 2"), "error unknown command nope (help lists the commands)\n");
    // While the program starts, its commands are not there yet: say so.
    channel_.setProgramStarting(true);
    EXPECT_EQ(channel_.execute("link-ports"),
              "error unknown command link-ports for now: the program is not ready yet (its commands, link-ports "
              "among them, answer once it is; help lists the commands known now)\n");
    channel_.add("link-ports", "ports", [](std::string& reply) { return !(reply = "udp 1 tcp 2 at 3").empty(); });
    channel_.setProgramStarting(false);
    EXPECT_EQ(channel_.execute("link-ports"), "udp 1 tcp 2 at 3\nok\n");
    EXPECT_EQ(channel_.execute("echo a \"b c\" 'd'"), "a\nb c\nd\nok\n");
    EXPECT_EQ(channel_.execute("fail"), "error broken really\n");
    EXPECT_EQ(channel_.execute("throw"), "error thrown\n");
    EXPECT_EQ(channel_.execute("   ").rfind("error ", 0), 0u);
    const std::string help = channel_.execute("help");
    EXPECT_NE(help.find("echo: prints its words\n"), std::string::npos);
    EXPECT_NE(help.find("ping"), std::string::npos);
    EXPECT_EQ(help.substr(help.size() - 3), "ok\n");
    EXPECT_EQ(help.find("ping: ping"), std::string::npos);

    // The board's own channel has the commands of its models.
    const std::string boardHelp = sim::Board::instance().control().execute("help");
    for (const char* c : {"shell-log", "shell-exit", "shell-eth0", "mem-read", "mem-write", "uid", "mem-fail",
                          "msys-fail", "mtd-fault", "tap", "touch", "uevent"})
        EXPECT_NE(boardHelp.find(std::string(c) + ": "), std::string::npos) << c;
    EXPECT_NE(boardHelp.find("nobody heard (the chip /dev/spidev32766.0, FPGA 0 /dev/spidev32766.1, FPGA 1 "
                             "/dev/spidev32766.2, their flashes /dev/spidev32766.3 and /dev/spidev32766.4)"),
              std::string::npos)
        << boardHelp;
}

TEST_F(SimControl, RefusalsNameTheWrongArgumentAndItsRange)
{
    sim::ControlChannel& board = sim::Board::instance().control();
    const std::pair<const char*, const char*> refused[] = {
        {"tap 10", "error usage: tap <x 0..799> <y 0..479>; takes 2 arguments, not 1\n"},
        {"tap 10 y", "error usage: tap <x 0..799> <y 0..479>; y 'y' is not a number from 0 to 479\n"},
        {"tap 800 5", "error usage: tap <x 0..799> <y 0..479>; x '800' is not a number from 0 to 799\n"},
        {"mem-read 0x100000000", "error usage: mem-read <hex address>; address '0x100000000' is not a hex number "
                                 "from 0x0 to 0xFFFFFFFF\n"},
        {"mem-write 10 10000", "error usage: mem-write <hex address> <hex value>; value '10000' is not a hex number "
                               "from 0x0 to 0xFFFF\n"},
        {"uid 1 2 x", "error usage: uid <hex a> <hex b> <hex c>; c 'x' is not a hex number from 0x0 to 0xFFFF\n"},
        {"touch 1 2", "error usage: touch <type> <code> <value>; takes 3 arguments, not 2\n"},
        {"shell-exit 256 reboot", "error usage: shell-exit <0..255> <command prefix>; code '256' is not a number "
                                  "from 0 to 255\n"},
        {"shell-exit 1", "error usage: shell-exit <0..255> <command prefix>; takes at least 2 arguments, not 1\n"},
        {"c331-frame-hz 0", "error usage: c331-frame-hz <1..1000>; hz '0' is not a number from 1 to 1000\n"},
        {"c331-frame-hz 1001", "error usage: c331-frame-hz <1..1000>; hz '1001' is not a number from 1 to 1000\n"},
        {"c331-log 1 2", "error usage: c331-log [count 0..4096]; takes 0 or 1 argument, not 2\n"},
        {"c331-log 4097", "error usage: c331-log [count 0..4096]; count '4097' is not a number from 0 to 4096\n"},
        {"card-delay 33 5", "error usage: card-delay <port 1..32> <ms, up to 60000>; port '33' is not a number from "
                            "1 to 32\n"},
        {"fpga-reg 2 1", "error usage: fpga-reg <0|1> <register> [value]; fpga '2' is not a number from 0 to 1\n"},
        {"flash-read 3 0 4097", "error usage: flash-read <2|3> <address> <length 0..4096>; length '4097' is not a "
                                "number from 0 to 4096\n"},
        {"cards 1 5 xx", "error usage: cards <port 1..32> <count 0..4095> [mf]; kind 'xx' is not mf\n"},
        {"c331-silent maybe", "error usage: c331-silent on|off; switch 'maybe' is not on|off\n"},
        {"shell-eth0", "error usage: shell-eth0 on|off; takes 1 argument, not 0\n"},
        {"card-delay 1 60001", "error usage: card-delay <port 1..32> <ms, up to 60000>; ms '60001' is not a number "
                               "from 0 to 60000\n"},
        {"spi-count /dev/spidev32766.5", "error usage: spi-count <node>; node '/dev/spidev32766.5' is not one of "
                                         "/dev/spidev32766.0 /dev/spidev32766.1 /dev/spidev32766.2 "
                                         "/dev/spidev32766.3 /dev/spidev32766.4\n"},
        {"spi-count", "error usage: spi-count <node>; takes 1 argument, not 0\n"},
    };
    for (const auto& c : refused)
        EXPECT_EQ(board.execute(c.first), c.second) << c.first;
}

TEST_F(SimControl, EveryCommandTakesDecimalOrHexNumbers)
{
    sim::ControlChannel& board = sim::Board::instance().control();
    // Decimal by default ("010" is ten), 0x.. for hex, in every command.
    for (const char* taken : {"tap 0x10 0x1DF", "tap 010 479", "c331-log 0x2", "c331-log 010", "c331-frame-hz 0x3C",
                              "c331-frame-hz 60", "card-delay 0x1 0x0", "card-delay 1 010", "card-delay 0x20 0",
                              "shell-exit 0x3 pidof zz", "shell-exit 0 pidof zz",
                              "source 0x5 0x780 0x438 0x3C p 0x4", "source 5 none"})
        EXPECT_EQ(board.execute(taken).substr(0, 2), "ok") << taken;
    // Still read strictly, and the range is the number's, however written.
    const std::pair<const char*, const char*> refused[] = {
        {"c331-frame-hz 0x3E9", "error usage: c331-frame-hz <1..1000>; hz '0x3E9' is not a number from 1 to 1000\n"},
        {"tap 0x320 0", "error usage: tap <x 0..799> <y 0..479>; x '0x320' is not a number from 0 to 799\n"},
        {"card-delay 1 0x", "error usage: card-delay <port 1..32> <ms, up to 60000>; ms '0x' is not a number "
                            "from 0 to 60000\n"},
        {"c331-log 0x1001", "error usage: c331-log [count 0..4096]; count '0x1001' is not a number from 0 to 4096\n"},
    };
    for (const auto& c : refused)
        EXPECT_EQ(board.execute(c.first), c.second) << c.first;
    board.execute("card-delay 1 0");
    board.execute("c331-frame-hz 60");
}

TEST_F(SimControl, JoinsAClientThreadOnceItsClientHasGone)
{
    ASSERT_TRUE(channel_.start(socketPath()));
    const int a = connectTo(socketPath());
    ASSERT_GE(a, 0);
    send(a, "ping\n");
    EXPECT_EQ(readReplies(a, 1), "ok\n");
    EXPECT_EQ(channel_.clientThreads(), 1u);
    ::close(a);
    // No other client comes: the ended thread is joined all the same (a
    // program that leaves would otherwise leave it unjoined).
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (channel_.clientThreads() != 0 && std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    EXPECT_EQ(channel_.clientThreads(), 0u);
}

TEST_F(SimControl, SplitWordsKeepsQuotedBlanks)
{
    EXPECT_EQ(sim::splitWords("  a  \"b c\"\t'd e'f  "), (std::vector<std::string>{"a", "b c", "d ef"}));
    EXPECT_EQ(sim::splitWords("x \"\""), (std::vector<std::string>{"x", ""}));
    EXPECT_TRUE(sim::splitWords("   ").empty());
}

TEST_F(SimControl, ReadsNumbersStrictly)
{
    unsigned long long u = 7;
    EXPECT_TRUE(sim::parseUnsigned("4294967295", 0xFFFFFFFFull, u));
    EXPECT_EQ(u, 4294967295ull);
    EXPECT_TRUE(sim::parseUnsigned("0x1F", 0xFF, u));
    EXPECT_EQ(u, 0x1Full);
    // A leading 0 is no octal: "010" is ten and "09" nine, as in zdrlink.
    EXPECT_TRUE(sim::parseUnsigned("010", 0xFF, u));
    EXPECT_EQ(u, 10ull);
    EXPECT_TRUE(sim::parseUnsigned("09", 0xFF, u));
    EXPECT_EQ(u, 9ull);
    EXPECT_TRUE(sim::parseUnsigned("1f", 0xFF, u, 16));
    EXPECT_EQ(u, 0x1Full);
    EXPECT_TRUE(sim::parseUnsigned("0x1f", 0xFF, u, 16));
    EXPECT_EQ(u, 0x1Full);
    EXPECT_TRUE(sim::parseUnsigned("010", 0xFF, u, 10));
    EXPECT_EQ(u, 10ull);
    u = 7;
    for (const char* bad : {"", "-1", "-0", "+1", " 1", "1 ", "1x", "0x", "4294967296", "99999999999999999999",
                            "-18446744073709551615"})
        EXPECT_FALSE(sim::parseUnsigned(bad, 0xFFFFFFFFull, u)) << bad;
    EXPECT_FALSE(sim::parseUnsigned("1f", 0xFF, u, 10));
    EXPECT_EQ(u, 7ull) << "a refused number leaves the value alone";
    // A refusal tells a number that is too large from no number at all.
    EXPECT_EQ(sim::readUnsigned("256", 255, u, 10), sim::NumberRead::tooLarge);
    EXPECT_EQ(sim::readUnsigned("99999999999999999999", ~0ull, u, 10), sim::NumberRead::tooLarge);
    EXPECT_EQ(sim::readUnsigned("0x1g", 0xFF, u, 16), sim::NumberRead::notANumber);
    EXPECT_EQ(u, 7ull);

    long long s = 7;
    EXPECT_TRUE(sim::parseSigned("-5", -10, 10, s));
    EXPECT_EQ(s, -5);
    EXPECT_TRUE(sim::parseSigned("-9223372036854775808", LLONG_MIN, LLONG_MAX, s));
    EXPECT_EQ(s, LLONG_MIN);
    EXPECT_TRUE(sim::parseSigned("-0x10", -100, 100, s, 0));
    EXPECT_EQ(s, -16);
    for (const char* bad : {"", "-", "+5", "--5", "- 5", "11", "-11", "9223372036854775808"})
        EXPECT_FALSE(sim::parseSigned(bad, -10, 10, s)) << bad;
    EXPECT_FALSE(sim::parseSigned("9223372036854775808", LLONG_MIN, LLONG_MAX, s));

    std::vector<unsigned char> bytes;
    EXPECT_TRUE(sim::parseHexBytes("0a1B", bytes));
    EXPECT_EQ(bytes, std::vector<unsigned char>({0x0A, 0x1B}));
    for (const char* bad : {"-1", "+1", " 1", "0x", "1", "0g"}) {
        bytes.clear();
        EXPECT_FALSE(sim::parseHexBytes(bad, bytes)) << bad;
        EXPECT_TRUE(bytes.empty()) << bad;
    }
}

TEST_F(SimControl, ServesClientsOnTheUnixSocket)
{
    ASSERT_TRUE(channel_.start(socketPath()));
    EXPECT_TRUE(channel_.running());
    const int a = connectTo(socketPath());
    ASSERT_GE(a, 0);
    send(a, "ping\n");
    EXPECT_EQ(readReplies(a, 1), "ok\n");
    send(a, "bogus\r\nping\n");   // two requests in one write, one with CR LF
    EXPECT_EQ(readReplies(a, 2), "error unknown command bogus (help lists the commands)\nok\n");

    // A second client is served while the first stays connected.
    const int b = connectTo(socketPath());
    ASSERT_GE(b, 0);
    send(b, "pi");
    send(b, "ng\n");
    EXPECT_EQ(readReplies(b, 1), "ok\n");
    ::close(b);

    // stop() ends the connected client too, and removes the socket.
    const auto t0 = std::chrono::steady_clock::now();
    channel_.stop();
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(2));
    EXPECT_FALSE(channel_.running());
    char c;
    EXPECT_EQ(::recv(a, &c, 1, 0), 0) << "the server side is closed";
    ::close(a);
    struct stat st;
    EXPECT_NE(::stat(socketPath().c_str(), &st), 0);
    EXPECT_EQ(connectTo(socketPath()), -1);

    // It starts again on the same path.
    ASSERT_TRUE(channel_.start(socketPath()));
    const int d = connectTo(socketPath());
    ASSERT_GE(d, 0);
    send(d, "ping\n");
    EXPECT_EQ(readReplies(d, 1), "ok\n");
    ::close(d);
}

TEST_F(SimControl, RefusesPathsItCannotUse)
{
    EXPECT_FALSE(channel_.start(std::string(200, 'x')));
    EXPECT_FALSE(channel_.start(""));
    // Never replaces a file that is not a socket.
    writeFile(socketPath(), "data");
    EXPECT_FALSE(channel_.start(socketPath()));
    EXPECT_EQ(readFile(socketPath()), "data");
    EXPECT_FALSE(channel_.running());
    channel_.stop();   // harmless when not started
}

} // namespace
