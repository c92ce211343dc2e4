// The OSD text layer: the OSD settings, the text store, the drawing of the
// OSD image by the chip's drawing engine, the per-channel OSD windows and
// scrolling, and the OSD colours.
//
// OSD memories: pixel (x, y) of an image at base lies at
// base + x + y * osd_pitch() * 128. Pixel values: 1 background, 2
// characters, 255 transparent (entries 1 and 2 of the colour table).
#include "videochip/c331_manage.h"

#include "core/global.h"
#include "core/logMsg.h"
#include "core/wait_bound.h"
#include "videochip/c331_drv.h"
#include "videochip/c331_trace.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>

using namespace c331;

std::atomic<unsigned> c331_manage::osd_engine_timeouts{0};

namespace {

// Drawing engine (bank 4).
constexpr C331RegDesc kEngineCmd = 0x040801;
constexpr C331RegDesc kFillValue = 0x040B02;
constexpr C331RegDesc kSource = 0x040D04;
constexpr C331RegDesc kDest = 0x041104;
constexpr C331RegDesc kEngineStatus = 0x041701;
constexpr C331RegDesc kDestPitch = 0x041B01;
constexpr C331RegDesc kSourcePitch = 0x041C01;
constexpr C331RegDesc kWidth = 0x041E02;
constexpr C331RegDesc kHeight = 0x042002;
constexpr C331RegDesc kPitchScale = 0x042201;
constexpr C331RegDesc kFirstEntry = 0x042301;
constexpr C331RegDesc kLastEntry = 0x042401;
constexpr C331RegDesc kString25 = 0x042501;
constexpr C331RegDesc kString26 = 0x042601;
constexpr C331RegDesc kStringPointer = 0x042702;
constexpr C331RegDesc kStringData = 0x042901;
constexpr C331RegDesc kGlyphSize = 0x042A01;
// OSD window of a channel (bank 9 + 16 x channel).
constexpr C331RegDesc kOsdCtrl = 0x090802;
constexpr C331RegDesc kOsdHst = 0x091202;
constexpr C331RegDesc kOsdHw = 0x091402;
constexpr C331RegDesc kOsdVst = 0x091602;
constexpr C331RegDesc kOsdVw = 0x091802;
constexpr C331RegDesc kOsdSource = 0x091A04;
constexpr C331RegDesc kOsdPitch = 0x091E01;
constexpr C331RegDesc kScrollCtrl = 0x093C01;
constexpr C331RegDesc kScrollSpeed = 0x093D01;
constexpr C331RegDesc kScrollWidth = 0x094002;
constexpr C331RegDesc kScrollHeight = 0x094202;
// Colour table.
constexpr C331RegDesc kColourIndex = 0x091F01;
constexpr C331RegDesc kColourData = 0x092001;
constexpr C331RegDesc kColourAccess = 0xFF0101;
constexpr int kCmdFill = 1;
constexpr int kCmdCopy = 2;
constexpr int kCmdString = 3;
// The drawing engine's longest command, a fill or copy of the whole OSD
// plane (up to 2 Mpixels), takes about 20 ms at a pixel per cycle of a
// 100 MHz engine: ten times that bounds its wait.
constexpr uint64_t kEngineBoundUs = 200000;
constexpr int kMaxLines = 64;
constexpr int kMaxUnits = 127;            // code units a stored line holds
constexpr int kMaxEntries = 128;          // glyph-string entries of one command
constexpr int kColourTableBytes = 816;
constexpr int kEngineMaxSide = 0x10000;   // width and height registers hold side - 1

// Text-mode defaults: text-image size (unused), background colour,
// transparent background, first line position, character colour. The
// fonts' part of the table is load_font_table's.
const int osd_char_txt[7] = {1920, 1080, 0xFF0000, 0, 0, 0, 0xC0C0FF};
const unsigned osd_bmp_txt[4] = {0xED9800, 1920, 1080, 0x10D3C00};

const char* onOff(int v, const char* on, const char* off) { return v ? on : off; }

void osdTrace(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
void osdTrace(const char* fmt, ...)
{
    if (!(c331_manage::prnEn[8] & 0x80) || !traceOn())
        return;
    va_list ap;
    va_start(ap, fmt);
    std::vprintf(fmt, ap);
    va_end(ap);
}

// Image size of the current mode.
void imageSize(c331_manage* m, int& w, int& h)
{
    if (m->PM_OSD_DATA_MODE) {
        w = m->PS_BG_HACT;
        h = m->PS_BG_VACT;
    } else {
        m->load_bmp();
        w = m->PS_BMP_HACT;
        h = m->PS_BMP_VACT;
    }
}

} // namespace

// ---- settings -------------------------------------------------------------

int c331_manage::zdrApi_OsdSet(int type, int value)
{
    osdTrace("[zdrApi_OsdSet] type:%d, val:%x\n", type, value);
    const int flag = value ? 1 : 0;
    switch (type) {
    case 0:
        PM_OSD_EN = flag;
        osd_set_dirty = 1;
        osdTrace("\t OSD display %s\n", onOff(flag, "enable", "disable"));
        break;
    case 1:
        PM_OSD_HZOOM_EN = flag;
        osd_set_dirty = 1;
        osdTrace("\t OSD horizontal zoom  %s\n", onOff(flag, "enable", "disable"));
        break;
    case 2:
        PM_OSD_VZOOM_EN = flag;
        osd_set_dirty = 1;
        osdTrace("\t OSD vertical zoom %s\n", onOff(flag, "enable", "disable"));
        break;
    case 3:
        PM_OSD_DATA_MODE = flag;
        osd_update_dirty = 1;
        osdTrace("\t OSD display data mode %s\n", onOff(flag, "char", "bmp"));
        break;
    case 4:
        PM_OSD_SCROLL_MODE = ((value % 9) + 9) % 9;
        osd_set_dirty = 1;
        osdTrace("\t OSD scroll mode %d\n", PM_OSD_SCROLL_MODE);
        break;
    case 5: PM_OSD_OUTPUT_OFFSET[0] = value; break;
    case 6: PM_OSD_OUTPUT_OFFSET[1] = PS_BG_HACT - value - PM_OSD_OUTPUT_OFFSET[0]; break;
    case 7: PM_OSD_OUTPUT_OFFSET[2] = value; break;
    case 8: PM_OSD_OUTPUT_OFFSET[3] = PS_BG_VACT - value - PM_OSD_OUTPUT_OFFSET[2]; break;
    case 9:
    case 10:
    case 11:
    case 12: PM_OSD_INPUT_OFFSET[type - 9] = value; break;
    case 13:
        PM_OSD_SCROLL_SPEED = value % 256;
        osd_set_dirty = 1;
        osdTrace("\t OSD scroll speed %d\n", PM_OSD_SCROLL_SPEED);
        break;
    case 14:
        PM_OSD_CHAR_64DOT = flag;
        osd_update_dirty = 1;
        osdTrace("\t Charater size %s\n", onOff(flag, "64x64", "32x32"));
        break;
    case 15:
        PM_OSD_UPDATE_BUTTON = flag;
        osd_update_dirty = 1;
        break;
    case 16:
        PS_BG_COLOR = value & 0xFFFFFF;
        osdTrace("\t background color BBGGRR %08x\n", PS_BG_COLOR);
        break;
    case 17:
        PS_CHAR_COLOR = value & 0xFFFFFF;
        osdTrace("\t character color BBGGRR %08x\n", PS_CHAR_COLOR);
        break;
    case 18:
        PS_BG_TRANS = flag;
        osdTrace("\t transparent background color %s\n", onOff(flag, "Enable", "Disable"));
        break;
    case 19: PS_BG_HACT = value; break;
    case 20: PS_BG_VACT = value; break;
    case 21: PS_CHAR_HST = value; break;
    case 22: PS_CHAR_VST = value; break;
    case 32:
        osd_set_dirty = (value >> 7) & 1;
        osd_update_dirty = (value >> 6) & 1;
        break;
    case 33: osd_bottom = flag; break;
    case 34: osd_word_space = value; break;
    case 35: osd_line_space = value; break;
    default: return 0;
    }
    return 1;
}

int c331_manage::zdrApi_OsdSetUnicode(int count, int* lengths, wchar_t (*lines)[128])
{
    std::memset(unicode_text, 0, sizeof(unicode_text));
    if (count < 1 || !lengths || !lines) {
        g_unicode_line = 0;
        return 0;
    }
    // The store has room for 64 lines.
    const int n = std::min(count, kMaxLines);
    for (int k = 0; k < n; ++k) {
        const int len = std::min(lengths[k], kMaxUnits);
        for (int i = 0; i < len; ++i) {
            const unsigned c = static_cast<unsigned>(lines[k][i]) & 0xFFFF;
            unicode_text[k][2 * i] = static_cast<unsigned char>(c >> 8);
            unicode_text[k][2 * i + 1] = static_cast<unsigned char>(c);
        }
    }
    g_unicode_line = static_cast<unsigned char>(n);
    return 0;
}

void c331_manage::load_char()
{
    PS_BG_HACT = PS_PANEL_HW;
    PS_BG_VACT = PS_PANEL_VW;
    PS_BG_COLOR = osd_char_txt[2];
    PS_BG_TRANS = osd_char_txt[3];
    PS_CHAR_HST = osd_char_txt[4];
    PS_CHAR_VST = osd_char_txt[5];
    PS_CHAR_COLOR = osd_char_txt[6];
    load_font_table();
}

void c331_manage::load_bmp()
{
    PS_BMP_ADDR = osd_bmp_txt[0];
    PS_BMP_HACT = static_cast<int>(osd_bmp_txt[1]);
    PS_BMP_VACT = static_cast<int>(osd_bmp_txt[2]);
    PS_BMPCP_ADDR = osd_bmp_txt[3];
}

void c331_manage::load_unicode_char()
{
    static const char* const kSample[5] = {
        "OSD TEXT LAYER", "0123456789", "ABCDEFGHIJKLMNOPQRSTUVWXYZ", "abcdefghijklmnopqrstuvwxyz", "!\"#$%&'()*+,-./",
    };
    std::memset(unicode_text, 0, sizeof(unicode_text));
    for (int k = 0; k < 5; ++k) {
        for (int i = 0; kSample[k][i] && i < kMaxUnits; ++i)
            unicode_text[k][2 * i + 1] = static_cast<unsigned char>(kSample[k][i]);
    }
    g_unicode_line = 5;
}

// ---- drawing primitives ---------------------------------------------------

namespace {

// Runs a command on the drawing engine and waits for it, reading the busy
// bit back to back for at most kEngineBoundUs. The first wait that reaches
// its bound is logged.
bool engineRun(c331_drv* drv, int fd, int command)
{
    drv->write_C331(fd, kEngineCmd, static_cast<unsigned>(command), 0);
    const bool done = waitUntil(kEngineBoundUs, 0, [&] { return !(drv->read_C331(fd, kEngineStatus, 0) & 1); });
    drv->write_C331(fd, kEngineCmd, 0, 0);
    if (!done) {
        c331_trace_warn("OSD drawing engine busy after %u ms (command %d)\n",
                        static_cast<unsigned>(kEngineBoundUs / 1000), command);
        if (c331_manage::osd_engine_timeouts.fetch_add(1) == 0)
            writeLogMsg(ERROR, "c331 chip: OSD drawing engine stayed busy beyond its time limit");
    }
    return done;
}

bool validRect(int w, int h) { return w > 0 && h > 0 && w <= kEngineMaxSide && h <= kEngineMaxSide; }

} // namespace

bool c331_manage::osd_paint(int fd, int x, int w, int y, int h, int value, int base)
{
    if (!validRect(w, h))
        return true;   // nothing to fill
    std::lock_guard<std::mutex> hold(sfl_mutex);
    const unsigned mwi = static_cast<unsigned>(g_osd_mwi) & 0xFF;
    drv->write_C331(fd, kFillValue, static_cast<unsigned>(value), 0);
    drv->write_C331(fd, kWidth, static_cast<unsigned>(w - 1), 0);
    drv->write_C331(fd, kHeight, static_cast<unsigned>(h - 1), 0);
    drv->write_C331(fd, kDest,
                    static_cast<unsigned>(base) + static_cast<unsigned>(x) +
                        static_cast<unsigned>(osd_pitch()) * static_cast<unsigned>(y) * 128u,
                    0);
    drv->write_C331(fd, kSourcePitch, mwi, 0);
    drv->write_C331(fd, kDestPitch, mwi, 0);
    drv->write_C331(fd, kPitchScale, g_osd_mwi_shift ? 0x30 : 0, 0);
    return engineRun(drv, fd, kCmdFill);
}

bool c331_manage::osd_copy(int fd, int src, int dst, int w, int h, int packed)
{
    if (!validRect(w, h))
        return true;
    std::lock_guard<std::mutex> hold(sfl_mutex);
    unsigned srcPitch = static_cast<unsigned>(g_osd_mwi);
    unsigned scale = g_osd_mwi_shift ? 0x30 : 0;
    if (packed == 1) {
        srcPitch = w < 8320 ? static_cast<unsigned>(w) / 128 : static_cast<unsigned>(w) / 512;
        scale = (g_osd_mwi_shift ? 0x10 : 0) | (w >= 8320 ? 0x20 : 0);
    }
    drv->write_C331(fd, kSource, static_cast<unsigned>(src), 0);
    drv->write_C331(fd, kDest, static_cast<unsigned>(dst), 0);
    drv->write_C331(fd, kWidth, static_cast<unsigned>(w - 1), 0);
    drv->write_C331(fd, kHeight, static_cast<unsigned>(h - 1), 0);
    drv->write_C331(fd, kSourcePitch, srcPitch & 0xFF, 0);
    drv->write_C331(fd, kDestPitch, static_cast<unsigned>(g_osd_mwi) & 0xFF, 0);
    drv->write_C331(fd, kPitchScale, scale, 0);
    return engineRun(drv, fd, kCmdCopy);
}

bool c331_manage::osd_put_unicode_string(int fd, char const (*line)[2], int x, int y, int fg, int bg, int w, int h,
                                         int base, int dot64)
{
    if (!line)
        return true;
    const unsigned fontBase = dot64 ? g_font_addr_64ASCII : g_font_addr_32ASCII;
    const unsigned ascii = dot64 ? PS_CHAR_SIZE_64ASCII / 512 : PS_CHAR_SIZE_32ASCII / 128;
    std::lock_guard<std::mutex> hold(sfl_mutex);
    drv->write_C331(fd, kGlyphSize, dot64 ? 0x48 : 0x08, 0);
    drv->write_C331(fd, kStringPointer, 0x0A00, 0);
    drv->write_C331(fd, kStringData, static_cast<unsigned>(h) & 0xFF, 0);
    drv->write_C331(fd, kStringPointer, 0, 0);
    int n = 0;
    for (; n < kMaxEntries; ++n) {
        const unsigned hi = static_cast<unsigned char>(line[n][0]);
        const unsigned lo = static_cast<unsigned char>(line[n][1]);
        const unsigned c = hi << 8 | lo;
        if (c == 0)
            break;
        unsigned index;
        int advance;
        if (hi == 0) {
            index = (c - 0x20) & 0xFF;
            advance = w / 2 + osd_word_space;
        } else {
            index = (c - 0x4E00 + ascii) & 0xFFFF;
            advance = w + osd_word_space;
        }
        drv->write_C331(fd, kStringData, index & 0xFF, 0);
        drv->write_C331(fd, kStringData, index >> 8, 0);
        drv->write_C331(fd, kStringData, static_cast<unsigned>(fg) & 0xFF, 0);
        drv->write_C331(fd, kStringData, static_cast<unsigned>(bg) & 0xFF, 0);
        drv->write_C331(fd, kStringData, static_cast<unsigned>(advance) & 0xFF, 0);
    }
    if (n == 0)
        return true;
    drv->write_C331(fd, kFirstEntry, 0, 0);
    drv->write_C331(fd, kLastEntry, static_cast<unsigned>(n - 1), 0);
    drv->write_C331(fd, kString25, 0, 0);
    drv->write_C331(fd, kString26, 0, 0);
    drv->write_C331(fd, kSource, fontBase, 0);
    drv->write_C331(fd, kDest,
                    static_cast<unsigned>(base) + static_cast<unsigned>(x) +
                        static_cast<unsigned>(osd_pitch()) * static_cast<unsigned>(y) * 128u,
                    0);
    return engineRun(drv, fd, kCmdString);
}

void c331_manage::gen_char(int fd)
{
    const int s = PM_OSD_CHAR_64DOT ? 64 : 32;
    const int pitch = s + osd_line_space;
    const int bg = PS_BG_TRANS ? 255 : 1;
    const int lines = std::min<int>(g_unicode_line, kMaxLines);
    for (int k = 0; k < lines; ++k) {
        const int y = PS_CHAR_VST + k * pitch;
        // A line that does not lie inside the text image would be drawn
        // over whatever memory follows it: it is left out.
        if (PS_CHAR_HST < 0 || PS_CHAR_HST >= PS_BG_HACT || y < 0 || y + s > PS_BG_VACT)
            continue;
        osd_put_unicode_string(fd, reinterpret_cast<char const(*)[2]>(unicode_text[k]), PS_CHAR_HST, y, 2, bg, s, s,
                               static_cast<int>(PS_MEM_OSD), PM_OSD_CHAR_64DOT);
    }
}

void c331_manage::set_char_color(int fd)
{
    drv->write_C331(fd, kColourAccess, 1, 0);
    drv->write_C331(fd, kColourIndex, 1, 0);
    for (int colour : {PS_BG_COLOR, PS_CHAR_COLOR}) {
        drv->write_C331(fd, kColourData, static_cast<unsigned>(colour) & 0xFF, 0);
        drv->write_C331(fd, kColourData, (static_cast<unsigned>(colour) >> 8) & 0xFF, 0);
        drv->write_C331(fd, kColourData, (static_cast<unsigned>(colour) >> 16) & 0xFF, 0);
    }
    drv->write_C331(fd, kColourAccess, 0, 0);
}

// ---- redraw, windows, scrolling ---------------------------------------------

void c331_manage::update_osd(int fd)
{
    int w = 0, h = 0;
    imageSize(this, w, h);
    // Pitch: two times the width in 128-byte units, a multiple of 4.
    const int units = std::max(0, (w + 127) / 128);
    const int n = (2 * units + 3) / 4 * 4;
    if (n > 64) {
        g_osd_mwi = n / 4;
        g_osd_mwi_shift = 1;
    } else {
        g_osd_mwi = n;
        g_osd_mwi_shift = 0;
    }
    // The image must fit its memory (below the scroll image) and the
    // engine's registers, else it would be drawn over other chip memory.
    const unsigned long long bytes =
        static_cast<unsigned long long>(osd_pitch()) * 128ull * static_cast<unsigned long long>(std::max(h, 0));
    const bool fits = w > 0 && h > 0 && w <= kEngineMaxSide && h <= kEngineMaxSide && g_osd_mwi <= 0xFF &&
                      bytes <= static_cast<unsigned long long>(PS_MEM_OSD1 - PS_MEM_OSD);
    if (!fits) {
        c331_trace_warn("OSD image %d x %d does not fit its memory: not drawn\n", w, h);
        return;
    }

    if (PM_OSD_DATA_MODE) {
        osd_paint(fd, 0, PS_BG_HACT, 0, PS_BG_VACT, PS_BG_TRANS ? 255 : 1, static_cast<int>(PS_MEM_OSD));
        gen_char(fd);
        wait1_povs(fd, 0);
        set_char_color(fd);
    } else {
        osd_write_dma_sfl(fd, static_cast<int>(PS_BMP_ADDR), static_cast<int>(PS_SFL_ADDR), 0, w * h);
        osd_copy(fd, static_cast<int>(PS_SFL_ADDR), static_cast<int>(PS_MEM_OSD), w, h, 1);
        wait1_povs(fd, 0);
        drv->write_C331(fd, kColourAccess, 1, 0);
        osd_write_dma_sfl(fd, static_cast<int>(PS_BMPCP_ADDR), 0, 4, kColourTableBytes);
        drv->write_C331(fd, kColourAccess, 0, 0);
    }

    set_rtct(fd, 2);
    set_osd(fd, 0);
    set_rtct(fd, 1);
    wait1_povs(fd, 0);

    const int cw = w - PM_OSD_INPUT_OFFSET[0] - PM_OSD_INPUT_OFFSET[1];
    const int ch = h - PM_OSD_INPUT_OFFSET[2] - PM_OSD_INPUT_OFFSET[3];
    if (cw < 0 || ch < 0)
        return;
    const unsigned src = PS_MEM_OSD + static_cast<unsigned>(PM_OSD_INPUT_OFFSET[0]) +
                         static_cast<unsigned>(osd_pitch()) * static_cast<unsigned>(PM_OSD_INPUT_OFFSET[2]) * 128u;
    const unsigned line = static_cast<unsigned>(osd_pitch()) * 128u;
    const unsigned tiles[4] = {0, static_cast<unsigned>(cw), line * static_cast<unsigned>(ch),
                               line * static_cast<unsigned>(ch) + static_cast<unsigned>(cw)};
    for (unsigned t : tiles)
        osd_copy(fd, static_cast<int>(src), static_cast<int>(PS_MEM_OSD1 + t), cw, ch, 0);

    set_rtct(fd, 2);
    set_osd(fd, 1);
    set_scroll(fd);
    set_rtct(fd, 1);
}

void c331_manage::calc_osd(_ImageWindowDef2_St* out)
{
    int w = 0, h = 0;
    imageSize(this, w, h);
    const int cw = std::max(0, w - PM_OSD_INPUT_OFFSET[0] - PM_OSD_INPUT_OFFSET[1]);
    const int ch = std::max(0, h - PM_OSD_INPUT_OFFSET[2] - PM_OSD_INPUT_OFFSET[3]);
    const int ew = PM_OSD_HZOOM_EN ? cw * 2 : cw;
    const int eh = PM_OSD_VZOOM_EN ? ch * 2 : ch;
    OSD_WIN.hst = PM_OSD_OUTPUT_OFFSET[0];
    OSD_WIN.vst = PM_OSD_OUTPUT_OFFSET[2];
    OSD_WIN.hw = std::max(0, std::min(PS_PANEL_HW - PM_OSD_OUTPUT_OFFSET[0] - PM_OSD_OUTPUT_OFFSET[1], ew));
    OSD_WIN.vw = std::max(0, std::min(PS_PANEL_VW - PM_OSD_OUTPUT_OFFSET[2] - PM_OSD_OUTPUT_OFFSET[3], eh));
    if (!out)
        return;
    std::memset(out, 0, sizeof(_ImageWindowDef2_St) * kOchCount);
    // One span per channel column (or row): where the OSD starts in it and
    // how wide it is there.
    auto span = [](int index, int size, int start, int length, int& s, int& l) {
        const int cs = index * size;
        const int r = start - cs;
        const bool pastEnd = cs + size - 1 < start + length;
        if (r >= size) {
            s = 0;
            l = 0;
        } else if (r >= 0) {
            s = r;
            l = pastEnd ? size - r : length;
        } else {
            s = 0;
            l = pastEnd ? size : std::max(0, start + length - cs);
        }
    };
    for (int i = 0; i < PS_OCH_HNUM && i < kOchCount; ++i)
        span(i, PS_ACTHW, OSD_WIN.hst, OSD_WIN.hw, out[i].hst, out[i].hw);
    for (int j = 0; j < PS_OCH_VNUM && j < kOchCount; ++j)
        span(j, PS_ACTVW, OSD_WIN.vst, OSD_WIN.vw, out[j].vst, out[j].vw);
}

void c331_manage::set_osd(int fd, int on)
{
    const unsigned base = on == 1 ? PS_MEM_OSD1 : PS_MEM_OSD;
    unsigned ctrl = g_osd_mwi_shift ? 0x6000 : 0x4000;
    if (PM_OSD_VZOOM_EN)
        ctrl |= 0x800;
    if (PM_OSD_HZOOM_EN)
        ctrl |= 0x1000;
    if (PM_OSD_EN)
        ctrl |= PM_OSD_DATA_MODE ? 3 : 2;
    if (osd_bottom)
        ctrl |= 0x8000;
    _ImageWindowDef2_St win[kOchCount];
    calc_osd(win);
    const int xoff = on == 1 ? 0 : PM_OSD_INPUT_OFFSET[0];
    const int yoff = on == 1 ? 0 : PM_OSD_INPUT_OFFSET[2];
    const unsigned line = static_cast<unsigned>(osd_pitch()) * 128u;
    int rowsAbove = 0;
    for (int j = 0; j < PS_OCH_VNUM && j < kOchCount; ++j) {
        int colsLeft = 0;
        for (int i = 0; i < PS_OCH_HNUM && i < kOchCount; ++i) {
            const int c = i + PS_OCH_HNUM * j;
            if (c >= kOchCount)
                break;
            const unsigned off = chOffset(c);
            drv->write_C331(fd, kOsdHst, static_cast<unsigned>(PS_ACTHST + win[i].hst - 4), off);
            drv->write_C331(fd, kOsdHw, static_cast<unsigned>(win[i].hw), off);
            drv->write_C331(fd, kOsdVst, static_cast<unsigned>(PS_ACTVST + win[j].vst + 1), off);
            drv->write_C331(fd, kOsdVw, static_cast<unsigned>(win[j].vw), off);
            drv->write_C331(fd, kOsdSource,
                            base + static_cast<unsigned>(xoff) + line * static_cast<unsigned>(yoff + rowsAbove) +
                                static_cast<unsigned>(colsLeft),
                            off);
            drv->write_C331(fd, kOsdPitch, static_cast<unsigned>(g_osd_mwi), off);
            drv->write_C331(fd, kOsdCtrl, ctrl, off);
            colsLeft += PM_OSD_HZOOM_EN ? win[i].hw / 2 : win[i].hw;
        }
        rowsAbove += PM_OSD_VZOOM_EN ? win[j].vw / 2 : win[j].vw;
    }
}

void c331_manage::set_scroll(int fd)
{
    int w, h;
    if (PM_OSD_DATA_MODE) {
        w = OSD_WIN.hw;
        h = OSD_WIN.vw;
    } else {
        w = PS_BMP_HACT - PM_OSD_INPUT_OFFSET[0] - PM_OSD_INPUT_OFFSET[1];
        h = PS_BMP_VACT - PM_OSD_INPUT_OFFSET[2] - PM_OSD_INPUT_OFFSET[3];
    }
    w = std::max(w, 0);
    h = std::max(h, 0);
    const int mode = ((PM_OSD_SCROLL_MODE % 9) + 9) % 9;
    const unsigned ctrl = mode == 0 ? 0x80u : (static_cast<unsigned>(mode - 1) << 4) | 0x81u;
    // All channels stop before any of them starts again.
    for (unsigned value : {0u, ctrl}) {
        for (int c = 0; c < kOchCount; ++c) {
            const unsigned off = chOffset(c);
            drv->write_C331(fd, kScrollSpeed, static_cast<unsigned>(PM_OSD_SCROLL_SPEED) & 0xFF, off);
            drv->write_C331(fd, kScrollWidth, static_cast<unsigned>(w), off);
            drv->write_C331(fd, kScrollHeight, static_cast<unsigned>(h), off);
            drv->write_C331(fd, kScrollCtrl, value, off);
        }
    }
}
