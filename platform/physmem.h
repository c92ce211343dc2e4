// The physical-memory window of the system-on-chip (/dev/mem), reached as
// 16-bit registers, and the /dev/msys request that tells where the register
// window lies.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

namespace platform {

class MemWindow {
public:
    virtual ~MemWindow() = default;
    virtual uint16_t read16(size_t offset) = 0;
    virtual void write16(size_t offset, uint16_t value) = 0;
    virtual size_t length() const = 0;
};

struct MsysRegion {
    uint32_t physBase = 0;
    uint32_t length = 0;
};

class PhysMem {
public:
    virtual ~PhysMem() = default;
    // Maps length bytes from physical address base; null when /dev/mem cannot
    // be opened or mapped. Accesses outside the window are ignored (reads 0).
    virtual std::unique_ptr<MemWindow> map(uint32_t physBase, size_t length) = 0;
    // The /dev/msys memory request (code 0x5315); false when it fails.
    virtual bool msysRequest(MsysRegion& region) = 0;
};

} // namespace platform
