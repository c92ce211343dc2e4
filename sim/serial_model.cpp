#include "sim/serial_model.h"

#include "platform/board_root.h"
#include "sim/board.h"
#include "sim/host_fs.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace sim {

SerialModel::~SerialModel()
{
    if (drainer_.joinable()) {
        const uint64_t one = 1;
        if (::write(wakeFd_, &one, sizeof(one)) < 0) {
            // A fresh counter always takes the write.
        }
        drainer_.join();
    }
    std::lock_guard<std::mutex> lock(mutex_);
    while (!ports_.empty())
        closePort(ports_.begin()->first);
    if (notifyFd_ >= 0)
        ::close(notifyFd_);
    if (wakeFd_ >= 0)
        ::close(wakeFd_);
}

void SerialModel::readNotifications()
{
    alignas(inotify_event) char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(notifyFd_, buffer, sizeof(buffer));
        if (n <= 0)
            return;
        for (ssize_t off = 0; off + static_cast<ssize_t>(sizeof(inotify_event)) <= n;) {
            const auto* ev = reinterpret_cast<const inotify_event*>(buffer + off);
            for (auto& kv : ports_) {
                Port& port = kv.second;
                if (port.watch != ev->wd)
                    continue;
                if (ev->mask & IN_OPEN)
                    ++port.peers;
                if ((ev->mask & IN_CLOSE) && port.peers > 0)
                    --port.peers;
            }
            off += static_cast<ssize_t>(sizeof(inotify_event) + ev->len);
        }
    }
}

void SerialModel::drainLoop()
{
    pthread_setname_np(pthread_self(), "sim-serial");
    for (;;) {
        pollfd p[2] = {{notifyFd_, POLLIN, 0}, {wakeFd_, POLLIN, 0}};
        const int r = ::poll(p, 2, 100);
        if (r < 0 && errno != EINTR)
            return;
        if (r > 0 && p[1].revents)
            return;
        std::lock_guard<std::mutex> lock(mutex_);
        // Opens are counted before anything is dropped: a peer that has just
        // opened the port gets everything written after its open.
        readNotifications();
        for (auto& kv : ports_) {
            if (kv.second.watch >= 0 && kv.second.peers == 0)
                ::tcflush(kv.second.slaveKeepAlive, TCIFLUSH);
        }
    }
}

int SerialModel::open(const std::string& node)
{
    if (!boardRootUsable())
        return -1;
    std::string sysNode;
    if (node.empty() || node[0] != '/' || !platform::normaliseSystemPath(node, sysNode) || sysNode == "/")
        return -1;
    std::string rootReal;
    if (!hostfs::realPath(platform::boardRoot(), rootReal))
        return -1;
    const std::string link = platform::boardPath(sysNode);
    if (!hostfs::makeDirs(rootReal, hostfs::dirName(link)))
        return -1;

    const int master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master < 0)
        return -1;
    char name[128];
    int slave = -1;
    if (::grantpt(master) == 0 && ::unlockpt(master) == 0 && ::ptsname_r(master, name, sizeof(name)) == 0)
        slave = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    termios tio{};
    if (slave < 0 || ::tcgetattr(slave, &tio) < 0) {
        if (slave >= 0)
            ::close(slave);
        ::close(master);
        return -1;
    }
    // The line is raw in both directions: no echo, no line editing, no
    // newline translation.
    ::cfmakeraw(&tio);
    tio.c_cc[VMIN] = 1;
    tio.c_cc[VTIME] = 0;
    ::tcsetattr(slave, TCSANOW, &tio);

    struct stat st;
    if (::lstat(link.c_str(), &st) == 0) {
        if (S_ISDIR(st.st_mode) || ::unlink(link.c_str()) < 0) {
            ::close(slave);
            ::close(master);
            return -1;
        }
    }
    if (::symlink(name, link.c_str()) < 0) {
        ::close(slave);
        ::close(master);
        return -1;
    }
    std::lock_guard<std::mutex> lock(mutex_);
    if (notifyFd_ < 0) {
        notifyFd_ = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
        wakeFd_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
        if (notifyFd_ >= 0 && wakeFd_ >= 0)
            drainer_ = std::thread(&SerialModel::drainLoop, this);
    }
    readNotifications();   // settle the counts of the other ports first
    Port& port = ports_[master];
    port.node = sysNode;
    port.slaveName = name;
    port.link = link;
    port.slaveKeepAlive = slave;
    // Without a watch nobody knows whether a peer listens: nothing is dropped.
    if (drainer_.joinable())
        port.watch = ::inotify_add_watch(notifyFd_, name, IN_OPEN | IN_CLOSE);
    return master;
}

void SerialModel::closePort(int fd)
{
    auto it = ports_.find(fd);
    if (it == ports_.end())
        return;
    if (it->second.watch >= 0) {
        readNotifications();
        bool shared = false;   // the same watch serves another port
        for (const auto& kv : ports_)
            shared = shared || (kv.first != fd && kv.second.watch == it->second.watch);
        if (!shared)
            ::inotify_rm_watch(notifyFd_, it->second.watch);
    }
    char target[256];
    const ssize_t n = ::readlink(it->second.link.c_str(), target, sizeof(target) - 1);
    if (n > 0 && std::string(target, static_cast<size_t>(n)) == it->second.slaveName)
        ::unlink(it->second.link.c_str());
    if (it->second.slaveKeepAlive >= 0)
        ::close(it->second.slaveKeepAlive);
    ::close(fd);
    ports_.erase(it);
}

int SerialModel::close(int fd)
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (ports_.find(fd) == ports_.end())
        return -1;
    closePort(fd);
    return 0;
}

std::string SerialModel::peerPath(const std::string& node) const
{
    std::string sysNode;
    if (!platform::normaliseSystemPath(node, sysNode))
        return std::string();
    return platform::boardPath(sysNode);
}

} // namespace sim
