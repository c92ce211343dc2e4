// The transports in the process: requests and replies over the serial
// ports (pseudo-terminals of the simulated board), TCP and UDP on
// 127.0.0.1, with frames split and mixed as the streams deliver them.
#include "support/board_clock.h"
#include "support/link_fixture.h"

#include "core/le_bytes.h"
#include "core/para_layout.h"
#include "link/k47_wifi_config.h"
#include "link/link_global.h"
#include "link/link_io.h"
#include "link/networkmanage.h"
#include "link/passthrough_line.h"
#include "link/tcpserver.h"
#include "link/uart_inout.h"
#include "link/uart_inout_4G.h"
#include "link/udpnetmanage.h"
#include "videochip/c331_manage.h"
#include "platform/clock.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <future>
#include <memory>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sstream>
#include <sys/socket.h>
#include <unistd.h>
#include <thread>
#include <vector>

using namespace pcclient;

namespace {

Bytes readRequest(uint32_t address, uint16_t count)
{
    return frameBody(buildBody(kProcessor, 0x61, ramReadPayload(address, count)));
}

// A PC that shuts down its sending side once it has sent its requests, and
// reads on; or resets its connection.
class HalfClosingTcpLink : public TcpLink {
public:
    bool shutdownSending() { return ::shutdown(m_fd, SHUT_WR) == 0; }
    void reset()
    {
        const linger now{1, 0};
        ::setsockopt(m_fd, SOL_SOCKET, SO_LINGER, &now, sizeof(now));
        closeFd();
    }
};

// The CPU time (ms) this process's TCP link workers have taken.
long tcpWorkersCpuMs()
{
    long ticks = 0;
    for (const auto& task : std::filesystem::directory_iterator("/proc/self/task")) {
        std::string stat, skip;
        std::getline(std::ifstream(task.path() / "stat"), stat);
        if (stat.find("(tcp-") == std::string::npos)
            continue;
        // After the name: the state (field 3), ..., utime (14), stime (15).
        std::istringstream fields(stat.substr(stat.rfind(')') + 2));
        long utime = 0, stime = 0;
        for (int field = 3; field < 14; ++field)
            fields >> skip;
        fields >> utime >> stime;
        ticks += utime + stime;
    }
    return ticks * 1000 / ::sysconf(_SC_CLK_TCK);
}

// A transport that carries nothing: the pass-through line is all it meets.
class QuietTransport : public link_transport {
public:
    unsigned char passby_code() const override { return 2; }
    bool reply_list_ready() override { return false; }
    void send_reply_list() override {}
    void queue_reply(const unsigned char*, int) override {}
};

} // namespace

using LinkTransports = LinkTest;

TEST_F(LinkTransports, SerialPortsAnswerOnTheirOwnPort)
{
    setLe16(ParaWriteLock().block(), para::kLedWidth, 0x1234);
    Kq_uart_inout rs485;
    Kq_uart_inout_4G g4;
    ASSERT_TRUE(rs485.start(115200));
    ASSERT_TRUE(g4.start(115200));
    EXPECT_EQ(rs485.passby_code(), 1);
    EXPECT_EQ(g4.passby_code(), 4);

    for (const char* node : {"/dev/ttyS2", "/dev/ttyS1"}) {
        SerialLink peer;
        ASSERT_TRUE(peer.open(hostPath(node))) << node;
        // Noise, then the request in three pieces.
        const Bytes req = readRequest(para::kLedWidth, 2);
        const Bytes noise{0x00, 0x5A, 0xA5, 0x11};
        ASSERT_TRUE(peer.sendRaw(noise));
        ASSERT_TRUE(peer.sendRaw(req.data(), 5));
        ASSERT_TRUE(peer.sendRaw(req.data() + 5, 7));
        ASSERT_TRUE(peer.sendRaw(req.data() + 12, req.size() - 12));
        Reply r;
        ASSERT_TRUE(peer.receive(r, 3000)) << node;
        EXPECT_EQ(r.command, 0x61);
        EXPECT_EQ(r.src, kProcessor);
        EXPECT_EQ(r.data, (Bytes{0x34, 0x12}));
    }
    EXPECT_EQ(pc_cmd_valid.load(), 1);
}

TEST_F(LinkTransports, FramesForOthersAndPassThroughGetNoReply)
{
    Kq_uart_inout rs485;
    ASSERT_TRUE(rs485.start(115200));
    SerialLink peer;
    ASSERT_TRUE(peer.open(hostPath("/dev/ttyS2")));
    // Another device on the bus, a frame for the receiving cards, a frame
    // with a bad check byte, then a request: the first reply is the
    // request's.
    Bytes bad = buildBody(kProcessor, 0x80, Bytes{});
    bad.back() ^= 0xFF;
    ASSERT_TRUE(peer.sendRaw(frameBody(buildBody(0xF002, 0x80, Bytes{}))));
    ASSERT_TRUE(peer.sendRaw(frameBody(buildBody(0x0FFF, 0x61, ramReadPayload(0, 4)))));
    ASSERT_TRUE(peer.sendRaw(frameBody(bad)));
    ASSERT_TRUE(peer.sendRaw(frameBody(buildBody(kProcessor, 0xA1, regReadPayload(37, 1)))));
    Reply r;
    ASSERT_TRUE(peer.receive(r, 3000));
    EXPECT_EQ(r.command, 0xA1);
    EXPECT_EQ(r.data, Bytes{0x80});
}

TEST_F(LinkTransports, TcpConnectionsKeepTheirOwnStreams)
{
    networkManage tcp(0);
    ASSERT_NE(tcp.port(), 0);
    EXPECT_EQ(tcp.passby_code(), 2);
    TcpLink a, b;
    ASSERT_TRUE(a.open("127.0.0.1", tcp.port()));
    ASSERT_TRUE(b.open("127.0.0.1", tcp.port()));
    ParaWriteLock().block()[100] = 0xA1;
    ParaWriteLock().block()[200] = 0xB2;
    const Bytes ra = readRequest(100, 1), rb = readRequest(200, 1);
    // A's request arrives in two pieces with all of B's in between.
    ASSERT_TRUE(a.sendRaw(ra.data(), 6));
    Reply r;
    ASSERT_TRUE(b.request(kProcessor, 0x61, ramReadPayload(200, 1), r));
    EXPECT_EQ(r.data, Bytes{0xB2});
    ASSERT_TRUE(a.sendRaw(ra.data() + 6, ra.size() - 6));
    ASSERT_TRUE(a.receive(r, 3000));
    EXPECT_EQ(r.data, Bytes{0xA1});
    // Two requests in one write get two replies.
    Bytes two = rb;
    two.insert(two.end(), ra.begin(), ra.end());
    ASSERT_TRUE(b.sendRaw(two));
    ASSERT_TRUE(b.receive(r, 3000));
    EXPECT_EQ(r.data, Bytes{0xB2});
    ASSERT_TRUE(b.receive(r, 3000));
    EXPECT_EQ(r.data, Bytes{0xA1});
}

TEST_F(LinkTransports, TcpServesTheRequestsSentWithThePcsFin)
{
    networkManage tcp(0);
    ASSERT_NE(tcp.port(), 0);
    // A register write, then the PC's FIN at once (they come in one read),
    // ten times: each is served and answered.
    for (unsigned char i = 1; i <= 10; ++i) {
        HalfClosingTcpLink pc;
        ASSERT_TRUE(pc.open("127.0.0.1", tcp.port()));
        const Bytes req = frameBody(buildBody(kProcessor, 0x60, ramWritePayload(2182, Bytes{i, 0x00})));
        ASSERT_TRUE(pc.sendRaw(req));
        ASSERT_TRUE(pc.shutdownSending());
        Reply r;
        ASSERT_TRUE(pc.receive(r, 3000)) << "write " << int(i);
        EXPECT_EQ(r.command, 0x60);
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(store->ram_para[2182], i);
    }
    // Two requests and the FIN in one write: both answered, in order.
    ParaWriteLock().block()[100] = 0xA1;
    ParaWriteLock().block()[200] = 0xB2;
    HalfClosingTcpLink pc;
    ASSERT_TRUE(pc.open("127.0.0.1", tcp.port()));
    Bytes two = readRequest(100, 1);
    const Bytes second = readRequest(200, 1);
    two.insert(two.end(), second.begin(), second.end());
    ASSERT_TRUE(pc.sendRaw(two));
    ASSERT_TRUE(pc.shutdownSending());
    Reply r;
    ASSERT_TRUE(pc.receive(r, 3000));
    EXPECT_EQ(r.data, Bytes{0xA1});
    ASSERT_TRUE(pc.receive(r, 3000));
    EXPECT_EQ(r.data, Bytes{0xB2});
}

TEST_F(LinkTransports, AReplyThatIsNotTakenIsGivenUpAtItsBound)
{
    // A connection accepted as the TCP transport accepts it, whose PC never
    // reads: writing 16 MiB given 0.3 s ends when that time is up, however
    // the socket was made (its own send time-out would add seconds).
    TcpServer server;
    ASSERT_TRUE(server.listen(0, 1));
    TcpLink pc;
    ASSERT_TRUE(pc.open("127.0.0.1", server.port()));
    int fd = -1;
    ASSERT_TRUE(waitFor([&] { return (fd = server.accept()) >= 0; }, 3000));
    std::vector<unsigned char> big(16 << 20, 0x55);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(link_write_all(fd, big.data(), big.size(), start + std::chrono::milliseconds(300)));
    const auto tookMs =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
    EXPECT_LT(tookMs, 1500);
    ::close(fd);

    // A PC that starts taking the reply after 1.5 s, within the 3 s, gets
    // it all.
    TcpLink late;
    ASSERT_TRUE(late.open("127.0.0.1", server.port()));
    ASSERT_TRUE(waitFor([&] { return (fd = server.accept()) >= 0; }, 3000));
    std::atomic<size_t> taken{0};
    std::thread reader([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(1500));
        std::vector<unsigned char> buffer(1 << 20);
        for (long n; taken < big.size() && (n = late.receiveRaw(buffer.data(), buffer.size(), 3000)) > 0;)
            taken += static_cast<size_t>(n);
    });
    EXPECT_TRUE(link_write_all(fd, big.data(), big.size()));
    reader.join();
    EXPECT_EQ(taken.load(), big.size());
    ::close(fd);
}

TEST_F(LinkTransports, TcpIsNotShutOutBySilentOrSlowClients)
{
    networkManage tcp(0);
    ASSERT_NE(tcp.port(), 0);
    ParaWriteLock().block()[100] = 0xA1;
    Reply r;

    // 32 connections left open and silent: a PC still gets in once they
    // have been silent 30 s (the board's clock runs 100 times faster).
    std::vector<std::unique_ptr<TcpLink>> silent;
    for (int i = 0; i < networkManage::kMaxClients; ++i) {
        silent.push_back(std::make_unique<TcpLink>());
        ASSERT_TRUE(silent.back()->open("127.0.0.1", tcp.port()));
    }
    {
        TcpLink early;
        ASSERT_TRUE(early.open("127.0.0.1", tcp.port()));
        EXPECT_FALSE(early.request(kProcessor, 0x61, ramReadPayload(100, 1), r, 500)) << "refused while all are fresh";
    }
    {
        BoardClockSpeed fast(100);
        std::this_thread::sleep_for(std::chrono::milliseconds(400));
        TcpLink late;
        ASSERT_TRUE(late.open("127.0.0.1", tcp.port()));
        ASSERT_TRUE(late.request(kProcessor, 0x61, ramReadPayload(100, 1), r, 3000));
        EXPECT_EQ(r.data, Bytes{0xA1});
    }
    silent.clear();

    // A client that asks for much and reads a little now and then is let
    // go after a bounded time; another PC is answered meanwhile.
    TcpLink slow;
    ASSERT_TRUE(slow.open("127.0.0.1", tcp.port()));
    Bytes many;
    for (int i = 0; i < 4000; ++i) {   // 16 MiB of replies, more than the sockets hold
        const Bytes one = readRequest(0, 4096);
        many.insert(many.end(), one.begin(), one.end());
    }
    ASSERT_TRUE(slow.sendRaw(many));
    std::atomic<bool> stop{false};
    std::thread trickle([&] {
        std::vector<unsigned char> buffer(65536);
        while (!stop) {
            slow.receiveRaw(buffer.data(), buffer.size(), 100);
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
        }
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    TcpLink other;
    ASSERT_TRUE(other.open("127.0.0.1", tcp.port()));
    const bool answered = other.request(kProcessor, 0x61, ramReadPayload(100, 1), r, 8000);
    stop = true;
    trickle.join();
    ASSERT_TRUE(answered);
    EXPECT_EQ(r.data, Bytes{0xA1});

    // A PC with a small receive buffer asks for 64 replies of 4 KiB, shuts
    // down its sending side with the last request and never reads: its
    // window fills with the first reply and nothing moves any more. It is
    // let go 3 s after that, and its place, one of the 32, is free for
    // another PC.
    networkManage full(0);
    ASSERT_NE(full.port(), 0);
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    ASSERT_GE(fd, 0);
    const int smallBuffer = 2048, on = 1;
    ASSERT_EQ(::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &smallBuffer, sizeof(smallBuffer)), 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(full.port());
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::connect(fd, reinterpret_cast<const sockaddr*>(&to), sizeof(to)), 0);
    // The requests and the FIN leave together.
    ASSERT_EQ(::setsockopt(fd, IPPROTO_TCP, TCP_CORK, &on, sizeof(on)), 0);
    Bytes sixtyFour;
    for (int i = 0; i < 64; ++i) {
        const Bytes one = readRequest(0, 4096);
        sixtyFour.insert(sixtyFour.end(), one.begin(), one.end());
    }
    ASSERT_TRUE(link_write_all(fd, sixtyFour.data(), sixtyFour.size()));
    ASSERT_EQ(::shutdown(fd, SHUT_WR), 0);
    const auto sent = std::chrono::steady_clock::now();
    std::vector<std::unique_ptr<TcpLink>> others;
    for (int i = 1; i < networkManage::kMaxClients; ++i) {
        others.push_back(std::make_unique<TcpLink>());
        ASSERT_TRUE(others.back()->open("127.0.0.1", full.port()));
    }
    bool admitted = false;
    while (!admitted && std::chrono::steady_clock::now() - sent < std::chrono::seconds(10)) {
        TcpLink newcomer;
        ASSERT_TRUE(newcomer.open("127.0.0.1", full.port()));
        admitted = newcomer.request(kProcessor, 0x61, ramReadPayload(100, 1), r, 200);
        if (!admitted)
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    const auto tookMs =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - sent).count();
    EXPECT_TRUE(admitted) << "the PC that does not read still holds its place";
    EXPECT_EQ(r.data, Bytes{0xA1});
    EXPECT_GE(tookMs, 2500) << "let go before its 3 s";
    EXPECT_LT(tookMs, 6000);
    ::close(fd);
}

TEST_F(LinkTransports, APcWaitingInLineKeepsItsPlaceAndAFrameIsTakenWholeOrNotAtAll)
{
    const Bytes read100 = readRequest(100, 1);
    ParaWriteLock().block()[100] = 0xA1;
    Reply r;
    // While the test holds the chip, a PC's register write holds the
    // transport's service and what others send waits in line.
    auto holdingWrite = [](Link& holder) {
        C331ParaLock::acquire();
        const Bytes write = frameBody(buildBody(kProcessor, 0xA0, regWritePayload({{203, 0xFF, 1}})));
        return holder.sendRaw(write);
    };

    // TCP: W's read waits behind the held service; 30 PCs connect after it
    // and stay silent. Once all have been silent 30 s (the board's clock
    // runs 100 times faster), a 33rd PC takes the place of a silent one,
    // never of W, whose read is answered.
    {
        networkManage tcp(0);
        TcpLink holder, waiting;
        ASSERT_TRUE(holder.open("127.0.0.1", tcp.port()) && waiting.open("127.0.0.1", tcp.port()));
        ASSERT_TRUE(holdingWrite(holder));
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        ASSERT_TRUE(waiting.sendRaw(read100));
        std::vector<std::unique_ptr<TcpLink>> silent;
        for (int i = 2; i < networkManage::kMaxClients; ++i) {
            silent.push_back(std::make_unique<TcpLink>());
            ASSERT_TRUE(silent.back()->open("127.0.0.1", tcp.port()));
        }
        bool answered = false;
        {
            BoardClockSpeed fast(100);
            std::this_thread::sleep_for(std::chrono::milliseconds(500));
            TcpLink newcomer;
            ASSERT_TRUE(newcomer.open("127.0.0.1", tcp.port()));
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            C331ParaLock::release();
            answered = waiting.receive(r, 3000);
            EXPECT_TRUE(newcomer.request(kProcessor, 0x61, ramReadPayload(100, 1), r, 3000)) << "the newcomer";
        }
        EXPECT_TRUE(answered) << "the PC waiting in line lost its place";
    }

    // UDP: a register write 200:=11, 201:=55, 201:=55, 202:=77 comes in
    // three datagrams (the middle one's bytes XOR to 0, so a frame missing
    // them passes its check) while S has 63 requests waiting behind the
    // held service: its 64th comes with the head. The tail comes once all
    // were served. The write is done whole (201 written) or not at all.
    udpnetManage udp(0, 0);
    UdpLink holder, sender;
    ASSERT_TRUE(holder.open("127.0.0.1", udp.control_port()) && sender.open("127.0.0.1", udp.control_port()));
    ParaWriteLock().status()[201] = 0;
    const Bytes write = frameBody(buildBody(kProcessor, 0xA0,
                                            regWritePayload({{200, 0xFF, 0x11}, {201, 0xFF, 0x55},
                                                             {201, 0xFF, 0x55}, {202, 0xFF, 0x77}})));
    const Bytes middle{0xC9, 0x00, 0xFF, 0x55, 0xC9, 0x00, 0xFF, 0x55};
    const auto cut = std::search(write.begin(), write.end(), middle.begin(), middle.end());
    ASSERT_NE(cut, write.end());
    Bytes head = read100;
    head.insert(head.end(), write.begin(), cut);
    ASSERT_TRUE(holdingWrite(holder));
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    for (int i = 0; i < 63; ++i)
        ASSERT_TRUE(sender.sendRaw(read100));
    ASSERT_TRUE(sender.sendRaw(head));
    ASSERT_TRUE(sender.sendRaw(middle));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    C331ParaLock::release();
    ASSERT_TRUE(holder.receive(r, 3000));
    for (int i = 0; i < 64; ++i)
        ASSERT_TRUE(sender.receive(r, 3000)) << "reply " << i;
    ASSERT_TRUE(sender.sendRaw(Bytes(cut + static_cast<long>(middle.size()), write.end())));
    const bool done = sender.receive(r, 1000) && r.status == 0;
    const unsigned char* image = ZdrRamPara::p_zdrrampara_config->run_status;
    EXPECT_EQ(done, image[201] == 0x55) << "a frame joined across a lost datagram was executed";
    EXPECT_EQ(done, image[202] == 0x77);
}

TEST_F(LinkTransports, WhatATcpPcDoesWhileItIsServedOrWaitsLeavesTheWorkerWaitingMeanwhileIdle)
{
    // A PC's register write waits 500 ms for the chip the test holds, and
    // another PC's read waits in line behind it; the other worker waits for
    // arrivals meanwhile. Both PCs send their next request, shut down their
    // sending side, or reset: the worker waiting hears of it once or twice,
    // and the two take a few ms of CPU, not the service's time.
    networkManage tcp(0);
    const Bytes write = frameBody(buildBody(kProcessor, 0xA0, regWritePayload({{203, 0xFF, 1}})));
    const std::vector<std::pair<const char*, std::function<void(HalfClosingTcpLink&)>>> rows = {
        {"its next request", [](HalfClosingTcpLink& pc) { EXPECT_TRUE(pc.sendRaw(readRequest(100, 1))); }},
        {"its FIN", [](HalfClosingTcpLink& pc) { EXPECT_TRUE(pc.shutdownSending()); }},
        {"its reset", [](HalfClosingTcpLink& pc) { pc.reset(); }},
    };
    for (const auto& row : rows) {
        HalfClosingTcpLink served, waiting;
        Reply r;
        for (HalfClosingTcpLink* pc : {&served, &waiting}) {
            ASSERT_TRUE(pc->open("127.0.0.1", tcp.port()));
            ASSERT_TRUE(pc->request(kProcessor, 0x61, ramReadPayload(100, 1), r)) << "a PC already heard from";
        }
        long took = 0;
        {
            const C331ParaLock chip;
            EXPECT_TRUE(served.sendRaw(write));
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            EXPECT_TRUE(waiting.sendRaw(readRequest(100, 1)));
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            const long before = tcpWorkersCpuMs();
            row.second(served);
            row.second(waiting);
            std::this_thread::sleep_for(std::chrono::milliseconds(500));
            took = tcpWorkersCpuMs() - before;
        }
        EXPECT_LT(took, 150) << row.first << ": the workers took " << took << " ms of CPU";
        if (served.isOpen()) {
            EXPECT_TRUE(served.receive(r, 3000) && r.command == 0xA0) << row.first;
        }
        if (waiting.isOpen()) {
            EXPECT_TRUE(waiting.receive(r, 3000) && r.command == 0x61) << row.first;
        }
    }
}

TEST_F(LinkTransports, WhatArrivesDuringShortServicesGoesBeforeTheNextInLine)
{
    // PC 1 sends 64 reads of RAM 0 to 1023 at once (in one send, or a
    // datagram each); PC 2 writes RAM 100 while PC 1's first read is being
    // served. The write takes its place as it arrives, ahead of PC 1's
    // next read: at most that first read sees RAM 100 as it was. (A
    // datagram each: PC 1's second one arrived before the write too, so
    // it may go first when nobody took it during the service.)
    networkManage tcp(0);
    udpnetManage udp(0, 0);
    for (const auto& [overTcp, eachApart] : {std::pair{false, false}, {false, true}, {true, false}}) {
        TcpLink tcp1, tcp2;
        UdpLink udp1, udp2;
        Link& pc1 = overTcp ? static_cast<Link&>(tcp1) : udp1;
        Link& pc2 = overTcp ? static_cast<Link&>(tcp2) : udp2;
        ASSERT_TRUE(overTcp ? tcp1.open("127.0.0.1", tcp.port()) && tcp2.open("127.0.0.1", tcp.port())
                            : udp1.open("127.0.0.1", udp.control_port()) &&
                                  udp2.open("127.0.0.1", udp.control_port()));
        ParaWriteLock().block()[100] = 0xA1;
        const int before = readsBeforeTheWrite(pc1, pc2, eachApart, [] { return true; });
        const char* name = overTcp ? "TCP" : eachApart ? "UDP, a datagram each" : "UDP";
        ASSERT_GE(before, 0) << name << ": a reply did not come";
        EXPECT_LE(before, eachApart ? 2 : 1) << name << ": PC 2's write waited for PC 1's later reads";
    }

    // Requests that arrive together after a service keep their order: PC
    // 1's write of RAM 100, sent just before PC 2's, is served first.
    UdpLink pc1, pc2;
    ASSERT_TRUE(pc1.open("127.0.0.1", udp.control_port()) && pc2.open("127.0.0.1", udp.control_port()));
    int reversed = 0;
    for (int round = 0; round < 20; ++round) {
        Reply r;
        ASSERT_TRUE(pc1.request(kProcessor, 0x61, ramReadPayload(100, 1), r, 3000));
        ASSERT_TRUE(pc1.sendRaw(frameBody(buildBody(kProcessor, 0x60, ramWritePayload(100, Bytes{0x11})))));
        ASSERT_TRUE(pc2.sendRaw(frameBody(buildBody(kProcessor, 0x60, ramWritePayload(100, Bytes{0x22})))));
        ASSERT_TRUE(pc1.receive(r, 3000) && pc2.receive(r, 3000));
        unsigned char last = 0;
        store->block_bytes(100, &last, 1);
        reversed += last == 0x11 ? 1 : 0;
    }
    EXPECT_EQ(reversed, 0) << "PC 2's write went before PC 1's, sent first";
}

TEST_F(LinkTransports, UdpAnswersTheSenderAndServesTheAtChannel)
{
    // Stored before the transport's threads start (they read it later).
    ParaWriteLock().block()[300] = 0x5E;
    udpnetManage udp(0, 0);
    ASSERT_NE(udp.control_port(), 0);
    ASSERT_NE(udp.at_port(), 0);
    UdpLink a;
    ASSERT_TRUE(a.open("127.0.0.1", udp.control_port()));
    Reply r;
    ASSERT_TRUE(a.request(kProcessor, 0x61, ramReadPayload(300, 1), r));
    EXPECT_EQ(r.data, Bytes{0x5E});
    // A frame split over two datagrams.
    const Bytes req = readRequest(300, 1);
    ASSERT_TRUE(a.sendRaw(req.data(), 8));
    ASSERT_TRUE(a.sendRaw(req.data() + 8, req.size() - 8));
    ASSERT_TRUE(a.receive(r, 3000));
    EXPECT_EQ(r.data, Bytes{0x5E});

    // Without the WiFi manager the AT channel refuses; with it, it answers.
    EXPECT_EQ(atCommand("127.0.0.1", udp.at_port(), "AT+GETVER"), "ERROR\r\n");
    K47_WIFI_CONFIG wifi;
    K47_WIFI_CONFIG::p_wifi_config = &wifi;
    EXPECT_EQ(atCommand("127.0.0.1", udp.at_port(), "AT+GETVER\r\n"), "+GETVER:K47N-WIFI-1.0\r\nOK\r\n");
    // An empty datagram and one over 512 bytes are answered ERROR.
    EXPECT_EQ(atCommand("127.0.0.1", udp.at_port(), ""), "ERROR\r\n");
    EXPECT_EQ(atCommand("127.0.0.1", udp.at_port(), "AT" + std::string(511, ' ')), "ERROR\r\n");
    EXPECT_EQ(atCommand("127.0.0.1", udp.at_port(), "AT\r\n\r\n"), "ERROR\r\n");
    K47_WIFI_CONFIG::p_wifi_config = nullptr;
}

TEST_F(LinkTransports, PassThroughTicketsAreUpInTheOrderTakenPassingOverAbandonedOnes)
{
    // Three PCs each with a pass-through to card 1 next, taking their
    // tickets in the order X, Y, Z.
    QuietTransport transport;
    link_endpoint x(transport), y(transport), z(transport);
    const Bytes toCard = frameBody(buildBody(0x0001, 0x61, ramReadPayload(0, 4)));
    for (link_endpoint* e : {&x, &y, &z}) {
        e->take(toCard.data(), toCard.size());
        e->take_ticket();
    }
    EXPECT_FALSE(x.front_waits_for_ticket());
    EXPECT_TRUE(y.front_waits_for_ticket());
    EXPECT_TRUE(z.front_waits_for_ticket());
    EXPECT_TRUE(z.front_waits_for_ticket()) << "asking again changed the line";

    // Y goes away while ahead of Z; X is still being served.
    y.give_up_ticket();
    EXPECT_TRUE(z.front_waits_for_ticket());
    // X is served (no sending card here: its request ends at once, and its
    // ticket with it): Y's is passed over, Z's is up.
    x.serve_one(1, [](const unsigned char*, int) {});
    EXPECT_FALSE(x.pending());
    EXPECT_FALSE(z.front_waits_for_ticket());

    // Y comes back behind Z; Z's PC goes away while its ticket is up.
    y.take_ticket();
    EXPECT_TRUE(y.front_waits_for_ticket());
    z.reset();
    EXPECT_FALSE(y.front_waits_for_ticket());
    y.serve_one(2, [](const unsigned char*, int) {});
}

TEST_F(LinkTransports, APassThroughGivesUpOnlyWhenTheLineStandsStillForAnHour)
{
    // Tickets 0 to 3. Ticket 0 is served for 40 minutes; 1 and 2 wait. 1 is
    // then served and never ends: 2 gives up an hour after the line last
    // moved (1 h 40 min after it began to wait), and its ticket is passed
    // over, so 3 is up once 1 ends. The board's clock runs 1000 times
    // faster.
    BoardClockSpeed fast(1000);
    PassThroughLine line;
    const uint64_t first = line.take();
    const uint64_t second = line.take();
    const uint64_t third = line.take();
    const uint64_t fourth = line.take();
    EXPECT_TRUE(line.isUp(first));
    auto secondWaits = std::async(std::launch::async, [&] { return line.wait(second); });
    auto thirdWaits = std::async(std::launch::async, [&] {
        const bool up = line.wait(third);
        return std::make_pair(up, platform::clock().nowUs());
    });
    const uint64_t fortyMinutesUs = 40ull * 60 * 1000000;
    platform::clock().sleepUs(fortyMinutesUs);
    EXPECT_EQ(thirdWaits.wait_for(std::chrono::seconds(0)), std::future_status::timeout);
    const uint64_t movedUs = platform::clock().nowUs();
    line.done();
    ASSERT_EQ(secondWaits.wait_for(std::chrono::seconds(5)), std::future_status::ready);
    EXPECT_TRUE(secondWaits.get());

    const uint64_t hourUs = 60ull * 60 * 1000000;
    if (thirdWaits.wait_for(std::chrono::seconds(30)) != std::future_status::ready) {
        line.done();   // lets the waiter go before the test ends
        thirdWaits.wait();
        FAIL() << "the wait behind a ticket that never ends has no bound";
    }
    const auto gaveUp = thirdWaits.get();
    EXPECT_FALSE(gaveUp.first);
    EXPECT_GE(gaveUp.second - movedUs, hourUs) << "gave up while the line moved";
    EXPECT_LT(gaveUp.second - movedUs, hourUs + boardUsOfRealMs(2000));

    EXPECT_FALSE(line.isUp(fourth));
    line.done();
    EXPECT_FALSE(line.isUp(third));
    EXPECT_TRUE(line.isUp(fourth));
    EXPECT_TRUE(line.wait(fourth));
    line.done();
}
