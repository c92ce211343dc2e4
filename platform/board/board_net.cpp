// Network addresses on the device: every interface, broadcast replies.
#include "platform/backends.h"

#include <cstring>

namespace platform {
namespace board {
namespace {

class BoardNet : public Net {
public:
    in_addr_t bindAddress() const override { return htonl(INADDR_ANY); }
    bool broadcastAllowed() const override { return true; }
    sockaddr_in broadcastReplyTo(const sockaddr_in& sender) const override
    {
        sockaddr_in to;
        std::memset(&to, 0, sizeof(to));
        to.sin_family = AF_INET;
        to.sin_addr.s_addr = htonl(INADDR_BROADCAST);
        to.sin_port = sender.sin_port;
        return to;
    }
};

} // namespace

const Net& net()
{
    static BoardNet instance;
    return instance;
}

} // namespace board
} // namespace platform
