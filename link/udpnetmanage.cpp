#include "link/udpnetmanage.h"

#include "core/logMsg.h"
#include "core/utils.h"
#include "link/k47_wifi_config.h"
#include "link/link_global.h"
#include "platform/clock.h"
#include "platform/platform.h"

#include <vector>

Published<udpnetManage> udpnetManage::p_udpnetManage;

namespace {

constexpr int kPollMs = 200;
// How often a pass-through waiting for its ticket is looked at.
constexpr int kTicketPollMs = 10;
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
    if (m_control.open(controlPort))
        m_controlThread = std::thread(&udpnetManage::udpacceptThread, this);
    if (m_at.open(atPort)) {
        m_atReceiveThread = std::thread(&udpnetManage::atReceiveThread, this);
        m_atSendThread = std::thread(&udpnetManage::atSendThread, this);
    }
}

udpnetManage::~udpnetManage()
{
    m_stop = true;
    m_atReady.notify_all();
    for (std::thread* t : {&m_controlThread, &m_atReceiveThread, &m_atSendThread})
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

udpnetManage::Peer& udpnetManage::peerOf(const sockaddr_in& from)
{
    const uint64_t key = UdpServer::peerKey(from);
    for (Peer& p : m_peers)
        if (p.key == key)
            return p;
    if (m_peers.size() >= kMaxPeers) {
        // The sender heard from the longest ago gives way, one with
        // nothing waiting first.
        auto oldest = m_peers.end();
        for (auto it = m_peers.begin(); it != m_peers.end(); ++it) {
            if (oldest == m_peers.end()) {
                oldest = it;
                continue;
            }
            const bool idle = !it->endpoint->pending();
            const bool oldestIdle = !oldest->endpoint->pending();
            const bool heardEarlier = it->lastHeardUs < oldest->lastHeardUs;
            if ((idle && !oldestIdle) || (idle == oldestIdle && heardEarlier))
                oldest = it;
        }
        m_peers.erase(oldest);
    }
    Peer p;
    p.key = key;
    p.addr = from;
    p.endpoint = std::make_unique<link_endpoint>(*this);
    m_peers.push_back(std::move(p));
    return m_peers.back();
}

void udpnetManage::enterLine(Peer& peer)
{
    // A pass-through next from the sender takes its ticket in the
    // pass-through line with its place here: behind the senders already in
    // the line.
    peer.place = m_nextPlace++;
    peer.endpoint->take_ticket();
}

void udpnetManage::udpacceptThread()
{
    Utils::name_thread("udp-rx");
    // Frames are served one at a time. A sender with frames waiting has one
    // place in the line, taken in the order its frames arrived; served, it
    // goes to the back, behind what arrived meanwhile. So a PC whose frames
    // take long (pass-throughs to slow cards, flash erases) holds a PC that
    // sends later for at most the frame being served. What has arrived is
    // taken before each request is served (a bounded number of datagrams,
    // so that a flood does not stop the serving). A pass-through takes its
    // ticket in the pass-through line when its sender takes its place in
    // the line; while that ticket is not up it waits, and the other senders
    // are served meanwhile.
    std::vector<unsigned char> buffer(65536);
    while (!m_stop) {
        readArrivals(buffer, pollWaitMs());
        if (Peer* next = pickNext())
            serveOne(*next);
    }
}

int udpnetManage::pollWaitMs() const
{
    // How long the first receive may wait: not at all when a frame may be
    // served, a little when a pass-through waits for its ticket.
    bool ready = false, held = false;
    for (const Peer& p : m_peers) {
        if (!p.endpoint->pending())
            continue;
        if (p.endpoint->front_waits_for_ticket())
            held = true;
        else
            ready = true;
    }
    return ready ? 0 : held ? kTicketPollMs : kPollMs;
}

void udpnetManage::readArrivals(std::vector<unsigned char>& buffer, int firstWaitMs)
{
    // The datagrams that have arrived, each to its sender's frames (up to
    // kMaxWaiting a sender; a datagram beyond is dropped).
    for (size_t i = 0; i < 2 * kMaxWaiting; ++i) {
        sockaddr_in from{};
        const ssize_t n = m_control.receive(buffer.data(), buffer.size(), from, i == 0 ? firstWaitMs : 0);
        if (n <= 0)
            break;
        Peer& p = peerOf(from);
        p.lastHeardUs = platform::clock().nowUs();
        if (p.endpoint->waiting() < kMaxWaiting)
            p.endpoint->take(buffer.data(), static_cast<size_t>(n));
        // The sender just served goes behind the others heard from
        // meanwhile, even when its next frame came before theirs.
        if (p.place == 0 && p.endpoint->pending() && p.key != m_lastServed)
            enterLine(p);
    }
}

udpnetManage::Peer* udpnetManage::pickNext()
{
    // The sender just served goes back in the line, behind the others. The
    // first in line whose frame may be served is next; a pass-through whose
    // ticket is not up waits.
    Peer* next = nullptr;
    for (Peer& p : m_peers) {
        if (p.place == 0 && p.endpoint->pending())
            enterLine(p);
        if (p.place != 0 && (!next || p.place < next->place) && !p.endpoint->front_waits_for_ticket())
            next = &p;
    }
    return next;
}

void udpnetManage::serveOne(Peer& peer)
{
    // Served, the sender leaves the line; the reply goes to its address.
    peer.place = 0;
    m_lastServed = peer.key;
    last_peer = peer.addr;
    const sockaddr_in to = platform::net().broadcastReplyTo(peer.addr);
    peer.endpoint->serve_one(peer.key, [&](const unsigned char* data, int length) {
        m_control.sendTo(data, static_cast<size_t>(length), to);
    });
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
