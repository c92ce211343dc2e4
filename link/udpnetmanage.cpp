#include "link/udpnetmanage.h"

#include "core/logMsg.h"
#include "core/utils.h"
#include "link/k47_wifi_config.h"
#include "link/link_global.h"
#include "platform/platform.h"

#include <vector>

Published<udpnetManage> udpnetManage::p_udpnetManage;

namespace {

constexpr int kPollMs = 200;
// Longest AT command line taken.
constexpr size_t kMaxAtLine = 512;

} // namespace

udpnetManage* udpnetManage::pInstance()
{
    if (!p_udpnetManage)
        p_udpnetManage = new udpnetManage(kControlPort, kAtPort);
    return p_udpnetManage;
}

udpnetManage::udpnetManage(unsigned short controlPort, unsigned short atPort)
{
    static const char* const names[2] = {"udp-a", "udp-b"};
    if (m_control.open(controlPort))
        m_line.start(names);
    if (m_at.open(atPort)) {
        m_atReceiveThread = std::thread(&udpnetManage::atReceiveThread, this);
        m_atSendThread = std::thread(&udpnetManage::atSendThread, this);
    }
}

udpnetManage::~udpnetManage()
{
    // The reading worker waits in the receive itself.
    m_control.endWaits();
    m_line.stop();
    m_stop = true;
    {
        std::lock_guard<std::mutex> hold(m_atMutex);
        m_atReady.notify_all();
    }
    for (std::thread* t : {&m_atReceiveThread, &m_atSendThread})
        if (t->joinable())
            t->join();
}

unsigned char udpnetManage::passby_code() const
{
    return kPassbyUdp;
}

bool udpnetManage::reply_list_ready()
{
    return !udp_send_list.empty();
}

void udpnetManage::send_reply_list()
{
    const platform::Net& net = platform::net();
    for (const ReplyRecord& r : udp_send_list)
        if (r.length <= sizeof(r.data))
            m_control.sendTo(r.data, r.length, net.broadcastReplyTo(r.peer));
    udp_send_list.clear();
}

udpnetManage::Peer* udpnetManage::peerOf(const sockaddr_in& from)
{
    const uint64_t key = UdpServer::peerKey(from);
    for (Peer& p : m_peers)
        if (p.key == key)
            return &p;
    const size_t placed = m_peers.size() - (m_line.serving() ? 1 : 0);
    if (placed >= kMaxPeers) {
        // A request taken in is answered: only a sender with nothing
        // waiting gives way, the one heard from the longest ago. When every
        // place holds a sender with frames waiting, the newcomer's datagram
        // is the one dropped.
        auto forget = m_peers.end();
        for (auto it = m_peers.begin(); it != m_peers.end(); ++it)
            if (&*it != m_line.serving() && !it->endpoint->pending() &&
                (forget == m_peers.end() || it->lastHeard < forget->lastHeard))
                forget = it;
        if (forget == m_peers.end())
            return nullptr;
        m_line.leave(*forget);
        m_peers.erase(forget);
    }
    Peer p;
    p.key = key;
    p.addr = from;
    p.endpoint = std::make_unique<link_endpoint>(*this);
    m_peers.push_back(std::move(p));
    m_line.join(m_peers.back());
    return &m_peers.back();
}

void udpnetManage::takeDatagram(Peer& peer, const unsigned char* data, size_t length)
{
    // A frame is taken whole or dropped whole: every datagram goes through
    // the sender's reassembly, so that no frame is ever joined across a
    // datagram that was not taken.
    size_t all = 0;
    for (const Peer& p : m_peers)
        all += p.endpoint->waiting_bytes();
    const link_endpoint::Bounds bounds{kMaxWaiting, kMaxWaitingBytes, kMaxWaitingBytesAll, &all};
    peer.endpoint->take(data, length, &bounds);
}

void udpnetManage::wait(int timeoutMs)
{
    // One worker reads at a time (the other stands by, see ServiceLine),
    // waiting in the receive of the first datagram, which takes a second
    // one if it is there already. One alone came to an empty socket: what
    // arrives after it ends the next wait at once, so a request costs no
    // look for more. Two may have others behind them: they are taken with
    // them.
    m_received = m_control.takeArrived(*m_arrived, timeoutMs, 2);
}

void udpnetManage::take()
{
    takeReceived(m_received, m_received == 2);
    m_received = 0;
}

void udpnetManage::look()
{
    const int n = m_control.takeArrived(*m_arrived);
    takeReceived(n, n == UdpServer::Arrived::kMost);
}

void udpnetManage::takeReceived(int n, bool more)
{
    // Each datagram is taken as it arrives, whatever is being served
    // meanwhile, and its sender takes its place in the line then; so are
    // those that arrived with it (a bounded number, so that a flood does
    // not hold the line).
    for (int taken = 0;;) {
        for (int i = 0; i < n; ++i) {
            if (Peer* p = peerOf(m_arrived->from[i])) {
                p->lastHeard = ++m_heard;
                takeDatagram(*p, m_arrived->data[i], m_arrived->length[i]);
                m_line.takePlace(*p);
            }
        }
        taken += n;
        if (!more || taken >= kMaxTakenAtOnce)
            break;
        n = m_control.takeArrived(*m_arrived);
        more = n == UdpServer::Arrived::kMost;
    }
}

int udpnetManage::tend()
{
    return kPollMs;
}

bool udpnetManage::mayServe(const ServiceLine::Stream&) const
{
    return true;
}

void udpnetManage::serve(ServiceLine::Stream& stream, link_endpoint::Job& job)
{
    // The reply goes to the sender's address.
    Peer& peer = static_cast<Peer&>(stream);
    last_peer = peer.addr;
    const sockaddr_in to = platform::net().broadcastReplyTo(peer.addr);
    peer.endpoint->serve(job, peer.key, [&](const unsigned char* data, int length) {
        m_control.sendTo(data, static_cast<size_t>(length), to);
    });
}

void udpnetManage::served(ServiceLine::Stream&)
{
}

void udpnetManage::atReceiveThread()
{
    Utils::name_thread("at-rx");
    unsigned char buffer[kMaxAtLine + 1];
    while (!m_stop) {
        sockaddr_in from{};
        const ssize_t n = m_at.receive(buffer, sizeof(buffer), from, kPollMs);
        // Nothing came (an empty datagram has a sender).
        if (n < 0 || (n == 0 && from.sin_family != AF_INET))
            continue;
        const std::string datagram(reinterpret_cast<const char*>(buffer), static_cast<size_t>(n));
        K47_WIFI_CONFIG* wifi = K47_WIFI_CONFIG::p_wifi_config;
        std::string reply = K47_WIFI_CONFIG::kAtError;
        if (wifi && static_cast<size_t>(n) <= kMaxAtLine)
            reply = wifi->at_datagram(datagram);
        if (reply.empty())
            continue;
        std::lock_guard<std::mutex> lock(m_atMutex);
        m_atReplies.emplace_back(std::move(reply), platform::net().broadcastReplyTo(from));
        m_atReady.notify_one();
    }
}

void udpnetManage::atSendThread()
{
    Utils::name_thread("at-tx");
    std::unique_lock<std::mutex> lock(m_atMutex);
    while (!m_stop) {
        m_atReady.wait(lock, [this] { return m_stop || !m_atReplies.empty(); });
        while (!m_atReplies.empty()) {
            auto reply = std::move(m_atReplies.front());
            m_atReplies.pop_front();
            lock.unlock();
            m_at.sendTo(reinterpret_cast<const unsigned char*>(reply.first.data()), reply.first.size(), reply.second);
            lock.lock();
        }
    }
}

void udpnetManage::queue_reply(const unsigned char* framed, int length)
{
    link_replace_reply(udp_send_list, framed, length).peer = last_peer;
}
