// Serial ports as pseudo-terminals: the program holds the master side, and
// the slave side is linked as <root>/dev/ttySn so that a test (or a person
// with a terminal program) can speak to the port.
#pragma once

#include <map>
#include <mutex>
#include <string>
#include <thread>

namespace sim {

class SerialModel {
public:
    ~SerialModel();
    // Opens a pseudo-terminal for the node ("/dev/ttyS2"), links its slave
    // under the board root (replacing an older link) and returns the master
    // descriptor (or -1). As on a UART with nothing attached, what the
    // program sends while no peer has the port open is dropped (within a
    // tenth of a second), so the program's writes never block on a full
    // terminal.
    int open(const std::string& node);
    // Closes the master and removes the link when it is still this port's.
    int close(int fd);
    // The path a test opens to reach the port (the link under the root).
    std::string peerPath(const std::string& node) const;

private:
    void closePort(int fd);
    void drainLoop();
    void readNotifications();

    struct Port {
        std::string node;
        std::string slaveName;     // /dev/pts/N
        std::string link;          // <root>/dev/ttySn
        int slaveKeepAlive = -1;   // keeps the master readable with no peer
        int watch = -1;            // inotify watch on the slave (opens, closes)
        int peers = 0;             // peers that have the slave open
    };
    std::mutex mutex_;
    std::map<int, Port> ports_;
    int notifyFd_ = -1;
    int wakeFd_ = -1;
    std::thread drainer_;
};

} // namespace sim
