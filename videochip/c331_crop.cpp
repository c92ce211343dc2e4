// Input crops, the sharpness enhancer and the end of the forced background
// colour.
#include "videochip/c331_manage.h"

#include "core/le_bytes.h"
#include "core/para_layout.h"
#include "core/zdrrampara.h"
#include "videochip/c331_drv.h"
#include "videochip/c331_trace.h"

#include <algorithm>

using namespace c331;

namespace {

bool validPort(int p) { return p >= 0 && p < kPortCount; }

// Enhancer registers of an output channel.
constexpr C331RegDesc kSharpEnable = 0x0C2101;
constexpr C331RegDesc kSharpMode = 0x0B0801;
constexpr C331RegDesc kSharpHGain = 0x0B0901;
constexpr C331RegDesc kSharpHCoef = 0x0B0C01;     // five registers 0x0C..0x10
constexpr C331RegDesc kSharpHMode2 = 0x0B1101;
constexpr C331RegDesc kSharpVGain = 0x0B1201;
constexpr C331RegDesc kSharpVCoef = 0x0B1501;     // five registers 0x15..0x19
constexpr C331RegDesc kSharpVOn = 0x0B5E01;

struct Coefs {
    int v[5];
};

// Horizontal and vertical coefficient sets by the window's scaling ratio.
Coefs hCoefs(double r)
{
    if (r > 2.5)
        return {{36, 43, 58, 4, 5}};
    if (r > 2.0)
        return {{30, 42, 0, 7, 0}};
    if (r > 1.25)
        return {{28, 46, 5, 3, 60}};
    return {{44, 49, 56, 63, 2}};
}

Coefs vCoefs(double r)
{
    if (r > 2.5)
        return {{42, 48, 59, 0, 0}};
    if (r > 2.0)
        return {{34, 47, 0, 0, 0}};
    if (r > 1.25)
        return {{28, 45, 5, 0, 0}};
    return {{44, 50, 56, 0, 0}};
}

// A ratio of two window sizes; an empty input window counts as 1:1.
double ratio(int out, int in) { return in > 0 ? static_cast<double>(out) / in : 1.0; }

} // namespace

int c331_manage::crop_input_width(int port) const
{
    if (!validPort(port))
        return 0;
    int w = PI_ACT[port].hw;
    if (port >= 4 && PI_PORT_INFO[port].STATE < 4)
        w *= 2;
    return w;
}

ST_RECT c331_manage::crop_record_rect(const unsigned char* block, int k)
{
    if (!block || k < 0 || k >= para::kCropCount)
        return ST_RECT{0, 0, 0, 0};
    const int rec = para::crop(k);
    return ST_RECT{le16(block, rec + 2), le16(block, rec + 4), le16(block, rec + 6), le16(block, rec + 8)};
}

void c331_manage::crop_fit_input(int port, ST_RECT* rect) const
{
    if (!rect)
        return;
    const int width = crop_input_width(port);
    const int height = validPort(port) ? PI_ACT[port].vw : 0;
    // Wide sums: a rectangle handed in by a caller may hold any int.
    if (rect->x < 0 || rect->w < 0 || static_cast<long long>(rect->x) + rect->w > width) {
        c331_trace("    x:%d + w:%d OOR, reset it to C331input\r\n", rect->x, rect->w);
        rect->x = 0;
        rect->w = width;
    }
    if (rect->y < 0 || rect->h < 0 || static_cast<long long>(rect->y) + rect->h > height) {
        c331_trace("    y:%d + h:%d OOR, reset it to C331input\r\n", rect->y, rect->h);
        rect->y = 0;
        rect->h = height;
    }
}

int c331_manage::win_och_list(int win, int* och) const
{
    if (win < 0 || win >= kWinCount)
        return 0;
    const ST_WIN_INFO& wi = gWininfo[win];
    int n = 0;
    const int parts = wi.ochCnt <= kOchCount ? wi.ochCnt : kOchCount;
    for (int i = 0; i < parts; ++i) {
        if (wi.ochLst[i] < kOchCount)
            och[n++] = wi.ochLst[i];
    }
    return n;
}

void c331_manage::c331_SetSharpness(int sharpness)
{
    const int fd = c331_fd;
    const int L = sharpness >= 10 ? sharpness - 10 : 0;
    c331_trace("[c331_SetSharpness] :%04x\r\n", static_cast<unsigned>(sharpness));
    drv->write_c331_mask(fd, kSharpEnable, 1, 1, 0);
    const int count = gMwin.wincnt < kWinCount ? gMwin.wincnt : kWinCount;
    // The gain register holds one byte: a word from the PC of 30 or more
    // would wrap it.
    const int g = std::min(static_cast<int>(L * 12.8), 255);
    for (int w = 0; w < count; ++w) {
        const int port = zdrApi_inputCvtC331(static_cast<DSP_INPUT_PORT>(gWininfo[w].input));
        if (!validPort(port) || PI_PORT_INFO[port].STATE == 0)
            continue;
        int och[kOchCount];
        const int n = win_och_list(w, och);
        for (int i = 0; i < n; ++i)
            drv->write_C331(fd, kSharpMode, L > 0 ? 6 : 0, chOffset(och[i]));

        Coefs h = hCoefs(ratio(OWIN[w].hw, IWIN[w].hw));
        const int scan = PI_PORT_INFO[port].IP ? 2 : 1;
        Coefs v = vCoefs(ratio(OWIN[w].vw, IWIN[w].vw * scan));
        if (L == 0)
            h = v = Coefs{{0, 0, 0, 0, 0}};

        set_rtct(fd, 2);
        for (int i = 0; i < n; ++i) {
            for (unsigned k = 0; k < 5; ++k)
                drv->write_C331(fd, kSharpHCoef + 0x100 * k, static_cast<unsigned>(h.v[k]), chOffset(och[i]));
            drv->write_C331(fd, kSharpHGain, static_cast<unsigned>(g), chOffset(och[i]));
        }
        for (int i = 0; i < n; ++i)
            drv->write_C331(fd, kSharpHMode2, L > 0 ? 6 : 0, chOffset(och[i]));
        for (int i = 0; i < n; ++i) {
            drv->write_C331(fd, kSharpVOn, 1, chOffset(och[i]));
            for (unsigned k = 0; k < 5; ++k)
                drv->write_C331(fd, kSharpVCoef + 0x100 * k, static_cast<unsigned>(v.v[k]), chOffset(och[i]));
            drv->write_C331(fd, kSharpVGain, static_cast<unsigned>(g), chOffset(och[i]));
        }
        set_rtct(fd, 1);
    }
}

int c331_manage::zdrApi_CropGetOffset(int port, ST_RECT* rect, int type)
{
    if (!validPort(port) || !rect)
        return 0;
    const int width = crop_input_width(port);
    const int height = PI_ACT[port].vw;
    c331_trace("\t PI_ACT[%d](%d, %d, %d, %d), hw:%d\n", port, PI_ACT[port].hst, PI_ACT[port].vst, PI_ACT[port].hw,
               PI_ACT[port].vw, width);
    if (PI_ACT[port].hw == 0 || height == 0) {
        c331_trace("\t no signal, return 0\n");
        return 0;
    }
    int offset;
    switch (type) {
    case 0: offset = rect->x; break;
    case 1: offset = width - (rect->x + rect->w); break;
    case 2: offset = rect->y; break;
    case 3: offset = height - (rect->y + rect->h); break;
    default: return 0;
    }
    if (offset < 0) {
        c331_trace_warn("[zdrApi_CropGetOffset] offset:%d < 0, reset to zeruo\n", offset);
        return 0;
    }
    return offset;
}

void c331_manage::c331_SetCrop(char win, char enable, ST_RECT* rect)
{
    const int w = static_cast<signed char>(win);
    ST_RECT none{0, 0, 0, 0};
    if (!rect)
        rect = &none;
    c331_trace("[c331_SetCrop] win:%d, enable:%d, rect(%d,%d,%d,%d)\r\n", w, enable, rect->x, rect->y, rect->w,
               rect->h);
    if (w < 0 || w >= kWinCount) {
        c331_trace("  not found win:%d\r\n", w);
        return;
    }
    const int port = zdrApi_inputCvtC331(static_cast<DSP_INPUT_PORT>(gWininfo[w].input));
    crop_fit_input(port, rect);
    if (!enable) {
        PM_INPUT_OFFSET_EN[w] = 0;
        for (int& o : PM_INPUT_OFFSET[w])
            o = 0;
    } else {
        PM_INPUT_OFFSET_EN[w] = 1;
        for (int t = 0; t < 4; ++t)
            PM_INPUT_OFFSET[w][t] = zdrApi_CropGetOffset(port, rect, t);
        c331_trace("\t PM_OFFSET(%d,%d,%d,%d)\r\n", PM_INPUT_OFFSET[w][0], PM_INPUT_OFFSET[w][1],
                   PM_INPUT_OFFSET[w][2], PM_INPUT_OFFSET[w][3]);
    }
    set_output(c331_fd);
}

void c331_manage::zdrApi_updateCrop(int fd, int port)
{
    (void)fd;
    c331_trace("[zdrApi_updateCrop]  input_num:%d\n", port);
    ZdrRamPara* store = ZdrRamPara::p_zdrrampara_config;
    for (int w = 0; w < kWinCount; ++w) {
        if (PM_INPUT[w] != port)
            continue;
        c331_trace("\t win:%d, cropEn:%d, wincnt:%d\n", w, PM_INPUT_OFFSET_EN[w], gMwin.wincnt);
        if (!PM_INPUT_OFFSET_EN[w] || w >= gMwin.wincnt || !store)
            continue;
        const int k = gWininfo[w].cropIdx;
        if (k >= para::kCropCount)
            continue;
        // The rectangle the chip was given, against the port's new area: a
        // PC's RAM write of the record waiting for its flag reaches the
        // window with the pass that flag starts, not with a new timing of
        // the input.
        ST_RECT r;
        {
            C331ParaAccess access;
            r = crop_record_rect(para_in_force(), k);
        }
        crop_fit_input(port, &r);
        for (int t = 0; t < 4; ++t)
            PM_INPUT_OFFSET[w][t] = zdrApi_CropGetOffset(port, &r, t);
        c331_trace("[zdrApi_updateCrop] win:%d, port:%d, cropWin:(%d,%d,%d,%d), PM_INPUT_OFFSET(%d,%d,%d,%d)\n", w,
                   port, r.x, r.y, r.w, r.h, PM_INPUT_OFFSET[w][0], PM_INPUT_OFFSET[w][1], PM_INPUT_OFFSET[w][2],
                   PM_INPUT_OFFSET[w][3]);
    }
}

int c331_manage::zdrApi_OchGetWinOffset1(ST_WIN_INFO* win, int type)
{
    const int W = pnl.och.width;
    const int H = pnl.och.height;
    if (!win || W <= 0 || H <= 0)
        return 0;
    switch (type) {
    case 0: return win->x % W;
    case 1: return W * win->totalh - (win->x % W + win->w);
    case 2: return win->y % H;
    case 3: return H * win->totalv - (win->y % H + win->h);
    default:
        c331_trace("\t not found type:%d\r\n", type);
        return 0;
    }
}

void c331_manage::zdrApi_forceColorDisable(int fd)
{
    g_force_bkcolor = 2;
    c331_trace("[zdrApi_forceColorDisable]");
    for (int c = 0; c < kOchCount; ++c)
        drv->write_C331(fd, kOutBkgColor, 0, chOffset(c));
    const int count = gMwin.wincnt < kWinCount ? gMwin.wincnt : kWinCount;
    for (int w = 0; w < count; ++w) {
        const int port = PM_INPUT[w];
        // A window without a port has nothing to show but the background.
        const unsigned f = !validPort(port) || PI_PORT_INFO[port].nosignal != 0 ? 1 : 0;
        int och[kOchCount];
        const int n = win_och_list(w, och);
        c331_trace("\t win_%d, oimgct:%d,och:\t", w, f);
        for (int i = 0; i < n; ++i) {
            c331_trace("%d ", och[i]);
            drv->write_C331(fd, kOutBkgEnable, f, chOffset(och[i]));
        }
    }
}
