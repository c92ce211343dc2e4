// The command-line tools and scripts: each answers --help with its usage,
// and refuses an argument it does not take, or a number that does not fit,
// with a message and a non-zero exit before it does anything (nothing is
// sent, started, built or written).
#include "support/app_runner.h"
#include "support/wait_for.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <utility>
#include <vector>

namespace {

struct Outcome {
    int status = -1; // exit status; -1 when it did not end in time
    std::string out, err;
};

// Runs a command in its own process group with extra environment
// variables; a command still running after timeoutMs is killed with its
// children (a script that went on to build would otherwise run on).
Outcome run(const std::vector<std::string>& argv, const std::vector<std::pair<std::string, std::string>>& env = {},
        const std::string& cwd = std::string(), int timeoutMs = 60000)
{
    int outPipe[2], errPipe[2];
    Outcome r;
    if (::pipe(outPipe) != 0 || ::pipe(errPipe) != 0)
        return r;
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::setpgid(0, 0);
        ::dup2(outPipe[1], 1);
        ::dup2(errPipe[1], 2);
        ::close(outPipe[0]);
        ::close(errPipe[0]);
        for (const auto& e : env)
            ::setenv(e.first.c_str(), e.second.c_str(), 1);
        if (!cwd.empty() && ::chdir(cwd.c_str()) != 0)
            ::_exit(127);
        std::vector<char*> args;
        for (const std::string& a : argv)
            args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        ::execv(args[0], args.data());
        ::_exit(127);
    }
    ::setpgid(pid, pid);
    ::close(outPipe[1]);
    ::close(errPipe[1]);
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    pollfd fds[2] = {{outPipe[0], POLLIN, 0}, {errPipe[0], POLLIN, 0}};
    int open = 2;
    bool killed = false;
    while (open > 0) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            ::kill(-pid, SIGKILL);
            killed = true;
            break;
        }
        if (::poll(fds, 2, static_cast<int>(std::min<long long>(left.count(), 100))) < 0 && errno != EINTR)
            break;
        for (int k = 0; k < 2; ++k) {
            if (fds[k].fd < 0 || !(fds[k].revents & (POLLIN | POLLHUP | POLLERR)))
                continue;
            char buf[4096];
            const ssize_t n = ::read(fds[k].fd, buf, sizeof(buf));
            if (n > 0) {
                (k == 0 ? r.out : r.err).append(buf, static_cast<size_t>(n));
            } else {
                fds[k].fd = -1;
                --open;
            }
        }
    }
    ::close(outPipe[0]);
    ::close(errPipe[0]);
    int status = 0;
    ::waitpid(pid, &status, 0);
    if (!killed && WIFEXITED(status))
        r.status = WEXITSTATUS(status);
    // Whatever the command left running in its group goes too.
    ::kill(-pid, SIGKILL);
    return r;
}

std::string describe(const std::vector<std::string>& argv, const Outcome& r)
{
    std::string s;
    for (const std::string& a : argv)
        s += a + " ";
    return s + "-> status " + std::to_string(r.status) + "\nstdout: " + r.out + "\nstderr: " + r.err;
}

bool exists(const std::string& path)
{
    return QFileInfo::exists(QString::fromStdString(path));
}

// A UDP socket on a free loopback port that never answers: a "device"
// that shows whether anything was sent to it.
class SilentUdp {
public:
    SilentUdp()
    {
        fd_ = ::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof(a);
        if (fd_ >= 0 && ::bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof(a)) == 0 &&
            ::getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &len) == 0)
            port_ = ntohs(a.sin_port);
    }
    ~SilentUdp()
    {
        if (fd_ >= 0)
            ::close(fd_);
    }
    unsigned short port() const { return port_; }
    // Datagrams received so far (the senders have ended: all have arrived).
    int received()
    {
        int n = 0;
        char buf[2048];
        while (::recv(fd_, buf, sizeof(buf), 0) >= 0)
            ++n;
        return n;
    }

private:
    int fd_ = -1;
    unsigned short port_ = 0;
};

// A loopback TCP port on which nobody listens (taken, then let go).
unsigned short closedTcpPort()
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof(a);
    ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof(a));
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
    ::close(fd);
    return ntohs(a.sin_port);
}

const std::string kZdrlink = ZDR_ZDRLINK_PATH;
const std::string kZdrsim = ZDR_ZDRSIM_PATH;
const std::string kPainter = ZDR_PAINTER_PATH;
const std::string kApp = ZDR_APP_PATH;
const std::string kScripts = std::string(ZDR_SOURCE_DIR) + "/scripts/";

} // namespace

TEST(ToolsCommandLine, ZdrlinkRefusesWhatDoesNotFitAndSendsNothing)
{
    SilentUdp device;
    ASSERT_NE(device.port(), 0);
    const std::string port = std::to_string(device.port());

    for (const char* h : {"--help", "-h", "help"}) {
        const Outcome help = run({kZdrlink, h});
        EXPECT_EQ(help.status, 0) << describe({h}, help);
        EXPECT_EQ(help.out.rfind("usage: zdrlink", 0), 0u) << help.out;
    }

    // Arguments and the text the refusal must carry.
    const std::vector<std::pair<std::vector<std::string>, std::string>> refused = {
        {{"items", "257", "0", "33"}, "item 257 is out of range"},
        {{"items", "1", "256", "33"}, "index 256 is out of range"},
        {{"items", "1", "0", "65536"}, "value 65536 is out of range"},
        {{"items", "1", "-1", "3"}, "not a number"},
        {{"items", "1", "0"}, "triples"},
        {{"flag", "256"}, "flag 256 is out of range"},
        {{"write-reg", "11", "255", "0x100"}, "value 0x100 is out of range"},
        {{"read-reg", "65536", "1"}, "register 65536 is out of range"},
        {{"read-ram", "0x100000000", "1"}, "address 0x100000000 is out of range"},
        {{"read-ram", "0", "1", "2"}, "read-ram takes 2 arguments, not 3"},
        {{"info", "extra"}, "info takes 0 arguments, not 1"},
        {{"raw", "0x61", "0011", "extra"}, "raw takes 1 or 2 arguments, not 3"},
        {{"raw", "0x100"}, "command 0x100 is out of range"},
        {{"raw", "0x61", "0g"}, "not hexadecimal"},
        {{"set-network", "192.168.1.2", "255.255.255.0", "192.168.1.1", "70000"},
         "TCP port 70000 is out of range (1 to 65535)"},
        {{"set-network", "192.168.1.2", "255.255.255.0", "192.168.1.1", "0"}, "TCP port 0 is out of range (1 to 65535)"},
        {{"set-network", "192.168.1.2", "255.255.255.0", "192.168.1.1", "5005", "x"}, "3 or 4 arguments"},
        {{"set-network", "192.168.1.256", "255.255.255.0", "192.168.1.1"}, "not an address"},
        {{"set-clock", "2024-13-01", "10:00:00"}, "month 13 is out of range (1 to 12)"},
        {{"set-clock", "2024-00-01", "10:00:00"}, "month 00 is out of range (1 to 12)"},
        {{"set-clock", "2024-01-01", "24:00:00"}, "hour 24 is out of range (0 to 23)"},
        {{"set-clock", "99999999999-01-01", "10:00:00"}, "year 99999999999 is out of range (0 to 65535)"},
        {{"upload", "1", "APPLX", "/dev/null"}, "4 characters"},
        {{"upload", "256", "APPL", "/dev/null"}, "type 256 is out of range"},
        {{"nonsense"}, "unknown command nonsense"},
        // What the device would refuse, named before anything is sent.
        {{"read-ram", "4090", "16"}, "16 bytes at 4090 (0xFFA) pass the end of the parameter block (0 to 0xFFF)"},
        {{"read-ram", "0", "0"}, "a read of 0 bytes: a read takes 1 to 4096"},
        {{"write-ram", "4095", "0102"}, "2 bytes at 4095 (0xFFF) pass the end of the parameter block"},
        {{"items", "200", "0", "1"}, "item 200 is no parameter item: the items are 1 brightness"},
        {{"set-network", "192.168.1.2", "255.0.255.0", "192.168.1.1"}, "mask 255.0.255.0 is not contiguous"},
        {{"upload", "1", "ABCD", "/dev/null"}, "upload type 1 takes the tag APPL, not ABCD"},
        {{"set-clock", "2023-02-29", "10:00:00"}, "2023-02 has days 1 to 28"},
        {{"--card", "read-reg", "170", "5"}, "registers 170 to 174 pass the last register of the sending card"},
        {{"--card", "write-ram", "0x13000", "00"}, "page 0x13, which the sending card only reads out"},
    };
    for (const auto& c : refused) {
        std::vector<std::string> argv = {kZdrlink, "--udp", port, "--timeout", "300"};
        argv.insert(argv.end(), c.first.begin(), c.first.end());
        const Outcome r = run(argv);
        EXPECT_EQ(r.status, 2) << describe(argv, r);
        EXPECT_NE(r.err.find(c.second), std::string::npos) << describe(argv, r);
        EXPECT_NE(r.err.find("zdrlink: nothing was sent; \"zdrlink help\" prints the usage\n"), std::string::npos);
        EXPECT_EQ(r.err.find("commands:"), std::string::npos) << describe(argv, r);
        EXPECT_EQ(device.received(), 0) << describe(argv, r);
    }

    // Options: a port or number out of range, an unknown option, two links.
    const std::vector<std::pair<std::vector<std::string>, std::string>> options = {
        // One range for each, whichever end is passed.
        {{"--udp", "70000", "info"}, "UDP port 70000 is out of range (1 to 65535)"},
        {{"--udp", "0", "info"}, "UDP port 0 is out of range (1 to 65535)"},
        {{"--tcp", "65536", "info"}, "TCP port 65536 is out of range (1 to 65535)"},
        {{"--tcp", "0", "info"}, "TCP port 0 is out of range (1 to 65535)"},
        {{"--at", "-5", "AT"}, "not a number"},
        {{"--udp", port, "--tcp", "5005", "info"}, "both choose the link"},
        {{"--udp", port, "--fpga", "1", "info"}, "--fpga goes with --card"},
        {{"--udp", port, "--card", "--fpga", "256", "info"}, "FPGA 256 is out of range"},
        {{"--udp", port, "--timeout", "0", "info"}, "time-out (ms) 0 is out of range (1 to 600000)"},
        {{"--udp", port, "--timeout", "600001", "info"}, "time-out (ms) 600001 is out of range (1 to 600000)"},
        {{"--udp", port, "--bogus", "info"}, "unknown option --bogus"},
        {{"--udp", port, "--host", "printer", "info"}, "not an IPv4 address: printer"},
        {{"--udp", port, "--host", "localhost.example", "info"}, "not an IPv4 address"},
        {{"--udp", port, "--host", "10.1.2.3", "info"}, "needs --remote"},
        {{"--udp", port}, "no command"},
    };
    for (const auto& c : options) {
        std::vector<std::string> argv = {kZdrlink};
        argv.insert(argv.end(), c.first.begin(), c.first.end());
        const Outcome r = run(argv);
        EXPECT_EQ(r.status, 2) << describe(argv, r);
        EXPECT_NE(r.err.find(c.second), std::string::npos) << describe(argv, r);
        EXPECT_NE(r.err.find("zdrlink: nothing was sent; \"zdrlink help\" prints the usage\n"), std::string::npos);
        EXPECT_EQ(r.err.find("commands:"), std::string::npos) << describe(argv, r);
        EXPECT_EQ(device.received(), 0) << describe(argv, r);
    }

    // The same request with numbers that fit is sent (the check above can
    // see a datagram), gets no reply and says from where.
    const std::vector<std::string> argv = {kZdrlink, "--udp", port, "--timeout", "300", "items", "1", "0", "33"};
    const Outcome sent = run(argv);
    EXPECT_EQ(sent.status, 1) << describe(argv, sent);
    EXPECT_EQ(device.received(), 1) << describe(argv, sent);
    EXPECT_NE(sent.err.find("no reply from 127.0.0.1 UDP port " + port + " within 300 ms"), std::string::npos)
        << describe(argv, sent);
}

TEST(ToolsCommandLine, ZdrlinkSaysWhereItFoundNoOne)
{
    // Nobody listens on the TCP port: the refusal names host and port.
    const std::string tcp = std::to_string(closedTcpPort());
    std::vector<std::string> argv = {kZdrlink, "--tcp", tcp, "info"};
    Outcome r = run(argv);
    EXPECT_EQ(r.status, 1) << describe(argv, r);
    EXPECT_NE(r.err.find("cannot connect to 127.0.0.1 TCP port " + tcp), std::string::npos) << describe(argv, r);

    // Without a link option it talks to UDP 5008 (here of a loopback address
    // no program listens on); the silence is explained, and where the
    // simulated board's other ports are found.
    argv = {kZdrlink, "--host", "127.0.0.2", "--timeout", "300", "info"};
    r = run(argv);
    EXPECT_EQ(r.status, 1) << describe(argv, r);
    EXPECT_NE(r.err.find("no reply from 127.0.0.2 UDP port 5008"), std::string::npos) << describe(argv, r);
    EXPECT_NE(r.err.find("ZDR_SIM_EPHEMERAL_PORTS"), std::string::npos) << describe(argv, r);
    EXPECT_NE(r.err.find("link-ports"), std::string::npos) << describe(argv, r);
    // The same with the device's port named, and for a TCP port nobody
    // listens on: a board on other ports is the likely reason.
    for (const std::vector<std::string>& a :
         {std::vector<std::string>{kZdrlink, "--udp", "5008", "--host", "127.0.0.2", "--timeout", "300", "info"},
          std::vector<std::string>{kZdrlink, "--tcp", tcp, "info"}}) {
        r = run(a);
        EXPECT_EQ(r.status, 1) << describe(a, r);
        EXPECT_NE(r.err.find("link-ports"), std::string::npos) << describe(a, r);
    }

    // A board whose program does not run: said, nothing sent.
    const std::string none = ::testing::TempDir() + "zdrlink-no-board";
    argv = {kZdrlink, "--root", none, "info"};
    r = run(argv);
    EXPECT_EQ(r.status, 1) << describe(argv, r);
    EXPECT_NE(r.err.find("cannot find the ports of the board at " + none + ": no control channel at " + none +
                         "/sim/control.sock (is the program running?)"),
              std::string::npos)
        << describe(argv, r);

    // A device that closes the connection: said at once, not after the
    // whole wait.
    const int server = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof(a);
    ASSERT_EQ(::bind(server, reinterpret_cast<sockaddr*>(&a), sizeof(a)), 0);
    ASSERT_EQ(::listen(server, 1), 0);
    ::getsockname(server, reinterpret_cast<sockaddr*>(&a), &len);
    std::thread closer([server] {
        const int c = ::accept(server, nullptr, nullptr);
        char b[64];
        (void)!::read(c, b, sizeof(b));
        ::close(c);
    });
    const std::string closing = std::to_string(ntohs(a.sin_port));
    argv = {kZdrlink, "--tcp", closing, "--timeout", "60000", "info"};
    const auto t0 = std::chrono::steady_clock::now();
    r = run(argv);
    const auto took = std::chrono::steady_clock::now() - t0;
    closer.join();
    ::close(server);
    EXPECT_EQ(r.status, 1) << describe(argv, r);
    EXPECT_NE(r.err.find("127.0.0.1 TCP port " + closing + " closed the connection without a reply"),
              std::string::npos)
        << describe(argv, r);
    EXPECT_EQ(r.err.find("within 60000 ms"), std::string::npos) << describe(argv, r);
    EXPECT_LT(took, std::chrono::seconds(30));
}

TEST(ToolsCommandLine, ZdrsimSendsOnlyCommandsToTheBoard)
{
    // A stand-in control channel that records the lines it gets.
    QTemporaryDir dir("/tmp/zdrsim-XXXXXX");
    ASSERT_TRUE(dir.isValid());
    const std::string root = dir.path().toStdString();
    ASSERT_TRUE(QDir().mkpath(dir.path() + "/sim"));
    const std::string path = root + "/sim/control.sock";
    const int server = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    ASSERT_LT(path.size(), sizeof(addr.sun_path));
    std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
    ASSERT_EQ(::bind(server, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)), 0);
    ASSERT_EQ(::listen(server, 8), 0);
    std::atomic<bool> stop{false};
    std::vector<std::string> lines;
    std::thread channel([&] {
        while (!stop) {
            const int c = ::accept(server, nullptr, nullptr);
            if (c < 0) {
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
                continue;
            }
            ::fcntl(c, F_SETFL, 0);
            std::string line;
            char ch;
            while (::read(c, &ch, 1) == 1 && ch != '\n')
                line += ch;
            lines.push_back(line);
            const char ok[] = "ok\n";
            (void)!::write(c, ok, sizeof(ok) - 1);
            ::close(c);
        }
    });
    const std::vector<std::pair<std::string, std::string>> env = {{"ZDR_BOARD_ROOT", root}};

    for (const char* h : {"--help", "-h"}) {
        const Outcome r = run({kZdrsim, "--root", root, h}, env);
        EXPECT_EQ(r.status, 0) << describe({h}, r);
        EXPECT_EQ(r.out.rfind("usage: zdrsim", 0), 0u) << r.out;
    }
    // Its own board is the build's, named by an absolute path.
    const Outcome help = run({kZdrsim, "--help"});
    EXPECT_NE(help.out.find("or else /"), std::string::npos) << help.out;

    const std::vector<std::pair<std::vector<std::string>, std::string>> refused = {
        {{"--root"}, "--root needs a board root folder"},
        {{"--root", "--help"}, "--root needs a board root folder"},
        {{"--bogus", "ticks"}, "unknown option --bogus"},
        {{}, "no command"},
        {{"tap", "1\n2", "3"}, "line break"},
    };
    for (const auto& c : refused) {
        std::vector<std::string> argv = {kZdrsim};
        argv.insert(argv.end(), c.first.begin(), c.first.end());
        const Outcome r = run(argv, env);
        EXPECT_EQ(r.status, 2) << describe(argv, r);
        EXPECT_NE(r.err.find(c.second), std::string::npos) << describe(argv, r);
        EXPECT_NE(r.err.find("zdrsim: \"zdrsim --help\" prints the usage\n"), std::string::npos);
        EXPECT_EQ(r.err.find("Exit status"), std::string::npos) << describe(argv, r);
    }
    // A command is sent as it is, the board's to judge.
    const Outcome tap = run({kZdrsim, "--root", root, "tap", "9999", "9999"});
    EXPECT_EQ(tap.status, 0) << describe({"tap"}, tap);

    stop = true;
    channel.join();
    ::close(server);
    EXPECT_EQ(lines, std::vector<std::string>({"tap 9999 9999"}));
}

TEST(ToolsCommandLine, BoardCommandsRefuseWhatTheyDoNotTake)
{
    AppRunner app;
    ASSERT_TRUE(app.start()) << app.output().toStdString();
    const std::vector<std::pair<std::string, std::string>> env = {{"ZDR_BOARD_ROOT", app.root()}};
    auto zdrsim = [&](const std::vector<std::string>& words) {
        std::vector<std::string> argv = {kZdrsim};
        argv.insert(argv.end(), words.begin(), words.end());
        return run(argv, env);
    };
    const Outcome before = zdrsim({"store-read", "block", "0", "4"});
    ASSERT_EQ(before.status, 0) << describe({"store-read"}, before);
    ASSERT_EQ(zdrsim({"cards", "2", "2"}).status, 0);

    // Each refusal is an error answer with the command's usage.
    const std::vector<std::pair<std::vector<std::string>, std::string>> refused = {
        // Commands without arguments.
        {{"ping", "extra"}, "error usage: ping (no arguments)\n"},
        {{"help", "extra"}, "error usage: help (no arguments)\n"},
        {{"ticks", "extra"}, "error usage: ticks (no arguments)\n"},
        {{"link-ports", "extra"}, "error usage: link-ports (no arguments)\n"},
        {{"c331-fonts", "x"}, "error usage: c331-fonts (no arguments)\n"},
        {{"page-focus", "1"}, "error usage: page-focus (no arguments)\n"},
        {{"c331-flag", "1"}, "error usage: c331-flag (no arguments)\n"},
        {{"top-window", "x"}, "error usage: top-window (no arguments)\n"},
        {{"c331-state", "x"}, "error usage: c331-state (no arguments)\n"},
        {{"c331-ports", "x"}, "error usage: c331-ports (no arguments)\n"},
        {{"usb-events", "x"}, "error usage: usb-events (no arguments)\n"},
        {{"idle-names", "x"}, "error usage: idle-names (no arguments)\n"},
        {{"fpga-status", "x"}, "error usage: fpga-status (no arguments)\n"},
        {{"card-job", "x"}, "error usage: card-job (no arguments)\n"},
        {{"shell-log", "x"}, "error usage: shell-log (no arguments)\n"},
        // The idle times are ticks held in 32 bits, without a sign.
        {{"idle-times", "-1", "5"}, "error usage: idle-times <back 0..4294967295> <lock 0..4294967295>; back '-1' "
                                    "is not a number from 0 to 4294967295\n"},
        {{"idle-times", "5", "4294967296"}, "error usage: idle-times <back 0..4294967295> <lock 0..4294967295>; "
                                            "lock '4294967296' is not a number from 0 to 4294967295\n"},
        {{"idle-times", "5"}, "error usage: idle-times <back 0..4294967295> <lock 0..4294967295>; takes 2 "
                              "arguments, not 1\n"},
        {{"idle-times", "99999999999", "1"}, "error usage: idle-times"},
        {{"idle-times", "4294967296", "1"}, "error usage: idle-times"},
        {{"idle-times", "5", "+1"}, "error usage: idle-times"},
        {{"idle-times", "5", "1", "2"}, "error usage: idle-times"},
        // Numbers with a sign or trailing letters, wherever a number goes.
        {{"store-read", "block", "-0", "1"}, "error usage: store-read"},
        {{"store-read", "slot-0", "0", "1"}, "error usage: store-read"},
        {{"store-read", "slot16", "0", "1"}, "error usage: store-read <block|shadow|status|slotN> <offset> <length>; "
                                             "area 'slot16' is not block, shadow, status or slot0..slot15\n"},
        {{"store-read", "status", "0", "99999"}, "error usage: store-read <block|shadow|status|slotN> <offset> "
                                                 "<length>; length '99999' is not a number from 0 to "},
        {{"store-set", "0", "0g"}, "error usage: store-set <offset> <hex bytes> [flag 0..2]; bytes '0g' is not "
                                   "pairs of hex digits\n"},
        {{"store-set", "0", "00", "3"}, "error usage: store-set <offset> <hex bytes> [flag 0..2]; flag '3' is not a "
                                        "number from 0 to 2\n"},
        {{"store-set", "0", "-1"}, "error usage: store-set"},
        {{"store-set", "0", "+1"}, "error usage: store-set"},
        {{"c331-log", "-1"}, "error usage: c331-log"},
        {{"c331-log", "99999999999999999999"}, "error usage: c331-log"},
        {{"c331-hold", "0x010101", "-0"}, "error usage: c331-hold"},
        {{"c331-frame-hz", "-18446744073709551615"}, "error usage: c331-frame-hz"},
        {{"fpga-clock", "-4294967295"}, "error usage: fpga-clock"},
        {{"fpga-reg", "0", "+1"}, "error usage: fpga-reg"},
        {{"av-nak", "48junk", "off"}, "error usage: av-nak"},
        {{"mem-read", "-0"}, "error usage: mem-read"},
        // Switches name themselves.
        {{"shell-eth0", "on", "extra"}, "error usage: shell-eth0 on|off; takes 1 argument, not 2\n"},
        {{"c331-silent", "on", "x"}, "error usage: c331-silent on|off; takes 1 argument, not 2\n"},
        // A card that is not on the port.
        {{"card-silent", "2", "5", "on"}, "error card 5 is not on port 2, which has 2 cards (0 to 1)"},
        {{"card-silent", "1", "0", "on"}, "error card 0 is not on port 1, which has no cards"},
    };
    for (const auto& c : refused) {
        const Outcome r = zdrsim(c.first);
        EXPECT_EQ(r.status, 1) << describe(c.first, r);
        EXPECT_EQ(r.out.rfind(c.second, 0), 0u) << describe(c.first, r);
    }
    // Nothing was stored.
    const Outcome after = zdrsim({"store-read", "block", "0", "4"});
    EXPECT_EQ(after.out, before.out);

    // An unknown command is named; help names each command once.
    Outcome unknown = zdrsim({"tics"});
    EXPECT_EQ(unknown.status, 1);
    EXPECT_EQ(unknown.out, "error unknown command tics (help lists the commands)\n");
    const Outcome help = zdrsim({"help"});
    ASSERT_EQ(help.status, 0);
    int lines = 0;
    for (const QString& line : QString::fromStdString(help.out).split('\n', Qt::SkipEmptyParts)) {
        const int colon = line.indexOf(": ");
        if (colon < 0)
            continue;
        ++lines;
        const QString name = line.left(colon);
        const QString text = line.mid(colon + 2);
        EXPECT_FALSE(text.startsWith(name + ":") || text.startsWith(name + " ")) << line.toStdString();
    }
    EXPECT_GT(lines, 50) << help.out;

    // The answers of the commands taken stay as they were.
    Outcome r = zdrsim({"ping"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "ok\n");
    r = zdrsim({"idle-times", "18000", "30000"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "ok\n");
    r = zdrsim({"page-focus"});
    EXPECT_EQ(r.out, "0\nok\n");
    r = zdrsim({"store-read", "status", "0x0", "1"});
    EXPECT_EQ(r.status, 0) << describe({"store-read"}, r);
    EXPECT_EQ(r.out.size(), 6u) << r.out;   // two hex digits, then "ok"
    const AppRunner::LinkPorts ports = app.linkPorts();
    r = zdrsim({"link-ports"});
    EXPECT_EQ(r.out, "udp " + std::to_string(ports.udp) + " tcp " + std::to_string(ports.tcp) + " at " +
                         std::to_string(ports.at) + "\nok\n");

    // zdrlink on the WiFi AT channel: an ERROR answer is a failure;
    // localhost is 127.0.0.1.
    const std::string at = std::to_string(ports.at);
    r = run({kZdrlink, "--at", at, "AT+BOGUS"});
    EXPECT_EQ(r.out, "ERROR\r\n") << describe({"--at", at, "AT+BOGUS"}, r);
    EXPECT_EQ(r.status, 1) << describe({"--at", at, "AT+BOGUS"}, r);
    r = run({kZdrlink, "--host", "localhost", "--at", at, "AT+GETVER"});
    EXPECT_EQ(r.status, 0) << describe({"--host", "localhost", "--at", at, "AT+GETVER"}, r);
    EXPECT_EQ(r.out.substr(r.out.size() >= 4 ? r.out.size() - 4 : 0), "OK\r\n") << r.out;
    // A refusal that comes back names what was refused and why, from what
    // was sent ("raw" sends what zdrlink itself refuses); the status stays
    // as the protocol gives it.
    const std::string udp = std::to_string(ports.udp);
    const std::vector<std::pair<std::vector<std::string>, std::string>> refusals = {
        {{"--host", "LOCALHOST", "--card", "raw", "0x61", "0000000004000000"},
         "the sending card refused it: address 0x0 is in page 0x0, which the sending card does not have (the "
         "page is in bits 12 to 19"},
        {{"--card", "raw", "0xA0", "AB00FF01"}, "register 171: the sending card takes writes to registers 0 to 170"},
        {{"raw", "0x61", "FA0F000010000000"}, "the processor refused it: 16 bytes at 4090 (0xFFA) pass the end"},
        {{"raw", "0x61", "0000000000000000"}, "the processor refused it: a read of 0 bytes"},
        {{"raw", "0x60", "FF0F0000020000000102"}, "the processor refused it: 2 bytes at 4095 (0xFFF) pass the end"},
        {{"raw", "0xB0", "C8000100"}, "the processor refused it: item 200 is no parameter item"},
        {{"raw", "0x82", "C0A80102FF00FF00C0A801010000"}, "the processor refused it: mask 255.0.255.0 is not"},
        {{"raw", "0x90", "014142434404000000"}, "the processor refused it: upload type 1 takes the tag APPL, not ABCD"},
        {{"items", "4", "0", "5"}, "item 4 (load user mode) 5: the processor loads a user mode only when it is saved"},
    };
    for (const auto& c : refusals) {
        std::vector<std::string> argv = {kZdrlink, "--udp", udp};
        argv.insert(argv.end(), c.first.begin(), c.first.end());
        r = run(argv);
        EXPECT_EQ(r.status, 1) << describe(argv, r);
        EXPECT_NE(r.out.find("status 1 (refused)"), std::string::npos) << describe(argv, r);
        EXPECT_NE(r.err.find(c.second), std::string::npos) << describe(argv, r);
    }
    // --root finds the board's ports itself: its UDP port, or the one
    // "board" names (of ZDR_BOARD_ROOT's board without --root).
    for (const std::vector<std::string>& a :
         {std::vector<std::string>{kZdrlink, "--root", app.root(), "read-ram", "0", "2"},
          std::vector<std::string>{kZdrlink, "--tcp", "board", "read-ram", "0", "2"},
          std::vector<std::string>{kZdrlink, "--root", app.root(), "--at", "board", "AT+GETVER"}}) {
        r = run(a, env);
        EXPECT_EQ(r.status, 0) << describe(a, r);
    }
    r = run({kZdrlink, "--root", app.root(), "--udp", udp, "info"});
    EXPECT_EQ(r.status, 2) << describe({"--root", app.root(), "--udp", udp, "info"}, r);
    EXPECT_NE(r.err.find("--root finds the board's ports: give --udp board, or leave --root out"), std::string::npos)
        << r.err;
    r = run({kZdrlink, "--udp", udp, "--card", "read-ram", "0x1000", "4"});
    EXPECT_EQ(r.status, 0) << describe({"--card", "read-ram", "0x1000", "4"}, r);
    // The device information, each field named.
    r = run({kZdrlink, "--udp", udp, "info"});
    EXPECT_EQ(r.status, 0) << describe({"info"}, r);
    for (const char* field : {"\ndevice id:     ", "\nIP address:    ", "\nsubnet mask:   ", "\ngateway:       ",
                              "\nTCP port:      5005\n", "\nWiFi address:  ", "\nMAC address:   "})
        EXPECT_NE(r.out.find(field), std::string::npos) << field << r.out;

    // SIGTERM ends the program cleanly: exit status 0, and its control
    // socket goes with it.
    const std::string socket = app.root() + "/sim/control.sock";
    ASSERT_TRUE(exists(socket));
    ASSERT_EQ(::kill(static_cast<pid_t>(app.pid()), SIGTERM), 0);
    EXPECT_EQ(app.waitForExit(20000), 0) << app.output().toStdString();
    EXPECT_FALSE(exists(socket));
}

TEST(ToolsCommandLine, ARebootAskedByThePcLeavesCleanly)
{
    AppRunner app;
    ASSERT_TRUE(app.start()) << app.output().toStdString();
    const std::vector<std::pair<std::string, std::string>> env = {{"ZDR_BOARD_ROOT", app.root()}};
    // A client of the control channel that has come and gone.
    ASSERT_EQ(run({kZdrsim, "ping"}, env).status, 0);
    const std::string udp = std::to_string(app.linkPort("udp"));
    const std::vector<std::string> argv = {kZdrlink, "--udp", udp, "write-reg", "161", "1", "1"};
    const Outcome r = run(argv);
    EXPECT_EQ(r.status, 0) << describe(argv, r);
    // The program leaves with status 0 (under ThreadSanitizer: with no
    // thread left unjoined) and takes its control socket with it.
    EXPECT_EQ(app.waitForExit(60000), 0) << app.output().toStdString();
    EXPECT_FALSE(exists(app.root() + "/sim/control.sock"));

    // SIGTERM during the pause before start-up (here ten minutes) ends the
    // program at once, with status 0 and its control socket removed.
    AppRunner settling;
    settling.setEnv("ZDR_SIM_SETTLE_MS", "600000");
    ASSERT_TRUE(settling.launch()) << settling.output().toStdString();
    const std::string socket = settling.root() + "/sim/control.sock";
    ASSERT_TRUE(waitFor([&] { return exists(socket); }, 20000)) << settling.output().toStdString();
    ASSERT_EQ(::kill(static_cast<pid_t>(settling.pid()), SIGTERM), 0);
    EXPECT_EQ(settling.waitForExit(20000), 0) << settling.output().toStdString();
    EXPECT_FALSE(exists(socket));
}

TEST(ToolsCommandLine, ProgramAndPainterAnswerHelpAndStartNothing)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const std::string work = dir.path().toStdString();
    const std::string root = work + "/root";
    const std::vector<std::pair<std::string, std::string>> env = {
        {"ZDR_BOARD_ROOT", root}, {"QT_QPA_PLATFORM", "offscreen"}, {"ZDR_SIM_EPHEMERAL_PORTS", "1"}};

    for (const char* h : {"--help", "-h"}) {
        const Outcome r = run({kApp, h}, env, work, 20000);
        EXPECT_EQ(r.status, 0) << describe({kApp, h}, r);
        for (const char* word : {"usage: zdrK47N", "-platform", "linuxfb", "offscreen", "ZDR_BOARD_ROOT",
                                 "ZDR_SIM_SETTLE_MS", "ZDR_SIM_EPHEMERAL_PORTS", "ZDR_SIM_START_COMMANDS"})
            EXPECT_NE(r.out.find(word), std::string::npos) << word << "\n" << r.out;
        // The build's own board is the default root.
        EXPECT_NE(r.out.find("/board)"), std::string::npos) << r.out;
    }
    const std::vector<std::pair<std::vector<std::string>, std::string>> refused = {
        {{"--bogus"}, "--bogus is not taken"},
        {{"-platform", "offscreen", "extra"}, "extra is not taken"},
        {{"-platform"}, "-platform needs a value"},
    };
    for (const auto& c : refused) {
        std::vector<std::string> argv = {kApp};
        argv.insert(argv.end(), c.first.begin(), c.first.end());
        const Outcome r = run(argv, env, work, 20000);
        EXPECT_EQ(r.status, 2) << describe(argv, r);
        EXPECT_NE(r.err.find(c.second), std::string::npos) << describe(argv, r);
    }
    // Settings from the environment that the program does not take: a
    // pause that is no whole number of milliseconds from 0 to 600000, a
    // port choice other than 0 or 1.
    const std::vector<std::pair<std::pair<std::string, std::string>, std::string>> settings = {
        {{"ZDR_SIM_SETTLE_MS", "-5"}, "ZDR_SIM_SETTLE_MS must be a whole number of milliseconds from 0 to 600000, "
                                      "not '-5'"},
        {{"ZDR_SIM_SETTLE_MS", "abc"}, "not 'abc'"},
        {{"ZDR_SIM_SETTLE_MS", "99999999999"}, "not '99999999999'"},
        {{"ZDR_SIM_SETTLE_MS", "600001"}, "not '600001'"},
        {{"ZDR_SIM_SETTLE_MS", "10ms"}, "not '10ms'"},
        {{"ZDR_SIM_SETTLE_MS", "+5"}, "not '+5'"},
        {{"ZDR_SIM_EPHEMERAL_PORTS", "2"}, "ZDR_SIM_EPHEMERAL_PORTS must be 0 or 1, not '2'"},
        {{"ZDR_SIM_EPHEMERAL_PORTS", "yes"}, "ZDR_SIM_EPHEMERAL_PORTS must be 0 or 1, not 'yes'"},
    };
    for (const auto& c : settings) {
        auto withSetting = env;
        withSetting.push_back(c.first);
        const Outcome r = run({kApp}, withSetting, work, 10000);
        const std::string what = c.first.first + "=" + c.first.second;
        EXPECT_EQ(r.status, 2) << describe({what, kApp}, r);
        EXPECT_EQ(r.err.rfind("zdrK47N: " + c.first.first + " must be ", 0), 0u) << describe({what, kApp}, r);
        EXPECT_NE(r.err.find(c.second), std::string::npos) << describe({what, kApp}, r);
    }
    // Nothing started: no board root was laid out.
    EXPECT_FALSE(exists(root));

    const Outcome help = run({kPainter, "--help"}, {}, work);
    EXPECT_EQ(help.status, 0) << describe({kPainter, "--help"}, help);
    EXPECT_EQ(help.out.rfind("usage: zdr_png_painter", 0), 0u) << help.out;
    for (const std::vector<std::string>& argv :
         {std::vector<std::string>{kPainter}, {kPainter, "-x"}, {kPainter, work + "/a", work + "/b"}}) {
        const Outcome r = run(argv, {}, work);
        EXPECT_EQ(r.status, 2) << describe(argv, r);
        EXPECT_NE(r.err.find("usage: zdr_png_painter"), std::string::npos) << describe(argv, r);
    }
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden), QStringList());
}

// A socket on 127.0.0.1 at a port, as another program holds it (UDP with
// SO_REUSEADDR, as a program willing to share sets it; TCP listening); -1
// when the port is already held by someone else (it is taken all the same).
static int holdPort(int type, unsigned short port)
{
    const int fd = ::socket(AF_INET, type | SOCK_CLOEXEC, 0);
    const int one = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof(one));
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(port);
    if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) != 0 ||
        (type == SOCK_STREAM && ::listen(fd, 1) != 0)) {
        ::close(fd);
        return -1;
    }
    return fd;
}

TEST(ToolsCommandLine, ProgramOnTheDevicePortsStopsWhenAnotherProgramHoldsOne)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const std::string work = dir.path().toStdString();
    const std::vector<std::pair<std::string, std::string>> env = {
        {"ZDR_BOARD_ROOT", work + "/root"}, {"QT_QPA_PLATFORM", "offscreen"}, {"ZDR_SIM_EPHEMERAL_PORTS", "0"}};
    // UDP 5008 held (even by a program that would share it): the program
    // names it and stops.
    {
        const int held = holdPort(SOCK_DGRAM, 5008);
        const Outcome r = run({kApp}, env, work, 30000);
        if (held >= 0)
            ::close(held);
        EXPECT_EQ(r.status, 1) << describe({kApp}, r);
        EXPECT_NE(r.err.find("zdrK47N: UDP port 5008 cannot be opened"), std::string::npos) << describe({kApp}, r);
    }
    // TCP 5005 held.
    {
        const int held = holdPort(SOCK_STREAM, 5005);
        const Outcome r = run({kApp}, env, work, 30000);
        if (held >= 0)
            ::close(held);
        EXPECT_EQ(r.status, 1) << describe({kApp}, r);
        EXPECT_NE(r.err.find("zdrK47N: TCP port 5005 cannot be opened"), std::string::npos) << describe({kApp}, r);
    }
    // Either way the program that stopped took its control socket with it.
    EXPECT_FALSE(exists(work + "/root/sim/control.sock"));
}

TEST(ToolsCommandLine, ScriptsAnswerHelpAndRefuseWhatTheyDoNotTake)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const std::string work = dir.path().toStdString();
    // Were a script to go on, it would build here.
    const std::vector<std::pair<std::string, std::string>> env = {{"ZDR_BUILD_DIR", work + "/build"},
                                                                  {"ZDR_FUZZ_BUILD_DIR", work + "/fuzz"},
                                                                  {"ZDR_SANITIZE_BUILD_DIR", work + "/sanitize"},
                                                                  {"ZDR_SOAK_BUILD_DIR", work + "/soak"},
                                                                  {"ZDR_BOARD_ROOT", work + "/root"}};

    for (const char* script : {"build", "test", "run-sim", "fuzz", "sanitize", "soak", "install-deps", "bench-pair"}) {
        for (const char* h : {"--help", "-h"}) {
            const std::vector<std::string> argv = {"/bin/bash", kScripts + script + ".sh", h};
            const Outcome r = run(argv, env, work);
            EXPECT_EQ(r.status, 0) << describe(argv, r);
            EXPECT_EQ(r.out.rfind(std::string("usage: scripts/") + script + ".sh", 0), 0u) << describe(argv, r);
        }
    }
    const std::vector<std::pair<std::vector<std::string>, std::string>> refused = {
        {{"build", "-x"}, "not a target name: '-x'"},
        {{"test", "x"}, "takes no arguments"},
        {{"install-deps", "x"}, "takes no arguments"},
        {{"run-sim", "--bogus"}, "unknown option --bogus"},
        {{"run-sim", "a", "b"}, "one board root at most"},
        {{"fuzz", "0"}, "from 1 to 86400"},
        {{"fuzz", "86401"}, "from 1 to 86400"},
        {{"fuzz", "ten"}, "from 1 to 86400"},
        {{"fuzz", "--bogus"}, "from 1 to 86400"},
        {{"fuzz", "10", "20"}, "one argument"},
        {{"sanitize"}, "address or thread"},
        {{"sanitize", "memory"}, "address or thread"},
        {{"sanitize", "address", "x"}, "one argument"},
        {{"soak", "0"}, "from 1 to 86400"},
        {{"soak", "86401"}, "from 1 to 86400"},
        {{"soak", "--bogus"}, "from 1 to 86400"},
        {{"soak", "60", "memory"}, "address, thread or none"},
        {{"soak", "60", "thread", "x"}, "two arguments at most"},
        {{"bench-pair"}, "usage: scripts/bench-pair.sh"},
        {{"bench-pair", "/bin/true"}, "two benchmark binaries"},
        {{"bench-pair", "/bin/true", work + "/zdr_bench"}, "'" + work + "/zdr_bench' is not an executable file"},
        {{"bench-pair", "/bin/true", "/bin/true", "ten"}, "rounds must be a whole number from 1 to 1000, not 'ten'"},
        {{"bench-pair", "/bin/true", "/bin/true", "1001"}, "from 1 to 1000"},
        {{"bench-pair", "/bin/true", "/bin/true", "3", "noisy"}, "quiet, busy or core-each, not 'noisy'"},
    };
    for (const auto& c : refused) {
        std::vector<std::string> argv = {"/bin/bash", kScripts + c.first[0] + ".sh"};
        argv.insert(argv.end(), c.first.begin() + 1, c.first.end());
        const Outcome r = run(argv, env, work);
        EXPECT_EQ(r.status, 2) << describe(argv, r);
        EXPECT_NE(r.err.find(c.second), std::string::npos) << describe(argv, r);
    }
    // bench-pair pairs the figures both builds printed: it fails when there
    // are none, and names a row only one build has.
    auto bench = [&](const std::string& name, const std::string& rows) {
        QFile f(QString::fromStdString(work + "/" + name));
        EXPECT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(("#!/bin/sh\nprintf '" + rows + "'\n").c_str());
        f.close();
        f.setPermissions(f.permissions() | QFileDevice::ExeOwner);
        return work + "/" + name;
    };
    const std::string echo = "BM_UdpRamReadVsEcho 9 us 9 us 1 link_median_us=50\\n";
    const std::string older = bench("older", echo);
    for (const auto& c : {std::make_pair(bench("none", ""), "no figure was compared"),
                          std::make_pair(bench("newer", echo + "BM_UdpPollingPc/1/real_time 9 ms 9 ms 3 replies_per_s=49"),
                                         "BM_UdpPollingPc replies_per_s (only the second build printed it)")}) {
        const std::vector<std::string> argv = {"/bin/bash", kScripts + "bench-pair.sh", older, c.first, "1"};
        const Outcome b = run(argv, env, work);
        EXPECT_EQ(b.status, c.first == work + "/none" ? 1 : 0) << describe(argv, b);
        EXPECT_NE(b.err.find(c.second), std::string::npos) << describe(argv, b);
    }

    // The fuzz time of the test command is checked before anything runs.
    auto zeroFuzz = env;
    zeroFuzz.emplace_back("ZDR_FUZZ_SECONDS", "0");
    const Outcome r = run({"/bin/bash", kScripts + "test.sh"}, zeroFuzz, work);
    EXPECT_EQ(r.status, 2) << describe({"test.sh"}, r);
    EXPECT_NE(r.err.find("ZDR_FUZZ_SECONDS"), std::string::npos) << describe({"test.sh"}, r);

    // The cap on parallel jobs, read by every script that builds or runs
    // tests, is checked before anything runs.
    const std::vector<std::pair<std::vector<std::string>, std::string>> jobs = {
        {{"build"}, "0"}, {{"test"}, "x"}, {{"fuzz", "5"}, "1025"}, {{"sanitize", "thread"}, "-1"}, {{"soak"}, "08"}};
    for (const auto& c : jobs) {
        auto capped = env;
        capped.emplace_back("ZDR_JOBS", c.second);
        std::vector<std::string> argv = {"/bin/bash", kScripts + c.first[0] + ".sh"};
        argv.insert(argv.end(), c.first.begin() + 1, c.first.end());
        const Outcome j = run(argv, capped, work);
        EXPECT_EQ(j.status, 2) << describe(argv, j);
        EXPECT_NE(j.err.find(c.first[0] + ": ZDR_JOBS must be a whole number from 1 to 1024, not '" + c.second + "'"),
                  std::string::npos)
            << describe(argv, j);
    }
    auto soakJobs = env;
    soakJobs.emplace_back("ZDR_SOAK_JOBS", "0");
    const Outcome k = run({"/bin/bash", kScripts + "soak.sh"}, soakJobs, work);
    EXPECT_EQ(k.status, 2) << describe({"soak.sh"}, k);
    EXPECT_NE(k.err.find("ZDR_SOAK_JOBS must be"), std::string::npos) << describe({"soak.sh"}, k);

    for (const char* made : {"/build", "/fuzz", "/sanitize", "/soak", "/root"})
        EXPECT_FALSE(exists(work + made)) << made;
}

TEST(ToolsCommandLine, FuzzStepFailsWithoutClang)
{
    // A PATH with the shell and the few programs the scripts need, but no
    // clang: the fuzz step must fail, not pass without a run.
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const std::string bin = dir.path().toStdString() + "/bin";
    ASSERT_TRUE(QDir().mkpath(QString::fromStdString(bin)));
    for (const char* tool : {"bash", "dirname", "dpkg-query", "grep", "id"}) {
        std::string found;
        for (const char* d : {"/usr/bin/", "/bin/"}) {
            if (found.empty() && ::access((std::string(d) + tool).c_str(), X_OK) == 0)
                found = std::string(d) + tool;
        }
        ASSERT_FALSE(found.empty()) << tool;
        ASSERT_EQ(::symlink(found.c_str(), (bin + "/" + tool).c_str()), 0) << tool;
    }
    const std::string work = dir.path().toStdString();
    const std::vector<std::string> argv = {"/bin/bash", kScripts + "fuzz.sh", "5"};
    const Outcome r = run(argv, {{"PATH", bin}, {"ZDR_FUZZ_BUILD_DIR", work + "/fuzz"}}, work);
    EXPECT_EQ(r.status, 1) << describe(argv, r);
    EXPECT_NE(r.err.find("clang++ not found"), std::string::npos) << describe(argv, r);
    EXPECT_FALSE(exists(work + "/fuzz"));
}

TEST(SourceIndex, ChipManagerHeaderNamesEveryFileOfVideochip)
{
    QFile header(QString(ZDR_SOURCE_DIR) + "/videochip/c331_manage.h");
    ASSERT_TRUE(header.open(QIODevice::ReadOnly));
    // The index is the comment block at the top.
    QString index;
    for (QString line = header.readLine(); line.startsWith("//"); line = header.readLine())
        index += line;
    const QStringList files = QDir(QString(ZDR_SOURCE_DIR) + "/videochip").entryList({"*.cpp", "*.h"}, QDir::Files);
    ASSERT_GT(files.size(), 10);
    for (const QString& f : files) {
        const QString base = f.left(f.lastIndexOf('.'));
        const QString ext = f.mid(f.lastIndexOf('.'));
        // "name.cpp", or "name.h/.cpp" for a pair.
        const bool named = index.contains(f) || (ext == ".cpp" && index.contains(base + ".h/.cpp"));
        EXPECT_TRUE(named) << f.toStdString() << " is missing from the index of c331_manage.h";
    }
}

TEST(SourceIndex, ReadmeGivesTheRebootDelayTheCodeKeeps)
{
    // A reboot asked by the PC waits 300 ticks of the 10 ms tick, counted
    // on the tick thread, run by the GUI thread's timer: no fixed number of
    // seconds.
    for (const char* doc : {"/README.md", "/docs/protocol.md"}) {
        QFile f(QString(ZDR_SOURCE_DIR) + doc);
        ASSERT_TRUE(f.open(QIODevice::ReadOnly)) << doc;
        const QString text = QString::fromUtf8(f.readAll()).simplified();
        EXPECT_TRUE(text.contains("reboot` 300 ticks of the program's 10 ms tick") ||
                    text.contains("reboot 300 ticks of the 10 ms tick later"))
            << doc;
        EXPECT_FALSE(text.contains("about 3 s later")) << doc;
        EXPECT_FALSE(text.contains("restarts about 3 s")) << doc;
    }
}
