// The six inputs' receivers and EDID EEPROMs on the board's I2C bus.
//
// Receiver of input i at 0x48 + i, a register file read from a pointer
// (write the pointer, then read): every value comes from the c331 chip
// model's video source of that input, so one "source" command changes what
// the chip measures and what the receiver reports.
//   0x00 id (0xA5)        0x01 status: bit 0 signal, bit 1 interlaced,
//                         bit 2 two pixels a clock (data mode 1: the
//                         receiver's double-width bus, taken for pixel
//                         clocks above kSinglePixelKhz; the chip then
//                         receives each line as two halves)
//   0x02 width  (u16 LE)  0x04 height (u16 LE)   0x06 refresh (Hz)
//   0x07 V-by-One lanes   0x08 Htotal  0x0A Vtotal  0x0C Hsync  0x0E Hback
//   0x10 Vsync  0x12 Vback  0x14 polarity: bit 0 H+, bit 1 V+
//   0x15 pixel clock (u32 LE, kHz)
// EDID EEPROM of input i at 0x58 + i: a 256-byte 24C02, 8-byte pages; it
// does not acknowledge while its write cycle runs (the next message after
// a page write).
#pragma once

#include "sim/i2c_bus.h"

#include <cstdint>
#include <memory>

namespace sim {

class C331ChipModel;
class ControlChannel;

namespace avin {
constexpr uint16_t kReceiverBase = 0x48;
constexpr uint16_t kEepromBase = 0x58;
constexpr uint8_t kReceiverId = 0xA5;
constexpr int kRegCount = 0x19;
constexpr int kEepromSize = 256;
constexpr int kEepromPage = 8;
// The timing a receiver reports around a source's active size.
constexpr int kHFront = 88, kHSync = 44, kHBack = 148;
constexpr int kVFront = 4, kVSync = 5, kVBack = 36;
// An interlaced source's field (the height given is the field's): 22 lines
// of blanking, as a 1080i field of 540 lines in 562, a 480i one of 240 in
// 262 and a 576i one of 288 in 310.
constexpr int kFieldVFront = 2, kFieldVSync = 5, kFieldVBack = 15;
// The highest pixel clock a receiver carries one pixel a clock (kHz).
constexpr uint32_t kSinglePixelKhz = 165000;
} // namespace avin

class ReceiverModel : public I2cDevice {
public:
    ReceiverModel(std::weak_ptr<C331ChipModel> chip, int input) : chip_(std::move(chip)), input_(input) {}
    bool write(const uint8_t* data, uint16_t len) override;
    bool read(uint8_t* data, uint16_t len) override;
    void fillRegisters(uint8_t* regs) const;   // kRegCount bytes

private:
    std::weak_ptr<C331ChipModel> chip_;
    int input_;
    uint8_t ptr_ = 0;
};

class EdidEepromModel : public I2cDevice {
public:
    bool write(const uint8_t* data, uint16_t len) override;
    bool read(uint8_t* data, uint16_t len) override;
    void contents(uint8_t* out) const;         // kEepromSize bytes
    int pageWrites() const;

private:
    mutable std::mutex mutex_;
    uint8_t mem_[avin::kEepromSize] = {};
    uint8_t ptr_ = 0;
    bool busy_ = false;
    int pageWrites_ = 0;
};

// Attaches the receivers and EEPROMs and registers "edid-read <input>"
// (the EEPROM's 256 bytes in hex) and "av-nak <addr> on|off" (a device that
// stops acknowledging: detached / re-attached).
void attachAvInputs(I2cBusModel& bus, const std::shared_ptr<C331ChipModel>& chip, ControlChannel& control);

} // namespace sim
