// The change pass: every change of the parameter block reaches the chip,
// the FPGA thread and the input-source manager here.
#include "videochip/c331_manage.h"

#include "core/le_bytes.h"
#include "core/logMsg.h"
#include "core/omenu.h"
#include "core/para_layout.h"
#include "core/utils.h"
#include "core/zdrrampara.h"
#include "sendcard/fpga_manage.h"
#include "videochip/c331_trace.h"

#include <QMutexLocker>
#include <cstring>

using namespace c331;

namespace {

// Block words of the output panel set-up.
const int kPanelWords[5] = {para::kSpliceMode, para::kLedWidth, para::kLedHeight, para::kOut1 + 4, para::kOut1 + 6};

// Debug request bytes in the runtime status area.
constexpr int kDbgSequence = 34;
constexpr int kDbgParamDump = 35;
constexpr int kDbgRegGroup = 36;

// The last byte of the six applied layer records.
constexpr int kLayersEnd = para::kLayer + para::kLayerSize * kWinCount;

class Diff {
public:
    Diff(const unsigned char* now, const unsigned char* was) : now_(now), was_(was) {}
    bool changed(int off) const { return le16(now_, off) != le16(was_, off); }
    bool changed8(int off) const { return now_[off] != was_[off]; }
    uint16_t now(int off) const { return le16(now_, off); }
    uint16_t was(int off) const { return le16(was_, off); }

private:
    const unsigned char* now_;
    const unsigned char* was_;
};

} // namespace

int c331_manage::window_of_layer(int layer) const
{
    if (layer < 0)
        return -1;
    for (int w = 0; w < gMwin.wincnt && w < kWinCount; ++w) {
        if (gWininfo[w].srcLayer == layer)
            return w;
    }
    return -1;
}

void c331_manage::c331managerdeal(void* arg)
{
    c331_manage* m = static_cast<c331_manage*>(arg);
    if (!m)
        return;
    const int fd = m->c331_fd;
    ZdrRamPara* store = ZdrRamPara::p_zdrrampara_config;
    fpga_manage* fpga = fpga_manage::p_fpga_manage;
    velmosource* source = velmosource::p_velmo_source;

    // ---- half 1: apply the changes, under the c331 manage mutex ----
    // A re-initialisation asked for without a changed panel word (read
    // before the request it goes with).
    const bool reinit = g_led_panel_reinit.load() != 0;
    const bool panelDue = (m->panel_deferred || reinit) && g_set_led_para != 1;
    int signal = 0;   // the change code for the page and the file, sent after the pass
    if (store && (para_change_flag.load() != 0 || panelDue)) {
        C331ParaLock::acquire();
        const unsigned char flag = para_change_flag.load();
        if (flag != 0 || ((m->panel_deferred || reinit) && g_set_led_para != 1)) {
            const unsigned char* block = store->ram_para;
            // The pass applies the block as it stands now, and this copy is
            // what the chip shows afterwards: a store that lands while the
            // pass programs the chip differs from it and is applied by the
            // next pass.
            unsigned char now[para::kBlockSize];
            store->snapshot_block(now);
            Diff d(now, m->applied_para);
            // The crop step of a port check inside this pass reads this copy.
            struct PassCopy {
                c331_manage* m;
                PassCopy(c331_manage* manage, const unsigned char* copy) : m(manage) { m->pass_para = copy; }
                ~PassCopy() { m->pass_para = nullptr; }
            } passCopy(m, now);

            // 1. The FPGA side is up: end the forced background colour.
            if (g_force_bkcolor == 0)
                m->zdrApi_forceColorDisable(fd);

            // 2. Output panel. While an LED request is pending the FPGA thread
            // must finish it first, and it may need this mutex to do so: the
            // panel is left for a later pass instead of waiting here.
            bool panelChanged = reinit;
            for (int off : kPanelWords)
                panelChanged = panelChanged || d.changed(off);
            bool panelDeferredNow = false;
            if (panelChanged) {
                if (g_set_led_para == 1) {
                    panelDeferredNow = true;
                } else {
                    if (reinit)
                        g_led_panel_reinit = 0;
                    m->zdrApi_PnlInit2(d.now(para::kLedWidth), d.now(para::kLedHeight), d.now(para::kOut1 + 4),
                                       d.now(para::kOut1 + 6), d.now(para::kSpliceMode));
                    // The set-up wrote its results into the block: this
                    // pass hands them on to the sending card and shows them.
                    std::memcpy(now + para::kPanelResult, block + para::kPanelResult, para::kPanelResultSize);
                    {
                        // One answer for the request and any
                        // re-initialisation asked for with it.
                        QMutexLocker lock(&Utils::_led_para_init_mutex);
                        g_set_led_para = 2;
                        g_led_panel_reinit = 0;
                    }
                    if (d.now(para::kOsdOn) != 0)
                        g_osd_update = 1;
                }
            }

            // 3. Picture words.
            if (d.changed(para::kBrightness)) {
                // The screen brightness is the sending card's (its thread
                // applies the percent act waiting); the chip stays at 50.
                m->c331_SetBrightness(50);
            }
            if (d.changed(para::kContrast))
                m->c331_SetContrast(d.now(para::kContrast));
            if (d.changed(para::kSharpness))
                m->c331_SetSharpness(d.now(para::kSharpness));
            if (d.changed(para::kSaturation))
                m->c331_SetSaturation(d.now(para::kSaturation));
            if (d.changed(para::kColorTempType) || d.changed(para::kRedGain) || d.changed(para::kGreenGain) ||
                d.changed(para::kBlueGain)) {
                const unsigned packed = now[para::kColorTempType] | (now[para::kBlueGain] << 8) |
                                        (now[para::kGreenGain] << 16) |
                                        (static_cast<unsigned>(now[para::kRedGain]) << 24);
                m->c331_SetColorTemp(static_cast<int>(packed));
            }

            // 4. Priorities: a layer's priority belongs to the window that
            // shows the layer.
            for (int l = 0; l < kWinCount; ++l) {
                const int off = para::kLayerPriority + 2 * l;
                if (!d.changed(off))
                    continue;
                c331_trace("DIFF REG CUSTOM_INFO_IMAGE%d_PRIORITY %04x==>%04x\r\n", l + 1, d.was(off), d.now(off));
                const int w = m->window_of_layer(l);
                if (w < 0)
                    continue;
                m->c331_SetWinPriority(w, d.now(off));
                m->c331_SetWinPriority1(fd);
            }

            // A window's input: a crop (its record's input and rectangle) or
            // a whole input; the audio follows the audio window's input.
            auto selectInput = [&](int l, int w, uint16_t word, uint16_t wasWord) {
                int input = word;
                if (word & para::kLayerInputIsCrop) {
                    const int k = word & 0xFF;
                    if (k >= para::kCropCount) {
                        // Only 40 crop records exist.
                        writeLogMsg(WARNING, "layer " + std::to_string(l) + " names crop record " +
                                                 std::to_string(k) + ", beyond the crop table; ignored");
                        return;
                    }
                    ST_RECT rect = c331_manage::crop_record_rect(now, k);
                    input = now[para::crop(k)] & 0x0F;
                    if (w >= 0) {
                        m->c331_SetInputsourceCrop(w, word);
                        m->c331_SetCrop(static_cast<char>(w), 1, &rect);
                    }
                } else if (wasWord & para::kLayerInputIsCrop) {
                    ST_RECT rect{0, 0, 0, 0};
                    if (w >= 0)
                        m->c331_SetCrop(static_cast<char>(w), 0, &rect);
                }
                if (w >= 0)
                    m->c331_SetInputsource(w, input);
                if (l == d.now(para::kAudioWindow) && source)
                    source->volume_update_request = 1;
            };

            // 5. Layer records, in offset order.
            bool relaidOut = false;
            for (int off = para::kLayer; off < kLayersEnd; off += 2) {
                if (!d.changed(off))
                    continue;
                const int l = (off - para::kLayer) / para::kLayerSize;
                const int field = (off - para::kLayer) % para::kLayerSize;
                const uint16_t word = d.now(off);
                c331_trace("DIFF REG win[%#x] reg:%x %04x==>%04x\r\n", l, off - para::kBrightness, d.was(off), word);
                if (field == para::kLayerEnable || field == para::kLayerX || field == para::kLayerY ||
                    field == para::kLayerW || field == para::kLayerH) {
                    // Full re-layout; it reads every layer's fields from the block.
                    m->zdrApi_initEnvC331();
                    m->zdrApi_MultiWinChAlloc(1);
                    m->zdrApi_MultiWinChInit();
                    m->set_output(fd);
                    relaidOut = true;
                    break;
                }
                const int w = m->window_of_layer(l);
                switch (field) {
                case para::kLayerMirror:
                    if (w >= 0)
                        m->c331_SetWinAttr(static_cast<char>(w), word);
                    break;
                case para::kLayerInput:
                    selectInput(l, w, word, d.was(off));
                    break;
                case para::kLayerOutput:
                    if (w >= 0)
                        m->c331_SetWinOutput(fd, static_cast<char>(w), word);
                    break;
                case para::kLayerP2P:
                    if (w >= 0)
                        m->c331_SetWinDbdMode(fd, static_cast<char>(w), word);
                    break;
                default:
                    break;
                }
            }

            // 5b. Crop records: an edit of a crop a shown window uses (the
            // crop page's OK, the PC's write of the record) reaches the
            // window in this pass. A new rectangle re-programs the window's
            // input side as a new timing of its input does; a new input of
            // the crop selects it again, as a new choice of the crop would. A re-layout has read every crop already; a
            // window whose input word changed has just been given its crop;
            // a crop no window shows moves nothing.
            for (int l = 0; l < kWinCount && !relaidOut; ++l) {
                const int off = para::layer(l) + para::kLayerInput;
                const uint16_t word = d.now(off);
                const int w = m->window_of_layer(l);
                if (w < 0 || d.changed(off) || !(word & para::kLayerInputIsCrop) || (word & 0xFF) >= para::kCropCount)
                    continue;
                const int k = word & 0xFF;
                const int rec = para::crop(k);
                const bool inputMoved = d.changed8(rec);
                if (!inputMoved && !d.changed(rec + 2) && !d.changed(rec + 4) && !d.changed(rec + 6) &&
                    !d.changed(rec + 8))
                    continue;
                c331_trace("DIFF REG crop[%d] of win[%#x]\r\n", k, l);
                if (inputMoved) {
                    selectInput(l, w, word, word);
                } else {
                    ST_RECT rect = c331_manage::crop_record_rect(now, k);
                    m->g_chg_input[w] = 3;
                    m->c331_SetCrop(static_cast<char>(w), 1, &rect);
                }
            }

            // 6. Switch effects: used by the next output programming.
            for (int l = 0; l < kWinCount; ++l) {
                const int in = para::kLayerFade + 4 * l;
                const int out = in + 2;
                const int w = m->window_of_layer(l);
                if (d.changed(in)) {
                    c331_trace("DIFF REG win[%#x] reg:%x(%04x) %04x==>%04x\r\n", l, in - para::kBrightness, in,
                               d.was(in), d.now(in));
                    if (w >= 0)
                        m->PM_WIN_FADE_IN[w] = d.now(in);
                }
                if (d.changed(out)) {
                    c331_trace("DIFF REG win[%#x] reg:%x(%04x) %04x==>%04x\r\n", l, out - para::kBrightness, out,
                               d.was(out), d.now(out));
                    if (w >= 0)
                        m->PM_WIN_FADE_OUT[w] = d.now(out);
                }
            }

            // 7. Test pattern.
            if (d.changed8(para::kTestPattern))
                m->c331_SetPattern(now[para::kTestPattern]);

            // 8. EDID records: every changed record is rewritten.
            for (int i = 0; i < para::kInputCount; ++i) {
                const int off = para::edid(i);
                if (!(d.changed(off) || d.changed(off + 2) || d.changed(off + 4)) || !source)
                    continue;
                source->edid_custom_select[i] = 0;
                source->edid_write_request[i] = 1;
            }

            // 9. Audio of the applied layers.
            for (int l = 0; l < kWinCount; ++l) {
                if (d.changed(para::layer(l) + para::kLayerAudioLevel) && source)
                    source->volume_update_request = 1;
            }

            // 10. What the sending card must redo (the black-out is an act
            // of the screen record, taken when the word was written).
            if (fpga) {
                if (d.changed(para::kPanelResult) || d.changed(para::kPanelResult + 2))
                    fpga->lcd_change_flag = 1;
            }

            // 11. OSD on or off.
            if (d.changed(para::kOsdOn)) {
                m->zdrApi_OsdSet(0, d.now(para::kOsdOn));
                if (d.now(para::kOsdOn) != 0)
                    g_osd_update = 1;
            }

            // 12. The change goes on to the page in focus and to the file
            // (signalled once the mutex is released: the GUI thread may take
            // it while it handles a signal).
            signal = flag != 0 ? flag : 1;
            para_change_flag = 0;
            // What the chip now shows. Panel words left for a later pass stay
            // at their applied values, so that the later pass sees them.
            uint16_t keep[5];
            for (int i = 0; i < 5; ++i)
                keep[i] = le16(m->applied_para, kPanelWords[i]);
            std::memcpy(m->applied_para, now, sizeof(m->applied_para));
            if (panelDeferredNow) {
                for (int i = 0; i < 5; ++i)
                    setLe16(m->applied_para, kPanelWords[i], keep[i]);
            }
            m->panel_deferred = panelDeferredNow;

            // 13. OSD menu file.
            if (g_osd_update == 1) {
                g_osd_update = 0;
                char path[] = "/data/configs/omenu.json";
                get_json_omenu_para(path, &g_osd_list);
                set_OSD_para(&g_osd_list.menu[0]);
            }

            // 14. Debug requests of the PC.
            const unsigned char* status = store->run_status;
            // The PC reads the register image under the store's short lock.
            auto clear = [](int at) {
                ParaWriteLock bytes;
                bytes.status()[at] = 0;
            };
            const unsigned char seq = status[kDbgSequence];
            if (seq) {
                const int bit = __builtin_ctz(seq);
                switch (bit) {
                case 0: m->input_slidebar(fd); break;
                case 1: m->output_slidebar(fd); break;
                case 2: m->disable_slidebar(fd); break;
                case 3: m->vbyone_rx_ch1_seq(fd); break;
                case 4: m->vbyone_rx_ch2_seq(fd); break;
                case 5: m->read_c331_b174bug(fd); break;
                case 6: m->c331_init_state = 0; break;
                default: m->write_read_c331_b80_iacthstch5(fd); break;
                }
                clear(kDbgSequence);
            }
            if (status[kDbgParamDump]) {
                m->zdrDbg_c331_param(status[kDbgParamDump] - 1);
                clear(kDbgParamDump);
            }
            if (status[kDbgRegGroup]) {
                if (status[kDbgRegGroup] & 1)
                    m->zdrDbg_c331_print_regGrp(0);
                clear(kDbgRegGroup);
            }
        }
        C331ParaLock::release();
    }
    if (signal)
        store->test_signal(signal);

    // ---- half 2: input monitoring and OSD refresh, every pass ----
    if (m->zdrApi_IsPatternGen())
        return;
    m->load_hdmi();
    m->check_port_valid(fd);
    if (m->osd_update_dirty) {
        m->update_osd(fd);
        m->osd_update_dirty = 0;
    } else if (m->osd_set_dirty) {
        m->set_osd(fd, 1);
        m->set_scroll(fd);
        m->osd_set_dirty = 0;
    }
    m->check_input_port(fd);
    for (int p = 0; p < kPortCount; ++p) {
        for (int w = 0; w < kWinCount; ++w) {
            if (m->PM_INPUT[w] != p || !(m->PI_UPDATE[p] || m->PI_UPDATE2[p]))
                continue;
            std::printf("\n [c331_main]PI_UPDATE[%d]=%d   PI_ACT  HST=%4d  HW=%4d  VST=%4d  VW=%4d\n", p,
                        m->PI_UPDATE[p], m->PI_ACT[p].hst, m->PI_ACT[p].hw, m->PI_ACT[p].vst, m->PI_ACT[p].vw);
            m->g_chg_input[w] = 3;
            m->set_output(fd);
        }
        m->PI_UPDATE[p] = 0;
        m->PI_UPDATE2[p] = 0;
    }
}
