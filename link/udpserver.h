// A UDP socket of the control link, bound to the platform's server address
// (every interface on the device, 127.0.0.1 on the simulated board).
#pragma once

#include <cstddef>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/types.h>

class UdpServer {
public:
    UdpServer() = default;
    ~UdpServer();
    UdpServer(const UdpServer&) = delete;
    UdpServer& operator=(const UdpServer&) = delete;

    // Opens and binds the socket for a device port (see
    // platform::Net::listenPort); false when it cannot.
    bool open(unsigned short devicePort);
    void close();
    bool isOpen() const { return m_fd >= 0; }
    // Why the last open() failed (an errno value; 0 when it did not).
    int openError() const { return m_openError; }
    // The port the socket is bound to.
    unsigned short port() const { return m_port; }

    // Waits up to timeoutMs for a datagram. Returns its length, 0 on time-out
    // (or an empty datagram), -1 on an error.
    ssize_t receive(unsigned char* buffer, size_t size, sockaddr_in& from, int timeoutMs);
    // Datagrams that have arrived, taken a few at one call.
    struct Arrived {
        static constexpr int kMost = 4;
        static constexpr size_t kSize = 65536;   // more than any datagram
        unsigned char data[kMost][kSize];
        size_t length[kMost];
        sockaddr_in from[kMost];
        // Where the receive puts each datagram (set up once).
        Arrived();
        mmsghdr messages[kMost];
        iovec parts[kMost];
    };
    // Takes up to `most` datagrams (at most Arrived::kMost): waits up to
    // waitMs for the first (0: does not wait), then takes those that
    // arrived with it. How many (0 when none came, or waits were ended);
    // fewer than `most`: none was left. (One thread at a time waits.)
    int takeArrived(Arrived& arrived, int waitMs = 0, int most = Arrived::kMost);
    // Ends the wait of takeArrived() now, and every later wait at once
    // (before the socket is closed).
    void endWaits();
    bool sendTo(const unsigned char* data, size_t length, const sockaddr_in& to);

    // A 64-bit key of a peer's address and port.
    static uint64_t peerKey(const sockaddr_in& peer);

private:
    int m_fd = -1;
    int m_openError = 0;
    int m_receiveBoundMs = 0;   // the socket's bound on a receive (0: none)
    unsigned short m_port = 0;
};
