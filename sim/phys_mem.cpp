#include "sim/phys_mem.h"

namespace sim {

PhysMemModel::PhysMemModel() = default;

uint16_t PhysMemModel::read16(uint32_t phys)
{
    std::function<uint16_t()> hook;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (phys == kRiuBase + kUidA)
            return uid_[0];
        if (phys == kRiuBase + kUidB)
            return uid_[1];
        if (phys == kRiuBase + kUidC)
            return uid_[2];
        auto h = readHooks_.find(phys);
        if (h != readHooks_.end()) {
            hook = h->second;
        } else {
            auto it = regs_.find(phys);
            if (it != regs_.end())
                return it->second;
            auto r = reset_.find(phys);
            return r != reset_.end() ? r->second : 0;
        }
    }
    // Outside the lock: a hook may read other registers.
    return hook();
}

void PhysMemModel::write16(uint32_t phys, uint16_t value)
{
    std::function<void(uint16_t)> hook;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (phys == kRiuBase + kUidA || phys == kRiuBase + kUidB || phys == kRiuBase + kUidC)
            return;   // the fused id cannot be written
        regs_[phys] = value;
        auto it = hooks_.find(phys);
        if (it != hooks_.end())
            hook = it->second;
    }
    if (hook)
        hook(value);
}

void PhysMemModel::setResetValue(uint32_t phys, uint16_t value)
{
    std::lock_guard<std::mutex> lock(mutex_);
    reset_[phys] = value;
}

void PhysMemModel::onWrite(uint32_t phys, std::function<void(uint16_t)> hook)
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (hook)
        hooks_[phys] = std::move(hook);
    else
        hooks_.erase(phys);
}

void PhysMemModel::onRead(uint32_t phys, std::function<uint16_t()> hook)
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (hook)
        readHooks_[phys] = std::move(hook);
    else
        readHooks_.erase(phys);
}

void PhysMemModel::setUniqueId(uint16_t a, uint16_t b, uint16_t c)
{
    std::lock_guard<std::mutex> lock(mutex_);
    uid_[0] = a;
    uid_[1] = b;
    uid_[2] = c;
}

bool PhysMemModel::padHigh(uint32_t offsetFromRiu)
{
    return (read16(kRiuBase + offsetFromRiu) & 0x0010) != 0;
}

void PhysMemModel::setMemOpenFails(bool fails)
{
    std::lock_guard<std::mutex> lock(mutex_);
    memFails_ = fails;
}

bool PhysMemModel::memOpenFails() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return memFails_;
}

void PhysMemModel::setMsysFails(bool fails)
{
    std::lock_guard<std::mutex> lock(mutex_);
    msysFails_ = fails;
}

bool PhysMemModel::msysFails() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return msysFails_;
}

} // namespace sim
