// Output panel set-up: the LED screen and its two outputs turned into the
// chip's output channels, their timing and the first window preset.
#include "videochip/c331_manage.h"

#include "core/le_bytes.h"
#include "core/para_layout.h"
#include "core/zdrrampara.h"
#include "videochip/c331_drv.h"
#include "videochip/c331_trace.h"

#include <algorithm>
#include <cstring>

using namespace c331;

namespace {

const char kSpliceNames[6][20] = {"SPLICE MODE: NONE", "SPLICE MODE: HV", "SPLICE MODE: V",
                                  "SPLICE MODE: H",    "SPLICE MODE: CP12", "SPLICE MODE: CP21"};

constexpr int kOneOchPixels = 9800000;     // a frame one channel pair carries
constexpr int kMaxFramePixels = 9900000;   // pixel clock per frame of the outputs
constexpr int kTimingCount = 5199;

// The timing list: HTT rising from 660 to 8280, VTT the smallest total that
// keeps the frame at the outputs' pixel clock.
struct TimingList {
    int pairs[kTimingCount][2];
    TimingList()
    {
        for (int i = 0; i < kTimingCount; ++i) {
            const int htt = 660 + static_cast<int>((static_cast<long long>(i) * (8280 - 660)) / (kTimingCount - 1));
            pairs[i][0] = htt;
            pairs[i][1] = (kMaxFramePixels + htt - 1) / htt;
        }
    }
};

bool stacked(int splice) { return splice == SPLICE_HV || splice == SPLICE_V; }

int ceilDiv(int a, int b) { return b > 0 ? (a + b - 1) / b : 0; }

} // namespace

const int (*c331_manage::timing_list(int* count))[2]
{
    static const TimingList list;
    if (count)
        *count = kTimingCount;
    return list.pairs;
}

int c331_manage::zdrApi_PnlInit2(int ledW, int ledH, int out1w, int out1h, int splice)
{
    pnl = ST_PANEL{};
    const int mode = ((splice % 6) + 6) % 6;
    pnl.splice = mode;
    c331_trace("[zdrApi_PnlInit2] ledW:%d ledH:%d, out1w:%d, out1h:%d, splice:%s\n", ledW, ledH, out1w, out1h,
               kSpliceNames[mode]);
    // The panel's sizes are signed 16-bit: a screen word from the PC of
    // 32768 or more would turn negative through the whole set-up.
    ledW = std::max(0, std::min(ledW, 0x7FFF));
    ledH = std::max(0, std::min(ledH, 0x7FFF));
    pnl.ledW = static_cast<int16_t>(ledW);
    pnl.ledH = static_cast<int16_t>(ledH);
    // An output larger than the screen would leave the other one a negative
    // size: it is held to the screen.
    const int o1w = std::max(0, std::min(out1w, ledW));
    const int o1h = std::max(0, std::min(out1h, ledH));
    switch (mode) {
    case SPLICE_HV:
    case SPLICE_V:
        pnl.out1w = static_cast<int16_t>(ledW);
        pnl.out2w = 0;
        pnl.out1h = static_cast<int16_t>(o1h);
        pnl.out2h = static_cast<int16_t>(ledH - o1h);
        break;
    case SPLICE_H:
        pnl.out1w = static_cast<int16_t>(o1w);
        pnl.out2w = static_cast<int16_t>(ledW - o1w);
        pnl.out1h = static_cast<int16_t>(ledH);
        pnl.out2h = 0;
        break;
    case SPLICE_NONE:
    case SPLICE_CP12:
        pnl.out1w = pnl.out2w = static_cast<int16_t>(ledW);
        pnl.out1h = static_cast<int16_t>(ledH);
        pnl.out2h = 0;
        break;
    default:
        break;
    }

    zdrApi_PnlInitOch3();
    zdrApi_initEnvC331();
    // No input channel is assigned yet.
    for (int i = 0; i < kIchCount; ++i)
        g_ich_win[i] = -1;
    for (int w = 0; w < kWinCount; ++w)
        for (int i = 0; i < kIchCount; ++i)
            g_win_ich[w][i] = -1;
    zdrApi_MultiWinChAlloc(1);
    zdrApi_MultiWinChInit();
    zdrDbg_c331_param(0);
    return 0;
}

void c331_manage::zdrApi_PnlInitOch3()
{
    ST_OCH_SPEC& o = pnl.och;
    const int mode = pnl.splice;
    const long long pixels = stacked(mode)
                                 ? static_cast<long long>(std::max(pnl.out1h, pnl.out2h)) * (pnl.out1w + pnl.out2w)
                                 : static_cast<long long>(pnl.out1h + pnl.out2h) * std::max(pnl.out1w, pnl.out2w);
    o.use1och = pixels <= kOneOchPixels ? 1 : 0;
    o.laneMode = OCHBW_2K4K30;

    struct Row {
        int arrang, h, v, hsw, hfp, vsw, vfp, hblank, vblank;
    };
    Row r;
    if (mode == SPLICE_HV && o.use1och)
        r = {ARRANG2K4_1x2, 1, 2, 12, 4, 3, 4, 20, 12};
    else if (mode == SPLICE_V && o.use1och)
        r = {ARRANG2K4_1x2, 1, 2, 12, 4, 3, 3, 20, 38};
    else if (stacked(mode))
        r = {ARRANG2K4_2x2_8K, 2, 2, 12, 32, 12, 32, 76, 76};
    else if (mode == SPLICE_H && o.use1och)
        r = {ARRANG2K4_2x1, 2, 1, 12, 4, 3, 3, 48, 12};
    else if (mode == SPLICE_H)
        r = {ARRANG2K4_4x1_8K, 4, 1, 12, 36, 3, 3, 80, 12};
    else if (o.use1och)
        r = {ARRANG2K4_2x1, 2, 1, 12, 4, 3, 4, 20, 12};
    else if (mode == SPLICE_CP21)
        r = {ARRANG2K4_2x1, 2, 1, 12, 32, 12, 32, 76, 76};
    else
        r = {ARRANG2K4_4x1_8K, 4, 1, 12, 32, 12, 32, 76, 76};
    o.arrang = r.arrang;
    pnl.och_HCnt = static_cast<uint8_t>(r.h);
    pnl.och_VCnt = static_cast<uint8_t>(r.v);
    o.hsw = r.hsw;
    o.hfp = r.hfp;
    o.vsw = r.vsw;
    o.vfp = r.vfp;

    pnl.xoffs = pnl.yoffs = 0;
    int htt = 0;
    int vtt = 0;
    zdrApi_PnlInitOch_diff(&htt, &vtt, r.hblank, r.vblank);
    o.htt = htt;
    o.vtt = vtt;

    if (mode == SPLICE_H) {
        o.width = (o.width + 3) / 4 * 4;
        o.height = vtt - r.vblank;
        pnl.xoffs = static_cast<int16_t>(o.width * pnl.och_HCnt / 2 - pnl.out1w);
    } else if (stacked(mode)) {
        const int rows = pnl.och_VCnt / 2;
        o.height = ceilDiv(std::max(pnl.out1h, pnl.out2h), rows);
        pnl.yoffs = static_cast<int16_t>(rows * o.height - pnl.out1h);
    } else {
        o.height = ceilDiv(pnl.ledH, pnl.och_VCnt);
    }

    zdrApi_WriteRam(para::kSpliceMode);
    c331_trace("========PANEL=======\n width:%d, height:%d, xoffs:%d, yoffs:%d\n", pnl.ledW, pnl.ledH, pnl.xoffs,
               pnl.yoffs);
    c331_trace("========OCH TIMING=======\n HTT:%d, HBLANK:%d, HFP:%d, HSW:%d, HBP:%d\n VTT:%d, VBLANK:%d, VFP:%d, "
               "VSW:%d, VBP:%d\n",
               o.htt, o.htt - o.width, o.hfp, o.hsw, o.htt - o.width - o.hsw - o.hfp, o.vtt, o.vtt - o.height, o.vfp,
               o.vsw, o.vtt - o.height - o.vsw - o.vfp);
    zdrApi_c331InitRegPanel();
}

int c331_manage::zdrApi_PnlInitOch_diff(int* htt, int* vtt, int hblank, int vblank)
{
    ST_OCH_SPEC& o = pnl.och;
    const bool vert = stacked(pnl.splice);
    int height = vert ? std::max(pnl.out1h, pnl.out2h) : pnl.out1h + pnl.out2h;
    int width = vert ? pnl.out1w + pnl.out2w : std::max(pnl.out1w, pnl.out2w);
    const long long pixels = static_cast<long long>(width) * height;
    o.use1och = pixels <= kOneOchPixels ? 1 : 0;
    c331_trace("\t %d x %d = %lld, use1och:%d\n", width, height, pixels, o.use1och);

    int count = 0;
    const int (*list)[2] = timing_list(&count);
    long long H = width + hblank;
    long long V = height + vblank;
    enum Step { TWO_OCH, SPLIT_H, SPLIT_V };
    Step step = o.use1och ? (vert ? SPLIT_V : SPLIT_H) : TWO_OCH;
    for (;;) {
        if (step == TWO_OCH) {
            if (vert) {
                height /= 2;
                if (o.arrang == ARRANG2K4_2x2_8K)
                    width /= 2;
                step = SPLIT_V;
            } else {
                width /= 2;
                step = SPLIT_H;
            }
            H = width + hblank;
            V = height + vblank;
        }
        if (step == SPLIT_H && H * V > kMaxFramePixels && H > 0) {
            V = kMaxFramePixels / H;
            c331_trace("\t SPLICE_H, oPixels OOR, reduce vtt to:%lld\n", V);
        } else if (step == SPLIT_V && H * V > kMaxFramePixels && V > 0) {
            H = kMaxFramePixels / V;
            c331_trace("\t SPLICE_V, oPixels OOR, reduce htt to:%lld\n", H);
        }
        int found = -1;
        for (int i = 0; i < count; ++i) {
            if (list[i][0] >= H && list[i][1] >= V) {
                found = i;
                break;
            }
        }
        if (found >= 0) {
            H = list[found][0];
            V = list[found][1];
            c331_trace("\t found htt: %lld, vtt:%lld\n", H, V);
            break;
        }
        if (o.use1och) {
            c331_trace("\t not found in list for Use one OCH, continue find for Use TWO OCH");
            o.use1och = 0;
            step = TWO_OCH;
            continue;
        }
        c331_trace("\t not found in list, calc htt: %lld -- %04llx\n", H, H);
        break;
    }
    *htt = static_cast<int>(H);
    *vtt = static_cast<int>(V);
    o.width = static_cast<int>(H) - hblank;
    o.height = static_cast<int>(V) - vblank;
    return 1;
}

void c331_manage::zdrApi_c331InitRegPanel()
{
    const ST_OCH_SPEC& o = pnl.och;
    const int fd = c331_fd;
    PS_ACTHW = o.width;
    PS_ACTVW = o.height;
    PS_HTOTAL = o.htt;
    PS_VTOTAL = o.vtt;
    PS_HSW = o.hsw;
    PS_VSW = o.vsw;
    PS_HBP = o.htt - o.width - o.hsw - o.hfp;
    PS_VBP = o.vtt - o.height - o.vsw - o.vfp;
    c331_trace("width:%4d, hsw:%4d, hfp:%4d, htt:%4d,   height:%4d, vsw:%4d, vfp:%4d, vtt:%4d,\n", o.width, o.hsw,
               o.hfp, o.htt, o.height, o.vsw, o.vfp, o.vtt);

    drv->write_C331(fd, 0x034401, static_cast<unsigned>(PS_HSW / 2 - 1), 0);
    drv->write_C331(fd, 0x034501, static_cast<unsigned>(PS_VSW - 1), 0);
    drv->write_C331(fd, 0x034C01, static_cast<unsigned>(PS_HSW / 2 - 1), 0);
    drv->write_C331(fd, 0x034D01, static_cast<unsigned>(PS_VSW - 1), 0);

    PS_OAOIHST = PS_ACTHST = PS_HSW + PS_HBP;
    PS_OAOIHED = PS_OAOIHST + PS_ACTHW;
    PS_OAOIVST = PS_ACTVST = PS_VSW + PS_VBP;
    PS_OAOIVED = PS_OAOIVST + PS_ACTVW;

    switch (o.arrang) {
    case 0:
    case 1:
        PS_VBOTX_MODE = 1;
        PS_VBOTX_LAYOUT = o.arrang == 0 ? 2 : 3;
        break;
    case ARRANG2K4_2x1:
    case ARRANG2K4_4x1_8K:
    case ARRANG2K4_2x2_8K:
    case ARRANG2K4_1x2:
        PS_VBOTX_MODE = 2;
        PS_VBOTX_LAYOUT = (o.arrang == ARRANG2K4_2x2_8K || o.arrang == ARRANG2K4_1x2) ? 1 : 0;
        c331_trace("PS_VBOTX_MODE = 2\n");
        break;
    default:
        PS_VBOTX_MODE = 0;
        PS_VBOTX_LAYOUT = o.arrang == 2 ? 0 : 1;
        break;
    }
    if (PS_VBOTX_MODE == 2) {
        if (PS_VBOTX_LAYOUT == 1) {
            PS_OCH_HNUM = o.use1och ? 1 : 2;
            PS_OCH_VNUM = 2;
        } else {
            PS_OCH_HNUM = o.use1och ? 2 : 4;
            PS_OCH_VNUM = 1;
        }
    } else {
        const bool layout0 = PS_VBOTX_LAYOUT == 0;
        PS_OCH_HNUM = PS_VBOTX_MODE == 0 ? (layout0 ? 4 : 2) : (layout0 ? 8 : 4);
        PS_OCH_VNUM = layout0 ? 1 : 2;
    }
    PS_PANEL_HW = PS_OCH_HNUM * PS_ACTHW;
    PS_PANEL_VW = PS_OCH_VNUM * PS_ACTVW;

    for (int c = 0; c < kOchCount; ++c) {
        const unsigned off = chOffset(c);
        drv->write_C331(fd, 0x080A02, static_cast<unsigned>(o.htt - 2), off);
        drv->write_C331(fd, 0x080C02, static_cast<unsigned>(o.vtt - 2), off);
        drv->write_C331(fd, 0x081D02, 64, off);
        const unsigned oaoi[4] = {static_cast<unsigned>(PS_OAOIHST), static_cast<unsigned>(PS_OAOIHED),
                                  static_cast<unsigned>(PS_OAOIVST), static_cast<unsigned>(PS_OAOIVED)};
        for (unsigned k = 0; k < 4; ++k) {
            drv->write_C331(fd, 0x082802 + 0x200 * k, oaoi[k], off);
            drv->write_C331(fd, 0x083002 + 0x200 * k, oaoi[k], off);
        }
        drv->write_C331(fd, 0x084002, static_cast<unsigned>(PS_ACTHST), off);
        drv->write_C331(fd, 0x084202, static_cast<unsigned>(o.width), off);
        drv->write_C331(fd, 0x084402, static_cast<unsigned>(PS_ACTVST), off);
        drv->write_C331(fd, 0x084602, static_cast<unsigned>(o.height + 1), off);
    }
    drv->write_C331(fd, 0x035E04, 0x76543210u, 0);
    drv->write_C331(fd, 0x036204, 0x76543210u, 0);

    if (o.laneMode == OCHBW_2K4K30) {
        drv->write_C331(fd, 0x032C02, 0, 0);
        drv->write_C331(fd, 0x033602, 0, 0);
        drv->write_C331(fd, 0x020801, 9, 0);
        drv->write_C331(fd, 0x027801, 9, 0);
        // One channel pair carries everything on its own lanes; with two the
        // second pair takes the odd lanes.
        drv->write_C331(fd, 0x035504, o.use1och ? 0u : 0x01000100u, 0);
        drv->write_C331(fd, 0x004701, 33, 0);
        drv->write_C331(fd, 0x004C01, 33, 0);
        PS_PLL_MUL = 11;
        PS_PLL_DIV = 137;
    } else {
        c331_trace("\t 2k2k30 8 och, None-Division config\r");
        drv->write_C331(fd, 0x020801, 5, 0);
        drv->write_C331(fd, 0x027801, 5, 0);
        drv->write_C331(fd, 0x021801, 76, 0);
        drv->write_C331(fd, 0x023001, 76, 0);
        PS_PLL_MUL = 11;
        PS_PLL_DIV = 153;
    }
    drv->write_C331(fd, 0x004B01, static_cast<unsigned>(PS_PLL_MUL), 0);
    drv->write_C331(fd, 0x005001, static_cast<unsigned>(PS_PLL_MUL), 0);
    drv->write_C331(fd, 0x004801, static_cast<unsigned>(PS_PLL_DIV), 0);
    drv->write_C331(fd, 0x004D01, static_cast<unsigned>(PS_PLL_DIV), 0);
}

void c331_manage::zdrApi_WriteRam(int offset)
{
    if (offset != para::kSpliceMode)
        return;
    ZdrRamPara* store = ZdrRamPara::p_zdrrampara_config;
    if (!store)
        return;
    const ST_OCH_SPEC& o = pnl.och;
    int cols = 0;
    int rows = 0;
    switch (pnl.splice) {
    case SPLICE_H:
        cols = o.use1och ? 2 : 4;
        rows = 1;
        break;
    case SPLICE_HV:
    case SPLICE_V:
    case SPLICE_CP21:
        cols = o.use1och ? 1 : 2;
        rows = 2;
        break;
    default:
        cols = o.use1och ? 1 : 2;
        rows = 1;
        break;
    }
    const int words[7] = {pnl.xoffs, pnl.yoffs, cols, rows, o.width, o.height, o.laneMode};
    ParaWriteLock bytes;
    for (int i = 0; i < 7; ++i)
        setLe16(bytes.block(), para::kPanelResult + 2 * i, static_cast<uint16_t>(words[i]));
}

void c331_manage::zdrApi_MultiWinInit()
{
    // The first preset is one window over the whole LED screen.
    ST_MWIN_PRESET& p = mwin_preset[0];
    p.wincnt = 1;
    p.pwin = mwin_preset_rect[0];
    p.pwin[0] = ST_RECT{0, 0, pnl.ledW, pnl.ledH};
}
