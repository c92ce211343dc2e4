#include "link/tcpserver.h"

#include "link/link_io.h"

#include <cerrno>
#include <netinet/in.h>
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
    m_fd = link_open_server(SOCK_STREAM, devicePort, backlog, m_port);
    m_openError = m_fd >= 0 ? 0 : errno;
    return m_fd >= 0;
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
    // Replies are written with a bound in time of their own
    // (link_write_all), which a send time-out here would only lengthen.
    const int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof(one));
    return fd;
}
