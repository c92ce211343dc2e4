// The sending card's command page: the 1024-byte page (RAM page 0x10) a PC
// fills with RAM writes and runs with its strobe (register 2 bit 2): a
// clock, an on/off table or a brightness record, shown or stored.
//
// The rule: the page holds what the PCs wrote, each write whole, in the
// order the writes were taken, and a run takes the page whole as it stands
// at its strobe; a write and the run's take are one hold, so a run never
// sees half of a write nor a write made after its take. Once the device
// has set its own start bytes, nothing but a PC's write changes a byte a
// run uses: the FPGA version a bring-up reads is kept apart, and a PC's
// read of bytes 12..15 shows it there until a PC writes one of those bytes
// again. The hold is a leaf and is held only to copy bytes in or out: a
// run works from its copy, never holding the page over flash or SPI work.
// The page is reached only through this unit.
#pragma once

#include <array>
#include <mutex>

class CommandPage {
public:
    static constexpr unsigned kSize = 1024;
    // Where a bring-up's FPGA version (registers 28..31) reads in the page.
    static constexpr unsigned kVersionAt = 12;
    static constexpr unsigned kVersionSize = 4;
    using Bytes = std::array<unsigned char, kSize>;

    CommandPage();
    CommandPage(const CommandPage&) = delete;
    CommandPage& operator=(const CommandPage&) = delete;

    // A PC's RAM write and read of count bytes at offset; false (nothing
    // done) when they do not lie inside the page.
    bool pc_write(unsigned offset, const unsigned char* data, unsigned count);
    bool pc_read(unsigned offset, unsigned char* data, unsigned count) const;
    // The device's own bytes the page starts with (its versions and port
    // state), set before any PC reaches the page.
    void start_bytes(unsigned offset, const unsigned char* data, unsigned count);
    // A bring-up read the FPGA's version registers 28..31.
    void fpga_version(const unsigned char version[kVersionSize]);
    // The page whole as it stands: what a run at its strobe works from.
    Bytes take() const;

private:
    bool fits(unsigned offset, unsigned count) const { return offset <= kSize && count <= kSize - offset; }

    mutable std::mutex mutex_;
    Bytes bytes_;   // what the PCs wrote (and the start bytes)
    unsigned char version_[kVersionSize] = {};
    // Bit k: a PC's read of byte kVersionAt + k shows version_[k] (the
    // version was read after the PCs last wrote that byte).
    unsigned char version_shown_ = 0;
};
