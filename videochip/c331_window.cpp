// The window list: the chip's windows are the enabled layers of the
// parameter block, renumbered from 0 in layer order; and the assignment of
// output channels to the windows.
#include "videochip/c331_manage.h"

#include "core/le_bytes.h"
#include "core/para_layout.h"
#include "core/utils.h"
#include "core/zdrrampara.h"
#include "videochip/c331_drv.h"
#include "videochip/c331_trace.h"

#include <QMutexLocker>
#include <algorithm>
#include <cstdio>
#include <cstring>

using namespace c331;

namespace {

const char* const kInputNames[8] = {"EXT", "DVI", "HDMI1(1.4)", "HDMI2(1.4)", "HDMI3(2.0)", "HDMI4(2.0)", "?", "?"};

constexpr uint8_t kNoCh = 0xFF;

// A failed channel allocation is reported whether tracing is on or not.
void allocFail(const char* line) { std::printf("\033[5m\033[1;31m%s\033[0m", line); }

} // namespace

void c331_manage::zdrApi_initEnvC331()
{
    ZdrRamPara* store = ZdrRamPara::p_zdrrampara_config;
    if (!store) {
        zdrApi_initEnvC331Default();
        return;
    }
    C331ParaAccess access;
    const unsigned char* b = store->ram_para;

    int count = 0;
    for (int l = 0; l < kWinCount; ++l) {
        if (le16(b, para::layer(l) + para::kLayerEnable))
            ++count;
    }
    if (count == 0) {
        zdrApi_initEnvC331Default();
        return;
    }
    gMwin.wincnt = count;
    gMwin.pwin = mwin_list;

    const int areaW = pnl.och.width * pnl.och_HCnt;
    const int areaH = pnl.och.height * pnl.och_VCnt;
    const bool none = pnl.splice == SPLICE_NONE || pnl.splice == SPLICE_CP12;
    const char* tag = pnl.splice == SPLICE_CP12 ? "SPLICE_CP1TO2 " : "SPLICE_NONE ";

    int w = 0;
    for (int l = 0; l < kWinCount; ++l) {
        const int rec = para::layer(l);
        const uint16_t enable = le16(b, rec + para::kLayerEnable);
        if (!enable)
            continue;
        ST_WIN_INFO& wi = gWininfo[w];

        int pri = le16(b, para::kLayerPriority + 2 * l);
        if (pri > 5) {
            c331_trace(" WIN%d PRIORITY:%x OOR,reset to %d\n", w, pri, pri % 6);
            pri %= 6;
        }
        wi.layer = static_cast<uint8_t>(pri);

        ST_RECT& r = mwin_list[w];
        r.x = le16(b, rec + para::kLayerX) + pnl.xoffs;
        r.y = le16(b, rec + para::kLayerY) + pnl.yoffs;
        r.w = le16(b, rec + para::kLayerW);
        r.h = le16(b, rec + para::kLayerH);
        wi.x = static_cast<int16_t>(r.x);
        wi.y = static_cast<int16_t>(r.y);
        wi.w = static_cast<int16_t>(r.w);
        wi.h = static_cast<int16_t>(r.h);

        const uint16_t inputWord = le16(b, rec + para::kLayerInput);
        bool cropOutOfTable = false;
        if (inputWord & para::kLayerInputIsCrop) {
            const int k = inputWord & 0xFF;
            PM_INPUT_OFFSET_EN[w] = 1;
            if (k >= para::kCropCount) {
                // Only 40 crop records exist: such a layer fails the check.
                cropOutOfTable = true;
                wi.input = 0;
            } else {
                wi.cropIdx = static_cast<uint8_t>(k);
                wi.input = static_cast<uint8_t>(b[para::crop(k)] & 7);
            }
        } else {
            PM_INPUT_OFFSET_EN[w] = 0;
            wi.input = static_cast<uint8_t>(inputWord & 7);
        }
        wi.winEn = static_cast<uint8_t>(enable & 0xFF);
        wi.rotate = b[rec + para::kLayerMirror];
        wi.srcLayer = static_cast<int8_t>(l);

        const uint16_t out = le16(b, rec + para::kLayerOutput);
        wi.outputMode = static_cast<uint8_t>(out & 3);
        PM_WIN_FADE_EN[w] = (out >> 2) & 1;
        PM_WIN_DBD_MODE[w] = (out & 0x100) ? dbd_code(le16(b, rec + para::kLayerP2P)) : DBD_DISABLE;
        g_chg_dbd[w] = 1;
        PM_WIN_FADE_IN[w] = le16(b, para::kLayerFade + 4 * l);
        PM_WIN_FADE_OUT[w] = le16(b, para::kLayerFade + 4 * l + 2);

        const bool wideOut = r.x + r.w > areaW;
        const bool tallOut = r.y + r.h > areaH;
        const bool badInput = wi.input > 5 || cropOutOfTable;
        const bool firstOff = gWininfo[0].winEn == 0;
        const bool badRotate = wi.rotate > 3;
        if (wideOut || tallOut || badInput || firstOff || badRotate) {
            const char* pre = none ? tag : "";
            if (r.x + r.w > pnl.ledW)
                c331_trace("\t OOR for %swin:%d x:%d w:%d, pnl->w:%d\r\n", pre, w, r.x, r.w, pnl.ledW);
            else if (r.y + r.h > pnl.ledH)
                c331_trace("\t OOR for %swin:%d y:%d h:%d, pnl->h\r\n", pre, w, r.y, r.h);
            else if (badInput)
                c331_trace("\t OOR for %swin:%d, input:%s\r\n", pre, w, kInputNames[wi.input & 7]);
            else if (firstOff)
                c331_trace("\t OOR for %swin0 disable\r", pre);
            else if (badRotate)
                c331_trace("\t OOR for %swin%d rotate:%d\r\n", pre, w, wi.rotate);
            c331_trace("\t OOR for win RECT\t");
            zdrApi_initEnvC331Default();
            return;
        }
        ++w;
    }

    // Each priority once: a taken one moves to the lowest free one.
    unsigned taken = 0;
    for (int i = 0; i < count; ++i) {
        const unsigned bit = 1u << gWininfo[i].layer;
        if (!(taken & bit)) {
            taken |= bit;
            continue;
        }
        for (int p = 0; p < 6; ++p) {
            if (!(taken & (1u << p))) {
                c331_trace("\t\t win%d layer:%d already assigned, reset it to :%d\n", i, gWininfo[i].layer, p);
                gWininfo[i].layer = static_cast<uint8_t>(p);
                taken |= 1u << p;
                break;
            }
        }
    }

    for (int i = 0; i < kWinCount; ++i) {
        if (i < count) {
            const int rot = b[para::layer(gWininfo[i].srcLayer) + para::kLayerMirror] & 3;
            gWininfo[i].rotate = static_cast<uint8_t>(rot);
            PM_WIN_HMIRROR[i] = rot & 1;
            PM_WIN_VMIRROR[i] = (rot >> 1) & 1;
        }
        g_chg_mirror[i] = 1;
    }
}

void c331_manage::zdrApi_initEnvC331Default()
{
    zdrApi_MultiWinInit();
    gMwin.pwin = mwin_default;
    zdrApi_MultiWinGet(&gMwin);
    // The full-screen window carries the settings of the first enabled layer.
    int first = 0;
    if (ZdrRamPara* store = ZdrRamPara::p_zdrrampara_config) {
        C331ParaAccess access;
        for (int l = 0; l < kWinCount; ++l) {
            if (le16(store->ram_para, para::layer(l) + para::kLayerEnable)) {
                first = l;
                break;
            }
        }
    }
    for (int w = 0; w < gMwin.wincnt && w < kWinCount; ++w) {
        ST_RECT& r = gMwin.pwin[w];
        r.x += pnl.xoffs;
        r.y += pnl.yoffs;
        gWininfo[w].x = static_cast<int16_t>(r.x);
        gWininfo[w].y = static_cast<int16_t>(r.y);
        gWininfo[w].w = static_cast<int16_t>(r.w);
        gWininfo[w].h = static_cast<int16_t>(r.h);
        gWininfo[w].rotate = 0;
        gWininfo[w].winEn = 1;
        gWininfo[w].srcLayer = static_cast<int8_t>(w == 0 ? first : -1);
    }
}

void c331_manage::zdrApi_MultiWinGet(ST_MWIN* mwin)
{
    if (!mwin || !mwin->pwin)
        return;
    const ST_MWIN_PRESET& p = mwin_preset[0];
    mwin->wincnt = p.wincnt;
    for (int i = 0; i < p.wincnt && i < kWinCount; ++i)
        mwin->pwin[i] = p.pwin[i];
    zdrApi_PreviewCh();
}

void c331_manage::zdrApi_PreviewCh()
{
}

int c331_manage::och_rects(ST_RECT* rects) const
{
    const int W = pnl.och.width;
    const int H = pnl.och.height;
    int across = 0;
    int down = 0;
    switch (pnl.och.arrang) {
    case ARRANG2K4_2x1: across = 2; down = 1; break;
    case ARRANG2K4_4x1_8K: across = 4; down = 1; break;
    case ARRANG2K4_2x2_8K: across = 2; down = 2; break;
    case ARRANG2K4_1x2: across = 1; down = 2; break;
    default: return 0;      // no panel set up
    }
    int n = 0;
    for (int r = 0; r < down; ++r)
        for (int c = 0; c < across; ++c)
            rects[n++] = ST_RECT{c * W, r * H, W, H};
    return n;
}

void c331_manage::zdrApi_MultiWinChAlloc(char init)
{
    c331_trace("[zdrApi_MultiWinChAlloc] init:%d\r\n", init);
    for (int w = 0; w < kWinCount; ++w) {
        ST_WIN_INFO& wi = gWininfo[w];
        std::memset(wi.ochLst, kNoCh, sizeof(wi.ochLst));
        std::memset(wi.ochPosLst, kNoCh, sizeof(wi.ochPosLst));
        wi.totalh = wi.totalv = wi.ochCnt = 0;
    }
    ST_RECT ch[kOchCount];
    // The template's channel count, not the panel's grid: the two agree for
    // every arrangement the panel set-up produces, and the template is what
    // the rectangles below are read from.
    const int ochCnt = std::min(och_rects(ch), pnl.och_HCnt * pnl.och_VCnt);
    const int hcnt = pnl.och_HCnt;
    if (ochCnt <= 0 || hcnt <= 0)
        return;
    const int arrang = pnl.och.arrang;
    const int wincnt = std::min(gMwin.wincnt, kWinCount);

    int start = 0;
    int end = 0;
    for (int w = 0; w < wincnt; ++w) {
        ST_WIN_INFO& wi = gWininfo[w];
        const int x1 = wi.x;
        const int y1 = wi.y;
        const int x2 = wi.x + wi.w;
        const int y2 = wi.y + wi.h;
        for (int c = 0; c < ochCnt; ++c) {
            const ST_RECT& r = ch[c];
            const bool inX1 = r.x <= x1 && x1 < r.x + r.w;
            const bool inY1 = r.y <= y1 && y1 < r.y + r.h;
            const bool inX2 = r.x <= x2 && x2 <= r.x + r.w;
            const bool inY2 = r.y <= y2 && y2 <= r.y + r.h;
            bool isStart;
            bool isEnd;
            if (arrang == ARRANG2K4_2x1) {
                isStart = inX1;
                isEnd = inX2;
            } else if (arrang == ARRANG2K4_1x2) {
                isStart = inY1;
                isEnd = inY2;
            } else {
                isStart = inX1 && inY1;
                isEnd = inX2 && inY2;
            }
            if (isStart)
                start = c;
            if (isEnd) {
                end = c;
                break;
            }
        }
        if (start > end)
            continue;
        int totalh = std::min(end - start + 1, hcnt);
        int totalv = 0;
        for (int c = start; c <= end; c += hcnt)
            ++totalv;
        char line[64];
        bool fail = false;
        if (totalh > 8) {
            std::snprintf(line, sizeof(line), "totalh:%d > 8\n", totalh);
            allocFail(line);
            totalh = 0;
            fail = true;
        }
        if (totalv > 8) {
            std::snprintf(line, sizeof(line), "totalv:%d > 8\n", totalv);
            allocFail(line);
            totalv = 0;
            fail = true;
        }
        if (totalh * totalv > 8) {
            std::snprintf(line, sizeof(line), "totalh(%d)*totalv(%d)=%d > 8\n", totalh, totalv, totalh * totalv);
            allocFail(line);
            totalh = totalv = 0;
            fail = true;
        }
        if (fail) {
            std::snprintf(line, sizeof(line), "win%d alloc och FAIL\n", w);
            allocFail(line);
            break;
        }
        wi.totalh = static_cast<uint8_t>(totalh);
        wi.totalv = static_cast<uint8_t>(totalv);
        wi.ochCnt = static_cast<uint8_t>(totalh * totalv);

        int n = 0;
        auto append = [&wi, &n](int c) {
            if (n < 8) {
                wi.ochLst[n] = static_cast<uint8_t>(c);
                wi.ochPosLst[n] = static_cast<uint8_t>(c);
                ++n;
            }
        };
        int cols = 0;
        int rows = 0;
        for (int c = 0; c < ochCnt; ++c) {
            if (c == start) {
                append(c);
                if (c == end)
                    break;
                cols = rows = 1;
            } else if (c == end) {
                append(end);
                break;
            } else if (start < c) {
                if (cols < totalh) {
                    append(c);
                    ++cols;
                } else if (rows < totalv) {
                    append(c);
                    cols = 1;
                    ++rows;
                }
            }
        }
    }
}

void c331_manage::zdrApi_MultiWinChOverlay()
{
    for (int c = 0; c < kOchCount; ++c)
        PM_OVERLAY[c] = c + 1;
    const int wincnt = std::min(gMwin.wincnt, kWinCount);
    if (wincnt <= 0)
        return;
    bool taken[kOchCount] = {};
    // Only real channel numbers index the table: unfilled places of a list
    // (0xFF) are skipped.
    auto parts = [this](int w) { return std::min<int>(gWininfo[w].ochCnt, 8); };
    for (int w = 0; w < wincnt; ++w)
        for (int k = 0; k < parts(w); ++k)
            if (gWininfo[w].ochLst[k] < kOchCount)
                taken[gWininfo[w].ochLst[k]] = true;
    if (wincnt > 1) {
        for (int i = 0; i < wincnt; ++i) {
            for (int j = i + 1; j < wincnt; ++j) {
                for (int kj = 0; kj < parts(j); ++kj) {
                    uint8_t& cj = gWininfo[j].ochLst[kj];
                    if (cj >= kOchCount)
                        continue;
                    bool clash = false;
                    for (int ki = 0; ki < parts(i); ++ki)
                        clash = clash || gWininfo[i].ochLst[ki] == cj;
                    if (!clash)
                        continue;
                    int freeCh = -1;
                    for (int c = 0; c < kOchCount && freeCh < 0; ++c)
                        if (!taken[c])
                            freeCh = c;
                    if (freeCh < 0) {
                        c331_trace("\t not found idle CH, !!!!!why!!!!!\r");
                        continue;
                    }
                    cj = static_cast<uint8_t>(freeCh);
                    taken[freeCh] = true;
                }
            }
        }
    }
    bool given[kOchCount] = {};
    for (int a = 0; a < kOchCount; ++a) {
        int count = 0;
        for (int w = 0; w < wincnt; ++w)
            for (int k = 0; k < parts(w); ++k)
                if (gWininfo[w].ochPosLst[k] == a)
                    ++count;
        if (count < 2)
            continue;
        for (int w = 0; w < wincnt; ++w) {
            for (int k = 0; k < parts(w); ++k) {
                if (gWininfo[w].ochPosLst[k] != a)
                    continue;
                const int c = gWininfo[w].ochLst[k];
                if (c < kOchCount && !given[c]) {
                    PM_OVERLAY[c] = a + 1;
                    given[c] = true;
                }
                break;
            }
        }
    }
    g_chg_overlay = 1;
}

void c331_manage::zdrApi_MultiWinChInit()
{
    zdrApi_MultiWinChOverlay();
    c331_SetWinPriority1(c331_fd);

    {
        QMutexLocker lock(&Utils::_source_hdminfo_mutex);
        for (int p = 0; p < kPortCount; ++p) {
            std::memset(static_cast<void*>(&PI_HDMI_INFO[p]), 0xFF, sizeof(PI_HDMI_INFO[p]));
            PI_HDMI_INFO[p].pfreq = 0;      // an all-ones float is no frequency
            PI_HDMI_INFO[p].nosignal = 1;
        }
    }
    for (int w = 0; w < kWinCount; ++w) {
        PM_INPUT[w] = kNoWindow;
        PM_WIN_SHAPE[w][0] = PM_WIN_SHAPE[w][1] = 0;
        for (int k = 0; k < 4; ++k)
            PM_WIN_OFFSET[w][k] = 0;
        g_chg_win[w] = g_chg_input[w] = g_chg_dbd[w] = 0;
    }
    const unsigned char* block = ZdrRamPara::p_zdrrampara_config ? ZdrRamPara::p_zdrrampara_config->ram_para : nullptr;
    const int wincnt = std::min(gMwin.wincnt, kWinCount);
    for (int w = 0; w < wincnt; ++w) {
        ST_WIN_INFO& wi = gWininfo[w];
        g_chg_win[w] = g_chg_input[w] = g_chg_dbd[w] = 1;
        PM_WIN_SHAPE[w][0] = wi.totalh;
        PM_WIN_SHAPE[w][1] = wi.totalv;
        PM_INPUT[w] = zdrApi_inputCvtC331(static_cast<DSP_INPUT_PORT>(wi.input));
        for (int k = 0; k < 4; ++k)
            PM_WIN_OFFSET[w][k] = zdrApi_OchGetWinOffset1(&wi, k);
        for (int k = 0; k < 4; ++k)
            PM_INPUT_OFFSET[w][k] = 0;
        const int port = PM_INPUT[w];
        if (PM_INPUT_OFFSET_EN[w] && block && wi.cropIdx < para::kCropCount && port >= 0 && port < kPortCount) {
            ST_RECT r;
            {
                C331ParaAccess access;
                r = crop_record_rect(block, wi.cropIdx);
            }
            crop_fit_input(port, &r);
            for (int k = 0; k < 4; ++k)
                PM_INPUT_OFFSET[w][k] = zdrApi_CropGetOffset(port, &r, k);
        }
    }
    pnl.chErr = 0;
    for (int c = 0; c < kOchCount; ++c) {
        PM_WIN_NUM[c] = kNoWindow;
        PM_AREA_NUM[c] = kNoArea;
    }
    for (int w = 0; w < wincnt; ++w) {
        const ST_WIN_INFO& wi = gWininfo[w];
        for (int k = 0; k < wi.ochCnt && k < 8; ++k) {
            const int c = wi.ochLst[k];
            if (c >= kOchCount) {
                c331_trace("\t !!!!och:%d OOR\r\n", c);
                pnl.chErr = 1;
                break;
            }
            PM_WIN_NUM[c] = w;
            PM_AREA_NUM[c] = k;
        }
    }
    for (int c = 0; c < kOchCount; ++c)
        drv->write_c331_mask(c331_fd, 0x000801 + 0x100u * static_cast<unsigned>(c), PM_WIN_NUM[c] != kNoWindow ? 1 : 0,
                             1, 0);
}
