// Screen brightness of the sending card: register 6 of both FPGAs, driven
// by a manual level, a half-hour table or the light sensor of a
// multi-function card, with the mode and table kept in the flash behind
// FPGA 0.
#include "sendcard/fpga_manage.h"

#include "core/brightness_acts.h"
#include "core/global.h"
#include "core/le_bytes.h"
#include "core/logMsg.h"
#include "core/para_layout.h"
#include "core/utils.h"
#include "core/wait_bound.h"
#include "core/zdrrampara.h"
#include "videochip/c331_manage.h"

#include <QMutexLocker>
#include <algorithm>
#include <cstring>
#include <vector>

namespace {

constexpr unsigned kBrightRecordSize = 57;
constexpr unsigned kBrightRecordLength = 49;

// A manual record of one register value (mode 16, the 48 levels alike).
void buildManualRecord(unsigned char value, unsigned char* record)
{
    std::memset(record, 0, kBrightRecordSize);
    record[0] = 0xAA;
    record[1] = 3;
    record[2] = 0xAA;
    setLe16(record, 6, kBrightRecordLength);
    record[8] = 16;
    std::memset(record + 9, value, 48);
}

// A record of type 3 long enough for its mode's bytes: a table's 48
// levels, a manual level, the mode byte alone for the automatic mode.
bool brightRecordValid(const unsigned char* record)
{
    const unsigned length = le16(record, 6);
    const bool table = record[8] == 1 || record[8] == 17;
    const unsigned needed = table ? kBrightRecordLength : record[8] == 2 ? 1u : 2u;
    return record[0] == 0xAA && record[1] == 3 && length >= needed;
}

bool eightBitMode(unsigned char mode)
{
    return mode == fpga_manage::kBriRegisterScale || mode == 17;
}

bool percentSays(unsigned percent, unsigned char value)
{
    return BrightnessActs::percent_says(percent, value);
}

// Runs work() under the chip's manage mutex, which owns the parameter
// block. The mutex is only tried: the chip thread may hold it while it
// waits for this thread (LED handshake). False when it was busy.
template <typename Work>
bool withBlockTried(Work work)
{
    if (C331ParaLock::held()) {
        work();
        return true;
    }
    if (!C331ParaLock::try_acquire())
        return false;
    work();
    C331ParaLock::release();
    return true;
}

} // namespace

unsigned char fpga_manage::bri_level_to_value(unsigned int level, unsigned char mode)
{
    if (eightBitMode(mode))
        return static_cast<unsigned char>(level);
    return static_cast<unsigned char>((level * 16u - 1u) & 0xFF);
}

unsigned char fpga_manage::bri_percent_to_value(unsigned int percent, unsigned char mode)
{
    unsigned char v = static_cast<unsigned char>((percent * 255u / 100u) & 0xFF);
    if (!eightBitMode(mode) && v < 15)
        v = 15;
    return v;
}

unsigned int fpga_manage::bri_value_to_percent(unsigned char value)
{
    return value * 100u / 255u;
}

void fpga_manage::build_sensor_read_frame(unsigned short addr, unsigned char frame[19])
{
    static const unsigned char kBody[16] = {0x00, 0xF0, 0x10, 0xBB, 0x03, 0x00, 0x00, 0x61,
                                            0x00, 0x00, 0x00, 0x02, 0x80, 0x00, 0x00, 0x00};
    setLe16(frame, 0, addr);
    std::memcpy(frame + 2, kBody, sizeof(kBody));
    frame[18] = Utils::BCC(frame, 18);
}

void fpga_manage::Extension_function()
{
    // A percent change raised since the pass took the changes is taken
    // first, by the next pass: nothing sends the level it replaces
    // meanwhile, which would write that level's percent back over the one
    // set.
    if (BrightnessActs::pInstance()->percent_act_waiting())
        return;
    std::vector<unsigned char> owed;
    uint64_t owedAct = 0;
    if (BrightnessActs::pInstance()->owed_record_due(owed, owedAct))
        bri_store_record(owed.data(), static_cast<unsigned>(owed.size()), owedAct);
    if (bri_task_enabled)
        Brightness_task();
    // A level set while no port was linked, or one whose send did not reach
    // both FPGAs, is shown as soon as a port links and both are up, whether
    // or not the running mode sends again by itself.
    if (bri_unshown && port_link_image() != 0 && Utils::getTimeSpace(bri_retry_time) >= kBriRetryTicks)
        Brightness_hand_dealwith(BriSource::kLevelInForce);
    // The on/off schedule runs on every pass (schedule_deal), not only
    // while both FPGAs are up.
}

void fpga_manage::record_bright_change()
{
    if (MCU_REG_func[0][80] != 3 && MCU_REG_func[1][80] != 3)
        return;
    // The record is read into a page of its own: the command page carries
    // the version bytes the PC reads.
    unsigned char record[kBrightRecordSize];
    fpga_flash_access();
    if (!drv->FPGA_SPI_FLASH_VBYONE_READ(2, kBrightRecord, sizeof(record), record)) {
        writeLogMsg(ERROR, "brightness: the stored record cannot be read");
        return;   // keep what runs now; the next bring-up at start reads it again
    }
    // Read at power-up, the record is what was stored before this run (a
    // test may read it again later: an act of its own time).
    BrightnessActs* acts = BrightnessActs::pInstance();
    const uint64_t act = acts->record_read_act();
    const bool atStart = acts->start_due();
    if (!atStart || bri_start_from_record(record))
        bri_apply_record(record, act);
    // The percent says the stored level from the start on, not only from
    // the first send (a level only shown wrote its own back before).
    unsigned char value = 0;
    if (atStart && (bri_mode == 0 || bri_mode == 16) && bri_task_enabled && bri_value_in_force(value))
        bri_write_back_percent(value);
}

void fpga_manage::bri_apply_record(const unsigned char* record, uint64_t act)
{
    if (record[0] != 0xAA || !brightRecordValid(record)) {
        if (record[0] == 0xAA)
            writeLogMsg(WARNING, "brightness: the stored record is damaged, level 16");
        bri_task_enabled = 0;
        bri_level = 16;
        BrightnessActs::pInstance()->level_set(act, bri_level_to_value(16, bri_mode));
        return;
    }
    Brightness_init(record, act);
}

bool fpga_manage::bri_start_from_record(unsigned char* record)
{
    // The brightness acts decide (core/brightness_acts.h): the record is
    // shown, or the percent is stored as a manual level and shown.
    const bool erased =
        std::all_of(record, record + kBrightRecordSize, [](unsigned char b) { return b == 0xFF; });
    const bool manual = brightRecordValid(record) && (record[8] == 0 || record[8] == 16);
    BrightnessActs* acts = BrightnessActs::pInstance();
    const BrightnessActs::StartChoice choice = acts->start_choice(
        erased, [&](unsigned percent) { return manual && percentSays(percent, bri_level_to_value(record[9], record[8])); });
    if (choice.show_record)
        return true;
    const BrightnessActs::Act act = choice.act;
    const unsigned char value = bri_percent_to_value(act.percent, kBriRegisterScale);
    writeLogMsg(WARNING, std::string("brightness: ") +
                             (erased ? "no stored record" : "the record was not stored with the last percent") +
                             ", the level of " + std::to_string(act.percent) + " % is stored");
    // Shown for this run even when the flash does not take it; then the
    // next read of the record (FPGA 0 brought up again) checks it again.
    bri_store_percent(value, act.seq, act.percent, true);
    buildManualRecord(value, record);
    Brightness_init(record, act.seq);
    bri_write_back_percent(value, act.percent);
    return false;
}

void fpga_manage::Brightness_init(const unsigned char* page, uint64_t act)
{
    // The scale of the level shown now: a mode that sets no level at once
    // (a table until its slot is applied, the sensor until it reads) keeps
    // showing it in that scale.
    const int shownScale = bri_scale_mode >= 0 ? bri_scale_mode : bri_mode;
    bri_mode = page[8];
    bri_table.last_slot = 255;
    bri_change_mark = 0;
    bri_task_enabled = 0;
    // The level shown stays until the mode sets one (a table's slot, the
    // sensor's reading): none known meanwhile.
    BrightnessActs::pInstance()->level_set(act, -1);
    switch (bri_mode) {
    case 0:
    case 16:
        bri_level = page[9];
        bri_show(page[9], -1, act);
        bri_resend = 0;
        bri_task_enabled = 1;
        break;
    case 1:
    case 17:
        std::memcpy(bri_table.HalfHourValue, page + 9, sizeof(bri_table.HalfHourValue));
        bri_scale_mode = shownScale;
        bri_task_enabled = 1;
        break;
    case 2:
        bri_scale_mode = shownScale;
        bri_task_enabled = 1;
        break;
    default:
        break;
    }
}

void fpga_manage::Brightness_task()
{
    if (Utils::getTimeSpace(g_change.bri_time) < 1000)
        return;
    switch (bri_mode) {
    case 0:
    case 16:
        Brightness_hand_change();
        break;
    case 1:
    case 17:
        Brightness_time_change();
        break;
    case 2:
        Brightness_auto_change();
        break;
    default:
        break;
    }
    g_change.bri_time = G_timeTicks;
}

int fpga_manage::Brightness_hand_dealwith(BriSource source)
{
    return source == BriSource::kPercentAct ? bri_apply_percent() : bri_resend_level();
}

int fpga_manage::bri_apply_percent()
{
    // The level of the user's last percent act, as it was written (the
    // block may hold a percent written back since, of a level only shown).
    // The image then holds the register value itself: it is re-sent in the
    // 8-bit scale until the mode sets a level again. It is taken with no
    // port linked too: it is what the record stores and what is shown once
    // a port links.
    BrightnessActs* acts = BrightnessActs::pInstance();
    const BrightnessActs::Act act = acts->take_percent_act();
    const unsigned char value = bri_percent_to_value(act.percent, bri_mode);
    // A later act (the PC's level, shown or stored, the table's next slot)
    // decides what the screen shows; a later stored record what is stored.
    // Shown, the percent is the level in force: an FPGA the send did not
    // reach is brought up again showing it, or is sent it again once both
    // answer. So it is stored whatever the send gave: a record left at the
    // level before would be what a restart shows.
    if (acts->shows(act.seq)) {
        bri_show(value, kBriRegisterScale, act.seq);
        bri_send(value);
    }
    if (acts->settle_if_replaced(act.seq))
        return 1;
    return bri_store_percent(value, act.seq, act.percent) ? 1 : 0;
}

bool fpga_manage::bri_store_percent(unsigned char value, uint64_t act, unsigned percent, bool atStart)
{
    // The mark goes on the medium before the record's erase: a cut from
    // here on ends at the mark's percent, the act's.
    BrightnessActs::pInstance()->mark_percent_storing(static_cast<int>(percent));
    unsigned char record[kBrightRecordSize];
    buildManualRecord(value, record);
    return bri_store_record(record, kBrightRecordSize, act, atStart);
}

fpga_manage::FlashStore fpga_manage::bright_store(const unsigned char* record, unsigned length, uint64_t act,
                                                  bool atStart)
{
    FlashStore due;
    due.sector = kBrightSector;
    due.address = kBrightRecord;
    due.record.assign(record, record + length);
    due.brightness = true;
    due.act = act;
    due.at_start = atStart;
    return due;
}

bool fpga_manage::bri_store_record(const unsigned char* record, unsigned length, uint64_t act, bool atStart)
{
    return ask_flash_store(bright_store(record, length, act, atStart));
}

bool fpga_manage::bri_store_owed_at_stop()
{
    // The FPGA thread may be in a flash store of its own (a busy flash
    // gives up within 4 s): the stop waits for it that long at most.
    std::unique_lock<std::mutex> flash(fpga_flash_mutex, std::defer_lock);
    if (!waitUntil(kStopRecordWaitUs, 1000, [&] { return flash.try_lock(); }))
        return false;
    {
        FpgaMutexHold records(fpga_record_mutex);
        std::vector<unsigned char> owed;
        uint64_t owedAct = 0;
        if (BrightnessActs::pInstance()->owed_record_due(owed, owedAct, true))
            flash_stores_due.push_back(bright_store(owed.data(), static_cast<unsigned>(owed.size()), owedAct, false));
    }
    return run_flash_stores(true);
}

void fpga_manage::bri_take_percent_acts()
{
    // An act on the percent may leave the word as it was (a level only
    // shown wrote that percent back): the change pass then raises no
    // change; the act is taken all the same, once both FPGAs are up.
    if (BrightnessActs::pInstance()->percent_act_waiting())
        set_fpga_bri_val();
}

void fpga_manage::bri_pc_level(unsigned char level)
{
    // The PC's write of register image byte 64: the level shown at once,
    // not stored, as the command page's manual level without store, in
    // the stored mode's scale.
    RecordHold records(*this);
    bri_level = level;
    bri_show(level, -1, BrightnessActs::pInstance()->card_act(BrightnessActs::CardAct::kRegisterLevel));
    Brightness_hand_dealwith(BriSource::kLevelInForce);
}

int fpga_manage::bri_resend_level()
{
    unsigned char value = 0;
    if (!bri_value_in_force(value))
        return -1;
    // The percent says the level in force whether or not a port shows it
    // (a level the PC stores with no port linked is the percent at the
    // next start too); with no port linked it is shown once one links.
    bri_write_back_percent(value);
    return bri_send(value) ? 1 : 0;
}

bool fpga_manage::bri_value_in_force(unsigned char& value)
{
    if (bri_mode == 2 && bri_in_force == 0 && !bri_settle_unread_sensor_level())
        return false;
    const int scale = bri_scale_mode >= 0 ? bri_scale_mode : bri_mode;
    value = bri_level_to_value(bri_in_force, static_cast<unsigned char>(scale));
    return true;
}

bool fpga_manage::bri_settle_unread_sensor_level()
{
    // Automatic mode before the sensor gave a level, with no level shown
    // since power-up (0 is no 4-bit level): the screen shows the stored
    // percent rather than level 0 taken as 0 x 16 - 1 = 0xFF (full
    // brightness, which would be written back over the user's percent). A
    // percent that a 4-bit level shown before wrote back is that level
    // again (the sensor's scale); any other is its register value.
    ZdrRamPara* store = ZdrRamPara::p_zdrrampara_config;
    unsigned percent = 0;
    if (!store || !withBlockTried([&] { percent = store->block_word(para::kBrightness); }))
        return false;
    unsigned level = 0;
    for (unsigned l = 1; l <= 16 && level == 0; ++l)
        if (bri_value_to_percent(bri_level_to_value(l, 2)) == percent)
            level = l;
    if (level != 0) {
        bri_show(static_cast<unsigned char>(level), -1, BrightnessActs::pInstance()->level_act());
        bri_level = level;
    } else {
        bri_show(bri_percent_to_value(percent, kBriRegisterScale), kBriRegisterScale,
                 BrightnessActs::pInstance()->level_act());
    }
    return true;
}

void fpga_manage::bri_write_back_percent(unsigned char value, int percent)
{
    // The percent the screen now shows is written back as the system's own
    // state, so that no change pass takes it for a user's brightness change
    // (which would store a manual record). A percent that gives this very
    // value (the user's own, e.g. 50 for 127) already says what the screen
    // shows and stays. A busy block leaves the percent for the next send.
    ZdrRamPara* store = ZdrRamPara::p_zdrrampara_config;
    if (!store)
        return;
    const unsigned shown = percent >= 0 && percentSays(static_cast<unsigned>(percent), value)
                               ? static_cast<unsigned>(percent)
                               : bri_value_to_percent(value);
    bool stored = false;
    withBlockTried([&] {
        if (!percentSays(store->block_word(para::kBrightness), value))
            stored = c331_manage::write_back_word(SystemWord::kBrightness, static_cast<uint16_t>(shown));
    });
    if (stored)
        store->test_signal(1);
}

bool fpga_manage::bri_send(unsigned char value)
{
    if (port_link_image() == 0) {
        bri_unshown = 1;
        return true;
    }
    MCU_RAM_PARA_func[0][256] = 1;
    for (unsigned char i = 0; i < 2; ++i)
        bri_write_register(value, i);
    // Both are read back, whatever the first gives: each FPGA that does not
    // answer is found silent, and brought up again with the level in force.
    // One that answers with another value lost the write (it was silent
    // for a moment): the level is sent again.
    bool shown = true;
    for (unsigned char i = 0; i < 2; ++i) {
        unsigned char back = 0;
        shown = read_fpga_register(6, &back, i) && back == value && shown;
    }
    bri_unshown = shown ? 0 : 1;
    if (!shown)
        bri_retry_time = G_timeTicks;
    return shown;
}

void fpga_manage::bri_write_register(unsigned char value, unsigned char fpga)
{
    write_to_register(6, 0xFF, value, fpga);
    write_to_register(3, 0x04, 0x04, fpga);
}

bool fpga_manage::bri_set_fpga_level(unsigned char fpga)
{
    unsigned char value = 0;
    if (!bri_value_in_force(value))
        return false;
    bri_write_register(value, fpga);
    return true;
}

bool fpga_manage::store_bright_record(const unsigned char* record, unsigned length)
{
    if (!store_flash_record(kBrightSector, kBrightRecord, record, length)) {
        if (!bri_record_failed)
            writeLogMsg(ERROR, "brightness: the record could not be stored");
        bri_record_failed = 1;
        return false;
    }
    bri_record_failed = 0;
    return true;
}

void fpga_manage::store_pc_bright_percent()
{
    // The percent was written back as the level was shown; a block busy at
    // that moment is tried once more. Should it still not say the level,
    // the record is stored all the same (the next start stores the
    // percent's level over it).
    unsigned char value = 0;
    ZdrRamPara* store = ZdrRamPara::p_zdrrampara_config;
    if (store && bri_value_in_force(value)) {
        if (!percentSays(store->block_word(para::kBrightness), value))
            bri_write_back_percent(value);
        if (!percentSays(store->block_word(para::kBrightness), value))
            writeLogMsg(WARNING, "brightness: the PC's level is stored before its percent");
        else if (!store->persist_block(0))
            writeLogMsg(ERROR, "brightness: the percent of the PC's level could not be stored");
    }
}

void fpga_manage::Brightness_hand_change()
{
    if (bri_change_mark) {
        bri_change_mark = 0;
        bri_resend = 0;
    } else if (bri_resend > 4) {
        return;
    }
    const int done = Brightness_hand_dealwith(BriSource::kLevelInForce);
    ++bri_resend;
    if (done == 0 && bri_resend >= 5)
        bri_resend = 0;
}

void fpga_manage::Brightness_time_change()
{
    const unsigned minutes = time_real.minute + 60u * time_real.hour;
    unsigned slot = minutes / 30;
    if (minutes >= 1440)
        slot = 47;   // a bad clock reading keeps to the last slot
    if (slot == bri_table.last_slot && !bri_change_mark) {
        if (bri_resend <= 1) {
            Brightness_hand_dealwith(BriSource::kLevelInForce);
            ++bri_resend;
        }
        return;
    }
    bri_show(bri_table.HalfHourValue[slot], -1, BrightnessActs::pInstance()->card_act(BrightnessActs::CardAct::kTableSlot));
    Brightness_hand_dealwith(BriSource::kLevelInForce);
    bri_table.last_slot = static_cast<unsigned char>(slot);
    bri_resend = 0;
    bri_change_mark = 0;
    Brightness_hand_dealwith(BriSource::kLevelInForce);
    bri_resend = 1;
}

void fpga_manage::Brightness_check_VMF()
{
    const unsigned char* const pages[2] = {MCU_RAM_PARA_func[0], MCU_RAM_PARA_func[1]};
    bri_sensor.find(pages, kCardStatusOffset);
}

int fpga_manage::Brightness_read_VMF_value()
{
    if (bri_sensor.addr() == 0)
        return 0;
    unsigned char frame[19];
    build_sensor_read_frame(bri_sensor.addr(), frame);
    bri_sensor.read_starts();
    // The answer is told by the buffer's fill count: the flag is the PC's.
    unsigned int filled = card_result_fills.load();
    Send_to_port(frame, sizeof(frame), bri_sensor.port(), bri_sensor.fpga());
    // The card's answer is polled here, inside the pass, back to back for
    // 35 ticks and some (400 ms), measured on the board's clock: the tick
    // thread counts that same clock, 10 ms a tick.
    const bool answered = waitUntil(400000, 0, [&] {
        reg_IRQ_Dealwith(0, 0);
        reg_IRQ_Dealwith(1, 0);
        if (card_result_fills.load() != filled) {
            // Status, mark (the answer's opcode) and the data after the
            // echoed address and count.
            unsigned char reply[2 + BrightnessSensor::kDataBytes];
            {
                QMutexLocker lock(&card_result_mutex);
                filled = card_result_fills.load();
                reply[0] = card_result_status;
                reply[1] = card_result[0];
                std::memcpy(reply + 2, card_result + 9, BrightnessSensor::kDataBytes);
            }
            VMF_data_back_result(reply, sizeof(reply));
        }
        return bri_sensor.answered();
    });
    if (answered)
        return 1;
    bri_sensor.read_failed();
    return 0;
}

void fpga_manage::VMF_data_back_result(const unsigned char* reply, unsigned int length)
{
    if (bri_sensor.take(reply, length))
        return;
    set_reg_image(0, 85, static_cast<unsigned char>(reg_image(0, 85) + 1));
}

void fpga_manage::Brightness_auto_filter()
{
    if (bri_sensor.reading_fresh()) {
        const unsigned char* data = bri_sensor.data();
        if (data[49] == 0xFF) {
            const unsigned target = data[52];
            if (bri_level < target)
                ++bri_level;
            else if (bri_level > target)
                --bri_level;
            if (bri_level < 1)
                bri_level = 1;
            if (bri_level > 16)
                bri_level = 16;
            bri_show(static_cast<unsigned char>(bri_level), -1, BrightnessActs::pInstance()->card_act(BrightnessActs::CardAct::kSensor));
        }
        bri_sensor.reading_used();
    }
    if (bri_sensor.failures() == 10) {
        bri_level = 16;
        bri_show(16, -1, BrightnessActs::pInstance()->card_act(BrightnessActs::CardAct::kSensor));
        bri_sensor.count_again();
    }
}

void fpga_manage::Brightness_auto_change()
{
    Brightness_check_VMF();
    Brightness_read_VMF_value();
    Brightness_auto_filter();
    Brightness_hand_dealwith(BriSource::kLevelInForce);
}

// ---- the multi-function card's outputs (stop and start) ---------------------

void fpga_manage::Send_write_VMF_reg_cmd(unsigned char option, unsigned char channel)
{
    if (bri_sensor.addr() == 0 || channel < 1 || channel > 8)
        return;
    // Eight power channels of two bits: channels 1..4 in register 2, 5..8
    // in register 3; 1 on, 3 off.
    const unsigned char reg = channel <= 4 ? 2 : 3;
    const unsigned shift = 2u * ((channel - 1u) % 4u);
    unsigned char& bits = vmf_power_bits[reg - 2];
    bits = static_cast<unsigned char>((bits & ~(3u << shift)) | ((option ? 3u : 1u) << shift));
    const unsigned short addr = bri_sensor.addr();
    unsigned char frame[14] = {static_cast<unsigned char>(addr), static_cast<unsigned char>(addr >> 8),
                               0x00, 0xF0, 0x10, kKindVmf, 0x03, 0x00, 0x00, 0xA0, reg, 0x00, bits, 0x00};
    frame[13] = Utils::BCC(frame, 13);
    vmf_write_fills = card_result_fills.load();
    Send_to_port(frame, sizeof(frame), bri_sensor.port(), bri_sensor.fpga());
}

int fpga_manage::wait_VMF_result()
{
    // As the sensor read: polled inside the pass, 400 ms on the board's
    // clock at most.
    return waitUntil(400000, 0, [&] {
               reg_IRQ_Dealwith(0, 0);
               reg_IRQ_Dealwith(1, 0);
               return card_result_fills.load() != vmf_write_fills;
           })
               ? 1
               : 0;
}

namespace {

// One step of the stop or start sequence of the multi-function cards.
void ethDataStep(fpga_manage& m, unsigned char option)
{
    if (m.sensor().addr() == 0 || Utils::getTimeSpace(m.eth_data_time) < 51)
        return;
    m.eth_data_time = G_timeTicks.load();
    m.Send_write_VMF_reg_cmd(option, m.eth_data_step);
    m.wait_VMF_result();
    if (++m.eth_data_step > 8) {
        m.eth_data_step = 1;
        m.eth_data_stopped = option;
    }
}

} // namespace

void fpga_manage::eth_data_send_stop()
{
    ethDataStep(*this, 1);
}

void fpga_manage::eth_data_send_start()
{
    ethDataStep(*this, 0);
}
