// The two sending-card FPGAs of the simulated board and the SPI-NOR flash
// behind each. An FPGA answers on its spidev node only while its select pad
// is low, its flash pads are not all low and it is out of reset; a message
// sent while its command pads are high is the 4-byte command word (least
// significant byte first), the next message the data phase:
//   byte 0 0x02/0x03 RAM block write/read (byte 1 block, 12-bit address in
//   bytes 2-3), 0x04/0x05 register write/read (byte 2 register, byte 3 the
//   write mask).
// Registers apply only the masked bits; trigger bits clear themselves; the
// version, lock, link and port-link registers answer from the model's state.
// A reset pad held low restores the power-on state (registers, RAM) and the
// FPGA does not answer (the bus reads 0xFF); releasing it boots the FPGA.
//
// Port engine: port pair p (ports 2p, 2p+1) has a transmit RAM block
// (3 + 2p) and a receive queue shown in RAM block 2 + 2p. The transmit
// length registers hold length - 1; the pair's start bit (register 130 bits
// 4-7 for pairs 0-3, 146 for pairs 4-7) sends the frame on every port of the
// pair selected in register 132 or 148 whose link is up, to the cards of
// that port; each answer joins the pair's receive queue. The pair's ready
// bit (129 or 145, bit 2 x (p % 4)) and receive length registers show the
// first queued answer; the release bit (130 or 146 bit p % 4) drops it. The
// interrupt input is raised while any answer waits.
#pragma once

#include "sim/nor_flash.h"
#include "sim/rcv_card_model.h"
#include "sim/spi_bus.h"

#include <array>
#include <atomic>
#include <deque>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace sim {

class ControlChannel;
class PhysMemModel;

// GPIO pads (offsets from the register window base) that wire one FPGA.
struct FpgaWiring {
    uint32_t select;
    std::vector<uint32_t> command;   // all high: command word; all low: data
    std::vector<uint32_t> flash;     // all low: the flash behind is reached
    uint32_t reset;                  // low holds the FPGA in reset
    uint32_t irq;                    // interrupt input, bit 0
};

// The wiring of the board.
FpgaWiring fpgaWiring(int fpga);
extern const char* const kFpgaNodes[4];   // FPGA 0, FPGA 1, flash 2, flash 3

class FpgaModel : public SpiDevice {
public:
    enum class Fault {
        None,
        Dead,         // never answers (reads 0xFF)
        BadVersion,   // version year 0x18: outside what the driver accepts
        InitError,    // register 22 bit 3 (init error) stuck set
        NoLock,       // the V-by-One receiver never locks (22 bit 4, 40 bits 2-4)
        NoLink,       // the link never locks (register 22 bit 7)
        RamError,     // RAM block 1 reads back with one byte changed
    };

    // Power-on version: function 0x01, 15 June 2024 (BCD).
    static constexpr uint8_t kVersion[4] = {0x01, 0x15, 0x06, 0x24};
    static constexpr uint32_t kBlockSize = 4096;

    FpgaModel(int index, PhysMemModel& mem);

    void transfer(const uint8_t* tx, uint8_t* rx, uint32_t len, uint32_t speedHz) override;
    void endMessage() override;
    bool listening() const override;

    // Back door.
    uint8_t reg(unsigned r) const;             // as a register read answers
    uint8_t storedReg(unsigned r) const;       // the latch without the live bits
    void setReg(unsigned r, uint8_t value);
    std::vector<uint8_t> ram(unsigned block, uint32_t address, uint32_t length) const;
    void setPortLink(int port, bool up);       // port 0..15
    uint16_t portLinks() const;
    void setFault(Fault f);
    Fault fault() const;
    // The input measurement the FPGA keeps at RAM block 1 bytes 116-123
    // (width, height, period); none writes zeros.
    void setInput(uint16_t width, uint16_t height, uint32_t period);
    void setNoInput();
    void setIrq(bool raised);
    // The cards behind port 0..15.
    RcvCardChain& cards(int port);
    // Frames the port engine sent on a port, and answers waiting in a pair.
    uint64_t portFrames(int port) const;
    size_t waitingAnswers(int pair) const;
    // The version year (register 31, BCD) the FPGA reports.
    void setVersionYear(uint8_t year);
    bool inReset() const;

    // What the FPGA saw.
    struct Counters {
        uint64_t resets = 0;          // boots after a reset pulse
        uint64_t commands = 0;        // command words taken
        uint64_t protocolErrors = 0;  // data without command, bad command words, mixed lines
        uint64_t pageApplies = 0;     // register 2 bit 0 strobes
        uint64_t brightnessLatches = 0;   // register 3 bit 2 strobes
    };
    Counters counters() const;
    // Called after every register write the FPGA takes (register, mask,
    // value as sent); tests use it to act at a precise point.
    void onRegisterWrite(std::function<void(unsigned, uint8_t, uint8_t)> hook);

private:
    struct Pending {
        bool valid = false;
        bool registerAccess = false;
        bool read = false;
        unsigned block = 0;
        uint32_t address = 0;   // RAM address or register
        uint8_t mask = 0;
    };

    void resetLine(uint16_t value);
    void sendPair(unsigned pair);
    void showFront(unsigned pair);
    uint8_t rxLengthReg(unsigned r) const;
    void powerOn();
    void stampInput();
    uint8_t readRegLocked(unsigned r) const;
    void writeRegLocked(unsigned r, uint8_t mask, uint8_t value);
    bool vboLocked() const;
    bool allHigh(const std::vector<uint32_t>& pads) const;
    bool allLow(const std::vector<uint32_t>& pads) const;
    std::vector<uint8_t>& block(unsigned b);

    PhysMemModel& mem_;
    FpgaWiring wiring_;
    mutable std::mutex mutex_;
    std::array<uint8_t, 256> regs_{};
    uint8_t year_ = kVersion[3];
    std::map<unsigned, std::vector<uint8_t>> ram_;
    uint16_t links_ = 0;
    Fault fault_ = Fault::None;
    bool hasInput_ = true;
    uint16_t inputW_ = 1920;
    uint16_t inputH_ = 1080;
    uint32_t inputPeriod_ = 833333;
    std::atomic<bool> irq_{false};
    std::array<std::shared_ptr<RcvCardChain>, 16> chains_;
    std::array<std::deque<std::vector<uint8_t>>, 8> rxQueue_;
    std::array<uint64_t, 16> portFrames_{};
    std::atomic<int> waiting_{0};
    // Answers of late cards, joining their pair's queue at their time.
    struct Late {
        uint64_t atUs;
        unsigned pair;
        std::vector<uint8_t> frame;
    };
    std::deque<Late> late_;
    std::atomic<uint64_t> nextLateUs_{UINT64_MAX};
    void deliverLateLocked();
    void queueAnswerLocked(unsigned pair, std::vector<uint8_t> answer);
    bool inReset_ = false;
    Counters counters_;
    std::function<void(unsigned, uint8_t, uint8_t)> hook_;

    // The message on the wires.
    bool inMessage_ = false;
    bool commandPhase_ = false;
    std::vector<uint8_t> word_;
    uint32_t position_ = 0;
    uint8_t written_ = 0;
    Pending pending_;
};

// Both FPGAs and both flashes, attached to the bus, with their control
// commands.
class FpgaBoard {
public:
    // flashFile(n) names the file of flash chip n (2 or 3); "" keeps the
    // flash in memory only.
    FpgaBoard(PhysMemModel& mem, SpiBusModel& bus, std::function<std::string(int)> flashFile);

    FpgaModel& fpga(int i) { return *fpga_[i & 1]; }
    // Flash chip 2 (behind FPGA 0) or 3 (behind FPGA 1).
    NorFlashModel& flash(int chip) { return *flash_[chip == 2 ? 0 : 1]; }

    void registerCommands(ControlChannel& control);

private:
    std::shared_ptr<FpgaModel> fpga_[2];
    std::shared_ptr<NorFlashModel> flash_[2];
    SpiBusModel* busModel_ = nullptr;
};

} // namespace sim
