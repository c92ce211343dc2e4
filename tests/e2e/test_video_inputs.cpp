// The input side of the running program: a source at an input reaches the
// block's input signal record and the chip's port monitoring; a stored EDID
// record reaches the input's EDID EEPROM.
#include "support/app_runner.h"
#include "support/wait_for.h"

#include <gtest/gtest.h>
#include <string>
#include <utility>

namespace {

unsigned byteAt(const std::string& hex, size_t i)
{
    return static_cast<unsigned>(std::stoul(hex.substr(2 * i, 2), nullptr, 16));
}

bool checksumOk(const std::string& hex)
{
    unsigned sum = 0;
    for (size_t i = 0; i < 128; ++i)
        sum += byteAt(hex, i);
    return (sum & 0xFF) == 0;
}

TEST(E2eVideoInputs, SourceReachesTheBlockAndTheChipAndEdidReachesTheEeprom)
{
    AppRunner app;
    ASSERT_TRUE(app.start());
    ASSERT_EQ(app.control("source 2 1920 1080 60"), "");
    // 1920, 1080, 60 as u16 little-endian at 256 + 6 x 2.
    EXPECT_TRUE(waitFor([&] { return app.control("store-read block 268 6") == "800738043c00"; }, 20000));
    EXPECT_TRUE(waitFor(
        [&] { return app.control("c331-ports").find("input=2 1920x1080 nosignal=0") != std::string::npos; },
        20000))
        << app.control("c331-ports");
    // A plain 1920 x 1080 @ 60 source (148.5 MHz: one pixel a clock) on a
    // 1920 x 1080 screen: window 1 takes the whole line on ICH0 (captured
    // from the active start - 7: 192 - 7), neither shrinks nor zooms, and
    // fills the output channel.
    // The chip thread programs them one by one: each is waited for.
    const std::pair<const char*, const char*> regs[] = {
        {"0x101902", "0x0780"}, {"0x101702", "0x00B9"}, {"0x114702", "0x0000"},
        {"0x114C02", "0x0000"}, {"0x0A4601", "0x00"},   {"0x0A4902", "0x0000"},
        {"0x084202", "0x0780"}, {"0x084602", "0x0439"},
        {"0x001802", "0x0000"},   // the port takes one pixel a clock
    };
    std::string differ;
    EXPECT_TRUE(waitFor(
        [&] {
            differ.clear();
            for (const auto& r : regs) {
                const std::string now = app.control(std::string("c331-reg ") + r.first);
                if (now != r.second)
                    differ += std::string(" ") + r.first + " is " + now + ", not " + r.second + ";";
            }
            return differ.empty();
        },
        20000))
        << differ;

    // EDID record of input 1: 1280 x 1024 @ 75. The EEPROM is written page
    // by page: wait for the last page (the checksum) to be in place.
    ASSERT_EQ(app.control("store-set 902 000500044b00"), "");
    // The pixel clock at 54 and the header are waited for too.
    std::string mem;
    EXPECT_TRUE(waitFor(
        [&] {
            mem = app.control("edid-read 1");
            return mem.size() >= 256 && checksumOk(mem) && byteAt(mem, 56) == 0x00 && byteAt(mem, 58) >> 4 == 5 &&
                   byteAt(mem, 59) == 0x00 && byteAt(mem, 61) >> 4 == 4 &&
                   (byteAt(mem, 54) | byteAt(mem, 55) << 8) == (1280u + 280) * (1024 + 45) * 75 / 10000 &&
                   mem.substr(0, 16) == "00FFFFFFFFFFFF00";
        },
        20000))
        << mem;
}

} // namespace
