// Input side of a window: capture, shrink and field memory of its input channels.
#include "videochip/c331_manage.h"

#include "videochip/c331_drv.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>

using namespace c331;

namespace {

struct Capture {
    int st;
    int w;
};

// 16.16 shrink ratio of in -> out; 0x10000 when the side is not shrunk
// (the input side only shrinks, zooming is left to the output side).
int shrinkRatio(int out, int in)
{
    if (out > 0 && out < in)
        return static_cast<int>((static_cast<int64_t>(out - 1) * 65536) / (in - 1) + 1);
    return 0x10000;
}

// Initial phase of a shrink starting at input pixel st; 0 = phase off.
int initialPhase(int st, int ratio)
{
    if (st < 1)
        return 0;
    const int ph = 256 - static_cast<int>(((static_cast<int64_t>(st) * ratio) & 0xFFFF) >> 8);
    return ph == 256 ? 0 : ph;
}

// Bytes of one memory line of n pixels in write format mode; shift is
// where the line starts.
unsigned lineBytes(int n, int mode, unsigned& shift)
{
    shift = 0;
    const unsigned u = static_cast<unsigned>(std::max(0, n));
    switch (mode) {
    case 1: return (u / 5) * 80 / 5 + (u % 5) * 3;
    case 2: {
        const unsigned pad = (3 - u % 3) % 3;
        shift = 2 * pad;
        return (u + pad) * 8 / 3;
    }
    case 3: return 2 * u;
    default: return 4 * u;
    }
}

} // namespace

void c331_manage::set_display_window_ich(int fd, _ImageWindowDef_st iwin, _ImageWindowDef_st owin, int win)
{
    if (win < 0 || win >= kWinCount)
        return;
    const int ich = g_win_ich[win][0];
    const int p = PM_INPUT[win];
    if (ich < 0 || ich >= kIchCount || p < 0 || p >= kPortCount)
        return;
    const bool second = ich + 1 < kIchCount && g_win_ich[win][1] >= 0;
    const int state = PI_PORT_INFO[p].STATE;
    const bool halves = state < 4;
    int dual = 0;
    if (second && halves)
        dual = PI_HDMI_INFO[p].lane < 5 ? 2 : 1;
    PM_MEM_WMODE[win] = PI_PORT_INFO[p].IP ? 2 : PS_MEM_WMODE[win];

    const int hr = shrinkRatio(owin.hw, iwin.hw);
    const int vr = shrinkRatio(owin.vw, iwin.vw);

    // The window's capture starts at the port's active area (offsets o and
    // 0): memory holds the whole picture, shrunk from its first pixel and
    // line, and the output side reads the window from the memory pixel of
    // its input offsets. The initial phases describe that same start, so
    // that the memory position the output side computes holds the first
    // sample at or after the window's start (a phase taken from the
    // window's offsets would shift the samples under it by up to one
    // memory pixel).
    const int hst = PI_ACT[p].hst;
    const int hw = PI_ACT[p].hw;
    const int o = 0;
    const int hph = initialPhase(o, hr);
    const int vph = vr != 0x10000 ? initialPhase(0, vr) : 0;
    Capture c1{}, c2{};
    unsigned line = 0, shift = 0;
    for (int round = 0; round < 3; ++round) {
        if (!halves) {
            c1 = {hst + o - 7, hw};
            c2 = {0, 0};
        } else if (o >= -hw && o < hw) {
            c1 = {hst + o - 7, hw - o};
            c2 = {hst - 7, hw + o};
        } else if (o >= hw) {
            c1 = {hst + hw - 7, 0};
            c2 = {hst + (o - hw) - 7, 2 * hw};
        } else {
            c1 = {hst - hw - 7, 2 * hw};
            c2 = {hst - 7, 0};
        }
        int n = c1.w;
        const int mode = PM_MEM_WMODE[win];
        if (hr == 0x10000 || !halves) {
            line = lineBytes(n, mode, shift);
            break;
        }
        // A shrunk first half is widened to an even output width; the
        // second half starts that much later.
        const int64_t m = (static_cast<int64_t>(hr) * (n - 1) + (hph ? 0 : 65536) + 256 * hph) >> 16;
        const int64_t m2 = (m + 1) & ~int64_t{1};
        const int64_t need = std::max<int64_t>((((m2 - 1) * 65536) + hr - 1) / hr + 1, n);
        const int excess = static_cast<int>(need - n);
        c1.w += excess;
        c2.st += excess;
        c2.w = std::max(0, c2.w - excess);
        // The widened first half yields m' samples in every format: its line
        // holds them all (the second half's memory starts after them).
        line = lineBytes(static_cast<int>(m2), mode, shift);
        int next = mode;
        if (mode >= 1 && mode <= 3 && excess > 2)
            next = 0;
        else if (mode == 0 && PS_MEM_WMODE[win] != 0 && excess <= 2)
            next = PS_MEM_WMODE[win];
        if (next == mode || round == 2)
            break;
        std::printf("\n *** YUV CHG DET win=%d [%d] to ", win, mode);
        std::printf("[%d]\n", next);
        PM_MEM_WMODE[win] = next;
    }

    set_idual(fd, ich, dual, p);
    set_ichsel(fd, win);

    unsigned codes = 0;
    for (unsigned k = 0; k < 5; ++k)
        codes |= (static_cast<unsigned>(fld_sel[win][k]) & 7u) << (4 * k);
    const unsigned off = chOffset(ich);
    // The second half continues the first one's samples.
    const int hph2 = initialPhase(o + c1.w, hr);
    const unsigned vst = static_cast<unsigned>(PI_ACT[p].vst + 1) & 0xFFFF;
    const unsigned vw = static_cast<unsigned>(PI_ACT[p].vw) & 0xFFFF;
    // Bank 0x10/0x16 reach the first channel, 0x20/0x26 the one after it.
    for (unsigned bank : {0u, 0x100000u}) {
        const bool isSecond = bank != 0;
        if (isSecond && !second)
            break;
        const Capture& c = isSecond ? c2 : c1;
        const int ph = isSecond ? hph2 : hph;
        drv->write_C331(fd, bank + 0x100901, 1, off);
        drv->write_C331(fd, bank + 0x101702, static_cast<unsigned>(c.st) & 0xFFFF, off);
        drv->write_C331(fd, bank + 0x101902, static_cast<unsigned>(c.w) & 0xFFFF, off);
        drv->write_C331(fd, bank + 0x101B02, vst, off);
        drv->write_C331(fd, bank + 0x101D02, vw, off);
        drv->write_C331(fd, bank + 0x114201, ((ph ? 16u : 0u) + (vph ? 1u : 0u)) * 8, off);
        drv->write_C331(fd, bank + 0x114301, 2, off);
        drv->write_C331(fd, bank + 0x114401, hr == 0x10000 ? 0x80 : 199, off);
        drv->write_C331(fd, bank + 0x114501, static_cast<unsigned>(ph), off);
        drv->write_C331(fd, bank + 0x114601, static_cast<unsigned>(ph), off);
        drv->write_C331(fd, bank + 0x114702, hr == 0x10000 ? 0 : static_cast<unsigned>(hr), off);
        drv->write_C331(fd, bank + 0x114901, vr == 0x10000 ? 0x80 : 0x84, off);
        drv->write_C331(fd, bank + 0x114A01, static_cast<unsigned>(vph), off);
        drv->write_C331(fd, bank + 0x114B01, static_cast<unsigned>(vph), off);
        drv->write_C331(fd, bank + 0x114C02, vr == 0x10000 ? 0 : static_cast<unsigned>(vr), off);
        for (unsigned k = 0; k < 5; ++k)
            drv->write_C331(fd, bank + 0x161C04 + 0x400 * k, PS_MEM_SC[ich][k] + shift + (isSecond ? line : 0), off);
        drv->write_C331(fd, bank + 0x163101, static_cast<unsigned>(PS_MEM_MWI), off);
        drv->write_C331(fd, bank + 0x166603, codes, off);
    }
    if (second)
        drv->write_C331(fd, 0x200901, (static_cast<unsigned>(ich) & ~1u) + 8, off);

    set_lut_hshrnk(fd, hr, ich, second);
    set_lut_vshrnk_4sym(fd, vr, ich, second);
    set_iscwct(fd, win);
    set_mct(fd, win, 0);
    set_ip(fd, ich);
}
