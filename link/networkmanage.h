// TCP transport of the control link: a server on g_port (backlog 200), a
// reader thread that takes the connections' requests as they arrive (each
// connection taking its place in line then), and a serving thread that
// serves them one at a time in that order. Each connection has its own
// reassembly, so the streams of two PCs never mix.
#pragma once

#include "core/published.h"
#include "link/link_transport.h"
#include "link/tcpserver.h"

#include <chrono>
#include <condition_variable>
#include <list>
#include <memory>
#include <mutex>
#include <poll.h>
#include <thread>
#include <vector>

class networkManage : public link_transport {
public:
    static constexpr int kBacklog = 200;
    // Connections served at once. A further one takes the place of the
    // connection silent the longest when that one has sent nothing for
    // kIdleTakenUs; else it is closed at once.
    static constexpr int kMaxClients = 32;
    static constexpr uint64_t kIdleTakenUs = 30000000;

    // Creates the transport on the first call (server on g_port, worker
    // thread) and returns it.
    static networkManage* pInstance();
    static Published<networkManage> p_networkManage;

    explicit networkManage(unsigned short port);
    ~networkManage() override;

    // The port the server is bound to (0: not open), and why it did not
    // open (an errno value).
    unsigned short port() const { return m_server.port(); }
    int open_error() const { return m_server.openError(); }

    // A reply queued for the PC by the sending card.
    struct ReplyRecord {
        unsigned char data[131072];
        uint32_t length = 0;
        uint32_t socket = 0;
    };
    std::list<ReplyRecord> tcp_send_list;
    // The connection of the last request.
    std::atomic<int> client_socket{-1};

    unsigned char passby_code() const override;
    bool reply_list_ready() override;
    void send_reply_list() override;
    void queue_reply(const unsigned char* framed, int length) override;

private:
    // A connection. The reader thread looks after every connection but the
    // one being served, which only the serving thread touches meanwhile;
    // both hold m_lineMutex for the rest.
    struct Client {
        int fd = -1;
        uint64_t id = 0;
        uint64_t lastHeardUs = 0;   // board clock: accepted, or bytes last received
        bool broken = false;
        int64_t writeSpentUs = 0;   // writing the replies to the last read
        uint64_t place = 0;         // its place in the line (0: not in it)
        bool finSeen = false;       // the PC has shut down its sending side
        // While its next request waits for the acknowledgement of its
        // replies: the bytes unacknowledged when last looked at, and when
        // they last changed.
        bool held = false;
        int heldUnacknowledged = 0;
        std::chrono::steady_clock::time_point lastMoved;
        std::unique_ptr<link_endpoint> endpoint;
    };
    static int unacknowledged(const Client& client);
    static bool mayServe(const Client& client);
    static void watchHeld(Client& client);
    // Where a connection takes its place in the line, and its next
    // request's pass-through ticket with it.
    void takePlace(Client& client);

    // The reader thread's loop and its steps, in the order it takes them.
    void acceptThread();
    void holdOrRelease();
    int buildPollSet(std::vector<pollfd>& fds, std::vector<Client*>& polled);
    void readArrivals(const std::vector<pollfd>& fds, const std::vector<Client*>& polled);
    void acceptNewcomers();
    void dropBroken();
    void readClient(Client& client);

    // The serving thread's loop and its steps.
    void serveThread();
    Client* pickNext();
    void serveOne(Client& client);
    void lookForEnd(Client& client);
    void wakeReader();

    TcpServer m_server;
    // The connections, the line and the one being served.
    std::mutex m_lineMutex;
    std::condition_variable m_lineMoved;
    std::list<Client> m_clients;
    Client* m_serving = nullptr;
    uint64_t m_nextId = 1;
    uint64_t m_nextPlace = 1;
    // Wakes the reader's poll when a service ends (the connection served
    // is watched again).
    int m_wakeFd = -1;
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
    std::thread m_serveThread;
};
