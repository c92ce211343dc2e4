// Addresses the program's sockets use. On the device they bind to every
// interface and broadcast replies; on the simulated board they bind to
// 127.0.0.1 and a broadcast reply goes back to the sender's own address.
#pragma once

#include <netinet/in.h>

namespace platform {

class Net {
public:
    virtual ~Net() = default;
    // Address (network order) that server sockets bind to.
    virtual in_addr_t bindAddress() const = 0;
    // Whether sockets may set SO_BROADCAST.
    virtual bool broadcastAllowed() const = 0;
    // Where a reply the device broadcasts goes, given the sender's address.
    virtual sockaddr_in broadcastReplyTo(const sockaddr_in& sender) const = 0;
    // The port a server socket of the given device port binds to (0: any
    // free port, which the program then reports).
    virtual unsigned short listenPort(unsigned short devicePort) const { return devicePort; }
    // Whether the program stops when a port of the PC link cannot be opened
    // (another program on the machine holds it). The device goes on
    // without that port.
    virtual bool linkPortNeeded() const { return false; }
};

} // namespace platform
