// UDP transport of the control link: control frames on port 5008 and the
// WiFi AT-command channel on port 13769. The control frames of each sender
// are served in order, one frame at a time, the senders taking their
// places in line as their frames arrive (see ServiceLine, whose two
// workers read and serve them); two threads receive AT commands and send
// their replies.
#pragma once

#include "core/published.h"
#include "link/link_transport.h"
#include "link/service_line.h"
#include "link/udpserver.h"

#include <condition_variable>
#include <deque>
#include <atomic>
#include <list>
#include <memory>
#include <mutex>
#include <netinet/in.h>
#include <string>
#include <thread>
#include <vector>

class udpnetManage : public link_transport, private ServiceLine::Side {
public:
    static constexpr unsigned short kControlPort = 5008;
    static constexpr unsigned short kAtPort = 13769;

    // Creates the transport on the first call (sockets and threads) and
    // returns it; the first service main creates.
    static udpnetManage* pInstance();
    static Published<udpnetManage> p_udpnetManage;

    // Opens the two device ports (through platform::Net::listenPort) and
    // starts the threads. A port that cannot be opened leaves its threads
    // unstarted (logged).
    udpnetManage(unsigned short controlPort, unsigned short atPort);
    ~udpnetManage() override;

    // The ports the sockets are bound to (0: not open), and why one did not
    // open (an errno value).
    unsigned short control_port() const { return m_control.port(); }
    unsigned short at_port() const { return m_at.port(); }
    int control_open_error() const { return m_control.openError(); }
    int at_open_error() const { return m_at.openError(); }

    // A reply queued for the PC by the sending card: the framed bytes and the
    // peer it answers.
    struct ReplyRecord {
        unsigned char data[131072];
        uint32_t length = 0;
        sockaddr_in peer{};
    };
    std::list<ReplyRecord> udp_send_list;
    // The sender of the last control frame.
    sockaddr_in last_peer{};

    unsigned char passby_code() const override;
    bool reply_list_ready() override;
    void send_reply_list() override;
    void queue_reply(const unsigned char* framed, int length) override;

private:
    // A PC sending control frames: its own reassembly (datagrams of one
    // sender never mix with another's) and the frames it has waiting. Its
    // datagrams are taken as they arrive, also while it is served (its
    // worker then uses only what it took from the endpoint, see
    // link_endpoint::next()); the line's mutex is held for it.
    struct Peer : ServiceLine::Stream {
        uint64_t key = 0;
        sockaddr_in addr{};
        uint64_t lastHeard = 0;   // when last heard from, in datagrams taken
    };
    // The senders kept (besides the one being served), and what one sender
    // and all senders may have waiting, in frames and in bytes: a frame
    // beyond it is dropped whole (a PC far ahead of its replies, or a
    // newcomer when every place holds a sender with frames waiting).
    static constexpr size_t kMaxPeers = 32;
    static constexpr size_t kMaxWaiting = 64;
    static constexpr size_t kMaxWaitingBytes = 1u << 20;
    static constexpr size_t kMaxWaitingBytesAll = 4u << 20;
    // Datagrams taken at one look, so that a flood does not hold the line.
    static constexpr int kMaxTakenAtOnce = 2 * static_cast<int>(kMaxWaiting);
    // The sender of a datagram, made when new; nullptr when every place
    // holds a sender with frames waiting.
    Peer* peerOf(const sockaddr_in& from);
    // Takes a sender's datagram into its frames.
    void takeDatagram(Peer& peer, const unsigned char* data, size_t length);
    // Takes the n datagrams received, and, when more may have arrived with
    // them, those too.
    void takeReceived(int n, bool more);

    // The line's calls (see ServiceLine::Side).
    void wait(int timeoutMs) override;
    void take() override;
    void look() override;
    int tend() override;
    bool mayServe(const ServiceLine::Stream& stream) const override;
    void serve(ServiceLine::Stream& stream, link_endpoint::Job& job) override;
    void served(ServiceLine::Stream& stream) override;

    void atReceiveThread();
    void atSendThread();

    UdpServer m_control;
    UdpServer m_at;
    std::list<Peer> m_peers;
    // Datagrams taken so far (under the line's mutex): the order senders
    // were last heard from.
    uint64_t m_heard = 0;
    // Datagrams being taken: by the worker that waits, then under the
    // line's mutex; how many the wait received.
    std::unique_ptr<UdpServer::Arrived> m_arrived = std::make_unique<UdpServer::Arrived>();
    int m_received = 0;

    std::mutex m_atMutex;
    std::condition_variable m_atReady;
    std::deque<std::pair<std::string, sockaddr_in>> m_atReplies;

    std::atomic<bool> m_stop{false};
    std::thread m_atReceiveThread;
    std::thread m_atSendThread;
    ServiceLine m_line{*this};
};
