// Input-side register helpers: the register-update latch, the sync waits,
// the V-by-One receivers' range, lanes and sync polarity, the background of
// windows without input, the dot-by-dot memory blocks and the input and
// output window of each window.
#include "videochip/c331_manage.h"

#include "core/logMsg.h"
#include "core/wait_bound.h"
#include "videochip/c331_drv.h"
#include "videochip/c331_trace.h"

#include <algorithm>
#include <cstdio>

using namespace c331;

namespace {

const char* const kWaitNames[c331_manage::WAIT_KIND_COUNT] = {
    "input vertical sync", "input field change", "output field change", "V-by-One receiver lock",
    "output vertical sync",
};

bool validPort(int p) { return p >= 0 && p < kPortCount; }

// Number of input channels a window holds (its list ends at the first -1).
int ichCount(const int (&list)[kIchCount])
{
    int n = 0;
    while (n < kIchCount && list[n] >= 0)
        ++n;
    return n;
}

bool isDbd(int mode) { return mode > 0; }

} // namespace

void c331_manage::wait_result(WaitKind kind, bool ok)
{
    if (kind < 0 || kind >= WAIT_KIND_COUNT)
        return;
    if (ok) {
        wait_logged[kind] = false;
        return;
    }
    if (wait_logged[kind])
        return;
    wait_logged[kind] = true;
    writeLogMsg(WARNING, std::string("c331 chip: ") + kWaitNames[kind] + " did not come within its time limit");
}

void c331_manage::set_rtct(int fd, int mode)
{
    static const unsigned char kValues[5][7] = {
        {0, 0, 0, 0, 0, 0, 0},
        {0x99, 0x99, 0x21, 0x43, 0x55, 0x77, 0x99},
        {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF},
        {0xFF, 0xFF, 0x21, 0x43, 0x55, 0x77, 0xFF},
        {0x99, 0x99, 0xFF, 0xFF, 0xFF, 0xFF, 0x99},
    };
    const unsigned char* v = kValues[(mode >= 0 && mode <= 3) ? mode : 4];
    drv->write_c331_mask(fd, kStatusHold, 1, 1, 0);
    for (unsigned i = 0; i < 7; ++i)
        drv->write_C331(fd, kRtctFirst + 0x100 * i, v[i], 0);
    drv->write_c331_mask(fd, kStatusHold, 0, 1, 0);
}

void c331_manage::wait1_pivs(int fd, int ich)
{
    if (ich < 0 || ich >= kIchCount)
        return;
    const unsigned bit = 1u << ich;
    const C331RegDesc chStatus = kIchStatus + 0x500u * static_cast<unsigned>(ich);
    drv->write_C331(fd, kInputSyncLatch, bit, 0);
    drv->write_C331(fd, kStatusHold, 0x80, 0);
    // Read back to back until the channel's sync comes (or the channel
    // reports no input), for at most three frames at the slowest input
    // rate.
    unsigned sync = 0, status = 0;
    waitUntil(kInputSyncBoundUs, 0, [&] {
        sync = drv->read_C331(fd, kInputSyncStatus, 0);
        status = drv->read_C331(fd, chStatus, 0);
        return (sync & bit) || status == 0xFF;
    });
    drv->write_C331(fd, kInputSyncLatch, 0, 0);
    drv->write_C331(fd, kStatusHold, 0, 0);
    wait_result(WAIT_PIVS, (sync & bit) || status == 0xFF);
}

void c331_manage::wait1_pivs2(int fd)
{
    int best = -1;
    double bestFv = 120.0;
    for (int w = 0; w < kWinCount; ++w) {
        if (!(g_chg_win[w] || g_chg_input[w] || g_chg_dbd[w]))
            continue;
        const int port = PM_INPUT[w];
        if (!validPort(port))
            continue;
        if (PI_FV[port] < bestFv) {
            bestFv = PI_FV[port];
            best = w;
        }
    }
    if (best >= 0 && g_win_ich[best][0] >= 0 && g_win_ich[best][0] < kIchCount)
        wait1_pivs(fd, g_win_ich[best][0]);
    else
        Sleep(45);
}

namespace {

// Waits for the two field bits at shift of a field status register to
// change, reading back to back for at most boundUs: the new field, or the
// last one + 1 when it never changed.
int waitField(c331_drv* drv, int fd, C331RegDesc reg, int shift, uint64_t boundUs, bool& ok)
{
    drv->write_C331(fd, kStatusHold, 0x80, 0);
    const int first = static_cast<int>((drv->read_C331(fd, reg, 0) >> shift) & 3);
    int cur = first;
    waitUntil(boundUs, 0, [&] {
        cur = static_cast<int>((drv->read_C331(fd, reg, 0) >> shift) & 3);
        return cur != first;
    });
    drv->write_C331(fd, kStatusHold, 0, 0);
    ok = cur != first;
    return ok ? cur : (cur + 1) & 3;
}

} // namespace

int c331_manage::wait_ifld_change(int fd, int port)
{
    if (!validPort(port))
        return 0;
    const int index = port < 4 ? port : 2 * (port - 2);
    bool ok = false;
    const int field = waitField(drv, fd, kFieldStatus + 0x100u * static_cast<unsigned>(index), 2, kInputSyncBoundUs, ok);
    wait_result(WAIT_IFLD, ok);
    return field;
}

int c331_manage::wait_ofld_change(int fd, int och)
{
    if (och < 0 || och >= kOchCount)
        return 0;
    bool ok = false;
    const int field = waitField(drv, fd, kFieldStatus + 0x100u * static_cast<unsigned>(och), 0, kOutputSyncBoundUs, ok);
    wait_result(WAIT_OFLD, ok);
    return field;
}

void c331_manage::set_VBORXfrange(int fd, int rx, float clock, int flip)
{
    if (rx < 0 || rx > 1)
        return;
    const C331RegDesc range = kVboRange + 0x1C00u * static_cast<unsigned>(rx);
    if (flip == 1) {
        const unsigned v = drv->read_C331(fd, range, 0);
        drv->write_C331(fd, range, v ^ 0x08, 0);
        return;
    }
    drv->write_c331_mask(fd, range, clock < 50000000.0f ? 0x08 : 0, 0x08, 0);
    const unsigned lockBit = 1u << (5 + 2 * rx);
    if (drv->read_C331(fd, kVboLock, 0) & lockBit)
        return;
    const C331RegDesc measure = kVboMeasure + 0xC00u * static_cast<unsigned>(rx);
    const bool ok = waitUntil(kVboLockBoundUs, 0, [&] {
        return drv->read_C331(fd, measure, 0) < 0xFFFFFE || (drv->read_C331(fd, kVboLock, 0) & lockBit);
    });
    wait_result(WAIT_VBO_LOCK, ok);
}

void c331_manage::set_sypol(int fd, int vbo, int index)
{
    if (vbo ? (index < 0 || index > 1) : (index < 0 || index > 3))
        return;
    const C331RegDesc reg = vbo ? kVboSyncPol : kCmosSyncPol;
    drv->write_C331(fd, kStatusHold, 0x80, 0);
    unsigned v = drv->read_C331(fd, reg, 0);
    drv->write_C331(fd, kStatusHold, 0, 0);
    if (!vbo) {
        const HdmiInfo& h = PI_HDMI_INFO[index];
        const unsigned pol = (h.Vpol & 1) | ((h.Hpol & 1) << 1) | 4;
        const unsigned shift = 8u * static_cast<unsigned>(index);
        v = (v & ~(0xFFu << shift)) | (pol << shift);
    } else {
        const HdmiInfo& h = PI_HDMI_INFO[4 + index];
        const unsigned p = (h.Vpol & 1) | ((h.Hpol & 1) << 1);
        const unsigned field = p | (p << 4) | (p << 8) | (p << 12);
        const unsigned shift = 16u * static_cast<unsigned>(index);
        v = (v & ~(0xFFFFu << shift)) | (field << shift);
    }
    drv->write_C331(fd, reg, v, 0);
}

void c331_manage::set_VBOInput(int fd, int rx)
{
    if (rx < 0 || rx > 1)
        return;
    set_sypol(fd, 1, rx);
    unsigned mode, sel;
    switch (PI_HDMI_INFO[4 + rx].lane) {
    case 1: mode = 0; sel = 0; break;
    case 2: mode = 1; sel = 0x10; break;
    case 4: mode = 0x11; sel = 0x04; break;
    default: mode = 0x404; sel = 0x02; break;
    }
    drv->write_C331(fd, kVboLaneMode + 0x200u * static_cast<unsigned>(rx), mode, 0);
    const unsigned shift = 8u * static_cast<unsigned>(rx);
    const unsigned old = drv->read_C331(fd, kVboLaneSelect, 0);
    drv->write_C331(fd, kVboLaneSelect, (old & ~(0xFFu << shift)) | (sel << shift), 0);
}

void c331_manage::set_pict(int fd, int on, int port)
{
    if (port < 0 || port > 3)
        return;
    const unsigned bit = 1u << (4 * port);
    drv->write_c331_mask(fd, kInputDataMode, on ? bit : 0, bit, 0);
}

void c331_manage::set_input_bkg(int fd, int port, int on)
{
    c331_trace("[set_input_bkg] port_%d, onoff:%d\n", port, on);
    set_rtct(fd, 2);
    for (int w = 0; w < kWinCount; ++w) {
        if (PM_INPUT[w] != port)
            continue;
        unsigned enable = on ? 1 : (validPort(port) && PI_PORT_INFO[port].STATE == 0 ? 1 : 0);
        if (isDbd(PM_WIN_DBD_MODE[w]))
            enable = 0;
        unsigned colour = 0;
        if (g_force_bkcolor == 1) {
            colour = 0x00FF00;
            enable = 1;
        }
        for (int c = 0; c < kOchCount; ++c) {
            if (PM_WIN_NUM[c] != w)
                continue;
            drv->write_C331(fd, kOutBkgColor, colour, chOffset(c));
            drv->write_C331(fd, kOutBkgEnable, enable, chOffset(c));
        }
    }
    set_rtct(fd, 1);
}

void c331_manage::set_input_bkg2(int fd, int win, int on)
{
    c331_trace("[set_input_bkg2] win_%d, onoff:%d\n", win, on);
    if (win < 0 || win >= kWinCount)
        return;
    const int port = PM_INPUT[win];
    unsigned enable = on ? 1 : (!pattern_on && validPort(port) && PI_PORT_INFO[port].STATE == 0 ? 1 : 0);
    unsigned colour = 0;
    if (g_force_bkcolor == 1) {
        enable = 1;
        colour = 0x00FF00;
    }
    if (isDbd(PM_WIN_DBD_MODE[win]))
        enable = 0;
    if (gWininfo[win].outputMode & 1)
        enable = 1;
    for (int c = 0; c < kOchCount; ++c) {
        if (PM_WIN_NUM[c] != win)
            continue;
        drv->write_C331(fd, kOutBkgColor, colour, chOffset(c));
        drv->write_C331(fd, kOutBkgEnable, enable, chOffset(c));
    }
}

bool c331_manage::check_dbd_input(int fd, int port)
{
    (void)fd;
    if (!validPort(port))
        return false;
    const _ImageWindowDef_st& a = g_dbd_port_act[port];
    return a.hw > (port < 4 ? 2560 : 5120) || a.vw > 2176;
}

void c331_manage::reset_dbd_mem(int win)
{
    if (win < 0 || win >= kWinCount)
        return;
    for (int& b : dbd_win_blk[win]) {
        if (b >= 0 && b < kDbdBlocks)
            dbd_mem_blk[b] = -1;
        b = -1;
    }
}

int c331_manage::set_dbd_mem(int fd, int win)
{
    if (win < 0 || win >= kWinCount)
        return -1;
    const int channels = ichCount(g_win_ich[win]);
    reset_dbd_mem(win);
    const int mode = PM_WIN_DBD_MODE[win];
    if (channels == 0 || mode == DBD_DISABLE)
        return -1;
    auto hw = [this](int p) { return g_dbd_port_act[p].hw; };
    int need = 0;
    bool downward = false;
    int width = 0;
    switch (mode) {
    case DBD_SINGLE_INPUT: {
        const int port = PM_INPUT[win];
        if (!validPort(port))
            return -1;
        if (!check_dbd_input(fd, port)) {
            // The window's own input channel memory is enough.
            const int ich = g_win_ich[win][0];
            for (int k = 0; k < 5; ++k)
                dbd_win_fld[win][k] = PS_MEM_SC[ich][k];
            dbd_win_mwi[win] = PS_MEM_MWI;
            return 0;
        }
        need = port < 4 ? 1 : 2;
        width = hw(port);
        break;
    }
    case DBD_CMOS_IN12: need = 2; width = hw(0) + hw(1); break;
    case DBD_CMOS_IN34: need = 2; width = hw(2) + hw(3); break;
    case DBD_CMOS_IN123: need = 3; width = hw(0) + hw(1) + hw(2); break;
    case DBD_CMOS_IN1234: need = 4; width = hw(0) + hw(1) + hw(2) + hw(3); break;
    case DBD_VBO_IN12: need = 4; width = hw(4) + hw(5); break;
    case DBD_CMOS_IN12V: need = 2; downward = true; width = hw(0); break;
    case DBD_CMOS_IN34V: need = 2; downward = true; width = hw(2); break;
    case DBD_CMOS_IN1234Q: need = 4; downward = true; width = hw(0) + hw(1); break;
    case DBD_VBO_IN12V: need = 4; downward = true; width = hw(4); break;
    default: return -1;
    }

    int found = 0;
    for (int i = 0; i < kDbdBlocks && found < need; ++i) {
        const int b = downward ? kDbdBlocks - 1 - i : i;
        if (dbd_mem_blk[b] != -1)
            continue;
        dbd_mem_blk[b] = 1;
        dbd_win_blk[win][found++] = b;
    }
    if (found < need) {
        reset_dbd_mem(win);
        std::printf("Dot-By-Dot memory assignment error!!!   win=%d  mode=%d  mem_cnt=%d  blk_cnt=%d\n", win, mode,
                    need, found);
        return -1;
    }
    int lowest = kDbdBlocks;
    for (int i = 0; i < found; ++i)
        lowest = std::min(lowest, dbd_win_blk[win][i]);
    for (int k = 0; k < 5; ++k)
        dbd_win_fld[win][k] = PS_MEM_DBD[k] + PS_DBD_BLK_SIZE * static_cast<unsigned>(lowest);
    dbd_win_mwi[win] = (width + 319) / 320;
    return 0;
}

bool c331_manage::zdrApi_IsPatternGen()
{
    return pattern_on != 0;
}

void c331_manage::calc_iwin2(int win)
{
    if (win < 0 || win >= kWinCount)
        return;
    _ImageWindowDef_st& iw = IWIN[win];
    iw = _ImageWindowDef_st{0, 0, 0, 0};
    const int port = PM_INPUT[win];
    if (!PM_WIN_SHAPE[win][0] || !PM_WIN_SHAPE[win][1] || !validPort(port) || PI_ACT[port].hw == 0 ||
        PI_ACT[port].vw == 0)
        return;
    const int ich = g_win_ich[win][0];
    const bool scan = PI_PORT_INFO[port].IP != 0;
    const bool lowIch = ich >= 0 && ich < 4;
    auto act = [this](int p) { return g_dbd_port_act[p]; };
    switch (PM_WIN_DBD_MODE[win]) {
    case DBD_DISABLE: {
        const int width = PI_ACT[port].hw * (PI_PORT_INFO[port].STATE == 1 ? 2 : 1);
        int height = PI_ACT[port].vw;
        if (!PM_INPUT_OFFSET_EN[win]) {
            iw = _ImageWindowDef_st{0, width, 0, (scan && lowIch) ? 2 * height : height};
            break;
        }
        const int* o = PM_INPUT_OFFSET[win];
        iw.hst = o[0] >= width ? 0 : o[0];
        iw.hw = width - o[0] - o[1];
        if (iw.hw < 1)
            iw.hw = width;
        if (scan)
            height *= 2;
        iw.vst = o[2] >= height ? 0 : o[2];
        iw.vw = height - o[2] - o[3];
        if (iw.vw < 1)
            iw.vw = height;
        break;
    }
    case DBD_SINGLE_INPUT:
        iw.hw = act(port).hw;
        iw.vw = act(port).vw * ((scan && lowIch) ? 2 : 1);
        break;
    case DBD_CMOS_IN12: iw.hw = act(0).hw + act(1).hw; iw.vw = act(0).vw; break;
    case DBD_CMOS_IN34: iw.hw = act(2).hw + act(3).hw; iw.vw = act(2).vw; break;
    case DBD_CMOS_IN123: iw.hw = act(0).hw + act(1).hw + act(2).hw; iw.vw = act(0).vw; break;
    case DBD_CMOS_IN1234: iw.hw = act(0).hw + act(1).hw + act(2).hw + act(3).hw; iw.vw = act(0).vw; break;
    case DBD_VBO_IN12: iw.hw = act(4).hw + act(5).hw; iw.vw = act(4).vw; break;
    case DBD_CMOS_IN12V: iw.hw = act(0).hw; iw.vw = act(0).vw + act(1).vw; break;
    case DBD_CMOS_IN34V: iw.hw = act(2).hw; iw.vw = act(2).vw + act(3).vw; break;
    case DBD_CMOS_IN1234Q: iw.hw = act(0).hw + act(1).hw; iw.vw = act(0).vw + act(2).vw; break;
    case DBD_VBO_IN12V: iw.hw = act(4).hw; iw.vw = act(4).vw + act(5).vw; break;
    default: break;
    }
    c331_trace("IWIN[%d]  HST=%4d  HW=%4d  VST=%4d  VW=%4d\n", win, iw.hst, iw.hw, iw.vst, iw.vw);
}

void c331_manage::calc_owin2(int win)
{
    if (win < 0 || win >= kWinCount)
        return;
    const int* m = PM_WIN_OFFSET[win];
    _ImageWindowDef_st& ow = OWIN[win];
    ow.hst = m[0];
    ow.hw = PS_ACTHW * PM_WIN_SHAPE[win][0] - m[0] - m[1];
    ow.vst = m[2];
    ow.vw = PS_ACTVW * PM_WIN_SHAPE[win][1] - m[2] - m[3];
    // A window smaller than its margins has no size.
    ow.hw = std::max(ow.hw, 0);
    ow.vw = std::max(ow.vw, 0);
    _ImageWindowDef_st& iw = IWIN[win];
    if (PM_WIN_DBD_MODE[win] > 0) {
        if (!dbd_clip[win]) {
            iw.hw = ow.hw = std::min(iw.hw, ow.hw);
            iw.vw = ow.vw = std::min(iw.vw, ow.vw);
        } else {
            if (iw.hw > ow.hw)
                iw.hw = ow.hw;
            if (iw.vw > ow.vw)
                iw.vw = ow.vw;
            if (iw.hw < 1)
                ow.hw = iw.hw;
            if (iw.vw < 1)
                ow.vw = iw.vw;
        }
    }
    c331_trace("OWIN[%d]  HST=%4d  HW=%4d  VST=%4d  VW=%4d\n", win, ow.hst, ow.hw, ow.vst, ow.vw);
}

void c331_manage::calc_iwin()
{
    for (int w = 0; w < kWinCount; ++w) {
        const int port = PM_INPUT[w];
        IWIN[w] = _ImageWindowDef_st{0, 0, 0, 0};
        if (!PM_WIN_SHAPE[w][0] || !PM_WIN_SHAPE[w][1] || !validPort(port))
            continue;
        IWIN[w].hw = PI_ACT[port].hw * (PI_PORT_INFO[port].STATE == 1 ? 2 : 1);
        IWIN[w].vw = PI_ACT[port].vw;
    }
}

void c331_manage::calc_owin()
{
    for (int w = 0; w < kWinCount; ++w) {
        const int* m = PM_WIN_OFFSET[w];
        OWIN[w].hst = m[0];
        OWIN[w].hw = std::max(PS_ACTHW * PM_WIN_SHAPE[w][0] - m[0] - m[1], 0);
        OWIN[w].vst = m[2];
        OWIN[w].vw = std::max(PS_ACTVW * PM_WIN_SHAPE[w][1] - m[2] - m[3], 0);
    }
}
