#include "videochip/c331_manage.h"

#include "core/global.h"
#include "core/le_bytes.h"
#include "core/logMsg.h"
#include "core/para_layout.h"
#include "core/utils.h"
#include "core/wait_bound.h"
#include "core/zdrrampara.h"
#include "videochip/c331_drv.h"
#include "videochip/c331_trace.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <unistd.h>

Published<c331_manage> c331_manage::p_c331_manage;
pthread_mutex_t c331_manage::c331_mutex = PTHREAD_MUTEX_INITIALIZER;
std::atomic<unsigned char> c331_manage::para_change_flag{0};
// Byte 8: trace of zdrApi_OsdSet (on); byte 6: serial-flash trace (off).
unsigned char c331_manage::prnEn[16] = {0, 0, 0, 0, 0, 0, 0, 0, 0x80, 0, 0, 0, 0, 0, 0, 0};
std::atomic<unsigned char> c331_manage::font_status{0};

std::atomic<unsigned int> g_fpga_c331_start{0};
std::atomic<unsigned char> g_force_bkcolor{1};
std::atomic<unsigned int> g_osd_update{0};

using namespace c331;

const unsigned int parameters_txt[160] = {
    // PM_WIN_SHAPE, two per window
    2, 1, 2, 1, 1, 1, 1, 1, 1, 1, 1, 1,
    // PM_INPUT
    4, 5, 1, 2, 3, 0,
    // PM_WIN_OFFSET, four per window
    100, 100, 100, 100, 0, 0, 0, 0, 0, 0, 540, 0, 0, 0, 1080, 0, 0, 0, 1080, 0, 0, 0, 540, 0,
    // PM_INPUT_OFFSET, four per window
    100, 100, 200, 200, 0, 0, 0, 0, 400, 0, 200, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
    // PM_INPUT_OFFSET_EN
    1, 0, 0, 0, 0, 0,
    // PM_WIN_NUM and PM_AREA_NUM of the eight output channels
    0, 0, 1, 1, 2, 3, 4, 5, 0, 1, 0, 1, 0, 0, 0, 0,
    // PM_OVERLAY of the eight output channels
    0, 0, 0, 0, 1, 2, 3, 4,
    // window order words (PM_OVERLAY_PRI)
    1, 0, 2, 3, 4, 5,
    // the two mirror words per window
    0, 0, 0, 1, 1, 1, 0, 0, 1, 0, 1, 0,
    // PM_WIN_FADE_EN, PM_WIN_FADE_IN, PM_WIN_FADE_OUT
    0, 1, 1, 1, 0, 1, 60, 60, 60, 60, 60, 60, 60, 60, 60, 60, 60, 60,
    // PM_WIN_DBD_MODE
    0, 0, 1, 0, 1, 1,
    // a per-window word set
    0, 0, 0, 0, 0, 0,
    // PM_OSD_EN, PM_OSD_HZOOM_EN, PM_OSD_VZOOM_EN, PM_OSD_DATA_MODE, PM_OSD_SCROLL_MODE
    0, 0, 0, 1, 2,
    // PM_OSD_OUTPUT_OFFSET, PM_OSD_INPUT_OFFSET
    0, 0, 0, 0, 0, 0, 0, 0,
    // two OSD control words, PM_OSD_UPDATE_BUTTON
    1, 0, 0,
};

// ---- trace ----------------------------------------------------------------

namespace {

void vtrace(const char* pre, const char* fmt, va_list ap)
{
    if (!traceOn())
        return;
    std::fputs(pre, stdout);
    std::vprintf(fmt, ap);
    std::fputs("\033[0m", stdout);
}

} // namespace

void c331_trace(const char* fmt, ...)
{
    va_list ap;
    va_start(ap, fmt);
    vtrace("\033[1;34m", fmt, ap);
    va_end(ap);
}

void c331_trace_warn(const char* fmt, ...)
{
    va_list ap;
    va_start(ap, fmt);
    vtrace("\033[5m", fmt, ap);
    va_end(ap);
}

// ---- object and thread --------------------------------------------------

namespace {

const int kPresetCounts[10] = {1, 2, 3, 3, 4, 4, 5, 5, 6, 6};

void fillMinusOne(int* p, size_t n)
{
    for (size_t i = 0; i < n; ++i)
        p[i] = -1;
}

} // namespace

c331_manage::c331_manage()
{
    writeLogMsg(INFO, "====c331_manage::c331_manage()=====");
    drv = new c331_drv();
    for (int i = 0; i < 10; ++i) {
        mwin_preset[i].wincnt = kPresetCounts[i];
        mwin_preset[i].pwin = mwin_preset_rect[i];
    }
    gMwin.wincnt = 0;
    gMwin.pwin = mwin_list;
    for (auto& w : gWininfo) {
        w.srcLayer = -1;
        std::memset(w.ochLst, 0xFF, sizeof(w.ochLst));
        std::memset(w.ochPosLst, 0xFF, sizeof(w.ochPosLst));
    }
    for (int c = 0; c < kOchCount; ++c) {
        PM_WIN_NUM[c] = kNoWindow;
        PM_AREA_NUM[c] = kNoArea;
    }
    for (int w = 0; w < kWinCount; ++w)
        PM_INPUT[w] = kNoWindow;
    fillMinusOne(&g_ich_win[0], kIchCount);
    fillMinusOne(&g_win_ich[0][0], kWinCount * kIchCount);
    fillMinusOne(&dbd_mem_blk[0], kDbdBlocks);
    fillMinusOne(&dbd_win_blk[0][0], kWinCount * 4);
    fillMinusOne(&win_och_tbl[0][0], kWinCount * kOchCount);
    fillMinusOne(&applied_win_ich[0][0], kWinCount * kIchCount);
    fillMinusOne(&applied_win_num[0], kOchCount);
}

c331_manage::~c331_manage()
{
    // The program's object lives until the process ends; only objects of
    // tests (which run no thread) are destroyed.
    delete drv;
}

c331_manage* c331_manage::pInstance()
{
    // Only the first call makes the object and starts its thread; a second
    // call must not start a second chip thread.
    if (p_c331_manage)
        return p_c331_manage;
    c331_manage* m = new c331_manage();
    para_change_flag = 0;
    m->initialize();
    // The link threads already run: they see the manager once it is ready.
    p_c331_manage = m;
    return m;
}

int c331_manage::initialize()
{
    c331_fd = drv->initialize();
    const unsigned id = drv->read_C331(c331_fd, kIdentity, 0);
    c331_trace("\n c331_id = %02x \n", id);
    if (pthread_create(&thread, nullptr, &c331_manage::c331manageThread, this) != 0) {
        c331_trace("create manage thread failed");
        writeLogMsg(ERROR, "create check source thread failed");
        return 255;
    }
    thread_started = true;
    return 0;
}

void* c331_manage::c331manageThread(void* arg)
{
    Utils::name_thread("c331");
    if (!arg)
        return nullptr;
    c331_manage* self = static_cast<c331_manage*>(arg);
    for (;;) {
        self->manage_step();
        usleep(1);
    }
    return nullptr;
}

void c331_manage::manage_step()
{
    const unsigned char state = c331_init_state.load();
    if (state < 5) {
        const unsigned id = drv->read_C331(c331_fd, kIdentity, 0);
        if (id == kIdentityValue) {
            ++identity_good;
            c331_init_state = static_cast<unsigned char>(state + 1);
            c331_trace("\n ok c331_id = 0x24x ");
            return;
        }
        ++identity_bad;
        ++identity_bad_run;
        // A dead chip answers the same wrong value at every read: trace each
        // new value, not every read.
        if (identity_bad_run == 1 || id != identity_last_bad)
            c331_trace("\n error c331_id = %02x \n", id);
        identity_last_bad = id;
        // The wait has no end (the chip may still come up), but a chip that
        // does not answer keeps the FPGA side stopped: say so once.
        if (!identity_logged && identity_bad_run >= identity_log_after) {
            identity_logged = true;
            char text[160];
            std::snprintf(text, sizeof(text),
                          "c331 chip does not answer its identity (0xB20801 reads 0x%02X, expected 0x24); "
                          "the FPGA start-up stays held",
                          id & 0xFF);
            writeLogMsg(ERROR, text);
        }
        return;
    }
    if (state == 5) {
        bring_up();
        return;
    }
    c331managerdeal(this);
}

void c331_manage::start_applied_copy()
{
    ZdrRamPara* store = ZdrRamPara::p_zdrrampara_config;
    C331ParaLock lock;
    if (store)
        store->shadow_bytes(0, applied_para, sizeof(applied_para));
    panel_deferred = false;
    applied_started = true;
}

bool c331_manage::write_back_word(SystemWord word, uint16_t value, bool over_change)
{
    ZdrRamPara* store = ZdrRamPara::p_zdrrampara_config;
    const int offset = static_cast<int>(word);
    if (!store)
        return false;
    c331_manage* m = p_c331_manage;
    if (m && !over_change && le16(store->ram_para, offset) != le16(m->applied_para, offset))
        return false;
    SystemWriteLock().write_word(word, value);   // the system's own state, written back
    if (m)
        setLe16(m->applied_para, offset, value);
    return true;
}

void c331_manage::bring_up()
{
    // The values bring-up programs, read in one piece (a writer may store
    // while the chip comes up; what it changes is applied by the first
    // change pass, which compares with the shadow copy taken here).
    unsigned char block[para::kBlockSize] = {};
    {
        C331ParaLock lock;
        if (ZdrRamPara* store = ZdrRamPara::p_zdrrampara_config)
            store->snapshot_block(block);
    }
    // A bring-up again (the PC's debug request) keeps the applied copy: the
    // shadow may not yet hold the system's latest write-backs, which would
    // then read as changes; what differs is applied by the next pass.
    if (!applied_started)
        start_applied_copy();

    load_system_param();
    define_param();
    drv->init_reg_acc_param();
    write_initial_setting(c331_fd, 1);
    set_rtct(c331_fd, 1);
    load_param();
    if (le16(block, para::kOsdOn) == 1)
        g_osd_update = 1;
    check_input_port(c331_fd);
    load_char();
    read_c331_font(c331_fd);
    update_font(c331_fd);
    if (g_force_bkcolor == 1) {
        for (int k = 0; k < kOchCount; ++k) {
            drv->write_C331(c331_fd, kOutBkgColor, 0xFF00, chOffset(k));
            drv->write_C331(c331_fd, kOutBkgEnable, 1, chOffset(k));
        }
    }
    zdrApi_PnlInit2(le16(block, para::kLedWidth), le16(block, para::kLedHeight), le16(block, para::kOut1 + 4),
                    le16(block, para::kOut1 + 6), le16(block, para::kSpliceMode));
    c331_SetBrightness(50);
    c331_SetContrast(le16(block, para::kContrast));
    c331_SetSharpness(le16(block, para::kSharpness));
    c331_SetColorTemp(static_cast<int>((block[para::kColorTempType]) | (block[para::kBlueGain] << 8) |
                                       (block[para::kGreenGain] << 16) |
                                       (static_cast<unsigned>(block[para::kRedGain]) << 24)));
    c331_SetSaturation(le16(block, para::kSaturation));
    set_output(c331_fd);

    identity_bad_run = 0;
    identity_logged = false;
    c331_init_state = 6;
    g_fpga_c331_start = 1;
    writeLogMsg(INFO, "c331 chip up");
}

void c331_manage::Sleep(int ms)
{
    boardSleepUs(1000u * static_cast<unsigned>(ms > 0 ? ms : 0));
}

// ---- fixed parameters ------------------------------------------------------

void c331_manage::load_system_param()
{
    PS_REFCLK = 32000000;
    PS_MEMCLK = 800000000;
    PS_PIXCLK[0] = 27000000;
    PS_PIXCLK[1] = 27000000;
    PS_ACTHW = 1920;
    PS_ACTVW = 2160;
    PS_HTOTAL = 2200;
    PS_VTOTAL = 2250;
    PS_HSW = 88;
    PS_HBP = 88;
    PS_VSW = 10;
    PS_VBP = 72;
    PS_VBOTX_MODE = 0;
    PS_VBOTX_LAYOUT = 0;
    PS_PLL_DIV = 1;
    PS_PLL_MUL = 22;
    static const unsigned kFieldBases[4] = {0x8800000, 0x11000000, 0x19800000, 0x22000000};
    for (int c = 0; c < kIchCount; ++c) {
        const unsigned off = static_cast<unsigned>(c) * 0x2000;
        PS_MEM_SC[c][0] = off;
        for (int k = 0; k < 4; ++k)
            PS_MEM_SC[c][k + 1] = kFieldBases[k] + off;
    }
    PS_MEM_MWI = 64;
    for (int k = 0; k < 5; ++k)
        PS_MEM_DBD[k] = 0x2A800000u + static_cast<unsigned>(k) * 0xB280000u;
    // One block holds 2560 pixels of four bytes across a field line.
    PS_DBD_BLK_SIZE = 0x2800;
    // De-interlacer and motion buffers from 0x65000000 up, below the OSD.
    for (int c = 0; c < 4; ++c) {
        const unsigned base = 0x65000000u + static_cast<unsigned>(c) * 0x2000000u;
        PS_MEM_IP_I[c][0] = base;
        PS_MEM_IP_I[c][1] = base + 0x800000u;
        PS_MEM_IP_P[c][0] = base + 0x1000000u;
        PS_MEM_IP_P[c][1] = base + 0x1800000u;
    }
    PS_MEM_MV = 0x6D000000u;
    PS_MEM_IPYOFF = 0;
    PS_MWI_IP = 16;
    for (int w = 0; w < kWinCount; ++w)
        PS_MEM_WMODE[w] = 0;
    PS_SFL_ADDR = 0x70000000u;
    PS_MEM_OSD = 0x725C0000u;
    PS_MEM_OSD1 = 0x74B80000u;
    PS_FONT_ADDR = 0x7F000000u;
}

void c331_manage::define_param()
{
    PS_MEMCLK4 = PS_MEMCLK / 4;
    PS_OAOIHST = PS_ACTHST = PS_HSW + PS_HBP;
    PS_OAOIHED = PS_OAOIHST + PS_ACTHW;
    PS_OAOIVST = PS_ACTVST = PS_VSW + PS_VBP;
    PS_OAOIVED = PS_OAOIVST + PS_ACTVW;

    const bool layout0 = PS_VBOTX_LAYOUT == 0;
    switch (PS_VBOTX_MODE) {
    case 0:
        PS_OCH_HNUM = layout0 ? 4 : 2;
        PS_OCH_VNUM = layout0 ? 1 : 2;
        break;
    case 2:
        PS_OCH_HNUM = layout0 ? 2 : 1;
        PS_OCH_VNUM = layout0 ? 1 : 2;
        break;
    default:
        PS_OCH_HNUM = layout0 ? 8 : 4;
        PS_OCH_VNUM = layout0 ? 1 : 2;
        break;
    }
    PS_PANEL_HW = PS_OCH_HNUM * PS_ACTHW;
    PS_PANEL_VW = PS_OCH_VNUM * PS_ACTVW;

    // Nothing is assigned yet.
    for (int w = 0; w < kWinCount; ++w) {
        PM_INPUT[w] = kNoWindow;
        PM_WIN_STITCHING[w] = w;
        PM_MEM_WMODE[w] = PS_MEM_WMODE[w];
    }
    for (int c = 0; c < kOchCount; ++c) {
        PM_WIN_NUM[c] = kNoWindow;
        PM_AREA_NUM[c] = kNoArea;
    }
    fillMinusOne(&g_ich_win[0], kIchCount);
    fillMinusOne(&g_win_ich[0][0], kWinCount * kIchCount);
    fillMinusOne(&dbd_mem_blk[0], kDbdBlocks);
    fillMinusOne(&dbd_win_blk[0][0], kWinCount * 4);

    PM_OSD_SCROLL_SPEED = 32;
    PM_OSD_CHAR_64DOT = 1;
    std::memset(unicode_text, 0, sizeof(unicode_text));
    g_unicode_line = 0;
}

void c331_manage::load_param()
{
    const unsigned int* t = parameters_txt;
    // Stores v into *dst; a changed value marks its window.
    auto put = [this](int& dst, unsigned v, int win) {
        const int value = static_cast<int>(v);
        if (dst != value && win >= 0)
            g_chg_win[win] = 1;
        const bool changed = dst != value;
        dst = value;
        return changed;
    };
    for (int w = 0; w < kWinCount; ++w) {
        put(PM_WIN_SHAPE[w][0], t[2 * w], w);
        put(PM_WIN_SHAPE[w][1], t[2 * w + 1], w);
        put(PM_INPUT[w], t[12 + w], w);
        for (int k = 0; k < 4; ++k) {
            put(PM_WIN_OFFSET[w][k], t[18 + 4 * w + k], w);
            put(PM_INPUT_OFFSET[w][k], t[42 + 4 * w + k], w);
        }
        put(PM_INPUT_OFFSET_EN[w], t[66 + w], w);
        if (put(PM_OVERLAY_PRI[w], t[96 + w], w))
            g_chg_pri = 1;
        put(PM_WIN_HMIRROR[w], t[102 + w], w);
        put(PM_WIN_VMIRROR[w], t[108 + w], w);
        put(PM_WIN_FADE_EN[w], t[114 + w], w);
        put(PM_WIN_FADE_IN[w], t[120 + w], w);
        put(PM_WIN_FADE_OUT[w], t[126 + w], w);
        put(PM_WIN_DBD_MODE[w], t[132 + w], w);
        put(PM_WIN_AUX[w], t[138 + w], w);
        PM_WIN_STITCHING[w] = w;
    }
    for (int c = 0; c < kOchCount; ++c) {
        put(PM_WIN_NUM[c], t[72 + c], -1);
        put(PM_AREA_NUM[c], t[80 + c], -1);
        if (put(PM_OVERLAY[c], t[88 + c], -1))
            g_chg_overlay = 1;
    }
    // Every one is stored, whichever changed.
    bool osdChanged = put(PM_OSD_EN, t[144], -1);
    osdChanged = put(PM_OSD_HZOOM_EN, t[145], -1) || osdChanged;
    osdChanged = put(PM_OSD_VZOOM_EN, t[146], -1) || osdChanged;
    osdChanged = put(PM_OSD_SCROLL_MODE, t[148], -1) || osdChanged;
    if (osdChanged)
        osd_set_dirty = 1;
    bool update = put(PM_OSD_DATA_MODE, t[147], -1);
    for (int k = 0; k < 4; ++k) {
        put(PM_OSD_OUTPUT_OFFSET[k], t[149 + k], -1);
        update = put(PM_OSD_INPUT_OFFSET[k], t[153 + k], -1) || update;
    }
    put(PM_OSD_CTRL[0], t[157], -1);
    put(PM_OSD_CTRL[1], t[158], -1);
    update = put(PM_OSD_UPDATE_BUTTON, t[159], -1) || update;
    if (update)
        osd_update_dirty = 1;

    if (traceOn()) {
        for (int w = 0; w < kWinCount; ++w)
            std::printf("load_param  WIN[%d]  win=%d  dbd=%d  input=%d  pri=%d\n", w, w, PM_WIN_DBD_MODE[w],
                        PM_INPUT[w], PM_OVERLAY_PRI[w]);
    }
}

int c331_manage::pll_code(int mul, int refclk, int div, int vbotxMode)
{
    const long long step = vbotxMode == 1 ? 2000000 : 4000000;
    const long long den = static_cast<long long>(div) * step;
    const long long ratio = den ? static_cast<long long>(mul) * refclk / den : 0;
    if (ratio > 40)
        return 76;
    if (ratio > 20)
        return 72;
    return 68;
}

void c331_manage::write_initial_setting(int fd, int cold)
{
    auto w = [this, fd](unsigned desc, unsigned value, unsigned off = 0) { drv->write_C331(fd, desc, value, off); };
    int pll = 0;

    // 1. System control, then the PLL choice.
    if (cold) {
        w(0xFF0001, 8);
        w(0xFF0101, 0);
        w(0xFF0201, 200);
        w(0xFF0301, 0);
        w(0xFF0401, 97);
        w(0xFF0503, 1);
        Sleep(20);
        pll = pll_code(PS_PLL_MUL, PS_PIXCLK[0], PS_PLL_DIV, PS_VBOTX_MODE);
    }

    // 2. Global bank: channel memory control, input channel sources, input
    // data modes, the update timing and the write modes of the channels.
    for (unsigned a = 0x08; a <= 0x0F; ++a)
        w(0x000001 | (a << 8), 0x11);
    static const unsigned kIchSel[8] = {0, 2, 4, 6, 8, 9, 12, 13};
    for (unsigned n = 0; n < 8; ++n)
        w(0x001001 + 0x100 * n, kIchSel[n]);
    w(0x001802, 0);
    w(0x001E02, 0x404);
    w(0x002002, 0x404);
    for (unsigned a = 0x22; a <= 0x28; ++a)
        w(0x000001 | (a << 8), 0x99);
    w(0x002901, 0);
    w(0x003902, 0x0202);
    for (unsigned a = 0x59; a <= 0x60; ++a)
        w(0x000001 | (a << 8), 0);
    for (unsigned n = 0; n < 8; ++n)
        w(0x007101 + 0x100 * n, 0x80);
    w(0x007A01, 0);

    // 3. V-by-One.
    w(0x057E01, 0);
    if (PS_VBOTX_MODE != 1 && PS_VBOTX_MODE != 2) {
        w(0x032C02, 5);
        w(0x032F02, 1920);
        w(0x033602, 5);
        w(0x033902, 1920);
        w(0x034602, 1);
        w(0x034E02, 1);
        w(0x035504, 0x73625140);
        w(0x035E04, 0x73625140);
        w(0x036204, 0x73625140);
    } else {
        w(0x032C02, 0);
        w(0x032F02, 0);
        w(0x033602, 0);
        w(0x033902, 0);
        w(0x036204, 0x76543210);
        w(0x035E04, 0x76543210);
        w(0x035504, PS_VBOTX_MODE == 1 ? 0x76543210u : 0x10000u);
    }

    // 4. Serial-flash window and sync polarities.
    w(0x042B02, ((PS_SFL_ADDR >> 16) & 0xFFFF) | 0x8000);
    w(0x063804, 0x07070707);
    w(0x063C04, 0x33333333);

    // 5. Per-channel sets: output control, blending, input sync sources.
    static const unsigned kIsyct[8] = {1, 1, 1, 1, 1, 12, 1, 14};
    for (int c = 0; c < kOchCount; ++c) {
        w(0x080801, 1, chOffset(c));
        w(0x0E0801, 0, chOffset(c));
        w(0x0E0901, 0, chOffset(c));
        w(0x0E0D01, 0, chOffset(c));
        w(0x100901, kIsyct[c], chOffset(c));
    }

    // 6. Output timing of every channel from the system parameters.
    for (int c = 0; c < kOchCount; ++c) {
        const unsigned off = chOffset(c);
        w(0x080A02, static_cast<unsigned>(PS_HTOTAL - 2), off);
        w(0x080C02, static_cast<unsigned>(PS_VTOTAL - 2), off);
        w(0x082802, static_cast<unsigned>(PS_OAOIHST), off);
        w(0x082A02, static_cast<unsigned>(PS_OAOIHED), off);
        w(0x082C02, static_cast<unsigned>(PS_OAOIVST), off);
        w(0x082E02, static_cast<unsigned>(PS_OAOIVED), off);
        w(0x084002, static_cast<unsigned>(PS_ACTHST), off);
        w(0x084202, static_cast<unsigned>(PS_ACTHW), off);
        w(0x084402, static_cast<unsigned>(PS_ACTVST), off);
        w(0x084602, static_cast<unsigned>(PS_ACTVW + 1), off);
    }

    // 7. Memory controller and the two output PLLs.
    if (cold) {
        w(0xFF0201, 0);
        w(0xFF0201, 0);
        w(0x010801, 1);
        Sleep(1);
        w(0x010901, 1);
        Sleep(1);
        w(0x010A01, 1);
        Sleep(1);
        w(0xFF0201, 136);
        Sleep(1);
        w(0xFF0201, 200);
        Sleep(1);
        w(0xFF0401, 97);
        Sleep(20);

        const unsigned sel = PS_VBOTX_MODE == 1 ? 5 : 9;
        w(0x027F01, 14);
        w(0x027F01, 15);
        w(0x024001, 5);
        w(0x024F01, 128);
        w(0x024C01, 163);
        w(0x027F01, 13);
        w(0x027F01, 15);
        w(0x025C01, 5);
        w(0x026B01, 128);
        w(0x026801, 163);
        w(0x027F01, 11);
        w(0x027F01, 15);
        w(0x021C01, 0);
        w(0x020A02, 17);
        w(0x021001, 255);
        w(0x021301, 17);
        w(0x021801, static_cast<unsigned>(pll));
        w(0x021C01, 1);
        w(0x020801, sel);
        w(0x020A02, 0x8011);
        w(0x027F01, 7);
        w(0x027F01, 15);
        w(0x023401, 0);
        w(0x027A02, 17);
        w(0x022801, 255);
        w(0x022B01, 17);
        w(0x027801, static_cast<unsigned>(pll));
        w(0x023401, 1);
        w(0x027801, sel);
        w(0x027A02, 0x8011);
    }
}
