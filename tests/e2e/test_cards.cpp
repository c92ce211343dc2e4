// The receiving cards behind the sending card in the running program: the
// PC's pass-through over UDP answered by a card, and the idle card search
// filling the per-port card counts.
#include "support/app_runner.h"
#include "support/unannounced_wait.h"
#include "support/wait_for.h"

#include "pcclient/pc_client.h"

#include <gtest/gtest.h>
#include <chrono>
#include <cstdio>
#include <functional>
#include <sstream>
#include <thread>
#include <vector>

using namespace pcclient;

namespace {

unsigned char xorOf(const Bytes& b, size_t n)
{
    unsigned char x = 0;
    for (size_t i = 0; i < n; ++i)
        x ^= b[i];
    return x;
}

TEST(E2eCards, PassThroughOverUdpAndTheSearchFillTheCardCounts)
{
    AppRunner app;
    ASSERT_TRUE(app.start()) << app.output().toStdString();
    // Three cards behind FPGA 0 port 4, five behind FPGA 1 port 1.
    EXPECT_EQ(app.control("cards 5 3"), "");
    EXPECT_EQ(app.control("cards 18 5"), "");
    ASSERT_TRUE(waitFor([&] { return app.control("fpga-status").find("status 1") != std::string::npos; }, 30000))
        << app.control("fpga-status");

    // The idle search writes each port's count into RAM block 1 of its FPGA.
    EXPECT_TRUE(waitFor([&] { return app.control("fpga-ram 0 1 560 2") == "0300"; }, 10000))
        << app.control("fpga-ram 0 1 560 2");
    EXPECT_TRUE(waitFor([&] { return app.control("fpga-ram 1 1 102 2") == "0500"; }, 10000));
    EXPECT_EQ(app.control("fpga-ram 0 1 100 2"), "0000");

    // A register write to card 2 of port 5 (1-based) from the PC.
    UdpLink udp;
    ASSERT_TRUE(udp.open("127.0.0.1", app.linkPort("udp")));
    Bytes req = {0x02, 0x00, 0x10, 0xF0, 0x10, 0x67, 0x01, 0x05, 0x00, 0xA0, 0x01, 0x08, 0x00, 0x08};
    req.push_back(xorOf(req, req.size()));
    ASSERT_TRUE(udp.sendRaw(frameBody(req)));
    Reply r;
    ASSERT_TRUE(udp.receive(r, 5000));
    const Bytes& a = r.body;
    ASSERT_GE(a.size(), 11u);
    EXPECT_EQ(r.dest, kPc);
    EXPECT_EQ(r.src, 0x0002) << "card 2, the port bits cleared";
    EXPECT_EQ(a[5], 0x67);
    EXPECT_EQ(a[7], 5);
    EXPECT_EQ(a[9], 0xA0);
    EXPECT_EQ(a.back(), xorOf(a, a.size() - 1));
    const std::string log = app.control("card-log 5 2");
    EXPECT_NE(log.find("020010f01067010500a001080008"), std::string::npos) << log;

    // A port without cards (port 9): no answer, and the link serves on at
    // once.
    Bytes none = {0x01, 0x00, 0x10, 0xF0, 0x10, 0x67, 0x01, 0x09, 0x00, 0xA0, 0x00};
    none.push_back(xorOf(none, none.size()));
    ASSERT_TRUE(udp.sendRaw(frameBody(none)));
    ASSERT_TRUE(udp.request(kSendingCard, 0x61, ramReadPayload(0x1000 + 560, 2), r));
    EXPECT_EQ(r.data, (Bytes{0x03, 0x00})) << "the PC reads the count from the parameter page";
}

TEST(E2eCards, AnAnswerSecondsLateReachesThePcAndALeftQueueHoldsNoOtherPc)
{
    AppRunner app;
    ASSERT_TRUE(app.start()) << app.output().toStdString();
    // One card behind FPGA 0 port 5 that takes 4 s to answer (a save to
    // its flash takes that long).
    EXPECT_EQ(app.control("cards 5 1"), "");
    EXPECT_EQ(app.control("card-delay 5 4000"), "");
    ASSERT_TRUE(waitFor([&] { return app.control("fpga-status").find("status 1") != std::string::npos; }, 30000))
        << app.control("fpga-status");
    Bytes req = {0x00, 0x00, 0x10, 0xF0, 0x10, 0x67, 0x01, 0x05, 0x00, 0x81, 0x00};
    req.push_back(xorOf(req, req.size()));
    const Bytes wire = frameBody(req);

    Reply r;
    UdpLink udp;
    ASSERT_TRUE(udp.open("127.0.0.1", app.linkPort("udp")));
    ASSERT_TRUE(udp.sendRaw(wire));
    ASSERT_TRUE(udp.receive(r, 9000)) << "UDP: the late answer";
    EXPECT_EQ(r.body[9], 0x81);
    EXPECT_EQ(r.body[7], 5);
    TcpLink tcp;
    ASSERT_TRUE(tcp.open("127.0.0.1", app.linkPort("tcp")));
    ASSERT_TRUE(tcp.sendRaw(wire));
    ASSERT_TRUE(tcp.receive(r, 9000)) << "TCP: the late answer";
    EXPECT_EQ(r.body[9], 0x81);

    // A PC sends 20 such requests in one go and leaves while the first is
    // served: the rest are not served, and another PC waits at most for
    // the request being served.
    {
        TcpLink gone;
        ASSERT_TRUE(gone.open("127.0.0.1", app.linkPort("tcp")));
        Bytes twenty;
        for (int i = 0; i < 20; ++i)
            twenty.insert(twenty.end(), wire.begin(), wire.end());
        ASSERT_TRUE(gone.sendRaw(twenty));
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
    }
    TcpLink other;
    ASSERT_TRUE(other.open("127.0.0.1", app.linkPort("tcp")));
    ASSERT_TRUE(other.request(kProcessor, 0x61, ramReadPayload(768, 2), r, 10000))
        << "another PC is served once the request being served has ended";
    std::istringstream log(app.control("card-log 5"));
    int taken = 0;
    for (std::string line; std::getline(log, line);)
        taken += line == "000010f01067010500810012";
    EXPECT_EQ(taken, 3) << "UDP's, TCP's and the left PC's first request only";

    // A PC that sent five such requests (the first alone, four more while
    // it is served) holds a PC that connects after it for at most the one
    // being served (4 s; a second would end 7.5 s after the later PC
    // asked).
    {
        TcpLink busy;
        ASSERT_TRUE(busy.open("127.0.0.1", app.linkPort("tcp")));
        ASSERT_TRUE(busy.sendRaw(wire));
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        Bytes four;
        for (int i = 0; i < 4; ++i)
            four.insert(four.end(), wire.begin(), wire.end());
        ASSERT_TRUE(busy.sendRaw(four));
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        TcpLink later;
        ASSERT_TRUE(later.open("127.0.0.1", app.linkPort("tcp")));
        ASSERT_TRUE(later.request(kProcessor, 0x61, ramReadPayload(768, 2), r, 6000))
            << "a TCP PC that connects later is served once the request being served has ended";
        ASSERT_TRUE(busy.receive(r, 9000)) << "the busy PC's first answer";
        EXPECT_EQ(r.body[9], 0x81);
    }
    // The busy PC has left while its second request was served: the rest
    // of its requests are dropped once the answer finds it gone.
    ASSERT_TRUE(other.request(kProcessor, 0x61, ramReadPayload(768, 2), r, 10000));
    std::istringstream log2(app.control("card-log 5"));
    taken = 0;
    for (std::string line; std::getline(log2, line);)
        taken += line == "000010f01067010500810012";
    EXPECT_EQ(taken, 5) << "the busy PC's first two requests only";

    // Over UDP too: a PC that sent five such requests the same way holds a
    // PC that sends after it for at most the one being served.
    UdpLink busy;
    ASSERT_TRUE(busy.open("127.0.0.1", app.linkPort("udp")));
    ASSERT_TRUE(busy.sendRaw(wire));
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    for (int i = 0; i < 4; ++i)
        ASSERT_TRUE(busy.sendRaw(wire));
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    UdpLink later;
    ASSERT_TRUE(later.open("127.0.0.1", app.linkPort("udp")));
    ASSERT_TRUE(later.request(kProcessor, 0x61, ramReadPayload(768, 2), r, 6000))
        << "a UDP PC that sends later is served once the request being served has ended";
    ASSERT_TRUE(busy.receive(r, 9000)) << "the busy PC's requests are served in their turn";
    EXPECT_EQ(r.body[9], 0x81);
}

TEST(E2eCards, ALateAnswerOfOneCardIsNotGivenToAPcThatAsksAnotherCardOfThePort)
{
    AppRunner app;
    ASSERT_TRUE(app.start()) << app.output().toStdString();
    // Two cards behind FPGA 0 port 4 (5, 1-based), counted, then answering
    // 6 s late: after the 5 s a RAM read is given.
    // One card each behind FPGA 0 port 5 (6) and FPGA 1 port 0 (17),
    // answering at once, for the multicasts below.
    EXPECT_EQ(app.control("cards 5 2"), "");
    EXPECT_EQ(app.control("cards 6 1"), "");
    EXPECT_EQ(app.control("cards 17 1"), "");
    ASSERT_TRUE(waitFor([&] { return app.control("fpga-status").find("status 1") != std::string::npos; }, 30000))
        << app.control("fpga-status");
    ASSERT_TRUE(waitFor([&] { return app.control("fpga-ram 0 1 560 2") == "0200"; }, 10000))
        << app.control("fpga-ram 0 1 560 2");
    ASSERT_TRUE(waitFor([&] { return app.control("fpga-ram 0 1 564 2") == "0100"; }, 10000));
    ASSERT_TRUE(waitFor([&] { return app.control("fpga-ram 1 1 100 2") == "0100"; }, 10000));
    EXPECT_EQ(app.control("card-delay 5 6000"), "");

    // RAM reads of 4 bytes at 0 of card `card` of port 5.
    auto readOf = [](unsigned char card) {
        Bytes f = {card, 0x00, 0x10, 0xF0, 0x10, 0x67, 0x01, 0x05, 0x00, 0x61,
                   0x00, 0x00, 0x00, 0x00, 0x04, 0x00, 0x00, 0x00};
        f.push_back(xorOf(f, f.size()));
        return frameBody(f);
    };
    // Per transport, two PCs 0.3 s apart, one pass-through open at a time:
    // PC A reads card 0 (served 0..5 s), PC B card 1 (served 5..10 s);
    // card 0's answer to A comes at 6 s, card 1's to B at 11 s. B gets its
    // own card's answer or none; A none.
    using Clock = std::chrono::steady_clock;
    Reply r;
    {
        UdpLink a, b;
        ASSERT_TRUE(a.open("127.0.0.1", app.linkPort("udp")));
        ASSERT_TRUE(b.open("127.0.0.1", app.linkPort("udp")));
        const Clock::time_point start = Clock::now();
        ASSERT_TRUE(a.sendRaw(readOf(0)));
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        ASSERT_TRUE(b.sendRaw(readOf(1)));
        if (b.receive(r, 12000)) {
            EXPECT_EQ(r.src, 0x0001) << "UDP: PC B got the answer of card " << r.src;
            EXPECT_EQ(r.body[9], 0x61);
        }
        EXPECT_FALSE(a.receive(r, 100)) << "UDP: PC A's read ended without an answer at its bound";
        // Every late answer of this round has come and gone.
        std::this_thread::sleep_until(start + std::chrono::milliseconds(12500));
    }
    {
        TcpLink a, b;
        ASSERT_TRUE(a.open("127.0.0.1", app.linkPort("tcp")));
        ASSERT_TRUE(b.open("127.0.0.1", app.linkPort("tcp")));
        ASSERT_TRUE(a.sendRaw(readOf(0)));
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        ASSERT_TRUE(b.sendRaw(readOf(1)));
        if (b.receive(r, 12000)) {
            EXPECT_EQ(r.src, 0x0001) << "TCP: PC B got the answer of card " << r.src;
            EXPECT_EQ(r.body[9], 0x61);
        }
        EXPECT_FALSE(a.receive(r, 100)) << "TCP: PC A's read ended without an answer at its bound";
        std::this_thread::sleep_for(std::chrono::milliseconds(2500));
    }

    // The same one step beside: a broadcast or a multicast on either side.
    // Port 5's late answer to A fits none of B's requests (another address
    // or another port byte): B gets no answer (its own from port 5 comes
    // after its end too), and a multicast is not reported complete without
    // port 5.
    auto frameOf = [](unsigned short dest, unsigned char port, Bytes tail) {
        Bytes f = {static_cast<unsigned char>(dest), static_cast<unsigned char>(dest >> 8), 0x10, 0xF0, 0x10, 0x67,
                   0x01, port, 0x00};
        f.insert(f.end(), tail.begin(), tail.end());
        f.push_back(xorOf(f, f.size()));
        return frameBody(f);
    };
    auto readAt = [&](unsigned short dest, unsigned char port, unsigned char addressHigh) {
        return frameOf(dest, port, {0x61, 0x00, addressHigh, 0x00, 0x00, 0x04, 0x00, 0x00, 0x00});
    };
    auto writeTo = [&](unsigned short dest, unsigned char port) {
        return frameOf(dest, port, {0x60, 0x00, 0x01, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x5A});
    };
    const struct {
        const char* name;
        bool aOverUdp;
        Bytes a, b;
        const char* setup;
    } beside[] = {
        {"UDP A reads 0x100 of card 1, TCP B reads 0x200 of every card", true, readAt(0x0001, 5, 0x01),
         readAt(0x0FFF, 5, 0x02), nullptr},
        {"TCP A multicasts a read of 0x100, UDP B reads 0x200 of card 0", false, readAt(0x0FFF, 0xFF, 0x01),
         readAt(0x0000, 5, 0x02), nullptr},
        {"UDP A reads 0x100 of card 1, TCP B multicasts the same read", true, readAt(0x0001, 5, 0x01),
         readAt(0x0FFF, 0xFF, 0x01), nullptr},
        {"TCP A writes card 1, card 0 silent, UDP B multicasts a write", false, writeTo(0x0001, 5),
         writeTo(0x0FFF, 0xFF), "card-silent 5 0 on"},
    };
    for (const auto& c : beside) {
        if (c.setup) {
            EXPECT_EQ(app.control(c.setup), "");
        }
        UdpLink udpA, udpB;
        TcpLink tcpA, tcpB;
        ASSERT_TRUE(c.aOverUdp ? udpA.open("127.0.0.1", app.linkPort("udp"))
                               : tcpA.open("127.0.0.1", app.linkPort("tcp")));
        ASSERT_TRUE(c.aOverUdp ? tcpB.open("127.0.0.1", app.linkPort("tcp"))
                               : udpB.open("127.0.0.1", app.linkPort("udp")));
        Link& a = c.aOverUdp ? static_cast<Link&>(udpA) : tcpA;
        Link& b = c.aOverUdp ? static_cast<Link&>(tcpB) : udpB;
        const Clock::time_point start = Clock::now();
        ASSERT_TRUE(a.sendRaw(c.a));
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        ASSERT_TRUE(b.sendRaw(c.b));
        if (b.receive(r, 12000))
            ADD_FAILURE() << c.name << ": B got an answer from source " << std::hex << r.src << ", port byte "
                          << int(r.body[7]) << ", opcode " << int(r.body[9]) << ", address byte "
                          << (r.body.size() > 11 ? int(r.body[11]) : -1);
        EXPECT_FALSE(a.receive(r, 100)) << c.name << ": A's request ended without an answer at its bound";
        std::this_thread::sleep_until(start + std::chrono::milliseconds(12500));
        EXPECT_EQ(app.control("card-silent 5 0 off"), "");
    }

    // On time again, a read of card 1 gets card 1's answer.
    EXPECT_EQ(app.control("card-delay 5 0"), "");
    UdpLink udp;
    ASSERT_TRUE(udp.open("127.0.0.1", app.linkPort("udp")));
    ASSERT_TRUE(udp.sendRaw(readOf(1)));
    ASSERT_TRUE(udp.receive(r, 6000));
    EXPECT_EQ(r.src, 0x0001);
    EXPECT_EQ(r.body.size(), 23u);
}

TEST(E2eCards, AnFpgaThatDoesNotAnswerOrAHeldChipWriteHoldsOtherPcsForAtMostTheFramesBound)
{
    AppRunner app;
    ASSERT_TRUE(app.start()) << app.output().toStdString();
    // A card behind FPGA 0 port 4 (5, 1-based) and one behind FPGA 1 port
    // 1 (18), counted; then FPGA 1 stops answering while its image still
    // says running (its transmit buffers read busy).
    EXPECT_EQ(app.control("cards 5 1"), "");
    EXPECT_EQ(app.control("cards 18 1"), "");
    ASSERT_TRUE(waitFor([&] { return app.control("fpga-status").find("status 1") != std::string::npos; }, 30000))
        << app.control("fpga-status");
    ASSERT_TRUE(waitFor([&] { return app.control("fpga-ram 1 1 102 2") == "0100"; }, 10000));
    using Clock = std::chrono::steady_clock;
    auto msSince = [](Clock::time_point t) {
        return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t).count();
    };
    auto frameOf = [](unsigned short dest, unsigned char s6, unsigned char port) {
        Bytes f = {static_cast<unsigned char>(dest), static_cast<unsigned char>(dest >> 8), 0x10, 0xF0, 0x10, 0x67,
                   s6, port, 0x00, 0xA0, 0x01, 0x08, 0x00, 0x08};
        f.push_back(xorOf(f, f.size()));
        return frameBody(f);
    };

    // A chip write (contrast 25 from a page) that holds the SPI bus the
    // FPGAs share for 12 s: a pass-through to the answering card of port 5
    // sent meanwhile is given up at its 5 s, and a plain read another PC
    // sends after it on the same transport is answered within that.
    {
        ASSERT_EQ(app.control("c331-hold 0C2802 12000"), "");
        ASSERT_EQ(app.control("store-set 2178 1900"), "");
        ASSERT_TRUE(waitFor([&] { return app.control("c331-hold") == "holding"; }, 30000))
            << app.control("c331-hold");
        UdpLink pass, read;
        ASSERT_TRUE(pass.open("127.0.0.1", app.linkPort("udp")));
        ASSERT_TRUE(read.open("127.0.0.1", app.linkPort("udp")));
        ASSERT_TRUE(pass.sendRaw(frameOf(0x0000, 0x01, 0x05)));
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        const Clock::time_point sent = Clock::now();
        ASSERT_TRUE(read.sendRaw(frameBody(buildBody(kProcessor, 0x61, ramReadPayload(768, 2)))));
        Reply r;
        ASSERT_TRUE(read.receive(r, 20000));
        EXPECT_EQ(r.command, 0x61);
        EXPECT_LT(msSince(sent), 6300) << "a read behind a pass-through waiting on a held chip write";
        EXPECT_EQ(app.control("c331-hold"), "holding") << "the chip write was over before the read was answered";
        ASSERT_TRUE(waitFor([&] { return app.control("c331-hold") == "done"; }, 20000));
        pass.receive(r, 100);
    }

    EXPECT_EQ(app.control("fpga-fault 1 dead"), "");
    // A register write is given 5 s from when it is served, whatever
    // ports it goes to: a PC's plain read sent 0.2 s after it on the same
    // transport, and another PC's pass-through to the answering card on
    // the other, are answered within that (not after 3 s more for each of
    // FPGA 1's busy transmit buffers). FPGA 1, found silent, is reset and
    // brought up again: a frame to it alone is dropped, not waited on, and
    // only the multicast reaches a card that answers (port 5's).
    const struct {
        const char* name;
        Bytes frame;
    } toDead[] = {
        {"to port 18", frameOf(0x0000, 0x01, 0x12)},
        {"to every card of port 18", frameOf(0x0FFF, 0x01, 0x12)},
        {"a multicast to both FPGAs", frameOf(0x0FFF, 0x01, 0xFF)},
        {"to port 0 of both FPGAs", frameOf(0x0000, 0x00, 0x00)},
    };
    for (const bool overUdp : {true, false}) {
        for (const auto& c : toDead) {
            const char* transport = overUdp ? "UDP" : "TCP";
            UdpLink udpPass, udpRead, udpOther;
            TcpLink tcpPass, tcpRead, tcpOther;
            ASSERT_TRUE(udpPass.open("127.0.0.1", app.linkPort("udp")));
            ASSERT_TRUE(udpRead.open("127.0.0.1", app.linkPort("udp")));
            ASSERT_TRUE(udpOther.open("127.0.0.1", app.linkPort("udp")));
            ASSERT_TRUE(tcpPass.open("127.0.0.1", app.linkPort("tcp")));
            ASSERT_TRUE(tcpRead.open("127.0.0.1", app.linkPort("tcp")));
            ASSERT_TRUE(tcpOther.open("127.0.0.1", app.linkPort("tcp")));
            Link& pass = overUdp ? static_cast<Link&>(udpPass) : tcpPass;
            Link& read = overUdp ? static_cast<Link&>(udpRead) : tcpRead;
            Link& other = overUdp ? static_cast<Link&>(tcpOther) : udpOther;
            const Clock::time_point passSent = Clock::now();
            ASSERT_TRUE(pass.sendRaw(c.frame));
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
            const Clock::time_point sent = Clock::now();
            ASSERT_TRUE(read.sendRaw(frameBody(buildBody(kProcessor, 0x61, ramReadPayload(768, 2)))));
            ASSERT_TRUE(other.sendRaw(frameOf(0x0000, 0x01, 0x05)));
            Reply r;
            ASSERT_TRUE(read.receive(r, 15000)) << transport << " " << c.name;
            EXPECT_EQ(r.command, 0x61);
            EXPECT_LT(msSince(sent), 6300) << transport << " read behind a pass-through " << c.name;
            ASSERT_TRUE(other.receive(r, 15000)) << transport << " " << c.name;
            EXPECT_EQ(r.body[7], 0x05);
            EXPECT_LT(msSince(sent), 6300) << "the other transport's pass-through behind one " << c.name;
            if (std::string(c.name) != "a multicast to both FPGAs") {
                EXPECT_FALSE(pass.receive(r, 100)) << transport << " " << c.name << ": FPGA 1 answers nothing";
            }
            EXPECT_LT(msSince(passSent), 6300) << transport << " " << c.name;
        }
    }
}

TEST(E2eCards, ACardThatDoesNotAnswerHoldsOtherPcsForAtMostFiveSeconds)
{
    AppRunner app;
    ASSERT_TRUE(app.start()) << app.output().toStdString();
    // A silent card behind FPGA 0 port 4 (5, 1-based); one that answers
    // behind FPGA 1 port 1 (18).
    EXPECT_EQ(app.control("cards 5 1"), "");
    EXPECT_EQ(app.control("card-fault 5 silent"), "");
    EXPECT_EQ(app.control("cards 18 1"), "");
    ASSERT_TRUE(waitFor([&] { return app.control("fpga-status").find("status 1") != std::string::npos; }, 30000))
        << app.control("fpga-status");
    using Clock = std::chrono::steady_clock;
    auto msSince = [](Clock::time_point t) {
        return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t).count();
    };

    // A RAM read of the silent card over UDP: the cards are given 5 s.
    Bytes silent = {0x00, 0x00, 0x10, 0xF0, 0x10, 0x67, 0x01, 0x05, 0x00, 0x61, 0x00, 0x00, 0x00, 0x00, 0x04, 0x00};
    silent.push_back(xorOf(silent, silent.size()));
    UdpLink first;
    ASSERT_TRUE(first.open("127.0.0.1", app.linkPort("udp")));
    ASSERT_TRUE(first.sendRaw(frameBody(silent)));
    std::this_thread::sleep_for(std::chrono::milliseconds(200));

    // Meanwhile a TCP PC's pass-through to the answering card waits its
    // turn, and after it another TCP PC's and another UDP PC's plain reads:
    // each is answered within the 5 s and its own time (2 s here).
    Bytes answered = {0x00, 0x00, 0x10, 0xF0, 0x10, 0x67, 0x01, 0x12, 0x00, 0xA0, 0x01, 0x08, 0x00, 0x08};
    answered.push_back(xorOf(answered, answered.size()));
    TcpLink tcpPass, tcpRead;
    UdpLink udpRead;
    ASSERT_TRUE(tcpPass.open("127.0.0.1", app.linkPort("tcp")));
    ASSERT_TRUE(tcpRead.open("127.0.0.1", app.linkPort("tcp")));
    ASSERT_TRUE(udpRead.open("127.0.0.1", app.linkPort("udp")));
    const Clock::time_point passSent = Clock::now();
    ASSERT_TRUE(tcpPass.sendRaw(frameBody(answered)));
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    const Clock::time_point readsSent = Clock::now();
    ASSERT_TRUE(tcpRead.sendRaw(frameBody(buildBody(kProcessor, 0x61, ramReadPayload(768, 2)))));
    ASSERT_TRUE(udpRead.sendRaw(frameBody(buildBody(kProcessor, 0x61, ramReadPayload(768, 2)))));
    Reply r;
    ASSERT_TRUE(udpRead.receive(r, 15000));
    EXPECT_EQ(r.command, 0x61);
    EXPECT_LT(msSince(readsSent), 7000) << "the UDP PC's read";
    ASSERT_TRUE(tcpPass.receive(r, 15000));
    EXPECT_EQ(r.src, 0x0000);
    EXPECT_EQ(r.body[7], 0x12);
    EXPECT_LT(msSince(passSent), 7000) << "the TCP PC's pass-through";
    ASSERT_TRUE(tcpRead.receive(r, 15000));
    EXPECT_EQ(r.command, 0x61);
    EXPECT_LT(msSince(readsSent), 7000) << "the TCP PC's read";
    EXPECT_FALSE(first.receive(r, 100)) << "the silent card's request ends without an answer";

    // The pass-through that waits its turn goes to the silent card too: a
    // plain read sent after it on the same transport is not held for that
    // pass-through's own wait as well (both ways round).
    {
        UdpLink udpPass, udpRead2;
        TcpLink tcpPass2, tcpRead2;
        ASSERT_TRUE(udpPass.open("127.0.0.1", app.linkPort("udp")));
        ASSERT_TRUE(udpRead2.open("127.0.0.1", app.linkPort("udp")));
        ASSERT_TRUE(tcpPass2.open("127.0.0.1", app.linkPort("tcp")));
        ASSERT_TRUE(tcpRead2.open("127.0.0.1", app.linkPort("tcp")));
        for (const bool udpFirst : {true, false}) {
            ASSERT_TRUE(udpFirst ? first.sendRaw(frameBody(silent)) : tcpPass2.sendRaw(frameBody(silent)));
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
            ASSERT_TRUE(udpFirst ? tcpPass2.sendRaw(frameBody(silent)) : udpPass.sendRaw(frameBody(silent)));
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
            const Clock::time_point sent = Clock::now();
            const Bytes read = frameBody(buildBody(kProcessor, 0x61, ramReadPayload(768, 2)));
            ASSERT_TRUE(udpFirst ? tcpRead2.sendRaw(read) : udpRead2.sendRaw(read));
            ASSERT_TRUE(udpFirst ? tcpRead2.receive(r, 15000) : udpRead2.receive(r, 15000));
            EXPECT_EQ(r.command, 0x61);
            EXPECT_LT(msSince(sent), 7000) << (udpFirst ? "TCP" : "UDP") << " read behind a silent pass-through";
            // Both silent requests end before the next round.
            std::this_thread::sleep_for(std::chrono::milliseconds(10000));
        }
    }

    // A PC with three pass-throughs to the silent card (the first alone, two
    // more while it is served) holds a PC that sends a pass-through to the
    // answering card after it for at most the one being served (behind the
    // busy PC's second too, it would be answered 9.5 s after it asked), on
    // either transport.
    for (const bool overUdp : {false, true}) {
        const char* transport = overUdp ? "UDP" : "TCP";
        UdpLink udpBusy, udpLater;
        TcpLink tcpBusy, tcpLater;
        Link& busy = overUdp ? static_cast<Link&>(udpBusy) : tcpBusy;
        Link& later = overUdp ? static_cast<Link&>(udpLater) : tcpLater;
        ASSERT_TRUE(overUdp ? udpBusy.open("127.0.0.1", app.linkPort("udp"))
                            : tcpBusy.open("127.0.0.1", app.linkPort("tcp")));
        ASSERT_TRUE(busy.sendRaw(frameBody(silent)));
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        for (int i = 0; i < 2; ++i)
            ASSERT_TRUE(busy.sendRaw(frameBody(silent)));
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        ASSERT_TRUE(overUdp ? udpLater.open("127.0.0.1", app.linkPort("udp"))
                            : tcpLater.open("127.0.0.1", app.linkPort("tcp")));
        const Clock::time_point sent = Clock::now();
        ASSERT_TRUE(later.sendRaw(frameBody(answered)));
        ASSERT_TRUE(later.receive(r, 20000)) << transport;
        EXPECT_EQ(r.src, 0x0000);
        EXPECT_EQ(r.body[7], 0x12);
        EXPECT_LT(msSince(sent), 7000) << transport << " pass-through of a PC that came later";
        // The busy PC's own read comes after its three silent requests.
        ASSERT_TRUE(busy.request(kProcessor, 0x61, ramReadPayload(768, 2), r, 20000)) << transport;
        EXPECT_GE(msSince(sent), 9000) << transport << ": the busy PC's requests were all waited for";
    }

    // A save to the silent card still waits as the save job does (12 s and
    // 1 s for the card): a read sent 6 s into it waits for it.
    Bytes save = {0xFF, 0x0F, 0x10, 0xF0, 0x10, 0x67, 0x01, 0x05, 0x00, 0x81, 0xFF, 0x00};
    save.push_back(xorOf(save, save.size()));
    const Clock::time_point saveSent = Clock::now();
    ASSERT_TRUE(first.sendRaw(frameBody(save)));
    std::this_thread::sleep_for(std::chrono::milliseconds(6000));
    ASSERT_TRUE(first.request(kProcessor, 0x61, ramReadPayload(768, 2), r, 15000));
    EXPECT_GE(msSince(saveSent), 13000) << "the save was not waited for as long as the save job waits";
}

// A service that waits without telling it does lets the other worker read
// all the same (see runUnannouncedWait), with the card of port 5: the chip
// register print (register 161 bit 1), and a register write to the sending
// card behind a chip write that holds the SPI bus for 1.5 s.
TEST(E2eCards, AServiceThatWaitsUnannouncedLetsWhatArrivesTakeItsPlace)
{
    AppRunner app;
    ASSERT_TRUE(app.start()) << app.output().toStdString();
    EXPECT_EQ(app.control("cards 5 1"), "");
    ASSERT_TRUE(waitFor([&] { return app.control("fpga-status").find("status 1") != std::string::npos; }, 30000))
        << app.control("fpga-status");
    ASSERT_TRUE(waitFor([&] { return app.control("fpga-ram 0 1 560 2") == "0100"; }, 10000));
    UnannouncedWait link;
    link.udpPort = app.linkPort("udp");
    link.tcpPort = app.linkPort("tcp");
    link.cardRead = [](unsigned char address) {
        Bytes f = {0x00, 0x00, 0x10, 0xF0, 0x10, 0x67, 0x01, 0x05, 0x00, 0x61, address, 0x00, 0x00, 0x00, 0x04,
                   0x00, 0x00, 0x00};
        f.push_back(xorOf(f, f.size()));
        return frameBody(f);
    };
    link.readsTaken = [&] {
        std::vector<unsigned> out;
        std::istringstream log(app.control("card-log 5 0"));
        for (std::string line; std::getline(log, line);)
            if (line.size() >= 22 && line.compare(18, 2, "61") == 0)
                out.push_back(static_cast<unsigned>(std::stoi(line.substr(20, 2), nullptr, 16)));
        return out;
    };
    // Through the runner, which drains the console the print writes to.
    link.waitFor = [&](const std::function<bool()>& c, int ms) { return app.waitFor(c, ms); };
    runUnannouncedWait(link, "the chip register print",
                       [] { return frameBody(buildBody(kProcessor, 0xA0, regWritePayload({{161, 0x02, 0x02}}))); });
    // A contrast of its own each time (27, 28), so that the chip writes it.
    char contrast = 0x1b;
    runUnannouncedWait(link, "a card write behind a held chip write", [&] {
        char set[32];
        std::snprintf(set, sizeof(set), "store-set 2178 %02x00", contrast++);
        EXPECT_TRUE(app.waitFor([&] { return app.control("c331-hold") != "holding"; }, 20000));
        EXPECT_EQ(app.control("c331-hold 0C2802 1500"), "");
        EXPECT_EQ(app.control(set), "");
        EXPECT_TRUE(app.waitFor([&] { return app.control("c331-hold") == "holding"; }, 30000));
        return frameBody(buildBody(kSendingCard, 0xA0, regWritePayload({{6, 0xFF, 0x80}})));
    });
}

} // namespace
