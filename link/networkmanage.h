// TCP transport of the control link: a server on g_port (backlog 200)
// whose connections' requests are served in the order they arrived (see
// ServiceLine). Each connection has its own reassembly, so the streams of
// two PCs never mix.
#pragma once

#include "core/published.h"
#include "link/link_transport.h"
#include "link/service_line.h"
#include "link/tcpserver.h"
#include "link/watch_set.h"

#include <chrono>
#include <list>

class networkManage : public link_transport, private ServiceLine::Side {
public:
    static constexpr int kBacklog = 200;
    // Connections served at once. A further one takes the place of the
    // connection silent the longest, among those with no request waiting
    // or being served, when that one has sent nothing for kIdleTakenUs;
    // else it is closed at once.
    static constexpr int kMaxClients = 32;
    static constexpr uint64_t kIdleTakenUs = 30000000;

    // Creates the transport on the first call (server on g_port, its two
    // workers) and returns it.
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
    // What a connection is doing, besides being served: the line tells
    // which one is (ServiceLine::serving()); meanwhile the connection's
    // state is its worker's, which may make it Broken.
    enum class State : uint8_t {
        Reading,    // read as its bytes arrive (a request of it may wait,
                    // with nothing sent since)
        HeldBack,   // sent more, or its FIN, while a request of it waits:
                    // not read until its requests have been served
        Broken,     // its PC is gone (reset, or a reply that could not be
                    // written): dropped, once its service has ended
    };
    // What a connection is watched for in the epoll set (EPOLLHUP and
    // EPOLLERR always count), and whether for one event only.
    struct Watch {
        uint32_t events;
        bool once;
    };
    static Watch watchedFor(State state, bool finSeen);
    // The watch of the connection being served: its reset, once, and
    // nothing else, until its service has ended.
    static constexpr Watch kServedWatch{0, true};

    // A connection, under the line's mutex; while it is served, its worker
    // uses it without the mutex, and the other worker, reading meanwhile,
    // touches only its watch fields (armed, armedFor, armedOnce), under the
    // mutex.
    struct Client : ServiceLine::Stream {
        int fd = -1;
        uint64_t id = 0;            // its key in the epoll set
        uint64_t lastHeardUs = 0;   // board clock: accepted, or bytes last received
        State state = State::Reading;
        bool finSeen = false;       // the PC has shut down its sending side
        // How it is in the epoll set: watched, for these events, for one
        // event only.
        bool armed = false;
        uint32_t armedFor = 0;
        bool armedOnce = false;
        int64_t writeSpentUs = 0;   // writing the replies to the last read
        // While its next request waits for the acknowledgement of its
        // replies (whether it is read or held back meanwhile): the bytes
        // unacknowledged when last looked at, and when they last changed.
        bool held = false;
        int heldUnacknowledged = 0;
        std::chrono::steady_clock::time_point lastMoved;
    };
    static constexpr uint64_t kServerKey = 1;
    static int unacknowledged(const Client& client);
    static void watchHeld(Client& client);

    // The line's calls (see ServiceLine::Side).
    void wait(int timeoutMs) override;
    void take() override;
    void look() override;
    int tend() override;
    bool mayServe(const ServiceLine::Stream& stream) const override;
    void serve(ServiceLine::Stream& stream, link_endpoint::Job& job) override;
    void served(ServiceLine::Stream& stream) override;

    void arrived(uint64_t key, uint32_t events);
    void holdOrRelease(Client& client);
    void acceptNewcomers();
    void dropBroken();
    void readClient(Client& client);
    void rearm(Client& client);
    void watchServed(Client& client);
    // Sets the connection's watch to what is wanted (false when the set
    // refused it); a watch that is already so costs no call. A once-only
    // watch, once armed, stays as it is until the service has ended, spent
    // or not.
    bool watch(Client& client, Watch wanted)
    {
        if (wanted.once ? client.armedOnce
                        : client.armed && !client.armedOnce && client.armedFor == wanted.events)
            return true;
        return arm(client, wanted);
    }
    bool arm(Client& client, Watch wanted);
    void lookForEnd(Client& client);

    TcpServer m_server;
    // The server and the connections, each watched for what a worker may
    // read of it; what the last wait found.
    WatchSet m_set;
    static constexpr int kFoundAtOnce = 16;
    epoll_event m_found[kFoundAtOnce];
    int m_foundCount = 0;
    std::list<Client> m_clients;
    uint64_t m_nextId = kServerKey + 1;
    ServiceLine m_line{*this};
};
