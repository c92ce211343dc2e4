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

void udpnetManage::udpacceptThread()
{
    Utils::name_thread("udp-rx");
    std::vector<unsigned char> buffer(65536);
    const platform::Net& net = platform::net();
    while (!m_stop) {
        sockaddr_in from{};
        const ssize_t n = m_control.receive(buffer.data(), buffer.size(), from, kPollMs);
        if (n <= 0)
            continue;
        // Datagrams from another sender never continue a frame in progress.
        const uint64_t key = UdpServer::peerKey(from);
        if (key != m_lastPeerKey)
            m_endpoint.reset();
        m_lastPeerKey = key;
        last_peer = from;
        m_endpoint.receive(buffer.data(), static_cast<size_t>(n), key,
                           [&](const unsigned char* data, int length) {
                               m_control.sendTo(data, static_cast<size_t>(length), net.broadcastReplyTo(from));
                           });
    }
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
