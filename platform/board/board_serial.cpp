// Serial ports on the device: raw 8N1 at the asked rate with RTS raised.
#include "platform/backends.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace platform {
namespace board {
namespace {

// The termios speed for a rate in baud; 115200 for a rate it does not know.
speed_t serialSpeed(uint32_t baud)
{
    switch (baud) {
    case 1200: return B1200;
    case 2400: return B2400;
    case 4800: return B4800;
    case 9600: return B9600;
    case 19200: return B19200;
    case 38400: return B38400;
    case 57600: return B57600;
    case 115200: return B115200;
    case 230400: return B230400;
    case 460800: return B460800;
    case 500000: return B500000;
    case 576000: return B576000;
    case 921600: return B921600;
    case 1000000: return B1000000;
    case 1500000: return B1500000;
    case 2000000: return B2000000;
    case 3000000: return B3000000;
    default: return B115200;
    }
}

// Puts an open terminal into raw 8N1 at the given rate; 0 or -1.
int configureSerial(int fd, uint32_t baud)
{
    termios tio{};
    if (::tcgetattr(fd, &tio) < 0)
        return -1;
    ::cfmakeraw(&tio);
    tio.c_cflag &= ~(CSIZE | PARENB | CSTOPB | CRTSCTS);
    tio.c_cflag |= CS8 | CLOCAL | CREAD;
    tio.c_iflag &= ~(IXON | IXOFF | IXANY);
    tio.c_cc[VMIN] = 1;
    tio.c_cc[VTIME] = 0;
    const speed_t speed = serialSpeed(baud);
    if (::cfsetispeed(&tio, speed) < 0 || ::cfsetospeed(&tio, speed) < 0)
        return -1;
    if (::tcsetattr(fd, TCSANOW, &tio) < 0)
        return -1;
    ::tcflush(fd, TCIOFLUSH);
    return 0;
}

class BoardSerial : public Serial {
public:
    int open(const std::string& node, uint32_t baud) override
    {
        int fd;
        do {
            fd = ::open(node.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
        } while (fd < 0 && errno == EINTR);
        if (fd < 0)
            return -1;
        if (configureSerial(fd, baud) < 0) {
            const int saved = errno;
            ::close(fd);
            errno = saved;
            return -1;
        }
        // Not every UART has an RTS line; the port works without it.
        int bits = TIOCM_RTS;
        ::ioctl(fd, TIOCMBIS, &bits);
        return fd;
    }

    int close(int fd) override { return ::close(fd); }
};

} // namespace

Serial& serial()
{
    static BoardSerial instance;
    return instance;
}

} // namespace board
} // namespace platform
