// Serial ports (/dev/ttySn): opened raw 8N1 with RTS raised. The descriptor
// that open() returns is read and written with the ordinary read()/write().
#pragma once

#include <cstdint>
#include <string>

namespace platform {

class Serial {
public:
    virtual ~Serial() = default;
    virtual int open(const std::string& node, uint32_t baud) = 0;  // descriptor or -1
    virtual int close(int fd) = 0;
};

} // namespace platform
