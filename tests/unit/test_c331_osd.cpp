// The OSD text layer against the simulated chip: the settings and the text
// store, the drawing engine's commands and the pixels they leave in the OSD
// plane, the per-channel windows, scrolling and colours, and an OSD menu
// turned on by the PC's flag register and drawn by the change pass.
#include "support/c331_fixture.h"

#include "core/le_bytes.h"
#include "core/para_layout.h"
#include "link/message_deal.h"
#include "sim/c331_fonts.h"

#include <algorithm>
#include <string>

namespace {

constexpr uint32_t kScrollCtrl = 0x093C01;
constexpr uint32_t kOsdCtrl = 0x090802;
constexpr uint32_t kOsdHw = 0x091402;
constexpr uint32_t kOsdHst = 0x091202;
constexpr uint32_t kOsdSource = 0x091A04;

class C331Osd : public C331Test {
protected:
    void SetUp() override
    {
        C331Test::SetUp();
        m->load_char();
        ASSERT_EQ(m->update_font(m->c331_fd), 0);
    }

    // A text image of w x h in text mode.
    void textImage(int w, int h)
    {
        m->zdrApi_OsdSet(3, 1);
        m->zdrApi_OsdSet(19, w);
        m->zdrApi_OsdSet(20, h);
    }

    void setText(const std::vector<std::wstring>& text)
    {
        int lengths[64] = {};
        static wchar_t lines[64][128];
        for (size_t k = 0; k < text.size() && k < 64; ++k) {
            std::fill(std::begin(lines[k]), std::end(lines[k]), 0);
            lengths[k] = static_cast<int>(text[k].size());
            std::copy(text[k].begin(), text[k].begin() + std::min<size_t>(text[k].size(), 128), lines[k]);
        }
        m->zdrApi_OsdSetUnicode(static_cast<int>(text.size()), lengths, lines);
    }

    std::vector<uint8_t> row(int x, int y, int w)
    {
        return chip().memoryRead(m->PS_MEM_OSD + static_cast<uint32_t>(x + y * m->osd_pitch() * 128),
                                 static_cast<uint32_t>(w));
    }

    // The glyph of code drawn at (x, y): set bits fg, the rest bg, over
    // the glyph's advance (at most its size).
    void expectGlyph(unsigned code, int size, int x, int y, int advance, uint8_t fg, uint8_t bg)
    {
        const std::vector<uint8_t> g = sim::c331_fonts::glyph(static_cast<unsigned>(size), code);
        const int rowBytes = size / 8;
        const int cols = std::min(advance, size);
        for (int r = 0; r < size; ++r) {
            const std::vector<uint8_t> got = row(x, y + r, cols);
            std::vector<uint8_t> want(static_cast<size_t>(cols));
            for (int c = 0; c < cols; ++c)
                want[static_cast<size_t>(c)] = (g[static_cast<size_t>(r * rowBytes + c / 8)] >> (c % 8)) & 1 ? fg : bg;
            ASSERT_EQ(got, want) << "code " << code << " row " << r;
        }
    }
};

TEST_F(C331Osd, SettingsItemsFlagsAndRemainders)
{
    m->osd_set_dirty = m->osd_update_dirty = 0;
    EXPECT_EQ(m->zdrApi_OsdSet(4, 11), 1);
    EXPECT_EQ(m->PM_OSD_SCROLL_MODE, 2);
    EXPECT_EQ(m->osd_set_dirty, 1);
    EXPECT_EQ(m->osd_update_dirty, 0);
    m->zdrApi_OsdSet(4, -1);
    EXPECT_EQ(m->PM_OSD_SCROLL_MODE, 8);   // never a negative mode
    m->zdrApi_OsdSet(13, 260);
    EXPECT_EQ(m->PM_OSD_SCROLL_SPEED, 4);
    m->zdrApi_OsdSet(13, -260);
    EXPECT_EQ(m->PM_OSD_SCROLL_SPEED, -4);
    m->zdrApi_OsdSet(14, 5);
    EXPECT_EQ(m->PM_OSD_CHAR_64DOT, 1);
    EXPECT_EQ(m->osd_update_dirty, 1);

    // Right and bottom margins from the OSD's width and height.
    textImage(3840, 1080);
    m->zdrApi_OsdSet(5, 100);
    m->zdrApi_OsdSet(6, 1000);
    m->zdrApi_OsdSet(7, 10);
    m->zdrApi_OsdSet(8, 500);
    EXPECT_EQ(std::vector<int>(m->PM_OSD_OUTPUT_OFFSET, m->PM_OSD_OUTPUT_OFFSET + 4),
              std::vector<int>({100, 2740, 10, 570}));
    m->zdrApi_OsdSet(16, 0x12345678);
    EXPECT_EQ(m->PS_BG_COLOR, 0x345678);
    m->zdrApi_OsdSet(32, 0x80);
    EXPECT_EQ(m->osd_set_dirty, 1);
    EXPECT_EQ(m->osd_update_dirty, 0);

    // Unknown items change nothing.
    const int mode = m->PM_OSD_SCROLL_MODE;
    for (int t : {23, 27, 31, 36, -1}) {
        EXPECT_EQ(m->zdrApi_OsdSet(t, 7), 0) << t;
    }
    EXPECT_EQ(m->PM_OSD_SCROLL_MODE, mode);
}

TEST_F(C331Osd, TextStoreBoundsLinesAndCharacters)
{
    setText({std::wstring(200, L'x'), std::wstring(1, static_cast<wchar_t>(0x1F600)) + L"A"});
    EXPECT_EQ(m->g_unicode_line, 2);
    EXPECT_EQ(m->unicode_text[0][2 * 126 + 1], 'x');
    EXPECT_EQ(m->unicode_text[0][2 * 127], 0);   // the first 127, then the end
    EXPECT_EQ(m->unicode_text[0][2 * 127 + 1], 0);
    EXPECT_EQ(m->unicode_text[1][0], 0xF6);       // low 16 bits, high byte first
    EXPECT_EQ(m->unicode_text[1][1], 0x00);
    EXPECT_EQ(m->unicode_text[1][3], 'A');

    // More lines than the store holds: 64 kept, the count never wraps.
    static wchar_t lines[80][128] = {};
    int lengths[80];
    for (int k = 0; k < 80; ++k) {
        lines[k][0] = L'a';
        lengths[k] = 1;
    }
    m->zdrApi_OsdSetUnicode(80, lengths, lines);
    EXPECT_EQ(m->g_unicode_line, 64);
    EXPECT_EQ(m->unicode_text[63][1], 'a');
    // A negative length stores an empty line; no lines clear the store.
    lengths[0] = -5;
    m->zdrApi_OsdSetUnicode(1, lengths, lines);
    EXPECT_EQ(m->unicode_text[0][1], 0);
    m->zdrApi_OsdSetUnicode(0, lengths, lines);
    EXPECT_EQ(m->g_unicode_line, 0);
    EXPECT_EQ(m->unicode_text[1][1], 0);
    m->zdrApi_OsdSetUnicode(3, nullptr, lines);
    EXPECT_EQ(m->g_unicode_line, 0);
}

TEST_F(C331Osd, PitchFollowsTheImageWidth)
{
    struct Case {
        int w, mwi, shift;
    };
    for (Case c : {Case{1920, 32, 0}, Case{4096, 64, 0}, Case{4224, 17, 1}}) {
        textImage(c.w, 64);
        setText({});
        m->update_osd(m->c331_fd);
        EXPECT_EQ(m->g_osd_mwi, c.mwi) << c.w;
        EXPECT_EQ(m->g_osd_mwi_shift, c.shift) << c.w;
        EXPECT_EQ(reg(0x041B01), static_cast<uint32_t>(c.mwi)) << c.w;
        EXPECT_EQ(reg(0x042201), c.shift ? 0x30u : 0u) << c.w;
        EXPECT_EQ(reg(kOsdCtrl) & 0x6000, c.shift ? 0x6000u : 0x4000u) << c.w;
    }
}

TEST_F(C331Osd, TextDrawnIntoThePlaneWithGlyphsAndBackground)
{
    textImage(1920, 200);
    m->zdrApi_OsdSet(14, 0);          // 32-pixel glyphs
    m->zdrApi_OsdSet(21, 8);
    m->zdrApi_OsdSet(22, 4);
    m->zdrApi_OsdSet(34, 2);          // word space
    m->zdrApi_OsdSet(35, 6);          // line space
    setText({L"Hi", std::wstring(L"") + static_cast<wchar_t>(0x4E01), L"", L"B"});
    chip().clearOsdOps();
    chip().clearFrames();
    m->update_osd(m->c331_fd);

    expectGlyph('H', 32, 8, 4, 16 + 2, 2, 1);
    expectGlyph('i', 32, 8 + 18, 4, 16 + 2, 2, 1);
    expectGlyph(0x4E01, 32, 8, 4 + 38, 32 + 2, 2, 1);   // CJK glyphs follow the ASCII font
    expectGlyph('B', 32, 8, 4 + 3 * 38, 16 + 2, 2, 1);
    // Outside the text: background; beyond the image: untouched.
    EXPECT_EQ(row(0, 0, 8), std::vector<uint8_t>(8, 1));
    EXPECT_EQ(row(1900, 199, 20), std::vector<uint8_t>(20, 1));
    EXPECT_EQ(row(0, 200, 4), std::vector<uint8_t>(4, 0xFF));

    // One fill, three glyph strings (the empty line draws nothing), four
    // copies into the scroll image; every command cleared after its wait.
    std::vector<int> kinds;
    for (const auto& op : chip().osdOps())
        kinds.push_back(op.command);
    EXPECT_EQ(kinds, std::vector<int>({1, 3, 3, 3, 2, 2, 2, 2}));
    EXPECT_EQ(reg(0x040801), 0u);
    // The scroll image holds the image two by two.
    const uint32_t line = static_cast<uint32_t>(m->osd_pitch() * 128);
    const auto main = chip().memoryRead(m->PS_MEM_OSD + 4 * line, 1920);
    EXPECT_EQ(chip().memoryRead(m->PS_MEM_OSD1 + 4 * line + 1920, 1920), main);
    EXPECT_EQ(chip().memoryRead(m->PS_MEM_OSD1 + (200 + 4) * line, 1920), main);

    // Colours: entry 1 background, entry 2 characters, red first.
    const auto table = chip().colourTable();
    EXPECT_EQ(std::vector<uint8_t>(table.begin() + 4, table.begin() + 7), std::vector<uint8_t>({0x00, 0x00, 0xFF}));
    EXPECT_EQ(std::vector<uint8_t>(table.begin() + 8, table.begin() + 11), std::vector<uint8_t>({0xFF, 0xC0, 0xC0}));
    EXPECT_EQ(reg(0xFF0101), 0u);
}

TEST_F(C331Osd, TransparentBackgroundAnd64PixelGlyphs)
{
    textImage(1920, 128);
    m->zdrApi_OsdSet(18, 1);
    m->zdrApi_OsdSet(14, 1);
    setText({L"Z"});
    m->update_osd(m->c331_fd);
    expectGlyph('Z', 64, 0, 0, 32, 2, 255);
    EXPECT_EQ(row(40, 0, 4), std::vector<uint8_t>(4, 255));
}

TEST_F(C331Osd, LinesOutsideTheImageAreNotDrawn)
{
    textImage(1920, 100);
    m->zdrApi_OsdSet(14, 0);
    setText({L"A", L"B", L"C", L"D"});   // lines 3 and 4 would end below the image
    chip().clearOsdOps();
    m->update_osd(m->c331_fd);
    int strings = 0;
    for (const auto& op : chip().osdOps())
        strings += op.command == 3;
    EXPECT_EQ(strings, 3);
    EXPECT_EQ(row(0, 100, 16), std::vector<uint8_t>(16, 0xFF));
    // A start beyond the image draws no line at all; an image that does not
    // fit its memory is not drawn.
    m->zdrApi_OsdSet(21, 5000);
    chip().clearOsdOps();
    m->update_osd(m->c331_fd);
    EXPECT_EQ(chip().osdOps().size(), 1u + 4u);
    m->zdrApi_OsdSet(20, 100000);
    chip().clearOsdOps();
    m->update_osd(m->c331_fd);
    EXPECT_TRUE(chip().osdOps().empty());
}

TEST_F(C331Osd, BusyEngineWaitIsBoundedAndCounted)
{
    textImage(1920, 64);
    setText({L"A"});
    const unsigned before = c331_manage::osd_engine_timeouts;
    chip().setOsdStuck(true);
    EXPECT_FALSE(m->osd_paint(m->c331_fd, 0, 10, 0, 10, 1, static_cast<int>(m->PS_MEM_OSD)));
    EXPECT_EQ(c331_manage::osd_engine_timeouts, before + 1);
    EXPECT_EQ(reg(0x040801), 0u);   // the command is still cleared
    m->update_osd(m->c331_fd);      // ends, every command waited out
    EXPECT_GT(c331_manage::osd_engine_timeouts, before + 1);
    chip().setOsdStuck(false);
    EXPECT_TRUE(m->osd_paint(m->c331_fd, 0, 10, 0, 10, 1, static_cast<int>(m->PS_MEM_OSD)));
    // An empty rectangle is no command.
    chip().clearOsdOps();
    EXPECT_TRUE(m->osd_paint(m->c331_fd, 0, 0, 0, 10, 1, static_cast<int>(m->PS_MEM_OSD)));
    EXPECT_TRUE(chip().osdOps().empty());
}

TEST_F(C331Osd, WindowsSplitOverChannelColumns)
{
    m->PS_OCH_HNUM = 2;
    m->PS_OCH_VNUM = 1;
    m->PS_ACTHW = 1920;
    m->PS_PANEL_HW = 3840;
    textImage(3840, 100);
    m->g_osd_mwi = 64;
    m->g_osd_mwi_shift = 0;
    m->zdrApi_OsdSet(0, 1);
    m->zdrApi_OsdSet(5, 2000);   // starts in the second column
    m->zdrApi_OsdSet(6, 500);
    m->set_osd(m->c331_fd, 0);
    EXPECT_EQ(reg(kOsdHw, 0), 0u);
    EXPECT_EQ(reg(kOsdHw, 16), 500u);
    EXPECT_EQ(reg(kOsdHst, 16), static_cast<uint32_t>(m->PS_ACTHST + 80 - 4));
    EXPECT_EQ(reg(kOsdCtrl, 16), 0x4003u);

    // Across the border: the first column shows its part, the second
    // continues from where the first one ended in the image.
    m->zdrApi_OsdSet(5, 1800);
    m->zdrApi_OsdSet(6, 400);
    m->zdrApi_OsdSet(1, 1);
    m->set_osd(m->c331_fd, 1);
    EXPECT_EQ(reg(kOsdHw, 0), 120u);
    EXPECT_EQ(reg(kOsdHw, 16), 280u);
    EXPECT_EQ(reg(kOsdSource, 0), m->PS_MEM_OSD1);
    EXPECT_EQ(reg(kOsdSource, 16), m->PS_MEM_OSD1 + 60);   // zoomed: half the width
    EXPECT_EQ(reg(kOsdCtrl, 0), 0x5003u);
}

TEST_F(C331Osd, ScrollStopsEveryChannelBeforeStarting)
{
    m->zdrApi_OsdSet(4, 0);
    m->set_scroll(m->c331_fd);
    for (int c = 0; c < 8; ++c)
        EXPECT_EQ(reg(kScrollCtrl, 16u * c), 0x80u) << c;
    m->zdrApi_OsdSet(4, 3);
    m->zdrApi_OsdSet(13, 40);
    chip().clearFrames();
    m->set_scroll(m->c331_fd);
    // Every channel's stop comes before the first start.
    size_t lastStop = 0, firstStart = SIZE_MAX, i = 0;
    for (const auto& f : chip().frames()) {
        if (f.write() && !f.bankSelect() && (f.bank & 0x0F) == 9 && f.addr() == 0x3C) {
            if (f.b1 == 0)
                lastStop = i;
            else
                firstStart = std::min(firstStart, i);
        }
        ++i;
    }
    EXPECT_LT(lastStop, firstStart);
    for (int c = 0; c < 8; ++c) {
        EXPECT_EQ(writesTo(kScrollCtrl, 16u * c), std::vector<uint8_t>({0, 0xA1})) << c;
        EXPECT_EQ(reg(0x093D01, 16u * c), 40u);
    }
}

TEST_F(C331Osd, MenuTurnedOnByTheFlagRegisterIsDrawn)
{
    c331_manage* const saved = c331_manage::p_c331_manage;
    c331_manage::p_c331_manage = m;
    setLe16(ParaWriteLock().block(), para::kLedWidth, 3840);
    setLe16(ParaWriteLock().block(), para::kLedHeight, 1080);
    store16(para::kOsdOn, 0);
    deal();
    persist();

    writeFile(hostPath("/data/configs/omenu.json"),
              R"({"name": "m", "osdcount": 1, "oactcount": 0, "menu": [{"type": 0, "status": "on",
                  "pos": {"x": 10, "y": 20, "w": 600, "h": 200, "layer": "buttom"},
                  "act": {"effect": 0, "speed": 3, "staytime": 0},
                  "backpara": {"enable": "on", "color": "102030"},
                  "fontpara": {"startx": 5, "starty": 6, "fontw": 32, "fonth": 32, "wordspace": 1,
                               "verticalspace": 2, "color": "00FF00"},
                  "texts": ["Hi\nOK"]}]})");
    // With the OSD off the flag register's OSD bit does nothing.
    message_deal::REG_mcu_flag(0x08, 0xFF);
    EXPECT_EQ(g_osd_update, 0u);
    deal();
    EXPECT_EQ(m->g_unicode_line, 0);

    {
        ParaWriteLock lock;
        setLe16(lock.block(), para::kOsdOn, 1);
        setLe16(m->applied_para, para::kOsdOn, 1);   // shown already: only the flag register asks
    }
    message_deal::REG_mcu_flag(0x08, 0xFF);
    EXPECT_EQ(g_osd_update, 1u);
    deal();
    EXPECT_EQ(g_osd_update, 0u);
    EXPECT_EQ(m->g_unicode_line, 2);
    EXPECT_EQ(m->osd_update_dirty, 0);
    const int bw = m->PS_BG_HACT;
    EXPECT_EQ(bw, m->PS_PANEL_HW);
    expectGlyph('H', 32, 5, 6, 17, 2, 1);
    expectGlyph('K', 32, 5 + 17, 6 + 34, 17, 2, 1);
    // Shown, under the video, colours from the menu (RRGGBB).
    EXPECT_EQ(reg(kOsdCtrl) & 0x8003, 0x8003u);
    const auto table = chip().colourTable();
    EXPECT_EQ(std::vector<uint8_t>(table.begin() + 4, table.begin() + 11),
              std::vector<uint8_t>({0x10, 0x20, 0x30, 0, 0x00, 0xFF, 0x00}));
    EXPECT_EQ(reg(0x093D01), 30u);
    c331_manage::p_c331_manage = saved;
}

} // namespace

namespace {

TEST_F(C331Osd, BitmapCopiedFromFlashWithItsColourTable)
{
    std::vector<uint8_t> line(1920);
    for (size_t i = 0; i < line.size(); ++i)
        line[i] = static_cast<uint8_t>(i * 7);
    chip().flashWrite(0xED9800 + 1920 * 3, line);                 // row 3 of the bitmap
    chip().flashWrite(0x10D3C00, std::vector<uint8_t>({9, 8, 7, 6, 5, 4, 3, 2}));
    m->zdrApi_OsdSet(3, 0);
    m->zdrApi_OsdSet(9, 100);   // left crop
    m->update_osd(m->c331_fd);
    EXPECT_EQ(m->g_osd_mwi, 32);
    EXPECT_EQ(row(0, 3, 1920), line);
    EXPECT_EQ(row(0, 2, 4), std::vector<uint8_t>(4, 0xFF));      // erased flash
    const auto table = chip().colourTable();
    EXPECT_EQ(std::vector<uint8_t>(table.begin(), table.begin() + 8), std::vector<uint8_t>({9, 8, 7, 6, 5, 4, 3, 2}));
    EXPECT_EQ(reg(0xFF0101), 0u);
    // Bitmap windows show mode 2; the scroll image starts at the crop.
    m->zdrApi_OsdSet(0, 1);
    m->set_osd(m->c331_fd, 0);
    EXPECT_EQ(reg(kOsdCtrl) & 3, 2u);
    EXPECT_EQ(reg(kOsdSource), m->PS_MEM_OSD + 100);
    const uint32_t pitch = 32 * 128;
    EXPECT_EQ(chip().memoryRead(m->PS_MEM_OSD1 + 3 * pitch, 1820),
              std::vector<uint8_t>(line.begin() + 100, line.end()));
    EXPECT_EQ(reg(0x094002), 1820u);   // scroll width: the cropped bitmap
}

} // namespace
