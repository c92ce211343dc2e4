// c331 video-processing chip manager: bring-up and the chip thread that
// applies every change of the parameter block.
//
// The files of videochip/, by subject:
//   c331_manage.h/.cpp    this manager: object, thread, bring-up, fixed parameters
//   c331_deal.cpp         the change pass (c331managerdeal)
//   c331_picture.cpp      picture and window controls
//   c331_input_regs.cpp   input-side register helpers
//   c331_window.cpp       window list and channel allocation
//   c331_ich.cpp          input channel allocation and source selection
//   c331_ichwin.cpp       input side of a window: capture, shrink, field memory
//   c331_improc.cpp       image processing of input channels 0 to 3
//   c331_geometry.cpp     window geometry and scaling on the output side
//   c331_panel.cpp        output panel set-up
//   c331_port.cpp         input port monitoring
//   c331_output.cpp       overlay, blending and output programming
//   c331_crop.cpp         input crops and sharpness
//   c331_osd.cpp          OSD text layer;  c331_font.cpp  OSD fonts
//   c331_flash.cpp        the chip's serial flash and its DMA into chip memory
//   c331_debug.cpp        diagnostics
//   c331_drv.h/.cpp       register access over the chip's SPI node
//   c331_types.h          register descriptors, window model, panel and port records
//   c331_trace.h          console trace of the chip code
#pragma once

#include "core/lock_check.h"
#include "core/wait_bound.h"
#include "core/published.h"
#include "avchips/velmosource.h"
#include "videochip/c331_types.h"

#include <atomic>
#include <mutex>
#include <pthread.h>

class c331_drv;

enum class SystemWord : int;   // core/zdrrampara.h

class c331_manage {
public:
    static c331_manage* pInstance();
    static Published<c331_manage> p_c331_manage;

    // The c331 manage mutex and the parameter-changed flag. Every writer of
    // the parameter block (pages, PC commands, the store's own operations)
    // locks the mutex, stores, sets the flag (1 apply, 2 apply and rewrite
    // the user-mode files) and unlocks; the chip thread compares and applies
    // under the same mutex. They exist before the chip object is made, so a
    // writer never finds them missing.
    static pthread_mutex_t c331_mutex;
    static std::atomic<unsigned char> para_change_flag;
    // OSD fonts found in the chip's flash: bit 0 the 32-pixel CJK font, bit 1
    // the 32-pixel ASCII font, bit 2 the 64-pixel CJK font, bit 3 the
    // 64-pixel ASCII font. Read by the factory settings page.
    static std::atomic<unsigned char> font_status;

    // The program makes its one object through pInstance(); tests make
    // objects of their own and drive them step by step.
    c331_manage();
    ~c331_manage();
    c331_manage(const c331_manage&) = delete;
    c331_manage& operator=(const c331_manage&) = delete;

    // ---- object, thread and bring-up ----------------------------------

    // Opens the chip, reads its identity once, starts the chip thread.
    // 0, or 255 when the thread cannot be created.
    int initialize();
    static void* c331manageThread(void* arg);
    // One pass of the thread: an identity read (init states 0..4), the
    // bring-up (5) or a change pass (6).
    void manage_step();
    // The bring-up of init state 5 (ends in state 6 with the gate open).
    void bring_up();
    // The applied copy starts from the shadow copy of the store.
    void start_applied_copy();
    // A value the system itself writes back into the parameter block (the
    // brightness percent the screen shows, the black-out word an on time of
    // the schedule takes back): it is the system's state, not a
    // user's change, so it goes into the applied copy as well and no change
    // pass acts on it. A word whose user change is still waiting for its
    // pass keeps that change (false), unless over_change: the system's
    // write comes after that change and replaces it. The caller holds
    // c331_mutex.
    static bool write_back_word(SystemWord word, uint16_t value, bool over_change = false);

    void load_system_param();
    void define_param();
    void load_param();
    void write_initial_setting(int fd, int cold);
    void Sleep(int ms);
    // PLL code of the power-on programming for a multiplier, reference
    // clock, divider and V-by-One transmitter mode.
    static int pll_code(int mul, int refclk, int div, int vbotxMode);

    // ---- applying parameter changes -----------------------------------

    static void c331managerdeal(void* self);
    // The window that shows layer L now, or -1 (a disabled layer).
    int window_of_layer(int layer) const;

    // ---- picture and window controls ----------------------------------

    void c331_SetBrightness(unsigned short v);
    void c331_SetContrast(int v);
    void c331_SetSaturation(int v);
    void c331_SetColorTemp(int packed);
    int c331_SetPattern(int pattern);
    void c331_SetInputsourceCrop(int win, int cropIdx);
    void c331_SetWinPriority(int win, int pri);
    void c331_SetWinPriority1(int fd);
    void c331_SetWinOutput(int fd, char win, int data);
    void win_freeze_sel(int fd, int win, int data);
    void c331_SetWinDbdMode(int fd, char win, int mode);
    void c331_SetWinAttr(char win, int data);
    // PM_WIN_DBD_MODE code of a layer's point-to-point word.
    static int dbd_code(int p2p);
    // Output channels the picture controls and the test pattern program.
    int och_in_use() const;

    // ---- input-side register helpers ----------------------------------

    void set_rtct(int fd, int mode);
    void wait1_pivs(int fd, int ich);
    void wait1_pivs2(int fd);
    int wait_ifld_change(int fd, int port);
    int wait_ofld_change(int fd, int och);
    void set_VBORXfrange(int fd, int rx, float clock, int flip);
    void set_sypol(int fd, int vbo, int index);
    void set_VBOInput(int fd, int rx);
    void set_pict(int fd, int on, int port);
    void set_input_bkg(int fd, int port, int on);
    void set_input_bkg2(int fd, int win, int on);
    void reset_dbd_mem(int win);
    bool check_dbd_input(int fd, int port);
    int set_dbd_mem(int fd, int win);
    bool zdrApi_IsPatternGen();
    void calc_iwin2(int win);
    // Kept for the PC tools' builds: does nothing.
    void zdrApi_IsWinValid(int win) { (void)win; }
    void calc_owin2(int win);
    void calc_iwin();
    void calc_owin();

    // A chip status wait reached its bound in time: logged once until the
    // same wait succeeds again.
    enum WaitKind { WAIT_PIVS, WAIT_IFLD, WAIT_OFLD, WAIT_VBO_LOCK, WAIT_POVS, WAIT_KIND_COUNT };
    // Bounds in time of the chip's waits (board microseconds). A sync or a
    // field comes once a frame: an input sync or field change within three
    // frames at 24 Hz (41.7 ms each), an output sync or field within a few
    // frames at the slowest output rate; a V-by-One receiver locks within a
    // few frames.
    static constexpr uint64_t kInputSyncBoundUs = 125000;
    static constexpr uint64_t kOutputSyncBoundUs = 200000;
    static constexpr uint64_t kVboLockBoundUs = 100000;
    // False after an output sync wait reached its bound: a fade then does
    // not wait again for a sync that has stopped.
    bool last_povs_ok = true;
    void wait_result(WaitKind kind, bool ok);

    // ---- window list and channel allocation ----------------------------

    void zdrApi_initEnvC331();
    void zdrApi_initEnvC331Default();
    void zdrApi_MultiWinGet(ST_MWIN* mwin);
    void zdrApi_PreviewCh();
    void zdrApi_MultiWinChAlloc(char init);
    void zdrApi_MultiWinChInit();

    // ---- input channel allocation ---------------------------------------

    // Channels all available windows need (-1 above 8); frees stale ones.
    int check_ich_all(int win);
    // A free channel (or first of a free pair), -1 none.
    int check_ich(int interlaced, int pair);
    // Finds a channel by moving another window's; 0 done, -1 none.
    int adjust_ich(int interlaced, int pair, int win);
    // 0 or 1 allocated (1 after a rearrangement), 2 the window cannot be served.
    int set_input(int win, int port);
    void reset_ich(int win);
    void set_idual(int fd, int ich, int on, int port);
    void set_ichsel(int fd, int win);
    void set_display_window_ich_dbd(int fd, int win, int mode);
    void wait1_povs(int fd, int och);
    // Channels window w needs now (0 while it is not available).
    int ich_demand(int win) const;
    // g_win_ich rebuilt from g_ich_win.
    void rebuild_win_ich();

    // ---- image-processing blocks (input channels 0 to 3) ------------------

    void set_ip(int fd, int ich);
    void set_mvflt(int fd, int ich, int c);
    void set_diag(int fd, int ich, int c);
    void set_ipregs(int fd, int ich, int c);
    void set_comb(int fd, int ich, int c);
    void set_nr(int fd, int ich, int c);
    void set_nr_block(int fd, int ich, int c);
    void set_nr_tpx(int fd, int ich, int c);
    void set_nr_hvpx(int fd, int ich, int c);
    void set_nr_mosq(int fd, int ich, int c);
    void set_nr_b_480i(int fd, int ich, int c);
    void set_nr_b_480p(int fd, int ich, int c);
    void set_nr_b_720p(int fd, int ich, int c);
    void set_nr_b_1080i(int fd, int ich, int c);
    void set_nr_b_1080p(int fd, int ich, int c);
    void set_mct(int fd, int win, int flag);
    void set_iscwct(int fd, int win);
    // ratio: 16.16 fixed-point shrink ratio (65536 = 1:1).
    void set_lut_hshrnk(int fd, int ratio, int ch, int dual);
    void set_lut_vshrnk_4sym(int fd, int ratio, int ch, int dual);
    void set_lut_vshrnk(int fd, int ratio, int ch);
    void set_lut_hzoom(int fd, int ratio, int ch);
    // Coefficient set of the shrink ladder; row of the 4-tap table.
    static int lut_shrink_set(int ratio);
    static int lut_4sym_row(int ratio);
    // The last noise-reduction enable written per CMOS input.
    int nren_old[4]{};

    // ---- output panel set-up -------------------------------------------

    int zdrApi_PnlInit2(int ledW, int ledH, int out1w, int out1h, int splice);
    void zdrApi_MultiWinInit();

    // ---- input port monitoring -----------------------------------------

    void load_hdmi();
    void check_port_valid(int fd);
    void check_input_port(int fd);
    void c331_SetInputsource(int win, int input);
    // Input number 0..5 to chip port (255 above 5); chip port to the
    // input-source manager's record index (3 for anything but 1..5). One
    // table, its own inverse.
    static int zdrApi_inputCvtC331(DSP_INPUT_PORT n);
    static int zdrApi_GetPortDevId(int port);
    // The ports (6 = none, six entries) of a multi-port dot-by-dot window;
    // 1 for such a window, else 0 (the list is then all 6).
    int zdrApi_GetWinDbdMultiPort(int win, int* ports) const;
    // Window w takes its picture from port p.
    bool window_uses_port(int win, int port) const;
    // The V-by-One receiver's lane mask for the lane count of its port.
    int vbo_lane_mask(int rx) const;
    // Re-arms V-by-One receiver rx (0 or 1) with a lane mask.
    void rearm_vbo_rx(int fd, int rx, int laneMask);
    // Advances a V-by-One receiver's retry counter (1..29, 0).
    void advance_vbo_retry(int rx);

    // ---- overlay and output programming -------------------------------

    void set_output(int fd);
    void update_overlay_info();
    void set_overlay(int fd);
    void reset_layer_coef(int fd, int mode);

    // ---- input crops and sharpness -------------------------------------

    void c331_SetSharpness(int sharpness);
    void c331_SetCrop(char win, char enable, ST_RECT* rect);
    void zdrApi_forceColorDisable(int fd);
    // One edge offset (type 0 left, 1 right, 2 top, 3 bottom) of rect in the
    // port's active area; never negative.
    int zdrApi_CropGetOffset(int port, ST_RECT* rect, int type);
    // A new timing of port p: every window showing a crop of it takes the
    // crop's rectangle again, as the chip was given it (para_in_force): a
    // RAM write of the record waiting for the PC's flag is not taken here.
    void zdrApi_updateCrop(int fd, int port);
    // A window's margin (type 0 left, 1 right, 2 top, 3 bottom) inside its
    // output channels.
    int zdrApi_OchGetWinOffset1(ST_WIN_INFO* win, int type);
    // Effective input width of a port (a V-by-One input split over two
    // channels measures half its width per channel) and its height.
    int crop_input_width(int port) const;
    // The rectangle of crop record k of a block image: x, y, width and
    // height, the record's unsigned 16-bit words after its head.
    static ST_RECT crop_record_rect(const unsigned char* block, int k);
    // A crop rectangle as the port's input takes it: one whose width runs
    // past the input becomes the whole width from x = 0, one whose height
    // does the whole height from y = 0. Every user of a crop record takes
    // its rectangle through here, so that a crop shows the same part of
    // the input whichever path programmed it.
    void crop_fit_input(int port, ST_RECT* rect) const;
    // The output channels of window w (list entries 0..7 only); their count.
    int win_och_list(int win, int* och) const;

    // ---- OSD and fonts --------------------------------------------------

    int zdrApi_OsdSet(int type, int value);
    // Replaces the OSD text with count lines; line k holds lengths[k]
    // characters.
    int zdrApi_OsdSetUnicode(int count, int* lengths, wchar_t (*lines)[128]);
    void update_osd(int fd);
    void set_osd(int fd, int on);
    void set_scroll(int fd);
    void load_char();
    void load_bmp();
    void set_char_color(int fd);
    // Fills OSD_WIN and the per-channel-column and -row rectangles of the
    // OSD (out[i].hst/hw for column i, out[j].vst/vw for row j).
    void calc_osd(_ImageWindowDef2_St* out);
    // Drawing primitives of the chip's OSD engine. Each holds sfl_mutex for
    // its command (the engine shares bank 4 with the flash controller) and
    // answers false when the engine stayed busy past its bound in time.
    bool osd_paint(int fd, int x, int w, int y, int h, int value, int base);
    bool osd_copy(int fd, int src, int dst, int w, int h, int packed);
    bool osd_put_unicode_string(int fd, char const (*line)[2], int x, int y, int fg, int bg, int w, int h, int base,
                                int dot64);
    void gen_char(int fd);
    void load_unicode_char();
    // Line pitch of the OSD memories in 128-byte units.
    int osd_pitch() const { return g_osd_mwi_shift ? g_osd_mwi * 4 : g_osd_mwi; }
    // Drawing-engine waits that reached their bound since start (logged once).
    static std::atomic<unsigned> osd_engine_timeouts;
    // Both answer -1 when the flash did not answer in time (a header that
    // could not be read counts as a missing font), else 0.
    int read_c331_font(int fd);
    int update_font(int fd);
    // The built-in flash addresses and sizes of the four fonts' glyphs.
    void load_font_table();

    // ---- serial flash behind the chip ---------------------------------
    //
    // Each operation holds sfl_mutex for its whole length, so that the PC's
    // commands, the font update and the chip thread never interleave their
    // register sequences on the one controller. Every status wait is
    // bounded; a wait that reaches its bound is logged (once per kind) and
    // makes the operation answer -1, else 0.

    int write_flash(int fd, int address, int length, char* data);
    int read_flash(int fd, int address, int length, char* data);
    // type: 0 a 4 KiB sector, 1 a 32 KiB block, else a 64 KiB block;
    // sector counts 4 KiB units whatever the type.
    int erase_flash(int fd, int sector, int count, char type);
    // DMA of length bytes from flash to target 0 (chip memory), 1
    // (glyph-string memory) or 4 (colour table); returns once the
    // controller is idle again.
    int osd_write_dma_sfl(int fd, int source, int dest, int target, int length);
    // Prints the 32-pixel glyph of a character from flash (tracing only).
    void zdrApi_debug_printf_unicode(int code, int fd);

    enum SflWait { SFL_WEMPTY, SFL_WBUSY, SFL_WIP, SFL_WRDI, SFL_EBUSY, SFL_READ, SFL_DMA, SFL_WAIT_COUNT };
    static std::mutex sfl_mutex;
    // Waits that reached their bound since start (the log has one line per kind).
    static std::atomic<unsigned> sfl_timeouts[SFL_WAIT_COUNT];

    // ---- diagnostics -----------------------------------------------------

    void zdrDbg_c331_param(int section);
    void zdrDbg_c331_print_regGrp(int group);
    void input_slidebar(int fd);
    void output_slidebar(int fd);
    void disable_slidebar(int fd);
    void vbyone_rx_ch1_seq(int fd);
    void vbyone_rx_ch2_seq(int fd);
    void read_c331_b174bug(int fd);
    void write_read_c331_b80_iacthstch5(int fd);
    void zdrDbg_c331_param();
    // Dumps every register of the list; runs in the control link's thread
    // with only the register access locks.
    void c331_print();
    void c331_outputTimmingCtrlReg(char ctl1, char ctl2);
    void c331_calc_PixelCLK();
    void c331_debugEnv();

    // ---- output panel, channel allocation, geometry and overlay ---------

    void zdrApi_PnlInitOch3();
    int zdrApi_PnlInitOch_diff(int* htt, int* vtt, int hblank, int vblank);
    void zdrApi_c331InitRegPanel();
    // Writes the panel result words into the parameter block (offset 1376
    // only; any other offset changes nothing).
    void zdrApi_WriteRam(int offset);
    // The built-in (HTT, VTT) list of the output timing: 5,199 pairs.
    static const int (*timing_list(int* count))[2];
    void zdrApi_MultiWinChOverlay();
    void calc_scaling(_ImageWindowDef_st in, _ImageWindowDef_st out, _ScalingSt* s);
    void calc_oact(_ImageWindowDef_st out, _ImageWindowDef2_St* oact, int win);
    int check_stitching_win(int* win, int* partner);
    void check_stitching_chg();
    void get_och(int win, int* och);
    void set_oscwct(int fd, int och);
    void set_lut_vzoom_4sym(int fd, int vzoom, int och);
    void set_display_window_och(int fd, _ImageWindowDef_st iwin, _ImageWindowDef_st owin, int win);
    void set_display_window_ich(int fd, _ImageWindowDef_st iwin, _ImageWindowDef_st owin, int win);
    void set_freeze(int fd, int on);
    void set_layer_coef(int fd, int win, int cnt, int dir);
    void reset_act(int fd, int mode);
    // Channel rectangles of the panel's arrangement in pixels; the number
    // of channels (och_HCnt x och_VCnt, at most 8).
    int och_rects(ST_RECT* rects) const;

    // ==== data =============================================================

    // System parameters (fixed at start by load_system_param/define_param;
    // the panel set-up changes the channel timing).
    int PS_REFCLK{};
    int PS_MEMCLK{};
    int PS_MEMCLK4{};                 // a quarter of the memory clock
    int PS_PIXCLK[2]{};               // the first is the PLL reference
    int PS_ACTHW{};                   // active width of one output channel
    int PS_ACTVW{};
    int PS_HTOTAL{};
    int PS_VTOTAL{};
    int PS_HSW{};
    int PS_HBP{};
    int PS_VSW{};
    int PS_VBP{};
    int PS_ACTHST{};
    int PS_ACTVST{};
    int PS_OAOIHST{};
    int PS_OAOIHED{};
    int PS_OAOIVST{};
    int PS_OAOIVED{};
    int PS_VBOTX_MODE{};
    int PS_VBOTX_LAYOUT{};
    int PS_PANEL_HW{};
    int PS_PANEL_VW{};
    int PS_OCH_HNUM{};                // output channel shape across
    int PS_OCH_VNUM{};                // and down
    int PS_PLL_DIV{};
    int PS_PLL_MUL{};
    unsigned PS_MEM_SC[c331::kIchCount][5]{};     // frame-buffer offset and four field bases
    int PS_MEM_MWI{};                 // memory width value of a channel's own memory
    unsigned PS_MEM_DBD[5]{};         // dot-by-dot field bases
    unsigned PS_DBD_BLK_SIZE{};       // dot-by-dot block size
    unsigned PS_MEM_IP_I[4][2]{};     // de-interlacer fields, interlaced input
    unsigned PS_MEM_IP_P[4][2]{};     // de-interlacer fields, progressive input
    unsigned PS_MEM_MV{};             // motion buffer
    int PS_MEM_IPYOFF{};
    int PS_MWI_IP{};
    int PS_MEM_WMODE[c331::kWinCount]{};
    // Lane masks of a V-by-One receiver for 2, 4 and 8 lanes (fixed; any
    // other lane count arms lane 0 alone, 128).
    static constexpr int PS_VBO_2LANE = 192;
    static constexpr int PS_VBO_4LANE = 240;
    static constexpr int PS_VBO_8LANE = 255;
    // Taps of the vertical shrink filter of input channels 0 to 3 (fixed):
    // 4 or more loads the coefficients as a pair of sets.
    int PS_VSHRNK_TAPS[4] = {2, 2, 2, 2};
    unsigned PS_SFL_ADDR{};
    unsigned PS_MEM_OSD{};
    unsigned PS_MEM_OSD1{};
    unsigned PS_FONT_ADDR{};
    // OSD system parameters.
    unsigned PS_BMP_ADDR{};
    int PS_BMP_HACT{};
    int PS_BMP_VACT{};
    unsigned PS_BMPCP_ADDR{};
    int PS_BG_HACT{};
    int PS_BG_VACT{};
    int PS_BG_COLOR{};
    int PS_BG_TRANS{};
    int PS_CHAR_HST{};
    int PS_CHAR_VST{};
    int PS_CHAR_COLOR{};
    unsigned PS_CHAR_ADDR_32ASCII{};
    unsigned PS_CHAR_ADDR_32CHN{};
    unsigned PS_CHAR_ADDR_64ASCII{};
    unsigned PS_CHAR_ADDR_64CHN{};
    unsigned PS_CHAR_SIZE_32ASCII{};
    unsigned PS_CHAR_SIZE_32CHN{};
    unsigned PS_CHAR_SIZE_64ASCII{};
    unsigned PS_CHAR_SIZE_64CHN{};
    unsigned g_font_addr_32ASCII{};
    unsigned g_font_addr_32CHN{};
    unsigned g_font_addr_64ASCII{};
    unsigned g_font_addr_64CHN{};

    // Window parameters (loaded from parameters_txt, then changed by the
    // window and OSD code).
    int PM_WIN_SHAPE[c331::kWinCount][2]{};
    int PM_INPUT[c331::kWinCount]{};              // chip port, 6 = none
    int PM_WIN_OFFSET[c331::kWinCount][4]{};      // left, right, top, bottom
    int PM_INPUT_OFFSET[c331::kWinCount][4]{};
    int PM_INPUT_OFFSET_EN[c331::kWinCount]{};
    int PM_WIN_NUM[c331::kOchCount]{};            // window on each output channel
    int PM_AREA_NUM[c331::kOchCount]{};           // part of the window
    int PM_OVERLAY[c331::kOchCount]{};            // channel area + 1
    int PM_OVERLAY_PRI[c331::kWinCount]{};        // window order words
    int PM_WIN_HMIRROR[c331::kWinCount]{};
    int PM_WIN_VMIRROR[c331::kWinCount]{};
    int PM_WIN_STITCHING[c331::kWinCount]{};
    int PM_WIN_DBD_MODE[c331::kWinCount]{};
    int PM_WIN_FADE_EN[c331::kWinCount]{};        // the switch-effect word
    int PM_WIN_FADE_IN[c331::kWinCount]{};
    int PM_WIN_FADE_OUT[c331::kWinCount]{};
    int PM_WIN_AUX[c331::kWinCount]{};            // a per-window word set, kept as loaded
    int PM_MEM_WMODE[c331::kWinCount]{};
    int PM_OSD_EN{};
    int PM_OSD_HZOOM_EN{};
    int PM_OSD_VZOOM_EN{};
    int PM_OSD_DATA_MODE{};
    int PM_OSD_UPDATE_BUTTON{};
    int PM_OSD_SCROLL_MODE{};
    int PM_OSD_OUTPUT_OFFSET[4]{};
    int PM_OSD_INPUT_OFFSET[4]{};
    int PM_OSD_CTRL[2]{};
    int PM_OSD_SCROLL_SPEED{};
    int PM_OSD_CHAR_64DOT{};
    // Image-processing levels per CMOS input.
    int PM_HNR[4]{};
    int PM_VNR[4]{};
    int PM_TNR[4]{};
    int PM_BNR[4]{};
    int PM_MNR[4]{};
    int PM_COMB[4]{};
    int PM_DIAG[4]{};
    int PM_MVFLT[4]{};
    int PM_IPEN[4]{};
    int PM_22PD[4]{};
    int PM_23PD[4]{};
    int PM_24SF[4]{};
    int PM_22PDSQTH[4]{};
    int PM_23PDSQTH[4]{};

    // Change marks.
    int g_chg_win[c331::kWinCount]{};         // window-change flag
    int g_chg_input[c331::kWinCount]{};       // 1 input changed, 3 port info changed, 2 moved
    int g_chg_dbd[c331::kWinCount]{};
    int g_chg_mirror[c331::kWinCount]{};
    int g_chg_stitch[c331::kWinCount][2]{};
    int g_chg_overlay{};                      // overlay-changed summary flag
    int g_chg_pri{};                          // priority-changed flag

    // Port information per chip port.
    HdmiInfo PI_HDMI_INFO[c331::kPortCount];
    ST_PORT_INFO PI_PORT_INFO[c331::kPortCount]{};
    _ImageWindowDef_st PI_ACT[c331::kPortCount]{};
    int PI_UPDATE[c331::kPortCount]{};
    int PI_UPDATE2[c331::kPortCount]{};
    double PI_FV[c331::kPortCount]{};
    double PI_FPICLK[c331::kPortCount]{};
    int PI_IFH[c331::kPortCount]{};
    int PI_IFV[c331::kPortCount]{};
    int port_status[c331::kPortCount]{};      // under Utils::_check_nosig_mutex
    unsigned char vbo_retry[2]{};

    // The window model.
    ST_PANEL pnl{};
    ST_WIN_INFO gWininfo[c331::kWinCount]{};
    ST_MWIN gMwin{};
    ST_RECT mwin_list[c331::kWinCount]{};     // the list built from the layers
    ST_RECT mwin_default[c331::kWinCount]{};  // the fallback list
    ST_MWIN_PRESET mwin_preset[10]{};
    ST_RECT mwin_preset_rect[10][c331::kWinCount]{};

    // Windows and channels.
    _ImageWindowDef_st IWIN[c331::kWinCount]{};
    _ImageWindowDef_st OWIN[c331::kWinCount]{};
    int g_ich_win[c331::kIchCount]{};
    int g_win_ich[c331::kWinCount][c331::kIchCount]{};
    _ImageWindowDef_st g_dbd_port_act[c331::kPortCount]{};
    int dbd_mem_blk[c331::kDbdBlocks]{};      // -1 free, 1 used
    int dbd_win_blk[c331::kWinCount][4]{};
    unsigned dbd_win_fld[c331::kWinCount][5]{};
    int dbd_win_mwi[c331::kWinCount]{};
    int dbd_clip[c331::kWinCount]{};
    int pattern_on{};                         // the built-in test pattern is on

    // Overlay and output programming.
    int g_och_layer[c331::kOchCount][c331::kOchCount]{};
    int g_och_layer_cnt[c331::kOchCount]{};
    int win_och_tbl[c331::kWinCount][c331::kOchCount]{};
    int applied_win_num[c331::kOchCount]{};
    int applied_win_ich[c331::kWinCount][c331::kIchCount]{};
    int fld_sel[c331::kWinCount][5]{};
    int win_frozen[c331::kWinCount]{};
    unsigned char out_filter[c331::kWinCount]{};

    // OSD.
    _ImageWindowDef_st OSD_WIN{};
    int osd_set_dirty{};
    int osd_update_dirty{};
    int g_osd_mwi{};
    int g_osd_mwi_shift{};
    int osd_bottom{};
    int osd_word_space{};
    int osd_line_space{};
    unsigned char unicode_text[64][256]{};
    unsigned char g_unicode_line{};
    static unsigned char prnEn[16];         // trace switches, bit 7 on

    // Chip access and state.
    int c331_fd = -1;
    c331_drv* drv = nullptr;
    std::atomic<unsigned char> c331_init_state{0};
    pthread_t thread{};
    bool thread_started = false;

    // What the chip shows: the parameter block as the last change pass
    // read it at its start (started from the shadow copy at bring-up), with
    // the system's own write-backs (write_back_word). The change pass
    // compares the block with it, not with the shadow copy, so that a store
    // made during or after a pass is applied even when the shadow has been
    // refreshed before the next pass. Guarded by c331_mutex.
    unsigned char applied_para[4096]{};
    bool applied_started = false;
    // The block the change pass is applying while it runs (its copy taken
    // at the start), else nullptr. Guarded by c331_mutex.
    const unsigned char* pass_para = nullptr;
    // What the chip is given: the pass's copy while a pass runs, else the
    // applied copy. The caller holds c331_mutex.
    const unsigned char* para_in_force() const { return pass_para ? pass_para : applied_para; }
    // The panel words changed while an LED request was pending; applied on
    // a later pass once the request has completed.
    bool panel_deferred = false;

    // Identity wait bookkeeping.
    std::atomic<unsigned> identity_good{0};
    std::atomic<unsigned> identity_bad{0};
    unsigned identity_bad_run = 0;
    unsigned identity_last_bad = 0;
    bool identity_logged = false;
    unsigned identity_log_after = 20000;    // wrong reads before the log line
    bool wait_logged[WAIT_KIND_COUNT] = {};
};

// The built-in window parameters (160 words) copied by load_param.
extern const unsigned int parameters_txt[160];

// A hold of the c331 manage mutex: a writer that checks the block and then
// stores holds it across both (or across its store and what it posts with
// it); the stores and their raise go through a ParaWriteLock inside it,
// which then takes only the short lock. raise() is for a request that
// stores nothing (the PC's flag asking for a pass): it asks for a pass (1).
// A flag 2 (the user-mode files as well) is raised only through
// ParaWriteLock::raise, which takes the files in its hold.
class C331ParaLock {
public:
    C331ParaLock() { acquire(); }
    ~C331ParaLock() { release(); }
    C331ParaLock(const C331ParaLock&) = delete;
    C331ParaLock& operator=(const C331ParaLock&) = delete;
    void raise() { raise_held(); }
    // The same for a thread that took the mutex with acquire() or
    // try_acquire().
    static void raise_held() { raise_flag(1); }

    // The change pass holds the mutex across its whole first half.
    static void acquire()
    {
        lock_check::short_lock_is_leaf("the c331 manage mutex");
        // A chip pass holds it for long: this thread's service waits.
        if (pthread_mutex_trylock(&c331_manage::c331_mutex) != 0) {
            service_wait::blocks();
            pthread_mutex_lock(&c331_manage::c331_mutex);
        }
        held_here = true;
    }
    static void release()
    {
        held_here = false;
        pthread_mutex_unlock(&c331_manage::c331_mutex);
    }
    // Takes the mutex only when it is free at once (a thread the chip thread
    // may wait for while it holds the mutex); true when taken, and then
    // held in this thread as acquire() leaves it. release() gives it back.
    static bool try_acquire()
    {
        lock_check::short_lock_is_leaf("the c331 manage mutex");
        if (pthread_mutex_trylock(&c331_manage::c331_mutex) != 0)
            return false;
        held_here = true;
        return true;
    }
    static bool held() { return held_here; }

private:
    friend class ParaWriteLock;
    // A pending 2 (rewrite the user-mode files as well) is never lowered by
    // a later 1: the pass that takes the flag does both.
    static void raise_flag(unsigned char value)
    {
        if (value > c331_manage::para_change_flag.load())
            c331_manage::para_change_flag = value;
    }
    static inline thread_local bool held_here = false;
};

// The chip thread's reads of the block from code that runs both inside its
// change pass and outside it: the mutex is taken only where this thread
// does not hold it yet, so that what the chip programs is one state of the
// block (its write-backs go through ParaWriteLock, which does the same).
// The pages, the links and the FPGA thread read through the store's read
// functions instead and never wait for a pass.
class C331ParaAccess {
public:
    C331ParaAccess() : taken(!C331ParaLock::held())
    {
        if (taken)
            C331ParaLock::acquire();
    }
    ~C331ParaAccess()
    {
        if (taken)
            C331ParaLock::release();
    }
    C331ParaAccess(const C331ParaAccess&) = delete;
    C331ParaAccess& operator=(const C331ParaAccess&) = delete;

private:
    const bool taken;
};

// Bring-up gate: the chip thread sets it to 1 once the chip is up; the FPGA
// thread starts its own bring-up only then.
extern std::atomic<unsigned int> g_fpga_c331_start;
// While 1 the chip's outputs show a forced background colour; the FPGA
// thread sets 0 when its links are up, the next change pass ends the forced
// colour and sets 2.
extern std::atomic<unsigned char> g_force_bkcolor;
// 1: the chip thread re-reads and applies the OSD menu file on its next
// change pass.
extern std::atomic<unsigned int> g_osd_update;
