#include "link/tcpserver.h"

#include "core/logMsg.h"
#include "platform/platform.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

TcpServer::~TcpServer()
{
    close();
}

bool TcpServer::listen(unsigned short devicePort, int backlog)
{
    close();
    const platform::Net& net = platform::net();
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0)
        return false;
    const int one = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof(one));
    sockaddr_in addr;
    std::memset(&addr, 0, sizeof(addr));
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = net.bindAddress();
    addr.sin_port = htons(net.listenPort(devicePort));
    socklen_t len = sizeof(addr);
    if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) != 0 || ::listen(fd, backlog) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
        writeLogMsg(ERROR, "TCP port " + std::to_string(devicePort) + " cannot be opened: " + std::strerror(errno));
        ::close(fd);
        return false;
    }
    m_fd = fd;
    m_port = ntohs(addr.sin_port);
    return true;
}

void TcpServer::close()
{
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
    m_port = 0;
}

int TcpServer::accept()
{
    if (m_fd < 0)
        return -1;
    const int fd = ::accept4(m_fd, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0)
        return -1;
    // A client that stops reading must not hold the worker for long.
    timeval tv{2, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof(tv));
    const int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof(one));
    return fd;
}
