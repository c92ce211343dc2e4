// Physical memory of the simulated board: windows onto the register model.
#include "platform/backends.h"
#include "sim/board.h"
#include "sim/phys_mem.h"

namespace platform {
namespace simboard {
namespace {

// Every access goes to the register model of the current board, so a window
// kept across a board reset never reaches a model that is gone.
class SimWindow : public MemWindow {
public:
    SimWindow(uint32_t physBase, size_t length) : base_(physBase), length_(length) {}

    uint16_t read16(size_t offset) override
    {
        if (!valid(offset))
            return 0;
        return sim::Board::instance().mem().read16(base_ + static_cast<uint32_t>(offset));
    }
    void write16(size_t offset, uint16_t value) override
    {
        if (valid(offset))
            sim::Board::instance().mem().write16(base_ + static_cast<uint32_t>(offset), value);
    }
    size_t length() const override { return length_; }

private:
    // As on the device: 16-bit aligned accesses inside the window only.
    bool valid(size_t offset) const
    {
        return (offset & 1) == 0 && length_ >= 2 && offset <= length_ - 2;
    }

    uint32_t base_;
    size_t length_;
};

class SimPhysMem : public PhysMem {
public:
    std::unique_ptr<MemWindow> map(uint32_t physBase, size_t length) override
    {
        if (length == 0 || length > 0x100000000ull - physBase)
            return nullptr;   // beyond the 32-bit physical space
        if (sim::Board::instance().mem().memOpenFails())
            return nullptr;
        return std::make_unique<SimWindow>(physBase, length);
    }

    bool msysRequest(MsysRegion& region) override
    {
        if (sim::Board::instance().mem().msysFails())
            return false;
        region.physBase = sim::PhysMemModel::kRiuBase;
        region.length = sim::PhysMemModel::kRiuLength;
        return true;
    }
};

} // namespace

PhysMem& physMem()
{
    static SimPhysMem instance;
    return instance;
}

} // namespace simboard
} // namespace platform
