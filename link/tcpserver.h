// The listening TCP socket of the control link, bound to the platform's
// server address.
#pragma once

class TcpServer {
public:
    TcpServer() = default;
    ~TcpServer();
    TcpServer(const TcpServer&) = delete;
    TcpServer& operator=(const TcpServer&) = delete;

    // Opens, binds and listens for a device port (see
    // platform::Net::listenPort); false when it cannot.
    bool listen(unsigned short devicePort, int backlog);
    void close();
    int fd() const { return m_fd; }
    unsigned short port() const { return m_port; }

    // Takes one waiting connection: its socket (blocking, with a send
    // time-out), or -1 when none waits.
    int accept();

private:
    int m_fd = -1;
    unsigned short m_port = 0;
};
