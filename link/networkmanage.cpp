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
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

Published<networkManage> networkManage::p_networkManage;

namespace {

constexpr int kPollMs = 200;
// How often a request held back is looked at: a PC's next request after
// its FIN waiting for the acknowledgement of its replies (by the reader), a
// pass-through waiting for its ticket (by the serving thread).
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
    m_wakeFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    m_thread = std::thread(&networkManage::acceptThread, this);
    m_serveThread = std::thread(&networkManage::serveThread, this);
}

networkManage::~networkManage()
{
    m_stop = true;
    {
        std::lock_guard<std::mutex> hold(m_lineMutex);
        m_lineMoved.notify_all();
    }
    wakeReader();
    if (m_serveThread.joinable())
        m_serveThread.join();
    if (m_thread.joinable())
        m_thread.join();
    for (Client& c : m_clients)
        ::close(c.fd);
    if (m_wakeFd >= 0)
        ::close(m_wakeFd);
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
    takePlace(client);
}

void networkManage::takePlace(Client& client)
{
    // A connection takes its place when its next request arrives, or, when
    // that request arrived earlier, once the one before it was served (the
    // connection just served goes behind those heard from meanwhile), or
    // once it may be served again after a hold (see mayServe()). Its next
    // request, when a pass-through, takes its ticket in the pass-through
    // line at the same moment: the two lines keep the same order, across
    // the transports too.
    if (client.place != 0 || client.broken || &client == m_serving || !client.endpoint->pending() ||
        !mayServe(client))
        return;
    client.place = m_nextPlace++;
    client.endpoint->take_ticket();
}

void networkManage::serveOne(Client& client)
{
    // Served without the line's mutex: only this thread touches the
    // connection until its service ends.
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
    // The reader. Every connection is read as its bytes arrive, but for one
    // with requests waiting (its stream's end must come after they are
    // served; it is only watched for its PC's FIN or reset) and the one
    // being served: a request's place in the line is given when it
    // arrives, whatever is being served meanwhile. A connection whose PC is
    // gone (reset, or a reply that could not be written) is dropped with
    // the requests it left; after a PC's FIN, see mayServe().
    std::vector<pollfd> fds;
    std::vector<Client*> polled;
    while (!m_stop) {
        int waitMs = kPollMs;
        {
            std::lock_guard<std::mutex> hold(m_lineMutex);
            dropBroken();
            holdOrRelease();
            waitMs = buildPollSet(fds, polled);
            m_lineMoved.notify_all();
        }
        if (::poll(fds.data(), fds.size(), waitMs) < 0)
            continue;
        uint64_t woken = 0;
        if (m_wakeFd >= 0)
            while (::read(m_wakeFd, &woken, sizeof(woken)) > 0) {
            }
        std::lock_guard<std::mutex> hold(m_lineMutex);
        readArrivals(fds, polled);
        if (fds[0].revents & POLLIN)
            acceptNewcomers();
        dropBroken();
        m_lineMoved.notify_all();
    }
}

void networkManage::holdOrRelease()
{
    // A PC whose next request waits for the acknowledgement of its replies
    // (it may never come) holds no place and no pass-through ticket
    // meanwhile, and is let go when nothing moves (watchHeld()); released,
    // it takes a new place behind the others. Afterwards `held` tells the
    // connections whose next request waits so.
    for (Client& c : m_clients) {
        if (&c == m_serving)
            continue;
        if (c.endpoint->pending() && !mayServe(c)) {
            c.place = 0;
            c.endpoint->give_up_ticket();
            watchHeld(c);
        } else {
            c.held = false;
            takePlace(c);
        }
    }
}

int networkManage::buildPollSet(std::vector<pollfd>& fds, std::vector<Client*>& polled)
{
    // The server, the serving thread's wake-up and every connection but the
    // one being served: one with requests waiting is not read, only watched
    // for its PC's FIN. The poll looks again soon while one is held back.
    fds.clear();
    polled.clear();
    fds.push_back(pollfd{m_server.fd(), POLLIN, 0});
    fds.push_back(pollfd{m_wakeFd, POLLIN, 0});
    bool held = false;
    for (Client& c : m_clients) {
        if (&c == m_serving)
            continue;
        const bool pending = c.endpoint->pending();
        held = held || c.held;
        const short events = pending ? (c.finSeen ? 0 : POLLRDHUP) : POLLIN;
        fds.push_back(pollfd{c.fd, events, 0});
        polled.push_back(&c);
    }
    return held ? kHeldPollMs : kPollMs;
}

void networkManage::readArrivals(const std::vector<pollfd>& fds, const std::vector<Client*>& polled)
{
    // What the poll found on the connections (the set's entries after the
    // server's and the wake-up's). One whose service began meanwhile is
    // looked at again once it ends.
    for (size_t i = 0; i < polled.size(); ++i) {
        Client& c = *polled[i];
        const short revents = fds[i + 2].revents;
        if (&c == m_serving)
            continue;
        if (revents & (POLLHUP | POLLERR | POLLNVAL))
            c.broken = true;
        else if (!c.broken && (revents & POLLIN) && !c.endpoint->pending())
            readClient(c);
        else if (revents & POLLRDHUP)
            c.finSeen = true;
    }
}

void networkManage::acceptNewcomers()
{
    for (int fd; (fd = m_server.accept()) >= 0;) {
        const uint64_t now = platform::clock().nowUs();
        if (static_cast<int>(m_clients.size()) >= kMaxClients) {
            // Connections left open and silent must not shut every other PC
            // out for good (the one being served is not silent).
            auto idle = m_clients.end();
            for (auto it = m_clients.begin(); it != m_clients.end(); ++it)
                if (&*it != m_serving && (idle == m_clients.end() || it->lastHeardUs < idle->lastHeardUs))
                    idle = it;
            if (idle == m_clients.end() || now - idle->lastHeardUs < kIdleTakenUs) {
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
        // A request sent right after the connect takes its place now.
        readClient(m_clients.back());
    }
}

void networkManage::dropBroken()
{
    // A connection whose PC is gone goes with the requests it left (its
    // endpoint gives up its pass-through ticket); the one being served
    // once its service has ended.
    for (auto it = m_clients.begin(); it != m_clients.end();) {
        if (&*it != m_serving && it->broken) {
            ::close(it->fd);
            it = m_clients.erase(it);
        } else {
            ++it;
        }
    }
}

void networkManage::serveThread()
{
    Utils::name_thread("tcp-serve");
    // Requests are served one at a time, the first in line first. A
    // connection with requests waiting has one place in the line, taken
    // when its request arrived; served, it takes a new one behind what
    // arrived meanwhile. So a PC that queued many slow requests
    // (pass-throughs to cards, flash erases) holds a PC that comes later
    // for at most the request being served. A pass-through whose ticket is
    // not up waits, and the others are served meanwhile.
    std::unique_lock<std::mutex> hold(m_lineMutex);
    while (!m_stop) {
        Client* next = pickNext();
        if (!next) {
            bool ticketWait = false;
            for (const Client& c : m_clients)
                ticketWait = ticketWait || (c.place != 0 && c.endpoint->front_waits_for_ticket());
            m_lineMoved.wait_for(hold, std::chrono::milliseconds(ticketWait ? kHeldPollMs : kPollMs));
            continue;
        }
        next->place = 0;
        m_serving = next;
        hold.unlock();
        serveOne(*next);
        lookForEnd(*next);
        hold.lock();
        m_serving = nullptr;
        takePlace(*next);
        wakeReader();
    }
}

void networkManage::lookForEnd(Client& client)
{
    // What the reader would have seen on the connection while it was
    // served: its PC's FIN (its next request then waits, see mayServe())
    // or its reset.
    pollfd p{client.fd, static_cast<short>(client.finSeen ? 0 : POLLRDHUP), 0};
    if (::poll(&p, 1, 0) <= 0)
        return;
    if (p.revents & (POLLHUP | POLLERR | POLLNVAL))
        client.broken = true;
    else if (p.revents & POLLRDHUP)
        client.finSeen = true;
}

networkManage::Client* networkManage::pickNext()
{
    // The first in line whose request may be served; a pass-through whose
    // ticket is not up is passed over. Chooses, changes nothing.
    Client* next = nullptr;
    for (Client& c : m_clients) {
        if (c.place == 0 || c.broken || !mayServe(c) || c.endpoint->front_waits_for_ticket())
            continue;
        if (!next || c.place < next->place)
            next = &c;
    }
    return next;
}

void networkManage::wakeReader()
{
    if (m_wakeFd < 0)
        return;
    const uint64_t one = 1;
    if (::write(m_wakeFd, &one, sizeof(one)) < 0) {
        // Already woken (the counter is full), or closed at the end.
    }
}

void networkManage::queue_reply(const unsigned char* framed, int length)
{
    link_replace_reply(tcp_send_list, framed, length).socket = static_cast<uint32_t>(client_socket.load());
}
