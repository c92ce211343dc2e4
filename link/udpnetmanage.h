// UDP transport of the control link: control frames on port 5008 and the
// WiFi AT-command channel on port 13769, served by four threads (control
// frames received; control frames served; AT receive; AT send). The
// control frames of each sender are served in order, one frame at a time,
// the senders taking their places in line as their frames arrive.
#pragma once

#include "core/published.h"
#include "link/link_transport.h"
#include "link/udpserver.h"

#include <condition_variable>
#include <deque>
#include <list>
#include <memory>
#include <mutex>
#include <netinet/in.h>
#include <string>
#include <thread>
#include <vector>

class udpnetManage : public link_transport {
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
    // sender never mix with another's) and the frames it has waiting. The
    // receiving thread looks after every sender but the one being served,
    // whose endpoint only the serving thread touches meanwhile (what that
    // sender sends meanwhile waits in its inbox); both hold m_lineMutex for
    // the rest.
    struct Peer {
        uint64_t key = 0;
        sockaddr_in addr{};
        uint64_t lastHeardUs = 0;   // board clock
        uint64_t place = 0;         // its place in the line (0: not in it)
        std::unique_ptr<link_endpoint> endpoint;
        std::deque<std::vector<unsigned char>> inbox;
    };
    // The senders with a place of their own (besides the one being
    // served), and the frames one sender may have waiting; a datagram
    // beyond them is dropped (a PC far ahead of its replies, or a newcomer
    // when every place holds a sender with frames waiting).
    static constexpr size_t kMaxPeers = 32;
    static constexpr size_t kMaxWaiting = 64;
    // The sender of a datagram, made when new; nullptr when every place
    // holds a sender with frames waiting.
    Peer* peerOf(const sockaddr_in& from);
    static bool hasWaiting(const Peer& peer);
    // Takes a sender's datagram into its frames.
    static void takeDatagram(Peer& peer, const unsigned char* data, size_t length);
    // Where a sender takes its place in the line, and its next frame's
    // pass-through ticket with it.
    void takePlace(Peer& peer);

    // The control frames' threads: the receiving thread's loop, the
    // serving thread's loop and its steps.
    void udpacceptThread();
    void serveThread();
    Peer* pickNext();
    void serveOne(Peer& peer);

    void atReceiveThread();
    void atSendThread();

    UdpServer m_control;
    UdpServer m_at;
    // The senders, the line and the one being served.
    std::mutex m_lineMutex;
    std::condition_variable m_lineMoved;
    std::list<Peer> m_peers;
    Peer* m_serving = nullptr;
    uint64_t m_nextPlace = 1;

    std::mutex m_atMutex;
    std::condition_variable m_atReady;
    std::deque<std::pair<std::string, sockaddr_in>> m_atReplies;

    std::atomic<bool> m_stop{false};
    std::thread m_controlThread;
    std::thread m_serveThread;
    std::thread m_atReceiveThread;
    std::thread m_atSendThread;
};
