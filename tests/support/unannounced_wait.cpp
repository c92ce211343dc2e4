#include "support/unannounced_wait.h"

#include <chrono>
#include <gtest/gtest.h>
#include <thread>

using namespace pcclient;

void runUnannouncedWait(const UnannouncedWait& link, const std::string& service,
                        const std::function<Bytes()>& begin, const std::function<void()>& release)
{
    for (const bool busyOnTcp : {false, true}) {
        SCOPED_TRACE(service + (busyOnTcp ? ", TCP serving" : ", UDP serving"));
        UdpLink udpBusy, udpSame, udpOther, burst;
        TcpLink tcpBusy, tcpSame, tcpOther;
        for (UdpLink* u : {&udpBusy, &udpSame, &udpOther, &burst})
            ASSERT_TRUE(u->open("127.0.0.1", link.udpPort));
        for (TcpLink* t : {&tcpBusy, &tcpSame, &tcpOther})
            ASSERT_TRUE(t->open("127.0.0.1", link.tcpPort));
        Link& busy = busyOnTcp ? static_cast<Link&>(tcpBusy) : udpBusy;
        Link& same = busyOnTcp ? static_cast<Link&>(tcpSame) : udpSame;
        Link& other = busyOnTcp ? static_cast<Link&>(udpOther) : tcpOther;
        const size_t before = link.readsTaken().size();
        const Bytes frame = begin();
        const auto start = std::chrono::steady_clock::now();
        ASSERT_TRUE(busy.sendRaw(frame));
        std::this_thread::sleep_until(start + std::chrono::milliseconds(150));
        ASSERT_TRUE(same.sendRaw(link.cardRead(0x50)));
        std::this_thread::sleep_until(start + std::chrono::milliseconds(300));
        ASSERT_TRUE(other.sendRaw(link.cardRead(0x60)));
        const Bytes big(4000, 0x5A);
        for (int i = 0; i < 40; ++i) {
            ASSERT_TRUE(burst.sendRaw(frameBody(buildBody(kProcessor, 0x60, ramWritePayload(2880, big)))));
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        if (release)
            release();
        Reply r;
        const char* who[3] = {"the busy PC", "the same transport's pass-through", "the other's"};
        Link* pcs[3] = {&busy, &same, &other};
        for (int i = 0; i < 3; ++i)
            ASSERT_TRUE(link.waitFor([&] { return pcs[i]->receive(r, 20); }, 20000)) << who[i];
        // The two reads in the order the card took them (the idle card
        // search may read the card meanwhile).
        const auto taken = link.readsTaken();
        std::vector<unsigned> ours;
        for (size_t i = before; i < taken.size(); ++i)
            if (taken[i] == 0x50 || taken[i] == 0x60)
                ours.push_back(taken[i]);
        std::string since;
        for (size_t i = before; i < taken.size(); ++i)
            since += (since.empty() ? "" : " ") + std::to_string(taken[i]);
        ASSERT_EQ(ours.size(), 2u) << "the reads the card took since the round began, by address: " << since;
        EXPECT_EQ(ours[0], 0x50u) << "the other transport's later pass-through went first";
        int answered = 0;
        while (answered < 40 && link.waitFor([&] { return burst.receive(r, 20); }, 5000))
            ++answered;
        EXPECT_EQ(answered, 40);
    }
}
