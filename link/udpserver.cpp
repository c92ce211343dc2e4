#include "link/udpserver.h"

#include "link/link_io.h"

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
    m_fd = link_open_server(SOCK_DGRAM, devicePort, 0, m_port);
    m_openError = m_fd >= 0 ? 0 : errno;
    return m_fd >= 0;
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

UdpServer::Arrived::Arrived()
    : messages{}
{
    for (int i = 0; i < kMost; ++i) {
        parts[i] = {data[i], kSize};
        messages[i].msg_hdr.msg_iov = &parts[i];
        messages[i].msg_hdr.msg_iovlen = 1;
        messages[i].msg_hdr.msg_name = &from[i];
    }
}

int UdpServer::takeArrived(Arrived& arrived)
{
    if (m_fd < 0)
        return 0;
    // The receive writes each sender's address length back.
    for (mmsghdr& m : arrived.messages)
        m.msg_hdr.msg_namelen = sizeof(sockaddr_in);
    const int n = ::recvmmsg(m_fd, arrived.messages, Arrived::kMost, MSG_DONTWAIT, nullptr);
    for (int i = 0; i < n; ++i)
        arrived.length[i] = arrived.messages[i].msg_len;
    return n < 0 ? 0 : n;
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
