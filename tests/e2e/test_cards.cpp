// The receiving cards behind the sending card in the running program: the
// PC's pass-through over UDP answered by a card, and the idle card search
// filling the per-port card counts.
#include "support/app_runner.h"
#include "support/wait_for.h"

#include "pcclient/pc_client.h"

#include <gtest/gtest.h>
#include <sstream>

using namespace pcclient;

namespace {

unsigned short udpPort(AppRunner& app)
{
    std::istringstream in(app.control("link-ports"));
    std::string w;
    unsigned v;
    while (in >> w >> v)
        if (w == "udp")
            return static_cast<unsigned short>(v);
    return 0;
}

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
    ASSERT_TRUE(udp.open("127.0.0.1", udpPort(app)));
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

    // A card that does not exist: no answer, and the link keeps serving.
    Bytes none = {0x09, 0x00, 0x10, 0xF0, 0x10, 0x67, 0x01, 0x05, 0x00, 0xA0, 0x00};
    none.push_back(xorOf(none, none.size()));
    ASSERT_TRUE(udp.sendRaw(frameBody(none)));
    EXPECT_FALSE(udp.receive(r, 1500));
    ASSERT_TRUE(udp.request(kSendingCard, 0x61, ramReadPayload(0x1000 + 560, 2), r));
    EXPECT_EQ(r.data, (Bytes{0x03, 0x00})) << "the PC reads the count from the parameter page";
}

} // namespace
