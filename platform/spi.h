// SPI bus access in the form of Linux spidev: a device node per chip select,
// mode / word size / speed settings and full-duplex messages.
#pragma once

#include <cstdint>
#include <string>

namespace platform {

struct SpiTransfer {
    const uint8_t* tx = nullptr;   // null: clock out zeros
    uint8_t* rx = nullptr;         // null: transmit only
    uint32_t len = 0;
    uint32_t speedHz = 0;
    uint8_t bitsPerWord = 8;
    uint16_t delayUsecs = 0;
    bool csChange = false;
};

class Spi {
public:
    virtual ~Spi() = default;
    virtual int open(const std::string& node) = 0;          // descriptor or -1
    virtual int close(int fd) = 0;
    virtual int setMode(int fd, uint8_t mode) = 0;          // 0 or -1, as ioctl
    virtual int getMode(int fd, uint8_t& mode) = 0;
    virtual int setBitsPerWord(int fd, uint8_t bits) = 0;
    virtual int getBitsPerWord(int fd, uint8_t& bits) = 0;
    virtual int setMaxSpeed(int fd, uint32_t hz) = 0;
    virtual int getMaxSpeed(int fd, uint32_t& hz) = 0;
    // One message of n transfers; returns the number of bytes moved, or -1.
    virtual int message(int fd, const SpiTransfer* transfers, unsigned n) = 0;
};

} // namespace platform
