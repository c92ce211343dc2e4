#include "sendcard/clock_record_run.h"

#include "core/global.h"
#include "core/le_bytes.h"
#include "core/logMsg.h"
#include "core/utils.h"
#include "sendcard/fpga_manage.h"

#include <cstring>
#include <vector>

ClockRecordState g_clock_record;

namespace {

constexpr unsigned char kMagicBytes[3] = {0xAA, 0x5A, 0xA5};
constexpr unsigned char kInUse = 0xAA;
constexpr unsigned char kClockSet = 0x5A;
constexpr unsigned char kProgressValues[4] = {0xFD, 0xF5, 0xD5, 0x55};
constexpr uint32_t kSectorSize = 0x1000;
constexpr uint32_t kIndexMask = 0xFFFFF;

unsigned char toBcd(unsigned v)
{
    return static_cast<unsigned char>(((v / 10) % 10) << 4 | (v % 10));
}

} // namespace

void clock_record_run::failed(const char* what)
{
    writeLogMsg(ERROR, std::string("running-time record: flash ") + what + " failed");
}

// Whether [address, address + length) of the record lies in the flash (no
// 32-bit wrap); the device must be there too.
bool clock_record_run::reachable(uint64_t first, uint64_t count, uint64_t limit, const char* what)
{
    if (owner_ && owner_->drv && first + count <= limit)
        return true;
    failed(what);
    return false;
}

bool clock_record_run::done(int result, const char* what)
{
    if (!result)
        failed(what);
    return result != 0;
}

bool clock_record_run::ExFlash_RD(unsigned char, uint32_t address, uint32_t length, unsigned char* buffer)
{
    if (!reachable(uint64_t(address) + kFlashOffset, length, fpga_drv::kFlashSize, "read"))
        return false;
    owner_->fpga_flash_access();
    return done(owner_->drv->FPGA_SPI_FLASH_VBYONE_READ(2, address + kFlashOffset, length, buffer), "read");
}

bool clock_record_run::ExFlash_WR(unsigned char, uint32_t address, const unsigned char* buffer, uint32_t length)
{
    if (!reachable(uint64_t(address) + kFlashOffset, length, fpga_drv::kFlashSize, "write"))
        return false;
    // The page-program header goes into the 4 bytes ahead of the data.
    std::vector<unsigned char> room(length + 4);
    std::memcpy(room.data() + 4, buffer, length);
    owner_->fpga_flash_access();
    return done(owner_->drv->FPGA_SPI_FLASH_VBYONE_WRITE(2, address + kFlashOffset, room.data(), length), "write");
}

bool clock_record_run::ExFlash_Erase_Format(unsigned char, uint32_t sector, unsigned char mode, uint32_t count)
{
    if (!reachable(uint64_t(sector) + kSectorOffset, count, fpga_drv::kSectorCount, "erase"))
        return false;
    owner_->fpga_flash_access();
    return done(owner_->drv->FPGA_SPI_FLASH_VBYONE_ERASE(2, sector + kSectorOffset, mode, count), "erase");
}

bool clock_record_run::write_byte(uint32_t address, unsigned char value)
{
    return ExFlash_WR(2, address, &value, 1);
}

uint32_t clock_record_run::progress_minutes(const unsigned char* bytes, uint32_t count)
{
    uint32_t full = 0;
    while (full < count && bytes[full] == 0x55)
        ++full;
    uint32_t minutes = 8 * full;
    if (full < count) {
        switch (bytes[full]) {
        case 0xFD: minutes += 2; break;
        case 0xF5: minutes += 4; break;
        case 0xD5: minutes += 6; break;
        default: break;
        }
    }
    return minutes;
}

void clock_record_run::now_bcd(unsigned char out[7])
{
    fpga_manage::TimeRealType t;
    fpga_manage::IT8563WE_Get(&t);
    out[0] = toBcd(t.year % 100);
    out[1] = toBcd(t.year / 100);
    out[2] = toBcd(t.month);
    out[3] = toBcd(t.day);
    out[4] = toBcd(t.hour);
    out[5] = toBcd(t.minute);
    out[6] = toBcd(t.second);
}

bool clock_record_run::copy_sec_data(uint32_t from, uint32_t to)
{
    std::vector<unsigned char> sector(kSectorSize);
    if (!ExFlash_RD(2, from, kSectorSize, sector.data()) || !ExFlash_Erase_Format(2, to / kSectorSize, 0, 1))
        return false;
    for (uint32_t off = 256; off < kSectorSize; off += 256) {
        if (!ExFlash_WR(2, to + off, sector.data() + off, 256))
            return false;
    }
    // The in-use marker of group 0 is the last byte written.
    return ExFlash_WR(2, to + 1, sector.data() + 1, 255) && write_byte(to, sector[0]);
}

unsigned char clock_record_run::check_record_sec()
{
    for (unsigned char g = 0; g < kGroupCount; ++g) {
        unsigned char mirror = 0, main[2] = {0, 0};
        if (!ExFlash_RD(2, kMirrors + kGroupSize * g, 1, &mirror))
            return 0xFF;
        if (mirror == kInUse)
            continue;
        if (!ExFlash_RD(2, kGroups + kGroupSize * g, 2, main))
            return 0xFF;
        // The main copy is complete (its marker is written last): the
        // mirror is restored from it and the group stays in use, so that it
        // is never opened again over bytes already programmed.
        if (main[0] == kInUse) {
            if (!copy_sec_data(kGroups, kMirrors))
                return 0xFF;
            continue;
        }
        if (main[1] == 0xFF)
            return g;
        return copy_sec_data(kMirrors, kGroups) ? g : 0xFF;
    }
    // Every mirror group is in use. The ring's wrap (and a clock set just
    // before it) starts the main sector over before the mirror's, so a power
    // cut in between leaves the main sector with at most the new group 0:
    // that group carries the record on when it was opened; else the old
    // ring, whole in the mirror, is the record.
    unsigned char last = 0, first = 0;
    if (!ExFlash_RD(2, kGroups + kGroupSize * (kGroupCount - 1), 1, &last) || !ExFlash_RD(2, kGroups, 1, &first))
        return 0xFF;
    if (last == kInUse)
        return kGroupCount;
    if (first == kInUse)
        return copy_sec_data(kGroups, kMirrors) ? 1 : 0xFF;
    return copy_sec_data(kMirrors, kGroups) ? kGroupCount : 0xFF;
}

uint32_t clock_record_run::get_new_seq(uint32_t minutes, uint32_t position)
{
    ClockRecordState& s = g_clock_record;
    const uint32_t index = position & kIndexMask;
    uint32_t wrap = (position >> 20) & 0x0F;
    uint32_t next;
    if (index > kLastSeqIndex) {
        // A position outside the ring (a damaged record) starts it again.
        writeLogMsg(WARNING, "running-time record: sequence position out of range, ring restarted");
        next = 0;
        wrap = 0;
        ExFlash_Erase_Format(2, kSequence / kSectorSize, 0, 1);
    } else {
        unsigned char m[4];
        setLe32(m, 0, minutes);
        ExFlash_WR(2, seq_entry_addr(index) + 8, m, 4);
        if (index < kLastSeqIndex) {
            next = index + 1;
            if ((next & 0xFF) == 0)
                ExFlash_Erase_Format(2, seq_entry_addr(next) / kSectorSize, 0, 1);
        } else {
            next = 0;
            wrap = (wrap + 1) & 0x0F;
            ExFlash_Erase_Format(2, kSequence / kSectorSize, 0, 1);
        }
    }
    s.seq_sector = static_cast<unsigned char>(next >> 8);
    s.seq_addr = seq_entry_addr(next);
    return (wrap << 20) | next;
}

void clock_record_run::get_last_record_info(unsigned char g)
{
    ClockRecordState& s = g_clock_record;
    unsigned char group[kGroupSize];
    if (!ExFlash_RD(2, kGroups + kGroupSize * (g % kGroupCount), kGroupSize, group)) {
        s.enabled = 0;
        return;
    }
    const uint32_t minutes = progress_minutes(group + kProgressStart, kProgressBytes);
    s.base_minutes = le32(group, 8) + minutes;
    const uint32_t position = group[13] | (group[14] << 8) | (uint32_t(group[15]) << 16);
    s.seq_pos = get_new_seq(minutes, position);
}

bool clock_record_run::new_record_group_init(unsigned char g)
{
    ClockRecordState& s = g_clock_record;
    const bool wrap = g >= kGroupCount;
    if (wrap) {
        g = 0;
        s.group = 0;
        unsigned char head[2];
        if (!ExFlash_RD(2, kGroups, 2, head))
            return false;
        if (!(head[0] == 0xFF && head[1] == 0xFF) && !ExFlash_Erase_Format(2, kGroups / kSectorSize, 0, 1))
            return false;
    }
    s.group_addr = kGroups + kGroupSize * g;
    s.mirror_addr = kMirrors + kGroupSize * g;
    unsigned char head[15];
    std::memcpy(head, s.time, 7);
    setLe32(head, 7, s.base_minutes);
    head[11] = 0xFF;
    head[12] = static_cast<unsigned char>(s.seq_pos);
    head[13] = static_cast<unsigned char>(s.seq_pos >> 8);
    head[14] = static_cast<unsigned char>(s.seq_pos >> 16);
    unsigned char flag = 0xFF;
    if (!ExFlash_WR(2, s.group_addr + 1, head, sizeof(head)) || !ExFlash_RD(2, s.group_addr + 44, 1, &flag) ||
        !write_byte(s.group_addr, kInUse))
        return false;
    s.clock_set = flag;
    if (wrap && !ExFlash_Erase_Format(2, kMirrors / kSectorSize, 0, 1))
        return false;
    return ExFlash_WR(2, s.mirror_addr + 1, head, sizeof(head)) && write_byte(s.mirror_addr + 44, flag) &&
           write_byte(s.mirror_addr, kInUse);
}

void clock_record_run::clock_record_init()
{
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    ClockRecordState& s = g_clock_record;
    s = ClockRecordState();
    unsigned char magic[3] = {0, 0, 0};
    if (!ExFlash_RD(2, kMagic, 3, magic))
        return;   // stays disabled
    if (std::memcmp(magic, kMagicBytes, 3) != 0) {
        if (!ExFlash_Erase_Format(2, kMagic / kSectorSize, 0, 1) || !ExFlash_WR(2, kMagic, kMagicBytes, 3))
            return;
    }
    s.enabled = 1;
    const unsigned char n = check_record_sec();
    if (n == 0xFF) {
        s.enabled = 0;
        return;
    }
    if (n > 0) {
        s.group = n;
        get_last_record_info(static_cast<unsigned char>(n - 1));
    } else {
        if (!ExFlash_Erase_Format(2, kGroups / kSectorSize, 0, 1) ||
            !ExFlash_Erase_Format(2, kMirrors / kSectorSize, 0, 1) ||
            !ExFlash_Erase_Format(2, kSequence / kSectorSize, 0, 1)) {
            s.enabled = 0;
            return;
        }
        s.base_minutes = 0;
        s.seq_pos = 0;
        s.seq_sector = 0;
        s.group = 0;
        s.seq_addr = kSequence;
    }
    now_bcd(s.time);
    s.minutes_since_start = 0;
    s.uptime_minutes = 0;
    s.minute_count = 0;
    s.progress = 0;
    s.first_pending = 1;
    s.minute_stamp = G_timeTicks.load();
}

void clock_record_run::clock_record_deal()
{
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    ClockRecordState& s = g_clock_record;
    if (!s.enabled || Utils::getTimeSpace(s.minute_stamp) <= 6000)
        return;
    s.minute_stamp = G_timeTicks.load();
    ++s.minute_count;
    ++s.minutes_since_start;
    ++s.uptime_minutes;
    if (s.minute_count & 1)
        return;
    if (s.first_pending) {
        if (s.minutes_since_start < 30)
            return;
        unsigned char now[7];
        now_bcd(now);
        static const unsigned char kFirst[4] = {0x55, 0x55, 0x55, 0xD5};
        unsigned char tail[4];
        tail[0] = s.clock_set;
        tail[1] = static_cast<unsigned char>(s.seq_pos);
        tail[2] = static_cast<unsigned char>(s.seq_pos >> 8);
        tail[3] = static_cast<unsigned char>(s.seq_pos >> 16);
        // A failed opening is tried again two minutes later.
        if (!new_record_group_init(s.group) || !ExFlash_WR(2, s.group_addr + 33, now, 7) ||
            !ExFlash_WR(2, s.group_addr + kProgressStart, kFirst, 4) || !write_byte(s.group_addr, kInUse) ||
            !ExFlash_WR(2, s.mirror_addr + 33, now, 7) || !ExFlash_WR(2, s.mirror_addr + kProgressStart, kFirst, 4) ||
            !write_byte(s.mirror_addr, kInUse) || !ExFlash_WR(2, s.seq_addr + 1, s.time, 7) ||
            !ExFlash_WR(2, s.seq_addr + 12, tail, 4) || !write_byte(s.seq_addr, kInUse))
            return;
        s.first_pending = 0;
        s.steps = 14;
        s.progress = 0xD5;
        s.progress_offset = kProgressStart + 3;
    } else {
        s.progress_offset = kProgressStart + s.steps / 4;
        s.progress = kProgressValues[s.steps % 4];
    }
    // A failed progress write is not counted: the step is written again.
    if (!write_byte(s.group_addr + s.progress_offset, s.progress) ||
        !write_byte(s.mirror_addr + s.progress_offset, s.progress))
        return;
    ++s.steps;
    if (s.steps > 1440) {
        unsigned char m[4];
        setLe32(m, 0, kGroupMinutes);
        ExFlash_WR(2, s.seq_addr + 8, m, 4);
        ++s.group;
        now_bcd(s.time);
        s.seq_pos = get_new_seq(kGroupMinutes, s.seq_pos);
        s.base_minutes += kGroupMinutes;
        if (!new_record_group_init(s.group))
            writeLogMsg(ERROR, "running-time record: the next group could not be opened");
        s.steps = 0;
    }
}

void clock_record_run::dealwith_record_timing()
{
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    ClockRecordState& s = g_clock_record;
    s.clock_set = kClockSet;
    if (!s.enabled)
        return;
    if (!s.first_pending) {
        write_byte(s.seq_addr + 12, kClockSet);
        write_byte(s.group_addr + 44, kClockSet);
        return;
    }
    unsigned char g = s.group;
    if (g >= kGroupCount) {
        g = 0;
        unsigned char head[2];
        if (!ExFlash_RD(2, kGroups, 2, head))
            return;
        if (!(head[0] == 0xFF && head[1] == 0xFF) && !ExFlash_Erase_Format(2, kGroups / kSectorSize, 0, 1))
            return;
    }
    write_byte(kGroups + kGroupSize * g + 44, kClockSet);
}

void clock_record_run::Time_to_RAM(unsigned char* extend)
{
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    const ClockRecordState& s = g_clock_record;
    now_bcd(extend + 16);
    extend[23] = 0;
    setLe32(extend, 76, s.base_minutes + s.uptime_minutes);
    setLe32(extend, 80, s.minutes_since_start);
    extend[84] = static_cast<unsigned char>(s.seq_pos);
    extend[85] = static_cast<unsigned char>(s.seq_pos >> 8);
    extend[86] = static_cast<unsigned char>(s.seq_pos >> 16);
    extend[87] = 0;
    std::memcpy(extend + 88, s.time, 7);
    extend[95] = 0xFF;
    setLe32(extend, 96, s.uptime_minutes);
}
