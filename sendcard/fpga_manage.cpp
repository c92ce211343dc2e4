// The FPGA manager: start, the worker thread and its pass, the bring-up and
// link-watch state machines, reset pulses and the change flags.
#include "sendcard/fpga_manage.h"

#include "avchips/velmosource.h"
#include "core/brightness_acts.h"
#include "core/global.h"
#include "core/le_bytes.h"
#include "core/logMsg.h"
#include "core/para_layout.h"
#include "core/utils.h"
#include "core/zdrrampara.h"
#include "platform/platform.h"
#include "sendcard/rcv_recovery_file.h"
#include "videochip/c331_manage.h"

#include <QMutexLocker>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <unistd.h>

Published<fpga_manage> fpga_manage::p_fpga_manage;
SendParaRequest g_send_para;
FpgaChangeRecord g_change;

std::atomic<unsigned char> ScreenState{1};
std::atomic<unsigned char> g_set_led_para{0};
std::atomic<unsigned char> g_set_led_setup{0};
std::atomic<unsigned char> g_freeze_out{0};
std::atomic<unsigned char> g_led_panel_reinit{0};

fpga_manage::fpga_manage()
{
    writeLogMsg(INFO, "====fpga_manage::fpga_manage()=====");
    drv = std::make_unique<fpga_drv>(*this);
    std::memset(reg_images, 0, sizeof(reg_images));
    std::memset(ram_image, 0, sizeof(ram_image));
    std::memset(MCU_RAM_DEFAULT, 0, sizeof(MCU_RAM_DEFAULT));
    std::memset(MCU_RAM_EXTEND, 0, sizeof(MCU_RAM_EXTEND));
    std::memset(control_uid, 0, sizeof(control_uid));
    std::memset(card_result, 0, sizeof(card_result));
    for (int i = 0; i < 2; ++i) {
        MCU_REG_func[i] = reg_images[i];
        MCU_RAM_PARA_func[i] = ram_image[i].para;
        MCU_RAM_RX_func[i] = ram_image[i].rx;
        MCU_RAM_TX_func[i] = ram_image[i].tx;
        MCU_RAM_ETH_PARA_func[i] = ram_image[i].eth_para;
        MCU_RAM_ETH_BACK_PARA_func[i] = ram_image[i].eth_back_para;
    }
    pthread_mutex_init(&fpga_reg_mutex, nullptr);
    pthread_mutex_init(&fpga_link_mutex, nullptr);
    pthread_mutex_init(&fpga_record_mutex, nullptr);
    rcv_recovery = new rcvRecovery();
    ZdrRamPara::set_blackout_listener(&screen_acts);
    // A new sending card's side: no level act, no record taken or owed,
    // the start's read of the record due.
    BrightnessActs::pInstance()->card_started();
}

fpga_manage::~fpga_manage()
{
    stop_ = true;
    if (worker_.joinable())
        worker_.join();
    if (ZdrRamPara::blackout_listener() == &screen_acts)
        ZdrRamPara::set_blackout_listener(nullptr);
    delete rcv_recovery;
    for (int fd : spi_fd) {
        if (fd >= 0)
            platform::spi().close(fd);
    }
    pthread_mutex_destroy(&fpga_reg_mutex);
    pthread_mutex_destroy(&fpga_link_mutex);
    pthread_mutex_destroy(&fpga_record_mutex);
}

fpga_manage* fpga_manage::pInstance()
{
    if (p_fpga_manage)
        return p_fpga_manage;
    fpga_manage* p = new fpga_manage();
    p->rcv_recovery->check_file_dir("/data/smartmapping");
    p->rcv_recovery->check_file_dir("/data/rcvrecovery");
    p->initialize();
    // The link threads already run: they see the manager once it is ready.
    p_fpga_manage = p;
    return p;
}

fpga_manage* fpga_manage::createForTest(bool startThread)
{
    destroyForTest();
    fpga_manage* p = new fpga_manage();
    p_fpga_manage = p;
    p->rcv_recovery->check_file_dir("/data/smartmapping");
    p->rcv_recovery->check_file_dir("/data/rcvrecovery");
    p->open_devices(startThread, 0);
    return p;
}

void fpga_manage::destroyForTest()
{
    delete p_fpga_manage;
    p_fpga_manage = nullptr;
}

int fpga_manage::initialize()
{
    // The FPGAs settle for 2 s after the lines are set (the simulated board
    // needs only what its start-up asks for).
    const unsigned settle = platform::settleDelayMs() < 2000 ? platform::settleDelayMs() : 2000;
    return open_devices(true, settle);
}

int fpga_manage::open_devices(bool startThread, unsigned settleMs)
{
    for (unsigned char i = 0; i < 4; ++i)
        spi_fd[i] = drv->initialize_vbyne1(i);

    platform::PhysMem& mem = platform::physMem();
    if (!mem.msysRequest(msys_region)) {
        std::printf("\n DMEM request failed!!");
        writeLogMsg(ERROR, "FPGA GPIO window: msys request failed");
        return 255;
    }
    gpio_window = mem.map(msys_region.physBase, msys_region.length);
    if (!gpio_window) {
        std::printf("\n NULL pointer!");
        writeLogMsg(ERROR, "FPGA GPIO window: mapping failed");
        return 255;
    }
    gpio_set(0x207944, kPadLow);
    gpio_set(0x207940, kPadLow);
    gpio_set(0x207948, kPadHigh);
    gpio_set(kFpga1FlashPadB, kPadHigh);
    gpio_set(kFpga1CommandPadB, kPadHigh);

    softinit();
    note_flash_writes_cut();
    if (settleMs)
        std::this_thread::sleep_for(std::chrono::milliseconds(settleMs));
    g_fpga_c331_start = 0;
    clock_record.clock_record_init();
    if (startThread) {
        try {
            worker_ = std::thread([this] { run(); });
        } catch (...) {
            writeLogMsg(ERROR, "create check source thread failed");
            return 255;
        }
    }
    return 0;
}

void fpga_manage::softinit()
{
    const unsigned int now = G_timeTicks.load();
    g_change = FpgaChangeRecord();
    for (int i = 0; i < 2; ++i) {
        g_change.fpga_power_time[i] = now;
        g_change.fpga_rst_end_time[i] = now;
        g_change.link_step_time[i] = now;
    }
    g_change.job_time = now;
    g_change.bri_time = now;
    g_change.power_time = now;
    g_change.time_read_time = now;
    g_change.search_gate = 15;
    Power_ctrl_init();
    Version_to_RAM();
    PHY_status_to_RAM();
    const unsigned char cmdState[2] = {0xFF, 1};
    command_page.start_bytes(28, cmdState, sizeof(cmdState));
    MCU_RAM_EXTEND[49] = 0x9F;
    MCU_RAM_EXTEND[50] = 0x1F;
    // The FPGAs come up with register 0 clear: the screen is shown, as the
    // PC reads it in the extension page until register 0 is written.
    ScreenState = 1;
    MCU_RAM_EXTEND[29] = 1;
    g_send_para.code = 0;
    g_send_para.flag = 0;
    g_send_para.step = 255;
}

void* fpga_manage::fpgamanageThread(void* arg)
{
    static_cast<fpga_manage*>(arg)->run();
    return nullptr;
}

void fpga_manage::run()
{
    Utils::name_thread("fpga");
    while (!stop_.load()) {
        if (g_fpga_c331_start.load() != 0) {
            if (g_usb_grade.load() != 0)
                usb_upgrade_manage_deal(nullptr);
            else
                fpga_manage_deal(nullptr);
        }
        ++loop_count;
        ::usleep(1);
    }
}

bool fpga_manage::fpga_present(unsigned char fpga) const
{
    velmosource* v = velmosource::p_velmo_source;
    return v && v->fpga_clk_setup_state[fpga & 1].load() == 2;
}

// Applies one change flag; while it is applied the flag holds
// kChangeApplying, so that a raise meanwhile (the chip stores 1) is kept
// for the next pass instead of being cleared with the old one.
bool fpga_manage::apply_change_flag(std::atomic<unsigned char>& flag, bool onlyOne, int (fpga_manage::*apply)(),
                                    bool systemMutex)
{
    unsigned char v = flag.load();
    if (v == 0 || v == kChangeApplying || (onlyOne && v != 1))
        return false;
    QMutex& mutex = systemMutex ? Utils::_system_mutex : Utils::_bri_set_mutex;
    {
        QMutexLocker lock(&mutex);
        if (!flag.compare_exchange_strong(v, kChangeApplying))
            return false;
    }
    const int done = (this->*apply)();
    QMutexLocker lock(&mutex);
    unsigned char applying = kChangeApplying;
    flag.compare_exchange_strong(applying, done == 1 ? 0 : v);
    return done == 1;
}

void fpga_manage::fpga_manage_deal(void*)
{
    check_fpga_rst();
    for (unsigned char i = 0; i < 2; ++i) {
        if (fpga_present(i))
            power_up_fpga_start(1, i);
    }
    pthread_mutex_lock(&fpga_link_mutex);
    for (unsigned char i = 0; i < 2; ++i) {
        if (fpga_present(i))
            reg_IRQ_Dealwith(i, 0);
    }
    pthread_mutex_unlock(&fpga_link_mutex);
    for (unsigned char i = 0; i < 2; ++i) {
        if (fpga_present(i))
            power_up_check_fpga_status(i);
    }
    notify_chip_links_up();

    apply_change_flag(lcd_change_flag, false, &fpga_manage::set_fpga_lcd, true);
    bri_take_percent_acts();
    if (g_set_led_para.load() != 0 || g_freeze_out.load() != 0 || led_request_phase != kLedRequestNone)
        set_led_para_deal();
    Record_Time_Deal();
    schedule_deal();

    switch (g_send_para.code.load()) {
    case 1:
        SmartMapping_deal();
        break;
    case 2:
        rcv_recovery_check_deal(RCV_LOAD_FILE);
        break;
    case 3:
        save_para_deal();
        break;
    case 4:
        mapping_enable_deal();
        break;
    case 5:
        rcv_recovery_check_deal(RCV_CHECK);
        break;
    case 6:
        rcv_recovery_check_deal(RCV_RECOVERY);
        break;
    default:
        Check_search_card();
        break;
    }

    show_screen_record();
    clock_record.clock_record_deal();
}

void fpga_manage::power_up_fpga_start(unsigned char check, unsigned char i)
{
    i &= 1;
    unsigned char* reg = MCU_REG_func[i];
    if (check && reg_image(i, kImageRunning) == kRunning && fpga_state[i] == kStateRunning)
        return;
    // Nothing steps on while the FPGA is held in reset.
    if (fpga_rst_pending[i])
        return;
    if (Utils::getTimeSpace(g_change.fpga_power_time[i]) <= 30)
        return;
    const int n = i + 1;

    if (!version_alive(reg[kRegVersionYear])) {
        for (unsigned r : {kRegVersionYear, 30u, 29u, 28u, 7u})
            read_from_register(r, i);
        fpga_state[i] = 1;
        fpga_retry[i] = 0;
        g_change.fpga_power_time[i] = G_timeTicks;
        return;
    }

    switch (fpga_state[i].load()) {
    case 1:
        if (traceOn())
            std::printf("\n +++++++++++++++++++++FPGA[%d]_VBO_INIT_S1++++++++++++++++++++++++ !!!\n", n);
        write_to_register(3, 0x40, 0x40, i);
        fpga_state[i] = 2;
        break;
    case 2:
        if (!step_answered(read_from_register(22, i), i))
            break;   // unanswered: the FPGA is brought up again
        if ((reg[22] & 0x08) == 0) {
            if (traceOn())
                std::printf("\n +++++++++++++++++++++FPGA[%d]_VBO_INIT_S2++++++++++++++++++++++++ !!!\n", n);
            fpga_state[i] = 3;
            break;
        }
        if (traceOn())
            std::printf("\n +++++++++++++++++FPGA[[%d]]_VBO_INIT_S2 error!!!++++++++++++++++\n", n);
        if (++fpga_retry[i] < 5)
            break;
        if (++fpga_rst_round[i] < 3) {
            if (traceOn())
                std::printf("\n +++++++++++++++++FPGA[%d]_VBO_INIT_S2 reset!!!++++++++++++++++\n", n);
            hold_in_reset(i);
            break;
        }
        fpga_state[i] = 3;
        break;
    case 3:
        if (traceOn())
            std::printf("\n +++++++++++++++++++++FPGA[%d]_VBO_INIT_S3++++++++++++++++++++++++ !!!\n", n);
        write_to_register(3, 0x80, 0x80, i);
        fpga_state[i] = 5;
        fpga_retry[i] = 0;
        fpga_rst_round[i] = 0;
        break;
    case 5:
        if (!step_answered(read_from_register(22, i), i))
            break;
        if (reg[22] & 0x10) {
            if (traceOn())
                std::printf("\n +++++++++++++++++++++FPGA[%d]_VBO_INIT_S5++++++++++++++++++++++++ !!!\n", n);
            fpga_state[i] = 6;
            fpga_rst_round[i] = 0;
            write_to_register(23, 0x01, 0x00, i);
            break;
        }
        if (traceOn())
            std::printf("\n +++++++++++++++++FPGA[%d]_VBO_INIT_S5 error!!!++++++++++++++++\n", n);
        if (++fpga_retry[i] < 6)
            break;
        if (++fpga_rst_round[i] < 3)
            break;
        fpga_state[i] = 6;
        break;
    case 6:
        if (traceOn())
            std::printf("\n +++++++++++++++++++++FPGA[%d]_VBO_INIT_S6++++++++++++++++++++++++ !!!\n", n);
        write_to_register(23, 0x01, 0x01, i);
        set_reg_image(i, kImageRunning, kRunning);
        fpgainit(i);
        set_reg_image(i, kImageRunning, kRunning);
        fpga_state[i] = kStateRunning;
        return;
    default:
        break;
    }
    g_change.fpga_power_time[i] = G_timeTicks;
}

void fpga_manage::get_control_uid(unsigned char i)
{
    std::memset(control_uid, 0, sizeof(control_uid));
    drv->FPGA_SPI_FLASH_SSTF016B_RD_UID(2, control_uid);
    for (unsigned k = 0; k < 8; ++k)
        write_to_register(32 + k, 0xFF, control_uid[k], i);
    device_id = Utils::calcCRC32(control_uid, sizeof(control_uid));
    if (traceOn())
        std::printf("\n device_id = %#x \n", device_id);
}

void fpga_manage::fpgainit(unsigned char i)
{
    i &= 1;
    const unsigned char chip = static_cast<unsigned char>(i + 2);
    unsigned char* page = MCU_RAM_PARA_func[i];

    unsigned char block50[256];
    fpga_flash_access();
    if (drv->FPGA_SPI_FLASH_VBYONE_READ(chip, kBlock50Record, sizeof(block50), block50))
        write_fpga_ram(block50, 0, sizeof(block50), 50, i);
    else
        writeLogMsg(ERROR, "FPGA " + std::to_string(i) + ": cannot read its start-up record");

    get_control_uid(i);

    write_to_register(23, 0x40, 0x40, i);
    write_to_register(23, 0x40, 0x00, i);
    read_from_register(22, i);
    write_to_register(22, 0x20, 0x00, i);

    {
        RecordHold records(*this);
        // The brightness record is taken once after power-up; an FPGA
        // brought up again later shows the level in force (its output step
        // sets it), not the record, which may be older.
        if (BrightnessActs::pInstance()->start_due())
            record_bright_change();
        record_onoff_time(chip);
    }

    for (int k = 0; k < 3; ++k)
        read_from_register(21, i);

    unsigned char marker = 0;
    fpga_flash_access();
    const bool saved = drv->FPGA_SPI_FLASH_VBYONE_READ(chip, kParaMarker, 1, &marker) && marker == 0xAA &&
                       drv->FPGA_SPI_FLASH_VBYONE_READ(chip, kParaRecord, kParaPageSize, page);
    if (saved) {
        std::memset(page + 96, 0, 32);
        eth_param_init(0, i);
        K47_back_mcu_set_net_para(i);
        K47_mcu_set_lcd_x_y_para(i);
        if (i == 0)
            K47_mcu_set_net_para(0);
    } else {
        std::memcpy(page, RAM1, sizeof(RAM1));
        for (int p = 0; p < 16; ++p) {
            setLe16(page, 296 + 4 * p, 1398);
            setLe16(page, 298 + 4 * p, 466);
        }
        page[496] = 0;
        page[498] = 0;
        eth_param_init(1, i);
        K47_back_mcu_set_net_para(i);
    }
    for (int p = 0; p < 16; ++p)
        page[276 + p] = static_cast<unsigned char>(p + 1 + 16 * i);

    write_fpga_ram(page, 0, kParaPageSize, 1, i);
    update_eth_state(i);
    FPGA_to_RAM(i);
    write_to_register(2, 0x08, 0x08, i);

    ram_check[i] = static_cast<unsigned char>(check_fpga_ram_param(i));
    if (ram_check[i] == 0) {
        reset_fpga_rst(i);
        if (traceOn())
            std::printf("\n check fpga%d ram error ,start to reset .... \n", i + 1);
    }
}

void fpga_manage::reset_fpga_rst(unsigned char i)
{
    i &= 1;
    hold_in_reset(i);
    fpga_rst_round[i] = 0;
}

void fpga_manage::hold_in_reset(unsigned char i)
{
    i &= 1;
    gpio_set(i == 0 ? kFpga0ResetPad : kFpga1ResetPad, kPadLow);
    fpga_rst_pending[i] = 1;
    fpga_rst_time[i] = G_timeTicks;
    // The reset line low returns the FPGA's registers to their power-up
    // values at once: register 0 clear, register 3 (outputs) off.
    image_after_reset(i);
}

void fpga_manage::image_after_reset(unsigned char i)
{
    FpgaMutexHold hold(fpga_reg_mutex);
    unsigned char* reg = MCU_REG_func[i & 1];
    for (unsigned r = 0; r < 64; ++r) {
        if (r == 7 || (r >= 28 && r <= 30))
            continue;
        reg[r] = 0;
    }
    screen_state_from_images();
}

void fpga_manage::screen_state_from_images()
{
    ScreenState = ((MCU_REG_func[0][0] | MCU_REG_func[1][0]) & 0x04) ? 0 : 1;
    MCU_RAM_EXTEND[29] = ScreenState;
}

unsigned char fpga_manage::reg_image(unsigned char fpga, unsigned reg)
{
    FpgaMutexHold hold(fpga_reg_mutex);
    return MCU_REG_func[fpga & 1][reg & 0xFF];
}

void fpga_manage::reg_image_range(unsigned char fpga, unsigned first, unsigned count, unsigned char* out)
{
    FpgaMutexHold hold(fpga_reg_mutex);
    std::memcpy(out, MCU_REG_func[fpga & 1] + (first & 0xFF), std::min(count, 256u - (first & 0xFF)));
}

void fpga_manage::bri_show(unsigned char level, int scale, uint64_t act)
{
    bri_in_force = level;
    bri_scale_mode = scale;
    BrightnessActs::pInstance()->level_set(
        act, bri_level_to_value(level, static_cast<unsigned char>(scale >= 0 ? scale : bri_mode)));
    FpgaMutexHold hold(fpga_reg_mutex);
    MCU_REG_func[0][kImageBrightLevel] = level;
    MCU_REG_func[1][kImageBrightLevel] = level;
}

void fpga_manage::set_reg_image(unsigned char fpga, unsigned reg, unsigned char value)
{
    FpgaMutexHold hold(fpga_reg_mutex);
    MCU_REG_func[fpga & 1][reg & 0xFF] = value;
}

bool fpga_manage::version_alive(unsigned char year)
{
    // The year reads as a plain number: 25..48 is 0x19..0x30.
    return year >= 25 && year <= 48;
}

void fpga_manage::restart_bring_up(unsigned char i)
{
    i &= 1;
    set_reg_image(i, kImageRunning, 0);
    link_state[i] = 0;
    fpga_state[i] = 0;
    fpga_retry[i] = 0;
    fpga_unanswered[i] = 0;
}

bool fpga_manage::step_answered(bool answered, unsigned char i)
{
    i &= 1;
    if (answered) {
        fpga_unanswered[i] = 0;
        return true;
    }
    if (!fpga_unanswered[i]) {
        fpga_unanswered[i] = 1;
        fpga_unanswered_at[i] = G_timeTicks;
    } else if (Utils::getTimeSpace(fpga_unanswered_at[i]) >= kUnansweredResetTicks && !fpga_rst_pending[i]) {
        writeLogMsg(WARNING, "FPGA " + std::to_string(i) + ": its reads kept failing: reset and brought up again");
        fpga_unanswered[i] = 0;
        reset_fpga_rst(i);
    }
    return false;
}

void fpga_manage::check_fpga_rst()
{
    for (unsigned char i = 0; i < 2; ++i) {
        // An FPGA that went silent after its version was read: whatever it
        // kept, and whatever was written to it meanwhile, it starts again
        // from its power-up registers and its bring-up sets the screen
        // from the stored settings. Silence in a reset, or before the
        // version, loses nothing.
        if (fpga_silent[i].exchange(0) && !fpga_rst_pending[i] && version_alive(reg_image(i, kRegVersionYear))) {
            writeLogMsg(WARNING, "FPGA " + std::to_string(i) + " did not answer: reset and brought up again");
            reset_fpga_rst(i);
        }
        if (!fpga_rst_pending[i] || Utils::getTimeSpace(fpga_rst_time[i]) <= 200)
            continue;
        gpio_set(i == 0 ? kFpga0ResetPad : kFpga1ResetPad, kPadHigh);
        set_reg_image(i, kRegVersionYear, 0);
        restart_bring_up(i);
        // The FPGA starts again from its power-up registers (register 0
        // clear, outputs off), and so does its image: the PC reads what the
        // FPGA holds. Its bring-up sets the black-out and the brightness
        // from the stored settings before its output goes on.
        image_after_reset(i);
        g_change.fpga_rst_end_time[i] = G_timeTicks;
        fpga_rst_pending[i] = 0;
    }
}

int fpga_manage::get_fpga_status()
{
    for (int i = 0; i < 2; ++i) {
        const unsigned char fpga = static_cast<unsigned char>(i);
        if (!fpga_up(fpga) || (reg_image(fpga, kRegScreen) & kScreenLinkHold))
            return 0;
    }
    return 1;
}

// The chip learns that both links are up: its parameter-changed flag and
// the end of the forced background colour, under its manage mutex. The
// mutex is only tried: the chip thread may hold it while it waits for this
// thread (LED handshake), so a busy mutex is tried again on the next pass.
void fpga_manage::notify_chip_links_up()
{
    if (!chip_notify_pending)
        return;
    if (!C331ParaLock::try_acquire())
        return;
    C331ParaLock::raise_held();
    g_force_bkcolor = 0;
    C331ParaLock::release();
    chip_notify_pending = 0;
}

void fpga_manage::power_up_check_fpga_status(unsigned char i)
{
    i &= 1;
    unsigned char* reg = MCU_REG_func[i];
    if (reg_image(i, kImageRunning) != kRunning || fpga_state[i] != kStateRunning || fpga_rst_pending[i] ||
        fpga_silent[i])
        return;
    unsigned int& step = g_change.link_step_time[i];

    switch (link_state[i].load()) {
    case 0:
        if (Utils::getTimeSpace(link_time[i]) <= 10)
            return;
        if (!step_answered(read_from_register(22, i), i))
            return;   // unanswered: the FPGA is brought up again
        if (reg[22] & 0x80) {
            link_state[i] = 7;
        } else if (link_try[i] < (link_rst_count[i] + 1) * 20) {
            ++link_try[i];
        } else if (link_rst_count[i] > 100) {
            link_state[i] = 7;   // give up: go on without the lock
        } else {
            ++link_rst_count[i];
            reset_fpga_rst(i);
            fpga_state[i] = kStateLinkReset;
        }
        link_time[i] = G_timeTicks;
        return;
    case 7: {
        if (Utils::getTimeSpace(link_time[i]) <= 70)
            return;
        unsigned char* page = MCU_RAM_PARA_func[i];
        if (!step_answered(read_fpga_ram(page + 116, 116, 8, 1, i) != 0, i))
            return;
        const uint32_t period = le32(page, 120);
        // The screen size as one copy (a page or the PC stores it meanwhile).
        unsigned char led[4] = {};
        if (ZdrRamPara* store = ZdrRamPara::p_zdrrampara_config)
            store->block_bytes(para::kLedWidth, led, 4);
        if (le16(page, 116) >= le16(led, 0) / 2 && le16(page, 118) >= le16(led, 2) / 2 && period >= 714286 &&
            period <= 999999) {
            write_to_register(2, 0x01, 0x01, i);
            write_to_register(2, 0x01, 0x01, i);
            link_state[i] = 1;
        }
        link_time[i] = G_timeTicks;
        return;
    }
    case 1:
        write_to_register(41, 0x01, 0x01, i);
        link_state[i] = 8;
        step = G_timeTicks;
        write_to_register(23, 0x02, 0x02, i);
        return;
    case 8:
        if (Utils::getTimeSpace(step) <= 5)
            return;
        if (!step_answered(read_from_register(23, i), i))
            return;
        link_state[i] = (reg[23] & 0x02) ? 2 : 1;
        step = G_timeTicks;
        return;
    case 2:
        if (Utils::getTimeSpace(step) <= 20)
            return;
        if (!step_answered(read_from_register(41, i), i))
            return;
        link_step2_passed[i] = 1;
        link_state[i] = 9;
        return;
    case 9:
        write_to_register(23, 0x02, 0x00, i);
        link_state[i] = 10;
        step = G_timeTicks;
        return;
    case 10:
        if (Utils::getTimeSpace(step) <= 5)
            return;
        if (!step_answered(read_from_register(23, i), i))
            return;
        link_state[i] = (reg[23] & 0x02) ? 9 : 3;
        return;
    case 3:
        if (link_step2_passed[0] != 1 || link_step2_passed[1] != 1)
            return;
        write_to_register(2, 0x01, 0x01, i);
        chip_notify_pending = 1;
        notify_chip_links_up();
        link_state[i] = 14;
        return;
    case 14:
        if (Utils::getTimeSpace(link_time[i]) <= 50)
            return;
        SCREEN_fpgactrl_status2(11, i);
        link_state[i] = 15;
        write_to_register(2, 0x01, 0x01, i);
        write_to_register(2, 0x01, 0x01, i);
        link_time[i] = G_timeTicks;
        return;
    case 15:
        if (Utils::getTimeSpace(link_time[i]) <= 50)
            return;
        if (!show_after_bring_up(i))
            return;
        link_state[i] = kLinkUp;
        link_time[i] = G_timeTicks;
        return;
    default:
        return;
    }
}

int fpga_manage::set_fpga_lcd()
{
    if (get_fpga_status() != 1)
        return 0;
    K47_mcu_set_net_para(0);
    write_fpga_ram(MCU_RAM_PARA_func[0], 0, kParaPageSize, 1, 0);
    write_to_register(2, 0x01, 0x01, 0);
    K47_mcu_set_lcd_x_y_para(1);
    return 1;
}

int fpga_manage::set_fpga_bri_val()
{
    if (get_fpga_status() != 1)
        return 0;
    RecordHold records(*this);
    // Only a percent act not yet taken is applied: a change pass that saw
    // the word change (a RAM write of it waiting for its flag, a percent
    // written back) is no act, and does not store again a record the
    // flash holds. Done once taken: a record the flash did not take is
    // owed and stored again later (Extension_function).
    if (BrightnessActs::pInstance()->percent_act_waiting())
        bri_apply_percent();
    return 1;
}

bool fpga_manage::fpga_up(unsigned char i)
{
    i &= 1;
    return reg_image(i, kImageRunning) == kRunning && fpga_state[i] == kStateRunning && link_state[i] == kLinkUp &&
           !fpga_rst_pending[i] && !fpga_silent[i];
}

bool fpga_manage::show_after_bring_up(unsigned char i)
{
    // The FPGA came up with register 0 clear and register 6 at 0: the
    // black-out and the brightness are set before the output goes on, so
    // that the screen is never lit against its last act nor shown at
    // brightness 0. An FPGA brought up again while an LED request holds
    // the screen dark stays dark with it: the request's end shows the
    // screen's last act on the FPGAs that are up.
    const ScreenActs::Act act = screen_acts.of(i);
    const bool dark = act.dark || led_request_dark.load() != 0;
    write_to_register(kRegScreen, kScreenBlackout, dark ? kScreenBlackout : 0x00, i);
    screen_shown_seq[i] = act.seq;
    {
        RecordHold records(*this);
        if (!bri_set_fpga_level(i))
            return false;   // the block was busy: the next pass tries again
    }
    SCREEN_fpgactrl_status2(4, i);
    return true;
}
