#include "link/udpserver.h"

#include "link/link_io.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
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

int UdpServer::takeArrived(Arrived& arrived, int waitMs, int most)
{
    if (m_fd < 0)
        return 0;
    // The receive itself waits for the first datagram (bounded by the
    // socket's receive bound), so that a request costs no separate wait.
    int flags = MSG_DONTWAIT;
    if (waitMs > 0) {
        const timeval bound{waitMs / 1000, (waitMs % 1000) * 1000};
        if (waitMs == m_receiveBoundMs ||
            ::setsockopt(m_fd, SOL_SOCKET, SO_RCVTIMEO, &bound, sizeof(bound)) == 0) {
            m_receiveBoundMs = waitMs;
            flags = MSG_WAITFORONE;
        } else {
            pollfd p{m_fd, POLLIN, 0};
            ::poll(&p, 1, waitMs);
        }
    }
    // The receive writes each sender's address length back.
    most = std::min(most, Arrived::kMost);
    for (int i = 0; i < most; ++i)
        arrived.messages[i].msg_hdr.msg_namelen = sizeof(sockaddr_in);
    const int n = ::recvmmsg(m_fd, arrived.messages, static_cast<unsigned>(most), flags, nullptr);
    // A receive without a sender brings nothing: the waits were ended.
    int taken = 0;
    for (; taken < n && arrived.messages[taken].msg_hdr.msg_namelen != 0; ++taken)
        arrived.length[taken] = arrived.messages[taken].msg_len;
    return taken;
}

void UdpServer::endWaits()
{
    if (m_fd >= 0)
        ::shutdown(m_fd, SHUT_RD);
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
