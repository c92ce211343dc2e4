#include "sim/c331_sflash.h"

#include "sim/c331_fonts.h"
#include "sim/sim_clock.h"

#include <algorithm>

namespace sim {
namespace {

constexpr uint8_t kControl = 0x47;
constexpr uint8_t kTrigger = 0x48;
constexpr uint8_t kEraseCommand = 0x4B;
constexpr uint8_t kAddress = 0x4E;
constexpr uint8_t kAddressLast = 0x51;
constexpr uint8_t kData = 0x52;
constexpr uint8_t kReadControl = 0x53;
constexpr uint8_t kStatus = 0x54;
constexpr uint8_t kFlashStatus = 0x55;
constexpr uint8_t kDmaLength = 0x56;
constexpr uint8_t kDmaTarget = 0x5A;
constexpr uint8_t kAccessMode = 0x5F;
constexpr uint8_t kMemoryDest = 0x11;
constexpr uint8_t kGlyphDest = 0x27;
constexpr uint8_t kColourBank = 9;
constexpr uint8_t kColourDest = 0x1F;
constexpr uint8_t kBank = 4;

uint32_t reg32(uint8_t (*regs)[128], uint8_t addr)
{
    uint32_t v = 0;
    for (int i = 3; i >= 0; --i)
        v = (v << 8) | regs[kBank][(addr + i) & 0x7F];
    return v;
}

// A status countdown: set while it runs, one poll less per read.
// Whether a busy bit set until the board time until is still set.
bool poll(uint64_t until)
{
    return SimClock::instance().nowUs() < until;
}

} // namespace

SparseImage& C331FlashController::flash()
{
    if (!flash_) {
        flash_ = std::make_unique<SparseImage>(kFlashSize, 0xFF, file_);
        if (!flash_->fileExisted())
            c331_fonts::writeAll(*flash_);
    }
    return *flash_;
}

SparseImage& C331FlashController::memory()
{
    if (!memory_)
        memory_ = std::make_unique<SparseImage>(kMemorySize, 0xFF);
    return *memory_;
}

void C331FlashController::written(uint8_t (*regs)[128], uint8_t addr, uint8_t value)
{
    switch (addr) {
    case kControl:
        if (value == 0x80) {
            buffer_.clear();     // a controller reset drops unprogrammed bytes
            readBusy_ = 0;
        }
        break;
    case kAddressLast: {
        const bool program = regs[kBank][kAccessMode] == 1 && regs[kBank][kControl] == 0x31;
        if (program && !buffer_.empty())
            commitPage();
        buffer_.clear();
        pageAddress_ = reg32(regs, kAddress);
        break;
    }
    case kData:
        if (buffer_.size() < 0x10000)
            buffer_.push_back(value);
        break;
    case kReadControl:
        if (value & 1) {
            readPointer_ = reg32(regs, kAddress);
            readBusy_ = busyFor(kReadStartUs);
        }
        break;
    case kTrigger:
        if (value == 2)
            dma(regs);
        else if (value == 4)
            erase(regs);
        else if (value == 5)
            command(regs[kBank][kEraseCommand]);
        break;
    default:
        break;
    }
}

bool C331FlashController::read(uint8_t (*regs)[128], uint8_t addr, uint8_t& value)
{
    (void)regs;
    switch (addr) {
    case kData: {
        const bool busy = poll(readBusy_);
        value = busy ? 0xFF : flash().get(readPointer_ % kFlashSize);
        if (!busy)
            ++readPointer_;
        return true;
    }
    case kReadControl:
        value = static_cast<uint8_t>((poll(readBusy_) ? 0x80 : 0) | (buffer_.empty() ? 0x20 : 0));
        return true;
    case kStatus:
        value = static_cast<uint8_t>((poll(dmaBusy_) ? 0x01 : 0) | (poll(programBusy_) ? 0x02 : 0) |
                                     (poll(eraseBusy_) ? 0x08 : 0));
        return true;
    case kFlashStatus:
        value = static_cast<uint8_t>((poll(wip_) ? 0x01 : 0) | (wel_ ? 0x02 : 0));
        return true;
    default:
        return false;
    }
}

uint64_t C331FlashController::busyFor(uint64_t us) const
{
    return stuck ? UINT64_MAX : SimClock::instance().nowUs() + us;
}

void C331FlashController::commitPage()
{
    programBusy_ = wip_ = busyFor(kPageProgramUs);
    wel_ = welLeft || stuck;
    if (stuck)
        return;
    const uint32_t page = pageAddress_ & ~0xFFu & (kFlashSize - 1);
    for (size_t k = 0; k < buffer_.size(); ++k) {
        const uint8_t b = buffer_[k];
        flash().andWrite(page | ((pageAddress_ + k) & 0xFF), &b, 1);
    }
    ops_.push_back({'P', pageAddress_, static_cast<uint32_t>(buffer_.size()), 0, 0});
}

void C331FlashController::erase(uint8_t (*regs)[128])
{
    if (regs[kBank][kAccessMode] != 1 || regs[kBank][kControl] != 0x01)
        return;
    const uint8_t cmd = regs[kBank][kEraseCommand];
    const uint32_t unit = cmd == 0x20 ? 0x1000 : cmd == 0x52 ? 0x8000 : cmd == 0xD8 ? 0x10000 : 0;
    if (!unit)
        return;
    eraseBusy_ = wip_ = busyFor(eraseUs(unit));
    wel_ = welLeft || stuck;
    if (stuck)
        return;
    const uint32_t address = reg32(regs, kAddress) & (kFlashSize - 1) & ~(unit - 1);
    flash().fill(address, unit, 0xFF);
    ops_.push_back({'E', address, unit, 0, 0});
}

void C331FlashController::command(uint8_t opcode)
{
    if (stuck)
        return;
    if (opcode == 0x04)
        wel_ = false;
    else if (opcode == 0x06)
        wel_ = true;
    ops_.push_back({'C', 0, opcode, 0, 0});
}

void C331FlashController::dma(uint8_t (*regs)[128])
{
    const uint32_t lengthWord = reg32(regs, kDmaLength);
    if (regs[kBank][kAccessMode] != 2 || !(lengthWord & 0x80000000u))
        return;
    dmaBusy_ = busyFor(dmaUs(lengthWord & 0x7FFFFFFFu));
    if (stuck)
        return;
    const uint32_t source = reg32(regs, kAddress);
    const uint32_t length = lengthWord & 0x7FFFFFFFu;
    const uint32_t target = regs[kBank][kDmaTarget] & 15;
    uint32_t dest = 0;
    if (target == 0) {
        dest = reg32(regs, kMemoryDest);
        memory().copyFrom(flash(), source, dest, length);
    } else if (target == 1 || target == 4) {
        std::vector<uint8_t>& store = target == 1 ? glyph_ : colour_;
        dest = target == 1 ? (regs[kBank][kGlyphDest] | (regs[kBank][kGlyphDest + 1] << 8)) : regs[kColourBank][kColourDest];
        const uint32_t at = dest * (target == 1 ? 2 : kColourEntryBytes);
        if (at < store.size()) {
            std::vector<uint8_t> bytes(std::min<uint32_t>(length, static_cast<uint32_t>(store.size()) - at));
            flash().read(source, bytes.data(), static_cast<uint32_t>(bytes.size()));
            std::copy(bytes.begin(), bytes.end(), store.begin() + at);
        }
    }
    ops_.push_back({'D', source, length, target, dest});
}

} // namespace sim
