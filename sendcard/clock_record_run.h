// The running-time record kept in the flash behind FPGA 0: how long the box
// has run, in minutes, across power cycles, and when its clock was set.
//
// Every two minutes one bit pair of a progress byte is cleared (no erase
// while a group fills); each 512-byte group is kept twice (main and mirror)
// and repaired from the complete copy at start; each group logs one entry
// in a ring of sequence entries.
#pragma once

#include <cstdint>
#include <mutex>

class fpga_manage;

struct ClockRecordState {
    unsigned char minute_count = 0;     // minutes modulo 256
    unsigned char progress = 0;         // progress byte last written
    unsigned char seq_sector = 0;       // sector of the current sequence entry
    unsigned char group = 0;            // group being filled (8 = wrap to 0)
    unsigned char clock_set = 0xFF;     // 0x5A once the clock was set
    unsigned char first_pending = 0;    // first group of this power-on not open yet
    unsigned char enabled = 0;
    unsigned char time[7] = {0, 0, 0, 0, 0, 0, 0};   // BCD: yy, cc, month, day, hour, minute, second
    uint32_t steps = 0;                 // two-minute steps in the current group
    uint32_t seq_pos = 0;               // bits 0-19 entry index, 20-23 wrap count
    uint32_t group_addr = 0;            // record addresses
    uint32_t mirror_addr = 0;
    uint32_t seq_addr = 0;
    uint32_t progress_offset = 0;
    uint32_t minute_stamp = 0;          // G_timeTicks
    uint32_t minutes_since_start = 0;
    uint32_t uptime_minutes = 0;
    uint32_t base_minutes = 0;          // running minutes before the current group
};
extern ClockRecordState g_clock_record;

class clock_record_run {
public:
    // Record addresses (the flash address less kFlashOffset).
    static constexpr uint32_t kFlashOffset = 0x273000;
    static constexpr uint32_t kSectorOffset = kFlashOffset / 0x1000;
    static constexpr uint32_t kMagic = 0x480000;
    static constexpr uint32_t kGroups = 0x481000;
    static constexpr uint32_t kMirrors = 0x482000;
    static constexpr uint32_t kSequence = 0x483000;
    static constexpr uint32_t kGroupSize = 512;
    static constexpr uint32_t kGroupCount = 8;
    static constexpr uint32_t kLastSeqIndex = 15616;
    static constexpr uint32_t kProgressStart = 48;
    static constexpr uint32_t kProgressBytes = 360;
    static constexpr uint32_t kGroupMinutes = 2880;

    explicit clock_record_run(fpga_manage* owner = nullptr) : owner_(owner) {}

    // Loads the record at start (before the FPGA thread runs).
    void clock_record_init();
    // One step of the record's upkeep, every pass of the FPGA thread.
    void clock_record_deal();
    // The system clock was set (any thread).
    void dealwith_record_timing();

    // Flash access of the record (record address + kFlashOffset on the flash
    // behind FPGA 0): true when done; a refused range or a failed transfer
    // is reported and gives false.
    bool ExFlash_RD(unsigned char chip, uint32_t address, uint32_t length, unsigned char* buffer);
    bool ExFlash_WR(unsigned char chip, uint32_t address, const unsigned char* buffer, uint32_t length);
    bool ExFlash_Erase_Format(unsigned char chip, uint32_t sector, unsigned char mode, uint32_t count);

    // Minutes recorded by a group's progress bytes.
    static uint32_t progress_minutes(const unsigned char* bytes, uint32_t count);
    // Record address of sequence entry i.
    static uint32_t seq_entry_addr(uint32_t index) { return kSequence + 4096 * (index >> 8) + 16 * (index & 0xFF); }

    bool new_record_group_init(unsigned char g);
    uint32_t get_new_seq(uint32_t minutes, uint32_t position);
    void get_last_record_info(unsigned char g);
    bool copy_sec_data(uint32_t from, uint32_t to);
    unsigned char check_record_sec();

    // The running-time state as the PC reads it, into the extension page.
    void Time_to_RAM(unsigned char* extend);

private:
    void now_bcd(unsigned char out[7]);
    bool write_byte(uint32_t address, unsigned char value);
    void failed(const char* what);
    bool reachable(uint64_t first, uint64_t count, uint64_t limit, const char* what);
    bool done(int result, const char* what);

    fpga_manage* owner_;
    std::recursive_mutex mutex_;
};
