#include "link/networkmanage.h"

#include "core/logMsg.h"
#include "core/utils.h"
#include "link/link_global.h"
#include "link/link_io.h"
#include "platform/clock.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

Published<networkManage> networkManage::p_networkManage;

namespace {

constexpr int kPollMs = 200;

} // namespace

networkManage* networkManage::pInstance()
{
    if (!p_networkManage)
        p_networkManage = new networkManage(static_cast<unsigned short>(Utils::settings_copy(g_port)));
    return p_networkManage;
}

networkManage::networkManage(unsigned short port)
{
    if (m_server.listen(port, kBacklog))
        m_thread = std::thread(&networkManage::acceptThread, this);
}

networkManage::~networkManage()
{
    m_stop = true;
    if (m_thread.joinable())
        m_thread.join();
    for (Client& c : m_clients)
        ::close(c.fd);
}

unsigned char networkManage::passby_code() const
{
    return kPassbyTcp;
}

bool networkManage::reply_list_ready()
{
    return !tcp_send_list.empty();
}

void networkManage::send_reply_list()
{
    for (const ReplyRecord& r : tcp_send_list)
        if (r.length <= sizeof(r.data))
            link_write_all(static_cast<int>(r.socket), r.data, r.length);
    tcp_send_list.clear();
}

void networkManage::serveClient(Client& client)
{
    unsigned char buffer[16384];
    const ssize_t n = ::recv(client.fd, buffer, sizeof(buffer), MSG_DONTWAIT);
    if (n == 0 || (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)) {
        client.broken = true;
        return;
    }
    if (n < 0)
        return;
    client.lastHeardUs = platform::clock().nowUs();
    client_socket = client.fd;
    // The replies to what one read brought are written within one bound
    // all together: a PC that asks for much and reads it slowly would
    // otherwise keep every other PC waiting. Past it the connection ends.
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(kLinkWriteBoundMs);
    client.endpoint->receive(buffer, static_cast<size_t>(n), client.id, [&](const unsigned char* data, int length) {
        if (client.broken)
            return;
        if (!link_write_all(client.fd, data, static_cast<size_t>(length)) || std::chrono::steady_clock::now() >= end)
            client.broken = true;
    });
}

void networkManage::acceptThread()
{
    Utils::name_thread("tcp-rx");
    std::vector<pollfd> fds;
    while (!m_stop) {
        fds.clear();
        fds.push_back(pollfd{m_server.fd(), POLLIN, 0});
        for (const Client& c : m_clients)
            fds.push_back(pollfd{c.fd, POLLIN, 0});
        const int r = ::poll(fds.data(), fds.size(), kPollMs);
        if (r <= 0)
            continue;

        for (size_t i = 1; i < fds.size(); ++i) {
            if (fds[i].revents & (POLLIN | POLLHUP | POLLERR))
                serveClient(m_clients[i - 1]);
        }
        for (auto it = m_clients.begin(); it != m_clients.end();) {
            if (it->broken) {
                ::close(it->fd);
                it = m_clients.erase(it);
            } else {
                ++it;
            }
        }
        if (fds[0].revents & POLLIN) {
            for (int fd; (fd = m_server.accept()) >= 0;) {
                const uint64_t now = platform::clock().nowUs();
                if (static_cast<int>(m_clients.size()) >= kMaxClients) {
                    // Connections left open and silent must not shut every
                    // other PC out for good.
                    auto idle = std::min_element(m_clients.begin(), m_clients.end(), [](const Client& a, const Client& b) {
                        return a.lastHeardUs < b.lastHeardUs;
                    });
                    if (now - idle->lastHeardUs < kIdleTakenUs) {
                        writeLogMsg(WARNING, "TCP: too many connections, one refused");
                        ::close(fd);
                        continue;
                    }
                    writeLogMsg(WARNING, "TCP: too many connections, the longest silent one closed");
                    ::close(idle->fd);
                    m_clients.erase(idle);
                }
                Client c;
                c.fd = fd;
                c.id = m_nextId++;
                c.lastHeardUs = now;
                c.endpoint = std::make_unique<link_endpoint>(*this);
                m_clients.push_back(std::move(c));
            }
        }
    }
}

void networkManage::queue_reply(const unsigned char* framed, int length)
{
    link_replace_reply(tcp_send_list, framed, length).socket = static_cast<uint32_t>(client_socket.load());
}
