// Window geometry and scaling on the output side: the scaling ratios, the
// parts of a window per output channel, stitching look-up, the read word
// format and the vertical zoom filter, and the per-channel programming of
// the read-back and zoom of a window's frame memory.
#include "videochip/c331_manage.h"

#include "videochip/c331_drv.h"
#include "videochip/c331_trace.h"

#include <algorithm>
#include <cstdint>

using namespace c331;

namespace {

const unsigned char lut_set_lut_vzoom_4sym[24] = {0,   0,   0,   0,   0,   0, 0, 0,  0,  255, 254, 253,
                                                  252, 252, 253, 0,   5,   13, 24, 35, 46, 56,  62,  64};

bool validWin(int w) { return w >= 0 && w < kWinCount; }
bool validCh(int c) { return c >= 0 && c < kOchCount; }

// Position in the frame memory of output pixel `out` of a zoomed line or
// column: (ratio x out) >> 16, plus 1 when the fraction reaches the ratio.
int zoomPos(long long ratio, long long out)
{
    const long long p = ratio * out;
    return static_cast<int>((p >> 16) + ((p & 0xFFFF) >= ratio ? 1 : 0));
}

// Memory positions where each of n zoomed parts begins (and, in pos[n],
// where the last one ends), from the sizes of the parts before it.
void zoomStarts(int ratio, const _ImageWindowDef2_St* parts, int n, int _ImageWindowDef2_St::*size, int* pos)
{
    int acc = 0;
    for (int i = 0; i <= n; ++i) {
        pos[i] = zoomPos(ratio, acc);
        if (i < n)
            acc += parts[i].*size;
    }
}

int clampShape(int n) { return std::max(0, std::min(n, kOchCount)); }

} // namespace

void c331_manage::calc_scaling(_ImageWindowDef_st in, _ImageWindowDef_st out, _ScalingSt* s)
{
    if (!s)
        return;
    auto axis = [](int i, int o, int* mode, int* shrink, int* zoom) {
        *mode = 0;
        *shrink = *zoom = 0;
        // Empty sizes give no ratio; the divisor is at least 1 otherwise
        // (the larger of two different positive sizes).
        if (i > 0 && o > 0 && i > o) {
            *mode = 1;
            *shrink = static_cast<int>((static_cast<long long>(o - 1) * 65536) / (i - 1) + 1);
        } else if (i > 0 && o > 0 && i < o) {
            *mode = 2;
            *zoom = static_cast<int>((static_cast<long long>(i - 1) * 65536) / (o - 1) + 1);
        }
    };
    axis(in.hw, out.hw, &s->hmode, &s->hshrink, &s->hzoom);
    axis(in.vw, out.vw, &s->vmode, &s->vshrink, &s->vzoom);
}

void c331_manage::calc_oact(_ImageWindowDef_st out, _ImageWindowDef2_St* oact, int win)
{
    if (!oact || !validWin(win))
        return;
    for (int i = 0; i < kOchCount; ++i)
        oact[i] = _ImageWindowDef2_St{};
    auto axis = [oact](int n, int A, int s, int size, int _ImageWindowDef2_St::*st, int _ImageWindowDef2_St::*len,
                       int _ImageWindowDef2_St::*first, int _ImageWindowDef2_St::*last) {
        const int e = s + size;
        int firstI = -1;
        int lastI = -1;
        for (int i = 0; i < n; ++i) {
            const int c = i * A;
            const int cEnd = c + A - 1;
            const int r = s - c;
            int pst = 0;
            int plen = 0;
            if (r >= A) {
                pst = plen = 0;
            } else if (r < 0) {
                pst = 0;
                plen = e > cEnd ? A : std::max(0, e - c);
            } else {
                pst = r;
                plen = e > cEnd ? A - r : size;
            }
            oact[i].*st = pst;
            oact[i].*len = plen;
            if (plen > 0) {
                if (firstI < 0)
                    firstI = i;
                lastI = i;
            }
        }
        if (firstI >= 0) {
            oact[firstI].*first = 1;
            oact[lastI].*last = 1;
        }
    };
    axis(clampShape(PM_WIN_SHAPE[win][0]), PS_ACTHW, out.hst, out.hw, &_ImageWindowDef2_St::hst,
         &_ImageWindowDef2_St::hw, &_ImageWindowDef2_St::firstCol, &_ImageWindowDef2_St::lastCol);
    axis(clampShape(PM_WIN_SHAPE[win][1]), PS_ACTVW, out.vst, out.vw, &_ImageWindowDef2_St::vst,
         &_ImageWindowDef2_St::vw, &_ImageWindowDef2_St::firstRow, &_ImageWindowDef2_St::lastRow);
}

int c331_manage::check_stitching_win(int* win, int* partner)
{
    if (!win || !partner)
        return 0;
    *partner = -1;
    auto scan = [this](int s, int* p) {
        bool master = false;
        for (int i = 0; i < kWinCount; ++i) {
            if (i != s && PM_WIN_STITCHING[i] == s)
                *p = i;
            if (i == s && PM_WIN_STITCHING[i] == s)
                master = true;
        }
        return master;
    };
    const int s = *win;
    if (!validWin(s))
        return 0;
    const bool master = scan(s, partner);
    if (master && *partner >= 0)
        return 1;
    if (!master) {
        const int s2 = PM_WIN_STITCHING[s];
        if (!validWin(s2))
            return 0;
        *win = s2;
        *partner = -1;
        if (scan(s2, partner) && *partner >= 0)
            return 2;
    }
    return 0;
}

void c331_manage::check_stitching_chg()
{
    for (int w = 0; w < kWinCount; ++w) {
        if (g_chg_stitch[w][0] || g_chg_stitch[w][1])
            g_chg_win[w] = 1;
        g_chg_stitch[w][1] = 0;
    }
}

void c331_manage::get_och(int win, int* och)
{
    for (int k = 0; k < kOchCount; ++k) {
        och[k] = -1;
        for (int c = 0; c < kOchCount; ++c)
            if (PM_WIN_NUM[c] == win && PM_AREA_NUM[c] == k)
                och[k] = c;
    }
}

void c331_manage::set_oscwct(int fd, int och)
{
    if (!validCh(och))
        return;
    const int w = PM_WIN_NUM[och];
    int mode = 0;
    if (validWin(w)) {
        const int m = validWin(PM_WIN_STITCHING[w]) ? PM_WIN_STITCHING[w] : w;
        mode = PM_MEM_WMODE[m];
    }
    const unsigned v = mode == 1 ? 0x80 : mode == 2 ? 0x01 : mode == 3 ? 0x11 : 0;
    drv->write_C331(fd, 0x006901 + 0x100u * static_cast<unsigned>(och), v, 0);
}

void c331_manage::set_lut_vzoom_4sym(int fd, int vzoom, int och)
{
    if (!validCh(och))
        return;
    for (unsigned i = 0; i < 24; ++i) {
        const unsigned v = vzoom > 0 ? lut_set_lut_vzoom_4sym[i] : (i == 0 ? 0x40 : 0);
        drv->write_C331(fd, 0x0A6801 + 0x100 * i, v, chOffset(och));
    }
}

void c331_manage::set_display_window_och(int fd, _ImageWindowDef_st iwin, _ImageWindowDef_st owin, int win)
{
    if (!validWin(win))
        return;
    int m = win;
    int partner = -1;
    check_stitching_win(&m, &partner);
    if (!validWin(m))
        m = win;
    const bool hmir = PM_WIN_HMIRROR[m] != 0;
    const bool vmir = PM_WIN_VMIRROR[m] != 0;
    const int dbd = PM_WIN_DBD_MODE[m];
    const int port = PM_INPUT[m];
    const bool dbdMem = dbd > 1 || (dbd == 1 && port >= 0 && port < kPortCount && check_dbd_input(fd, port));

    // Line pitch and field buffers: the window's own dot-by-dot memory, or
    // the memory of its main input channel.
    const int mainIch = g_win_ich[win][0];
    unsigned base[5] = {};
    int pitch = PS_MEM_MWI;
    if (dbdMem) {
        pitch = dbd_win_mwi[win];
        for (int i = 0; i < 5; ++i)
            base[i] = dbd_win_fld[win][i];
    } else if (mainIch >= 0 && mainIch < kIchCount) {
        for (int i = 0; i < 5; ++i)
            base[i] = PS_MEM_SC[mainIch][i];
    }
    const long long L = 1024LL * pitch;
    const unsigned pitchValue = static_cast<unsigned>(vmir ? 256 - pitch : pitch) & 0xFF;
    const long long mirrorOff = (vmir && out_filter[win]) ? L : 0;

    _ImageWindowDef2_St parts[kOchCount];
    calc_oact(owin, parts, win);
    _ScalingSt s{};
    calc_scaling(iwin, owin, &s);

    int num = 4;
    int den = 1;
    switch (PM_MEM_WMODE[m]) {
    case 1: num = 16; den = 5; break;
    case 2: num = 8; den = 3; break;
    case 3: num = 2; den = 1; break;
    default: break;
    }

    // Window start in memory (the input side shrank it when it was larger).
    const long long hoff = s.hmode == 1 ? ((static_cast<long long>(s.hshrink) * (iwin.hst - 1)) >> 16) * num + num
                                        : static_cast<long long>(iwin.hst) * num;
    const long long hstart = hoff / den;
    const long long vstart = s.vmode == 1 ? ((static_cast<long long>(s.vshrink) * (iwin.vst - 1)) >> 16) * L + L
                                          : static_cast<long long>(iwin.vst) * L;

    const int totalh = clampShape(PM_WIN_SHAPE[win][0]);
    const int totalv = clampShape(PM_WIN_SHAPE[win][1]);

    struct Col {
        int hstReg, width, sub;
        long long mem;
    };
    struct Row {
        int vstReg, height, sub;
        long long mem;
    };
    Col cols[kOchCount] = {};
    Row rows[kOchCount] = {};

    const bool hz = s.hmode == 2;
    int W = 0;
    int pos[kOchCount + 1] = {};
    if (hz)
        zoomStarts(s.hzoom, parts, totalh, &_ImageWindowDef2_St::hw, pos);
    const int T = hz ? zoomPos(s.hzoom, owin.hw) : 0;
    for (int c = 0; c < totalh; ++c) {
        const _ImageWindowDef2_St& p = parts[c];
        Col& col = cols[c];
        if (hz && p.hw > 0) {
            int leadIn = 0;
            int shift = 0;
            long long memStart = 0;
            if (c > 0 && pos[c] < 5) {
                leadIn = pos[c];
                shift = -W;
            } else if (c > 0) {
                const long long sPos = pos[c] - 4;
                leadIn = 4;
                const long long q = (sPos * 65536 + s.hzoom - 1) / s.hzoom;
                shift = static_cast<int>(q - W);
                col.sub = static_cast<int>((((q * s.hzoom) & 0xFFFF) + 128) / 256);
                memStart = sPos * num / den;
            }
            const bool last = c == totalh - 1;
            const int leadOut = last ? 0 : std::min(4, pos[c + 1]);
            const int readEnd = pos[c + 1] + leadOut;
            col.width = std::max(16, pos[c + 1] - pos[c] + leadIn + leadOut);
            col.hstReg = p.hst + leadIn + PS_ACTHST + shift;
            col.mem = hmir ? static_cast<long long>(T - readEnd) * num / den : memStart;
        } else {
            col.hstReg = p.hst + PS_ACTHST;
            col.width = std::max(16, p.hw);
            col.mem = hmir ? static_cast<long long>(owin.hw - W - p.hw) * num / den : static_cast<long long>(W) * num / den;
        }
        W += p.hw;
    }

    const bool vz = s.vmode == 2;
    int V = 0;
    int vpos[kOchCount + 1] = {};
    if (vz)
        zoomStarts(s.vzoom, parts, totalv, &_ImageWindowDef2_St::vw, vpos);
    const int TV = vz ? zoomPos(s.vzoom, owin.vw) : 0;
    for (int r = 0; r < totalv; ++r) {
        const _ImageWindowDef2_St& p = parts[r];
        Row& row = rows[r];
        if (vz) {
            const int leadIn = (r == 0 || vpos[r] < 5) ? 0 : 4;
            const bool last = r == totalv - 1;
            const int leadOut = last ? 0 : std::min(4, vpos[r + 1]);
            const int first = vpos[r] - leadIn;
            row.height = vpos[r + 1] + leadOut - first + 2;
            row.vstReg = p.vst + leadIn + PS_ACTVST;
            if (leadIn > 0) {
                const long long q = (static_cast<long long>(first) * 65536 + s.vzoom - 1) / s.vzoom;
                row.vstReg += static_cast<int>(q - V);
                row.sub = static_cast<int>((((q * s.vzoom) & 0xFFFF) + 128) / 256);
            }
            row.mem = vmir ? L * TV - L * first : L * first;
        } else {
            row.vstReg = p.vst + PS_ACTVST;
            row.height = p.vw > 0 ? p.vw + 1 : 1;
            row.mem = vmir ? L * (owin.vw - 1 - V) : L * V;
        }
        V += p.vw;
    }

    bool hOff = false;
    bool vOff = false;
    for (int c = 0; c < totalh; ++c)
        hOff = hOff || cols[c].hstReg < 10;
    for (int r = 0; r < totalv; ++r)
        vOff = vOff || rows[r].vstReg < 3;

    int och[kOchCount];
    get_och(win, och);
    const int firstOch = och[0];
    for (int r = 0; r < totalv; ++r) {
        for (int c = 0; c < totalh; ++c) {
            const int k = r * totalh + c;
            if (k >= kOchCount || !validCh(och[k]))
                continue;
            const int ch = och[k];
            const unsigned off = chOffset(ch);
            const _ImageWindowDef2_St& ph = parts[c];
            const _ImageWindowDef2_St& pv = parts[r];
            const unsigned kind = ch == 0 ? 1u : 0x11u;
            unsigned src;
            if (k == 0)
                src = (static_cast<unsigned>(std::max(mainIch, 0)) << 8) | kind;
            else
                src = (static_cast<unsigned>(std::max(firstOch, 0)) << 8) | 0x1000u | kind;
            drv->write_C331(fd, 0x080802, src, off);
            for (unsigned i = 0; i < 5; ++i) {
                const long long a = static_cast<long long>(base[i]) + vstart + rows[r].mem + hstart + cols[c].mem +
                                    mirrorOff;
                drv->write_C331(fd, 0x160804 + 0x400 * i, static_cast<unsigned>(a), off);
            }
            drv->write_C331(fd, 0x163001, pitchValue, off);
            drv->write_C331(fd, 0x084002, static_cast<unsigned>(std::max(0, cols[c].hstReg)), off);
            drv->write_C331(fd, 0x084202, hOff ? 0u : static_cast<unsigned>(cols[c].width), off);
            drv->write_C331(fd, 0x084402, static_cast<unsigned>(std::max(0, rows[r].vstReg)), off);
            drv->write_C331(fd, 0x084602, vOff ? 0u : static_cast<unsigned>(rows[r].height), off);
            drv->write_C331(fd, 0x082201, hmir ? 1u : 0u, off);
            drv->write_C331(fd, 0x083202, static_cast<unsigned>(ph.hst + ph.hw + PS_OAOIHST), off);
            drv->write_C331(fd, 0x0A4601, hz ? (ph.hw > 0 ? 199u : 0x47u) : 0u, off);
            drv->write_C331(fd, 0x0A4701, static_cast<unsigned>(cols[c].sub) & 0xFF, off);
            drv->write_C331(fd, 0x0A4801, static_cast<unsigned>(cols[c].sub) >> 8, off);
            drv->write_C331(fd, 0x0A4902, static_cast<unsigned>(s.hzoom), off);
            drv->write_C331(fd, 0x0A4401, vz ? 3u : 0u, off);
            unsigned vctl = vz ? (pv.vw > 0 ? 0x84u : 4u) : 0u;
            if (out_filter[win])
                vctl = 5;
            drv->write_C331(fd, 0x0A4B01, vctl, off);
            drv->write_C331(fd, 0x0A4C01, static_cast<unsigned>(rows[r].sub) & 0xFF, off);
            drv->write_C331(fd, 0x0A4D01, static_cast<unsigned>(rows[r].sub) >> 8, off);
            drv->write_C331(fd, 0x0A4E02, static_cast<unsigned>(s.vzoom), off);
            set_oscwct(fd, ch);
            set_lut_vzoom_4sym(fd, s.vzoom, ch);
        }
    }
}
