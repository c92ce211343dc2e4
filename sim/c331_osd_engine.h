// The OSD drawing engine of the simulated c331 chip (bank 4) and the OSD
// colour table port (bank 9). The engine draws into the chip memory that
// the flash controller's DMA fills, so a test sees the pixels the chip
// would show.
//
// Registers (bank 4): 0x08 command (1 fill, 2 copy, 3 glyph string; the
// command runs when it is written, 0 clears it), 0x0B-0x0C fill value,
// 0x0D-0x10 source address (copy) or font base (glyph string), 0x11-0x14
// destination, 0x17 bit 0 busy (clears after a few reads), 0x1B
// destination pitch and 0x1C source pitch in 128-byte units, 0x1E-0x1F
// width - 1, 0x20-0x21 height - 1, 0x22 pitch scale (bit 4 destination x4,
// bit 5 source x4), 0x23/0x24 first and last glyph-string entry, 0x27-0x28
// pointer into the glyph-string memory, 0x29 its data port (auto
// increment), 0x2A glyph size code (bit 6: 64 pixels, else 32).
//
// Glyph string: entry k is five bytes at 5 x k of the glyph-string memory
// (glyph index low, high, character value, background value, advance);
// byte 0x0A00 holds the glyph height. Glyph i of the font is 128 (32
// pixels) or 512 (64 pixels) bytes from the font base, 1 bit per pixel,
// least significant bit leftmost. A glyph's columns up to its advance are
// drawn with the character value where a bit is set and the background
// value elsewhere; an advance wider than the glyph is background.
//
// Colour table (bank 9): 0x1F the first entry, 0x20 its data port taking
// red, green, blue of one entry after another; writes to the port count
// only while bank 0xFF register 0x01 is 1 (table open).
#pragma once

#include <cstdint>
#include <vector>

namespace sim {

class SparseImage;

class C331OsdEngine {
public:
    static constexpr uint8_t kBank = 0x04;
    static constexpr uint8_t kColourBank = 0x09;
    static constexpr uint8_t kColourAccessBank = 0xFF;
    static constexpr unsigned kDefaultBusyPolls = 3;
    static constexpr uint32_t kEntryBytes = 4;     // a colour-table entry: R, G, B, spare

    // What the engine carried out.
    struct Op {
        int command;          // 1 fill, 2 copy, 3 glyph string
        uint32_t source;
        uint32_t dest;
        uint32_t width;       // pixels (glyph string: entries)
        uint32_t height;
    };

    // Register hooks, called with the chip's lock held after the register
    // file was updated. read answers true for the engine's status register.
    void written(uint8_t (*regs)[128], uint8_t bank, uint8_t addr, uint8_t value, SparseImage& memory,
                 std::vector<uint8_t>& glyphs, std::vector<uint8_t>& colours);
    bool read(uint8_t bank, uint8_t addr, uint8_t& value);

    const std::vector<Op>& ops() const { return ops_; }
    void clearOps() { ops_.clear(); }

    // Fault: the engine stays busy for ever and draws nothing.
    bool stuck = false;
    unsigned busyPolls = kDefaultBusyPolls;

private:
    void run(uint8_t (*regs)[128], int command, SparseImage& memory, const std::vector<uint8_t>& glyphs);

    unsigned busy_ = 0;
    uint32_t pointer_ = 0;
    unsigned colourIndex_ = 0;
    unsigned colourPart_ = 0;
    std::vector<Op> ops_;
};

} // namespace sim
