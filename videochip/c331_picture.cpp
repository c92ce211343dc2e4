// Picture controls (brightness, contrast, saturation, colour temperature),
// the built-in test pattern and the per-window controls.
#include "videochip/c331_manage.h"

#include "core/le_bytes.h"
#include "core/para_layout.h"
#include "core/zdrrampara.h"
#include "videochip/c331_drv.h"
#include "videochip/c331_trace.h"

#include <utility>
#include <vector>

using namespace c331;

namespace {

// Values of the picture controls are taken modulo 101 (0..100).
int percent(int v)
{
    return ((v % 101) + 101) % 101;
}

// A layer record word of the block (0 without a store).
uint16_t layerWord(int layer, int field)
{
    ZdrRamPara* store = ZdrRamPara::p_zdrrampara_config;
    if (!store || layer < 0 || layer >= para::kLayerCount)
        return 0;
    C331ParaAccess access;
    return le16(store->ram_para, para::layer(layer) + field);
}

const char* dbdName(int code)
{
    switch (code) {
    case DBD_SINGLE_INPUT: return "DBD_SINGLE_INPUT";
    case DBD_CMOS_IN12: return "DBD_CMOS_IN12";
    case DBD_CMOS_IN12V: return "DBD_CMOS_IN12V";
    case DBD_CMOS_IN34: return "DBD_CMOS_IN34";
    case DBD_CMOS_IN34V: return "DBD_CMOS_IN34V";
    case DBD_CMOS_IN123: return "DBD_CMOS_IN123";
    case DBD_CMOS_IN1234: return "DBD_CMOS_IN1234";
    case DBD_CMOS_IN1234Q: return "DBD_CMOS_IN1234Q";
    case DBD_VBO_IN12: return "DBD_VBO_IN12";
    case DBD_VBO_IN12V: return "DBD_VBO_IN12V";
    default: return "DBD_DISABLE";
    }
}

// Pattern generator registers of an output channel (bank 0x08 + 16 x channel).
const C331RegDesc kPatternRegs[] = {0x085701, 0x085801, 0x085901, 0x085A01, 0x085B02, 0x085D02, 0x085F02,
                                    0x086102, 0x086301, 0x086401, 0x086501, 0x086601, 0x086701, 0x086801};

} // namespace

int c331_manage::och_in_use() const
{
    const int n = PS_OCH_HNUM * PS_OCH_VNUM;
    return n < 0 ? 0 : (n > kOchCount ? kOchCount : n);
}

int c331_manage::dbd_code(int p2p)
{
    static const int codes[10] = {DBD_SINGLE_INPUT, DBD_CMOS_IN12,   DBD_CMOS_IN12V,   DBD_CMOS_IN34,
                                  DBD_CMOS_IN34V,   DBD_CMOS_IN123,  DBD_CMOS_IN1234,  DBD_CMOS_IN1234Q,
                                  DBD_VBO_IN12,     DBD_VBO_IN12V};
    if (p2p < 0 || p2p > 9) {
        c331_trace_warn("\t !!!!!!!!DBD_MODE OOR!!!!!!!, set it to DBD_SINGLE_INPUT");
        return DBD_SINGLE_INPUT;
    }
    return codes[p2p];
}

void c331_manage::c331_SetBrightness(unsigned short v)
{
    const int p = percent(v);
    int value = (p - 50) * 1024 / 50;
    if (value < 0)
        value &= 0xFFF;
    c331_trace("\r\n[c331_SetBrightness] %d\n", p);
    c331_trace("\t data:%04x\r\n", value);
    set_rtct(c331_fd, 2);
    for (int c = 0; c < kOchCount; ++c) {
        for (C331RegDesc r : {0x0C3A02u, 0x0C3C02u, 0x0C3E02u})
            drv->write_C331(c331_fd, r, static_cast<unsigned>(value), chOffset(c));
    }
    set_rtct(c331_fd, 1);
}

void c331_manage::c331_SetContrast(int v)
{
    const int p = percent(v);
    const unsigned value = static_cast<unsigned>(p * 1023 / 100);
    c331_trace("\r\n[c331_SetContrast] val:%d, data:%d\r\n", p, value);
    set_rtct(c331_fd, 2);
    for (int c = 0; c < kOchCount; ++c) {
        drv->write_c331_mask(c331_fd, 0x0C2101, 1, 1, chOffset(c));
        for (C331RegDesc r : {0x0C2802u, 0x0C2A02u, 0x0C2C02u})
            drv->write_C331(c331_fd, r, value, chOffset(c));
    }
    set_rtct(c331_fd, 1);
}

void c331_manage::c331_SetSaturation(int v)
{
    const int p = percent(v);
    const unsigned value = static_cast<unsigned>(p * 1023 / 100) & 0x7FF;
    c331_trace("[c331_SetSaturation] %d:%04x\r\n", p, value);
    set_rtct(c331_fd, 2);
    for (int c = 0; c < kOchCount; ++c) {
        drv->write_c331_mask(c331_fd, 0x0C1401, 1, 1, chOffset(c));
        for (C331RegDesc r : {0x0C1B02u, 0x0C1D02u, 0x0C1F02u})
            drv->write_C331(c331_fd, r, value, chOffset(c));
    }
    set_rtct(c331_fd, 1);
}

void c331_manage::c331_SetColorTemp(int packed)
{
    const unsigned word = static_cast<unsigned>(packed);
    c331_trace("[c331_SetColorTemp] %8x\r\n", word);
    unsigned r, g, b;
    switch (word & 3) {
    case 1: r = 8845; g = 8113; b = 7056; break;       // warm
    case 2: r = 8192; g = 8192; b = 8192; break;       // natural
    case 3: r = 6944; g = 8282; b = 10978; break;      // cool
    default:                                           // custom: 128 is 1.0
        r = (((word >> 24) & 0xFF) * 8192 + 64) / 128;
        g = (((word >> 16) & 0xFF) * 8192 + 64) / 128;
        b = (((word >> 8) & 0xFF) * 8192 + 64) / 128;
        break;
    }
    set_rtct(c331_fd, 2);
    for (C331RegDesc reg = 0x005901; reg <= 0x006001; reg += 0x100)
        drv->write_c331_mask(c331_fd, reg, 0x20, 0x20, 0);
    for (int c = 0; c < kOchCount; ++c) {
        const unsigned off = chOffset(c);
        const std::pair<C331RegDesc, unsigned> matrix[] = {
            {0x0C5B02, r}, {0x0C5D02, 0}, {0x0C5F02, 0}, {0x0C6102, 0}, {0x0C6302, g},
            {0x0C6502, 0}, {0x0C6702, 0}, {0x0C6902, 0}, {0x0C6B02, b},
        };
        for (const auto& e : matrix)
            drv->write_C331(c331_fd, e.first, e.second, off);
    }
    set_rtct(c331_fd, 1);
}

int c331_manage::c331_SetPattern(int pattern)
{
    const int chcnt = och_in_use();
    c331_trace("\r\n[c331_SetPattern] pattern:%d,chcnt=%d\r\n", pattern, chcnt);
    if (gMwin.wincnt > 1) {
        c331_trace_warn("\t wincnt:%d OOR, return fail\r\n", gMwin.wincnt);
        return -1;
    }
    const int fd = c331_fd;
    set_rtct(fd, 2);
    for (int c = 0; c < chcnt; ++c) {
        for (C331RegDesc reg : kPatternRegs)
            drv->write_C331(fd, reg, 0, chOffset(c));
    }
    if (pattern == 0) {
        pattern_on = 0;
        c331_trace("    turn off pattern\r");
        set_input_bkg2(fd, 0, 0);
        set_rtct(fd, 1);
        return 0;
    }
    const int idx = (((pattern - 1) % 20) + 20) % 20;
    pattern_on = 1;
    set_input_bkg2(fd, 0, 0);
    if (idx == 8 || idx == 9) {
        // These two leave the generator cleared.
        set_rtct(fd, 1);
        return 0;
    }
    for (int c = 0; c < chcnt; ++c) {
        std::vector<std::pair<C331RegDesc, unsigned>> regs;
        unsigned mode = 0;
        unsigned b02 = 0x8000;
        unsigned levels[3] = {3, 3, 3};
        auto set = [&regs](C331RegDesc r, unsigned v) { regs.emplace_back(r, v); };
        switch (idx) {
        case 0: case 1: case 2: case 3: case 4: {
            static const unsigned colours[5][3] = {
                {255, 0, 0}, {0, 255, 0}, {0, 0, 255}, {255, 255, 255}, {0, 0, 0}};
            mode = 4;
            if (gWininfo[0].w > 2048)
                b02 = 0x8000;
            else
                b02 = c == 0 ? 0 : 3;
            set(0x086301, colours[idx][0]);
            set(0x086401, colours[idx][1]);
            set(0x086501, colours[idx][2]);
            break;
        }
        case 5:
        case 13:
            mode = 1;
            set(0x085F02, 480);
            set(0x086102, 0);
            set(0x086301, 255);
            break;
        case 6:
        case 7:
            // Channels after the first continue the generator of the one before.
            mode = (idx == 6 ? 14 : 15) | (c == 0 ? 0 : 0x80);
            set(0x085F02, 1);
            set(0x086102, 1);
            set(0x086301, 255);
            set(0x086401, 255);
            set(0x086501, 255);
            break;
        case 10:
            mode = 8;
            set(0x085801, 48);
            set(0x085F02, 32);
            set(0x086301, 255);
            break;
        case 11:
            mode = 5;
            set(0x085F02, 240);
            set(0x086102, 270);
            set(0x086301, 255);
            break;
        case 12:
            mode = 14;
            set(0x085F02, 1);
            set(0x086102, 0);
            set(0x086301, 255);
            break;
        case 14:
            mode = 3;
            set(0x085901, 1);
            set(0x085F02, 36863);
            set(0x086401, 120);
            set(0x086501, 0);
            levels[2] = 0;
            break;
        case 15:
            mode = 3;
            set(0x085801, 2);
            set(0x085901, 1);
            set(0x085A01, 1);
            set(0x085F02, 36863);
            set(0x086301, 0);
            set(0x086401, 120);
            set(0x086501, 0);
            levels[2] = 0;
            break;
        case 16:
            mode = 6;
            set(0x085F02, 960);
            set(0x086102, 0);
            set(0x086301, 255);
            break;
        case 17:
            mode = 9;
            b02 = 32917;
            set(0x085F02, 4);
            set(0x086102, 3840);
            set(0x086301, 255);
            break;
        case 18:
            mode = 2;
            set(0x086102, 270);
            set(0x086301, 255);
            break;
        default: // 19
            mode = 3;
            set(0x085801, 1);
            set(0x085901, 1);
            set(0x085A01, 1);
            set(0x086102, 20479);
            set(0x086301, 255);
            break;
        }
        const unsigned off = chOffset(c);
        drv->write_C331(fd, 0x085701, mode, off);
        drv->write_C331(fd, 0x085B02, b02, off);
        for (const auto& e : regs)
            drv->write_C331(fd, e.first, e.second, off);
        drv->write_C331(fd, 0x086601, levels[0], off);
        drv->write_C331(fd, 0x086701, levels[1], off);
        drv->write_C331(fd, 0x086801, levels[2], off);
    }
    set_rtct(fd, 1);
    return 0;
}

void c331_manage::c331_SetInputsourceCrop(int win, int cropIdx)
{
    c331_trace("[%s] win:%d , cropIdx:%04X\n", __func__, win, static_cast<unsigned>(cropIdx));
    if (win < 0 || win >= gMwin.wincnt || win >= kWinCount) {
        c331_trace_warn("[%s] win:%d oor\n", __func__, win);
        return;
    }
    const int k = cropIdx & 0xFF;
    ZdrRamPara* store = ZdrRamPara::p_zdrrampara_config;
    if (k >= para::kCropCount || !store) {
        c331_trace_warn("\t !!!!!!!!!cropIdx OOR,return !!!!!!!!!!!!!");
        return;
    }
    gWininfo[win].cropIdx = static_cast<uint8_t>(k);
    C331ParaAccess access;
    gWininfo[win].input = store->ram_para[para::crop(k)];
    c331_trace("\t win:%d Input:%d\n", win, gWininfo[win].input);
}

void c331_manage::c331_SetWinPriority(int win, int pri)
{
    if (win < 0 || win >= kWinCount)
        return;
    c331_trace("[c331_SetWinPriority] win_%d, pri_%d\n", win, pri);
    // Priorities are 0..5, folded as the window list folds them.
    gWininfo[win].layer = static_cast<uint8_t>(((pri % 6) + 6) % 6);
}

void c331_manage::c331_SetWinPriority1(int fd)
{
    c331_trace("[c331_SetWinPriority1] wincnt:%d\n", gMwin.wincnt);
    for (int w = 0; w < kWinCount; ++w) {
        const bool shown = w < gMwin.wincnt;
        PM_OVERLAY_PRI[w] = shown ? 5 - gWininfo[w].layer : 0;
        if (shown) {
            c331_trace("\t win_%d, zdr_layer_%d ==> ", w, gWininfo[w].layer);
            c331_trace("layer_%d\n", PM_OVERLAY_PRI[w]);
        }
    }
    update_overlay_info();
    set_overlay(fd);
    reset_layer_coef(fd, 0);
}

void c331_manage::c331_SetWinOutput(int fd, char winArg, int data)
{
    const int win = static_cast<unsigned char>(winArg);
    c331_trace("[c331_SetWinOutput] win:%d, data:%x\r\n", win, static_cast<unsigned>(data));
    if (win >= gMwin.wincnt || win >= kWinCount) {
        c331_trace_warn("[c331_SetWinOutput], win OOR");
        return;
    }
    ST_WIN_INFO& wi = gWininfo[win];
    const int now = data & 3;
    const int changed = now ^ (wi.outputMode & 3);
    if (changed & 1) {
        wi.outputMode = static_cast<uint8_t>((wi.outputMode & ~1) | (now & 1));
        set_input_bkg2(fd, win, now & 1);
        c331_trace("\t change win_%d output:%s\n", win, (now & 1) ? "Black" : "Normal");
    }
    if (changed & 2) {
        const int port = PM_INPUT[win];
        const bool signal = port >= 0 && port < kPortCount && PI_PORT_INFO[port].STATE != 0;
        if (signal) {
            wi.outputMode = static_cast<uint8_t>((wi.outputMode & ~2) | (now & 2));
            win_freeze_sel(fd, win, data);
            c331_trace("\t change win_%d freeze:%s\n", win, (now & 2) ? "Freeze" : "Normal");
            return;
        }
        c331_trace("\t change win_%d no signal, disable freeze\n", win);
    }
    PM_WIN_FADE_EN[win] = (data >> 2) & 1;
    c331_trace("\t change win_%d SWITCH SRC EFFECT: %s\n", win, PM_WIN_FADE_EN[win] ? "QuickSwap" : "FadeInOut");
    if (data & 0x100) {
        PM_WIN_DBD_MODE[win] = dbd_code(layerWord(wi.srcLayer, para::kLayerP2P));
        c331_trace("\t change win_%d DBD_MODE: %s\n", win, dbdName(PM_WIN_DBD_MODE[win]));
    } else {
        PM_WIN_DBD_MODE[win] = DBD_DISABLE;
        c331_trace("\t change win_%d DBD_MODE: DBD_DISABLE\n", win);
    }
    g_chg_win[win] = 1;
    set_output(fd);
}

void c331_manage::win_freeze_sel(int fd, int win, int data)
{
    if (win < 0 || win >= kWinCount)
        return;
    const int c = gWininfo[win].ochLst[0];
    if (c >= kOchCount)
        return;
    drv->write_C331(fd, 0x100901, (data & 2) ? 2 : 1, chOffset(c));
}

void c331_manage::c331_SetWinDbdMode(int fd, char winArg, int mode)
{
    const int win = static_cast<unsigned char>(winArg);
    if (win >= kWinCount)
        return;
    const int code = dbd_code(mode);
    c331_trace("[c331_SetWinDbdMode] win:%d, mode:%d, %s\n", win, mode, dbdName(code));
    // The mode matters only while the layer's dot-by-dot bit is on; with the
    // bit off the window stays out of dot-by-dot.
    if (!(layerWord(gWininfo[win].srcLayer, para::kLayerOutput) & 0x100))
        return;
    PM_WIN_DBD_MODE[win] = code;
    g_chg_win[win] = 1;
    set_output(fd);
}

void c331_manage::c331_SetWinAttr(char winArg, int data)
{
    const int win = static_cast<unsigned char>(winArg);
    c331_trace("[c331_SetWinAttr] win:%d, data:%x\r\n", win, static_cast<unsigned>(data));
    if (win >= gMwin.wincnt || win >= kWinCount)
        return;
    const int attr = ((data % 4) + 4) % 4;
    gWininfo[win].rotate = static_cast<uint8_t>(attr);
    g_chg_win[win] = 1;
    PM_WIN_HMIRROR[win] = attr & 1;
    PM_WIN_VMIRROR[win] = (attr >> 1) & 1;
    set_output(c331_fd);
}
