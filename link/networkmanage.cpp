#include "link/networkmanage.h"

#include "core/logMsg.h"
#include "core/utils.h"
#include "link/link_global.h"
#include "link/link_io.h"
#include "platform/clock.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <linux/sockios.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

Published<networkManage> networkManage::p_networkManage;

namespace {

constexpr int kPollMs = 200;
// How often a request held back is looked at: a PC's next request after
// its FIN waiting for the acknowledgement of its replies, a pass-through
// waiting for its ticket.
constexpr int kHeldPollMs = 10;

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
    // A PC that does not take the cards' answer within the bound is let
    // go: the worker sees the connection ended at its next poll.
    for (const ReplyRecord& r : tcp_send_list)
        if (r.length <= sizeof(r.data) && !link_write_all(static_cast<int>(r.socket), r.data, r.length))
            ::shutdown(static_cast<int>(r.socket), SHUT_RDWR);
    tcp_send_list.clear();
}

void networkManage::readClient(Client& client)
{
    unsigned char buffer[16384];
    const ssize_t n = ::recv(client.fd, buffer, sizeof(buffer), MSG_DONTWAIT);
    // The end of the PC's stream comes after every byte it sent before it:
    // by then what those bytes asked for has been served and answered (a
    // connection is read only once its requests are served), so the
    // connection is done.
    if (n == 0 || (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)) {
        client.broken = true;
        return;
    }
    if (n < 0)
        return;
    client.lastHeardUs = platform::clock().nowUs();
    // The replies to what this read brought share one bound on how slowly
    // the PC takes them.
    client.writeSpentUs = 0;
    client.endpoint->take(buffer, static_cast<size_t>(n));
    // Its requests take their place in the line as they are read; the
    // connection just served goes behind the others read with it.
    if (client.place == 0 && client.endpoint->pending() && client.id != m_lastServed)
        enterLine(client);
}

void networkManage::enterLine(Client& client)
{
    // A pass-through next on the connection takes its ticket in the
    // pass-through line with its place here: behind the connections already
    // in the line.
    client.place = m_nextPlace++;
    if (mayServe(client))
        client.endpoint->take_ticket();
}

void networkManage::serveOne(Client& client)
{
    // Served, the connection leaves the line; it takes a new place behind
    // the others once its next request is looked at.
    client.place = 0;
    m_lastServed = client.id;
    client_socket = client.fd;
    client.endpoint->serve_one(client.id, [&](const unsigned char* data, int length) {
        if (client.broken)
            return;
        // Only the time spent writing counts: a command that keeps the
        // device busy for seconds (a flash erase) is not the PC's delay.
        const auto start = std::chrono::steady_clock::now();
        const int64_t leftUs = int64_t{kLinkWriteBoundMs} * 1000 - client.writeSpentUs;
        if (leftUs <= 0 ||
            !link_write_all(client.fd, data, static_cast<size_t>(length), start + std::chrono::microseconds(leftUs)))
            client.broken = true;
        client.writeSpentUs +=
            std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - start).count();
    });
}

int networkManage::unacknowledged(const Client& client)
{
    int bytes = 0;
    return ::ioctl(client.fd, SIOCOUTQ, &bytes) == 0 ? bytes : 0;
}

bool networkManage::mayServe(const Client& client)
{
    // A PC that has shut down its sending side may have closed the
    // connection altogether. Its next request waits until what was written
    // to it is acknowledged (it reads on) or the connection is reset (it is
    // gone, and the requests it left are dropped): a PC that left has no
    // more of its requests served than the one being served. A PC that
    // takes nothing meanwhile is let go, see watchHeld().
    return !client.finSeen || unacknowledged(client) == 0;
}

void networkManage::watchHeld(Client& client)
{
    // Nothing is written to a PC while its next request waits: one whose
    // receive window stays full would keep the connection for as long as
    // it keeps its socket. The bound on taking replies runs from the last
    // byte that moved (bytes still to be acknowledged, measured when the
    // wait began and at each look since).
    const int left = unacknowledged(client);
    const auto now = std::chrono::steady_clock::now();
    if (!client.held || left != client.heldUnacknowledged) {
        client.held = true;
        client.heldUnacknowledged = left;
        client.lastMoved = now;
    } else if (now - client.lastMoved >= std::chrono::milliseconds(kLinkWriteBoundMs)) {
        client.broken = true;
    }
}

void networkManage::acceptThread()
{
    Utils::name_thread("tcp-rx");
    // Requests are served one at a time. A connection with requests waiting
    // has one place in the line, taken in the order the connections'
    // requests arrived; served, it goes to the back, behind what arrived
    // meanwhile. So a PC that queued many slow requests (pass-throughs to
    // cards, flash erases) holds a PC that comes later for at most the
    // request being served. A connection is read again once its requests
    // are served: its stream's end then finds every request it sent before
    // served. One whose PC is gone (reset, or a reply that could not be
    // written) is dropped with the requests it left; after a PC's FIN, see
    // mayServe().
    std::vector<pollfd> fds;
    while (!m_stop) {
        releaseHeldTickets();
        const int waitMs = buildPollSet(fds);
        if (::poll(fds.data(), fds.size(), waitMs) < 0)
            continue;
        readArrivals(fds);
        if (fds[0].revents & POLLIN)
            acceptNewcomers();
        dropBroken();
        if (Client* next = pickNext())
            serveOne(*next);
    }
}

void networkManage::releaseHeldTickets()
{
    // A PC whose next request waits for the acknowledgement of its replies
    // (it may never come) holds no pass-through ticket meanwhile, and is
    // let go when nothing moves (watchHeld()). Afterwards `held` tells the
    // connections whose next request waits so.
    for (Client& c : m_clients) {
        if (c.endpoint->pending() && !mayServe(c)) {
            c.endpoint->give_up_ticket();
            watchHeld(c);
        } else {
            c.held = false;
        }
    }
}

int networkManage::buildPollSet(std::vector<pollfd>& fds)
{
    // The server and every connection: one with requests waiting is not
    // read (its stream's end must come after they are served), only
    // watched for its PC's FIN. The poll does not wait when a request may
    // be served, and looks again soon when one is held back.
    fds.clear();
    fds.push_back(pollfd{m_server.fd(), POLLIN, 0});
    bool ready = false, held = false;
    for (const Client& c : m_clients) {
        const bool pending = c.endpoint->pending();
        if (pending && !c.held && !c.endpoint->front_waits_for_ticket())
            ready = true;
        else if (pending)
            held = true;
        const short events = pending ? (c.finSeen ? 0 : POLLRDHUP) : POLLIN;
        fds.push_back(pollfd{c.fd, events, 0});
    }
    return ready ? 0 : held ? kHeldPollMs : kPollMs;
}

void networkManage::readArrivals(const std::vector<pollfd>& fds)
{
    // What the poll found on the connections (the set's entries after the
    // server's, in the connections' order).
    for (size_t i = 1; i < fds.size(); ++i) {
        Client& c = m_clients[i - 1];
        if (fds[i].revents & (POLLHUP | POLLERR | POLLNVAL))
            c.broken = true;
        else if (!c.broken && (fds[i].revents & POLLIN))
            readClient(c);
        else if (fds[i].revents & POLLRDHUP)
            c.finSeen = true;
    }
}

void networkManage::acceptNewcomers()
{
    for (int fd; (fd = m_server.accept()) >= 0;) {
        const uint64_t now = platform::clock().nowUs();
        if (static_cast<int>(m_clients.size()) >= kMaxClients) {
            // Connections left open and silent must not shut every other PC
            // out for good.
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
        // A request sent right after the connect is in line with what
        // arrived while the last request was served.
        readClient(m_clients.back());
    }
}

void networkManage::dropBroken()
{
    // A connection whose PC is gone goes with the requests it left (its
    // endpoint gives up its pass-through ticket).
    for (auto it = m_clients.begin(); it != m_clients.end();) {
        if (it->broken) {
            ::close(it->fd);
            it = m_clients.erase(it);
        } else {
            ++it;
        }
    }
}

networkManage::Client* networkManage::pickNext()
{
    // The connection just served goes back in the line, behind those whose
    // requests arrived while it was served. One that gave up its
    // pass-through ticket while it was held takes a new one, behind the
    // others. The first in line whose request may be served is next; a
    // pass-through whose ticket is not up waits, and the others are served
    // meanwhile.
    Client* next = nullptr;
    for (Client& c : m_clients) {
        if (c.place == 0 && c.endpoint->pending())
            enterLine(c);
        if (c.place == 0 || !mayServe(c))
            continue;
        c.endpoint->take_ticket();
        if ((!next || c.place < next->place) && !c.endpoint->front_waits_for_ticket())
            next = &c;
    }
    return next;
}

void networkManage::queue_reply(const unsigned char* framed, int length)
{
    link_replace_reply(tcp_send_list, framed, length).socket = static_cast<uint32_t>(client_socket.load());
}
