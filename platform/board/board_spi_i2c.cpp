// SPI (spidev) and I2C (i2c-dev) buses on the device.
#include "platform/backends.h"

#include <cerrno>
#include <fcntl.h>
#include <linux/i2c-dev.h>
#include <linux/i2c.h>
#include <linux/spi/spidev.h>
#include <sys/ioctl.h>
#include <unistd.h>
#include <vector>

namespace platform {
namespace board {
namespace {

int openNode(const std::string& node)
{
    int fd;
    do {
        fd = ::open(node.c_str(), O_RDWR | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    return fd;
}

class BoardSpi : public Spi {
public:
    int open(const std::string& node) override { return openNode(node); }
    int close(int fd) override { return ::close(fd); }

    int setMode(int fd, uint8_t mode) override { return ioctlResult(::ioctl(fd, SPI_IOC_WR_MODE, &mode)); }
    int getMode(int fd, uint8_t& mode) override { return ioctlResult(::ioctl(fd, SPI_IOC_RD_MODE, &mode)); }
    int setBitsPerWord(int fd, uint8_t bits) override
    {
        return ioctlResult(::ioctl(fd, SPI_IOC_WR_BITS_PER_WORD, &bits));
    }
    int getBitsPerWord(int fd, uint8_t& bits) override
    {
        return ioctlResult(::ioctl(fd, SPI_IOC_RD_BITS_PER_WORD, &bits));
    }
    int setMaxSpeed(int fd, uint32_t hz) override
    {
        return ioctlResult(::ioctl(fd, SPI_IOC_WR_MAX_SPEED_HZ, &hz));
    }
    int getMaxSpeed(int fd, uint32_t& hz) override
    {
        return ioctlResult(::ioctl(fd, SPI_IOC_RD_MAX_SPEED_HZ, &hz));
    }

    int message(int fd, const SpiTransfer* transfers, unsigned n) override
    {
        if (n == 0)
            return 0;
        // The ioctl number carries the size of the transfer array in its
        // size field; a longer array cannot be expressed.
        const size_t maxTransfers = ((1u << _IOC_SIZEBITS) - 1) / sizeof(spi_ioc_transfer);
        if (!transfers || n > maxTransfers) {
            errno = EINVAL;
            return -1;
        }
        std::vector<spi_ioc_transfer> xfer(n);
        for (unsigned i = 0; i < n; ++i) {
            spi_ioc_transfer& x = xfer[i];
            x = spi_ioc_transfer{};
            x.tx_buf = reinterpret_cast<uintptr_t>(transfers[i].tx);
            x.rx_buf = reinterpret_cast<uintptr_t>(transfers[i].rx);
            x.len = transfers[i].len;
            x.speed_hz = transfers[i].speedHz;
            x.bits_per_word = transfers[i].bitsPerWord;
            x.delay_usecs = transfers[i].delayUsecs;
            x.cs_change = transfers[i].csChange ? 1 : 0;
        }
        return ::ioctl(fd, SPI_IOC_MESSAGE(n), xfer.data());
    }

private:
    static int ioctlResult(int r) { return r < 0 ? -1 : 0; }
};

class BoardI2c : public I2c {
public:
    int open(const std::string& node) override { return openNode(node); }
    int close(int fd) override { return ::close(fd); }

    int transfer(int fd, I2cMessage* messages, unsigned n) override
    {
        if (!messages || n == 0 || n > I2C_RDWR_IOCTL_MAX_MSGS) {
            errno = EINVAL;
            return -1;
        }
        std::vector<i2c_msg> msgs(n);
        for (unsigned i = 0; i < n; ++i) {
            if (messages[i].len > 0 && !messages[i].buf) {
                errno = EINVAL;
                return -1;
            }
            msgs[i].addr = messages[i].addr;
            msgs[i].flags = (messages[i].flags & I2cMessage::Read) ? I2C_M_RD : 0;
            msgs[i].len = messages[i].len;
            msgs[i].buf = messages[i].buf;
        }
        i2c_rdwr_ioctl_data data{};
        data.msgs = msgs.data();
        data.nmsgs = n;
        const int r = ::ioctl(fd, I2C_RDWR, &data);
        return r < 0 ? -1 : r;
    }
};

} // namespace

Spi& spi()
{
    static BoardSpi instance;
    return instance;
}

I2c& i2c()
{
    static BoardI2c instance;
    return instance;
}

} // namespace board
} // namespace platform
