// Input port monitoring: the receivers' timing records, the chip's own
// measurement of each used port and the assignment of inputs to windows.
#include "videochip/c331_manage.h"

#include "core/utils.h"
#include "videochip/c331_drv.h"
#include "videochip/c331_trace.h"

#include <QMutexLocker>
#include <algorithm>
#include <cstdio>

using namespace c331;

namespace {

// Input number <-> chip port; the table is its own inverse.
const int kPortOfInput[6] = {3, 2, 1, 0, 5, 4};

bool validPort(int p) { return p >= 0 && p < kPortCount; }

// Measurement registers of a port: parallel port p at + 2p (3-byte counts
// + 3p), V-by-One receiver q at + 8q (3-byte counts + 12q).
struct MeasureRegs {
    C331RegDesc h, h2, v, f, fifth;
};

MeasureRegs measureRegs(int port)
{
    if (port < 4) {
        const unsigned a = 0x200u * static_cast<unsigned>(port);
        return {0xAE0802 + a, 0xAE2002 + a, 0xAE3802 + a, 0xAE5003 + 0x300u * static_cast<unsigned>(port),
                0xAF0802 + a};
    }
    const unsigned q = static_cast<unsigned>(port - 4);
    return {0xAE1002 + 0x800 * q, 0xAE2802 + 0x800 * q, 0xAE4002 + 0x800 * q, 0xAE5C03 + 0xC00 * q,
            0xAF1002 + 0x800 * q};
}

// Counts are read plus 1; 0 and all-ones mean no signal.
bool valid2(int c) { return c >= 2 && c <= 65534; }
bool valid3(int c) { return c >= 2 && c <= 0xFFFFFE; }

bool near(int a, int b, int d) { return a - b <= d && b - a <= d; }

constexpr C331RegDesc kVboReset = 0x027F01;
constexpr C331RegDesc kVboRxCtl = 0x024001;       // + 0x1C00 x receiver
constexpr C331RegDesc kVboRxLanes = 0x024F01;     // + 0x1C00 x receiver

// Lane measurements of receiver q: four 2-byte H counts, four 3-byte V counts.
const C331RegDesc kLaneH[4] = {0xAE3E02, 0xAE4002, 0xAE4202, 0xAE4402};
const C331RegDesc kLaneV[4] = {0xAE5C03, 0xAE5F03, 0xAE6203, 0xAE6503};

} // namespace

int c331_manage::zdrApi_inputCvtC331(DSP_INPUT_PORT n)
{
    const int i = static_cast<int>(n);
    return i >= 0 && i <= 5 ? kPortOfInput[i] : 255;
}

int c331_manage::zdrApi_GetPortDevId(int port)
{
    return port >= 1 && port <= 5 ? kPortOfInput[port] : 3;
}

int c331_manage::zdrApi_GetWinDbdMultiPort(int win, int* ports) const
{
    for (int i = 0; i < kPortCount; ++i)
        ports[i] = kPortCount;
    if (win < 0 || win >= kWinCount)
        return 0;
    static const int k12[] = {0, 1}, k34[] = {2, 3}, k123[] = {0, 1, 2}, k1234[] = {0, 1, 2, 3}, kVbo[] = {5, 4};
    const int* list = nullptr;
    int n = 0;
    switch (PM_WIN_DBD_MODE[win]) {
    case DBD_CMOS_IN12: case DBD_CMOS_IN12V: list = k12; n = 2; break;
    case DBD_CMOS_IN34: case DBD_CMOS_IN34V: list = k34; n = 2; break;
    case DBD_CMOS_IN123: list = k123; n = 3; break;
    case DBD_CMOS_IN1234: case DBD_CMOS_IN1234Q: list = k1234; n = 4; break;
    case DBD_VBO_IN12: case DBD_VBO_IN12V: list = kVbo; n = 2; break;
    default: return 0;
    }
    for (int i = 0; i < n; ++i)
        ports[i] = list[i];
    return 1;
}

bool c331_manage::window_uses_port(int win, int port) const
{
    if (win < 0 || win >= kWinCount)
        return false;
    if (PM_INPUT[win] == port)
        return true;
    int ports[kPortCount];
    if (!zdrApi_GetWinDbdMultiPort(win, ports))
        return false;
    for (int q : ports) {
        if (q == port)
            return true;
    }
    return false;
}

int c331_manage::vbo_lane_mask(int rx) const
{
    switch (PI_HDMI_INFO[4 + (rx & 1)].lane) {
    case 8: return PS_VBO_8LANE;
    case 4: return PS_VBO_4LANE;
    case 2: return PS_VBO_2LANE;
    default: return 128;
    }
}

void c331_manage::rearm_vbo_rx(int fd, int rx, int laneMask)
{
    if (rx < 0 || rx > 1)
        return;
    const unsigned off = 0x1C00u * static_cast<unsigned>(rx);
    drv->write_C331(fd, kVboReset, rx == 0 ? 14 : 13, 0);
    drv->write_C331(fd, kVboReset, 15, 0);
    drv->write_C331(fd, kVboRxCtl + off, 5, 0);
    drv->write_C331(fd, kVboRxLanes + off, static_cast<unsigned>(laneMask), 0);
}

void c331_manage::advance_vbo_retry(int rx)
{
    unsigned char& r = vbo_retry[rx & 1];
    r = r == 0 ? 1 : static_cast<unsigned char>(r + 1);
    if (r >= 30)
        r = 0;
}

void c331_manage::load_hdmi()
{
    velmosource* source = velmosource::p_velmo_source;
    if (!source)
        return;
    for (int p = 0; p < kPortCount; ++p) {
        const int d = zdrApi_GetPortDevId(p);
        HdmiInfo rec;
        {
            QMutexLocker lock(&Utils::_source_hdminfo_mutex);
            if (source->hdminfo[d].stable == 0)
                continue;
            rec = source->hdminfo[d];
        }
        HdmiInfo& pi = PI_HDMI_INFO[p];
        bool changed = false;
        // The port's copy is stored under the records' mutex too: the
        // simulated board's probe reads it from another thread.
        QMutexLocker copyLock(&Utils::_source_hdminfo_mutex);
        auto cmp = [&changed](auto& mine, const auto& theirs, const char* name) {
            if (mine == theirs)
                return;
            c331_trace("\n [load_hdmi]%s=%d,%d,chaned! \n", name, static_cast<int>(mine), static_cast<int>(theirs));
            mine = theirs;
            changed = true;
        };
        cmp(pi.Hact, rec.Hact, "Hact");
        cmp(pi.Hsync, rec.Hsync, "Hsync");
        cmp(pi.Hback, rec.Hback, "Hback");
        cmp(pi.Hpol, rec.Hpol, "Hpol");
        cmp(pi.Htotal, rec.Htotal, "Htotal");
        cmp(pi.Vact, rec.Vact, "Vact");
        cmp(pi.Vsync, rec.Vsync, "Vsync");
        cmp(pi.Vback, rec.Vback, "Vback");
        cmp(pi.Vpol, rec.Vpol, "Vpol");
        cmp(pi.Vtotal, rec.Vtotal, "Vtotal");
        cmp(pi.pfreq, rec.pfreq, "pfreq");
        cmp(pi.type, rec.type, "type");
        cmp(pi.lane, rec.lane, "lane");
        cmp(pi.ip, rec.ip, "ip");
        cmp(pi.datamode, rec.datamode, "datamode");
        cmp(pi.nosignal, rec.nosignal, "nosignal");
        pi.stable = rec.stable;
        copyLock.unlock();
        if (!changed)
            continue;
        std::printf("[load_hdmi] chg_input, port:%d, dev_id:%d\n", p, d);
        c331_trace("\t hact:%d, hsync:%d, hback:%d, hpol:%d, htt:%d\n", pi.Hact, pi.Hsync, pi.Hback, pi.Hpol,
                   pi.Htotal);
        c331_trace("\t vact:%d, vsync:%d, vback:%d, vpol:%d, vtt:%d\n", pi.Vact, pi.Vsync, pi.Vback, pi.Vpol,
                   pi.Vtotal);
        c331_trace("\t pfreq:%f, type:%d, lane:%d, ip:%d, datamode:%d, nosignal:%d\n", static_cast<double>(pi.pfreq),
                   pi.type, pi.lane, pi.ip, pi.datamode, pi.nosignal);
        for (int w = 0; w < kWinCount; ++w) {
            int ports[kPortCount];
            bool multi = false;
            if (zdrApi_GetWinDbdMultiPort(w, ports)) {
                for (int q : ports)
                    multi = multi || q == p;
            }
            if (multi) {
                g_chg_input[w] = 1;
                std::printf("\n[load_hdmi] g_chg_input[%d] = 1 for dbd:%d\n", w, PM_WIN_DBD_MODE[w]);
                set_ichsel(c331_fd, w);
            } else if (PM_INPUT[w] == p) {
                g_chg_input[w] = 1;
                std::printf("\n[load_hdmi] g_chg_input[%d] = 1\n", w);
            }
        }
    }
}

void c331_manage::check_port_valid(int fd)
{
    for (int w = 0; w < kWinCount; ++w) {
        int ports[kPortCount];
        if (!zdrApi_GetWinDbdMultiPort(w, ports))
            ports[0] = PM_INPUT[w];
        for (int p : ports) {
            if (!validPort(p))
                continue;
            {
                QMutexLocker lock(&Utils::_check_nosig_mutex);
                if (!(port_status[p] & 0x80))
                    continue;
            }
            const MeasureRegs r = measureRegs(p);
            drv->write_C331(fd, kStatusHold, 0x80, 0);
            const int h = static_cast<int>(drv->read_C331(fd, r.h, 0)) + 1;
            const int v = static_cast<int>(drv->read_C331(fd, r.v, 0)) + 1;
            const int f = static_cast<int>(drv->read_C331(fd, r.f, 0)) + 1;
            drv->write_C331(fd, kStatusHold, 0, 0);
            const bool bad = !valid2(h) || !valid2(v) || !valid3(f);
            {
                QMutexLocker lock(&Utils::_check_nosig_mutex);
                port_status[p] = bad ? (port_status[p] | 1) : (port_status[p] & ~1);
            }
            if (bad && p >= 4) {
                rearm_vbo_rx(fd, p - 4, 128);
                set_VBORXfrange(fd, p - 4, 0, 0);
            }
        }
    }
}

void c331_manage::check_input_port(int fd)
{
    velmosource* source = velmosource::p_velmo_source;
    for (int p = 0; p < kPortCount; ++p) {
        int w = 0;
        while (w < kWinCount && !window_uses_port(w, p))
            ++w;
        if (w == kWinCount || !source)
            continue;
        {
            QMutexLocker lock(&Utils::_source_hdminfo_mutex);
            if (source->hdminfo[zdrApi_GetPortDevId(p)].stable == 0)
                continue;
        }
        // The port's check starts: its update mark is set again below only
        // when this check finds a change (a window switched to the port has
        // been reprogrammed by its caller already).
        PI_UPDATE[p] = 0;
        const bool vbo = p >= 4;
        const int q = p - 4;
        const ST_PORT_INFO prev = PI_PORT_INFO[p];
        ST_PORT_INFO& pi = PI_PORT_INFO[p];
        const HdmiInfo& h = PI_HDMI_INFO[p];

        const MeasureRegs r = measureRegs(p);
        drv->write_C331(fd, kStatusHold, 0x80, 0);
        const int hcnt = static_cast<int>(drv->read_C331(fd, r.h, 0)) + 1;
        const int hcnt2 = static_cast<int>(drv->read_C331(fd, r.h2, 0));
        const int vcnt = static_cast<int>(drv->read_C331(fd, r.v, 0)) + 1;
        const int fcnt = static_cast<int>(drv->read_C331(fd, r.f, 0)) + 1;
        const int fifth = static_cast<int>(drv->read_C331(fd, r.fifth, 0));
        drv->write_C331(fd, kStatusHold, 0, 0);

        const bool noSignal = !valid2(hcnt) || !valid3(fcnt) || !valid2(vcnt) || h.nosignal == 1;
        if (noSignal) {
            if (!prev.nosignal) {
                set_input_bkg(fd, p, 1);
                if (prev.STATE != 0)
                    PI_UPDATE[p] = 1;
                pi = ST_PORT_INFO{};
                pi.nosignal = 1;
                PI_ACT[p] = {16, 0, 16, 0};
                g_dbd_port_act[p] = PI_ACT[p];
                PI_FV[p] = 0;
                PI_FPICLK[p] = 0;
                if (!vbo) {
                    set_pict(fd, 0, p);
                    continue;
                }
            } else if (!vbo) {
                continue;
            }
            rearm_vbo_rx(fd, q, 128);
            set_VBORXfrange(fd, q, 0, 0);
            advance_vbo_retry(q);
            continue;
        }

        pi.HCNT = hcnt;
        pi.HCNT2 = hcnt2;
        pi.VCNT = vcnt;
        pi.FCNT = fcnt;
        pi.V5 = fifth;
        pi.nosignal = 0;
        const bool same = near(hcnt, prev.HCNT, 2) && near(hcnt2, prev.HCNT2, 2) && near(vcnt, prev.VCNT, 100) &&
                          near(fcnt, prev.FCNT, 100) && fifth == prev.V5 && !PI_UPDATE2[p];
        c331_trace("\t port_info_chg:%d, g_chg_input[win_%d]:%d\n", same ? 0 : 1, w, g_chg_input[w]);
        const bool update = !same || g_chg_input[w] != 0;
        if (update) {
            // fcnt is at least 2 here: the rate never divides by zero.
            const double fv = static_cast<double>(PS_MEMCLK4) / fcnt;
            const double fpiclk = static_cast<double>(h.Htotal) * fv * h.Vtotal;
            PI_FV[p] = fv;
            PI_FPICLK[p] = fpiclk;
            if (vbo) {
                const int lanes = h.lane > 0 ? h.lane : 1;
                rearm_vbo_rx(fd, q, vbo_lane_mask(q));
                // As the receiver has always been set: the clock travels in
                // the last argument, so the range bit reads a zero clock.
                set_VBORXfrange(fd, q, 0, static_cast<int>(std::min(fpiclk / lanes, 2147483647.0)));
                set_VBOInput(fd, q);
                pi.STATE = (h.Hact <= 2176 && fpiclk <= 324000000.0 && h.lane < 4) ? 4 : 1;
                pi.IP = 0;
            } else {
                set_pict(fd, h.datamode, p);
                set_sypol(fd, 0, p);
                pi.STATE = h.datamode ? 3 : 4;
                pi.IP = 0;
                if (h.ip) {
                    if (h.Vtotal >= 560 && h.Vtotal <= 565) {
                        pi.IP = 1;
                        pi.STATE = fv >= 55 ? 5 : 6;
                    } else if (h.Vtotal >= 260 && h.Vtotal <= 265) {
                        pi.IP = 1;
                        pi.STATE = 7;
                    } else if (h.Vtotal >= 266 && h.Vtotal <= 350) {
                        pi.IP = 1;
                        pi.STATE = 8;
                    }
                }
            }
            PI_ACT[p] = {h.Hsync + h.Hback, h.Hact, h.Vsync + h.Vback, h.Vact};
            // A dot-by-dot window takes a V-by-One port's whole picture and
            // splits it itself; a parallel port's area as measured.
            g_dbd_port_act[p] = PI_ACT[p];
            if (pi.STATE < 4) {
                PI_ACT[p].hst /= 2;
                PI_ACT[p].hw /= 2;
            }
            if (!vbo)
                g_dbd_port_act[p] = PI_ACT[p];
            PI_UPDATE[p] = 1;
        }

        if (vbo) {
            const int lanes = h.lane;
            const int pairs = lanes == 8 ? 4 : (lanes == 4 ? 2 : 1);
            const unsigned qo = static_cast<unsigned>(q);
            bool ok = true;
            drv->write_C331(fd, kStatusHold, 0x80, 0);
            for (int i = 0; i < pairs; ++i) {
                const int lh = static_cast<int>(drv->read_C331(fd, kLaneH[i] + 0x800 * qo, 0)) + 1;
                const int lv = static_cast<int>(drv->read_C331(fd, kLaneV[i] + 0xC00 * qo, 0)) + 1;
                ok = ok && valid2(lh) && valid3(lv);
            }
            drv->write_C331(fd, kStatusHold, 0, 0);
            if (ok) {
                vbo_retry[q] = 0;
            } else {
                advance_vbo_retry(q);
                rearm_vbo_rx(fd, q, vbo_lane_mask(q));
            }
        }

        if (update) {
            c331_trace("PortInfo Updated.  port=%d  STATE=%d  IP=%d  HTOTAL=%4d  VTOTAL=%4d\n", p, pi.STATE, pi.IP,
                       h.Htotal, h.Vtotal);
            c331_trace("                   ACTHW=%4d  ACTVW=%4d  FV=%8.4f  FPICLK=%.4f\n", PI_ACT[p].hw, PI_ACT[p].vw,
                       PI_FV[p], PI_FPICLK[p]);
            zdrApi_updateCrop(fd, p);
        }
    }
}

void c331_manage::c331_SetInputsource(int win, int input)
{
    if (win < 0 || win >= gMwin.wincnt || win >= kWinCount) {
        c331_trace("    win:%d OOR, wincnt:%d\r\n", win, gMwin.wincnt);
        return;
    }
    const int in = input >= 0 ? input % 6 : -1;
    const int p = zdrApi_inputCvtC331(static_cast<DSP_INPUT_PORT>(in));
    if (p == 255) {
        c331_trace("    input:%d OOR\r\n", input);
        return;
    }
    gWininfo[win].input = static_cast<uint8_t>(in);
    PM_INPUT[win] = p;
    g_chg_input[win] = 1;
    c331_trace("[c331_SetInputsource] win_%d, port_%d\n", win, p);
    check_input_port(c331_fd);
    set_output(c331_fd);
}
