// Flash partitions of the simulated board: the partition files under the
// board root with the geometry, erase and write rules of the flash.
#include "platform/backends.h"
#include "sim/board.h"
#include "sim/mtd_model.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <map>
#include <mutex>
#include <unistd.h>
#include <vector>

namespace platform {
namespace simboard {
namespace {

bool fullPwrite(int fd, const uint8_t* data, size_t size, off_t offset)
{
    size_t done = 0;
    while (done < size) {
        const ssize_t n = ::pwrite(fd, data + done, size - done, offset + static_cast<off_t>(done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

bool fullPread(int fd, uint8_t* data, size_t size, off_t offset)
{
    size_t done = 0;
    while (done < size) {
        const ssize_t n = ::pread(fd, data + done, size - done, offset + static_cast<off_t>(done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return false;
        if (n == 0) {   // a short file reads as erased flash
            std::fill(data + done, data + size, 0xFF);
            return true;
        }
        done += static_cast<size_t>(n);
    }
    return true;
}

class SimMtd : public Mtd {
public:
    int open(const std::string& node) override
    {
        std::string sys;
        sim::MtdModel::Partition part;
        if (!sim::boardRootUsable() || !normaliseSystemPath(node, sys)
            || !sim::Board::instance().mtd().lookup(sys, part)) {
            errno = ENOENT;
            return -1;
        }
        const int fd = ::open(boardPath(sys).c_str(), O_RDWR | O_NOFOLLOW | O_CLOEXEC);
        if (fd < 0)
            return -1;
        std::lock_guard<std::mutex> lock(mutex_);
        handles_[fd] = Handle{sys, part};
        return fd;
    }

    int close(int fd) override
    {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (!handles_.erase(fd)) {
                errno = EBADF;
                return -1;
            }
        }
        return ::close(fd);
    }

    int getInfo(int fd, MtdInfo& info) override
    {
        Handle h;
        if (!find(fd, h) || failing(h, sim::MtdModel::Fault::GetInfo))
            return -1;
        info.type = 4;          // NAND flash
        info.flags = 0x400;     // writeable
        info.size = h.part.size;
        info.erasesize = h.part.erasesize;
        info.writesize = h.part.writesize;
        info.oobsize = 64;
        return 0;
    }

    int unlock(int fd, uint32_t start, uint32_t length) override
    {
        Handle h;
        if (!find(fd, h) || failing(h, sim::MtdModel::Fault::Unlock))
            return -1;
        if (static_cast<uint64_t>(start) + length > h.part.size) {
            errno = EINVAL;
            return -1;
        }
        return 0;
    }

    int erase(int fd, uint32_t start, uint32_t length) override
    {
        Handle h;
        if (!find(fd, h) || failing(h, sim::MtdModel::Fault::Erase))
            return -1;
        const uint32_t block = h.part.erasesize;
        if (length == 0 || block == 0 || start % block != 0 || length % block != 0
            || static_cast<uint64_t>(start) + length > h.part.size) {
            errno = EINVAL;
            return -1;
        }
        const std::vector<uint8_t> blank(block, 0xFF);
        for (uint32_t off = 0; off < length; off += block) {
            if (!fullPwrite(fd, blank.data(), blank.size(), static_cast<off_t>(start) + off)) {
                errno = EIO;
                return -1;
            }
        }
        sim::Board::instance().mtd().countErase(h.node);
        return 0;
    }

    // Programming flash only clears bits: the partition keeps the AND of
    // what it held and what is written.
    ssize_t pwrite(int fd, const void* data, size_t size, off_t offset) override
    {
        Handle h;
        if (!find(fd, h) || failing(h, sim::MtdModel::Fault::Write))
            return -1;
        if (offset < 0 || (size > 0 && !data) || static_cast<uint64_t>(offset) > h.part.size
            || size > h.part.size - static_cast<uint64_t>(offset)) {
            errno = offset < 0 || !data ? EINVAL : ENOSPC;
            return -1;
        }
        if (size == 0)
            return 0;
        std::vector<uint8_t> cells(size);
        if (!fullPread(fd, cells.data(), size, offset)) {
            errno = EIO;
            return -1;
        }
        const uint8_t* in = static_cast<const uint8_t*>(data);
        for (size_t i = 0; i < size; ++i)
            cells[i] &= in[i];
        if (!fullPwrite(fd, cells.data(), size, offset)) {
            errno = EIO;
            return -1;
        }
        return static_cast<ssize_t>(size);
    }

    ssize_t pread(int fd, void* data, size_t size, off_t offset) override
    {
        Handle h;
        if (!find(fd, h))
            return -1;
        if (offset < 0 || (size > 0 && !data)) {
            errno = EINVAL;
            return -1;
        }
        if (static_cast<uint64_t>(offset) >= h.part.size)
            return 0;
        const size_t n = static_cast<size_t>(std::min<uint64_t>(size, h.part.size - static_cast<uint64_t>(offset)));
        if (!fullPread(fd, static_cast<uint8_t*>(data), n, offset)) {
            errno = EIO;
            return -1;
        }
        return static_cast<ssize_t>(n);
    }

private:
    struct Handle {
        std::string node;
        sim::MtdModel::Partition part;
    };

    bool find(int fd, Handle& out)
    {
        std::lock_guard<std::mutex> lock(mutex_);
        auto it = handles_.find(fd);
        if (it == handles_.end()) {
            errno = EBADF;
            return false;
        }
        out = it->second;
        return true;
    }

    static bool failing(const Handle& h, sim::MtdModel::Fault fault)
    {
        if (sim::Board::instance().mtd().fault(h.node) != fault)
            return false;
        errno = EIO;
        return true;
    }

    std::mutex mutex_;
    std::map<int, Handle> handles_;
};

} // namespace

Mtd& mtd()
{
    static SimMtd instance;
    return instance;
}

} // namespace simboard
} // namespace platform
