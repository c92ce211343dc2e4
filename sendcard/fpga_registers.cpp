// The emulated sending-card registers and RAM pages: the images the PC reads
// and writes, kept in step with the FPGAs, and the command page's run (the
// page itself is sendcard/command_page.h's).
#include "sendcard/fpga_manage.h"

#include "core/brightness_acts.h"
#include "core/le_bytes.h"
#include "core/logMsg.h"
#include "core/zdrrampara.h"

#include <algorithm>
#include <cstring>
#include <vector>

// The built-in parameter page: a 1280 x 1024 screen and an input
// measurement of 1366 x 768, period 833753; all other bytes 0.
const unsigned char fpga_manage::RAM1[256] = {
    0x00, 0x05, 0x00, 0x04, 0x76, 0x05, 0xD2, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x05, 0x00, 0x02,  // 0
    0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x05, 0x00, 0x02, 0x00, 0x00, 0x00, 0x02, 0x00,  // 16
    0x00, 0x00, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,  // 32
    0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x05, 0x00, 0x04,  // 48
    0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,  // 64
    0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,  // 80
    0x05, 0x00, 0x00, 0x00, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,  // 96
    0x00, 0x00, 0x00, 0x00, 0x56, 0x05, 0x00, 0x03, 0xD9, 0xB8, 0x0C, 0x00, 0x00, 0x00, 0x00, 0x00,  // 112
};

namespace {

inline unsigned char index(unsigned char fpga)
{
    return fpga == 0 ? 0 : 1;
}

unsigned char masked(unsigned char old, unsigned char mask, unsigned char value)
{
    return static_cast<unsigned char>((old & ~mask) | (value & mask));
}

} // namespace

bool fpga_manage::read_from_register(unsigned int reg, unsigned char fpga)
{
    if (reg >= kRegisterCount || (reg >= 64 && reg <= 127))
        return true;
    unsigned char value = 0;
    if (!read_fpga_register(reg, &value, fpga))
        return false;   // the image keeps what it had
    FpgaMutexHold hold(fpga_reg_mutex);
    MCU_REG_func[index(fpga)][reg] = value;
    return true;
}

bool fpga_manage::write_to_register(unsigned int reg, unsigned char mask, unsigned char value, unsigned char fpga)
{
    if (reg >= kRegisterCount || (reg >= 97 && reg <= 127))
        return true;
    unsigned char* image = MCU_REG_func[index(fpga)];
    if (reg >= 64 && reg <= 96) {
        unsigned char now;
        {
            FpgaMutexHold hold(fpga_reg_mutex);
            now = masked(image[reg], mask, value);
            if (reg != kImageBrightLevel)
                image[reg] = now;
        }
        // Byte 64 is the level: written, it is shown on both FPGAs.
        if (reg == kImageBrightLevel)
            bri_pc_level(now);
        return true;
    }
    // Bits 1 and 2 of register 2 are the PC's strobes: kept in the image,
    // not sent.
    const unsigned char strobes = reg == 2 ? 0x06 : 0x00;
    unsigned char now = 0;
    const bool answered = read_fpga_register(reg, &now, fpga) != 0;
    if (!answered && !(mask & strobes))
        return false;
    unsigned char out;
    {
        FpgaMutexHold hold(fpga_reg_mutex);
        if (answered)
            image[reg] = now;
        image[reg] = masked(image[reg], answered ? mask : static_cast<unsigned char>(mask & strobes), value);
        out = image[reg];
    }
    if (strobes) {
        if (out & 0x04) {
            out &= ~0x04;
            Dealwith_mcu_ram();
        }
        out &= ~0x02;
    }
    if (!answered)
        return false;
    if (reg == kRegScreen) {
        FpgaMutexHold hold(fpga_reg_mutex);
        screen_state_from_images();
    }
    return write_fpga_register(reg, out, fpga, mask) != 0;
}

unsigned fpga_manage::cmd_record_size(const unsigned char* page)
{
    const unsigned length = le16(page, 6);
    // The record is page bytes 0..n+7 and must lie inside the page.
    if (length + 8 > kCmdPageSize) {
        writeLogMsg(WARNING, "FPGA command page: record length " + std::to_string(length) +
                                 " does not fit the page, not stored");
        return 0;
    }
    return length + 8;
}

bool fpga_manage::store_flash_record(uint32_t sector, uint32_t address, const unsigned char* record,
                                     unsigned length)
{
    // Built at byte 4 of the buffer, as the flash write takes it.
    std::vector<unsigned char> buffer(4 + length);
    if (length)
        std::memcpy(buffer.data() + 4, record, length);
    fpga_flash_access();
    return drv->FPGA_SPI_FLASH_VBYONE_ERASE(2, sector, 0, 1) &&
           (length == 0 || drv->FPGA_SPI_FLASH_VBYONE_WRITE(2, address, buffer.data(), length));
}

int fpga_manage::store_cmd_record(const unsigned char* page, uint32_t sector, uint32_t address)
{
    const unsigned size = cmd_record_size(page);
    if (size == 0)
        return 0;
    FlashStore due;
    due.sector = sector;
    due.address = address;
    due.record.assign(page, page + size);
    ask_flash_store(std::move(due));
    return 1;
}

bool fpga_manage::ask_flash_store(FlashStore&& store)
{
    if (record_holder.load() == std::this_thread::get_id()) {
        flash_stores_due.push_back(std::move(store));
        return true;
    }
    {
        FpgaMutexHold records(fpga_record_mutex);
        flash_stores_due.push_back(std::move(store));
    }
    return run_flash_stores();
}

size_t fpga_manage::flash_stores_waiting()
{
    FpgaMutexHold records(fpga_record_mutex);
    return flash_stores_due.size();
}

RecordHold::RecordHold(fpga_manage& m) : m_(m)
{
    lock_check::short_lock_is_leaf("an FPGA mutex");
    pthread_mutex_lock(&m_.fpga_record_mutex);
    m_.record_holder = std::this_thread::get_id();
}

RecordHold::~RecordHold()
{
    const bool due = !m_.flash_stores_due.empty();
    m_.record_holder = std::thread::id();
    pthread_mutex_unlock(&m_.fpga_record_mutex);
    if (due)
        m_.run_flash_stores();
}

bool fpga_manage::run_flash_stores(bool held)
{
    // The stores run in the order their holds asked for them: a later
    // hold's records are taken by a later run, which waits for this one.
    std::unique_lock<std::mutex> flash(fpga_flash_mutex, std::defer_lock);
    if (!held)
        flash.lock();
    std::vector<FlashStore> due;
    {
        FpgaMutexHold records(fpga_record_mutex);
        due.swap(flash_stores_due);
    }
    BrightnessActs* acts = BrightnessActs::pInstance();
    bool all = true;
    for (const FlashStore& s : due) {
        const unsigned length = static_cast<unsigned>(s.record.size());
        if (!s.brightness) {
            if (!store_flash_record(s.sector, s.address, s.record.data(), length)) {
                writeLogMsg(ERROR, "FPGA command page: the flash record could not be stored");
                all = false;
            }
            continue;
        }
        {
            // A later act's record taken meanwhile stands: this one counts
            // as stored.
            FpgaMutexHold records(fpga_record_mutex);
            if (acts->settle_if_replaced(s.act))
                continue;
            acts->stamp_record_try();
        }
        const bool ok = store_bright_record(s.record.data(), length);
        FpgaMutexHold records(fpga_record_mutex);
        if (ok) {
            acts->record_taken(s.act);
        } else {
            acts->record_refused(s.record.data(), length, s.act);
            if (s.at_start)
                acts->start_store_refused();
            all = false;
        }
    }
    return all;
}

void fpga_manage::Dealwith_mcu_ram()
{
    // The command page runs in the PC's link thread; the FPGA thread's
    // brightness and schedule work waits while it decides. It runs from
    // the page as it stands at the strobe, taken whole: a PC's write after
    // it changes nothing of this run. The records it stores go to the flash
    // once the record hold is given back, after those asked before them:
    // the later strobe's record is the one that stands.
    RecordHold records(*this);
    const CommandPage::Bytes copy = command_page.take();
    const unsigned char* page = copy.data();
    if (page[0] != 0xAA)
        return;
    const unsigned char type = page[1];
    const unsigned char store = page[2];
    if (type == 2) {
        OnOff_time(page);
        if (store == 0xAA) {
            store_cmd_record(page, kOnOffSector, kOnOffRecord);
            set_reg_image(0, 66, 1);
        } else if (store == 0x55) {
            FlashStore erase;
            erase.sector = kOnOffSector;
            erase.address = kOnOffRecord;
            ask_flash_store(std::move(erase));
            set_reg_image(0, 66, 0);
        }
    } else if (type == 3) {
        // Each command is an act of its own time: what it sets is in force
        // at once, in the order the PC sent them (a later level shown is
        // not undone by the stored one before it). What the PC stored is
        // in force even when the flash did not take it, and stored once
        // the flash takes it, unless a later record was. A record that
        // does not fit the page is shown and not stored.
        const uint64_t act = BrightnessActs::pInstance()->card_act(BrightnessActs::CardAct::kCommandPage);
        const unsigned char mode = page[8] & static_cast<unsigned char>(~0x10);
        const unsigned size = store == 0xAA ? cmd_record_size(page) : 0;
        if (mode != 0) {
            if (store == 0xAA) {
                if (size)
                    bri_store_record(page, size, act);
                bri_apply_record(page, act);
            } else if (store == 0x55) {
                bri_store_record(nullptr, 0, act);
                unsigned char erased[57];
                std::memset(erased, 0xFF, sizeof(erased));
                bri_apply_record(erased, act);
            }
            bri_sensor.count_again();
        } else {
            // A manual level: shown at once, and re-sent, in the page's own
            // scale (4-bit or 8-bit levels) until the stored mode sets a
            // level again. Shown only, the stored mode stays as it is, so a
            // half-hour table resumes at its next slot after a preview;
            // stored, it is the manual mode from now on.
            bri_level = page[9];
            bri_show(page[9], page[8], act);
            Brightness_hand_dealwith(BriSource::kLevelInForce);
            if (size) {
                store_pc_bright_percent();
                bri_store_record(page, size, act);
                bri_apply_record(page, act);
            }
        }
    } else if (type == 1) {
        Checktime(page);
    }
}

void fpga_manage::FPGA_to_RAM(unsigned char fpga)
{
    // Kept apart from what the PCs wrote: a page posted before this
    // bring-up runs as it was written.
    unsigned char version[CommandPage::kVersionSize];
    for (unsigned k = 0; k < CommandPage::kVersionSize; ++k) {
        read_from_register(28 + k, fpga);
        version[k] = reg_image(index(fpga), 28 + k);
    }
    command_page.fpga_version(version);
}

void fpga_manage::Version_to_RAM()
{
    const unsigned char version[4] = {1, 17, 0, 0};
    command_page.start_bytes(24, version, sizeof(version));
}

void fpga_manage::PHY_status_to_RAM()
{
    const unsigned char state[4] = {0, 0, 0, 0};
    command_page.start_bytes(30, state, sizeof(state));
}

void fpga_manage::change_page_image(unsigned char i, unsigned offset, unsigned count, bool always,
                                    const std::function<void(unsigned char* page)>& change)
{
    if (offset > kParaPageSize || count > kParaPageSize - offset)
        return;
    unsigned char copy[kParaPageSize];
    {
        FpgaMutexHold hold(fpga_reg_mutex);
        unsigned char* page = MCU_RAM_PARA_func[i];
        std::memcpy(copy, page + offset, count);
        change(page);
        if (!always && std::memcmp(copy, page + offset, count) == 0)
            return;
        std::memcpy(copy, page + offset, count);
    }
    write_fpga_ram(copy, offset, static_cast<int>(count), 1, i);
}

void fpga_manage::update_eth_state(unsigned char fpga)
{
    const unsigned char i = index(fpga);
    read_from_register(128, i);
    read_from_register(144, i);
    const unsigned char r128 = reg_image(i, 128);
    const unsigned char r144 = reg_image(i, 144);

    // Port link bits: ports 0, 1 in byte 96 bits 0-1, ports 2, 3 in bits
    // 3-4; ports 4-7 in byte 512's low nibble; ports 8-15 in byte 513.
    change_page_image(i, 96, 1, false, [&](unsigned char* page) {
        page[96] = static_cast<unsigned char>((r128 & 0x03) | ((r128 & 0x0C) << 1) | (page[96] & 0xE4));
    });
    change_page_image(i, 512, 1, false,
                      [&](unsigned char* page) { page[512] = static_cast<unsigned char>((page[512] & 0xF0) | (r128 >> 4)); });
    change_page_image(i, 513, 1, false, [&](unsigned char* page) { page[513] = r144; });
    // A port without its link has no cards.
    const unsigned links = r128 | (r144 << 8);
    for (int p = 0; p < 16; ++p) {
        if (links & (1u << p))
            continue;
        change_page_image(i, kCardCountOffset[p], 2, true,
                          [&](unsigned char* page) { setLe16(page, kCardCountOffset[p], 0); });
        change_page_image(i, kCardStatusOffset[p], 1, true, [&](unsigned char* page) { page[kCardStatusOffset[p]] = 0; });
    }
}

int fpga_manage::check_fpga_ram_param(unsigned char fpga)
{
    const unsigned char i = index(fpga);
    const unsigned char* page = MCU_RAM_PARA_func[i];
    auto same = [this, page, i](unsigned off) {
        unsigned char back[2];
        return read_fpga_ram(back, off, 2, 1, i) && back[0] == page[off] && back[1] == page[off + 1];
    };
    for (unsigned char p = 0; p < 16; ++p) {
        unsigned short x, y, w, h;
        get_eth_param_addr(p, &x, &y, &w, &h);
        if (!same(x) || !same(y) || !same(w) || !same(h))
            return 0;
    }
    for (unsigned p = 0; p < 16; ++p) {
        if (!same(296 + 4 * p) || !same(298 + 4 * p))
            return 0;
    }
    return 1;
}

void fpga_manage::eth_param_init(unsigned char reset, unsigned char fpga)
{
    if (reset != 1)
        return;
    unsigned char* page = MCU_RAM_PARA_func[index(fpga)];
    for (unsigned char p = 0; p < 16; ++p) {
        unsigned short x, y, w, h;
        get_eth_param_addr(p, &x, &y, &w, &h);
        setLe16(page, x, 0);
        setLe16(page, y, 0);
        setLe16(page, w, 1280);
        setLe16(page, h, 512);
    }
}

int fpga_manage::get_eth_param_addr(unsigned char port, unsigned short* x, unsigned short* y, unsigned short* w,
                                    unsigned short* h)
{
    static const unsigned short kFirst[4] = {8, 19, 32, 43};
    unsigned short a;
    if (port >= 1 && port <= 3)
        a = kFirst[port];
    else if (port >= 4 && port <= 7)
        a = static_cast<unsigned short>(520 + 8 * (port - 4));
    else if (port >= 8 && port <= 15)
        a = static_cast<unsigned short>(576 + 8 * (port - 8));
    else
        a = kFirst[0];
    if (x)
        *x = a;
    if (y)
        *y = static_cast<unsigned short>(a + 2);
    if (w)
        *w = static_cast<unsigned short>(a + 4);
    if (h)
        *h = static_cast<unsigned short>(a + 6);
    return 0;
}

void fpga_manage::get_eth_min_x_y(unsigned char fpga, unsigned short* x, unsigned short* y)
{
    const unsigned char* page = MCU_RAM_PARA_func[index(fpga)];
    unsigned short minX = 0xFFFF, minY = 0xFFFF;
    for (unsigned char p = 0; p < 16; ++p) {
        unsigned short ax, ay;
        get_eth_param_addr(p, &ax, &ay, nullptr, nullptr);
        minX = std::min<unsigned short>(minX, le16(page, ax));
        minY = std::min<unsigned short>(minY, le16(page, ay));
    }
    if (x)
        *x = minX;
    if (y)
        *y = minY;
}

void fpga_manage::get_eth_max_border(unsigned char fpga, unsigned short* right, unsigned short* bottom)
{
    const unsigned char* page = MCU_RAM_PARA_func[index(fpga)];
    unsigned maxR = 0, maxB = 0;
    for (unsigned char p = 0; p < 16; ++p) {
        unsigned short ax, ay, aw, ah;
        get_eth_param_addr(p, &ax, &ay, &aw, &ah);
        maxR = std::max<unsigned>(maxR, unsigned(le16(page, ax)) + le16(page, aw));
        maxB = std::max<unsigned>(maxB, unsigned(le16(page, ay)) + le16(page, ah));
    }
    if (right)
        *right = static_cast<unsigned short>(std::min(maxR, 0xFFFFu));
    if (bottom)
        *bottom = static_cast<unsigned short>(std::min(maxB, 0xFFFFu));
}

void fpga_manage::get_eth_lcd_x_y(unsigned char fpga, unsigned short* x, unsigned short* y)
{
    const unsigned char* page = MCU_RAM_PARA_func[index(fpga)];
    if (x)
        *x = le16(page, 56);
    if (y)
        *y = le16(page, 58);
}

void fpga_manage::get_eth_lcd_w_h(unsigned char fpga, unsigned short* w, unsigned short* h)
{
    const unsigned char* page = MCU_RAM_PARA_func[index(fpga)];
    if (w)
        *w = le16(page, 60);
    if (h)
        *h = le16(page, 62);
}
