// Network addresses of the simulated board: loopback only, no broadcast.
#include "platform/backends.h"

#include <arpa/inet.h>
#include <cstdlib>
#include <cstring>

namespace platform {
namespace simboard {
namespace {

class SimNet : public Net {
public:
    in_addr_t bindAddress() const override { return htonl(INADDR_LOOPBACK); }
    bool broadcastAllowed() const override { return false; }
    // The reply goes back to the sender itself. Only loopback senders can
    // reach sockets bound to 127.0.0.1; anything else is sent to 127.0.0.1
    // so that nothing ever leaves the machine.
    sockaddr_in broadcastReplyTo(const sockaddr_in& sender) const override
    {
        sockaddr_in to;
        std::memset(&to, 0, sizeof(to));
        to.sin_family = AF_INET;
        to.sin_port = sender.sin_port;
        const uint32_t addr = ntohl(sender.sin_addr.s_addr);
        to.sin_addr.s_addr = (addr >> 24) == 127 ? sender.sin_addr.s_addr : htonl(INADDR_LOOPBACK);
        return to;
    }
    // With ZDR_SIM_EPHEMERAL_PORTS=1 every server socket takes a free port
    // (so that several simulated boards can run at once); the control
    // channel's "link-ports" tells which.
    unsigned short listenPort(unsigned short devicePort) const override
    {
        const char* e = std::getenv("ZDR_SIM_EPHEMERAL_PORTS");
        return e && std::strcmp(e, "1") == 0 ? 0 : devicePort;
    }
    // On the device's own ports a second simulated board on this machine
    // would answer the PCs in place of this one: the program stops instead.
    bool linkPortNeeded() const override { return listenPort(1) != 0; }
};

} // namespace

const Net& net()
{
    static SimNet instance;
    return instance;
}

} // namespace simboard
} // namespace platform
