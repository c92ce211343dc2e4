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
    // Why the last listen() failed (an errno value; 0 when it did not).
    int openError() const { return m_openError; }
    unsigned short port() const { return m_port; }

    // Takes one waiting connection: its socket (blocking; written through
    // link_write_all, read without waiting), or -1 when none waits.
    int accept();

private:
    int m_fd = -1;
    int m_openError = 0;
    unsigned short m_port = 0;
};
