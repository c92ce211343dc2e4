#include "sim/i2c_bus.h"


namespace sim {

void I2cBusModel::attach(uint16_t addr, std::shared_ptr<I2cDevice> device)
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (device)
        devices_[addr] = std::move(device);
    else
        devices_.erase(addr);
}

void I2cBusModel::detach(uint16_t addr)
{
    std::lock_guard<std::mutex> lock(mutex_);
    devices_.erase(addr);
}

bool I2cBusModel::hasDevice(uint16_t addr) const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return devices_.count(addr) != 0;
}

bool I2cBusModel::transfer(const std::vector<Message>& messages)
{
    std::map<uint16_t, std::shared_ptr<I2cDevice>> devices;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        devices = devices_;
    }
    std::lock_guard<std::mutex> bus(busMutex_);
    std::vector<std::shared_ptr<I2cDevice>> addressed;
    bool ok = true;
    for (const Message& m : messages) {
        if (m.len > 0 && !m.buf) {
            ok = false;
            break;
        }
        auto it = devices.find(m.addr);
        if (it == devices.end()) {
            ok = false;   // nobody acknowledges the address
            break;
        }
        bool known = false;
        for (const auto& d : addressed)
            known = known || d == it->second;
        if (!known)
            addressed.push_back(it->second);
        if (!(m.read ? it->second->read(m.buf, m.len) : it->second->write(m.buf, m.len))) {
            ok = false;
            break;
        }
    }
    // The master ends the transfer with a stop condition either way.
    for (const auto& d : addressed)
        d->stop();
    return ok;
}

} // namespace sim
