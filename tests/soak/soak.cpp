// Concurrent soak of the running program on a simulated board: for a
// bounded time every transport is driven at once, as PCs, tools and a user
// at the screen would: several UDP and TCP PCs reading and writing the
// parameter block and the user-mode slots, set-network and device
// information, the WiFi AT channel (address changes included), frames on
// the RS-485 link, pass-throughs to receiving cards, taps through the pages
// (a card check among them) and source changes.
//
// Not part of the test command: scripts/soak.sh builds it with a sanitizer
// and runs it. The run fails when the program reported anything (the
// runner reads its sanitizer reports when it stops), when it died, when
// device information reported an address nobody set, or when a driver
// never got its work done: a kind of work (a PC's answered request, a
// set-network, a device-information answer, an AT command, a pass-through,
// a posted card check, a source change) that did not happen once in the
// whole run fails it, since a soak in which a driver was shut out tested
// nothing of that driver.
//
//   ZDR_SOAK_SECONDS   length of the run (default 60; soak.sh passes its
//                      seconds)
// soak.sh's own settings: ZDR_SOAK_BUILD_DIR the build folder (default
// build-<kind>/, build/ for none), ZDR_SOAK_JOBS the build's jobs at once
// (default ZDR_JOBS, else every processor).
#include "support/app_runner.h"
#include "support/packed_card_file.h"
#include "support/wait_for.h"

#include "pcclient/pc_client.h"

#include <QDir>
#include <QFile>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <gtest/gtest.h>
#include <mutex>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

using namespace pcclient;

namespace {

using Ports = AppRunner::LinkPorts;

std::string quad(const unsigned char* b)
{
    return std::to_string(b[0]) + "." + std::to_string(b[1]) + "." + std::to_string(b[2]) + "." +
           std::to_string(b[3]);
}

// What the drivers did, for the summary.
struct Counts {
    std::atomic<long> requests{0};
    std::atomic<long> answered{0};
    std::atomic<long> setNetwork{0};
    std::atomic<long> deviceInfo{0};
    std::atomic<long> atCommands{0};
    std::atomic<long> passThroughs{0};
    std::atomic<long> passThroughsToCards{0};   // to the card that answers
    std::atomic<long> passThroughsAnswered{0};
    std::atomic<long> taps{0};
    std::atomic<long> sources{0};
    std::atomic<long> cardChecks{0};
};

// The addresses set so far (set-network and the AT channel); device
// information must report one of them.
class AddressBook {
public:
    void add(const std::string& a)
    {
        std::lock_guard<std::mutex> l(m_);
        set_.insert(a);
    }
    bool has(const std::string& a)
    {
        std::lock_guard<std::mutex> l(m_);
        return set_.count(a) != 0;
    }
    void badReport(const std::string& what)
    {
        std::lock_guard<std::mutex> l(m_);
        if (bad_.size() < 20)
            bad_.push_back(what);
        ++badCount_;
    }
    long badCount()
    {
        std::lock_guard<std::mutex> l(m_);
        return badCount_;
    }
    std::vector<std::string> bad()
    {
        std::lock_guard<std::mutex> l(m_);
        return bad_;
    }

private:
    std::mutex m_;
    std::set<std::string> set_;
    std::vector<std::string> bad_;
    long badCount_ = 0;
};

class Soak : public ::testing::Test {
protected:
    void SetUp() override
    {
        const char* s = std::getenv("ZDR_SOAK_SECONDS");
        seconds = s && *s ? std::atoi(s) : 60;
        if (seconds < 1)
            seconds = 1;
        // A sanitizer build starts slowly.
        ASSERT_TRUE(app.start(180000)) << app.output().toStdString();
        ports = app.linkPorts();
        ASSERT_NE(ports.udp, 0);
        ASSERT_NE(ports.tcp, 0);
        ASSERT_NE(ports.at, 0);
        // The settings a fresh board starts with.
        for (const char* a : {"192.168.1.199", "255.255.255.0", "192.168.1.1", "192.168.22.101"})
            book.add(a);
    }

    bool running() const { return !stop.load(); }

    // One PC: RAM reads and writes of the block's unused tail and picture
    // words and of the slots' uninterpreted tail, parameter items, the flag
    // register, and now and then a whole slot read.
    void pcLoop(Link& link, unsigned seed, bool networkToo)
    {
        std::mt19937 rng(seed);
        Reply r;
        // Three requests in a row without an answer end the loop: the caller
        // opens the link again (a TCP connection the program closed).
        int misses = 0;
        while (running() && misses < 3) {
            bool ok = false;
            switch (rng() % 9) {
            case 0: {   // the block's unused tail, 2880 to 4095
                Bytes data(1 + rng() % 200);
                for (auto& b : data)
                    b = static_cast<unsigned char>(rng());
                const uint32_t at = 2880 + rng() % static_cast<uint32_t>(4096 - 2880 - data.size() + 1);
                ok = link.request(kProcessor, 0x60, ramWritePayload(at, data), r, 3000);
                break;
            }
            case 1:   // contrast and saturation, in range
                ok = link.request(kProcessor, 0x60,
                                  ramWritePayload(2178, Bytes{static_cast<unsigned char>(rng() % 100), 0,
                                                              0x0A, 0, static_cast<unsigned char>(rng() % 100), 0}),
                                  r, 3000);
                break;
            case 2:   // the whole block, input signal records included
                ok = link.request(kProcessor, 0x61, ramReadPayload(0, 4096), r, 3000);
                break;
            case 3: {   // a slot's tail (bytes 3202 to 4095 are carried unchanged)
                const uint32_t slot = 1 + rng() % 16;
                Bytes data(64);
                for (auto& b : data)
                    b = static_cast<unsigned char>(rng());
                ok = link.request(kProcessor, 0x60, ramWritePayload((slot << 12) + 3300 + rng() % 700, data), r,
                                  3000);
                break;
            }
            case 4:   // a whole slot
                ok = link.request(kProcessor, 0x61, ramReadPayload(((1 + rng() % 16) << 12), 4096), r, 3000);
                break;
            case 5:   // brightness or colour temperature items
                ok = link.request(kProcessor, 0xB0,
                                  itemsPayload({{1, 0, static_cast<uint16_t>(rng() % 101)},
                                                {2, 0, static_cast<uint16_t>(rng() % 4)}}),
                                  r, 3000);
                break;
            case 6:   // the change flag: the chip applies, the page refreshes, the block is persisted
                ok = link.request(kProcessor, 0xA0, regWritePayload({{11, 0xFF, 1}}), r, 3000);
                break;
            case 7:
                ok = deviceInfo(link, r);
                break;
            case 8:
                if (networkToo)
                    ok = setNetwork(link, rng, r);
                else
                    ok = link.request(kProcessor, 0xA1, regReadPayload(0, 64), r, 3000);
                break;
            }
            ++counts.requests;
            if (ok)
                ++counts.answered;
            misses = ok ? 0 : misses + 1;
        }
    }

    bool deviceInfo(Link& link, Reply& r)
    {
        if (!link.request(kProcessor, 0x80, Bytes{}, r, 3000))
            return false;
        ++counts.deviceInfo;
        if (r.status != 0 || r.data.size() != 56) {
            book.badReport("device information of " + std::to_string(r.data.size()) + " bytes");
            return true;
        }
        const char* names[4] = {"address", "mask", "gateway", "WiFi address"};
        const size_t at[4] = {32, 36, 40, 46};
        for (int i = 0; i < 4; ++i) {
            const std::string a = quad(r.data.data() + at[i]);
            if (!book.has(a))
                book.badReport(std::string(names[i]) + " " + a);
        }
        return true;
    }

    bool setNetwork(Link& link, std::mt19937& rng, Reply& r)
    {
        const unsigned char ip[4] = {10, static_cast<unsigned char>(rng() % 4), static_cast<unsigned char>(rng() % 250),
                                     static_cast<unsigned char>(2 + rng() % 250)};
        const unsigned char mask[4] = {255, 255, 0, 0};
        const unsigned char gw[4] = {ip[0], ip[1], 0, 1};
        book.add(quad(ip));
        book.add(quad(mask));
        book.add(quad(gw));
        ++counts.setNetwork;
        return link.request(kProcessor, 0x82, networkPayload(ip, mask, gw, 0), r, 5000);
    }

    // A register write to card 2 of port 5 (the cards answer it) or to a
    // card that does not exist (nobody answers). The card's answer counts
    // when it came back: card 2's register write, to the PC, port 5. The
    // present card's answer is waited for longer than a request to the
    // absent card holds the links (5 s), so that it is not taken for the
    // next request's.
    bool passThrough(Link& link, bool present)
    {
        Bytes req = {static_cast<unsigned char>(present ? 0x02 : 0x09), 0x00, 0x10, 0xF0, 0x10, 0x67, 0x01, 0x05,
                     0x00, 0xA0, 0x01, 0x08, 0x00, 0x08};
        unsigned char x = 0;
        for (unsigned char c : req)
            x ^= c;
        req.push_back(x);
        ++counts.passThroughs;
        if (present)
            ++counts.passThroughsToCards;
        if (!link.sendRaw(frameBody(req)))
            return false;
        Reply r;
        if (!link.receive(r, present ? 8000 : 300))
            return false;
        const bool answer = r.dest == kPc && r.src == 0x0002 && r.body.size() >= 11 && r.body[7] == 0x05 &&
                            r.body[9] == 0xA0;
        if (answer)
            ++counts.passThroughsAnswered;
        return answer;
    }

    void atLoop(unsigned seed)
    {
        std::mt19937 rng(seed);
        while (running()) {
            std::string line;
            switch (rng() % 4) {
            case 0:
            case 1: {
                const std::string ip = "192.168." + std::to_string(20 + rng() % 10) + "." + std::to_string(1 + rng() % 254);
                book.add(ip);
                line = "AT+SETDATA=3," + ip;
                break;
            }
            case 2: line = "AT+CHECKDATA"; break;
            default: line = "AT+GETVER"; break;
            }
            atCommand("127.0.0.1", ports.at, line, 3000);
            ++counts.atCommands;
        }
    }

    // Taps through the pages: the home page, the device status page (the
    // network settings), input choice, the output and network settings
    // pages, and a card check from the advanced settings page.
    void tapLoop()
    {
        auto focus = [&] { return app.control("page-focus"); };
        auto tap = [&](int x, int y) {
            app.control("tap " + std::to_string(x) + " " + std::to_string(y));
            ++counts.taps;
        };
        auto reach = [&](const std::string& page) { return waitFor([&] { return focus() == page; }, 20000); };
        auto home = [&] {
            for (int i = 0; i < 4 && running(); ++i) {
                const std::string f = focus();
                if (f == "1")
                    return true;
                if (f == "0")
                    tap(400, 240);
                else
                    tap(36, 36);
                waitFor([&] { return focus() != f; }, 3000);
            }
            return focus() == "1";
        };
        // Opens a page from the one shown and comes back.
        auto visit = [&](int x, int y, const std::string& page, const std::string& from) {
            tap(x, y);
            if (!reach(page))
                return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
            tap(36, 36);
            return reach(from);
        };
        while (running()) {
            if (!home())
                continue;
            // The card check first: under load the pages take their time.
            tap(495, 180);               // settings
            if (!reach("5"))
                continue;
            tap(681, 310);               // advanced settings
            if (reach("12")) {
                const std::string before = app.control("card-job");
                tap(290, 112);           // the card check
                // Counted once the job is posted. It pauses while the PCs
                // are active, as every card job does, and goes on between
                // their bursts.
                if (waitFor([&] { return app.control("card-job") != before || !running(); }, 20000)) {
                    checkStarted = true;
                    ++counts.cardChecks;
                    waitFor([&] { return app.control("card-job").rfind("job 0", 0) == 0 || !running(); }, 30000);
                }
                tap(36, 36);
                if (!reach("5"))
                    continue;
            }
            visit(489, 150, "6", "5");   // output settings
            visit(681, 150, "10", "5");  // network settings
            tap(36, 36);
            if (!reach("1"))
                continue;
            visit(685, 180, "2", "1");   // device status
            visit(115, 180, "3", "1");   // input choice
        }
    }

    void sourceLoop(unsigned seed)
    {
        std::mt19937 rng(seed);
        const char* const shapes[4] = {"1920 1080 60", "1280 720 60", "3840 2160 30", "none"};
        while (running()) {
            app.control("source " + std::to_string(rng() % 6) + " " + shapes[rng() % 4]);
            ++counts.sources;
            std::this_thread::sleep_for(std::chrono::milliseconds(150));
        }
    }

    AppRunner app;
    Ports ports;
    int seconds = 60;
    std::atomic<bool> stop{false};
    std::atomic<bool> checkStarted{false};
    Counts counts;
    AddressBook book;
};

TEST_F(Soak, EveryTransportAtOnce)
{
    // Cards behind FPGA 0 port 2 and port 4 (pass-throughs go to port 5,
    // 1-based), with a card-parameter file for the check.
    EXPECT_EQ(app.control("cards 3 3"), "");
    EXPECT_EQ(app.control("cards 5 3"), "");
    {
        const std::string bytes = testfiles::threeCardFile();
        QDir().mkpath(QString::fromStdString(app.hostPath("/data/rcvrecovery")));
        QFile f(QString::fromStdString(app.hostPath("/data/rcvrecovery/KQFX")));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(bytes.data(), static_cast<qint64>(bytes.size()));
    }
    waitFor([&] { return app.control("fpga-status").find("status 1") != std::string::npos; }, 60000);

    std::vector<std::thread> drivers;
    // The taps first: under load (and under a sanitizer) the pages answer
    // slowly, and the first card check is to run while the load comes on.
    drivers.emplace_back([this] { tapLoop(); });
    app.waitFor([&] { return checkStarted.load(); }, 120000);
    // Two UDP and two TCP PCs; one of each also sets the network.
    for (unsigned i = 0; i < 2; ++i) {
        drivers.emplace_back([this, i] {
            UdpLink udp;
            if (!udp.open("127.0.0.1", ports.udp))
                return;
            for (unsigned round = 0; running(); ++round)
                pcLoop(udp, 100 + i + 10 * round, i == 0);
        });
        drivers.emplace_back([this, i] {
            for (unsigned round = 0; running(); ++round) {
                TcpLink tcp;
                if (!tcp.open("127.0.0.1", ports.tcp)) {
                    std::this_thread::sleep_for(std::chrono::milliseconds(100));
                    continue;
                }
                pcLoop(tcp, 200 + i + 10 * round, i == 0);
            }
        });
    }
    // Two device-information PCs over UDP.
    for (unsigned i = 0; i < 2; ++i) {
        drivers.emplace_back([this] {
            UdpLink udp;
            if (!udp.open("127.0.0.1", ports.udp))
                return;
            Reply r;
            while (running())
                deviceInfo(udp, r);
        });
    }
    // Two tools on the WiFi AT channel.
    for (unsigned i = 0; i < 2; ++i)
        drivers.emplace_back([this, i] { atLoop(300 + i); });
    // The RS-485 link.
    drivers.emplace_back([this] {
        SerialLink rs485;
        if (!rs485.open(app.hostPath("/dev/ttyS2")))
            return;
        for (unsigned round = 0; running(); ++round)
            pcLoop(rs485, 400 + round, false);
    });
    // Pass-throughs over UDP and TCP, to a present and an absent card.
    drivers.emplace_back([this] {
        UdpLink udp;
        if (!udp.open("127.0.0.1", ports.udp))
            return;
        // Spaced out: a link serves one request at a time, and a card that
        // does not answer holds it for the pass-through's bound.
        for (unsigned n = 0; running(); ++n) {
            passThrough(udp, n % 8 != 7);
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
        }
    });
    drivers.emplace_back([this] {
        while (running()) {
            TcpLink tcp;
            if (!tcp.open("127.0.0.1", ports.tcp)) {
                std::this_thread::sleep_for(std::chrono::milliseconds(100));
                continue;
            }
            for (unsigned n = 0; running() && n < 50; ++n) {
                passThrough(tcp, n % 8 != 7);
                std::this_thread::sleep_for(std::chrono::milliseconds(300));
            }
        }
    });
    drivers.emplace_back([this] { sourceLoop(500); });

    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    bool alive = true;
    while (std::chrono::steady_clock::now() < until) {
        // The program's console output is drained meanwhile, so that it
        // never blocks on a full pipe.
        if (!app.waitFor([] { return false; }, 200) && !app.running()) {
            alive = false;
            break;
        }
    }
    stop = true;
    for (auto& t : drivers)
        t.join();
    alive = alive && app.running();

    std::printf("soak: %d s, %ld requests (%ld answered), %ld set-network, %ld device information, %ld AT "
                "commands, %ld pass-throughs (%ld to the card that answers, %ld answered), %ld taps, %ld card checks, %ld source changes\n",
                seconds, counts.requests.load(), counts.answered.load(), counts.setNetwork.load(),
                counts.deviceInfo.load(), counts.atCommands.load(), counts.passThroughs.load(),
                counts.passThroughsToCards.load(), counts.passThroughsAnswered.load(), counts.taps.load(),
                counts.cardChecks.load(), counts.sources.load());
    EXPECT_TRUE(alive) << "the program died:\n" << app.output().toStdString();
    // Every driver did its work: a soak in which one of them never got
    // through proves nothing of it.
    EXPECT_GT(counts.answered.load(), 0);
    EXPECT_GT(counts.setNetwork.load(), 0);
    EXPECT_GT(counts.deviceInfo.load(), 0);
    EXPECT_GT(counts.atCommands.load(), 0);
    EXPECT_GT(counts.passThroughs.load(), 0);
    // A pass-through counts once the card's answer came back; the card
    // answers every one sent to it, and only a reply lost under load (a
    // sanitizer's slowness) may go missing: most must come back.
    EXPECT_GT(counts.passThroughsAnswered.load(), 0) << "no pass-through was answered";
    EXPECT_GE(2 * counts.passThroughsAnswered.load(), counts.passThroughsToCards.load())
        << "fewer than half of the pass-throughs to the card that answers were answered";
    EXPECT_GT(counts.cardChecks.load(), 0) << "no card check was posted";
    EXPECT_GT(counts.sources.load(), 0);
    EXPECT_EQ(book.badCount(), 0) << "device information reported addresses nobody set, e.g. "
                                  << (book.bad().empty() ? std::string() : book.bad().front());
    for (const std::string& b : book.bad())
        std::printf("soak: reported %s\n", b.c_str());
    // The runner fails the test on any sanitizer report of the program.
    app.stop();
}

} // namespace
