// I2C bus access in the form of Linux i2c-dev combined transfers (I2C_RDWR).
#pragma once

#include <cstdint>
#include <string>

namespace platform {

struct I2cMessage {
    enum : uint16_t { Read = 0x0001 };
    uint16_t addr = 0;     // 7-bit address
    uint16_t flags = 0;    // Read, or 0 for a write
    uint16_t len = 0;
    uint8_t* buf = nullptr;
};

class I2c {
public:
    virtual ~I2c() = default;
    virtual int open(const std::string& node) = 0;          // descriptor or -1
    virtual int close(int fd) = 0;
    // Runs the messages as one combined transfer; returns n, or -1 on a NAK
    // or bus error.
    virtual int transfer(int fd, I2cMessage* messages, unsigned n) = 0;
};

} // namespace platform
