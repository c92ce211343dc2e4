// The window list: the chip's windows are the enabled layers of the
// parameter block, renumbered from 0 in layer order; and the assignment of
// output channels to the windows.
#include "videochip/c331_manage.h"

#include "core/le_bytes.h"
#include "core/para_layout.h"
#include "core/zdrrampara.h"
#include "videochip/c331_trace.h"

using namespace c331;

namespace {

const char* const kInputNames[8] = {"EXT", "DVI", "HDMI1(1.4)", "HDMI2(1.4)", "HDMI3(2.0)", "HDMI4(2.0)", "?", "?"};

} // namespace

void c331_manage::zdrApi_initEnvC331()
{
    ZdrRamPara* store = ZdrRamPara::p_zdrrampara_config;
    if (!store) {
        zdrApi_initEnvC331Default();
        return;
    }
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

void c331_manage::zdrApi_MultiWinChAlloc(char init)
{
    // Channel allocation is not part of this build yet: the windows keep
    // the channels they have.
    (void)init;
}

void c331_manage::zdrApi_MultiWinChInit()
{
    // The window and channel parameter arrays are not rebuilt in this build
    // yet.
}
