// Overlay, layer blending and the output programming pass.
#include "videochip/c331_manage.h"

#include "core/wait_bound.h"
#include "videochip/c331_drv.h"
#include "videochip/c331_trace.h"

#include <algorithm>
#include <cstdio>

using namespace c331;

namespace {

constexpr C331RegDesc kLayerList = 0x0E0904;   // per channel area
constexpr C331RegDesc kLayerGroup = 0x0E0F02;  // per channel area
constexpr C331RegDesc kLayerCoef = 0x0E1101;   // + 0x500 x set + 0x100 x coefficient
constexpr C331RegDesc kIchFreeze = 0x100901;   // per input channel
constexpr C331RegDesc kOchFieldSel = 0x166C02; // per output channel
constexpr C331RegDesc kIchFieldSel = 0x166603; // per input channel
constexpr int kCoefAreas = 4;
constexpr uint64_t kFreezeAlignBoundUs = 200000;

bool validIch(int i) { return i >= 0 && i < kIchCount; }
bool validWin(int w) { return w >= 0 && w < kWinCount; }

int highestLayer(int set)
{
    for (int j = 3; j >= 0; --j)
        if (set & (1 << j))
            return j;
    return -1;
}

} // namespace

void c331_manage::update_overlay_info()
{
    for (int w = 0; w < kWinCount; ++w) {
        int n = 0;
        for (int c = 0; c < kOchCount; ++c) {
            win_och_tbl[w][c] = -1;
        }
        for (int c = 0; c < kOchCount; ++c)
            if (PM_WIN_NUM[c] == w)
                win_och_tbl[w][n++] = c;
    }
    // A channel that renders no window has no priority of its own: it lies
    // below every window of its area.
    auto pri = [this](int c) { return validWin(PM_WIN_NUM[c]) ? PM_OVERLAY_PRI[PM_WIN_NUM[c]] : -1; };
    for (int a = 0; a < kOchCount; ++a) {
        int n = 0;
        for (int c = 0; c < kOchCount && n < kOchCount; ++c) {
            const int o = PM_OVERLAY[c];
            if (o >= 1 && o <= kOchCount && o - 1 == a)
                g_och_layer[a][n++] = c;
        }
        for (int i = n; i < kOchCount; ++i)
            g_och_layer[a][i] = 0;
        g_och_layer_cnt[a] = n;
        for (int i = 0; i < n; ++i)
            for (int j = i + 1; j < n; ++j)
                if (pri(g_och_layer[a][j]) < pri(g_och_layer[a][i]))
                    std::swap(g_och_layer[a][i], g_och_layer[a][j]);
    }
}

void c331_manage::set_overlay(int fd)
{
    for (int a = 0; a < kOchCount; ++a) {
        unsigned v = 0;
        for (int k = 0; k < g_och_layer_cnt[a] && k < kOchCount; ++k)
            v |= static_cast<unsigned>((g_och_layer[a][k] + 8) & 0xF) << (4 * k);
        drv->write_C331(fd, kLayerList, v, chOffset(a));
    }
}

void c331_manage::reset_layer_coef(int fd, int mode)
{
    const unsigned group = mode == 0 ? 0 : mode == 1 ? 0x100 : 0x200;
    for (int a = 0; a < kCoefAreas; ++a) {
        const unsigned b = g_och_layer_cnt[a] > 0 ? 0x80 : 0;
        for (int s = 0; s < 16; ++s) {
            const int top = highestLayer(s);
            for (int i = 0; i < 5; ++i) {
                const unsigned v = (s == 0 ? i == 0 : i == top + 1) ? b : 0;
                drv->write_C331(fd, kLayerCoef + 0x500u * s + 0x100u * i, v, chOffset(a));
            }
            drv->write_C331(fd, kLayerGroup, group, chOffset(a));
        }
    }
}

void c331_manage::set_layer_coef(int fd, int win, int cnt, int dir)
{
    std::printf("set_layer_coef  win=%d  cnt=%d  dir=%d\n", win, cnt, dir);
    if (cnt < 0)
        return;
    for (int i = 0; i <= cnt; ++i) {
        int a;
        int b;
        if (dir == 1) {
            a = cnt == 0 ? 128 : 128 * i / cnt;
            b = 128 - a;
        } else {
            b = cnt == 0 ? 128 : 128 * i / cnt;
            a = 128 - b;
        }
        drv->write_C331(fd, 0x002201, 255, 0);
        drv->write_C331(fd, 0x002301, 255, 0);
        for (int area = 0; area < kCoefAreas; ++area) {
            const int n = std::min(g_och_layer_cnt[area], kOchCount);
            if (n <= 0)
                continue;
            int k = -1;
            for (int p = 0; p < n; ++p) {
                const int c = g_och_layer[area][p];
                if (c >= 0 && c < kOchCount && PM_WIN_NUM[c] == win)
                    k = p;
            }
            if (k < 0)
                continue;
            unsigned group = 0;
            if (k == 4) {
                group = 0x100;
                k = 3;
            } else if (k > 4) {
                group = 0x200;
                k = 3;
            }
            drv->write_C331(fd, kLayerGroup, group, chOffset(area));
            for (int s = 1; s < 16; ++s) {
                if (highestLayer(s) != k)
                    continue;
                int below = 0;   // the background
                for (int j = k - 1; j >= 0 && j >= k - 2; --j) {
                    if (s & (1 << j)) {
                        below = j + 1;
                        break;
                    }
                }
                if (below == 0 && k == 3 && (s & 1))
                    below = 1;
                drv->write_C331(fd, kLayerCoef + 0x500u * s + 0x100u * (k + 1), static_cast<unsigned>(a),
                                chOffset(area));
                drv->write_C331(fd, kLayerCoef + 0x500u * s + 0x100u * below, static_cast<unsigned>(b),
                                chOffset(area));
            }
        }
        drv->write_C331(fd, 0x002201, 169, 0);
        drv->write_C331(fd, 0x002301, 203, 0);
        // A sync that stopped is not waited for at every step of a fade.
        if (i == 0 || last_povs_ok)
            wait1_povs(fd, 0);
    }
}

void c331_manage::reset_act(int fd, int mode)
{
    if (mode == 0 || mode == 2) {
        for (int i = 0; i < kIchCount; ++i)
            if (g_ich_win[i] == -1)
                drv->write_C331(fd, 0x101902, 0, chOffset(i));
    }
    if (mode == 1 || mode == 2) {
        for (int c = 0; c < kOchCount; ++c) {
            const int w = PM_WIN_NUM[c];
            const bool used = validWin(w) && PM_WIN_SHAPE[w][0] > 0 && PM_WIN_SHAPE[w][1] > 0 &&
                              PM_AREA_NUM[c] < PM_WIN_SHAPE[w][0] * PM_WIN_SHAPE[w][1];
            if (!used)
                drv->write_C331(fd, 0x084202, 0, chOffset(c));
        }
    }
}

void c331_manage::set_freeze(int fd, int on)
{
    auto changed = [this](int w) { return g_chg_input[w] || g_chg_dbd[w] || g_chg_win[w]; };
    if (!on) {
        for (int w = 0; w < kWinCount; ++w) {
            const int m = validWin(PM_WIN_STITCHING[w]) ? PM_WIN_STITCHING[w] : w;
            const int* s = fld_sel[m];
            const unsigned v = (((s[0] & 7) << 4) | (s[3] & 7)) + ((s[1] & 7) << 8) + ((s[2] & 7) << 12);
            for (int c = 0; c < kOchCount; ++c)
                if (PM_WIN_NUM[c] == w)
                    drv->write_C331(fd, kOchFieldSel, v, chOffset(c));
            win_frozen[w] = 0;
        }
        return;
    }

    // The changed windows and the input channel each shows now.
    int wins[kWinCount];
    int ichs[kWinCount];
    int n = 0;
    for (int w = 0; w < kWinCount; ++w) {
        if (!changed(w))
            continue;
        wins[n] = w;
        ichs[n] = applied_win_ich[w][0] != -1 ? applied_win_ich[w][0] : g_win_ich[w][0];
        ++n;
    }
    set_rtct(fd, 0);
    if (n == 0 || !validIch(ichs[0]))
        return;
    auto phase = [this, fd](int ich) {
        return static_cast<int>((drv->read_C331(fd, kFieldStatus + 0x100u * static_cast<unsigned>(ich), 0) >> 2) & 3);
    };
    drv->write_C331(fd, kIchFreeze, 2, chOffset(ichs[0]));
    const int p = phase(ichs[0]);
    bool frozen[kWinCount] = {true};
    if (n > 1) {
        // The other windows' phases are read back to back until each has
        // matched once; the phases move once a frame, so a few frames at the
        // slowest input rate bound the alignment.
        waitUntil(kFreezeAlignBoundUs, 0, [&] {
            int mismatch = 0;
            for (int i = 1; i < n; ++i) {
                if (frozen[i])
                    continue;
                if (!validIch(ichs[i]))
                    break;
                if (phase(ichs[i]) == p) {
                    drv->write_C331(fd, kIchFreeze, 2, chOffset(ichs[i]));
                    frozen[i] = true;
                } else {
                    ++mismatch;
                }
            }
            return mismatch == 0;
        });
    }
    for (int i = 0; i < n; ++i) {
        const int w = wins[i];
        for (int k = 0; k < kIchCount; ++k)
            if (validIch(applied_win_ich[w][k]))
                drv->write_C331(fd, 0x000801 + 0x100u * static_cast<unsigned>(applied_win_ich[w][k]), 1, 0);
    }
    wait1_povs(fd, 0);

    const int F = wins[0];
    std::swap(fld_sel[F][(p + 3) & 3], fld_sel[F][4]);
    const int* s = fld_sel[F];
    const unsigned packed = (((s[1] & 7) << 4) | (s[0] & 7)) + ((s[2] & 7) << 8) + ((s[3] & 7) << 12) +
                            (static_cast<unsigned>(s[4] & 7) << 16);
    for (int i = 0; i < n; ++i) {
        const int w = wins[i];
        if (w != F)
            std::copy(fld_sel[F], fld_sel[F] + 5, fld_sel[w]);
        const int* list = applied_win_ich[w][0] != -1 ? applied_win_ich[w] : g_win_ich[w];
        for (int k = 0; k < kIchCount; ++k)
            if (validIch(list[k]))
                drv->write_C331(fd, kIchFieldSel, packed, chOffset(list[k]));
        win_frozen[w] = 1;
    }
    const unsigned s4 = static_cast<unsigned>(s[4] & 7);
    const unsigned fifth = ((s4 << 4) | s4) + (s4 << 8) + (s4 << 12);
    for (int c = 0; c < kOchCount; ++c)
        for (int i = 0; i < n; ++i)
            if (applied_win_num[c] == wins[i])
                drv->write_C331(fd, kOchFieldSel, fifth, chOffset(c));
}

void c331_manage::set_output(int fd)
{
    auto changed = [this](int w) { return g_chg_input[w] || g_chg_dbd[w] || g_chg_win[w]; };

    // 1-2. Windows without a shape give up their input channels; changed
    // windows get theirs.
    for (int w = 0; w < kWinCount; ++w)
        reset_ich(w);
    for (int w = 0; w < kWinCount; ++w) {
        const bool noIch = g_win_ich[w][0] < 0;
        if (g_chg_input[w] == 1 || g_chg_input[w] == 3 || g_chg_dbd[w] || (g_chg_win[w] && noIch)) {
            if (set_input(w, PM_INPUT[w]) == 2) {
                g_chg_input[w] = 0;
                g_chg_dbd[w] = 0;
            }
        }
    }

    // 3. One window switching input with its fade on fades; anything more
    // freezes the outputs.
    int fades = 0;
    int F = -1;
    for (int w = 0; w < kWinCount; ++w) {
        if (g_chg_input[w] == 1 && PM_WIN_FADE_EN[w]) {
            ++fades;
            F = w;
        }
    }
    check_stitching_chg();
    for (int w = 0; w < kWinCount; ++w) {
        if (g_chg_input[w] == 2 || g_chg_input[w] == 3 || g_chg_dbd[w] == 1 ||
            (g_chg_input[w] == 1 && !PM_WIN_FADE_EN[w]) || g_chg_win[w] == 1)
            fades = 0;
    }
    const bool fade = !g_chg_overlay && fades == 1 && F >= 0;
    if (fade)
        set_layer_coef(fd, F, PM_WIN_FADE_OUT[F], 0);
    else
        set_freeze(fd, 1);

    // 5. Input and output window of each changed window.
    bool preShrunk[kWinCount] = {};
    for (int w = 0; w < kWinCount; ++w) {
        out_filter[w] = 1;
        if (!changed(w))
            continue;
        calc_iwin2(w);
        calc_owin2(w);
        if (PM_WIN_DBD_MODE[w] == 0) {
            _ImageWindowDef_st ow = OWIN[w];
            if (PS_VBOTX_MODE == 2 && IWIN[w].vw < OWIN[w].vw && IWIN[w].hw > 0x880 && OWIN[w].hw > 0x880)
                ow.hw = 0x880;
            set_display_window_ich(fd, IWIN[w], ow, w);
        } else {
            set_display_window_ich_dbd(fd, w, PM_WIN_DBD_MODE[w]);
        }
        if (PS_VBOTX_MODE == 2 && IWIN[w].vw < OWIN[w].vw) {
            out_filter[w] = 0;
            if (IWIN[w].hw > 0x880 && OWIN[w].hw > 0x880)
                preShrunk[w] = true;
        }
    }

    // 6. The latch holds every window write for one frame.
    reset_act(fd, 0);
    wait1_pivs2(fd);
    wait1_pivs2(fd);
    set_rtct(fd, 2);

    // 7. Output side of the changed windows.
    for (int w = 0; w < kWinCount; ++w) {
        if (!changed(w) && !g_chg_mirror[w])
            continue;
        _ImageWindowDef_st in = IWIN[w];
        if (preShrunk[w])
            in.hw = 0x880;
        set_display_window_och(fd, in, OWIN[w], w);
        set_input_bkg2(fd, w, 0);
    }

    // 8. Layer order of the channel areas.
    if (g_chg_overlay || g_chg_pri) {
        update_overlay_info();
        set_overlay(fd);
        reset_layer_coef(fd, 0);
        g_chg_overlay = 0;
        g_chg_pri = 0;
    }

    // 9-11.
    reset_act(fd, 1);
    if (fade)
        set_layer_coef(fd, F, PM_WIN_FADE_IN[F], 1);
    else
        set_freeze(fd, 0);
    set_rtct(fd, 1);

    // 12. What the chip now shows.
    std::copy(PM_WIN_NUM, PM_WIN_NUM + kOchCount, applied_win_num);
    for (int w = 0; w < kWinCount; ++w)
        std::copy(g_win_ich[w], g_win_ich[w] + kIchCount, applied_win_ich[w]);

    // 13-14.
    for (int w = 0; w < kWinCount; ++w) {
        const int mode = PM_WIN_DBD_MODE[w];
        const int port = PM_INPUT[w];
        if (mode <= 0 || (mode == 1 && !(port >= 0 && port < kPortCount && check_dbd_input(fd, port))))
            reset_dbd_mem(w);
        g_chg_win[w] = 0;
        g_chg_input[w] = 0;
        g_chg_dbd[w] = 0;
        g_chg_mirror[w] = 0;
        g_chg_stitch[w][0] = 0;
    }
}
