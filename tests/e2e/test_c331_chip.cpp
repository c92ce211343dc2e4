// The c331 chip on the simulated board, end to end: the program brings the
// chip up and opens the FPGA gate; stores of the parameter block reach the
// chip's registers and then /data/ram_device_info; a chip that never
// answers keeps the gate closed and is logged once.
#include "support/app_runner.h"

#include "pcclient/pc_client.h"

#include <QCoreApplication>
#include <QThread>
#include <chrono>
#include <fstream>
#include <functional>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <iterator>
#include <sstream>

namespace {

bool waitFor(AppRunner& app, const std::function<bool()>& pred, int timeoutMs = 20000)
{
    return app.waitFor(pred, timeoutMs);
}

std::string field(const std::string& state, const std::string& name)
{
    const size_t p = state.find(name + "=");
    if (p == std::string::npos)
        return "";
    const size_t start = p + name.size() + 1;
    return state.substr(start, state.find(' ', start) - start);
}

unsigned long chipReg(AppRunner& app, const std::string& desc, const std::string& bankOffset = "")
{
    const std::string v = app.control("c331-reg " + desc + (bankOffset.empty() ? "" : " " + bankOffset));
    if (v.rfind("0x", 0) != 0)
        return 0xFFFFFFFFul;
    return std::stoul(v, nullptr, 16);
}

std::string readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

size_t count(const std::string& text, const std::string& what)
{
    size_t n = 0;
    for (size_t p = text.find(what); p != std::string::npos; p = text.find(what, p + 1))
        ++n;
    return n;
}

class E2eC331 : public ::testing::Test {
protected:
    bool startAndWaitForTheChip()
    {
        if (!app.start())
            return false;
        return waitFor(app, [this] {
            const std::string s = app.control("c331-state");
            return field(s, "state") == "6" && field(s, "gate") == "1";
        });
    }

    // A 3840 x 1080 screen split side by side at 1920; layer 0 on the left
    // half from HDMI1, layer 1 mirrored on the right half from HDMI3; the
    // other layers off. Each store as a page makes it.
    bool storeSideBySideLayout()
    {
        bool ok = true;
        for (int l = 2; l < 6; ++l)
            ok = ok && app.control("store-set " + std::to_string(2272 + 26 * l) + " 0000 0").empty();
        for (const char* cmd : {"store-set 1412 80073804 0", "store-set 1376 0300000f3804 0",
                                "store-set 2272 010000000000000002000000000080073804 0",
                                "store-set 2298 010000000100000004008007000080073804"})
            ok = ok && app.control(cmd).empty();
        return ok;
    }

    AppRunner app;
};

TEST_F(E2eC331, ChipComesUpAndStoresReachItsRegistersAndTheParameterFile)
{
    ASSERT_TRUE(startAndWaitForTheChip()) << app.control("c331-state");
    const std::string state = app.control("c331-state");
    EXPECT_EQ(field(state, "good_ids"), "5") << state;
    EXPECT_EQ(field(state, "bad_ids"), "0") << state;
    // Bring-up programmed the picture from the default block (contrast 50).
    EXPECT_EQ(chipReg(app, "0C2802"), 511u);

    // Contrast 30; colour temperature custom with red 128, green 64, blue 32;
    // test pattern 1 (red), each as a page stores it.
    ASSERT_EQ(app.control("store-set 2178 1e00"), "");
    ASSERT_EQ(app.control("store-set 2184 0000800040002000"), "");
    ASSERT_EQ(app.control("store-set 864 01"), "");

    EXPECT_TRUE(waitFor(app, [this] {
        return chipReg(app, "0C2802") == 306 && chipReg(app, "0C5B02") == 8192 && chipReg(app, "085701") == 4;
    })) << app.control("c331-log 40");
    for (const char* ch : {"00", "10", "70"}) {
        EXPECT_EQ(chipReg(app, "0C2C02", ch), 306u) << "channel offset " << ch;
        EXPECT_EQ(chipReg(app, "0C6302", ch), 4096u);
        EXPECT_EQ(chipReg(app, "0C6B02", ch), 2048u);
    }
    EXPECT_EQ(chipReg(app, "086301"), 255u);
    EXPECT_EQ(chipReg(app, "086301", "10"), 255u) << "the panel's second channel";
    EXPECT_EQ(chipReg(app, "002201"), 0x99u) << "the update latch released";

    // Then persisted: the shadow equals the block and the file holds it.
    EXPECT_TRUE(waitFor(app, [this] {
        return app.control("store-read shadow 864 1") == "01" &&
               app.control("store-read shadow 2176 16") == app.control("store-read block 2176 16");
    }));
    EXPECT_EQ(app.control("store-read shadow 2178 2"), "1e00");
    EXPECT_EQ(app.control("store-read shadow 2184 8"), "0000800040002000");
    const std::string file = readFile(app.hostPath("/data/ram_device_info"));
    ASSERT_GE(file.size(), 2u + 3328u);
    // The file holds block 768 onwards after a 2-byte head.
    EXPECT_EQ(static_cast<unsigned char>(file[2 + 2178 - 768]), 0x1e);
    EXPECT_EQ(static_cast<unsigned char>(file[2 + 2186 - 768]), 0x80);
    EXPECT_EQ(static_cast<unsigned char>(file[2 + 2188 - 768]), 0x40);
    EXPECT_EQ(static_cast<unsigned char>(file[2 + 2190 - 768]), 0x20);
    EXPECT_EQ(static_cast<unsigned char>(file[2 + 864 - 768]), 0x01);
}

TEST_F(E2eC331, TwoQuickStoresBothReachTheChip)
{
    ASSERT_TRUE(startAndWaitForTheChip()) << app.control("c331-state");
    for (int round = 0; round < 5; ++round) {
        const int contrast = 20 + round;
        const int saturation = 70 + round;
        char a[16], b[16];
        std::snprintf(a, sizeof(a), "%02x00", contrast);
        std::snprintf(b, sizeof(b), "%02x00", saturation);
        ASSERT_EQ(app.control(std::string("store-set 2178 ") + a), "");
        ASSERT_EQ(app.control(std::string("store-set 2182 ") + b), "");
        EXPECT_TRUE(waitFor(app, [&] {
            return chipReg(app, "0C2802") == static_cast<unsigned long>(contrast * 1023 / 100) &&
                   chipReg(app, "0C1B02") == static_cast<unsigned long>(saturation * 1023 / 100);
        })) << "round " << round << ": " << chipReg(app, "0C2802") << " " << chipReg(app, "0C1B02");
    }
}

// The PC's store lands while a pass is still programming the chip (the
// bus held at the contrast register): the store is not taken for applied,
// and the PC's flag then brings it to the chip.
TEST_F(E2eC331, APcStoreThatLandsWhileAPassProgramsTheChipIsApplied)
{
    ASSERT_TRUE(startAndWaitForTheChip()) << app.control("c331-state");
    const unsigned short udpPort = app.linkPort("udp");
    pcclient::UdpLink udp;
    ASSERT_TRUE(udp.open("127.0.0.1", udpPort));

    // Contrast 25 from a page; its pass holds the bus at the contrast
    // register (0x0C2802 takes 25 x 1023 / 100 = 255).
    ASSERT_EQ(app.control("c331-hold 0C2802 1500"), "");
    ASSERT_EQ(app.control("store-set 2178 1900"), "");
    ASSERT_TRUE(waitFor(app, [this] { return app.control("c331-hold") == "holding"; }, 10000))
        << app.control("c331-hold");

    // Meanwhile the PC writes contrast 20 (RAM write: address 2178, two
    // bytes) and raises the flag (register 11 := 1).
    pcclient::Reply r;
    ASSERT_TRUE(udp.request(pcclient::kProcessor, 0x60,
                            pcclient::Bytes{0x82, 0x08, 0x00, 0x00, 0x02, 0x00, 0x00, 0x00, 0x14, 0x00}, r, 5000));
    EXPECT_EQ(r.status, 0);
    ASSERT_TRUE(udp.request(pcclient::kProcessor, 0xA0, pcclient::Bytes{0x0B, 0x00, 0xFF, 0x01}, r, 5000));
    EXPECT_EQ(r.status, 0);

    // 20 x 1023 / 100 = 204 reaches the chip, then the shadow and the file.
    EXPECT_TRUE(waitFor(app, [this] { return chipReg(app, "0C2802") == 204; }, 10000)) << chipReg(app, "0C2802");
    EXPECT_TRUE(waitFor(app, [this] { return app.control("store-read shadow 2178 2") == "1400"; }, 10000));
    const std::string file = readFile(app.hostPath("/data/ram_device_info"));
    ASSERT_GE(file.size(), 2u + 3328u);
    EXPECT_EQ(static_cast<unsigned char>(file[2 + 2178 - 768]), 0x14);
}

// A pass that holds the chip (its bus held at the contrast register for
// 8 s) holds up the writers alone: a PC's RAM read is answered and a page
// that only reads the block (the window layout page, opened from its tile)
// opens at once, while a PC's RAM write waits for the end of the pass.
TEST_F(E2eC331, ReadsAreAnsweredWhileAPassHoldsTheChipAndWritesWaitForIt)
{
    using Clock = std::chrono::steady_clock;
    const auto ms = [](Clock::time_point from) {
        return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - from).count();
    };
    ASSERT_TRUE(startAndWaitForTheChip()) << app.control("c331-state");
    pcclient::UdpLink udp;
    ASSERT_TRUE(udp.open("127.0.0.1", app.linkPort("udp")));
    // The settings menu, whose second tile opens the window layout page.
    app.control("tap 400 240");
    ASSERT_TRUE(waitFor(app, [this] { return app.control("page-focus") == "1"; }));
    app.control("tap 495 180");
    ASSERT_TRUE(waitFor(app, [this] { return app.control("page-focus") == "5"; }));

    // Contrast 25 from a page; its pass holds the bus.
    ASSERT_EQ(app.control("c331-hold 0C2802 8000"), "");
    ASSERT_EQ(app.control("store-set 2178 1900"), "");
    ASSERT_TRUE(waitFor(app, [this] { return app.control("c331-hold") == "holding"; }, 10000))
        << app.control("c331-hold");

    // The PC reads contrast (address 2178, two bytes): 25 at once.
    pcclient::Reply r;
    Clock::time_point t = Clock::now();
    ASSERT_TRUE(udp.request(pcclient::kProcessor, 0x61, pcclient::Bytes{0x82, 0x08, 0x00, 0x00, 0x02, 0x00, 0x00, 0x00},
                            r, 10000));
    EXPECT_LT(ms(t), 500);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.data, (pcclient::Bytes{0x19, 0x00}));

    // The window layout tile: the page is made (it reads the whole block)
    // and in focus at once.
    t = Clock::now();
    app.control("tap 297 150");
    ASSERT_TRUE(waitFor(app, [this] { return app.control("page-focus") == "9"; }, 10000));
    EXPECT_LT(ms(t), 500);
    EXPECT_EQ(app.control("c331-hold"), "holding");

    // The PC writes contrast 20: answered only once the pass is over.
    ASSERT_TRUE(udp.request(pcclient::kProcessor, 0x60,
                            pcclient::Bytes{0x82, 0x08, 0x00, 0x00, 0x02, 0x00, 0x00, 0x00, 0x14, 0x00}, r, 20000));
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(app.control("c331-hold"), "done");
    EXPECT_EQ(app.control("store-read block 2178 2"), "1400");
}

// Switching a window to another live input reprograms the outputs once:
// one freeze (0 written to the update latch 0x002201) and one release.
TEST_F(E2eC331, AnInputSwitchFreezesAndReleasesTheOutputsOnce)
{
    ASSERT_TRUE(startAndWaitForTheChip()) << app.control("c331-state");
    ASSERT_EQ(app.control("source 2 1920 1080 60"), "");
    ASSERT_EQ(app.control("source 3 1280 720 60"), "");
    // Layer 0 (the default single window) shows HDMI1 (input 2); let the
    // start-up work and the new source settle first.
    ASSERT_EQ(app.control("store-set 2280 0200"), "");
    auto settled = [this] {
        const std::string before = app.control("c331-reg 002201");
        QThread::msleep(1500);
        return before == "0x99" && app.control("c331-reg 002201") == "0x99" && app.control("c331-flag") == "0";
    };
    ASSERT_TRUE(waitFor(app, settled, 30000));

    for (const char* input : {"0300", "0200"}) {
        ASSERT_EQ(app.control("c331-watch 002201"), "");
        ASSERT_EQ(app.control(std::string("store-set 2280 ") + input), "");
        ASSERT_TRUE(waitFor(app, [this] {
            const std::string w = app.control("c331-watch");
            return w.size() >= 2 && w.compare(w.size() - 2, 2, "99") == 0;
        })) << app.control("c331-watch");
        QThread::msleep(1500);
        const std::string written = app.control("c331-watch");
        EXPECT_EQ(count(" " + written + " ", " 00 "), 1u) << "input " << input << ": " << written;
        EXPECT_EQ(written.substr(written.size() - 2), "99") << written;
    }
}

TEST_F(E2eC331, ATwoWindowLayoutReachesTheOutputChannels)
{
    ASSERT_TRUE(startAndWaitForTheChip()) << app.control("c331-state");
    ASSERT_TRUE(storeSideBySideLayout());

    const bool laidOut = waitFor(app, [this] {
        return chipReg(app, "0E0904") == 8 && chipReg(app, "0E0904", "10") == 9 &&
               chipReg(app, "082201", "10") == 1 && chipReg(app, "084202", "20") == 0;
    });
    EXPECT_TRUE(laidOut) << app.control("c331-log 40");
    EXPECT_EQ(chipReg(app, "082201"), 0u) << "window 0 is not mirrored";
    EXPECT_EQ(chipReg(app, "000801") & 1, 1u) << "channel 0 on";
    EXPECT_EQ(chipReg(app, "000901") & 1, 1u) << "channel 1 on";
    EXPECT_EQ(chipReg(app, "000A01") & 1, 0u) << "channel 2 off";
    EXPECT_GE(chipReg(app, "084202", "10"), 1920u) << "channel 1 reads the right window's line";
    EXPECT_EQ(chipReg(app, "002201"), 0x99u) << "the update latch released";
    // The panel result for the sending card: two channel columns, one row.
    EXPECT_TRUE(waitFor(app, [this] { return app.control("store-read block 1386 4") == "02000100"; }))
        << app.control("store-read block 1382 14");
}

TEST_F(E2eC331, EachWindowOfALayoutGetsItsOwnInputChannels)
{
    ASSERT_TRUE(startAndWaitForTheChip()) << app.control("c331-state");
    // Layer 0 from HDMI1 (chip port 1), layer 1 from HDMI3 (chip port 5, a
    // V-by-One pair).
    ASSERT_TRUE(storeSideBySideLayout());

    // Later passes (the FPGAs coming up end the forced colour) hold the
    // update latch for a moment: wait for the settled state as a whole.
    // Window 0's first input channel is its own sync source, input channel
    // 1 stays idle, and the update latch is released.
    const bool allocated = waitFor(app, [this] {
        return chipReg(app, "001001") == 2 && chipReg(app, "001401") == 12 && chipReg(app, "100901", "40") == 1 &&
               chipReg(app, "100901") == 1 && chipReg(app, "101902", "10") == 0 && chipReg(app, "002201") == 0x99;
    });
    EXPECT_TRUE(allocated) << "ICHSEL " << chipReg(app, "001001") << " " << chipReg(app, "001401") << " sync "
                           << chipReg(app, "100901") << " ich1 " << chipReg(app, "101902", "10") << " latch "
                           << chipReg(app, "002201") << "\n"
                           << app.control("c331-log 40");
}

TEST_F(E2eC331, AChipThatNeverAnswersKeepsTheGateClosedAndIsLoggedOnce)
{
    app.setEnv("ZDR_SIM_START_COMMANDS", "c331-silent on");
    ASSERT_TRUE(app.start());
    const std::string log = app.hostPath("/data/velmokq/log/prqEnglneLog");
    const std::string line = "c331 chip does not answer its identity";
    ASSERT_TRUE(waitFor(app, [&] { return count(readFile(log), line) >= 1; }, 60000))
        << app.control("c331-state");

    // Long after the line the chip is still asked, the gate still closed,
    // and the line stands alone.
    const unsigned long bad = std::stoul(field(app.control("c331-state"), "bad_ids"));
    EXPECT_TRUE(waitFor(app, [&] { return std::stoul(field(app.control("c331-state"), "bad_ids")) > 2 * bad; },
                        60000));
    const std::string state = app.control("c331-state");
    EXPECT_EQ(field(state, "state"), "0") << state;
    EXPECT_EQ(field(state, "gate"), "0") << state;
    EXPECT_EQ(count(readFile(log), line), 1u);
    EXPECT_EQ(count(readFile(log), "ERROR"), 1u) << readFile(log);
    EXPECT_TRUE(app.running());
}

TEST_F(E2eC331, AFreshBoardShowsAllFourFontsAndAnErasedFontIsMissingAfterARestart)
{
    // The chip flash of a fresh board holds the generated fonts; bring-up
    // finds all four and tells the PC in status byte 43.
    ASSERT_TRUE(app.start());
    ASSERT_TRUE(waitFor(app, [&] { return app.control("c331-fonts") == "font_status=15"; }))
        << app.control("c331-fonts");
    EXPECT_EQ(app.control("store-read status 43 1"), "3f");
    EXPECT_EQ(app.control("c331-flash-read 450000 1"), "50");

    // The flash lives in a sparse file of the board.
    struct stat st {};
    ASSERT_EQ(::stat(app.hostPath("/sim/c331-flash.bin").c_str(), &st), 0);
    EXPECT_EQ(st.st_size, 0x2000000);
    EXPECT_LT(st.st_blocks * 512, 4 << 20);

    // A font erased from the flash is missing after the next start.
    ASSERT_EQ(app.control("c331-flash-erase 450000 1000"), "");
    app.stop();
    ASSERT_TRUE(app.start());
    ASSERT_TRUE(waitFor(app, [&] { return app.control("c331-fonts") == "font_status=11"; }))
        << app.control("c331-fonts");
    EXPECT_EQ(app.control("store-read status 43 1"), "17");
}

} // namespace
