// The c331 chip's serial flash: the simulated controller and flash, the
// chip manager's program / read / erase / DMA sequences, and the OSD fonts.
#include "support/board_clock.h"
#include "support/c331_fixture.h"

#include "core/global.h"
#include "core/zdrrampara.h"
#include "sim/board.h"
#include "sim/c331_fonts.h"
#include "sim/sparse_image.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>
#include <tuple>
#include <vector>

namespace {

using Write = std::tuple<unsigned, unsigned, unsigned>;     // bank, address, value

std::vector<char> pattern(size_t n, unsigned seed)
{
    std::vector<char> v(n);
    for (size_t i = 0; i < n; ++i)
        v[i] = static_cast<char>((i * 7 + seed) & 0xFF);
    return v;
}

} // namespace

class C331Flash : public C331Test {
protected:
    void SetUp() override
    {
        C331Test::SetUp();
        chip().clearFlashOps();
    }
    void TearDown() override
    {
        chip().setFlashStuck(false);
        chip().setFlashWelLeft(false);
        C331Test::TearDown();
    }
    // The register writes (not bank selects) the chip received, in order.
    std::vector<Write> writes()
    {
        std::vector<Write> out;
        for (const auto& f : chip().frames())
            if (f.write() && !f.bankSelect())
                out.emplace_back(f.bank, f.addr(), f.b1);
        return out;
    }
    std::vector<char> flash(uint32_t address, uint32_t length)
    {
        const std::vector<uint8_t> b = chip().flashRead(address, length);
        return std::vector<char>(b.begin(), b.end());
    }
    std::vector<sim::C331FlashController::Op> ops(char kind)
    {
        std::vector<sim::C331FlashController::Op> out;
        for (const auto& op : chip().flashOps())
            if (op.kind == kind)
                out.push_back(op);
        return out;
    }
};

// ---- the simulated flash -------------------------------------------------

TEST(SparseImageFile, KeepsItsBytesInASparseFileAndReadsThemBack)
{
    char dir[] = "/tmp/zdr-sparse-XXXXXX";
    ASSERT_NE(::mkdtemp(dir), nullptr);
    const std::string file = std::string(dir) + "/img.bin";
    {
        sim::SparseImage img(0x2000000, 0xFF, file);
        EXPECT_FALSE(img.fileExisted());
        const uint8_t a[3] = {0x12, 0x34, 0xF0};
        img.write(0x1FFF, a, 3);     // across a chunk border
        const uint8_t mask[1] = {0x0F};
        img.andWrite(0x2001, mask, 1);
        img.fill(0x1000000, 0x1000, 0x00);
        EXPECT_EQ(img.write(0x1FFFFFE, a, 3), 2u);     // the end of the image is a wall
    }
    struct stat st {};
    ASSERT_EQ(::stat(file.c_str(), &st), 0);
    EXPECT_EQ(st.st_size, 0x2000000);
    EXPECT_LT(st.st_blocks * 512, 1 << 20);           // sparse: 32 MiB, a few chunks stored
    sim::SparseImage again(0x2000000, 0xFF, file);
    EXPECT_TRUE(again.fileExisted());
    uint8_t b[4] = {};
    again.read(0x1FFF, b, 4);
    EXPECT_EQ(b[0], 0x12);
    EXPECT_EQ(b[1], 0x34);
    EXPECT_EQ(b[2], 0x00);     // 0xF0 AND 0x0F
    EXPECT_EQ(b[3], 0xFF);     // never written: erased
    EXPECT_EQ(again.get(0x1000FFF), 0x00);
    EXPECT_EQ(again.get(0x1FFFFFF), 0x34);
    std::remove(file.c_str());
    ::rmdir(dir);
}

TEST_F(C331Flash, AFreshFlashHoldsTheGeneratedFontsAndIsKeptInTheBoardFile)
{
    for (const auto& area : sim::c331_fonts::kAreas) {
        const std::vector<uint8_t> h = chip().flashRead(area.address, 35);
        EXPECT_EQ(h[0], 'P');
        EXPECT_EQ(h[5], area.cjk ? 1 : 0);
        EXPECT_EQ(h[17], area.pixels);
        EXPECT_EQ(h[18], area.pixels);
    }
    // Glyphs differ from code to code.
    EXPECT_NE(sim::c331_fonts::glyph(32, 'A'), sim::c331_fonts::glyph(32, 'B'));
    const auto& ascii32 = sim::c331_fonts::kAreas[0];
    EXPECT_EQ(chip().flashRead(sim::c331_fonts::glyphAddress(ascii32, 'A'), 128), sim::c331_fonts::glyph(32, 'A'));

    // What is changed survives a new board on the same root.
    chip().flashErase(0x410000, 0x1000);
    const std::string root = sim::Board::instance().root();
    sim::Board::instance().reset(root);
    EXPECT_EQ(sim::Board::instance().c331().flashRead(0x410000, 1)[0], 0xFF);
    EXPECT_EQ(sim::Board::instance().c331().flashRead(0x450000, 1)[0], 'P');
}

// ---- program -----------------------------------------------------------

TEST_F(C331Flash, ProgramCommitsAFullPageAtItsEndAndThePartialPageLast)
{
    std::vector<char> data = pattern(300, 1);
    chip().flashErase(0x100000, 0x1000);
    chip().clearFrames();
    ASSERT_EQ(m->write_flash(m->c331_fd, 0x100100, 300, data.data()), 0);
    const auto programs = ops('P');
    ASSERT_EQ(programs.size(), 2u);
    EXPECT_EQ(programs[0].address, 0x100100u);
    EXPECT_EQ(programs[0].length, 256u);
    EXPECT_EQ(programs[1].address, 0x100200u);
    EXPECT_EQ(programs[1].length, 44u);
    // The address register: the start twice, then each page end.
    EXPECT_EQ(writesTo(0x044E01), (std::vector<uint8_t>{0x00, 0x00, 0x00, 0x2C}));
    EXPECT_EQ(writesTo(0x044F01), (std::vector<uint8_t>{0x01, 0x01, 0x02, 0x02}));
    EXPECT_EQ(flash(0x100100, 300), data);

    // The set-up before the first byte, exactly.
    const std::vector<Write> expected = {
        {5, 0x42, 0x55}, {5, 0x43, 0}, {5, 0x44, 0}, {5, 0x3C, 0x00}, {5, 0x3D, 0x03}, {5, 0x3E, 0x00},
        {5, 0x3F, 0x03}, {5, 0x45, 0xFF}, {5, 0x46, 0x03}, {4, 0x47, 0x80}, {4, 0x48, 0}, {4, 0x47, 0x31},
        {4, 0x4C, 0x06}, {4, 0x4D, 0x05}, {4, 0x49, 0x12}, {4, 0x5F, 1}, {4, 0x48, 0}, {4, 0x60, 0},
    };
    const std::vector<Write> got = writes();
    ASSERT_GE(got.size(), expected.size());
    EXPECT_EQ(std::vector<Write>(got.begin(), got.begin() + static_cast<long>(expected.size())), expected);
}

TEST_F(C331Flash, ProgramOfWholePagesHasNoPartialPageAndZeroBytesStillCommitTheAddress)
{
    std::vector<char> data = pattern(256, 3);
    ASSERT_EQ(m->write_flash(m->c331_fd, 0x200100, 256, data.data()), 0);
    EXPECT_EQ(ops('P').size(), 1u);
    EXPECT_EQ(writesTo(0x044E01).size(), 3u);

    chip().clearFrames();
    ASSERT_EQ(m->write_flash(m->c331_fd, 0x200123, 0, data.data()), 0);
    EXPECT_EQ(writesTo(0x044E01), (std::vector<uint8_t>{0x23, 0x23, 0x23}));
    // The wait sequence ran: buffer empty, program busy and flash status read.
    EXPECT_FALSE(writesTo(0x045301).size());
    size_t statusReads = 0;
    for (const auto& f : chip().frames())
        statusReads += !f.write() && f.bank == 4 && (f.addr() == 0x53 || f.addr() == 0x54 || f.addr() == 0x55);
    EXPECT_GE(statusReads, 3u);
}

TEST_F(C331Flash, ProgrammingAndsBitsAndEraseSetsThemAgain)
{
    chip().flashErase(0x300000, 0x1000);
    std::vector<char> a(16, static_cast<char>(0xF0)), b(16, 0x3C);
    ASSERT_EQ(m->write_flash(m->c331_fd, 0x300000, 16, a.data()), 0);
    ASSERT_EQ(m->write_flash(m->c331_fd, 0x300000, 16, b.data()), 0);
    EXPECT_EQ(flash(0x300000, 16), std::vector<char>(16, 0x30));
    ASSERT_EQ(m->erase_flash(m->c331_fd, 0x300, 1, 0), 0);
    EXPECT_EQ(flash(0x300000, 16), std::vector<char>(16, static_cast<char>(0xFF)));
}

TEST_F(C331Flash, AWriteEnableLatchLeftSetIsClearedWithWriteDisable)
{
    chip().setFlashWelLeft(true);
    std::vector<char> data = pattern(10, 5);
    chip().clearFrames();
    ASSERT_EQ(m->write_flash(m->c331_fd, 0x300010, 10, data.data()), 0);
    EXPECT_EQ(writesTo(0x044B01), (std::vector<uint8_t>{0x04}));
    EXPECT_EQ(writesTo(0x044801).back(), 0);
    const auto cmds = ops('C');
    ASSERT_EQ(cmds.size(), 1u);
    EXPECT_EQ(cmds[0].length, 0x04u);
}

// ---- read and erase -----------------------------------------------------

TEST_F(C331Flash, EraseWriteReadRoundTripsInEveryEraseSize)
{
    struct Case {
        int sector;
        char type;
        uint32_t unit;
    } cases[] = {{0x500, 0, 0x1000}, {0x508, 1, 0x8000}, {0x520, 2, 0x10000}};
    for (const Case& c : cases) {
        const uint32_t base = static_cast<uint32_t>(c.sector) * 0x1000;
        std::vector<char> data = pattern(600, static_cast<unsigned>(c.type));
        ASSERT_EQ(m->erase_flash(m->c331_fd, c.sector, 1, c.type), 0);
        ASSERT_EQ(m->write_flash(m->c331_fd, static_cast<int>(base + 0x80), 600, data.data()), 0);
        std::vector<char> back(600);
        ASSERT_EQ(m->read_flash(m->c331_fd, static_cast<int>(base + 0x80), 600, back.data()), 0);
        EXPECT_EQ(back, data) << int(c.type);
        // The whole unit goes back to erased, nothing beyond it.
        chip().flashWrite(base + c.unit, {0x00});
        ASSERT_EQ(m->erase_flash(m->c331_fd, c.sector, 1, c.type), 0);
        EXPECT_EQ(flash(base, c.unit), std::vector<char>(c.unit, static_cast<char>(0xFF))) << int(c.type);
        EXPECT_EQ(chip().flashRead(base + c.unit, 1)[0], 0x00) << int(c.type);
    }
}

TEST_F(C331Flash, EraseWalksItsUnitsFromTheStartSectorAndCountZeroDoesNothing)
{
    ASSERT_EQ(m->erase_flash(m->c331_fd, 16, 3, 0), 0);
    const auto erases = ops('E');
    ASSERT_EQ(erases.size(), 3u);
    EXPECT_EQ(erases[0].address, 0x10000u);
    EXPECT_EQ(erases[1].address, 0x11000u);
    EXPECT_EQ(erases[2].address, 0x12000u);
    EXPECT_EQ(writesTo(0x044B01), (std::vector<uint8_t>{0x20, 0x20, 0x20}));

    chip().clearFlashOps();
    chip().clearFrames();
    ASSERT_EQ(m->erase_flash(m->c331_fd, 16, 0, 2), 0);
    EXPECT_TRUE(chip().flashOps().empty());
    for (uint8_t v : writesTo(0x044801))
        EXPECT_NE(v, 4);
}

TEST_F(C331Flash, ReadStartsTheControllerThenReadsTheDataPort)
{
    chip().clearFrames();
    char header[35] = {};
    ASSERT_EQ(m->read_flash(m->c331_fd, 0x010000, 35, header), 0);
    EXPECT_EQ(header[0], 'P');
    EXPECT_EQ(writesTo(0x045301), (std::vector<uint8_t>{1, 0}));
    EXPECT_EQ(writesTo(0x044A01), (std::vector<uint8_t>{0x0C}));
    size_t dataReads = 0;
    for (const auto& f : chip().frames())
        dataReads += !f.write() && f.bank == 4 && f.addr() == 0x52;
    EXPECT_EQ(dataReads, 35u);
}

TEST_F(C331Flash, ADeadFlashEndsEveryWaitAndReportsFailure)
{
    chip().setFlashStuck(true);
    BoardClockSpeed fast(20);
    const unsigned before = c331_manage::sfl_timeouts[c331_manage::SFL_EBUSY].load();
    std::vector<char> data = pattern(8, 9);
    const std::vector<char> old = flash(0x600000, 8);
    EXPECT_EQ(m->write_flash(m->c331_fd, 0x600000, 8, data.data()), -1);
    // A 4 KiB erase is given 400 ms of the board's time (its data sheet's
    // worst case), first for the controller, then for the flash.
    const uint64_t start = sim::SimClock::instance().nowUs();
    EXPECT_EQ(m->erase_flash(m->c331_fd, 0x600, 1, 0), -1);
    EXPECT_GE(sim::SimClock::instance().nowUs() - start, 800000u);
    EXPECT_EQ(m->osd_write_dma_sfl(m->c331_fd, 0x23, 0x7F000000, 0, 128), -1);
    EXPECT_EQ(flash(0x600000, 8), old);
    EXPECT_EQ(c331_manage::sfl_timeouts[c331_manage::SFL_EBUSY].load(), before + 1);
    // A dead flash shows no fonts.
    EXPECT_EQ(m->read_c331_font(m->c331_fd), -1);
    EXPECT_EQ(c331_manage::font_status.load(), 0);
}

// ---- DMA and fonts -----------------------------------------------------

TEST_F(C331Flash, DmaProgramsItsTargetAndCopiesFromFlash)
{
    std::vector<uint8_t> table(816);
    for (size_t i = 0; i < table.size(); ++i)
        table[i] = static_cast<uint8_t>(i * 3);
    chip().flashErase(0x10D3000, 0x2000);
    chip().flashWrite(0x10D3C00, table);
    chip().clearFrames();
    ASSERT_EQ(m->osd_write_dma_sfl(m->c331_fd, 0x10D3C00, 0, 4, 816), 0);
    const std::vector<uint8_t> colours = chip().colourTable();
    EXPECT_EQ(std::vector<uint8_t>(colours.begin(), colours.begin() + 816), table);
    EXPECT_EQ(writesTo(0x091F01), (std::vector<uint8_t>{0}));
    EXPECT_EQ(writesTo(0x045A01), (std::vector<uint8_t>{4}));
    EXPECT_EQ(writesTo(0x045901), (std::vector<uint8_t>{0x80}));     // length with bit 31
    EXPECT_EQ(writesTo(0x044701), (std::vector<uint8_t>{0x80, 0x33}));
    EXPECT_EQ(writesTo(0x044801), (std::vector<uint8_t>{0, 2, 0}));
    // GIO in the DMA's order: 0x42, 0x45, 0x3C, 0x3E.
    const std::vector<Write> got = writes();
    ASSERT_GE(got.size(), 9u);
    EXPECT_EQ(std::get<1>(got[0]), 0x42u);
    EXPECT_EQ(std::get<1>(got[3]), 0x45u);
    EXPECT_EQ(std::get<1>(got[5]), 0x3Cu);
    EXPECT_EQ(std::get<1>(got[7]), 0x3Eu);

    chip().clearFrames();
    ASSERT_EQ(m->osd_write_dma_sfl(m->c331_fd, 0x23, 0x10, 1, 128), 0);
    EXPECT_EQ(writesTo(0x044701), (std::vector<uint8_t>{0x80, 0x37}));
    const std::vector<uint8_t> glyphs = chip().glyphMemory();
    EXPECT_EQ(std::vector<uint8_t>(glyphs.begin() + 0x20, glyphs.begin() + 0x20 + 128), sim::c331_fonts::glyph(32, ' '));
    // The largest font (64-pixel CJK, 10.75 MiB = 11,272,192 bytes) keeps the
    // simulated DMA (50 MB/s) busy for 225 ms: the wait lasts until it is
    // done.
    const uint64_t start = sim::SimClock::instance().nowUs();
    EXPECT_EQ(m->osd_write_dma_sfl(m->c331_fd, 0x450000, 0x7F29F000, 0, 11272192), 0);
    EXPECT_GE(sim::SimClock::instance().nowUs() - start, 225000u);
    EXPECT_EQ(chip().memoryRead(0x7F29F000, 1)[0], chip().flashRead(0x450000, 1)[0]);
}

TEST_F(C331Flash, FontStatusFollowsTheHeadersFoundInFlash)
{
    ParaWriteLock().status()[43] = 0xC0;
    ASSERT_EQ(m->read_c331_font(m->c331_fd), 0);
    EXPECT_EQ(c331_manage::font_status.load(), 0x0F);
    EXPECT_EQ(ZdrRamPara::p_zdrrampara_config->run_status[43], 0xFF);

    // Only the 32-pixel fonts.
    chip().flashErase(0x410000, 0x1000);
    chip().flashErase(0x450000, 0x1000);
    ASSERT_EQ(m->read_c331_font(m->c331_fd), 0);
    EXPECT_EQ(c331_manage::font_status.load(), 3);
    EXPECT_EQ(ZdrRamPara::p_zdrrampara_config->run_status[43], 0xC3);

    // Only the 32-pixel CJK font: bit 0 here, bit 1 for the PC.
    chip().flashErase(0x000000, 0x1000);
    ASSERT_EQ(m->read_c331_font(m->c331_fd), 0);
    EXPECT_EQ(c331_manage::font_status.load(), 1);
    EXPECT_EQ(ZdrRamPara::p_zdrrampara_config->run_status[43], 0xC2);
    c331_manage::font_status = 0;
}

TEST_F(C331Flash, UpdateFontLoadsTheFourFontsBackToBackIntoChipMemory)
{
    m->load_char();
    ASSERT_EQ(m->update_font(m->c331_fd), 0);
    EXPECT_EQ(m->g_font_addr_32ASCII, 0x7F000000u);
    EXPECT_EQ(m->g_font_addr_32CHN, 0x7F003000u);
    EXPECT_EQ(m->g_font_addr_64ASCII, 0x7F293000u);
    EXPECT_EQ(m->g_font_addr_64CHN, 0x7F29F000u);
    const auto dmas = ops('D');
    ASSERT_EQ(dmas.size(), 4u);
    EXPECT_EQ(dmas[3].address, 0x450023u);
    EXPECT_EQ(dmas[3].length, 0xA40000u);
    EXPECT_EQ(dmas[3].dest, 0x7F29F000u);
    EXPECT_EQ(chip().memoryRead(0x7F000000 + ('A' - 0x20) * 128, 128), sim::c331_fonts::glyph(32, 'A'));
    EXPECT_EQ(chip().memoryRead(0x7F003000 + 5 * 128, 128), sim::c331_fonts::glyph(32, 0x4E05));
    EXPECT_EQ(chip().memoryRead(0x7F29F000, 512), sim::c331_fonts::glyph(64, 0x4E00));
}

TEST_F(C331Flash, TheGlyphPrintShowsSetBitsLeastSignificantFirstAndRefusesOtherCodes)
{
    const unsigned char saved = g_debugSwitch;
    g_debugSwitch = 254;
    m->load_char();
    testing::internal::CaptureStdout();
    m->zdrApi_debug_printf_unicode('A', m->c331_fd);
    m->zdrApi_debug_printf_unicode(0x3000, m->c331_fd);
    const std::string out = testing::internal::GetCapturedStdout();
    g_debugSwitch = saved;
    // The generated glyph: a full top row, then the frame's left and right
    // columns; 'A' = 0x0041 sets code bit 6, the block in grid row 2, column 1.
    EXPECT_EQ(out.find(std::string(32, 'O') + "\nO"), 0u) << out;
    const std::vector<uint8_t> g = sim::c331_fonts::glyph(32, 'A');
    std::string expected;
    for (int row = 0; row < 32; ++row) {
        for (int col = 0; col < 32; ++col)
            expected += (g[row * 4 + col / 8] >> (col % 8)) & 1 ? 'O' : ' ';
        expected += '\n';
    }
    EXPECT_NE(out.find(expected), std::string::npos);
    EXPECT_NE(out.find("\t unicode:3000 OOR, rang:4e00 - 9fff, return;\n"), std::string::npos);
}
