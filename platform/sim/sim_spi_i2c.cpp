// SPI and I2C of the simulated board. Descriptors are virtual numbers far
// above real descriptors; each remembers its node and (for SPI) its settings.
#include "platform/backends.h"
#include "sim/board.h"
#include "sim/i2c_bus.h"
#include "sim/spi_bus.h"

#include <cerrno>
#include <map>
#include <mutex>
#include <vector>

namespace platform {
namespace simboard {
namespace {

constexpr int kFirstSpiFd = 0x40000000;
constexpr int kFirstI2cFd = 0x48000000;
const char* const kI2cNode = "/dev/i2c-0";

// "/dev/spidevB.C": a chip-select node of the bus. It opens whether or not
// a device model is attached there; a message to it fails without one.
bool isSpidevNode(const std::string& sys)
{
    const std::string prefix = "/dev/spidev";
    if (sys.compare(0, prefix.size(), prefix) != 0)
        return false;
    const std::string rest = sys.substr(prefix.size());
    const size_t dot = rest.find('.');
    auto digits = [](const std::string& s) {
        return !s.empty() && s.size() <= 6 && s.find_first_not_of("0123456789") == std::string::npos;
    };
    return dot != std::string::npos && digits(rest.substr(0, dot)) && digits(rest.substr(dot + 1));
}

class SimSpi : public Spi {
public:
    int open(const std::string& node) override
    {
        std::string sys;
        if (!normaliseSystemPath(node, sys) || !(isSpidevNode(sys) || sim::Board::instance().spi().hasNode(sys))) {
            errno = ENOENT;
            return -1;
        }
        std::lock_guard<std::mutex> lock(mutex_);
        const int fd = next_++;
        Handle& h = handles_[fd];
        h.node = sys;
        return fd;
    }

    int close(int fd) override
    {
        std::lock_guard<std::mutex> lock(mutex_);
        return handles_.erase(fd) ? 0 : badDescriptor();
    }

    int setMode(int fd, uint8_t mode) override
    {
        return update(fd, [mode](Handle& h) { h.mode = mode; });
    }
    int getMode(int fd, uint8_t& mode) override
    {
        return update(fd, [&mode](Handle& h) { mode = h.mode; });
    }
    int setBitsPerWord(int fd, uint8_t bits) override
    {
        if (bits > 32) {
            errno = EINVAL;
            return -1;
        }
        return update(fd, [bits](Handle& h) { h.bits = bits ? bits : 8; });
    }
    int getBitsPerWord(int fd, uint8_t& bits) override
    {
        return update(fd, [&bits](Handle& h) { bits = h.bits; });
    }
    int setMaxSpeed(int fd, uint32_t hz) override
    {
        return update(fd, [hz](Handle& h) { h.speed = hz; });
    }
    int getMaxSpeed(int fd, uint32_t& hz) override
    {
        return update(fd, [&hz](Handle& h) { hz = h.speed; });
    }

    int message(int fd, const SpiTransfer* transfers, unsigned n) override
    {
        Handle h;
        if (update(fd, [&h](Handle& found) { h = found; }) < 0)
            return -1;
        if (n == 0)
            return 0;
        if (!transfers) {
            errno = EINVAL;
            return -1;
        }
        std::vector<const uint8_t*> tx(n);
        std::vector<uint8_t*> rx(n);
        std::vector<uint32_t> len(n), speed(n);
        uint64_t total = 0;
        for (unsigned i = 0; i < n; ++i) {
            tx[i] = transfers[i].tx;
            rx[i] = transfers[i].rx;
            len[i] = transfers[i].len;
            speed[i] = transfers[i].speedHz ? transfers[i].speedHz : h.speed;
            total += transfers[i].len;
        }
        if (total > 0x7FFFFFFF) {
            errno = EMSGSIZE;
            return -1;
        }
        if (!sim::Board::instance().spi().message(h.node, tx, rx, len, speed)) {
            errno = ENODEV;
            return -1;
        }
        return static_cast<int>(total);
    }

private:
    struct Handle {
        std::string node;
        uint8_t mode = 0;
        uint8_t bits = 8;
        uint32_t speed = 1000000;
    };

    template <typename F>
    int update(int fd, F f)
    {
        std::lock_guard<std::mutex> lock(mutex_);
        auto it = handles_.find(fd);
        if (it == handles_.end())
            return badDescriptor();
        f(it->second);
        return 0;
    }
    static int badDescriptor()
    {
        errno = EBADF;
        return -1;
    }

    std::mutex mutex_;
    std::map<int, Handle> handles_;
    int next_ = kFirstSpiFd;
};

class SimI2c : public I2c {
public:
    int open(const std::string& node) override
    {
        std::string sys;
        if (!normaliseSystemPath(node, sys) || sys != kI2cNode) {
            errno = ENOENT;
            return -1;
        }
        std::lock_guard<std::mutex> lock(mutex_);
        const int fd = next_++;
        open_[fd] = sys;
        return fd;
    }

    int close(int fd) override
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (open_.erase(fd))
            return 0;
        errno = EBADF;
        return -1;
    }

    int transfer(int fd, I2cMessage* messages, unsigned n) override
    {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (!open_.count(fd)) {
                errno = EBADF;
                return -1;
            }
        }
        // The i2c-dev limits of the kernel.
        if (!messages || n == 0 || n > 42) {
            errno = EINVAL;
            return -1;
        }
        std::vector<sim::I2cBusModel::Message> msgs;
        msgs.reserve(n);
        for (unsigned i = 0; i < n; ++i) {
            if (messages[i].len > 8192 || (messages[i].len > 0 && !messages[i].buf)) {
                errno = EINVAL;
                return -1;
            }
            msgs.push_back({messages[i].addr, (messages[i].flags & I2cMessage::Read) != 0, messages[i].buf,
                            messages[i].len});
        }
        if (!sim::Board::instance().i2c().transfer(msgs)) {
            errno = ENXIO;
            return -1;
        }
        return static_cast<int>(n);
    }

private:
    std::mutex mutex_;
    std::map<int, std::string> open_;
    int next_ = kFirstI2cFd;
};

} // namespace

Spi& spi()
{
    static SimSpi instance;
    return instance;
}

I2c& i2c()
{
    static SimI2c instance;
    return instance;
}

} // namespace simboard
} // namespace platform
