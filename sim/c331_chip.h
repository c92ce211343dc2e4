// The c331 video-processing chip of the simulated board, on the SPI node
// /dev/spidev32766.0. One two-byte frame per message: byte 0 bit 7 set is a
// write to address byte0 & 0x7F (address 0 selects the bank given in
// byte 1), bit 7 clear a read answered in the second received byte. The
// bank stays selected between frames. Registers read back what was written,
// except the few that model hardware: the identity, the sync status
// registers that follow their latches, the field phases, the V-by-One lock
// bits and the input channel status.
#pragma once

#include "sim/c331_osd_engine.h"
#include "sim/c331_sflash.h"
#include "sim/spi_bus.h"

#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

namespace sim {

class ControlChannel;
class PhysMemModel;

class C331ChipModel : public SpiDevice {
public:
    static constexpr const char* kNode = "/dev/spidev32766.0";
    static constexpr uint8_t kIdentityBank = 0xB2;
    static constexpr uint8_t kIdentityAddr = 0x08;
    static constexpr uint8_t kIdentity = 0x24;

    // One message as the chip saw it.
    struct Frame {
        uint8_t bank;        // bank selected when the frame arrived
        uint8_t b0;          // byte 0 (bit 7 write, address)
        uint8_t b1;          // byte 1 (value, or bank for a select)
        uint8_t answer;      // second received byte of a read
        uint32_t speedHz;
        bool selectsHigh;    // both FPGA select lines were high
        bool write() const { return (b0 & 0x80) != 0; }
        uint8_t addr() const { return b0 & 0x7F; }
        bool bankSelect() const { return write() && addr() == 0; }
    };

    explicit C331ChipModel(PhysMemModel* mem = nullptr);

    void transfer(const uint8_t* tx, uint8_t* rx, uint32_t len, uint32_t speedHz) override;
    bool listening() const override;

    // Back door: a register as the chip holds it now (count bytes, least
    // significant first, at descriptor 0xBBAANN plus bank offset), without
    // touching the bank or the frame log.
    uint32_t reg(uint32_t desc, uint32_t bankOffset = 0) const;
    uint8_t byte(uint8_t bank, uint8_t addr) const;
    void setReg(uint32_t desc, uint32_t value, uint32_t bankOffset = 0);
    uint8_t selectedBank() const;

    // Frame log (the most recent frames, up to the capacity).
    std::vector<Frame> frames() const;
    void clearFrames();
    void setLogCapacity(size_t frames);
    uint64_t frameCount() const;

    // Fault switch: a silent chip does not drive the bus at all (reads are
    // the idle level 0xFF, writes are lost).
    void setSilent(bool silent);
    bool silent() const;
    // Fault switch: the sync status registers stay 0 whatever is latched
    // (a chip whose video timing has stopped).
    void setSyncStuck(bool stuck);
    // Switch: the next write to one register (bank, address) holds the bus
    // for ms milliseconds after it is stored, as a slow transfer would, so
    // that a test can act while the driver is in the middle of a pass.
    void armHold(uint8_t bank, uint8_t addr, unsigned ms);
    // "off", "armed", "holding" or "done".
    std::string holdState() const;
    // Watch on one register (bank, address): the values written to it
    // from now on, with the board time of each write (the last 4096 kept).
    struct Write {
        uint8_t value;
        uint64_t atUs;
    };
    void watch(uint8_t bank, uint8_t addr);
    std::vector<Write> watched() const;

    // The frame clock, on the board's clock: a new frame every 1/hz s
    // (60 Hz at power-on). A sync latched during a frame shows in the sync
    // status from the next frame on; the field phases count the frames.
    void setFrameRate(unsigned hz);
    uint64_t frameUs() const;
    uint64_t frame() const;

    // The serial flash behind the chip and the memories its DMA fills
    // (back doors: no register traffic, no busy time).
    void setFlashFile(const std::string& file);
    std::vector<uint8_t> flashRead(uint32_t address, uint32_t length);
    void flashWrite(uint32_t address, const std::vector<uint8_t>& bytes);
    void flashErase(uint32_t address, uint32_t length);
    std::vector<uint8_t> memoryRead(uint32_t address, uint32_t length);
    std::vector<uint8_t> glyphMemory();
    std::vector<uint8_t> colourTable();
    std::vector<C331FlashController::Op> flashOps();
    void clearFlashOps();
    // Fault switches of the flash: dead (busy for ever, nothing changes);
    // write-enable latch left set after a program or erase.
    void setFlashStuck(bool stuck);
    void setFlashWelLeft(bool left);
    // The OSD drawing engine: the commands it carried out; fault switch:
    // busy for ever, nothing drawn.
    std::vector<C331OsdEngine::Op> osdOps();
    void clearOsdOps();
    void setOsdStuck(bool stuck);

    // An input channel's status (0xA83F01 + 0x500 x channel) reads 0 while
    // the source its selection (0x001001 + 0x100 x channel) names is
    // present, 0xFF (no input) otherwise, and its measured field size
    // (0xA80802 / 0xA80A02 + 0x600 x channel) is that source's width and
    // height, each less one.
    // Video-source model of the chip's input measurements: what arrives at
    // input n (0..5, the system's input numbers). A present source drives
    // the port's measurement registers (H count width - 1, second H value
    // width, V count height - 1, frame count 200,000,000 / hz - 1 and, for the
    // V-by-One ports, every lane's counts); an absent one reads all-ones.
    struct VideoSource {
        bool present = false;
        int width = 0;
        int height = 0;
        int hz = 0;
        bool interlaced = false;
        int lanes = 0;          // V-by-One lanes (0 for an HDMI source)
    };
    void setSource(int input, const VideoSource& source);
    VideoSource source(int input) const;

    // Registers the control commands c331-reg, c331-dump, c331-log and
    // c331-silent.
    void registerCommands(ControlChannel& control);

    // The FPGA select pads, offsets in the SoC register window.
    static constexpr uint32_t kFpga0SelectPad = 0x207810;
    static constexpr uint32_t kFpga1SelectPad = 0x207900;

private:
    uint8_t readLocked(uint8_t bank, uint8_t addr) const;
    const VideoSource* channelSourceLocked(unsigned ch) const;
    void writeLocked(uint8_t bank, uint8_t addr, uint8_t value);
    void powerOn();
    void applySourcesLocked();

    mutable std::mutex mutex_;
    PhysMemModel* mem_;
    uint8_t regs_[256][128];
    uint8_t bank_ = 0;
    bool silent_ = false;
    bool syncStuck_ = false;
    enum class Hold { Off, Armed, Holding, Done } hold_ = Hold::Off;
    uint8_t holdBank_ = 0;
    uint8_t holdAddr_ = 0;
    unsigned holdMs_ = 0;
    bool watching_ = false;
    uint8_t watchBank_ = 0;
    uint8_t watchAddr_ = 0;
    std::deque<Write> watched_;
    uint64_t frameUs_ = 1000000 / 60;
    uint64_t inputLatchAt_ = 0;
    uint64_t outputLatchAt_ = 0;
    VideoSource sources_[6];
    C331FlashController flash_;
    C331OsdEngine osd_;
    std::deque<Frame> log_;
    size_t capacity_ = 1 << 20;
    uint64_t count_ = 0;
};

} // namespace sim
