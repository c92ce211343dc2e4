// Sending-card FPGA manager: the two FPGAs, their flashes, the emulated
// sending-card registers and pages, and the FPGA thread.
//
// The thread brings each FPGA up (a timed register sequence, the parameter
// RAM, a link watch), then in every pass applies what other threads post
// (screen geometry, brightness, black-out, LED panel re-initialisation) and
// runs the one receiving-card job posted in g_send_para. It never sleeps to
// wait: every wait compares Utils::getTimeSpace(stamp) with a tick count.
//
// Locks: the FPGA link mutex before the port hold (sendcard/port_pairs.h),
// both before Utils::_spi_mutex; the FPGA image mutex is taken after the
// port hold and never held together with Utils::_spi_mutex; the FPGA record
// mutex (command page runs against the thread's brightness and schedule
// work) before all of them, and never held over a flash store; the FPGA
// flash mutex (one flash record store at a time) before the record mutex,
// taken by the stores alone; the command page's own hold is a leaf; the
// c331 manage mutex is only tried, never waited for.
#pragma once

#include <functional>

#include "core/lock_check.h"
#include "core/published.h"
#include "sendcard/brightness_sensor.h"
#include "sendcard/brightness_table.h"
#include "sendcard/clock_record_run.h"
#include "sendcard/command_page.h"
#include "sendcard/fpga_drv.h"
#include "sendcard/pc_activity.h"
#include "sendcard/port_pairs.h"
#include "sendcard/screen_acts.h"

#include "platform/physmem.h"

#include <QMutex>
#include <QString>
#include <QStringList>
#include <atomic>
#include <cstdint>
#include <ctime>
#include <memory>
#include <mutex>
#include <pthread.h>
#include <string>
#include <thread>
#include <vector>

class rcvRecovery;

// GPIO pad offsets (from the start of the mapped window). Writing 0x0010
// drives a line high, 0x0000 low.
constexpr unsigned kFpga0SelectPad = 0x207810;
constexpr unsigned kFpga1SelectPad = 0x207900;
constexpr unsigned kFpga0CommandPad = 0x207838;
constexpr unsigned kFpga1CommandPadA = 0x20794C;
constexpr unsigned kFpga1CommandPadB = 0x207954;
constexpr unsigned kFpga0FlashPad = 0x207860;
constexpr unsigned kFpga1FlashPadA = 0x20790C;
constexpr unsigned kFpga1FlashPadB = 0x207950;
constexpr unsigned kFpga0ResetPad = 0x207858;
constexpr unsigned kFpga1ResetPad = 0x207864;
// Interrupt inputs (bit 0 raised while a card answer waits in the FPGA).
constexpr unsigned kFpga0IrqPad = 0x207800;
constexpr unsigned kFpga1IrqPad = 0x207908;
constexpr unsigned short kPadHigh = 0x0010;
constexpr unsigned short kPadLow = 0x0000;

// The receiving-card job record: a page posts a job with post(code) (job
// code and step 0 together); the FPGA thread runs it one step per pass and
// clears the code when it is done. Codes: 1 smart mapping, 2 load a scan
// file, 3 save the cards' parameters, 4 mapping switch, 5 check, 6 restore;
// any other code runs the idle card search.
struct SendParaRequest {
    std::atomic<unsigned char> code{0};     // byte 0
    std::atomic<unsigned char> step{255};   // byte 1: 255 = no step
    std::atomic<unsigned char> flag{0};     // byte 6: a card answered
    std::atomic<unsigned int> value{0};     // bytes 20-23: mapping value (9 on, 0 off)
    std::atomic<unsigned short> frame_len{0};   // bytes 12-13: length of the last frame built
    // The card jobs' position (FPGA thread only, except the card reply,
    // which the receive path stores: 65535 none yet, 255 all cards of the
    // net sound, else the card to restore).
    std::atomic<unsigned short> card_reply{65535};
    // The last card job ended without doing all of its work: set before
    // its progress 100 is reported, cleared when a job starts.
    std::atomic<bool> failed{false};
    unsigned int step_time = 0;          // step stamp
    unsigned int job_start = 0;          // tick the check, restore or load began
    unsigned char port_index = 0;        // 0..31, 16..31 = FPGA 1 ports 0..15
    unsigned short packet_count = 0;     // packets of the record being loaded
    unsigned short packets_sent = 0;
    unsigned short target_card = 0;      // card index of the destination word
    unsigned short card_count = 0;       // cards on the port
    // A file may describe more nets, cards and records than a byte counts
    // (its counts are 16-bit): the indexes are as wide as the counts.
    unsigned char screen_index = 0;
    unsigned short net_index = 0, card_index = 0, operate_index = 0;
    unsigned char loader_step = 0;       // 20..32 while a record is loaded
    unsigned char retry = 0;
    // The loader could not carry out the record (damaged or of a kind the
    // cards are not loaded with); the job ends as failed at once. A frame
    // no card confirms is not this: the load goes on and only `failed`
    // is set.
    bool record_failed = false;
    // A net of the check gave no answer (it was passed over as sound).
    bool net_unanswered = false;
    // Since when the record's data cannot be read (valid while reading).
    bool read_failing = false;
    unsigned int read_fail_time = 0;

    void post(unsigned char job)
    {
        failed = false;
        step = 0;
        code = job;
    }
};
extern SendParaRequest g_send_para;

// Tick stamps and counters of the FPGA thread's timed work.
struct FpgaChangeRecord {
    unsigned int fpga_power_time[2] = {0, 0};   // bring-up step stamp
    unsigned int fpga_rst_end_time[2] = {0, 0}; // end of the last reset pulse
    unsigned int link_step_time[2] = {0, 0};    // link-watch step stamp
    unsigned int job_time = 0;                  // card search / job stamp
    unsigned int search_gate = 0;               // the card search runs while 15
    unsigned int search_count = 0;              // sweeps; low bit 1 = odd ports first
    unsigned int search_active = 0;             // a sweep is due
    unsigned int bri_time = 0;                  // brightness task stamp
    unsigned int power_time = 0;                // power sequence stamp
    unsigned int time_read_time = 0;            // clock read stamp
    unsigned int progress = 0;                  // card jobs' moving progress 1..99
};
extern FpgaChangeRecord g_change;

// Register image of one FPGA: registers 0..170; 64..96 exist only here.
typedef unsigned char FpgaRegisterImage[256];
// RAM page images of one FPGA.
struct FpgaRamImages {
    unsigned char para[1024];            // RAM block 1, the parameter page
    unsigned char rx[1024];              // receive-side page (PC reads only)
    unsigned char tx[1024];              // transmit-side page (PC reads only)
    unsigned char eth_para[136];         // port parameter page
    unsigned char eth_back_para[136];    // port geometry without the output offset
};

// Holds a pthread mutex of the manager for a scope.
class FpgaMutexHold {
public:
    explicit FpgaMutexHold(pthread_mutex_t& m) : m_(m)
    {
        lock_check::short_lock_is_leaf("an FPGA mutex");
        pthread_mutex_lock(&m_);
    }
    ~FpgaMutexHold() { pthread_mutex_unlock(&m_); }
    FpgaMutexHold(const FpgaMutexHold&) = delete;
    FpgaMutexHold& operator=(const FpgaMutexHold&) = delete;

private:
    pthread_mutex_t& m_;
};

class fpga_manage;

// Holds the manager's record mutex for a scope. The hold is for deciding
// and copying alone: a flash record asked for under it (bri_store_record,
// the command page's on/off table) is stored once the hold is given back,
// in the order asked (fpga_manage::run_flash_stores), so that a flash that
// stays busy holds only the act that waits for it.
class RecordHold {
public:
    explicit RecordHold(fpga_manage& m);
    ~RecordHold();
    RecordHold(const RecordHold&) = delete;
    RecordHold& operator=(const RecordHold&) = delete;

private:
    fpga_manage& m_;
};

enum RCV_CHECK_OR_RECOVERY { RCV_CHECK = 0, RCV_RECOVERY = 1, RCV_LOAD_FILE = 2 };

class fpga_manage {
public:
    static fpga_manage* pInstance();
    static Published<fpga_manage> p_fpga_manage;

    // Tests: a fresh manager on the current board (devices opened, lines
    // mapped, start values set), with or without its thread; and its end
    // (the thread is stopped first).
    static fpga_manage* createForTest(bool startThread);
    static void destroyForTest();

    static constexpr unsigned kRegisterCount = 171;
    // Register names. Register 0: the screen bits (black-out; while the
    // link-hold bit is set the link does not count as up). Register 31: the
    // version year, never 0xFF on an FPGA that answers.
    static constexpr unsigned kRegScreen = 0;
    static constexpr unsigned char kScreenBlackout = 0x04;
    static constexpr unsigned char kScreenLinkHold = 0x08;
    static constexpr unsigned kRegVersionYear = 31;
    // Image-only registers: the brightness level, the on/off schedule
    // switch (1 on), and the running mark (kRunning once the FPGA runs).
    static constexpr unsigned kImageBrightLevel = 64;
    static constexpr unsigned kImageOnOffEnabled = 66;
    static constexpr unsigned kImageRunning = 80;
    static constexpr unsigned char kRunning = 3;
    static constexpr unsigned kParaPageSize = 1024;
    static constexpr unsigned kCmdPageSize = CommandPage::kSize;
    // Flash records (flash behind FPGA 0 for the last two).
    static constexpr uint32_t kBlock50Record = 0x6C0001;
    static constexpr uint32_t kParaMarker = 0x6C7000;
    static constexpr uint32_t kParaRecord = 0x6C7001;
    static constexpr uint32_t kOnOffRecord = 0x6CD000;
    static constexpr uint32_t kOnOffSector = 1741;
    static constexpr uint32_t kBrightRecord = 0x6CE000;
    static constexpr uint32_t kBrightSector = 1742;
    // Per-port receiving-card count (u16) and multi-function card byte in a
    // parameter page.
    static constexpr unsigned short kCardCountOffset[16] = {100, 102, 108, 110, 560, 564, 568, 572,
                                                            640, 644, 648, 652, 656, 660, 664, 668};
    static constexpr unsigned short kCardStatusOffset[16] = {104, 106, 112, 114, 562, 566, 570, 574,
                                                             642, 646, 650, 654, 658, 662, 666, 670};
    // Bring-up and link-watch states.
    static constexpr unsigned char kStateRunning = 7;
    static constexpr unsigned char kStateLinkReset = 17;
    static constexpr unsigned char kLinkUp = 18;
    // A change flag holds this value while the thread applies it; a raise
    // (any other value stored) during the apply stays for the next pass.
    static constexpr unsigned char kChangeApplying = 0xFF;

    // --- change flags raised by the chip thread -------------------------
    // Screen geometry (when the output offset changes). The brightness has
    // no flag: each pass applies the percent act the brightness acts say is
    // waiting. The black-out is no change of the chip's: it is an act of
    // the screen record (below).
    std::atomic<unsigned char> lcd_change_flag{0};

    // --- SPI and GPIO lines ---------------------------------------------
    // Drives both FPGA select lines high so that a message on the shared SPI
    // bus reaches the c331 chip and no FPGA. Called with Utils::_spi_mutex
    // held. A no-op (logged once) while the GPIO window is not mapped.
    void release_select_lines();
    // Drives one pad; a logged no-op while the window is not mapped.
    void gpio_set(unsigned pad, unsigned short level);
    // Bit 0 of an FPGA's interrupt input (0 while the window is not mapped).
    unsigned char fpga_irq_line(unsigned char fpga);

    // The GPIO register window (SoC pads) mapped at start; null until then.
    std::unique_ptr<platform::MemWindow> gpio_window;
    platform::MsysRegion msys_region;
    int spi_fd[4] = {-1, -1, -1, -1};
    std::unique_ptr<fpga_drv> drv;

    // Command words: sent as 4 bytes, least significant first.
    static uint32_t fpga_cmd_to_spi_data(unsigned char command, uint32_t block, uint32_t address,
                                         unsigned char read);
    static uint32_t fpga_reg_cmd_to_spi_data(unsigned char command, uint32_t block, uint32_t reg,
                                             unsigned char read, unsigned char mask);

    // One whole transaction each, under Utils::_spi_mutex; fpga 0 is FPGA 0,
    // any other value FPGA 1. 1 done, 0 when a transfer failed (nothing is
    // stored then) or the arguments are out of range.
    int read_fpga_register(uint32_t reg, unsigned char* out, unsigned char fpga);
    int write_fpga_register(uint32_t reg, unsigned char value, unsigned char fpga, unsigned char mask);
    int write_fpga_ram(const unsigned char* data, uint32_t address, int length, uint32_t block, unsigned char fpga);
    int read_fpga_ram(unsigned char* dest, uint32_t address, int length, uint32_t block, unsigned char fpga);

    // Line sequences of a transaction (called with Utils::_spi_mutex held).
    void fpga_select(unsigned char fpga);
    void fpga_data_phase(unsigned char fpga);
    void flash_select(unsigned char chip);
    void flash_release(unsigned char chip);

    // --- thread and bring-up --------------------------------------------
    int initialize();
    void softinit();
    static void* fpgamanageThread(void* arg);
    void fpga_manage_deal(void* arg = nullptr);
    // Whether the input side has finished the FPGA's clock set-up.
    bool fpga_present(unsigned char fpga) const;
    void power_up_fpga_start(unsigned char check, unsigned char fpga);
    void power_up_check_fpga_status(unsigned char fpga);
    void fpgainit(unsigned char fpga);
    void get_control_uid(unsigned char fpga);
    void reset_fpga_rst(unsigned char fpga);
    // Drives the FPGA's reset line low and holds it there (reset-pending,
    // stamped); the image follows the FPGA to its power-up registers.
    void hold_in_reset(unsigned char fpga);
    // The register image after the FPGA reset or reconfigured itself: its
    // registers 0..63 at their power-up values (0; the version bytes 7 and
    // 28..30 stay, 31 is read again), the software bytes 64..127 and the
    // port registers kept. The screen state follows.
    void image_after_reset(unsigned char fpga);
    // The screen state (ScreenState, extension byte 29) from the register 0
    // images: blacked out when either FPGA has its black-out bit set.
    // Called with the image mutex held.
    void screen_state_from_images();
    // The FPGA is up (bring-up and link watch done, not being reset).
    bool fpga_up(unsigned char fpga);
    // The last steps of an FPGA's bring-up: the black-out as the screen's
    // last act says and the brightness level in force, then its output on
    // (false: the level could not be told yet, nothing is on yet).
    bool show_after_bring_up(unsigned char fpga);
    // A byte of FPGA fpga's register image, read or set under the image
    // mutex (other threads refresh the image while they poll the FPGA).
    unsigned char reg_image(unsigned char fpga, unsigned reg);
    void set_reg_image(unsigned char fpga, unsigned reg, unsigned char value);
    // Registers first to first + count - 1 (within 0..255) of the image,
    // copied in one hold: what one write left, never half of two.
    void reg_image_range(unsigned char fpga, unsigned first, unsigned count, unsigned char* out);
    // The port link bits of both FPGAs' images (registers 128 and 144;
    // FPGA 1's in the high half), read in one hold.
    uint32_t port_link_image();
    // Sets the level in force (bri_in_force, in the scale given, -1 the
    // stored mode's), set by act (numbered by BrightnessActs; 0 what was
    // stored before this run), and shows it in image byte 64 of both
    // FPGAs, in one hold.
    void bri_show(unsigned char level, int scale, uint64_t act);
    // A version year register value that counts as alive (25..48).
    static bool version_alive(unsigned char year);
    // Back to bring-up state 0 (image byte 80 and the link watch too): the
    // FPGA is brought up again from its version read.
    void restart_bring_up(unsigned char fpga);
    void check_fpga_rst();
    // 1 when both FPGAs are fully up (and none is being reset): the sign
    // that the screen link is ready.
    int get_fpga_status();
    int set_fpga_lcd();
    int set_fpga_bri_val();

    // --- register and RAM page images -------------------------------------
    unsigned char* MCU_REG_func[2];
    unsigned char* MCU_RAM_PARA_func[2];
    unsigned char* MCU_RAM_RX_func[2];
    unsigned char* MCU_RAM_TX_func[2];
    unsigned char* MCU_RAM_ETH_PARA_func[2];
    unsigned char* MCU_RAM_ETH_BACK_PARA_func[2];
    // The command page: its bytes, its hold and its rule are its own
    // (sendcard/command_page.h).
    CommandPage command_page;
    unsigned char MCU_RAM_DEFAULT[2048];
    unsigned char MCU_RAM_EXTEND[1024];
    static const unsigned char RAM1[256];

    // The FPGA multicast selector the PC sets through the extension page
    // (bytes 0 and 1..4): flag, and target ports (bits 0-7 FPGA 0 ports 0-7,
    // bits 16-23 FPGA 1 ports 0-7). Guarded by Utils::_fpga_multicast_mutex.
    unsigned char multicast_flag = 0;
    uint32_t multicast_target = 0;

    // Registers below 171 outside 64..127: read from the FPGA into the image
    // (false, the image unchanged, when the FPGA did not answer).
    bool read_from_register(unsigned int reg, unsigned char fpga);
    // The PC's and the thread's register write, with the image rules. A
    // masked write reads the register first: when the FPGA does not answer
    // nothing is written and the image stays (false; the PC's strobe bits
    // of register 2 act all the same).
    bool write_to_register(unsigned int reg, unsigned char mask, unsigned char value, unsigned char fpga);
    // The strobe: runs the command page the PC posted (byte 0 0xAA), from
    // the page whole as it stands now, taken under the record mutex (so
    // that the runs of two strobes act in the order they took the page).
    void Dealwith_mcu_ram();
    // The bring-up's FPGA version registers 28..31 for the command page.
    void FPGA_to_RAM(unsigned char fpga);
    void Version_to_RAM();
    void PHY_status_to_RAM();
    void update_eth_state(unsigned char fpga);
    // Changes count bytes of FPGA i's parameter page image at offset under
    // the image mutex (change gets the page), then writes them to the
    // FPGA's RAM from a copy taken in that hold (always, or only when they
    // changed): the card search and the PCs read the image under the mutex,
    // and it is never held over SPI.
    void change_page_image(unsigned char i, unsigned offset, unsigned count, bool always,
                           const std::function<void(unsigned char* page)>& change);
    int check_fpga_ram_param(unsigned char fpga);
    void eth_param_init(unsigned char reset, unsigned char fpga);
    // Byte offsets of a port's area in a parameter page; any port other
    // than 1..15 gives port 0's. Returns 0.
    static int get_eth_param_addr(unsigned char port, unsigned short* x, unsigned short* y, unsigned short* w,
                                  unsigned short* h);
    // Over the 16 ports of an FPGA's parameter page: the smallest x and y,
    // the largest x + width and y + height; and the page's screen origin
    // (bytes 56, 58) and size (bytes 60, 62). Nothing calls them.
    void get_eth_min_x_y(unsigned char fpga, unsigned short* x, unsigned short* y);
    void get_eth_max_border(unsigned char fpga, unsigned short* right, unsigned short* bottom);
    void get_eth_lcd_x_y(unsigned char fpga, unsigned short* x, unsigned short* y);
    void get_eth_lcd_w_h(unsigned char fpga, unsigned short* w, unsigned short* h);
    void fpga_flash_access() {}
    // Asks (under a record hold) for bytes 0..n+7 of a run's copy of the
    // command page to be stored in a 4 KiB sector at its address (n = the
    // page's length word); 0 when the record does not fit the page.
    int store_cmd_record(const unsigned char* page, uint32_t sector, uint32_t address);
    // Erases the sector of the flash behind FPGA 0 and writes length bytes
    // of record at address (length 0: the erase alone); false when the
    // flash did not take it.
    bool store_flash_record(uint32_t sector, uint32_t address, const unsigned char* record, unsigned length);
    // The size of the record of a copy of the command page (page bytes
    // 0..n+7), 0 when it does not fit the page (then it is not stored).
    static unsigned cmd_record_size(const unsigned char* page);

    // --- output geometry and screen state --------------------------------
    void SCREEN_fpgactrl_status(int code);
    void SCREEN_fpgactrl_status2(int code, unsigned char fpga);
    void K47_back_mcu_set_net_para(unsigned char fpga);
    void K47_mcu_set_net_para(unsigned char fpga);
    void K47_mcu_set_lcd_x_y_para(unsigned char flag);
    unsigned char check_vbo_status(unsigned char fpga);
    // FPGA 0's port link bits in the low 16 bits, FPGA 1's in the high 16.
    uint32_t get_wlan_state();
    void check_wlanonline_state();

    // --- LED panel re-initialisation handshake -------------------------
    void set_led_para_deal();
    // The request's hold on the screen ends: the FPGAs that are up show
    // its last act, outputs on.
    void end_led_request_hold();

    // --- per FPGA state ----------------------------------------------------
    std::atomic<unsigned char> fpga_state[2] = {{0}, {0}};        // bring-up state
    unsigned short fpga_retry[2] = {0, 0};
    unsigned char fpga_rst_round[2] = {0, 0};
    std::atomic<unsigned char> fpga_rst_pending[2] = {{0}, {0}};
    // A read of the FPGA went unanswered (set by any thread, outside a
    // reset): the FPGA may have lost what it was told, and what it did not
    // take cannot be told. It does not count as up, and the FPGA thread
    // resets it and brings it up again from the stored settings.
    std::atomic<unsigned char> fpga_silent[2] = {{0}, {0}};
    // The bring-up's and the link watch's reads that failed in a row, and
    // the tick of the first: a silent FPGA is reset at once (above); reads
    // failing for another reason (the bus, the driver) reset the FPGA once
    // they have failed for kUnansweredResetTicks, so that its bring-up
    // sets again what it may not have taken meanwhile.
    static constexpr unsigned kUnansweredResetTicks = 200;
    unsigned char fpga_unanswered[2] = {0, 0};
    unsigned int fpga_unanswered_at[2] = {0, 0};
    // A bring-up or link-watch read's result, with that bound (true:
    // answered).
    bool step_answered(bool answered, unsigned char i);
    unsigned int fpga_rst_time[2] = {0, 0};
    std::atomic<unsigned char> link_state[2] = {{0}, {0}};        // link-watch state
    // Tries grow to (resets + 1) x 20, beyond what a byte holds.
    unsigned short link_try[2] = {0, 0};
    unsigned char link_rst_count[2] = {0, 0};
    unsigned int link_time[2] = {0, 0};
    unsigned char ram_check[2] = {0, 0};
    unsigned char link_step2_passed[2] = {0, 0};
    // The chip still has to be told that the links are up (its mutex was
    // busy when they came up).
    unsigned char chip_notify_pending = 0;

    // LED handshake stamp and counter.
    unsigned int led_para_time = 0;
    unsigned int led_para_count = 0;
    // The screen was blanked for an LED request and stays so until the
    // chip's answer resets both FPGAs, or the request's bound has passed:
    // no act lights it meanwhile (the rule: sendcard/fpga_led_handshake.cpp).
    std::atomic<unsigned char> led_request_dark{0};
    // The LED request in course (the FPGA thread's alone): none, begun
    // (waiting for both FPGAs, nothing changed yet), or under way; and when
    // it began on the board's monotonic clock.
    enum : unsigned char { kLedRequestNone, kLedRequestBegun, kLedRequestUnderWay };
    unsigned char led_request_phase = kLedRequestNone;
    uint64_t led_request_began_us = 0;
    // The longest a request waits for both FPGAs before it acts on those
    // that are up, and the longest it holds the screen dark.
    static constexpr uint64_t kLedRequestWaitUs = 2000000;
    static constexpr uint64_t kLedRequestBoundUs = 8000000;

    // Control unique id (the flash's 8-byte id, then 8 zero bytes) and its
    // CRC-32, the device id.
    unsigned char control_uid[16];
    unsigned int device_id = 0;

    // Output monitors (3 = unused), V-by-One relock per FPGA, last reported
    // port link pair.
    unsigned char monitor_change_state[2] = {3, 3};
    unsigned char vbo_relock[2] = {0, 0};
    unsigned char vbo_relock_step[2] = {0, 0};
    unsigned short vbo_relock_try[2] = {0, 0};
    unsigned int vbo_time[2] = {0, 0};
    unsigned short wlan_reported[2] = {0, 0};

    // Screen brightness: the level (a record the PC stores is taken at
    // once, in the order of the PC's commands).
    unsigned int bri_level = 16;
    // Mode (0 manual, 1 half-hour table, 2 sensor, 16 / 17 the first two
    // with 8-bit levels), task switch, re-send counter and change mark.
    unsigned char bri_mode = 0;
    // The mode whose scale (4-bit or 8-bit levels) register image byte 64
    // is in, while a level set in another scale is shown (a manual level
    // from the PC that was not stored, a brightness percent, the level
    // shown when the mode was switched to one that sets its own level
    // later), until the running mode sets a level again (-1: the stored
    // mode's scale).
    int bri_scale_mode = -1;
    // The 8-bit register scale: the image holds the register value itself.
    static constexpr int kBriRegisterScale = 16;
    // The half-hour table and its last slot applied
    // (sendcard/brightness_table.h).
    const BrightnessTable& table() const { return bri_table; }
    unsigned char bri_task_enabled = 0;
    unsigned char bri_change_mark = 0;
    static constexpr unsigned kBriRetryTicks = 100;
    // The light sensor: its card, its last good reading and its failed
    // reads (sendcard/brightness_sensor.h).
    const BrightnessSensor& sensor() const { return bri_sensor; }

    // Level / percent / register value of the brightness (mode as above).
    static unsigned char bri_level_to_value(unsigned int level, unsigned char mode);
    static unsigned char bri_percent_to_value(unsigned int percent, unsigned char mode);
    static unsigned int bri_value_to_percent(unsigned char value);
    // The 19-byte sensor read frame for a card address.
    static void build_sensor_read_frame(unsigned short addr, unsigned char frame[19]);
    // A record's mode, level or table in force, as the act numbered act set
    // it (0: the record stored before this run).
    void Brightness_init(const unsigned char* page, uint64_t act = 0);
    void Brightness_task();
    void Brightness_hand_change();
    void Brightness_time_change();
    void Brightness_auto_change();
    void Brightness_check_VMF();
    // Sends the sensor read and waits for the answer (35 ticks and some,
    // on the board's clock since ticks may stall); 1 when the card
    // answered.
    int Brightness_read_VMF_value();
    // Takes a card reply (status byte, length byte, 128 data bytes).
    void VMF_data_back_result(const unsigned char* reply, unsigned int length);
    void Brightness_auto_filter();

    // --- clock, on/off schedule, power sequence ----------------------------
    struct TimeRealType {
        unsigned char second = 0, minute = 0, hour = 0, day = 1, unused = 0, month = 1;
        unsigned short year = 2000;
    };
    TimeRealType time_real;
    // Where the clock is read (tests replace it); the seconds since 1970.
    static std::atomic<std::time_t (*)()> clock_now;
    static int IT8563WE_Get(TimeRealType* t);
    // Sets the system clock and the hardware clock, for the PC's clock
    // command and the command page alike. Only a date of the calendar from
    // 2000 to 2099 and a time of the day are taken (a refusal is logged and
    // nothing is run); both clocks are set by one shell command, whose
    // failure is logged. who names the sender in the log.
    enum class ClockSet { Done, Refused, Failed };
    static ClockSet set_clock(int year, int month, int day, int hour, int minute, int second, const char* who);
    unsigned char onoff_count = 0;
    unsigned char on_hour[4] = {0, 0, 0, 0}, on_minute[4] = {0, 0, 0, 0};
    unsigned char off_hour[4] = {0, 0, 0, 0}, off_minute[4] = {0, 0, 0, 0};
    unsigned char on_pending[4] = {0, 0, 0, 0}, off_pending[4] = {0, 0, 0, 0};
    unsigned char screen_off_state = 0;
    unsigned char onoff_last_day = 0;
    // The last minute the schedule looked at (minutes since 1970 of the
    // time record), once it has looked at one; the time record read once.
    bool onoff_minute_known = false;
    long long onoff_last_minute = 0;
    bool time_known = false;
    // Loads a schedule from a type 2 page (the command page or a record).
    void onoff_load(const unsigned char* page);
    void dealwith_onoff();
    // The schedule's work of a pass, whatever the FPGAs are doing.
    void schedule_deal();
    // One minute of the day: the on and off times due at it act on the
    // schedule's state (kMinuteOn, kMinuteOff: which did).
    static constexpr unsigned kMinuteOn = 1, kMinuteOff = 2;
    unsigned onoff_minute(unsigned char hour, unsigned char minute);
    void onoff_rearm();
    // An on time later than the PC's black-out takes it back: word 2116 is
    // written back to 0 (take_back_seq, the on time's act, set). The block
    // busy in another thread: tried again on the next pass, unless the
    // word had a later act meanwhile. FPGA thread, under the record mutex.
    void take_back_blackout();
    void Power_ctrl_reset();

    // --- the screen's last act -------------------------------------------
    // The record of the acts that decide what the screen shows (its rule:
    // sendcard/screen_acts.h); the store tells it of the acts on the
    // black-out word (registered as the manager is made).
    ScreenActs screen_acts{clock_now};
    // FPGA thread: register 0's black-out bit on every FPGA that is up as
    // the record says, where it has changed since it was last shown (force:
    // on both whatever was shown).
    void show_screen_record(bool force = false);
    // The act last shown on each FPGA (its seq; FPGA thread only).
    uint64_t screen_shown_seq[2] = {0, 0};
    // The count of acts when the clock was last read, and when the
    // schedule last looked at a minute: acts up to it came before the
    // minutes after it.
    uint64_t time_read_seq = 0;
    uint64_t onoff_look_seq = 0;
    // The on time's act on word 2116 waiting for the take-back (its seq).
    uint64_t take_back_seq = 0;

    // Power sequence state of the multi-function card.
    unsigned char power_started = 0;
    unsigned char power_pending_start = 0;
    unsigned char power_channel = 1;
    unsigned int power_step_time = 0;
    unsigned int power_wait_time = 0;

    pthread_mutex_t fpga_reg_mutex;      // the FPGA image mutex
    pthread_mutex_t fpga_link_mutex;     // card traffic and reply polling
    pthread_mutex_t fpga_record_mutex;   // command page against the thread (RecordHold)
    // Flash records asked for and not stored yet (tests).
    size_t flash_stores_waiting();

    clock_record_run clock_record{this};
    rcvRecovery* rcv_recovery = nullptr;

    // Passes of the worker loop (with or without work), for tests.
    std::atomic<unsigned long> loop_count{0};

    // --- receiving-card frames ---------------------------------------------
    // A frame: destination word, source word (0xF000), 0x10, kind byte,
    // byte 6, port byte (port + 1 or 0), 0, opcode, payload, check byte (XOR
    // of all bytes before it). The builders write into the caller's buffer
    // (at least kMaxPortFrame bytes); a payload that would make the frame
    // longer than a port carries builds nothing and gives 0.
    static constexpr unsigned kMaxPortFrame = 1024;
    static constexpr unsigned char kKindPara = 0x67;     // 'g'
    static constexpr unsigned char kKindBright = 0x66;   // 'f'
    static constexpr unsigned char kKindSearch = 0xAA;
    static constexpr unsigned char kKindVmf = 0xBB;
    static constexpr unsigned short kAddrSearch = 0x0FFE;
    static constexpr unsigned short kAddrAllCards = 0x0FFF;
    static constexpr unsigned short kAddrSelf = 0xF000;
    static constexpr unsigned short kAddrPc = 0xF010;
    static unsigned short card_address(unsigned short port, unsigned short card, unsigned char all);
    unsigned char load_write_ram_cmd_create(unsigned short port, unsigned short card, uint32_t address,
                                            const unsigned char* data, unsigned short n, unsigned char* frame,
                                            unsigned char all);
    unsigned short rcv_active_firmware_cmd_create(unsigned short port, unsigned short card,
                                                  const unsigned char* data, unsigned short n, unsigned char* frame);
    unsigned char save_para_cmd_create(unsigned char* frame, unsigned short port);
    unsigned short load_write_reg_cmd_create(unsigned short port, unsigned short card, const unsigned char* data,
                                             unsigned short n, unsigned char* frame, unsigned char all);
    unsigned short load_write_user_defined_cmd_create(unsigned short port, unsigned short card,
                                                      const unsigned char* data, unsigned short n,
                                                      unsigned char* frame, unsigned char all);
    unsigned short rcv_reconfig_cmd_create(unsigned short port, unsigned short card, const unsigned char* data,
                                           unsigned short n, unsigned char* frame);
    unsigned short load_search_rxc_cmd_create(unsigned short port, const unsigned char* data, unsigned short n,
                                              unsigned char* frame);
    unsigned short save_para2flash_cmd_create(unsigned short port, unsigned short card, unsigned char* frame,
                                              unsigned char all);
    unsigned char mapping_enable_cmd_create(unsigned short port, unsigned char* frame);
    // The 30-byte search frame for a port 0..15 of one FPGA, sent at once.
    static void build_search_frame(unsigned char* frame, unsigned short port, uint32_t word_a, uint32_t word_b,
                                   unsigned char flag);
    void check_error_rcv_search_card_cmd(unsigned short port, unsigned char fpga, uint32_t word_a,
                                         uint32_t word_b, unsigned char flag);
    // Frame templates (the check byte slot is filled before sending).
    static const unsigned char SEARCH_CARD_BUF[15];
    static const unsigned char SEND_BRI_ETH_CMD[20];
    static const unsigned char SEND_BRI_ETH_REG[15];
    static const unsigned char SEND_BRI_SAVE_CMD[13];
    static const unsigned char SEND_READ_VMF_RAM0_CMD[19];

    // --- Ethernet port transport --------------------------------------------
    // Port pair p of an FPGA (ports 2p, 2p+1) shares one transmit block and
    // one receive channel; the port pairs' owner (its rule at the top of
    // sendcard/port_pairs.h) sends every frame and holds every read-out.
    PortPairs port_pairs{*this};
    void Send_to_port(const unsigned char* frame, unsigned short length, unsigned short port, unsigned char fpga);
    // Send_to_port for a PC frame whose time ends at deadlineUs (board
    // clock; 0: no end, 1: already over): PortPairs::send.
    int send_to_port_until(const unsigned char* frame, unsigned short length, unsigned short port,
                           unsigned char fpga, uint64_t deadlineUs);
    // Whether the SPI bus is free at this moment (nothing is held after).
    static bool spi_bus_free();
    // A bound, on the board's clock, on this thread's waits for the SPI bus
    // while the object lives (a PC pass-through's time): an FPGA register
    // or RAM transfer that cannot take the bus by then fails, and so does
    // every later one of the thread until the bound is lifted (so that a
    // frame is never half read: a receive channel whose frame could not be
    // read is not released either).
    class SpiBusBound {
    public:
        explicit SpiBusBound(uint64_t untilUs);
        ~SpiBusBound();
        // Whether a transfer failed for the bound.
        static bool givenUp();
        // This thread's bound (0: none).
        static uint64_t untilUs();
        SpiBusBound(const SpiBusBound&) = delete;
        SpiBusBound& operator=(const SpiBusBound&) = delete;

    private:
        uint64_t savedUntil_;
        bool savedGivenUp_;
    };
    // How a frame sent to several ports gets each port's place in its group
    // (bits 4-5 of byte 1): kept as it is, ORed in, or replacing the bits.
    enum class PortBits { Keep, Add, Replace };
    // Sends one frame to each port of `ports` (bit port + 16 x fpga), pair
    // by pair, FPGA 0 before FPGA 1, even port before odd; the ports sent.
    uint32_t send_to_ports(const unsigned char* frame, unsigned short length, uint32_t ports, PortBits bits,
                           uint64_t deadlineUs);
    // The ports a multicast goes to: those of the multicast selector, else
    // the linked ports with cards of each running FPGA.
    uint32_t multicast_ports();
    // Whether a card's answer, received from port (port + 16 x fpga), is
    // the open PC request's: it came from a port the request was sent to
    // and fits the request in every field the card echoes (PassbyEcho),
    // whatever earlier request it might fit as well.
    bool answers_open_passby(const unsigned char* frame, int length, unsigned port);
    void Rcv_data_from_eth(unsigned char fpga);
    void check_fpga_net_data_status(unsigned char fpga);
    // Sends one PC frame to the cards. takenUs is when the PC's request was
    // taken from the pass-through line, on the board's clock (0: now): the
    // frame's whole time runs from there (passby_deadline_us). A port whose
    // transmit buffer does not become free within that time (an FPGA that
    // does not answer, the SPI bus held by the chip) is given up.
    int Dealwith1_PC_to_eth(int length, const unsigned char* frame, uint64_t takenUs = 0);
    // The steps of Dealwith1_PC_to_eth, in their order.
    // Where a PC frame goes: the ports (bit port + 16 x fpga), how each
    // copy gets its port bits, and whether it is a multicast (to the
    // search address or not).
    struct PassbyRoute {
        uint32_t ports = 0;
        PortBits bits = PortBits::Add;
        bool multicast = false;
        bool searchAddr = false;
    };
    // A request starts with nothing open, answered or waited for.
    void passby_begin(uint64_t takenUs);
    // The rest of Dealwith1_PC_to_eth once the request has begun (takenUs
    // on the board's clock): the frame routed and sent.
    int passby_forward(int length, const unsigned char* frame, uint64_t takenUs);
    // Waits for the SPI bus until untilUs (board clock): false when it
    // stayed held (the request is dropped).
    bool passby_wait_bus(uint64_t untilUs);
    // Clears the answer-acknowledge bits of both FPGAs.
    void passby_clear_acks();
    // The ports a frame goes to by its kind (byte 6) and port byte (7).
    PassbyRoute passby_route(const unsigned char* frame);
    // Sends the frame by its route within deadlineUs; from then on the
    // ports it reached may answer it.
    void passby_send(const unsigned char* frame, unsigned short length, const PassbyRoute& route,
                     uint64_t deadlineUs);
    void update_eth_rcv_num(const unsigned char* frame, unsigned short port, unsigned char fpga);
    unsigned short get_port_card_num(unsigned int index);
    unsigned short check_netport_card(unsigned char fpga);
    void Search_Card_task_run() { reg_IRQ_Dealwith(0, 0); }
    // The brightness task's runner: the card search's (nothing calls it).
    void Brightness_task_run() { Search_Card_task_run(); }
    // Sends a template to port 0..15 of an FPGA: which 0 search, 1
    // brightness RAM (the value from register image 64), 2 brightness
    // register, 3 brightness save; addressed to the port's place in its
    // group of four. Nothing calls it.
    void Send_rcv_card_cmd(unsigned short port, unsigned char which, unsigned char fpga);
    // One step of the eight-step stop (or start) of the multi-function
    // cards' outputs, at most once every 51 ticks: the card's power channel
    // of the step switched off (on) with a register write, its answer
    // awaited; after step 8 the data-stopped flag is set (cleared) and the
    // step starts again at 1. Only a power sequence would call them, which
    // nothing runs.
    void eth_data_send_stop();
    void eth_data_send_start();
    // The register write of power channel `channel` (1..8) of the
    // multi-function card: register 2 for channels 1..4, 3 for 5..8, the
    // channel's bit pair 3 (off, option 1) or 1 (on, option 0).
    void Send_write_VMF_reg_cmd(unsigned char option, unsigned char channel);
    // Polls for the card's answer to the last register write (35 ticks at
    // most): 1 when it answered.
    int wait_VMF_result();
    unsigned char eth_data_step = 1;
    unsigned char eth_data_stopped = 0;
    unsigned int eth_data_time = 0;
    // The power channel bits last written (registers 2 and 3), and the
    // result buffer's fill count when the last write went out.
    unsigned char vmf_power_bits[2] = {0, 0};
    unsigned int vmf_write_fills = 0;

    // Card answers for the PC and the multicast bookkeeping.
    std::atomic<unsigned char> fpga_passby_reply{0};
    std::atomic<unsigned char> multicast_passby{0};
    // The ports (bit port + 16 x fpga) the open pass-through went to: an
    // answer from any other port (a late answer to an earlier request) is
    // not the PC's answer.
    std::atomic<uint32_t> passby_ports{0};
    // The end of the open pass-through's time on the board's clock: when it
    // was taken from the line plus its bound (passby_answer_bound_us); the
    // taking time itself when nothing is waited for.
    std::atomic<uint64_t> passby_deadline_us{0};
    // What a card's answer echoes of the PC request it answers: the
    // request's destination word (against the answer's source word, the
    // port-in-group bits aside; a request to every card, 0x0FFF, or to the
    // search address, 0x0FFE, is answered by any card of the port), its
    // kind (byte 5), port byte (byte 7), opcode (byte 9) and, for a RAM read
    // (0x61, a whole one of 19 bytes or more), its address and count (bytes
    // 10 to 15). The answer goes to
    // the PC (destination 0xF010).
    struct PassbyEcho {
        unsigned short dest = 0;
        unsigned char kind = 0;
        unsigned char portByte = 0;
        unsigned char opcode = 0;
        bool readSpan = false;
        unsigned char span[6] = {};
    };
    // The open PC request as its answers are told: its echo and the ports
    // it was sent to (none until it is sent, none for a request that went
    // nowhere). Cleared as every request starts, set once it is sent; read
    // and set whole under passby_open_mutex (a leaf lock). An answer that
    // fits it counts for it even when it answers an earlier request that
    // asked the same (a write's answer echoes no address): the cards
    // answer the request they received, and the content answers the same
    // question.
    struct PassbyOpen {
        PassbyEcho echo;
        uint32_t sent = 0;
    };
    QMutex passby_open_mutex;
    PassbyOpen passby_open;
    // How long the open pass-through may wait for its answer, in board
    // microseconds (called by Dealwith1_PC_to_eth under the FPGA link
    // mutex, once the ports the frame goes to are known and before it is
    // sent): 0 when the request reaches no linked port, so that nothing
    // can answer;
    // else as long as the cards may legitimately take for what the frame
    // asks (its opcode, byte 9), as the system's own card jobs wait for the
    // same kind of frame:
    // - a save to flash (0x81): as the save job, 12 s and 1 s for each card
    //   of the chain (1200 + 100 x card count ticks);
    // - a firmware activation (0xB4) or a reconfiguration (0x84): the card
    //   restarts from its own flash, as slow as a save of the cards it
    //   addresses: 12 s and 1 s for the card, or 1 s for each card of the
    //   chain when sent to every card (card index 0xFFF);
    // - anything else (RAM and register reads and writes, searches, frames
    //   of the PC's own): 5 s (500 ticks, the card check's wait for one
    //   card's answer), whatever the chain's count.
    // The largest card count of the ports reached counts, at least 1 (a
    // chain not yet counted); a count no chain has (a damaged answer) is
    // held to the card jobs' own half hour.
    uint64_t passby_answer_bound_us(const unsigned char* frame, int length);
    static constexpr uint64_t kCardAnswerUs = 1000000;
    static constexpr uint64_t kCardSaveUs = 12000000;
    static constexpr uint64_t kCardFrameUs = 5000000;
    static constexpr uint64_t kPassbyLongestUs = 30ull * 60 * 1000000;
    std::atomic<unsigned char> multicast_pending{0};
    // The ports (bit port + 16 x fpga) that answered the open request;
    // cleared as every request starts. A multicast is complete when every
    // port it went to (passby_ports) has answered it.
    std::atomic<uint32_t> multicast_reply_mask{0};
    unsigned char multicast_all_addr = 0;
    // The card result buffer: bytes 9.. of the last card answer with opcode
    // 0x61 or 0xA0 to 0xF000 (a RAM read answer: opcode, echoed address and
    // count, 2 spare bytes, then up to 128 data bytes), and 0 when its check
    // byte was good. The PC reads the flag and bytes 9..138 (card_result_view);
    // the brightness sensor's 128 data bytes run to byte 145, so the buffer
    // holds up to there. The receive path may run in a control-link thread:
    // buffer and status are guarded by card_result_mutex (a leaf lock).
    static constexpr unsigned kCardResultPcBytes = 130;
    std::atomic<unsigned char> card_result_flag{0};
    std::atomic<unsigned int> card_result_fills{0};   // answers taken in so far
    QMutex card_result_mutex;
    unsigned char card_result[137];
    unsigned char card_result_status = 0;
    // The PC's view (flag, then bytes 9..138) into out (1 + 130 bytes);
    // take clears the flag.
    void card_result_view(unsigned char* out, bool take);
    unsigned char poll_state[2] = {0, 0};
    unsigned int poll_time[2] = {0, 0};

    // --- receiving-card search ------------------------------------------------
    void CHECK_search_cmd_status();
    int deal_with_search_concurrent(unsigned char fpga);
    void Search_concurrent_back_result(unsigned char* frame, unsigned char group, unsigned char fpga,
                                       unsigned int length);
    std::atomic<uint32_t> search_sent_mask{0};
    std::atomic<uint32_t> search_answer_mask{0};
    unsigned short total_card_num = 0;

    // --- the FPGA thread's pass (fpga_manage_deal): the FPGAs' interrupt
    // registers, the clock and on/off schedule records, the brightness
    // (its acts shown, sent and stored; its record owed to the flash), the
    // card search and the jobs g_send_para.code asks for -------------------
    void reg_IRQ_Dealwith(unsigned char fpga, unsigned char force);
    void Record_Time_Deal();
    // A run's type 2 (on/off table) and type 1 (clock) page, from its copy.
    void OnOff_time(const unsigned char* page);
    void Checktime(const unsigned char* page);
    void record_onoff_time(unsigned char chip);
    void Power_ctrl_init();
    // Writes the brightness to both FPGAs: 1, 0 when the send did not
    // reach them both (a re-send) or the record could not be stored yet (a
    // change outside a record hold: it is owed), -1 when the level in force cannot be told yet
    // (a re-send in the automatic mode before its first reading, the block
    // busy). The source: the user's last percent act (shown and stored),
    // or the level in force (image byte 64, sent again).
    enum class BriSource { kPercentAct, kLevelInForce };
    int Brightness_hand_dealwith(BriSource source);
    // Its two kinds of work. A brightness change: the percent of the
    // user's last act on word 2176 becomes the level, is shown unless a
    // later act set one and stored as a manual record unless a later act
    // stored one. A re-send: the level in force is shown and its percent
    // written back.
    int bri_apply_percent();
    int bri_resend_level();
    // Their steps: the register value of the level in force, in its scale
    // (false: the automatic mode before its first reading could not read
    // the block); that level settled from the block's percent; the percent
    // shown written back into the block (percent, the one set, when it
    // gives that value); the value sent to both FPGAs
    // (kept for the first port link when none is linked; false when an
    // FPGA does not read back the value, which is then sent again) and to
    // one FPGA.
    bool bri_value_in_force(unsigned char& value);
    bool bri_settle_unread_sensor_level();
    void bri_write_back_percent(unsigned char value, int percent = -1);
    bool bri_send(unsigned char value);
    void bri_write_register(unsigned char value, unsigned char fpga);
    // Sets register 6 of one FPGA to the level in force (for an FPGA
    // brought up again, before its output goes on); false when that level
    // cannot be told yet. In the FPGA thread, under fpga_record_mutex.
    bool bri_set_fpga_level(unsigned char fpga);
    void record_bright_change();
    // Applies a record (its mode, level or table in force) as the act
    // numbered act: a missing or damaged one leaves the task off at level
    // 16.
    void bri_apply_record(const unsigned char* record, uint64_t act);
    // Asks for the manual record of a user's percent act (the store's mark
    // put on the medium first, removed once the record and the parameter
    // file hold it). atStart: the start's store (refused, the next read of
    // the record is the start's again). As ask_flash_store.
    bool bri_store_percent(unsigned char value, uint64_t act, unsigned percent, bool atStart = false);
    // Asks for the record of act (length 0: erased), under a record hold:
    // stored once the hold ends (run_flash_stores), which tells the
    // brightness acts whether the flash took it (refused, it is owed and
    // asked for again later: Extension_function asks for it when due).
    bool bri_store_record(const unsigned char* record, unsigned length, uint64_t act, bool atStart = false);
    // The thread takes an act on the percent the brightness acts say is
    // waiting, as a brightness change of its own.
    void bri_take_percent_acts();
    // The stop: a record owed to the flash is stored now (the FPGA
    // thread's own store ended first, kStopRecordWaitUs at most); false
    // when it was not.
    bool bri_store_owed_at_stop();
    static constexpr uint64_t kStopRecordWaitUs = 5000000;
    // The PC's write of register 64: a level shown, not stored.
    void bri_pc_level(unsigned char level);
    // At power-up, as the brightness acts' start rule chooses: the record
    // is shown (true), or the percent is stored as a manual level and
    // shown (false: done here).
    bool bri_start_from_record(unsigned char* record);
    // Erases the record's sector and writes the record (none when length
    // is 0); false when the flash failed.
    bool store_bright_record(const unsigned char* record, unsigned length);
    // The percent of the PC's manual level it stores, written back and
    // into the parameter file before the record is written, both before
    // the PC is answered.
    void store_pc_bright_percent();
    void Extension_function();
    void Check_search_card();
    void Search_Card_Cmd();
    void SmartMapping_deal();
    void save_para_deal();
    void mapping_enable_deal();
    void rcv_recovery_check_deal(RCV_CHECK_OR_RECOVERY mode);
    void usb_upgrade_manage_deal(void* arg);

    // --- USB upgrade package ------------------------------------------------
    // Runs while g_usb_grade is set, one step per pass on g_send_para.step:
    // 0 busy screen and start time, 1 list the packages, 2 install them,
    // 3 end time, busy screen closed, para sync 104, g_usb_grade cleared.
    void usb_upgrade_deal();
    // The packages of the upgrade folder, as the USB page lists them and the
    // upgrade installs them: host paths of its regular files (no symbolic
    // links, no hidden files) whose suffix is exactly "ZDR" or "ZDRZK", at
    // most kUsbMaxPackages of them, in the folder's order.
    // Packages beyond the first kUsbMaxPackages go to skipped (their file
    // names), when it is given.
    static constexpr unsigned int kUsbMaxPackages = 100;
    static QStringList usb_upgrade_packages(QStringList* skipped = nullptr);
    // Fills the upgrade file list (usb_upgrade_packages()) and the count;
    // the packages left out are logged by name, kept in usb_skipped and
    // counted in upgrade_errors.
    void get_usb_file_list_path();
    void usb_upgrade_main_deal();
    // Each answers 1 when its part was written and verified, 0 otherwise
    // (the reason is logged and kept in upgrade_error_text); the bitstream
    // and font writers answer kEntryPassedOver for an entry with nothing to
    // write (a bitstream of length 0, a font of length 0 or of an unknown
    // coding), which leaves what earlier entries of the run did in force.
    static constexpr int kEntryPassedOver = 2;
    int update_muc_file(char* path, unsigned int offset, unsigned int length);
    int update_txc_file(char* path, unsigned char chip, unsigned int offset);
    int update_c331_osd_font_file(char* path, unsigned int offset, unsigned int length);

    QStringList usb_file_list;
    unsigned int usb_file_count = 0;
    // File names of the packages the last upgrade left out (more than
    // kUsbMaxPackages on the disk); written as upgrade_errors.
    QStringList usb_skipped;
    unsigned char downing_mcu = 0;
    unsigned char downing_txc1 = 0;
    unsigned char downing_txc2 = 0;
    unsigned char downing_osd = 0;
    // Start time, four blanks, end time (h:m:s, no padding).
    QString upgrade_time_text;
    // Packages refused or parts that failed in the last upgrade (0 = all
    // went well) and the last reason; written by the FPGA thread before
    // para sync 104, read by the pages after it.
    std::atomic<unsigned int> upgrade_errors{0};
    QString upgrade_error_text;
    // What the last upgrade left in the flash behind each FPGA: no entry
    // for it tried, its old bitstream kept (an entry failed before the
    // first erase), the new bitstream written whole and verified, or no
    // whole bitstream (erased, then a write failed: the FPGA runs on, but
    // will not configure at the next power-on). Written as upgrade_errors.
    enum UpgradeFlash : unsigned char { kFlashNotTried = 0, kFlashOldKept = 1, kFlashNewWritten = 2, kFlashBlank = 3 };
    std::atomic<unsigned char> upgrade_flash[2] = {};
    // A mark on the disk, per FPGA, from the first erase of its flash until
    // the new bitstream is written whole and verified: found at start (a
    // power cut during the write, or a write that failed), the flash has
    // no whole bitstream. The start says so (kFlashBlank and the log), and
    // so does every upgrade until one writes that flash whole.
    static std::string flash_write_mark(int fpga);
    static bool flash_write_marked(int fpga);
    void note_flash_writes_cut();
    // The pauses of the upgrade (tests replace them).
    static void (*upgrade_sleep_ms)(unsigned int ms);

    // --- receiving-card jobs ------------------------------------------------
    // One operate record of the held file on the cards of the held net's
    // port (net_ledx): 1 when the record is done, else 0.
    int load_rcv_xy_operate(const QString& path, unsigned int dataPos, bool all);
    // The position of the card at chain position index for the route of
    // line_type; x and y unchanged when no position is defined.
    static void get_rcvcard_x_y(unsigned int index, unsigned short* x, unsigned short* y);
    unsigned char rcv_card_cmd_create(unsigned char* frame, unsigned short port);
    unsigned char ram_reset_cmd_create(unsigned char* frame, unsigned char a, unsigned short value,
                                       unsigned short port);
    // The result of the last check that found a card, the input of the
    // next restore.
    unsigned char restore_screen = 0;
    unsigned char restore_port = 0;
    unsigned short restore_card = 0;     // the card's position in its chain
    unsigned short restore_net = 0;      // the net index the check stopped at
    // The longest wait a record of a parameter file may ask for, in ms. No
    // card operation comes near it: a card saves its parameters to flash or
    // reconfigures itself in a few seconds. A larger value is a damaged
    // record (0xFFFFFFFF would hold the job for 50 days).
    static constexpr uint32_t kMaxRecordWaitMs = 60000;
    // How long the loader tries again to read a record's data that cannot
    // be read (the file gone or locked), in ticks, before the job fails.
    static constexpr unsigned int kRecordReadTicks = 500;
    // The longest a check, restore or load may run, in ticks (30 minutes):
    // a file may describe more screens, nets and records than any screen
    // has (255 screens of 65535 nets); the job then ends as failed. A real
    // screen's check asks each of its nets once (at most 5 s for a net that
    // does not answer), a restore loads one card.
    static constexpr unsigned int kCardJobTicks = 180000;
    // The config id of the screen being checked, matched against byte 18
    // of a check answer by the receive path.
    std::atomic<uint32_t> check_config_id{0};
    // The port being checked (port + 16 x fpga), -1 while no check waits
    // for its answer: an answer from another port (a net that answered
    // after its wait was over) does not count for this one.
    std::atomic<int> check_port{-1};
    // The last progress a card job reported (-1 none), for tests.
    std::atomic<int> job_progress{-1};

private:
    friend class RecordHold;
    // The brightness's re-send and store choices (the FPGA thread's): the
    // re-send counter; a record that could not be stored (reported once
    // per failure run); the level in force not on both FPGAs (set while no
    // port was linked, or its last send did not reach them both: an FPGA
    // silent or reading back another value), sent again once a port links
    // and both FPGAs are up, after a failed send no sooner than
    // kBriRetryTicks after it (bri_retry_time).
    unsigned int bri_resend = 0;
    unsigned char bri_record_failed = 0;
    unsigned char bri_unshown = 0;
    unsigned int bri_retry_time = 0;
    // The level in force (image byte 64 shows it; a PC's write of that
    // byte is a level shown). Which act set it, the record the flash holds
    // or owes, the store's mark and the start's read of the record are the
    // brightness acts' (core/brightness_acts.h): only until the start's read
    // is done does a bring-up read the record; later ones show the level in
    // force, which may be newer than the record.
    unsigned char bri_in_force = 0;
    // The flash records a record hold asked for, in the order asked (under
    // fpga_record_mutex): stored by run_flash_stores, under
    // fpga_flash_mutex (one store at a time, taken by stores alone, never
    // while the record mutex is held). A brightness record whose act a
    // later act's record replaced meanwhile is not stored (the later one
    // stands).
    struct FlashStore {
        uint32_t sector = 0;
        uint32_t address = 0;
        std::vector<unsigned char> record;   // empty: the erase alone
        bool brightness = false;             // a brightness record of act
        uint64_t act = 0;
        bool at_start = false;               // the start's store of the percent
    };
    // The brightness record's store for act.
    static FlashStore bright_store(const unsigned char* record, unsigned length, uint64_t act, bool atStart);
    std::vector<FlashStore> flash_stores_due;
    std::mutex fpga_flash_mutex;
    // The thread in a record hold (none: std::thread::id()).
    std::atomic<std::thread::id> record_holder{std::thread::id()};
    // A store asked for: in a record hold, due once the hold ends (true);
    // asked outside one, stored now (false: the flash refused it).
    bool ask_flash_store(FlashStore&& store);
    // Stores the records due (the record mutex not held); false when the
    // flash refused one. held: fpga_flash_mutex is already this thread's.
    bool run_flash_stores(bool held = false);
    // The light sensor's state; the brightness task reads the sensor and
    // the PC's brightness store starts its failure count again.
    BrightnessSensor bri_sensor;
    // The half-hour table; a record taken brings it, the task applies it.
    BrightnessTable bri_table;

    // Progress of a card job to the page that posted it.
    void card_job_progress(unsigned char job, int value);
    void card_job_ticker(unsigned char job);
    // A PC command pauses the card jobs: true while it does (stamps renewed).
    bool card_job_paused(bool clearSearch);
    void card_job_end();
    // Jobs 3 (save) and 4 (mapping switch): one frame per port with cards.
    void card_port_job(unsigned char job);
    void loader_send(const unsigned char* frame, unsigned short length);

    fpga_manage();
    ~fpga_manage();
    int open_devices(bool startThread, unsigned settleMs);
    void run();
    void notify_chip_links_up();
    bool apply_change_flag(std::atomic<unsigned char>& flag, bool onlyOne, int (fpga_manage::*apply)(),
                           bool systemMutex);
    int fpga_transfer(unsigned char fpga, uint32_t command, const unsigned char* tx, unsigned char* rx,
                      uint32_t length);

    FpgaRegisterImage reg_images[2];
    FpgaRamImages ram_image[2];
    std::thread worker_;
    std::atomic<bool> stop_{false};
};

// 1 while the LED screen is shown, 0 while it is blacked out.
extern std::atomic<unsigned char> ScreenState;

// The LED panel re-initialisation handshake, changed only under
// Utils::_led_para_init_mutex: a requester sets g_set_led_para to 1 (and
// g_set_led_setup to 0), the chip thread re-initialises its panel and posts
// 2, the FPGA thread resets the FPGAs and clears both (its rule:
// sendcard/fpga_led_handshake.cpp).
extern std::atomic<unsigned char> g_set_led_para;
extern std::atomic<unsigned char> g_set_led_setup;
// 1: the chip re-initialises its panel for the pending request although no
// panel word changed (the LED screen's re-initialisation of the advanced
// settings page); set with the request, cleared by the chip thread.
extern std::atomic<unsigned char> g_led_panel_reinit;
// 1 runs the freeze-output sequence of the handshake.
extern std::atomic<unsigned char> g_freeze_out;

// The PC's activity (pc_cmd_valid, pc_cmd_time): sendcard/pc_activity.h.
// 1 makes the FPGA thread run the USB upgrade instead of its pass.
extern std::atomic<unsigned int> g_usb_grade;
// 1 while the USB upgrade has the busy screen up.
extern std::atomic<unsigned char> g_update_flag;

// What the touch pages ask of the FPGA manager (GUI thread):
// - the output ports' link state as get_wlan_state() gives it: FPGA 0's
//   port bits in the low 16 bits, FPGA 1's in the high 16 bits;
unsigned int fpga_wlan_state();
// - whether both FPGAs run (their register image byte 80 is 3), which an LED
//   panel re-initialisation request needs;
bool fpga_both_running();
// - the receiving-card job of g_send_para: its job code (0 idle), the
//   posting of a job (job code, step 0, and the loader sub-step) while none
//   runs (false when one runs), the end of a job (job code and step
//   cleared, as the FPGA thread does), and the card reply of a check
//   (65535 none yet, 255 all cards sound, else the card to restore).
unsigned char fpga_card_job();
bool fpga_post_card_job(unsigned char job, unsigned char loaderSubStep);
void fpga_end_card_job();
unsigned short fpga_card_reply();
// - the load of a scan file (job 2): the file is handed over with the job,
//   so that the FPGA thread works on its own copy whatever the page does
//   with its choice meanwhile; false when a job runs;
bool fpga_post_load_job(const QString& file);
// - whether the last card job ended without doing all of its work.
bool fpga_card_job_failed();
// - the start of the USB upgrade (network page): step 0, then g_usb_grade
//   1; false while an upgrade runs already.
bool fpga_start_usb_upgrade();


// The mapping wizard's record: cabinet size, mapping offsets, the port the
// wizard works on (0..31), rows, columns and the route (1..16).
struct SmartMappingLineType {
    unsigned short width = 0;
    unsigned short height = 0;
    unsigned short x_offset = 0;
    unsigned short y_offset = 0;
    unsigned char port = 0;
    unsigned char rows = 0;
    unsigned char columns = 0;
    unsigned char route = 0;
};
extern SmartMappingLineType line_type;
// The scan file chosen in the mapping wizard (absolute path; GUI thread).
extern QString g_kqfile_name;
// The file handed over with the last job 2 (fpga_post_load_job).
QString fpga_posted_load_file();
// Where the mapping jobs (1 to 4) report progress: set by the mapping
// wizard while it is open; null reports nothing. Called on the FPGA thread.
extern std::atomic<void (*)(int)> g_smartmapping_progress;
