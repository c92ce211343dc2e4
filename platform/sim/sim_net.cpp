// Network addresses of the simulated board: loopback only, no broadcast.
#include "platform/backends.h"

#include <arpa/inet.h>
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
};

} // namespace

const Net& net()
{
    static SimNet instance;
    return instance;
}

} // namespace simboard
} // namespace platform
