// The board's one SPI bus. Device models attach by spidev node; a device
// with a select line listens only while that GPIO line is low. A message on
// a node whose device does not listen reads back 0xFF (the idle bus).
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace sim {

class PhysMemModel;

class SpiDevice {
public:
    virtual ~SpiDevice() = default;
    // One transfer of a message while the device is selected: tx is never
    // null (zeros when the driver sent none), rx may be null.
    virtual void transfer(const uint8_t* tx, uint8_t* rx, uint32_t len, uint32_t speedHz) = 0;
    // Called after the last transfer of a message.
    virtual void endMessage() {}
    // Whether the device listens now (select lines, reset...). Default: yes.
    virtual bool listening() const { return true; }
};

class SpiBusModel {
public:
    explicit SpiBusModel(PhysMemModel& mem);

    // Attaches a device at a node ("/dev/spidev32766.0"); replaces any other.
    void attach(const std::string& node, std::shared_ptr<SpiDevice> device);
    void detach(const std::string& node);
    bool hasNode(const std::string& node) const;

    // Runs one message on a node; false when no device is attached there
    // (the node does not exist). Transfers of one message are delivered in
    // order; a device that does not listen leaves rx at 0xFF.
    bool message(const std::string& node, const std::vector<const uint8_t*>& tx,
                 const std::vector<uint8_t*>& rx, const std::vector<uint32_t>& len,
                 const std::vector<uint32_t>& speedHz);

    // Messages seen per node, and messages that reached no listener.
    uint64_t messageCount(const std::string& node) const;
    uint64_t unheardCount(const std::string& node) const;

    PhysMemModel& mem() { return mem_; }

private:
    mutable std::mutex mutex_;
    std::mutex busMutex_;   // one message on the wires at a time
    PhysMemModel& mem_;
    std::map<std::string, std::shared_ptr<SpiDevice>> devices_;
    std::map<std::string, uint64_t> messages_;
    std::map<std::string, uint64_t> unheard_;
};

} // namespace sim
