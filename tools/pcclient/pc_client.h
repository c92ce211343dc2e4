// PC side of the control protocol: builds requests, sends them over UDP,
// TCP or a serial port and collects the replies. Used by the tests, the
// benchmarks and the zdrlink command-line tool.
#pragma once

#include "link/protocol_phy.h"

#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <vector>

namespace pcclient {

using Bytes = std::vector<unsigned char>;

constexpr uint16_t kProcessor = 0xF001;
constexpr uint16_t kSendingCard = 0xF000;
constexpr uint16_t kPc = 0xF010;

// A reply (or any received frame), un-escaped.
struct Reply {
    Bytes body;                 // the whole body, check byte included
    uint16_t dest = 0;
    uint16_t src = 0;
    unsigned char command = 0;
    unsigned char status = 0xFF;
    Bytes data;                 // payload after the status byte
};

// One request: the body with its check byte.
Bytes buildBody(uint16_t dest, unsigned char command, const Bytes& payload, unsigned char port = 0,
                uint16_t src = kPc);
// The body framed for the wire.
Bytes frameBody(const Bytes& body);
Reply parseReply(const unsigned char* body, int length);

// Payloads of the commands.
Bytes ramWritePayload(uint32_t address, const Bytes& data);
Bytes ramReadPayload(uint32_t address, uint16_t count);
struct RegItem {
    uint16_t reg;
    unsigned char mask;
    unsigned char value;
};
Bytes regWritePayload(const std::vector<RegItem>& items);
Bytes regReadPayload(uint16_t first, uint16_t count);
struct ParaItem {
    unsigned char item;
    unsigned char index;
    uint16_t value;
};
Bytes itemsPayload(const std::vector<ParaItem>& items);
Bytes clockPayload(int year, int month, int day, int hour, int minute, int second);
Bytes networkPayload(const unsigned char ip[4], const unsigned char mask[4], const unsigned char gw[4],
                     uint16_t tcpPort);
Bytes fileStartPayload(unsigned char type, const std::string& tag, uint32_t size);
Bytes fileDataPayload(uint32_t offset, const unsigned char* data, size_t length);
Bytes fileEndPayload(const std::string& md5hex);
std::string md5Hex(const Bytes& data);

// A connection to the device.
class Link {
public:
    virtual ~Link();
    bool isOpen() const { return m_fd >= 0; }
    // Sends raw bytes (already framed).
    virtual bool sendRaw(const unsigned char* data, size_t length) = 0;
    bool sendRaw(const Bytes& bytes) { return sendRaw(bytes.data(), bytes.size()); }
    // Reads raw bytes (no framing): count, 0 on time-out, -1 on an error.
    long receiveRaw(unsigned char* buffer, size_t size, int timeoutMs) { return readSome(buffer, size, timeoutMs); }
    // Waits up to timeoutMs for the next frame.
    bool receive(Reply& reply, int timeoutMs);
    // Sends one request and waits for its reply (the next frame received
    // with the same command).
    bool request(uint16_t dest, unsigned char command, const Bytes& payload, Reply& reply, int timeoutMs = 3000,
                 unsigned char port = 0);
    // A wait ended before its time because the link went away: the device
    // closed the connection (lostErrno() 0) or the socket reported an error
    // (its errno, e.g. ECONNREFUSED: nothing listens on that UDP port).
    bool lost() const { return m_lost; }
    int lostErrno() const { return m_lostErrno; }

protected:
    // Reads what has arrived within timeoutMs: byte count, 0 on time-out, -1
    // on an error.
    virtual long readSome(unsigned char* buffer, size_t size, int timeoutMs) = 0;
    void closeFd();
    int m_fd = -1;

private:
    protocol_phy m_phy;
    std::deque<Bytes> m_frames;
    bool m_lost = false;
    int m_lostErrno = 0;
};

class UdpLink : public Link {
public:
    // host: an IPv4 address literal.
    bool open(const std::string& host, unsigned short port);
    bool sendRaw(const unsigned char* data, size_t length) override;
    using Link::sendRaw;

protected:
    long readSome(unsigned char* buffer, size_t size, int timeoutMs) override;

private:
    unsigned char m_to[16] = {0};
};

class TcpLink : public Link {
public:
    bool open(const std::string& host, unsigned short port, int timeoutMs = 3000);
    bool sendRaw(const unsigned char* data, size_t length) override;
    using Link::sendRaw;

protected:
    long readSome(unsigned char* buffer, size_t size, int timeoutMs) override;
};

class SerialLink : public Link {
public:
    // Opens a serial device (or the simulated board's pseudo-terminal) raw.
    bool open(const std::string& path);
    bool sendRaw(const unsigned char* data, size_t length) override;
    using Link::sendRaw;

protected:
    long readSome(unsigned char* buffer, size_t size, int timeoutMs) override;
};

// Uploads a file: start, data blocks of blockSize bytes, end with the MD5
// (md5hex empty: the file's own). Returns the status of the step that
// failed or of the end; 0xFF when a reply was missing.
unsigned char uploadFile(Link& link, unsigned char type, const std::string& tag, const Bytes& data,
                         const std::string& md5hex = std::string(), size_t blockSize = 1024);

// One AT command over UDP; the reply text ("" when none came).
std::string atCommand(const std::string& host, unsigned short port, const std::string& line, int timeoutMs = 3000);

} // namespace pcclient
