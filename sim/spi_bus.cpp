#include "sim/spi_bus.h"

#include <cstring>

namespace sim {

SpiBusModel::SpiBusModel(PhysMemModel& mem) : mem_(mem) {}

void SpiBusModel::attach(const std::string& node, std::shared_ptr<SpiDevice> device)
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (device)
        devices_[node] = std::move(device);
    else
        devices_.erase(node);
}

void SpiBusModel::detach(const std::string& node)
{
    std::lock_guard<std::mutex> lock(mutex_);
    devices_.erase(node);
}

bool SpiBusModel::hasNode(const std::string& node) const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return devices_.count(node) != 0;
}

bool SpiBusModel::message(const std::string& node, const std::vector<const uint8_t*>& tx,
                          const std::vector<uint8_t*>& rx, const std::vector<uint32_t>& len,
                          const std::vector<uint32_t>& speedHz)
{
    const size_t n = len.size();
    if (tx.size() != n || rx.size() != n || speedHz.size() != n)
        return false;
    std::shared_ptr<SpiDevice> device;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        auto it = devices_.find(node);
        if (it == devices_.end())
            return false;
        device = it->second;
        ++messages_[node];
    }

    // The device runs outside the table lock: it may ask the bus or the
    // register space while it answers.
    std::lock_guard<std::mutex> bus(busMutex_);
    if (!device->listening()) {
        for (size_t i = 0; i < n; ++i) {
            if (rx[i] && len[i])
                std::memset(rx[i], 0xFF, len[i]);
        }
        std::lock_guard<std::mutex> lock(mutex_);
        ++unheard_[node];
        return true;
    }
    std::vector<uint8_t> zeros;
    for (size_t i = 0; i < n; ++i) {
        const uint8_t* out = tx[i];
        if (!out) {
            if (zeros.size() < len[i])
                zeros.assign(len[i], 0);
            out = zeros.data();
        }
        device->transfer(out, rx[i], len[i], speedHz[i]);
    }
    device->endMessage();
    return true;
}

uint64_t SpiBusModel::messageCount(const std::string& node) const
{
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = messages_.find(node);
    return it == messages_.end() ? 0 : it->second;
}

uint64_t SpiBusModel::unheardCount(const std::string& node) const
{
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = unheard_.find(node);
    return it == unheard_.end() ? 0 : it->second;
}

} // namespace sim
