// The board's I2C bus (/dev/i2c-0). Device models attach at 7-bit addresses;
// a message to an address with no device is not acknowledged.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

namespace sim {

class I2cDevice {
public:
    virtual ~I2cDevice() = default;
    // A write message (start, address+W, bytes); false = not acknowledged.
    virtual bool write(const uint8_t* data, uint16_t len) = 0;
    // A read message (start, address+R, bytes); false = not acknowledged.
    virtual bool read(uint8_t* data, uint16_t len) = 0;
    // Stop condition after a combined transfer.
    virtual void stop() {}
};

class I2cBusModel {
public:
    void attach(uint16_t addr, std::shared_ptr<I2cDevice> device);
    void detach(uint16_t addr);
    bool hasDevice(uint16_t addr) const;

    struct Message {
        uint16_t addr;
        bool read;
        uint8_t* buf;
        uint16_t len;
    };
    // One combined transfer; false on the first message not acknowledged.
    bool transfer(const std::vector<Message>& messages);

private:
    mutable std::mutex mutex_;
    std::mutex busMutex_;   // one transfer on the wires at a time
    std::map<uint16_t, std::shared_ptr<I2cDevice>> devices_;
};

} // namespace sim
