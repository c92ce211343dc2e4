// Serial ports, touch screen and hot-plug events of the simulated board.
#include "platform/backends.h"
#include "sim/board.h"
#include "sim/hotplug_model.h"
#include "sim/serial_model.h"
#include "sim/touch_model.h"

#include <cerrno>

namespace platform {
namespace simboard {
namespace {

class SimSerial : public Serial {
public:
    // The rate has no meaning on a pseudo-terminal.
    int open(const std::string& node, uint32_t) override
    {
        return sim::Board::instance().serial().open(node);
    }
    int close(int fd) override { return sim::Board::instance().serial().close(fd); }
};

class SimTouch : public TouchInput {
public:
    int open(const std::string& node) override
    {
        std::string sys;
        if (!normaliseSystemPath(node, sys) || sys.compare(0, 16, "/dev/input/event") != 0 || sys.size() == 16) {
            errno = ENOENT;
            return -1;
        }
        return sim::Board::instance().touch().open();
    }
    int close(int fd) override { return sim::Board::instance().touch().close(fd); }
    int readEvent(int fd, TouchEvent& event, int timeoutMs) override
    {
        return sim::Board::instance().touch().readEvent(fd, event, timeoutMs);
    }
};

class SimHotplug : public Hotplug {
public:
    int open() override { return sim::Board::instance().hotplug().open(); }
    int close(int fd) override { return sim::Board::instance().hotplug().close(fd); }
    ssize_t receive(int fd, char* buffer, size_t size, int timeoutMs) override
    {
        return sim::Board::instance().hotplug().receive(fd, buffer, size, timeoutMs);
    }
};

} // namespace

Serial& serial()
{
    static SimSerial instance;
    return instance;
}

TouchInput& touch()
{
    static SimTouch instance;
    return instance;
}

Hotplug& hotplug()
{
    static SimHotplug instance;
    return instance;
}

} // namespace simboard
} // namespace platform
