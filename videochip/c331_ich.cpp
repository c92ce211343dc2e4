// Input channel allocation: which of the eight input channels each window
// uses, the moves that make room for interlaced and V-by-One inputs, the
// channel source selection and the dual split of the V-by-One ports.
#include "videochip/c331_manage.h"

#include "core/wait_bound.h"
#include "videochip/c331_drv.h"
#include "videochip/c331_trace.h"

#include <cstdio>

using namespace c331;

namespace {

constexpr C331RegDesc kIchSel = 0x001001;      // + 0x100 x channel
constexpr C331RegDesc kIdualCt = 0x030801;     // + 0x900 x pair
constexpr C331RegDesc kIdualHst = 0x030902;
constexpr C331RegDesc kIdualHw = 0x030B02;

bool validPort(int p) { return p >= 0 && p < kPortCount; }

} // namespace

int c331_manage::ich_demand(int win) const
{
    if (win < 0 || win >= kWinCount || !PM_WIN_SHAPE[win][0] || !PM_WIN_SHAPE[win][1])
        return 0;
    const int mode = PM_WIN_DBD_MODE[win];
    if (mode < 2) {
        const int p = PM_INPUT[win];
        return p >= 0 && p <= 3 ? 1 : (p == 4 || p == 5 ? 2 : 0);
    }
    if (mode < 30)
        return 2;
    if (mode < 40)
        return 3;
    if (mode <= 51)
        return 4;
    return 0;
}

void c331_manage::rebuild_win_ich()
{
    for (int w = 0; w < kWinCount; ++w) {
        int n = 0;
        for (int c = 0; c < kIchCount; ++c)
            g_win_ich[w][c] = -1;
        for (int c = 0; c < kIchCount; ++c) {
            if (g_ich_win[c] == w)
                g_win_ich[w][n++] = c;
        }
    }
}

int c331_manage::check_ich_all(int win)
{
    int sum = 0;
    for (int w = 0; w < kWinCount; ++w)
        sum += ich_demand(w);
    if (sum > kIchCount) {
        std::printf("check_ich_all ret=%d\n", -1);
        return -1;
    }
    for (int c = 0; c < kIchCount; ++c) {
        const int o = g_ich_win[c];
        if (o < 0)
            continue;
        if (o >= kWinCount || !PM_WIN_SHAPE[o][0] || !PM_WIN_SHAPE[o][1] || o == win)
            g_ich_win[c] = -1;
    }
    rebuild_win_ich();
    std::printf("check_ich_all ret=%d\n", sum);
    return sum;
}

int c331_manage::check_ich(int interlaced, int pair)
{
    auto f = [this](int c) { return g_ich_win[c] == -1; };
    if (pair) {
        for (int a : {4, 6, 2, 0}) {
            if (f(a) && f(a + 1))
                return a;
        }
        return -1;
    }
    if (f(0))
        return f(2) ? 0 : (f(3) ? 3 : 0);
    if (interlaced) {
        for (int c : {1, 2, 3}) {
            if (f(c))
                return c;
        }
        return -1;
    }
    if (f(2))
        return f(1) ? 1 : 2;
    if (f(1))
        return 1;
    if (f(3))
        return 3;
    if (f(4) && f(6))
        return 4;
    if (f(4))
        return f(7) ? 7 : 4;
    if (f(6))
        return f(5) ? 5 : 6;
    for (int c : {5, 7}) {
        if (f(c))
            return c;
    }
    return -1;
}

int c331_manage::adjust_ich(int interlaced, int pair, int win)
{
    auto firstFree = [this](std::initializer_list<int> list) {
        for (int c : list) {
            if (g_ich_win[c] == -1)
                return c;
        }
        return -1;
    };
    // Whether the owner of channel c holds other channels too (a V-by-One
    // pair or a multi-channel window): its channels move together or not
    // at all, so it is never moved.
    auto shared = [this](int c) {
        const int owner = g_ich_win[c];
        if (owner < 0)
            return false;
        for (int k = 0; k < kIchCount; ++k)
            if (k != c && g_ich_win[k] == owner)
                return true;
        return false;
    };
    // Moves the owner of channel from to the first free channel of targets.
    auto move = [this, &firstFree, &shared](int from, std::initializer_list<int> targets) {
        if (g_ich_win[from] == -1)
            return true;
        if (shared(from))
            return false;
        const int t = firstFree(targets);
        if (t < 0)
            return false;
        const int owner = g_ich_win[from];
        g_ich_win[t] = owner;
        g_ich_win[from] = -1;
        if (owner >= 0 && owner < kWinCount)
            g_chg_input[owner] = 2;
        return true;
    };
    auto ng = []() {
        std::printf("adjust_ich NG!!!");
        return -1;
    };

    if (!pair) {
        int c = interlaced ? firstFree({0, 1, 2, 3}) : firstFree({0, 1, 2, 3, 4, 5, 6, 7});
        if (c < 0 && interlaced) {
            for (int k = 0; k < 4 && c < 0; ++k) {
                const int o = g_ich_win[k];
                const int p = o >= 0 && o < kWinCount ? PM_INPUT[o] : -1;
                if ((validPort(p) && PI_PORT_INFO[p].IP) || shared(k))
                    continue;
                if (!move(k, {4, 5, 6, 7}))
                    return ng();
                c = k;
            }
            if (c < 0) {
                std::printf("ICH1-4 is not available!!!");
                c = firstFree({4, 5, 6, 7});
            }
        }
        if (c < 0)
            return ng();
        g_ich_win[c] = win;
        return 0;
    }

    // A pair: the first pair with a free channel whose other channel can be
    // freed (its owner moved elsewhere, alone).
    struct Way {
        int free, first, from;
        std::initializer_list<int> targets;
    };
    const Way ways[] = {
        {4, 4, 5, {6, 7, 0, 1, 2, 3}}, {5, 4, 4, {6, 7, 0, 1, 2, 3}}, {6, 6, 7, {0, 1, 2, 3}},
        {7, 6, 6, {0, 1, 2, 3}},       {0, 0, 1, {2, 3}},             {1, 0, 0, {2, 3}},
    };
    for (const Way& w : ways) {
        if (g_ich_win[w.free] != -1 || !move(w.from, w.targets))
            continue;
        g_ich_win[w.first] = win;
        g_ich_win[w.first + 1] = win;
        return 0;
    }
    return ng();
}

int c331_manage::set_input(int win, int port)
{
    if (win < 0 || win >= kWinCount)
        return 2;
    const int mode = PM_WIN_DBD_MODE[win];
    if (mode > 1 && g_chg_dbd[win] == 0)
        return 0;
    if (!PM_WIN_SHAPE[win][0] || !PM_WIN_SHAPE[win][1]) {
        c331_trace("[set_input] win_%d, port_%d, window is unavailable\n", win, port);
        return 2;
    }
    if (check_ich_all(win) == -1) {
        c331_trace("[set_input] win_%d, check_ich_all(win) fail\n", win);
        return 2;
    }
    int result = 0;
    if (mode < 2) {
        if (!validPort(port))
            return 2;
        const int pair = port >= 4 ? 1 : 0;
        const int ip = pair ? 0 : PI_PORT_INFO[port].IP;
        const int c = check_ich(ip, pair);
        if (c >= 0) {
            g_ich_win[c] = win;
            if (pair)
                g_ich_win[c + 1] = win;
        } else {
            result = adjust_ich(ip, pair, win) == 0 ? 1 : 2;
        }
    } else {
        const int steps = mode < 30 ? 2 : (mode < 40 ? 3 : (mode <= 51 ? 4 : 0));
        bool failed = steps == 0;
        int adjusts = 0;
        for (int s = 0; s < steps && !failed; ++s) {
            const int c = check_ich(0, 0);
            bool adjusted = false;
            if (c >= 0) {
                g_ich_win[c] = win;
            } else if ((steps == 4 || adjusts == 0) && adjust_ich(0, 0, win) == 0) {
                adjusted = true;
                ++adjusts;
            } else {
                failed = true;
            }
            if (steps == 4)
                result = adjusted ? 1 : 0;
            else if (adjusted)
                result = 1;
        }
        if (failed) {
            std::printf("set_input Dot-By-Dot Rare Case!!!   win=%d  port=%d\n", win, port);
            result = 2;
        }
    }
    rebuild_win_ich();
    return result;
}

void c331_manage::reset_ich(int win)
{
    if (win < 0 || win >= kWinCount || (PM_WIN_SHAPE[win][0] && PM_WIN_SHAPE[win][1]))
        return;
    for (int i = 0; i < kIchCount && g_win_ich[win][i] != -1; ++i) {
        const int c = g_win_ich[win][i];
        if (c >= 0 && c < kIchCount)
            g_ich_win[c] = -1;
        g_win_ich[win][i] = -1;
    }
}

void c331_manage::set_idual(int fd, int ich, int on, int port)
{
    if (ich < 0 || ich >= kIchCount)
        return;
    const unsigned k = 0x900u * static_cast<unsigned>(ich / 2);
    if (on && validPort(port)) {
        drv->write_C331(fd, kIdualCt + k, 3, 0);
        drv->write_C331(fd, kIdualHst + k, static_cast<unsigned>(PI_ACT[port].hst), 0);
        drv->write_C331(fd, kIdualHw + k, static_cast<unsigned>(2 * PI_ACT[port].hw), 0);
    } else {
        drv->write_C331(fd, kIdualCt + k, 0, 0);
    }
}

void c331_manage::set_ichsel(int fd, int win)
{
    if (win < 0 || win >= kWinCount)
        return;
    const int mode = PM_WIN_DBD_MODE[win];
    c331_trace("[set_ichsel] PM_WIN_DBD_MODE[win_%d]:%d\n", win, mode);
    if (g_win_ich[win][0] < 0)
        return;
    auto second = [this](int p) { return 4 * (p - 2) + (PI_HDMI_INFO[p].lane <= 4 ? 1 : 2); };
    int codes[4];
    int n = 0;
    switch (mode) {
    case DBD_DISABLE:
    case DBD_SINGLE_INPUT: {
        const int p = PM_INPUT[win];
        if (p >= 0 && p <= 3) {
            codes[n++] = 2 * p;
        } else if (p == 4 || p == 5) {
            codes[n++] = 4 * (p - 2);
            codes[n++] = second(p);
        }
        break;
    }
    case DBD_CMOS_IN12: case DBD_CMOS_IN12V: codes[0] = 0; codes[1] = 2; n = 2; break;
    case DBD_CMOS_IN34: case DBD_CMOS_IN34V: codes[0] = 4; codes[1] = 6; n = 2; break;
    case DBD_CMOS_IN123: codes[0] = 0; codes[1] = 2; codes[2] = 4; n = 3; break;
    case DBD_CMOS_IN1234: case DBD_CMOS_IN1234Q: codes[0] = 0; codes[1] = 2; codes[2] = 4; codes[3] = 6; n = 4; break;
    case DBD_VBO_IN12: case DBD_VBO_IN12V:
        for (int p : {4, 5})
            c331_trace(PI_HDMI_INFO[p].lane <= 4 ? "\t port_%d 4 lane\n" : "\t port_%d 8 lane\n", p);
        codes[0] = 8; codes[1] = second(4); codes[2] = 12; codes[3] = second(5); n = 4;
        break;
    default: break;
    }
    for (int i = 0; i < n && i < kIchCount && g_win_ich[win][i] >= 0; ++i)
        drv->write_C331(fd, kIchSel + 0x100u * static_cast<unsigned>(g_win_ich[win][i]),
                        static_cast<unsigned>(codes[i]), 0);
}

void c331_manage::wait1_povs(int fd, int och)
{
    if (och < 0 || och >= kOchCount)
        return;
    const unsigned bit = 1u << och;
    drv->write_C331(fd, kOutputSyncLatch, bit, 0);
    drv->write_C331(fd, kStatusHold, 0x80, 0);
    // The sync comes once a frame: polled every 1 ms, for at most a few
    // frames at the slowest output rate (a stopped sync does not hold the
    // pass for ever).
    const bool ok = waitUntil(kOutputSyncBoundUs, 1000,
                              [&] { return (drv->read_C331(fd, kOutputSyncStatus, 0) & bit) != 0; });
    last_povs_ok = ok;
    drv->write_C331(fd, kOutputSyncLatch, 0, 0);
    drv->write_C331(fd, kStatusHold, 0, 0);
    wait_result(WAIT_POVS, ok);
}

void c331_manage::set_display_window_ich_dbd(int fd, int win, int mode)
{
    if (win < 0 || win >= kWinCount)
        return;
    int ich[kIchCount];
    int n = 0;
    while (n < kIchCount && g_win_ich[win][n] >= 0 && g_win_ich[win][n] < kIchCount) {
        ich[n] = g_win_ich[win][n];
        ++n;
    }
    if (n == 0)
        return;
    for (int i = 0; i < n; ++i)
        set_idual(fd, ich[i], 0, 0);
    if (set_dbd_mem(fd, win) != 0) {
        g_chg_input[win] = 0;
        g_chg_dbd[win] = 0;
        std::printf("[set_display_window_ich_dbd] g_chg_dbd[%d]:%d\n", win, 0);
        set_mct(fd, win, 0);
        return;
    }
    set_ichsel(fd, win);

    // Source area of each channel.
    auto area = [this](int p) {
        _ImageWindowDef_st a = g_dbd_port_act[p];
        a.hst -= 7;
        a.vst += 1;
        return a;
    };
    auto half = [this](int p) {
        const _ImageWindowDef_st& a = g_dbd_port_act[p];
        return _ImageWindowDef_st{a.hst / 2 - 7, a.hw / 2, a.vst + 1, a.vw};
    };
    const _ImageWindowDef_st empty{0, 0, 0, 0};
    _ImageWindowDef_st src[4];
    int need = 0;
    int rowSplit = 0;       // stacked variants: first channel of the second row
    const int port = PM_INPUT[win];
    switch (mode) {
    case DBD_SINGLE_INPUT:
        if (port >= 0 && port <= 3) {
            src[0] = area(port);
            need = 1;
        } else if (port == 4 || port == 5) {
            need = 2;
            if (PI_PORT_INFO[port].STATE < 4) {
                src[0] = src[1] = half(port);
            } else {
                src[0] = area(port);
                src[1] = empty;
            }
        }
        break;
    case DBD_CMOS_IN12V: rowSplit = 1; // fall through
    case DBD_CMOS_IN12: src[0] = area(0); src[1] = area(1); need = 2; break;
    case DBD_CMOS_IN34V: rowSplit = 1; // fall through
    case DBD_CMOS_IN34: src[0] = area(2); src[1] = area(3); need = 2; break;
    case DBD_CMOS_IN123: src[0] = area(0); src[1] = area(1); src[2] = area(2); need = 3; break;
    case DBD_CMOS_IN1234Q: rowSplit = 2; // fall through
    case DBD_CMOS_IN1234:
        for (int i = 0; i < 4; ++i)
            src[i] = area(i);
        need = 4;
        break;
    case DBD_VBO_IN12V: rowSplit = 2; // fall through
    case DBD_VBO_IN12:
        need = 4;
        if (validPort(port) && PI_PORT_INFO[port].STATE < 4) {
            src[0] = src[1] = half(5);
            src[2] = src[3] = half(4);
        } else {
            src[0] = area(5);
            src[1] = empty;
            src[2] = area(4);
            src[3] = empty;
        }
        break;
    default: break;
    }
    if (need == 0 || n < need)
        return;

    PM_MEM_WMODE[win] = PS_MEM_WMODE[win];
    if (mode == DBD_SINGLE_INPUT && validPort(port) && PI_PORT_INFO[port].IP)
        PM_MEM_WMODE[win] = 2;
    const int wmode = PM_MEM_WMODE[win];
    static const unsigned kModeByte[4] = {0, 0x80, 1, 0x11};
    const unsigned modeByte = wmode >= 0 && wmode <= 3 ? kModeByte[wmode] : 0;

    // Line offset of a channel from the widths S of the channels before it
    // in its row.
    auto lineOffset = [wmode](unsigned s) -> unsigned {
        switch (wmode) {
        case 1: return 16 * (s / 5) + 3 * (s % 5);
        case 2: return (s + 2) / 3 * 3 * 8 / 3;
        case 3: return 2 * s;
        default: return 4 * s;
        }
    };
    unsigned offset[4] = {};
    unsigned sum = 0;
    const unsigned rowBase =
        static_cast<unsigned>(dbd_win_mwi[win]) * static_cast<unsigned>(src[0].vw > 0 ? src[0].vw : 0) * 1024u;
    for (int i = 0; i < need; ++i) {
        if (rowSplit && i == rowSplit)
            sum = 0;
        const unsigned base = rowSplit && i >= rowSplit ? rowBase : 0;
        offset[i] = base + (sum ? lineOffset(sum) : 0);
        sum += static_cast<unsigned>(src[i].hw > 0 ? src[i].hw : 0);
    }
    if (wmode == 2 && need > 1) {
        // The first channel starts at twice what the rounding of its width added.
        const unsigned w0 = static_cast<unsigned>(src[0].hw > 0 ? src[0].hw : 0);
        offset[0] = 2 * ((w0 + 2) / 3 * 3 - w0);
    }

    unsigned codes = 0;
    for (unsigned k = 0; k < 5; ++k)
        codes |= (static_cast<unsigned>(fld_sel[win][k]) & 7u) << (4 * k);
    for (int i = 0; i < need; ++i) {
        const unsigned off = chOffset(ich[i]);
        drv->write_C331(fd, 0x100901, i == 0 ? 1 : 8u + static_cast<unsigned>(ich[0]), off);
        drv->write_C331(fd, 0x101702, static_cast<unsigned>(src[i].hst) & 0xFFFF, off);
        drv->write_C331(fd, 0x101902, static_cast<unsigned>(src[i].hw) & 0xFFFF, off);
        drv->write_C331(fd, 0x101B02, static_cast<unsigned>(src[i].vst) & 0xFFFF, off);
        drv->write_C331(fd, 0x101D02, static_cast<unsigned>(src[i].vw) & 0xFFFF, off);
        for (C331RegDesc r : {0x114201u, 0x114301u, 0x114401u, 0x114501u, 0x114601u, 0x114702u, 0x114901u, 0x114A01u,
                              0x114B01u, 0x114C02u})
            drv->write_C331(fd, r, 0, off);
        for (unsigned k = 0; k < 5; ++k)
            drv->write_C331(fd, 0x161C04 + 0x400 * k, dbd_win_fld[win][k] + offset[i], off);
        drv->write_C331(fd, 0x163101, static_cast<unsigned>(dbd_win_mwi[win]), off);
        drv->write_C331(fd, 0x166603, codes, off);
        drv->write_C331(fd, 0x007101 + 0x100u * static_cast<unsigned>(ich[i]), modeByte, 0);
    }
    set_mct(fd, win, 0);
    if (mode == DBD_SINGLE_INPUT)
        set_ip(fd, ich[0]);
}
