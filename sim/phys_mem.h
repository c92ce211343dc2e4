// The system-on-chip's physical register space as the simulated board has
// it: sparse 16-bit registers that read back what was written, with reset
// values, read and write hooks for registers that model hardware (GPIO pads,
// the unique-id registers) and switches that make /dev/mem or /dev/msys fail.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <mutex>

namespace sim {

class PhysMemModel {
public:
    // Physical base and length of the register window (RIU) that both the
    // unique-id read and the GPIO mapping use.
    static constexpr uint32_t kRiuBase = 0x1F000000;
    static constexpr uint32_t kRiuLength = 0x2B0000;
    // Unique-id registers, offsets from kRiuBase.
    static constexpr uint32_t kUidCtrl = 0x400C;
    static constexpr uint32_t kUidA = 0x4058;
    static constexpr uint32_t kUidB = 0x405C;
    static constexpr uint32_t kUidC = 0x4060;

    PhysMemModel();

    uint16_t read16(uint32_t phys);
    void write16(uint32_t phys, uint16_t value);

    // Value a register holds before anything writes it (default 0).
    void setResetValue(uint32_t phys, uint16_t value);
    // Called after every write of the register (value as written).
    void onWrite(uint32_t phys, std::function<void(uint16_t)> hook);
    // Supplies the value every read of the register returns (input pads,
    // status bits); replaces what was written or the reset value.
    void onRead(uint32_t phys, std::function<uint16_t()> hook);

    // The SoC unique id served at kUidA/B/C (read-only registers).
    // Default 0x1234, 0x5678, 0x9ABC.
    void setUniqueId(uint16_t a, uint16_t b, uint16_t c);

    // GPIO pad level: bit 4 of the pad register (0x0010 drives high).
    bool padHigh(uint32_t offsetFromRiu);

    // Failure switches.
    void setMemOpenFails(bool fails);
    bool memOpenFails() const;
    void setMsysFails(bool fails);
    bool msysFails() const;

private:
    mutable std::mutex mutex_;
    std::map<uint32_t, uint16_t> regs_;
    std::map<uint32_t, uint16_t> reset_;
    std::map<uint32_t, std::function<void(uint16_t)>> hooks_;
    std::map<uint32_t, std::function<uint16_t()>> readHooks_;
    uint16_t uid_[3] = {0x1234, 0x5678, 0x9ABC};
    bool memFails_ = false;
    bool msysFails_ = false;
};

} // namespace sim
