// TCP transport of the control link: a server on g_port (backlog 200) and
// one worker thread that serves every connection, one request at a time,
// the connections taking their places in line in the order their requests
// arrived. Each
// connection has its own reassembly, so the streams of two PCs never mix.
#pragma once

#include "core/published.h"
#include "link/link_transport.h"
#include "link/tcpserver.h"

#include <chrono>
#include <list>
#include <memory>
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
    // Puts a connection with requests waiting at the back of the line.
    void enterLine(Client& client);

    // The worker loop and its steps, in the order it takes them.
    void acceptThread();
    void releaseHeldTickets();
    int buildPollSet(std::vector<pollfd>& fds);
    void readArrivals(const std::vector<pollfd>& fds);
    void acceptNewcomers();
    void dropBroken();
    Client* pickNext();
    void serveOne(Client& client);

    void readClient(Client& client);

    TcpServer m_server;
    std::vector<Client> m_clients;   // the worker thread's own
    uint64_t m_nextId = 1;
    uint64_t m_nextPlace = 1;
    uint64_t m_lastServed = 0;   // the id of the connection served last
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};
