// MTD flash partitions (/dev/mtdN): geometry, unlock, erase and raw writes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <sys/types.h>

namespace platform {

struct MtdInfo {
    uint8_t type = 0;
    uint32_t flags = 0;
    uint32_t size = 0;
    uint32_t erasesize = 0;
    uint32_t writesize = 0;
    uint32_t oobsize = 0;
};

class Mtd {
public:
    virtual ~Mtd() = default;
    virtual int open(const std::string& node) = 0;          // descriptor or -1
    virtual int close(int fd) = 0;
    virtual int getInfo(int fd, MtdInfo& info) = 0;         // MEMGETINFO: 0 or -1
    virtual int unlock(int fd, uint32_t start, uint32_t length) = 0;  // MEMUNLOCK
    virtual int erase(int fd, uint32_t start, uint32_t length) = 0;   // MEMERASE
    virtual ssize_t pwrite(int fd, const void* data, size_t size, off_t offset) = 0;
    virtual ssize_t pread(int fd, void* data, size_t size, off_t offset) = 0;
};

} // namespace platform
