// Command handlers of the PC control protocol (the wire layout is written
// down in docs/protocol.md).
//
// A control frame (the un-escaped body) is:
//   0-1 destination word, 2-3 source word (little-endian),
//   4-5 length word (carried, not interpreted), 6 port select, 7 port byte,
//   8 spare, 9 command, 10.. payload, last byte the XOR check byte.
// A reply repeats the header with destination and source swapped; its
// payload starts with a status byte.
//
// Destination 0xF001 is the processor (the parameter block, the user-mode
// slots and the processor's registers), 0xF000 the emulated sending card
// (the FPGA images; byte 7 selects FPGA 0 or 1). Frames for any other
// destination are not ours and get no reply; frames with a destination
// below 0xF000 and source 0xF010 are pass-through frames for the receiving
// cards and never reach message_deal.
#pragma once

#include <cstdint>

namespace link_frame {

constexpr int kDest = 0;
constexpr int kSrc = 2;
constexpr int kLength = 4;
constexpr int kPortSelect = 6;
constexpr int kPort = 7;
constexpr int kSpare = 8;
constexpr int kCommand = 9;
constexpr int kPayload = 10;
constexpr int kHeader = 10;

constexpr uint16_t kSendingCard = 0xF000;
constexpr uint16_t kProcessor = 0xF001;
constexpr uint16_t kPc = 0xF010;
constexpr uint16_t kFirstDeviceAddress = 0xF000;

// Commands.
constexpr unsigned char kEraseFlash = 0x70;
constexpr unsigned char kWriteFlash = 0x71;
constexpr unsigned char kReadFlash = 0x72;
constexpr unsigned char kWriteRam = 0x60;
constexpr unsigned char kReadRam = 0x61;
constexpr unsigned char kDeviceInfo = 0x80;
constexpr unsigned char kSetNetwork = 0x82;
constexpr unsigned char kSetClock = 0x87;
constexpr unsigned char kFileStart = 0x90;
constexpr unsigned char kFileData = 0x91;
constexpr unsigned char kFileEnd = 0x92;
constexpr unsigned char kWriteRegister = 0xA0;
constexpr unsigned char kReadRegister = 0xA1;
constexpr unsigned char kWriteItems = 0xB0;

// Reply status byte.
constexpr unsigned char kOk = 0;
constexpr unsigned char kRefused = 1;       // bad length, address, range or value
constexpr unsigned char kBusy = 2;          // another upload is in progress
constexpr unsigned char kFailed = 3;        // MD5 mismatch, incomplete upload, write failure
constexpr unsigned char kNotAvailable = 4;  // the function is not available on this device
constexpr unsigned char kUnknown = 5;       // unknown command

// A frame for the receiving cards, passed through the sending card.
bool isPassThrough(const unsigned char* frame, int length);
// A frame addressed to this device (the processor or the sending card).
bool isForDevice(const unsigned char* frame, int length);

} // namespace link_frame

// Processor register numbers with a meaning of their own.
namespace link_reg {
constexpr unsigned kMcuFlag = 11;        // raise the c331 parameter-changed flag
constexpr unsigned kUpdate0E = 0x0E;     // bit 3: reload the chip's OSD fonts
constexpr unsigned kRecovery = 160;      // input-recovery request bits (status byte 32)
constexpr unsigned kSystem = 161;        // bit 0 reboot, bit 1 chip register print
constexpr unsigned kTestSequence = 162;  // chip test sequence (status byte 34)
constexpr unsigned kParaDump = 163;      // parameter dump (status byte 35, value + 1)
constexpr unsigned kRegGroup = 164;      // register group (status byte 36)
constexpr unsigned kWritableCount = 256; // processor registers the PC may write
} // namespace link_reg

class message_deal {
public:
    // Largest reply body.
    static constexpr int kMaxReply = 8192;
    // Largest count of a RAM or register read.
    static constexpr int kMaxRead = 4096;

    // Where a frame came from: the transport's pass-through code and the
    // peer on it (UDP address and port, TCP connection; 0 on a serial port).
    struct Origin {
        unsigned char transport = 0;
        uint64_t peer = 0;
    };

    message_deal() = default;

    // Handles one un-escaped, check-byte-correct frame addressed to this
    // device. Returns the length of the reply body in reply() (0: no reply).
    // Frames that arrive before the parameter store, the chip manager and
    // the FPGA manager exist are dropped.
    int message_group_deal(const unsigned char* frame, int length, const Origin& origin);
    const unsigned char* reply() const { return m_reply; }

    // Whether the services the handlers use exist yet. Tests replace it.
    static bool (*services_ready)();
    static bool default_services_ready();

    // The processor's flag register and register 0x0E (value already
    // masked by the caller where the register write carries a mask).
    static void REG_mcu_flag(unsigned char value, unsigned char mask);
    static unsigned char RegUpdate0E(unsigned char value);

private:
    // Each handler gets the frame and its length (check byte included),
    // writes the reply's status and data from reply byte 10 on and returns
    // the number of those bytes.
    int write_ram(const unsigned char* frame, int length);
    int read_ram(const unsigned char* frame, int length);
    int write_register(const unsigned char* frame, int length);
    int read_register(const unsigned char* frame, int length);
    int write_items(const unsigned char* frame, int length);
    int device_info(const unsigned char* frame, int length);
    int set_network(const unsigned char* frame, int length);
    int write_rtc_time(const unsigned char* frame, int length);
    int cmd_erase_flash(const unsigned char* frame, int length);
    int cmd_write_flash(const unsigned char* frame, int length);
    int cmd_read_flash(const unsigned char* frame, int length);
    int write_file_start(const unsigned char* frame, int length, const Origin& origin);
    int write_file_data(const unsigned char* frame, int length, const Origin& origin);
    int write_file_end(const unsigned char* frame, int length, const Origin& origin);

    int status(unsigned char s);
    unsigned char* out() { return m_reply + link_frame::kPayload; }

    unsigned char m_reply[kMaxReply];
};

// Functions of the other device parts that the commands reach. Each
// answers kNotAvailable until its part is wired in here.
namespace link_services {
// The emulated sending card's RAM pages and registers (fpga number 0/1).
// The card takes writes to registers 0 to 170 only.
constexpr unsigned kSendCardWritableCount = 171;
unsigned char sendcard_write_ram(int fpga, uint32_t address, const unsigned char* data, int count);
unsigned char sendcard_read_ram(int fpga, uint32_t address, unsigned char* data, int count);
unsigned char sendcard_write_register(int fpga, unsigned reg, unsigned char mask, unsigned char value);
unsigned char sendcard_read_registers(int fpga, unsigned first, unsigned count, unsigned char* values);
// The c331 chip's serial flash (flash selector 4): erase count units of
// type 0 (4 KiB), 1 (32 KiB) or 2 (64 KiB) from a 4 KiB sector; program and
// read bytes. kFailed when the flash did not finish in time.
unsigned char c331_flash_erase(unsigned sector, unsigned count, unsigned type);
unsigned char c331_flash_write(uint32_t address, const unsigned char* data, unsigned count);
unsigned char c331_flash_read(uint32_t address, unsigned char* data, unsigned count);
// Reloads the c331 chip's OSD fonts (register 0x0E bit 3).
unsigned char c331_font_update();
// Prints the c331 registers (register 161 bit 1).
unsigned char c331_print();
// Records the running time after the clock was set.
void clock_set_record_timing();
} // namespace link_services
