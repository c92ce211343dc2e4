#include "link/udpnetmanage.h"

#include "core/logMsg.h"
#include "core/utils.h"
#include "link/k47_wifi_config.h"
#include "link/link_global.h"
#include "platform/clock.h"
#include "platform/platform.h"

#include <chrono>
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
    if (m_control.open(controlPort)) {
        m_controlThread = std::thread(&udpnetManage::udpacceptThread, this);
        m_serveThread = std::thread(&udpnetManage::serveThread, this);
    }
    if (m_at.open(atPort)) {
        m_atReceiveThread = std::thread(&udpnetManage::atReceiveThread, this);
        m_atSendThread = std::thread(&udpnetManage::atSendThread, this);
    }
}

udpnetManage::~udpnetManage()
{
    m_stop = true;
    {
        std::lock_guard<std::mutex> hold(m_lineMutex);
        m_lineMoved.notify_all();
    }
    {
        std::lock_guard<std::mutex> hold(m_atMutex);
        m_atReady.notify_all();
    }
    for (std::thread* t : {&m_controlThread, &m_serveThread, &m_atReceiveThread, &m_atSendThread})
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
    const size_t placed = m_peers.size() - (m_serving ? 1 : 0);
    if (placed >= kMaxPeers) {
        // A request taken in is answered: only a sender with nothing
        // waiting gives way, the one heard from the longest ago. When every
        // place holds a sender with frames waiting, the newcomer's datagram
        // is the one dropped.
        auto forget = m_peers.end();
        for (auto it = m_peers.begin(); it != m_peers.end(); ++it)
            if (&*it != m_serving && !hasWaiting(*it) &&
                (forget == m_peers.end() || it->lastHeardUs < forget->lastHeardUs))
                forget = it;
        if (forget == m_peers.end())
            return nullptr;
        m_peers.erase(forget);
    }
    Peer p;
    p.key = key;
    p.addr = from;
    p.endpoint = std::make_unique<link_endpoint>(*this);
    m_peers.push_back(std::move(p));
    return &m_peers.back();
}

bool udpnetManage::hasWaiting(const Peer& peer)
{
    return peer.endpoint->pending() || !peer.inbox.empty();
}

void udpnetManage::takeDatagram(Peer& peer, const unsigned char* data, size_t length)
{
    if (peer.endpoint->waiting() < kMaxWaiting)
        peer.endpoint->take(data, length);
}

void udpnetManage::takePlace(Peer& peer)
{
    // A sender takes its place when its next frame arrives, or, when that
    // frame arrived earlier, once the one before it was served (the sender
    // just served goes behind the others heard from meanwhile). Its next
    // frame, when a pass-through, takes its ticket in the pass-through line
    // at the same moment: the two lines keep the same order, across the
    // transports too.
    if (peer.place != 0 || &peer == m_serving || !peer.endpoint->pending())
        return;
    peer.place = m_nextPlace++;
    peer.endpoint->take_ticket();
}

void udpnetManage::udpacceptThread()
{
    Utils::name_thread("udp-rx");
    // The receiving thread: each datagram is taken as it arrives, whatever
    // is being served meanwhile, and its sender takes its place in the line
    // then (up to kMaxWaiting frames a sender; a datagram beyond is
    // dropped).
    std::vector<unsigned char> buffer(65536);
    while (!m_stop) {
        sockaddr_in from{};
        const ssize_t n = m_control.receive(buffer.data(), buffer.size(), from, kPollMs);
        if (n <= 0)
            continue;
        std::lock_guard<std::mutex> hold(m_lineMutex);
        Peer* p = peerOf(from);
        if (!p)
            continue;
        p->lastHeardUs = platform::clock().nowUs();
        if (p == m_serving) {
            if (p->inbox.size() < kMaxWaiting)
                p->inbox.emplace_back(buffer.begin(), buffer.begin() + n);
            continue;
        }
        takeDatagram(*p, buffer.data(), static_cast<size_t>(n));
        takePlace(*p);
        m_lineMoved.notify_all();
    }
}

void udpnetManage::serveThread()
{
    Utils::name_thread("udp-serve");
    // Frames are served one at a time, the first in line first. A sender
    // with frames waiting has one place in the line, taken when its frame
    // arrived; served, it takes a new one behind what arrived meanwhile. So
    // a PC whose frames take long (pass-throughs to slow cards, flash
    // erases) holds a PC that sends later for at most the frame being
    // served. A pass-through whose ticket is not up waits, and the other
    // senders are served meanwhile.
    std::unique_lock<std::mutex> hold(m_lineMutex);
    while (!m_stop) {
        Peer* next = pickNext();
        if (!next) {
            bool ticketWait = false;
            for (const Peer& p : m_peers)
                ticketWait = ticketWait || (p.place != 0 && p.endpoint->front_waits_for_ticket());
            m_lineMoved.wait_for(hold, std::chrono::milliseconds(ticketWait ? kTicketPollMs : kPollMs));
            continue;
        }
        next->place = 0;
        m_serving = next;
        hold.unlock();
        serveOne(*next);
        hold.lock();
        m_serving = nullptr;
        for (const std::vector<unsigned char>& d : next->inbox)
            takeDatagram(*next, d.data(), d.size());
        next->inbox.clear();
        takePlace(*next);
    }
}

udpnetManage::Peer* udpnetManage::pickNext()
{
    // The first in line whose frame may be served; a pass-through whose
    // ticket is not up is passed over. Chooses, changes nothing.
    Peer* next = nullptr;
    for (Peer& p : m_peers)
        if (p.place != 0 && (!next || p.place < next->place) && !p.endpoint->front_waits_for_ticket())
            next = &p;
    return next;
}

void udpnetManage::serveOne(Peer& peer)
{
    // Served without the line's mutex: only this thread touches the
    // sender's endpoint until its service ends. The reply goes to its
    // address.
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
