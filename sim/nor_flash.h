// An 8 MiB SPI-NOR flash of the sending card (one behind each FPGA): write
// enable, status with a busy bit that clears after a few polls, page program
// that ANDs bits and wraps inside its 256-byte page, sector / 32 KiB /
// 64 KiB erase to 0xFF, fast read with one dummy byte, JEDEC and unique id.
// The contents persist in a file of the board (written through on every
// change); a flash without a file starts erased.
#pragma once

#include "sim/spi_bus.h"

#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace sim {

class NorFlashModel : public SpiDevice {
public:
    static constexpr uint32_t kSize = 0x800000;
    static constexpr uint32_t kSectorSize = 0x1000;
    static constexpr uint32_t kPageSize = 0x100;
    // How long a program keeps the flash busy (board microseconds): a
    // typical part's page program time (its erase times in Times below).
    static constexpr uint64_t kPageProgramUs = 500;

    // listen: whether the flash is selected now (its select wiring).
    NorFlashModel(std::string file, std::array<uint8_t, 8> uid, std::function<bool()> listen);

    void transfer(const uint8_t* tx, uint8_t* rx, uint32_t len, uint32_t speedHz) override;
    void endMessage() override;
    bool listening() const override;

    // Back door (tests, control channel): no busy time, no write enable.
    std::vector<uint8_t> peek(uint32_t address, uint32_t length) const;
    void poke(uint32_t address, const std::vector<uint8_t>& bytes);

    // Faults and settings.
    void setStuckBusy(bool stuck);
    // How long this part's page program and erases of 4, 32 and 64 KiB keep
    // it busy (board microseconds); by default the typical times above. A
    // slow part that is still within its data sheet takes longer.
    struct Times {
        uint64_t pageUs = kPageProgramUs;
        uint64_t erase4kUs = 30000;
        uint64_t erase32kUs = 120000;
        uint64_t erase64kUs = 200000;
    };
    void setTimes(const Times& times);
    void setUniqueId(const std::array<uint8_t, 8>& uid);
    std::array<uint8_t, 8> uniqueId() const;

    // What the flash saw.
    struct Counters {
        uint64_t programs = 0;       // page programs carried out
        uint64_t erases = 0;         // erases carried out
        uint64_t statusReads = 0;    // status register reads
        uint64_t refused = 0;        // program/erase without write enable or while busy
    };
    Counters counters() const;
    // How often the 4 KiB sector holding address was erased.
    uint64_t sectorErases(uint32_t address) const;
    bool writeEnabled() const;
    bool busy() const;

private:
    uint8_t byteAt(uint32_t address) const;
    void setByte(uint32_t address, uint8_t value);
    void persist(uint32_t address, uint32_t length);
    void load();
    uint8_t status() const;
    bool busyLocked() const;
    void commit();

    mutable std::mutex mutex_;
    std::string file_;
    bool fileReady_ = false;
    std::function<bool()> listen_;
    std::map<uint32_t, std::unique_ptr<std::array<uint8_t, kSectorSize>>> sectors_;
    std::array<uint8_t, 8> uid_;

    // State of the message on the wires.
    std::vector<uint8_t> head_;      // opcode and address bytes
    std::map<uint32_t, uint8_t> programData_;
    uint32_t position_ = 0;

    bool wel_ = false;
    uint64_t busyUntil_ = 0;     // board time the running program or erase ends
    bool stuckBusy_ = false;
    Times times_;
    Counters counters_;
    std::map<uint32_t, uint64_t> sectorErases_;   // by sector number
};

} // namespace sim
