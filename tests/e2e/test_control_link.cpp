// The control link of the running program on a simulated board: the PC's
// requests over UDP, TCP and the RS-485 port, file uploads, the WiFi AT
// channel, and the road of a parameter change to /data/ram_device_info.
#include "support/app_runner.h"
#include "support/wait_for.h"

#include "core/md5.h"
#include "pcclient/pc_client.h"

#include <QFile>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <functional>
#include <csignal>
#include <gtest/gtest.h>
#include <sstream>
#include <thread>

using namespace pcclient;

namespace {

using Ports = AppRunner::LinkPorts;

std::string hex(const Bytes& b)
{
    std::string s;
    char t[3];
    for (unsigned char c : b) {
        std::snprintf(t, sizeof(t), "%02x", c);
        s += t;
    }
    return s;
}

Bytes readAll(const std::string& path)
{
    QFile f(QString::fromStdString(path));
    if (!f.open(QIODevice::ReadOnly))
        return {};
    const QByteArray a = f.readAll();
    return Bytes(a.begin(), a.end());
}

// Writes bytes into the processor's RAM and reads them back.
void writeAndReadBack(Link& link, uint32_t address, const Bytes& data)
{
    Reply r;
    ASSERT_TRUE(link.request(kProcessor, 0x60, ramWritePayload(address, data), r));
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.src, kProcessor);
    EXPECT_EQ(r.dest, kPc);
    ASSERT_TRUE(link.request(kProcessor, 0x61, ramReadPayload(address, static_cast<uint16_t>(data.size())), r));
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.data, data);
}

class E2eControlLink : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(app.start()) << app.output().toStdString();
        ports = app.linkPorts();
        ASSERT_NE(ports.udp, 0);
        ASSERT_NE(ports.tcp, 0);
        ASSERT_NE(ports.at, 0);
    }

    // Raises the flag register and follows the change to the file. Skips
    // while no chip thread consumes the flag on this build.
    void expectPersisted(Link& link, unsigned char flag, int blockOffset, const Bytes& data)
    {
        Reply r;
        ASSERT_TRUE(link.request(kProcessor, 0xA0, regWritePayload({{11, 0xFF, flag}}), r));
        EXPECT_EQ(r.status, 0);
        const std::string want = hex(data);
        const std::string probe =
            "store-read shadow " + std::to_string(blockOffset) + " " + std::to_string(data.size());
        if (!waitFor([&] { return app.control(probe) == want; }, 5000)) {
            if (app.control("c331-flag") == std::to_string(flag))
                GTEST_SKIP() << "the chip thread does not consume the c331 change flag on this build";
            FAIL() << "the flag was consumed but the shadow never followed the block";
        }
        const Bytes file = readAll(app.hostPath("/data/ram_device_info"));
        ASSERT_EQ(file.size(), 4096u);
        EXPECT_EQ(Bytes(file.begin() + 2 + blockOffset - 768, file.begin() + 2 + blockOffset - 768 +
                                                                   static_cast<long>(data.size())),
                  data);
    }

    AppRunner app;
    Ports ports;
};

} // namespace

TEST_F(E2eControlLink, UdpReadsAndWritesTheBlockAndRaisesTheFlag)
{
    UdpLink udp;
    ASSERT_TRUE(udp.open("127.0.0.1", ports.udp));
    // The saturation, 33.
    writeAndReadBack(udp, 2182, Bytes{0x21, 0x00});
    EXPECT_EQ(app.control("store-read block 2182 2"), "2100");

    Reply r;
    ASSERT_TRUE(udp.request(kProcessor, 0x80, Bytes{}, r));
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.data.size(), 56u);
    // The sending card's parameter page of FPGA 0.
    ASSERT_TRUE(udp.request(kSendingCard, 0x61, ramReadPayload(0x1000, 4), r));
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.data.size(), 4u);
    expectPersisted(udp, 1, 2182, Bytes{0x21, 0x00});
}

TEST_F(E2eControlLink, TcpWritesAUserModeSlotAndRewritesItsFileOnFlagTwo)
{
    TcpLink tcp;
    ASSERT_TRUE(tcp.open("127.0.0.1", ports.tcp));
    // User mode 3: marker and the first bytes of its image.
    writeAndReadBack(tcp, 0x3000, Bytes{0xAA, 0xAA, 0x80, 0x07});
    EXPECT_EQ(app.control("store-read slot2 0 4"), "aaaa8007");
    writeAndReadBack(tcp, 2176, Bytes{0x2A, 0x00});
    expectPersisted(tcp, 2, 2176, Bytes{0x2A, 0x00});
    if (IsSkipped() || HasFatalFailure())
        return;
    ASSERT_TRUE(waitFor([&] { return readAll(app.hostPath("/data/modes/custom_mode3")).size() == 4096u; }, 5000));
    const Bytes mode = readAll(app.hostPath("/data/modes/custom_mode3"));
    EXPECT_EQ(Bytes(mode.begin(), mode.begin() + 4), (Bytes{0xAA, 0xAA, 0x80, 0x07}));
}

// A PC dragging a slider: a value and the change flag many times a second.
// The GUI thread keeps up: once the PC stops, its 10 ms timer fires
// normally within a second and the file holds the last value.
TEST_F(E2eControlLink, AValueAndTheFlagWrittenAtASlidersPaceLeaveTheGuiTimerFiring)
{
    UdpLink udp;
    ASSERT_TRUE(udp.open("127.0.0.1", ports.udp));
    auto firings = [&] {
        const std::string t = app.control("gui-timer-firings");
        return t.empty() || t.find("error") != std::string::npos ? 0ul : std::stoul(t);
    };
    // Writes the saturation and raises the flag until the time is up,
    // pausing pauseMs between the writes; the last value written.
    auto drag = [&](int forMs, int pauseMs, unsigned char flag) {
        const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(forMs);
        unsigned char value = 0;
        Reply r;
        while (std::chrono::steady_clock::now() < until) {
            value = static_cast<unsigned char>(value % 100 + 1);
            EXPECT_TRUE(udp.request(kProcessor, 0x60, ramWritePayload(2182, Bytes{value, 0x00}), r));
            EXPECT_TRUE(udp.request(kProcessor, 0xA0, regWritePayload({{11, 0xFF, flag}}), r));
            if (pauseMs > 0)
                app.waitFor([] { return false; }, pauseMs);
            else
                app.waitFor([] { return true; }, 0);   // the program's console output is drained
        }
        return value;
    };
    auto fileValue = [&] {
        const Bytes file = readAll(app.hostPath("/data/ram_device_info"));
        return file.size() == 4096u ? file[2 + 2182 - 768] : -1;
    };
    // From a second after the PC stopped, a second of the GUI timer's
    // firings: 100 when the GUI thread keeps up.
    auto firingsOfASecond = [&] {
        app.waitFor([] { return false; }, 1000);
        const unsigned long before = firings();
        app.waitFor([] { return false; }, 1000);
        return firings() - before;
    };
    firings();   // counted from now on

    // 20 times a second (a write, the flag, 50 ms).
    const int last = drag(4000, 50, 1);
    EXPECT_GE(firingsOfASecond(), 50u);
    EXPECT_TRUE(waitFor([&] { return fileValue() == last; }, 2000)) << fileValue() << " " << last;

    // Back to back, the flag asking for the user-mode files too.
    const int last2 = drag(5000, 0, 2);
    EXPECT_GE(firingsOfASecond(), 50u);
    EXPECT_TRUE(waitFor([&] { return fileValue() == last2; }, 2000)) << fileValue() << " " << last2;
}

// A PC writing a plain stored value (block offset 770) back to back while
// the program is stopped (SIGTERM), on each transport: the last value
// answered is stored (or the one after it, served as the stop came), and
// the PC reads it back after a restart. A write still under way behind the
// chip (held for 20 s) is not answered, and the program leaves long before
// the chip would let it through, with what was answered stored. A user
// mode the PC saved (its word 868, a byte of the picture, flag 2), stopped
// right after the answer, at start-up or while the chip's pass for it is
// held, is saved after the restart: its slot, its file, the request gone.
TEST_F(E2eControlLink, WhatAPcWasAnsweredBeforeAStopIsStored)
{
    const std::string held = "UDP, the last write held behind the chip";
    const std::string modeAtStart = "a user mode saved at start-up";
    const std::string modeHeld = "a user mode saved, its chip pass held";
    // Saves user mode slot + 1 with picture byte 2500 = slot, then stops.
    auto saveModeAndStop = [&](const std::string& what, int slot) {
        UdpLink udp;
        ASSERT_TRUE(udp.open("127.0.0.1", app.linkPort("udp")));
        Reply r;
        const unsigned char s = static_cast<unsigned char>(slot);
        Bytes contrast;
        if (what == modeHeld) {
            ASSERT_TRUE(app.waitFor(
                [&] { return app.control("c331-state").find("state=6") != std::string::npos; }, 30000));
            EXPECT_EQ(app.control("c331-hold 0C2802 20000"), "");
            contrast = Bytes{static_cast<unsigned char>(0x20 + s), 0x00};
            ASSERT_TRUE(udp.request(kProcessor, 0x60, ramWritePayload(2178, contrast), r));
        }
        ASSERT_TRUE(udp.request(kProcessor, 0x60, ramWritePayload(2500, Bytes{s}), r));
        ASSERT_TRUE(udp.request(kProcessor, 0x60, ramWritePayload(868, Bytes{static_cast<unsigned char>(s + 1), 0}), r));
        ASSERT_TRUE(udp.request(kProcessor, 0xA0, regWritePayload({{11, 0xFF, 2}}), r));
        ASSERT_EQ(r.status, 0);
        if (what == modeHeld)
            EXPECT_TRUE(app.waitFor([&] { return app.control("c331-hold") == "holding"; }, 30000));
        const auto stopped = std::chrono::steady_clock::now();
        ::kill(static_cast<pid_t>(app.pid()), SIGTERM);
        EXPECT_EQ(app.waitForExit(60000), 0) << what;
        EXPECT_LT(std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - stopped)
                      .count(),
                  15000)
            << what << ": the stop waited for the chip";
        const Bytes file = readAll(app.hostPath("/data/modes/custom_mode" + std::to_string(slot + 1)));
        EXPECT_EQ(file.size() == 4096u ? hex(Bytes(file.begin(), file.begin() + 2)) + hex(Bytes{file[2 + 2500 - 896]})
                                       : "no file",
                  "aaaa" + hex(Bytes{s}))
            << what;
        ASSERT_TRUE(app.start()) << app.output().toStdString();
        EXPECT_EQ(app.control("store-read slot" + std::to_string(slot) + " 0 2"), "aaaa") << what;
        EXPECT_EQ(app.control("store-read slot" + std::to_string(slot) + " " + std::to_string(2 + 2500 - 896) + " 1"),
                  hex(Bytes{s}))
            << what;
        UdpLink again;
        ASSERT_TRUE(again.open("127.0.0.1", app.linkPort("udp")));
        ASSERT_TRUE(again.request(kProcessor, 0x61, ramReadPayload(868, 2), r));
        EXPECT_EQ(r.data, (Bytes{0, 0})) << what << ": the request was taken";
    };
    int modeSlot = 6;
    for (const std::string transport : {"UDP", "TCP", "RS-485", held.c_str(), modeAtStart.c_str(), modeHeld.c_str()}) {
        if (transport == modeAtStart || transport == modeHeld) {
            if (transport == modeAtStart) {
                app.stop();
                ASSERT_TRUE(app.start()) << app.output().toStdString();
            }
            saveModeAndStop(transport, ++modeSlot);
            continue;
        }
        UdpLink udp;
        TcpLink tcp;
        SerialLink rs485;
        Link* pc = &udp;
        if (transport == "TCP") {
            ASSERT_TRUE(tcp.open("127.0.0.1", app.linkPort("tcp")));
            pc = &tcp;
        } else if (transport == "RS-485") {
            ASSERT_TRUE(rs485.open(app.hostPath("/dev/ttyS2")));
            pc = &rs485;
        } else {
            ASSERT_TRUE(udp.open("127.0.0.1", app.linkPort("udp")));
        }
        std::atomic<int> answered{0};
        std::atomic<bool> pause{transport == held};
        std::thread writer([&] {
            Reply r;
            for (int v = 1; v < 0xFFFF; ++v) {
                while (pause && v > 200)
                    std::this_thread::sleep_for(std::chrono::milliseconds(1));
                const Bytes value{static_cast<unsigned char>(v), static_cast<unsigned char>(v >> 8)};
                if (!pc->request(kProcessor, 0x60, ramWritePayload(770, value), r, 3000) || r.status != 0)
                    break;
                answered = v;
            }
        });
        EXPECT_TRUE(app.waitFor([&] { return answered >= 200; }, 30000)) << transport;
        if (transport == held) {
            EXPECT_TRUE(app.waitFor(
                [&] { return app.control("c331-state").find("state=6") != std::string::npos; }, 30000));
            EXPECT_EQ(app.control("c331-hold 0C2802 20000"), "");
            EXPECT_EQ(app.control("store-set 2178 1900"), "");
            EXPECT_TRUE(app.waitFor([&] { return app.control("c331-hold") == "holding"; }, 30000));
            pause = false;
            // The write after the 200th is under way, held behind the chip.
            EXPECT_TRUE(app.waitFor([&] { return app.control("link-in-service") == "1"; }, 30000));
        }
        const std::string log = app.hostPath("/data/velmokq/log/prqEnglneLog");
        const size_t logged = readAll(log).size();
        const auto stopped = std::chrono::steady_clock::now();
        ::kill(static_cast<pid_t>(app.pid()), SIGTERM);
        EXPECT_EQ(app.waitForExit(60000), 0) << transport;
        const auto leftMs =
            std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - stopped).count();
        EXPECT_LT(leftMs, 15000) << transport << ": the stop waited for the chip";
        const Bytes logNow = readAll(log);
        const std::string sinceStop(logNow.begin() + static_cast<long>(std::min(logged, logNow.size())), logNow.end());
        if (transport == held) {
            EXPECT_NE(sinceStop.find("still under way as the program left"), std::string::npos)
                << "the held write was not under way a second after the stop";
        }
        writer.join();
        const Bytes file = readAll(app.hostPath("/data/ram_device_info"));
        ASSERT_EQ(file.size(), 4096u) << transport;
        const int stored = file[2 + 770 - 768] | file[3 + 770 - 768] << 8;
        EXPECT_GE(stored, answered) << transport << ": an answered write was lost";
        EXPECT_LE(stored, answered + (transport == held ? 0 : 1)) << transport;
        ASSERT_TRUE(app.start()) << app.output().toStdString();
        UdpLink again;
        Reply r;
        ASSERT_TRUE(again.open("127.0.0.1", app.linkPort("udp")));
        ASSERT_TRUE(again.request(kProcessor, 0x61, ramReadPayload(770, 2), r));
        EXPECT_EQ(r.data, (Bytes{file[4], file[5]})) << transport;
    }
}

// Each kind of thing the PC stores, answered and the program stopped
// (SIGTERM) right after the answer: at start-up, and with the FPGA thread
// stuck in a store into a flash that stays busy. After the restart each
// reads back as the PC set it.
TEST_F(E2eControlLink, EachKindTheStopAnsweredIsKeptWhateverTheThreadsAreDoing)
{
    struct Kind {
        const char* what;
        bool needsFpgaFlash;
        std::function<bool(UdpLink&)> store;
        std::function<bool()> kept;
    };
    auto cardCommand = [](UdpLink& udp, const Bytes& page) {
        Reply r;
        Bytes write{0x00, 0x00, 0x01, 0x00, static_cast<unsigned char>(page.size()), 0x00, 0x00, 0x00};
        write.insert(write.end(), page.begin(), page.end());
        return udp.request(kSendingCard, 0x60, write, r, 5000, 0) && r.status == 0 &&
               udp.request(kSendingCard, 0xA0, Bytes{0x02, 0x00, 0x04, 0x04}, r, 5000, 0) && r.status == 0;
    };
    auto blockReads = [&](int offset, const std::string& want) {
        return app.control("store-read block " + std::to_string(offset) + " 2") == want;
    };
    const std::vector<Kind> kinds = {
        {"item 2 (colour temperature 3)", false,
         [](UdpLink& udp) {
             Reply r;
             return udp.request(kProcessor, 0xB0, itemsPayload({{2, 0, 3}}), r) && r.status == 0;
         },
         [&] { return blockReads(2184, "0300"); }},
        {"a block word (contrast 0x37)", false,
         [](UdpLink& udp) {
             Reply r;
             return udp.request(kProcessor, 0x60, ramWritePayload(2178, {0x37, 0}), r) && r.status == 0 &&
                    udp.request(kProcessor, 0xA0, regWritePayload({{11, 0xFF, 1}}), r) && r.status == 0;
         },
         [&] { return blockReads(2178, "3700"); }},
        {"the WiFi address", false,
         [&](UdpLink&) {
             return atCommand("127.0.0.1", app.linkPort("at"), "AT+SETDATA=3,10.9.8.7\r\n") == "OK\r\n";
         },
         [&] {
             QFile f(QString::fromStdString(app.hostPath("/data/configs/tcpip.ini")));
             return f.open(QIODevice::ReadOnly) && f.readAll().contains("10.9.8.7");
         }},
        {"the brightness record (manual 0x5A)", true,
         [&](UdpLink& udp) {
             return cardCommand(udp, {0xAA, 0x03, 0xAA, 0x00, 0x00, 0x00, 0x31, 0x00, 0x10, 0x5A});
         },
         [&] { return app.control("flash-read 2 0x6CE000 10") == "aa03aa0000003100105a"; }},
        {"the on/off schedule (one entry)", true,
         [&](UdpLink& udp) {
             return cardCommand(udp, {0xAA, 0x02, 0xAA, 0x00, 0x00, 0x00, 0x05, 0x00, 0x01, 0x07, 0x30, 0x22, 0x00});
         },
         [&] { return app.control("flash-read 2 0x6CD000 13") == "aa02aa00000005000107302200"; }},
    };
    for (const bool flashBusy : {false, true}) {
        for (const Kind& k : kinds) {
            if (flashBusy && k.needsFpgaFlash)
                continue;   // a store the flash does not take is no store answered
            const std::string what = std::string(k.what) + (flashBusy ? ", the FPGA flash busy" : ", at start-up");
            SCOPED_TRACE(what);
            app.stop();
            ASSERT_TRUE(app.start()) << app.output().toStdString();
            UdpLink udp;
            ASSERT_TRUE(udp.open("127.0.0.1", app.linkPort("udp")));
            if (flashBusy || k.needsFpgaFlash)
                ASSERT_TRUE(app.waitFor([&] { return app.control("fpga-status").find("\nstatus 1") != std::string::npos; },
                                        40000));
            if (flashBusy) {
                // The FPGA thread stores a brightness percent into a flash
                // that stays busy.
                ASSERT_EQ(app.control("flash-busy 2 stuck"), "");
                ASSERT_EQ(app.control("store-set 2176 2100"), "");
                std::this_thread::sleep_for(std::chrono::milliseconds(300));
            }
            ASSERT_TRUE(k.store(udp));
            ::kill(static_cast<pid_t>(app.pid()), SIGTERM);
            EXPECT_EQ(app.waitForExit(60000), 0);
            ASSERT_TRUE(app.start()) << app.output().toStdString();
            EXPECT_TRUE(app.waitFor(k.kept, 10000));
        }
    }
}

// While the flashes behind both FPGAs stay busy and the FPGA thread stores
// a brightness record into the one behind FPGA 0 (each try waits 4 s for
// it), a PC's items, its RAM writes with their flag, its reads of the
// block and of both FPGAs' registers are each answered within 2 s (they
// take milliseconds): only the store waits for the flash.
TEST_F(E2eControlLink, AFlashThatStaysBusyHoldsOnlyTheActThatWaitsForIt)
{
    UdpLink udp;
    ASSERT_TRUE(udp.open("127.0.0.1", ports.udp));
    ASSERT_TRUE(app.waitFor([&] { return app.control("fpga-status").find("\nstatus 1") != std::string::npos; },
                            40000));
    ASSERT_EQ(app.control("flash-busy 2 stuck"), "");
    ASSERT_EQ(app.control("flash-busy 3 stuck"), "");
    // 45 %, another percent than the one in force.
    ASSERT_EQ(app.control("store-set 2176 2d00"), "");
    const struct {
        const char* what;
        std::function<bool(int)> asked;
    } requests[] = {
        {"item 2 (colour temperature)",
         [&](int n) {
             Reply r;
             return udp.request(kProcessor, 0xB0, itemsPayload({{2, 0, static_cast<uint16_t>(n % 4)}}), r, 2000) &&
                    r.status == 0;
         }},
        {"a RAM write of the contrast and its flag",
         [&](int n) {
             Reply r;
             return udp.request(kProcessor, 0x60, ramWritePayload(2178, {static_cast<unsigned char>(40 + n % 9), 0}),
                                r, 2000) &&
                    r.status == 0 && udp.request(kProcessor, 0xA0, regWritePayload({{11, 0xFF, 1}}), r, 2000) &&
                    r.status == 0;
         }},
        {"a read of the block",
         [&](int) {
             Reply r;
             return udp.request(kProcessor, 0x61, ramReadPayload(2176, 2), r, 2000) && r.status == 0;
         }},
        {"a read of register 6 of each FPGA",
         [&](int) {
             Reply r;
             for (unsigned char fpga : {0, 1})
                 if (!udp.request(kSendingCard, 0xA1, Bytes{0x06, 0x00, 0x01, 0x00}, r, 2000, fpga) || r.status != 0)
                     return false;
             return true;
         }},
    };
    // Past the first try and into the next one (10 s later).
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(12);
    std::vector<double> slowestMs(std::size(requests), 0.0);
    for (int n = 0; std::chrono::steady_clock::now() < end; ++n) {
        for (size_t k = 0; k < std::size(requests); ++k) {
            const auto asked = std::chrono::steady_clock::now();
            ASSERT_TRUE(requests[k].asked(n)) << requests[k].what << ", round " << n;
            slowestMs[k] = std::max(
                slowestMs[k], std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - asked).count());
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    for (size_t k = 0; k < std::size(requests); ++k)
        std::printf("%s: slowest answer %.0f ms\n", requests[k].what, slowestMs[k]);
}

TEST_F(E2eControlLink, ACommandThatWorksForSecondsKeepsItsTcpConnection)
{
    // Erasing 24 blocks of 64 KiB of the chip's flash from 16 MiB on takes
    // seconds; the reply, and the next request on the same connection,
    // still come.
    TcpLink tcp;
    ASSERT_TRUE(tcp.open("127.0.0.1", ports.tcp));
    Reply r;
    ASSERT_TRUE(tcp.request(kProcessor, 0x70, Bytes{0x04, 0x02, 0x00, 0x10, 0x18, 0x00}, r, 30000));
    EXPECT_EQ(r.status, 0);
    ASSERT_TRUE(tcp.request(kProcessor, 0x61, ramReadPayload(768, 2), r, 3000)) << "the connection serves on";
    EXPECT_EQ(r.status, 0);
}

TEST_F(E2eControlLink, AliasUploadWithRightAndWrongDigest)
{
    TcpLink tcp;
    ASSERT_TRUE(tcp.open("127.0.0.1", ports.tcp));
    const std::string json =
        "{\"filename\":\"/data/configs/alias.json\",\"namelist\":{\"source\":[{\"id\":\"2\",\"valid\":\"on\","
        "\"name\":\"Stage\"}]}}";
    const Bytes data(json.begin(), json.end());
    EXPECT_EQ(uploadFile(tcp, 5, "ALIS", data, std::string(), 40), 0);
    EXPECT_EQ(readAll(app.hostPath("/data/configs/alias.json")), data);

    Bytes changed = data;
    changed[changed.size() - 5] = 'X';
    EXPECT_EQ(uploadFile(tcp, 5, "ALIS", changed, md5Hex(data)), 3);
    EXPECT_EQ(readAll(app.hostPath("/data/configs/alias.json")), data);

    // Over UDP as well.
    UdpLink udp;
    ASSERT_TRUE(udp.open("127.0.0.1", ports.udp));
    EXPECT_EQ(uploadFile(udp, 5, "ALIS", changed), 0);
    EXPECT_EQ(readAll(app.hostPath("/data/configs/alias.json")), changed);
}

TEST_F(E2eControlLink, Rs485PortThroughItsPeer)
{
    SerialLink rs485;
    ASSERT_TRUE(rs485.open(app.hostPath("/dev/ttyS2")));
    writeAndReadBack(rs485, 2178, Bytes{0x3C, 0x00});
    Reply r;
    // A plain register of the processor's image reads back what was written.
    ASSERT_TRUE(rs485.request(kProcessor, 0xA0, regWritePayload({{100, 0x0F, 0x53}}), r));
    EXPECT_EQ(r.status, 0);
    ASSERT_TRUE(rs485.request(kProcessor, 0xA1, regReadPayload(100, 1), r));
    EXPECT_EQ(r.data, Bytes{0x03});
    // A chip test request reaches the chip thread, which serves and clears it.
    ASSERT_TRUE(rs485.request(kProcessor, 0xA0, regWritePayload({{162, 0xFF, 1}}), r));
    EXPECT_EQ(r.status, 0);
    EXPECT_TRUE(waitFor([&] { return app.control("store-read status 34 1") == "00"; }, 5000));
}

TEST_F(E2eControlLink, WifiAtChannel)
{
    EXPECT_EQ(atCommand("127.0.0.1", ports.at, "AT+GETVER"), "+GETVER:K47N-WIFI-1.0\r\nOK\r\n");
    EXPECT_EQ(atCommand("127.0.0.1", ports.at, "AT+SETDATA=1,Stage Left,longsecret"), "OK\r\n");
    const std::string check = atCommand("127.0.0.1", ports.at, "AT+CHECKDATA");
    EXPECT_EQ(check.rfind("+CHECKDATA:Stage Left,longsecret,", 0), 0u) << check;
    EXPECT_EQ(atCommand("127.0.0.1", ports.at, "AT+SETDATA=1,x,y"), "ERROR\r\n");
    // The access point restarts with the new settings: its daemon is run
    // (and recorded) by the board's shell.
    EXPECT_TRUE(waitFor(
        [&] {
            const Bytes log = readAll(app.hostPath("/sim/shell.log"));
            const std::string text(log.begin(), log.end());
            size_t n = 0;
            for (size_t at = 0; (at = text.find("hostapd -B /etc/rtl_hostapd_2G.conf", at)) != std::string::npos; ++at)
                ++n;
            return n >= 2;
        },
        5000));
    const Bytes conf = readAll(app.hostPath("/etc/rtl_hostapd_2G.conf"));
    EXPECT_NE(std::string(conf.begin(), conf.end()).find("ssid=Stage Left\n"), std::string::npos);
}
