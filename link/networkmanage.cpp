#include "link/networkmanage.h"

#include "core/logMsg.h"
#include "core/utils.h"
#include "link/link_global.h"
#include "link/link_io.h"
#include "platform/clock.h"

#include <cerrno>
#include <chrono>
#include <linux/sockios.h>
#include <poll.h>
#include <sys/epoll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

Published<networkManage> networkManage::p_networkManage;

namespace {

constexpr int kPollMs = 200;
// How often a PC's next request held back after its FIN, waiting for the
// acknowledgement of its replies, is looked at.
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
    if (!m_server.listen(port, kBacklog))
        return;
    static const char* const names[2] = {"tcp-a", "tcp-b"};
    if (!m_set.ok() || !m_set.watchEnd(m_line.endFd()) || !m_set.watch(m_server.fd(), kServerKey, EPOLLIN)) {
        writeLogMsg(ERROR, "TCP: no epoll set, the control link is not served");
        return;
    }
    m_line.start(names);
}

networkManage::~networkManage()
{
    m_line.stop();
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
    // connection is read only while none of its requests waits), so the
    // connection is done.
    if (n == 0 || (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)) {
        client.state = State::Broken;
        return;
    }
    if (n < 0)
        return;
    client.lastHeardUs = platform::clock().nowUs();
    // The replies to what this read brought share one bound on how slowly
    // the PC takes them.
    client.writeSpentUs = 0;
    client.endpoint->take(buffer, static_cast<size_t>(n));
    m_line.takePlace(client);
}

networkManage::Watch networkManage::watchedFor(State state, bool finSeen)
{
    // A connection is read while none of its requests waits. One with a
    // request waiting stays watched as it was until its PC sends more:
    // from then on only its FIN (once) and reset count, until its requests
    // have been served. (A request served at once, or waiting in line with
    // nothing behind it, costs no change of the watch.) The one being
    // served is watched as kServedWatch says. A broken one is not watched
    // again (nobody asks).
    switch (state) {
    case State::Reading:
        return {EPOLLIN | EPOLLRDHUP, false};
    case State::HeldBack:
        return {finSeen ? 0u : uint32_t{EPOLLRDHUP}, false};
    case State::Broken:
        break;
    }
    return {0, true};
}

void networkManage::rearm(Client& client)
{
    if (&client == m_line.serving()) {
        watchServed(client);
        return;
    }
    if (client.state == State::Broken)
        return;
    if (client.state == State::HeldBack && !client.endpoint->pending())
        client.state = State::Reading;
    if (!watch(client, watchedFor(client.state, client.finSeen)))
        client.state = State::Broken;
}

void networkManage::watchServed(Client& client)
{
    // Its state is its worker's meanwhile: the watch is set from the line's
    // word alone.
    watch(client, kServedWatch);
}

bool networkManage::arm(Client& client, Watch wanted)
{
    client.armed = m_set.watch(client.fd, client.id, wanted.events, wanted.once);
    client.armedFor = wanted.events;
    client.armedOnce = wanted.once;
    return client.armed;
}

void networkManage::wait(int timeoutMs)
{
    m_foundCount = m_set.wait(m_found, kFoundAtOnce, timeoutMs);
}

void networkManage::look()
{
    // What every connection sent during a short service takes its place,
    // in the order it came: as many looks as the server and every
    // connection may fill.
    for (int look = 0; look < (kMaxClients + kFoundAtOnce) / kFoundAtOnce; ++look) {
        wait(0);
        const bool full = m_foundCount == kFoundAtOnce;
        take();
        if (!full)
            return;
    }
}

void networkManage::take()
{
    for (int i = 0; i < m_foundCount; ++i)
        arrived(m_found[i].data.u64, m_found[i].events);
    m_foundCount = 0;
}

void networkManage::arrived(uint64_t key, uint32_t events)
{
    if (key == kServerKey) {
        acceptNewcomers();
        return;
    }
    for (Client& c : m_clients) {
        if (c.id != key)
            continue;
        // The connection being served is watched again once its service
        // has ended (see served()).
        if (c.armedOnce)
            c.armed = false;
        if (&c == m_line.serving())
            return;
        if (events & (EPOLLHUP | EPOLLERR)) {
            c.state = State::Broken;
        } else if (c.state != State::Broken && (events & EPOLLIN) && !c.endpoint->pending()) {
            readClient(c);
        } else {
            // Bytes or the PC's FIN while a request of it waits: they are
            // read once it has been served; until then only its FIN and
            // reset count.
            c.finSeen = c.finSeen || (events & EPOLLRDHUP);
            if (c.state == State::Reading)
                c.state = State::HeldBack;
        }
        rearm(c);
        return;
    }
}

bool networkManage::mayServe(const ServiceLine::Stream& stream) const
{
    // A PC that has shut down its sending side may have closed the
    // connection altogether. Its next request waits until what was written
    // to it is acknowledged (it reads on) or the connection is reset (it is
    // gone, and the requests it left are dropped): a PC that left has no
    // more of its requests served than the one being served. A PC that
    // takes nothing meanwhile is let go, see watchHeld().
    const Client& client = static_cast<const Client&>(stream);
    return client.state != State::Broken && (!client.finSeen || unacknowledged(client) == 0);
}

void networkManage::serve(ServiceLine::Stream& stream, link_endpoint::Job& job)
{
    Client& client = static_cast<Client&>(stream);
    client_socket = client.fd;
    client.endpoint->serve(job, client.id, [&](const unsigned char* data, int length) {
        if (client.state == State::Broken)
            return;
        // Only the time spent writing counts: a command that keeps the
        // device busy for seconds (a flash erase) is not the PC's delay.
        const auto start = std::chrono::steady_clock::now();
        const int64_t leftUs = int64_t{kLinkWriteBoundMs} * 1000 - client.writeSpentUs;
        if (leftUs <= 0 ||
            !link_write_all(client.fd, data, static_cast<size_t>(length), start + std::chrono::microseconds(leftUs)))
            client.state = State::Broken;
        client.writeSpentUs +=
            std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - start).count();
    });
}

void networkManage::served(ServiceLine::Stream& stream)
{
    Client& client = static_cast<Client&>(stream);
    if (client.endpoint->pending())
        lookForEnd(client);
    else
        rearm(client);
}

int networkManage::unacknowledged(const Client& client)
{
    int bytes = 0;
    return ::ioctl(client.fd, SIOCOUTQ, &bytes) == 0 ? bytes : 0;
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
        client.state = State::Broken;
    }
}

int networkManage::tend()
{
    // A connection whose PC is gone (reset, or a reply that could not be
    // written) is dropped with the requests it left; one held back after
    // its PC's FIN is looked at often.
    dropBroken();
    int waitMs = kPollMs;
    for (Client& c : m_clients) {
        holdOrRelease(c);
        rearm(c);
        if (c.held)
            waitMs = kHeldPollMs;
    }
    return waitMs;
}

void networkManage::holdOrRelease(Client& c)
{
    // A PC whose next request waits for the acknowledgement of its replies
    // (it may never come) holds no place and no pass-through ticket
    // meanwhile, and is let go when nothing moves (watchHeld()); released,
    // it takes a new place behind the others. Afterwards `held` tells
    // whether its next request waits so.
    if (&c == m_line.serving())
        return;
    if (c.endpoint->pending() && !mayServe(c)) {
        m_line.unplace(c);
        c.endpoint->give_up_ticket();
        watchHeld(c);
    } else {
        c.held = false;
        m_line.takePlace(c);
    }
}

void networkManage::acceptNewcomers()
{
    for (int fd; (fd = m_server.accept()) >= 0;) {
        const uint64_t now = platform::clock().nowUs();
        if (static_cast<int>(m_clients.size()) >= kMaxClients) {
            // Connections left open and silent must not shut every other PC
            // out for good. A connection with a request waiting or being
            // served is not silent: its request was taken in and is
            // answered.
            auto idle = m_clients.end();
            for (auto it = m_clients.begin(); it != m_clients.end(); ++it)
                if (&*it != m_line.serving() && !it->endpoint->pending() &&
                    (idle == m_clients.end() || it->lastHeardUs < idle->lastHeardUs))
                    idle = it;
            if (idle == m_clients.end() || now - idle->lastHeardUs < kIdleTakenUs) {
                writeLogMsg(WARNING, "TCP: too many connections, one refused");
                ::close(fd);
                continue;
            }
            writeLogMsg(WARNING, "TCP: too many connections, the longest silent one closed");
            m_line.leave(*idle);
            m_set.unwatch(idle->fd);
            ::close(idle->fd);
            m_clients.erase(idle);
        }
        Client c;
        c.fd = fd;
        c.id = m_nextId++;
        c.lastHeardUs = now;
        c.endpoint = std::make_unique<link_endpoint>(*this);
        m_clients.push_back(std::move(c));
        Client& added = m_clients.back();
        m_line.join(added);
        // A request sent right after the connect takes its place now.
        readClient(added);
        if (!added.endpoint->pending())
            rearm(added);
    }
}

void networkManage::dropBroken()
{
    // A connection whose PC is gone goes with the requests it left (its
    // endpoint gives up its pass-through ticket); the one being served
    // once its service has ended.
    for (auto it = m_clients.begin(); it != m_clients.end();) {
        if (&*it != m_line.serving() && it->state == State::Broken) {
            m_line.leave(*it);
            m_set.unwatch(it->fd);
            ::close(it->fd);
            it = m_clients.erase(it);
        } else {
            ++it;
        }
    }
}

void networkManage::lookForEnd(Client& client)
{
    // What was seen of the connection while it was served: its PC's FIN
    // (its next request then waits, see mayServe()) or its reset.
    pollfd p{client.fd, static_cast<short>(client.finSeen ? 0 : POLLRDHUP), 0};
    if (::poll(&p, 1, 0) <= 0)
        return;
    if (p.revents & (POLLHUP | POLLERR | POLLNVAL))
        client.state = State::Broken;
    else if (p.revents & POLLRDHUP)
        client.finSeen = true;
}

void networkManage::queue_reply(const unsigned char* framed, int length)
{
    link_replace_reply(tcp_send_list, framed, length).socket = static_cast<uint32_t>(client_socket.load());
}
