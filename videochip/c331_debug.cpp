// Diagnostics of the chip for engineers at the console: parameter and
// register dumps and register test sequences, started by the PC (debug
// bytes 34 to 36 of the status area, served at the end of a change pass;
// register 161 bit 1 for the register dump).
#include "videochip/c331_manage.h"

#include "avchips/velmosource.h"
#include "core/global.h"
#include "core/utils.h"
#include "videochip/c331_drv.h"

#include <QMutexLocker>
#include <cstdio>
#include <unistd.h>
#include <vector>

using namespace c331;

namespace {

constexpr int kSections = 14;
const char kSectionNames[kSections][20] = {
    "c331_param", "c331_win", "c331_mem", "c331_mwi", "c331_mw1s", "c331_PI", "none",
    "none",       "none",     "none",     "none",     "none",     "none",    "none",
};

// Banks dumped by c331_print: every register (0x01 to 0x7F) of each.
constexpr unsigned kPrintFirstBank = 0x00;
constexpr unsigned kPrintLastBank = 0x3E;
// Bank of the serial-flash controller and the OSD drawing engine.
constexpr unsigned kSharedEngineBank = 0x04;

struct PrintEntry {
    unsigned char bank, address, count;
};

const std::vector<PrintEntry>& printList()
{
    static const std::vector<PrintEntry> list = [] {
        std::vector<PrintEntry> l;
        for (unsigned b = kPrintFirstBank; b <= kPrintLastBank; ++b) {
            for (unsigned a = 1; a < 0x80; ++a)
                l.push_back({static_cast<unsigned char>(b), static_cast<unsigned char>(a), 1});
        }
        return l;
    }();
    return list;
}

// Output channel banks of the colour-bar generator (channels 0 to 5).
const unsigned kBarBanks[6] = {0x08, 0x18, 0x28, 0x38, 0x48, 0x58};

struct BarColour {
    unsigned r, g, b, lr, lg, lb;
};

void colourBar(c331_drv* drv, int fd, unsigned bank, unsigned mode, unsigned width, const BarColour& c)
{
    const unsigned base = bank << 16;
    drv->write_C331(fd, base | 0x5701, mode, 0);
    drv->write_C331(fd, base | 0x5801, 0, 0);
    drv->write_C331(fd, base | 0x5901, 0, 0);
    drv->write_C331(fd, base | 0x5A01, 0, 0);
    drv->write_C331(fd, base | 0x5B02, 0xA0, 0);
    drv->write_C331(fd, base | 0x5D02, 0, 0);
    drv->write_C331(fd, base | 0x5F02, 0x20, 0);
    drv->write_C331(fd, base | 0x6102, width, 0);
    const unsigned v[6] = {c.r, c.g, c.b, c.lr, c.lg, c.lb};
    for (unsigned i = 0; i < 6; ++i)
        drv->write_C331(fd, base | ((0x63 + i) << 8) | 1, v[i], 0);
}

void over(const char* name)
{
    if (traceOn())
        std::printf("\n %s over ", name);
}

// Per-channel registers of the group dump (channel bank offset 16 x n), as
// the window programming writes them: the output channel's memory read
// (five field addresses, line pitch, source word, active area) and the
// input channel's memory write (five field addresses, line pitch, sync
// control, capture area).
const unsigned kOsfld[5] = {0x160804, 0x160C04, 0x161004, 0x161404, 0x161804};
const unsigned kIsfld[5] = {0x161C04, 0x162004, 0x162404, 0x162804, 0x162C04};
constexpr unsigned kOsyct = 0x080802;
constexpr unsigned kIsyct = 0x100901;
constexpr unsigned kOmwi = 0x163001;
constexpr unsigned kImwi = 0x163101;
const unsigned kOact[4] = {0x084002, 0x084202, 0x084402, 0x084602};
const unsigned kIact[4] = {0x101702, 0x101902, 0x101B02, 0x101D02};
// Shared bank, one byte per channel (+ 0x100 x n).
constexpr unsigned kIchsel = 0x001001;
constexpr unsigned kIscwct = 0x007101;
constexpr unsigned kOscwct = 0x006901;

void printHdmi(const char* title, int port, const HdmiInfo& h)
{
    std::printf("%s[%d] Hact:%d Hsync:%d Hback:%d Hpol:%d Htotal:%d Vact:%d Vsync:%d Vback:%d Vpol:%d Vtotal:%d "
                "pfreq:%.3f type:%d datamode:%d lane:%d ip:%d nosignal:%d\n",
                title, port, h.Hact, h.Hsync, h.Hback, h.Hpol, h.Htotal, h.Vact, h.Vsync, h.Vback, h.Vpol, h.Vtotal,
                static_cast<double>(h.pfreq), h.type, h.datamode, h.lane, h.ip, h.nosignal);
}

} // namespace

void c331_manage::c331_debugEnv() {}

void c331_manage::zdrDbg_c331_param()
{
    std::printf("[zdrDbg_c331_param]\r\n");
    std::printf("<<===OCH TIMING\r\n");
    std::printf("\t PS_ACTHW=%d PS_HSW=%d PS_HBP=%d PS_HFP=%d PS_HTOTAL=%d\n", PS_ACTHW, PS_HSW, PS_HBP,
                PS_HTOTAL - PS_ACTHW - PS_HSW - PS_HBP, PS_HTOTAL);
    std::printf("\t PS_VTOTAL=%d PS_ACTVW=%d PS_VSW=%d PS_VBP=%d\n", PS_VTOTAL, PS_ACTVW, PS_VSW, PS_VBP);
    std::printf("\t PS_OAOIHST=%d PS_OAOIHED=%d PS_ACTVST=%d PS_OAOIVST=%d PS_OAOIVED=%d PS_ACTHST=%d\n", PS_OAOIHST,
                PS_OAOIHED, PS_ACTVST, PS_OAOIVST, PS_OAOIVED, PS_ACTHST);
    std::printf("<<===PS VBO\r\n\t PS_VBOTX_MODE=%d PS_VBOTX_LAYOUT=%d\n", PS_VBOTX_MODE, PS_VBOTX_LAYOUT);
    std::printf("<<===PM_WIN_SHAPE\r\n");
    for (int w = 0; w < kWinCount; ++w)
        std::printf("\t win%d: %d x %d\n", w, PM_WIN_SHAPE[w][0], PM_WIN_SHAPE[w][1]);
    std::printf("<<===PM_WIN_FAD\r\n");
    for (int w = 0; w < kWinCount; ++w)
        std::printf("\t win%d: en=%d in=%d out=%d\n", w, PM_WIN_FADE_EN[w], PM_WIN_FADE_IN[w], PM_WIN_FADE_OUT[w]);
    std::printf("<<===PM_INPUT\r\n");
    for (int w = 0; w < kWinCount; ++w)
        std::printf("\t win%d: %d\n", w, PM_INPUT[w]);
    std::printf("<<===PM_WIN_OFFSET\r\n");
    for (int w = 0; w < kWinCount; ++w)
        std::printf("\t win%d: %d %d %d %d\n", w, PM_WIN_OFFSET[w][0], PM_WIN_OFFSET[w][1], PM_WIN_OFFSET[w][2],
                    PM_WIN_OFFSET[w][3]);
    std::printf("<<===PM_INPUT_OFFSET_EN\r\n");
    for (int w = 0; w < kWinCount; ++w)
        std::printf("\t win%d: en=%d %d %d %d %d\n", w, PM_INPUT_OFFSET_EN[w], PM_INPUT_OFFSET[w][0],
                    PM_INPUT_OFFSET[w][1], PM_INPUT_OFFSET[w][2], PM_INPUT_OFFSET[w][3]);
    std::printf("<<===PM_WIN_NUM\r\n");
    for (int c = 0; c < kOchCount; ++c)
        std::printf("\t och%d: %d\n", c, PM_WIN_NUM[c]);
    std::printf("<<===PM_AREA_NUM\r\n");
    for (int c = 0; c < kOchCount; ++c)
        std::printf("\t och%d: %d\n", c, PM_AREA_NUM[c]);
    std::printf("<<===PM_OVERLAY\r\n");
    for (int c = 0; c < kOchCount; ++c)
        std::printf("\t och%d: %x\n", c, static_cast<unsigned>(PM_OVERLAY[c]));
    std::printf("<<===PM OSD\r\n");
    std::printf("\t PS_PANEL_HW=%d PS_PANEL_VW=%d HSHAPE=%d VSHAPE=%d\n", PS_PANEL_HW, PS_PANEL_VW, PS_OCH_HNUM,
                PS_OCH_VNUM);
    std::printf("\t PM_OSD_EN=%d HZOOM=%d VZOOM=%d DATA_MODE=%d UPDATE_BUTTON=%d SCROLL_MODE=%d SCROLL_SPEED=%d "
                "CHAR_64DOT=%d\n",
                PM_OSD_EN, PM_OSD_HZOOM_EN, PM_OSD_VZOOM_EN, PM_OSD_DATA_MODE, PM_OSD_UPDATE_BUTTON,
                PM_OSD_SCROLL_MODE, PM_OSD_SCROLL_SPEED, PM_OSD_CHAR_64DOT);
    std::printf("\t OUTPUT_OFFSET %d %d %d %d INPUT_OFFSET %d %d %d %d\n", PM_OSD_OUTPUT_OFFSET[0],
                PM_OSD_OUTPUT_OFFSET[1], PM_OSD_OUTPUT_OFFSET[2], PM_OSD_OUTPUT_OFFSET[3], PM_OSD_INPUT_OFFSET[0],
                PM_OSD_INPUT_OFFSET[1], PM_OSD_INPUT_OFFSET[2], PM_OSD_INPUT_OFFSET[3]);
    std::printf("<<===OSD_WIN\r\n\t HST=%d HW=%d VST=%d VW=%d\n", OSD_WIN.hst, OSD_WIN.hw, OSD_WIN.vst, OSD_WIN.vw);
    std::printf("\t font 32ASCII=%08x 32CHN=%08x 64ASCII=%08x 64CHN=%08x\n", g_font_addr_32ASCII, g_font_addr_32CHN,
                g_font_addr_64ASCII, g_font_addr_64CHN);
    for (int k = 0; k < g_unicode_line && k < 64; ++k) {
        std::printf("\t line %d:", k);
        for (int i = 0; i < 128; ++i) {
            const unsigned char hi = unicode_text[k][2 * i], lo = unicode_text[k][2 * i + 1];
            if (!hi && !lo)
                break;
            std::printf("%s %02x%02x", i % 8 == 0 ? "\n\t " : "", hi, lo);
        }
        std::printf("\n");
    }
    std::printf("\t PS_BMP_ADDR=%08x HACT=%d VACT=%d PS_BMPCP_ADDR=%08x\n", PS_BMP_ADDR, PS_BMP_HACT, PS_BMP_VACT,
                PS_BMPCP_ADDR);
    std::printf("\t PS_BG_HACT=%d PS_BG_VACT=%d PS_BG_COLOR=%06x PS_BG_TRANS=%d PS_CHAR_HST=%d PS_CHAR_VST=%d "
                "PS_CHAR_COLOR=%06x\n",
                PS_BG_HACT, PS_BG_VACT, PS_BG_COLOR, PS_BG_TRANS, PS_CHAR_HST, PS_CHAR_VST, PS_CHAR_COLOR);
    std::printf("<<===PI HDMI INFO\r\n");
    for (int p = 0; p < 4; ++p)
        printHdmi("\t PI_HDMI_INFO", p, PI_HDMI_INFO[p]);
}

void c331_manage::zdrDbg_c331_param(int section)
{
    const int s = ((section % kSections) + kSections) % kSections;
    std::printf("[zdrDbg_c331_param] %s\n", kSectionNames[s]);
    switch (s) {
    case 0:
        zdrDbg_c331_param();
        break;
    case 1:
        for (int p = 0; p < kPortCount; ++p) {
            const ST_PORT_INFO& i = PI_PORT_INFO[p];
            std::printf("\t port%d: PI_UPDATE=%d PI_STATE=%d PI_HTOTAL=%d PI_VTOTAL=%d PI_ACT=%d,%d,%d,%d "
                        "PI_PORT_INFO htt=%d vtt=%d hw=%d state=%d nosig=%d\n",
                        p, PI_UPDATE[p], i.STATE, i.HCNT, i.VCNT, PI_ACT[p].hst, PI_ACT[p].hw, PI_ACT[p].vst,
                        PI_ACT[p].vw, i.HCNT, i.VCNT, i.HCNT2, i.STATE, i.nosignal);
        }
        break;
    case 2:
        for (int w = 0; w < kWinCount; ++w) {
            std::printf("\t win%d: IWIN %d,%d,%d,%d OWIN %d,%d,%d,%d", w, IWIN[w].hst, IWIN[w].hw, IWIN[w].vst,
                        IWIN[w].vw, OWIN[w].hst, OWIN[w].hw, OWIN[w].vst, OWIN[w].vw);
            // The window's port: its measured field size and scan mode (a
            // window without a port has neither).
            const int p = PM_INPUT[w];
            if (p >= 0 && p < kPortCount)
                std::printf(" g_pi_ifact=%dx%d", PI_IFH[p], PI_IFV[p]);
            else
                std::printf(" g_pi_ifact=-");
            std::printf(" PM_MEM_WMODE=%d PS_MEM_WMODE=%d", PM_MEM_WMODE[w], PS_MEM_WMODE[w]);
            if (p >= 0 && p < kPortCount)
                std::printf(" PI_SCAN_MODE=%d\n", PI_PORT_INFO[p].IP);
            else
                std::printf(" PI_SCAN_MODE=-\n");
        }
        for (int p = 0; p < kPortCount && p < kIchCount; ++p) {
            // Line rate: frames per second times lines per frame, in kHz.
            const double fh = PI_FV[p] * PI_HDMI_INFO[p].Vtotal / 1000.0;
            std::printf("\t port%d: PS_MEM_SC %08x %08x %08x %08x %08x PM_IACTHST=%d PM_IACTVST=%d PI_FPICLK=%.3f "
                        "PI_FH=%.3f PI_FV=%.3f PI_IFH=%d PI_IFV=%d PI_SYNC_POL=%d/%d\n",
                        p, PS_MEM_SC[p][0], PS_MEM_SC[p][1], PS_MEM_SC[p][2], PS_MEM_SC[p][3], PS_MEM_SC[p][4],
                        PI_ACT[p].hst, PI_ACT[p].vst, PI_FPICLK[p], fh, PI_FV[p], PI_IFH[p], PI_IFV[p],
                        PI_HDMI_INFO[p].Hpol, PI_HDMI_INFO[p].Vpol);
        }
        // The lane masks each V-by-One receiver is armed with for 2, 4 and
        // 8 lanes.
        for (int q = 0; q < 2; ++q)
            std::printf("\t vbo%d: PS_VBO_2LANE=%d PS_VBO_4LANE=%d PS_VBO_8LANE=%d\n", q, PS_VBO_2LANE, PS_VBO_4LANE,
                        PS_VBO_8LANE);
        for (int i = 0; i < 4; ++i)
            std::printf("\t cmos%d: PS_MEM_IP_I %08x %08x PS_MEM_IP_P %08x %08x\n", i, PS_MEM_IP_I[i][0],
                        PS_MEM_IP_I[i][1], PS_MEM_IP_P[i][0], PS_MEM_IP_P[i][1]);
        for (int i = 0; i < 4; ++i)
            std::printf("\t cmos%d: HNR=%d VNR=%d TNR=%d BNR=%d MNR=%d COMB=%d DIAG=%d MVFLT=%d IPEN=%d 22PD=%d 23PD=%d "
                        "24SF=%d 22PDSQTH=%d 23PDSQTH=%d\n",
                        i, PM_HNR[i], PM_VNR[i], PM_TNR[i], PM_BNR[i], PM_MNR[i], PM_COMB[i], PM_DIAG[i], PM_MVFLT[i],
                        PM_IPEN[i], PM_22PD[i], PM_23PD[i], PM_24SF[i], PM_22PDSQTH[i], PM_23PDSQTH[i]);
        for (int c = 0; c < kOchCount; ++c) {
            std::printf("\t g_och_layer[%d]:", c);
            for (int l = 0; l < kOchCount; ++l)
                std::printf(" %d", g_och_layer[c][l]);
            std::printf("\n");
        }
        for (int w = 0; w < kWinCount; ++w)
            std::printf("\t PM_OVERLAY_PRI[%d]=%x\n", w, static_cast<unsigned>(PM_OVERLAY_PRI[w]));
        break;
    case 5:
        for (int p = 0; p < kPortCount; ++p) {
            const HdmiInfo& h = PI_HDMI_INFO[p];
            std::printf("\t port%d: PI_UPDATE=%d PI_STATE=%d lane=%d %s %s PI_ACT=%d,%d,%d,%d\n", p, PI_UPDATE[p],
                        PI_PORT_INFO[p].STATE, h.lane, p >= 4 ? "IT6807" : "IT6602",
                        h.nosignal ? "Nosignal" : "Normal", PI_ACT[p].hst, PI_ACT[p].hw, PI_ACT[p].vst, PI_ACT[p].vw);
        }
        break;
    case 6:
        for (int c = 0; c < kOchCount; ++c) {
            drv->write_C331(c331_fd, kOutBkgColor, 0xFFFFFF, chOffset(c));
            drv->write_C331(c331_fd, kOutBkgEnable, 1, chOffset(c));
        }
        std::printf("\n .................... ");
        break;
    case 7:
        for (int c = 0; c < kOchCount; ++c)
            drv->write_C331(c331_fd, 0x0A4601, 0xC3, chOffset(c));
        std::printf("\n .................... ");
        break;
    case 8:
        for (int c = 0; c < kOchCount; ++c) {
            drv->write_C331(c331_fd, 0x504A01, 1, chOffset(c));
            drv->write_C331(c331_fd, 0x504B03, 0x80FF80, chOffset(c));
        }
        std::printf("\n .........input change........... ");
        break;
    case 9:
        for (unsigned bank : {0x0Au, 0x1Au}) {
            drv->write_C331(c331_fd, (bank << 16) | 0x4601, 3, 0);
            drv->write_C331(c331_fd, (bank << 16) | 0x4B01, 3, 0);
        }
        std::printf("\n .........B10_HZOOMCTCH1/B10_VZOOMCTCH1 change........... ");
        break;
    case 10:
        // Inputs 5 and 4 read again from their receivers: each record is
        // rewritten as the source-check thread writes it (the record of an
        // input without signal zeroed, its no-signal field set), then
        // printed. A receiver that does not answer leaves its record as it
        // was.
        if (velmosource* source = velmosource::p_velmo_source) {
            for (int input : {5, 4}) {
                const bool read = source->poll_input(input) == 0;
                HdmiInfo rec;
                {
                    QMutexLocker hold(&Utils::_source_hdminfo_mutex);
                    rec = source->hdminfo[input];
                }
                std::printf("[iTE6805_Get_Hdmi] dev_id:%d, idx:%d\n", input - 4, input);
                if (!read)
                    std::printf("\t receiver not answering, record kept\n");
                printHdmi("\t", input, rec);
            }
        }
        break;
    default:
        break;
    }
    std::fflush(stdout);
}

void c331_manage::zdrDbg_c331_print_regGrp(int group)
{
    std::printf("[%s] grp:%d\n", __func__, group);
    if (group != 0) {
        std::printf("\t not found valid grp!!!!!!!");
        std::fflush(stdout);
        return;
    }
    const int fd = c331_fd;
    std::printf("\t ICH:");
    for (int w = 0; w < kWinCount; ++w) {
        std::printf("\n\t win%d port%d: ", w, PM_INPUT[w]);
        for (int i = 0; i < kIchCount && g_win_ich[w][i] >= 0; ++i)
            std::printf("ICH%d ", g_win_ich[w][i] + 1);
    }
    std::printf("\n\t OCH:");
    for (int w = 0; w < kWinCount; ++w) {
        std::printf("\n\t win%d: ", w);
        for (int c = 0; c < kOchCount; ++c) {
            if (PM_WIN_NUM[c] == w)
                std::printf("OCH%d ", c + 1);
        }
    }
    std::printf("\n");
    for (int c = 0; c < kOchCount; ++c) {
        const unsigned off = chOffset(c);
        std::printf("\t ch%d OSFLD:", c);
        for (unsigned d : kOsfld)
            std::printf(" %08x", drv->read_C331(fd, d, off));
        std::printf(" ISFLD:");
        for (unsigned d : kIsfld)
            std::printf(" %08x", drv->read_C331(fd, d, off));
        std::printf("\n\t     OSYCT=%x ISYCT=%x OMWI=%x IMWI=%x", drv->read_C331(fd, kOsyct, off),
                    drv->read_C331(fd, kIsyct, off), drv->read_C331(fd, kOmwi, off), drv->read_C331(fd, kImwi, off));
        std::printf(" OACT:");
        for (unsigned d : kOact)
            std::printf(" %u", drv->read_C331(fd, d, off));
        std::printf(" IACT:");
        for (unsigned d : kIact)
            std::printf(" %u", drv->read_C331(fd, d, off));
        const unsigned n = 0x100u * static_cast<unsigned>(c);
        std::printf(" ICHSEL=%x ISCWCT=%x OSCWCT=%x\n", drv->read_C331(fd, kIchsel + n, 0),
                    drv->read_C331(fd, kIscwct + n, 0), drv->read_C331(fd, kOscwct + n, 0));
    }
    std::fflush(stdout);
}

void c331_manage::c331_print()
{
    if (!drv || c331_fd < 0)
        return;
    for (const PrintEntry& e : printList()) {
        const unsigned desc = static_cast<unsigned>(e.bank) << 16 | static_cast<unsigned>(e.address) << 8 | e.count;
        unsigned value;
        if (e.bank == kSharedEngineBank) {
            // Reading the flash controller's data and status ports moves
            // them on: never in the middle of another thread's flash,
            // DMA or drawing sequence.
            std::lock_guard<std::mutex> hold(sfl_mutex);
            value = drv->read_C331(c331_fd, desc, 0);
        } else {
            value = drv->read_C331(c331_fd, desc, 0);
        }
        std::printf("%06X  %08Xh\n", desc, value);
        usleep(1);
    }
    std::fflush(stdout);
}

void c331_manage::c331_outputTimmingCtrlReg(char ctl1, char ctl2)
{
    const unsigned b1 = static_cast<unsigned char>(ctl1), b2 = static_cast<unsigned char>(ctl2);
    std::printf("[%s] %X\n", __func__, b2 << 8 | b1);
    std::printf("\t POSY1EN: %s, POSY2EN: %s\n", (b1 & 0x40) ? "Enable" : "Disable", (b2 & 0x40) ? "Enable" : "Disable");
    static const char* const kClock[4] = {"CLK", "XTALCLK", "PIPLLCLK", "CLK"};
    // The sources of output n's vertical sync and field signals.
    static const char* const kVsync[4] = {"PO%dVS", "PO%dHS", "PO%dACT", "PWMCH%d"};
    static const char* const kField[4] = {"PO%dFLD", "PO%dACT", "PO%dHS", "GLPWM%d"};
    int n = 1;
    for (unsigned b : {b1, b2}) {
        char vs[16], fld[16];
        std::snprintf(vs, sizeof(vs), kVsync[(b >> 2) & 3], n);
        std::snprintf(fld, sizeof(fld), kField[(b >> 4) & 3], n);
        std::printf("\t PO%dCLK: %s\n", n, kClock[b & 3]);
        std::printf("\t PO%dVS: %s\n", n, vs);
        std::printf("\t PO%dFLD: %s\n", n, fld);
        ++n;
    }
    std::fflush(stdout);
}

void c331_manage::c331_calc_PixelCLK()
{
    for (int clock : {9900000, 4950000}) {
        std::printf("[c331_calc_PixelCLK] %s", clock == 9900000 ? "9.9MHz" : "4.95MHz");
        std::printf("\n");
        for (int htt = 100; htt <= 17407; ++htt) {
            if (clock % htt == 0)
                std::printf("htt:%d\n", htt);
        }
    }
    std::fflush(stdout);
}

// ---- test sequences -------------------------------------------------------

void c331_manage::output_slidebar(int fd)
{
    const BarColour colours[4] = {
        {0xFF, 0xFF, 0xFF, 3, 3, 3}, {0xFF, 0, 0, 3, 0, 0}, {0, 0xFF, 0, 0, 3, 0}, {0, 0, 0xFF, 0, 0, 3}};
    for (int c = 0; c < 4; ++c)
        colourBar(drv, fd, kBarBanks[c], 9, 0x560, colours[c]);
    over("output_slidebar");
}

void c331_manage::input_slidebar(int fd)
{
    colourBar(drv, fd, kBarBanks[4], 0x89, 0xAC0, {0xFF, 0xFF, 0xFF, 3, 3, 3});
    colourBar(drv, fd, kBarBanks[5], 0x89, 0xAC0, {0, 0xFF, 0, 0, 3, 0});
    over("input_slidebar");
}

void c331_manage::disable_slidebar(int fd)
{
    for (unsigned bank : kBarBanks)
        drv->write_C331(fd, bank << 16 | 0x5701, 0, 0);
    over("disable_slidebar");
}

void c331_manage::vbyone_rx_ch1_seq(int fd)
{
    drv->write_C331(fd, 0x027F01, 0x0E, 0);
    drv->write_C331(fd, 0x027F01, 0x0F, 0);
    drv->write_C331(fd, 0x024001, 5, 0);
    drv->write_C331(fd, 0x024F01, 0xFF, 0);
    drv->write_C331(fd, 0x024C01, 0xAB, 0);
    over("vbyone_rx_ch1_seq");
}

void c331_manage::vbyone_rx_ch2_seq(int fd)
{
    drv->write_C331(fd, 0x027F01, 0x0D, 0);
    drv->write_C331(fd, 0x027F01, 0x0F, 0);
    drv->write_C331(fd, 0x025C01, 5, 0);
    drv->write_C331(fd, 0x026B01, 0xFF, 0);
    drv->write_C331(fd, 0x026801, 0xAB, 0);
    over("vbyone_rx_ch2_seq");
}

void c331_manage::read_c331_b174bug(int fd)
{
    struct Named {
        const char* name;
        unsigned desc;
    };
    static const Named kRegs[8] = {
        {"B174_VI11FHM", 0xAE4002}, {"B174_VI13FHM", 0xAE4202}, {"B174_VI15FHM", 0xAE4402},
        {"B174_VI17FHM", 0xAE4602}, {"B174_VI11FVM", 0xAE5C03}, {"B174_VI13FVM", 0xAE5F03},
        {"B174_VI15FVM", 0xAE6203}, {"B174_VI17FVM", 0xAE6503},
    };
    for (const Named& r : kRegs) {
        const unsigned v = drv->read_C331(fd, r.desc, 0) + 1;
        if (traceOn())
            std::printf("\n read_c331_b174bug(%s=%d ) over \n", r.name, static_cast<int>(v));
    }
    const unsigned dual = drv->read_C331(fd, 0x031A01, 0);
    if (traceOn())
        std::printf("\n read_c331_b174bug(B3_IDUALCTCH56=%d ) over \n", static_cast<int>(dual));
}

void c331_manage::write_read_c331_b80_iacthstch5(int fd)
{
    constexpr unsigned kIacthstCh5 = 0x501702;
    const unsigned v = drv->read_C331(fd, kIacthstCh5, 0);
    if (traceOn())
        std::printf("\n write_read_c331_b80_iacthstch5(B80_IACTHSTCH5=%d ) read \n", static_cast<int>(v));
    drv->write_C331(fd, kIacthstCh5, v + 100, 0);
    const unsigned back = drv->read_C331(fd, kIacthstCh5, 0);
    if (traceOn())
        std::printf("\n write_read_c331_b80_iacthstch5(B80_IACTHSTCH5=%d ) write=%#x,read=%#x \n",
                    static_cast<int>(back), v + 100, back);
}
