#include "link/udpserver.h"

#include "core/logMsg.h"
#include "platform/platform.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

UdpServer::~UdpServer()
{
    close();
}

bool UdpServer::open(unsigned short devicePort)
{
    close();
    const platform::Net& net = platform::net();
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    const int one = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof(one));
    if (net.broadcastAllowed())
        ::setsockopt(fd, SOL_SOCKET, SO_BROADCAST, &one, sizeof(one));
    sockaddr_in addr;
    std::memset(&addr, 0, sizeof(addr));
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = net.bindAddress();
    addr.sin_port = htons(net.listenPort(devicePort));
    socklen_t len = sizeof(addr);
    if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
        writeLogMsg(ERROR, "UDP port " + std::to_string(devicePort) + " cannot be opened: " + std::strerror(errno));
        ::close(fd);
        return false;
    }
    m_fd = fd;
    m_port = ntohs(addr.sin_port);
    return true;
}

void UdpServer::close()
{
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
    m_port = 0;
}

ssize_t UdpServer::receive(unsigned char* buffer, size_t size, sockaddr_in& from, int timeoutMs)
{
    if (m_fd < 0)
        return -1;
    pollfd p{m_fd, POLLIN, 0};
    const int r = ::poll(&p, 1, timeoutMs);
    if (r < 0)
        return errno == EINTR ? 0 : -1;
    if (r == 0)
        return 0;
    socklen_t len = sizeof(from);
    const ssize_t n = ::recvfrom(m_fd, buffer, size, MSG_DONTWAIT, reinterpret_cast<sockaddr*>(&from), &len);
    if (n < 0)
        return (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) ? 0 : -1;
    return n;
}

bool UdpServer::sendTo(const unsigned char* data, size_t length, const sockaddr_in& to)
{
    if (m_fd < 0)
        return false;
    const ssize_t n = ::sendto(m_fd, data, length, 0, reinterpret_cast<const sockaddr*>(&to), sizeof(to));
    return n == static_cast<ssize_t>(length);
}

uint64_t UdpServer::peerKey(const sockaddr_in& peer)
{
    return (static_cast<uint64_t>(ntohl(peer.sin_addr.s_addr)) << 16) | ntohs(peer.sin_port);
}
