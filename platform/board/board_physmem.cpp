// Physical memory on the device: /dev/mem mapped shared and reached with
// volatile 16-bit accesses, and the /dev/msys request for the register
// window.
#include "platform/backends.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <unistd.h>

namespace platform {
namespace board {

// A window over mapped memory. base points at the first byte the caller
// asked for; the mapping itself (page aligned) is mapBase/mapLength and is
// unmapped with the window (mapBase null: memory the window does not own).
class MappedWindow : public MemWindow {
public:
    MappedWindow(volatile uint8_t* base, size_t length, void* mapBase, size_t mapLength)
        : base_(base), length_(length), mapBase_(mapBase), mapLength_(mapLength)
    {
    }
    ~MappedWindow() override
    {
        if (mapBase_)
            ::munmap(mapBase_, mapLength_);
    }

    // Registers are 16 bits wide and aligned; an odd or out-of-window offset
    // would fault on the bus, so it is ignored and reads 0.
    uint16_t read16(size_t offset) override
    {
        if (!valid(offset))
            return 0;
        return *reinterpret_cast<volatile uint16_t*>(base_ + offset);
    }
    void write16(size_t offset, uint16_t value) override
    {
        if (!valid(offset))
            return;
        *reinterpret_cast<volatile uint16_t*>(base_ + offset) = value;
    }
    size_t length() const override { return length_; }

private:
    bool valid(size_t offset) const
    {
        return (offset & 1) == 0 && length_ >= 2 && offset <= length_ - 2;
    }

    volatile uint8_t* base_;
    size_t length_;
    void* mapBase_;
    size_t mapLength_;
};

// A window over memory the caller owns (tests use it to check the bounds).
std::unique_ptr<MemWindow> windowOverMemory(void* memory, size_t length)
{
    if (!memory)
        return nullptr;
    return std::make_unique<MappedWindow>(static_cast<volatile uint8_t*>(memory), length, nullptr, 0);
}

namespace {

constexpr unsigned long kMsysRequestMemory = 0x5315;
constexpr uint32_t kMsysMagic = 0x4D530100;

class BoardPhysMem : public PhysMem {
public:
    std::unique_ptr<MemWindow> map(uint32_t physBase, size_t length) override
    {
        if (length == 0)
            return nullptr;
        const long page = ::sysconf(_SC_PAGESIZE);
        const uint64_t pageMask = static_cast<uint64_t>(page > 0 ? page : 4096) - 1;
        const uint64_t alignedBase = physBase & ~pageMask;
        const size_t delta = static_cast<size_t>(physBase - alignedBase);
        if (length > SIZE_MAX - delta)
            return nullptr;
        const size_t mapLength = length + delta;

        const int fd = ::open("/dev/mem", O_RDWR | O_SYNC | O_CLOEXEC);
        if (fd < 0)
            return nullptr;
        void* p = ::mmap(nullptr, mapLength, PROT_READ | PROT_WRITE, MAP_SHARED, fd,
                         static_cast<off_t>(alignedBase));
        ::close(fd);   // the mapping stays valid without the descriptor
        if (p == MAP_FAILED)
            return nullptr;
        return std::make_unique<MappedWindow>(static_cast<volatile uint8_t*>(p) + delta, length, p,
                                              mapLength);
    }

    bool msysRequest(MsysRegion& region) override
    {
        const int fd = ::open("/dev/msys", O_RDWR | O_CLOEXEC);
        if (fd < 0)
            return false;
        // Request record: magic/version, physical base, reserved, length,
        // record size. The driver fills in the base and the length.
        uint32_t record[5] = {kMsysMagic, 0, 0, 0, sizeof(record)};
        const int r = ::ioctl(fd, kMsysRequestMemory, record);
        ::close(fd);
        if (r < 0 || record[3] == 0)
            return false;
        region.physBase = record[1];
        region.length = record[3];
        return true;
    }
};

} // namespace

PhysMem& physMem()
{
    static BoardPhysMem instance;
    return instance;
}

} // namespace board
} // namespace platform
