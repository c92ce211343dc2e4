// The serial flash controller of the simulated c331 chip (bank 4) with its
// 32 MiB NOR flash, and the memories its DMA fills: the chip's memory, the
// OSD glyph-string memory and the OSD colour table.
//
// Registers (bank 4): 0x47 control (0x80 resets the controller, then the
// mode 0x31 program/read, 0x01 erase, 0x33/0x37 DMA), 0x48 trigger (2 DMA,
// 4 erase, 5 send the command of 0x4B), 0x4B erase command (0x20, 0x52,
// 0xD8) or 0x04/0x06 for trigger 5, 0x4E-0x51 flash address, 0x52 data
// port, 0x53 read start (bit 7 busy, bit 5 program buffer empty), 0x54
// status (bit 0 DMA, bit 1 program, bit 3 erase busy), 0x55 the flash's
// status (bit 0 WIP, bit 1 WEL), 0x56-0x59 DMA length | 0x80000000, 0x5A
// DMA target (0 chip memory at 0x11-0x14, 1 glyph memory at 0x27-0x28, 4
// colour table from the index in bank 9 register 0x1F), 0x5F access mode
// (1 program/read/erase, 2 DMA).
//
// Programming: bytes written to the data port are buffered; writing the
// last byte of the address register (0x51) programs the buffer into the
// page of the previous address (wrapping inside its 256 bytes; bits are
// ANDed) and starts the next page at the new address. Busy bits clear
// after a few reads of their status register. The flash image is created
// with the generated OSD fonts when its file does not exist yet.
#pragma once

#include "sim/sparse_image.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace sim {

class C331FlashController {
public:
    static constexpr uint32_t kFlashSize = 0x2000000;
    static constexpr uint32_t kMemorySize = 0xFFFFF000u;
    static constexpr uint32_t kGlyphWords = 0x10000;
    static constexpr uint32_t kColourEntries = 256;
    static constexpr uint32_t kColourEntryBytes = 4;
    // How long the flash and the controller stay busy (board microseconds):
    // a typical part's page program and erase times, and a DMA that reads
    // the flash at 50 MB/s (quad reads at 100 MHz).
    static constexpr uint64_t kReadStartUs = 5;
    static constexpr uint64_t kPageProgramUs = 500;
    static uint64_t eraseUs(uint32_t unit) { return unit <= 0x1000 ? 30000 : unit <= 0x8000 ? 120000 : 200000; }
    static uint64_t dmaUs(uint32_t length) { return 10 + length / 50; }

    // What the controller carried out.
    struct Op {
        char kind;            // 'P' page program, 'E' erase, 'D' DMA, 'C' command (trigger 5)
        uint32_t address;     // flash address (page start for a program)
        uint32_t length;      // bytes programmed, erase unit, DMA length; command byte
        uint32_t target;      // DMA target
        uint32_t dest;        // DMA destination
    };

    void setFile(std::string file) { file_ = std::move(file); }

    // Register hooks, called with the chip's lock held. regs is the chip's
    // register file (bank, address). read answers true when the register
    // is one of the controller's status or data registers.
    void written(uint8_t (*regs)[128], uint8_t addr, uint8_t value);
    bool read(uint8_t (*regs)[128], uint8_t addr, uint8_t& value);

    SparseImage& flash();
    SparseImage& memory();
    std::vector<uint8_t>& glyphMemory() { return glyph_; }
    std::vector<uint8_t>& colourTable() { return colour_; }
    const std::vector<Op>& ops() const { return ops_; }
    void clearOps() { ops_.clear(); }

    // Faults: a dead flash (busy for ever, nothing programmed or erased);
    // a write-enable latch left set after a program or erase.
    bool stuck = false;
    bool welLeft = false;

private:
    void commitPage();
    void erase(uint8_t (*regs)[128]);
    void dma(uint8_t (*regs)[128]);
    void command(uint8_t opcode);
    // Busy from now for us microseconds of board time (for ever when stuck).
    uint64_t busyFor(uint64_t us) const;

    std::string file_;
    std::unique_ptr<SparseImage> flash_;
    std::unique_ptr<SparseImage> memory_;
    std::vector<uint8_t> glyph_ = std::vector<uint8_t>(kGlyphWords * 2, 0);
    std::vector<uint8_t> colour_ = std::vector<uint8_t>(kColourEntries * kColourEntryBytes, 0);
    std::vector<Op> ops_;

    std::vector<uint8_t> buffer_;     // bytes waiting to be programmed
    uint32_t pageAddress_ = 0;
    uint32_t readPointer_ = 0;
    // Board times until which each busy bit stays set.
    uint64_t readBusy_ = 0;
    uint64_t programBusy_ = 0;
    uint64_t eraseBusy_ = 0;
    uint64_t dmaBusy_ = 0;
    uint64_t wip_ = 0;
    bool wel_ = false;
};

} // namespace sim
