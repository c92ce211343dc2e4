// The transports in the process: requests and replies over the serial
// ports (pseudo-terminals of the simulated board), TCP and UDP on
// 127.0.0.1, with frames split and mixed as the streams deliver them.
#include "support/board_clock.h"
#include "support/link_fixture.h"

#include "core/le_bytes.h"
#include "core/para_layout.h"
#include "link/k47_wifi_config.h"
#include "link/link_global.h"
#include "link/networkmanage.h"
#include "link/uart_inout.h"
#include "link/uart_inout_4G.h"
#include "link/udpnetmanage.h"

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>
#include <vector>

using namespace pcclient;

namespace {

Bytes readRequest(uint32_t address, uint16_t count)
{
    return frameBody(buildBody(kProcessor, 0x61, ramReadPayload(address, count)));
}

} // namespace

using LinkTransports = LinkTest;

TEST_F(LinkTransports, SerialPortsAnswerOnTheirOwnPort)
{
    setLe16(store->ram_para, para::kLedWidth, 0x1234);
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
    store->ram_para[100] = 0xA1;
    store->ram_para[200] = 0xB2;
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

TEST_F(LinkTransports, TcpIsNotShutOutBySilentOrSlowClients)
{
    networkManage tcp(0);
    ASSERT_NE(tcp.port(), 0);
    store->ram_para[100] = 0xA1;
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
}

TEST_F(LinkTransports, UdpAnswersTheSenderAndServesTheAtChannel)
{
    // Stored before the transport's threads start (they read it later).
    store->ram_para[300] = 0x5E;
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
