// The OSD fonts in the chip's serial flash and their copy into chip memory.
//
// Flash layout: each font area starts with a 35-byte header (byte 0 "P"
// when a font is present, byte 5 the encoding, bytes 17 and 18 the glyph
// width and height), the glyphs follow. The four fonts are copied one
// after another to PS_FONT_ADDR, each CJK font directly after the ASCII
// font of its size, as the glyph engine counts indexes from there.
#include "videochip/c331_manage.h"

#include "core/global.h"
#include "core/zdrrampara.h"
#include "videochip/c331_trace.h"

#include <cstdio>

namespace {

constexpr int kHeaderBytes = 35;
constexpr int kStatusFonts = 43;     // status-area byte the PC reads

struct FontHeader {
    unsigned flash;            // header address
    unsigned char status;      // bit of font_status
    unsigned char statusArea;  // bits of status byte 43
};
// In the order the headers are read.
const FontHeader kHeaders[4] = {
    {0x010000, 0x01, 0x02},    // 32-pixel CJK
    {0x000000, 0x02, 0x01},    // 32-pixel ASCII
    {0x450000, 0x04, 0x28},    // 64-pixel CJK
    {0x410000, 0x08, 0x14},    // 64-pixel ASCII
};

// Glyph addresses and sizes in flash: 32 ASCII, 32 CJK, 64 ASCII, 64 CJK.
const unsigned osd_char_txt[8] = {
    0x000023, 0x010023, 0x410023, 0x450023, 0x3000, 0x290000, 0xC000, 0xA40000,
};

} // namespace

void c331_manage::load_font_table()
{
    PS_CHAR_ADDR_32ASCII = osd_char_txt[0];
    PS_CHAR_ADDR_32CHN = osd_char_txt[1];
    PS_CHAR_ADDR_64ASCII = osd_char_txt[2];
    PS_CHAR_ADDR_64CHN = osd_char_txt[3];
    PS_CHAR_SIZE_32ASCII = osd_char_txt[4];
    PS_CHAR_SIZE_32CHN = osd_char_txt[5];
    PS_CHAR_SIZE_64ASCII = osd_char_txt[6];
    PS_CHAR_SIZE_64CHN = osd_char_txt[7];
}

int c331_manage::read_c331_font(int fd)
{
    bool ok = true;
    unsigned char found = 0;
    unsigned char area = 0;
    for (const FontHeader& h : kHeaders) {
        char header[kHeaderBytes] = {};
        // A header the flash would not give counts as missing.
        const bool read = read_flash(fd, static_cast<int>(h.flash), kHeaderBytes, header) == 0;
        ok = ok && read;
        if (read && header[0] == 'P') {
            found |= h.status;
            area |= h.statusArea;
        }
        c331_trace("font at 0x%06x: type %02x width %u height %u\n", h.flash, static_cast<unsigned char>(header[0]),
                   static_cast<unsigned char>(header[17]), static_cast<unsigned char>(header[18]));
    }
    // One store each, so that the factory page never sees a half-done check.
    font_status = found;
    {
        ParaWriteLock bytes;
        if (ZdrRamPara* store = ZdrRamPara::p_zdrrampara_config)
            bytes.status()[kStatusFonts] =
                static_cast<unsigned char>((store->run_status[kStatusFonts] & 0xC0) | area);
    }
    return ok ? 0 : -1;
}

int c331_manage::update_font(int fd)
{
    struct Font {
        unsigned* chipAddress;
        unsigned flash;
        unsigned size;
    };
    const Font fonts[4] = {
        {&g_font_addr_32ASCII, PS_CHAR_ADDR_32ASCII, PS_CHAR_SIZE_32ASCII},
        {&g_font_addr_32CHN, PS_CHAR_ADDR_32CHN, PS_CHAR_SIZE_32CHN},
        {&g_font_addr_64ASCII, PS_CHAR_ADDR_64ASCII, PS_CHAR_SIZE_64ASCII},
        {&g_font_addr_64CHN, PS_CHAR_ADDR_64CHN, PS_CHAR_SIZE_64CHN},
    };
    unsigned a = PS_FONT_ADDR;
    bool ok = true;
    for (const Font& f : fonts) {
        *f.chipAddress = a;
        ok = osd_write_dma_sfl(fd, static_cast<int>(f.flash), static_cast<int>(a), 0, static_cast<int>(f.size)) == 0 && ok;
        a += f.size;
    }
    return ok ? 0 : -1;
}

void c331_manage::zdrApi_debug_printf_unicode(int code, int fd)
{
    if (!traceOn())
        return;
    unsigned address = 0;
    if (code >= 0x20 && code <= 0x7F)
        address = PS_CHAR_ADDR_32ASCII + static_cast<unsigned>(code - 0x20) * 128;
    else if (code >= 0x4E00 && code <= 0x9FFF)
        address = PS_CHAR_ADDR_32CHN + static_cast<unsigned>(code - 0x4E00) * 128;
    else {
        std::printf("\t unicode:%x OOR, rang:%x - %x, return;\n", code, 0x4E00, 0x9FFF);
        return;
    }
    char glyph[128] = {};
    read_flash(fd, static_cast<int>(address), sizeof(glyph), glyph);
    for (int row = 0; row < 32; ++row) {
        char line[33];
        for (int col = 0; col < 32; ++col)
            line[col] = (static_cast<unsigned char>(glyph[row * 4 + col / 8]) >> (col % 8)) & 1 ? 'O' : ' ';
        line[32] = 0;
        std::printf("%s\n", line);
    }
}
