// MTD flash partitions on the device (mtdchar ioctls).
#include "platform/backends.h"

#include <cerrno>
#include <fcntl.h>
#include <mtd/mtd-user.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace platform {
namespace board {
namespace {

class BoardMtd : public Mtd {
public:
    int open(const std::string& node) override
    {
        int fd;
        do {
            fd = ::open(node.c_str(), O_RDWR | O_SYNC | O_CLOEXEC);
        } while (fd < 0 && errno == EINTR);
        return fd;
    }
    int close(int fd) override { return ::close(fd); }

    int getInfo(int fd, MtdInfo& info) override
    {
        mtd_info_user mi{};
        if (::ioctl(fd, MEMGETINFO, &mi) < 0)
            return -1;
        info.type = mi.type;
        info.flags = mi.flags;
        info.size = mi.size;
        info.erasesize = mi.erasesize;
        info.writesize = mi.writesize;
        info.oobsize = mi.oobsize;
        return 0;
    }

    int unlock(int fd, uint32_t start, uint32_t length) override
    {
        erase_info_user ei{start, length};
        return ::ioctl(fd, MEMUNLOCK, &ei) < 0 ? -1 : 0;
    }

    int erase(int fd, uint32_t start, uint32_t length) override
    {
        erase_info_user ei{start, length};
        return ::ioctl(fd, MEMERASE, &ei) < 0 ? -1 : 0;
    }

    // Writes everything or fails; a short write is continued.
    ssize_t pwrite(int fd, const void* data, size_t size, off_t offset) override
    {
        const uint8_t* p = static_cast<const uint8_t*>(data);
        size_t done = 0;
        while (done < size) {
            const ssize_t n = ::pwrite(fd, p + done, size - done, offset + static_cast<off_t>(done));
            if (n < 0) {
                if (errno == EINTR)
                    continue;
                return -1;
            }
            if (n == 0) {
                errno = ENOSPC;
                return -1;
            }
            done += static_cast<size_t>(n);
        }
        return static_cast<ssize_t>(done);
    }

    ssize_t pread(int fd, void* data, size_t size, off_t offset) override
    {
        ssize_t n;
        do {
            n = ::pread(fd, data, size, offset);
        } while (n < 0 && errno == EINTR);
        return n;
    }
};

} // namespace

Mtd& mtd()
{
    static BoardMtd instance;
    return instance;
}

} // namespace board
} // namespace platform
