#include "pc_client.h"

#include "core/md5.h"
#include "link/link_io.h"

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

namespace pcclient {

namespace {

void put16(Bytes& b, uint16_t v)
{
    b.push_back(static_cast<unsigned char>(v));
    b.push_back(static_cast<unsigned char>(v >> 8));
}

void put32(Bytes& b, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        b.push_back(static_cast<unsigned char>(v >> (8 * i)));
}

uint16_t get16(const unsigned char* p)
{
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}

bool toAddress(const std::string& host, unsigned short port, sockaddr_in& addr)
{
    std::memset(&addr, 0, sizeof(addr));
    addr.sin_family = AF_INET;
    addr.sin_port = htons(port);
    return ::inet_pton(AF_INET, host.c_str(), &addr.sin_addr) == 1;
}

long pollRead(int fd, unsigned char* buffer, size_t size, int timeoutMs, bool stream)
{
    pollfd p{fd, POLLIN, 0};
    const int r = ::poll(&p, 1, timeoutMs);
    if (r < 0)
        return errno == EINTR ? 0 : -1;
    if (r == 0)
        return 0;
    const ssize_t n = stream ? ::read(fd, buffer, size) : ::recv(fd, buffer, size, 0);
    if (n == 0 && stream) {
        errno = 0;
        return -1;   // connection closed
    }
    return n < 0 ? (errno == EAGAIN || errno == EINTR ? 0 : -1) : n;
}

// A socket of the given type for talking to host:port; -1 when the
// address is not an IPv4 literal.
int openClientSocket(const std::string& host, unsigned short port, int type, sockaddr_in& to)
{
    if (!toAddress(host, port, to))
        return -1;
    return ::socket(AF_INET, type | SOCK_CLOEXEC, 0);
}

} // namespace

Bytes buildBody(uint16_t dest, unsigned char command, const Bytes& payload, unsigned char port, uint16_t src)
{
    Bytes b;
    put16(b, dest);
    put16(b, src);
    put16(b, static_cast<uint16_t>(payload.size()));
    b.push_back(0);
    b.push_back(port);
    b.push_back(0);
    b.push_back(command);
    b.insert(b.end(), payload.begin(), payload.end());
    unsigned char x = 0;
    for (unsigned char c : b)
        x ^= c;
    b.push_back(x);
    return b;
}

Bytes frameBody(const Bytes& body)
{
    Bytes out(protocol_phy::framed_size(body.size()));
    const int n = protocol_phy::data_re_transf_meaning(out.data(), body.data(), static_cast<int>(body.size()), nullptr);
    out.resize(static_cast<size_t>(n));
    return out;
}

Reply parseReply(const unsigned char* body, int length)
{
    Reply r;
    r.body.assign(body, body + length);
    if (length < 11)
        return r;
    r.dest = get16(body);
    r.src = get16(body + 2);
    r.command = body[9];
    if (length >= 12) {
        r.status = body[10];
        r.data.assign(body + 11, body + length - 1);
    }
    return r;
}

Bytes ramWritePayload(uint32_t address, const Bytes& data)
{
    Bytes b;
    put32(b, address);
    put16(b, static_cast<uint16_t>(data.size()));
    put16(b, 0);
    b.insert(b.end(), data.begin(), data.end());
    return b;
}

Bytes ramReadPayload(uint32_t address, uint16_t count)
{
    Bytes b;
    put32(b, address);
    put16(b, count);
    put16(b, 0);
    return b;
}

Bytes regWritePayload(const std::vector<RegItem>& items)
{
    Bytes b;
    for (const RegItem& i : items) {
        put16(b, i.reg);
        b.push_back(i.mask);
        b.push_back(i.value);
    }
    return b;
}

Bytes regReadPayload(uint16_t first, uint16_t count)
{
    Bytes b;
    put16(b, first);
    put16(b, count);
    return b;
}

Bytes itemsPayload(const std::vector<ParaItem>& items)
{
    Bytes b;
    for (const ParaItem& i : items) {
        b.push_back(i.item);
        b.push_back(i.index);
        put16(b, i.value);
    }
    return b;
}

Bytes clockPayload(int year, int month, int day, int hour, int minute, int second)
{
    Bytes b;
    put16(b, static_cast<uint16_t>(year));
    for (int v : {month, day, hour, minute, second})
        b.push_back(static_cast<unsigned char>(v));
    return b;
}

Bytes networkPayload(const unsigned char ip[4], const unsigned char mask[4], const unsigned char gw[4],
                     uint16_t tcpPort)
{
    Bytes b(ip, ip + 4);
    b.insert(b.end(), mask, mask + 4);
    b.insert(b.end(), gw, gw + 4);
    put16(b, tcpPort);
    return b;
}

Bytes fileStartPayload(unsigned char type, const std::string& tag, uint32_t size)
{
    Bytes b;
    b.push_back(type);
    for (size_t i = 0; i < 4; ++i)
        b.push_back(i < tag.size() ? static_cast<unsigned char>(tag[i]) : 0);
    put32(b, size);
    return b;
}

Bytes fileDataPayload(uint32_t offset, const unsigned char* data, size_t length)
{
    Bytes b;
    put32(b, offset);
    b.insert(b.end(), data, data + length);
    return b;
}

Bytes fileEndPayload(const std::string& md5hex)
{
    return Bytes(md5hex.begin(), md5hex.end());
}

std::string md5Hex(const Bytes& data)
{
    MD5 m(data.data(), data.size());
    return m.toString();
}

Link::~Link()
{
    closeFd();
}

void Link::closeFd()
{
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
}

bool Link::receive(Reply& reply, int timeoutMs)
{
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    unsigned char buffer[65536];
    while (m_frames.empty()) {
        const int left = static_cast<int>(
            std::chrono::duration_cast<std::chrono::milliseconds>(until - std::chrono::steady_clock::now()).count());
        if (left <= 0 || m_fd < 0)
            return false;
        const long n = readSome(buffer, sizeof(buffer), left);
        if (n < 0) {
            m_lost = true;
            m_lostErrno = errno;
            return false;
        }
        m_phy.push(buffer, static_cast<size_t>(n),
                   [this](const unsigned char* body, int length) { m_frames.emplace_back(body, body + length); });
    }
    const Bytes body = std::move(m_frames.front());
    m_frames.pop_front();
    reply = parseReply(body.data(), static_cast<int>(body.size()));
    return true;
}

bool Link::request(uint16_t dest, unsigned char command, const Bytes& payload, Reply& reply, int timeoutMs,
                   unsigned char port)
{
    if (!sendRaw(frameBody(buildBody(dest, command, payload, port))))
        return false;
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        const int left = static_cast<int>(
            std::chrono::duration_cast<std::chrono::milliseconds>(until - std::chrono::steady_clock::now()).count());
        if (left <= 0 || !receive(reply, left))
            return false;
        if (reply.command == command && reply.dest == kPc)
            return true;
    }
}

bool UdpLink::open(const std::string& host, unsigned short port)
{
    closeFd();
    sockaddr_in to;
    m_fd = openClientSocket(host, port, SOCK_DGRAM, to);
    if (m_fd < 0)
        return false;
    sockaddr_in local;
    toAddress("127.0.0.1", 0, local);
    if (to.sin_addr.s_addr == local.sin_addr.s_addr &&
        ::bind(m_fd, reinterpret_cast<sockaddr*>(&local), sizeof(local)) != 0) {
        closeFd();
        return false;
    }
    std::memcpy(m_to, &to, sizeof(m_to));
    return true;
}

bool UdpLink::sendRaw(const unsigned char* data, size_t length)
{
    sockaddr_in to;
    std::memcpy(&to, m_to, sizeof(to));
    return m_fd >= 0 &&
           ::sendto(m_fd, data, length, 0, reinterpret_cast<sockaddr*>(&to), sizeof(to)) ==
               static_cast<ssize_t>(length);
}

long UdpLink::readSome(unsigned char* buffer, size_t size, int timeoutMs)
{
    return pollRead(m_fd, buffer, size, timeoutMs, false);
}

bool TcpLink::open(const std::string& host, unsigned short port, int timeoutMs)
{
    closeFd();
    sockaddr_in to;
    m_fd = openClientSocket(host, port, SOCK_STREAM, to);
    if (m_fd < 0)
        return false;
    timeval tv{timeoutMs / 1000, (timeoutMs % 1000) * 1000};
    ::setsockopt(m_fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof(tv));
    const int one = 1;
    ::setsockopt(m_fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof(one));
    if (::connect(m_fd, reinterpret_cast<sockaddr*>(&to), sizeof(to)) != 0) {
        closeFd();
        return false;
    }
    return true;
}

bool TcpLink::sendRaw(const unsigned char* data, size_t length)
{
    return m_fd >= 0 && link_write_all(m_fd, data, length);
}

long TcpLink::readSome(unsigned char* buffer, size_t size, int timeoutMs)
{
    return pollRead(m_fd, buffer, size, timeoutMs, true);
}

bool SerialLink::open(const std::string& path)
{
    closeFd();
    m_fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (m_fd < 0)
        return false;
    termios tio{};
    if (::tcgetattr(m_fd, &tio) == 0) {
        ::cfmakeraw(&tio);
        tio.c_cc[VMIN] = 1;
        tio.c_cc[VTIME] = 0;
        ::tcsetattr(m_fd, TCSANOW, &tio);
    }
    return true;
}

bool SerialLink::sendRaw(const unsigned char* data, size_t length)
{
    return m_fd >= 0 && link_write_all(m_fd, data, length);
}

long SerialLink::readSome(unsigned char* buffer, size_t size, int timeoutMs)
{
    return pollRead(m_fd, buffer, size, timeoutMs, true);
}

unsigned char uploadFile(Link& link, unsigned char type, const std::string& tag, const Bytes& data,
                         const std::string& md5hex, size_t blockSize)
{
    Reply r;
    if (!link.request(kProcessor, 0x90, fileStartPayload(type, tag, static_cast<uint32_t>(data.size())), r))
        return 0xFF;
    if (r.status != 0)
        return r.status;
    for (size_t off = 0; off < data.size(); off += blockSize) {
        const size_t n = std::min(blockSize, data.size() - off);
        if (!link.request(kProcessor, 0x91, fileDataPayload(static_cast<uint32_t>(off), data.data() + off, n), r))
            return 0xFF;
        if (r.status != 0)
            return r.status;
    }
    if (!link.request(kProcessor, 0x92, fileEndPayload(md5hex.empty() ? md5Hex(data) : md5hex), r, 20000))
        return 0xFF;
    return r.status;
}

std::string atCommand(const std::string& host, unsigned short port, const std::string& line, int timeoutMs)
{
    UdpLink udp;
    if (!udp.open(host, port) || !udp.sendRaw(reinterpret_cast<const unsigned char*>(line.data()), line.size()))
        return std::string();
    unsigned char buffer[2048];
    const long n = udp.receiveRaw(buffer, sizeof(buffer), timeoutMs);
    return n > 0 ? std::string(reinterpret_cast<const char*>(buffer), static_cast<size_t>(n)) : std::string();
}

} // namespace pcclient
