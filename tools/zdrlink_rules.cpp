#include "zdrlink_rules.h"

#include "core/calendar.h"
#include "core/le_bytes.h"
#include "core/para_layout.h"
#include "core/zdrrampara.h"
#include "link/link_global.h"
#include "link/message_deal.h"

#include <cctype>
#include <cstdio>
#include <string>

namespace zdrlink {

namespace {

using pcclient::Bytes;
using std::to_string;

// The device's own limits.
constexpr unsigned kMaxRead = message_deal::kMaxRead;           // bytes or registers in one read
constexpr unsigned kAreaSize = para::kBlockSize;                // the block, and each user mode's image
static_assert(ZdrRamPara::kSlotFileSize == para::kBlockSize, "a user mode's image is as large as the block");
constexpr unsigned kLastModeAddress = (ZdrRamPara::kSlotCount << 12) + kAreaSize - 1;
constexpr unsigned kProcessorRegisters = link_reg::kWritableCount; // written
constexpr unsigned kStatusWindow = ZdrRamPara::kStatusSize;        // read
constexpr unsigned kCardRegisters = link_services::kSendCardWritableCount;       // 0 to 170
constexpr unsigned kWindows = para::kLayerCount, kInputs = para::kInputCount, kCrops = para::kCropCount;
constexpr unsigned long long kMaxUpload = kFileBufSize;

std::string hex(unsigned long v)
{
    char b[16];
    std::snprintf(b, sizeof(b), "0x%lX", v);
    return b;
}

std::string dotted(const unsigned char* b)
{
    return to_string(b[0]) + "." + to_string(b[1]) + "." + to_string(b[2]) + "." + to_string(b[3]);
}

std::string bytesCount(unsigned n)
{
    return to_string(n) + (n == 1 ? " byte" : " bytes");
}

// The payload must have the length its command describes.
std::string length(const Bytes& p, size_t want, const char* what)
{
    if (p.size() == want)
        return std::string();
    return "the payload is " + bytesCount(static_cast<unsigned>(p.size())) + "; this command takes " +
           to_string(want) + " (" + what + ")";
}

std::string countRule(unsigned count, const char* what)
{
    if (count >= 1 && count <= kMaxRead)
        return std::string();
    return "a read of " + to_string(count) + " " + what + ": a read takes 1 to " + to_string(kMaxRead);
}

// A RAM range of the processor: the parameter block (0 to 0xFFF) or one
// user mode's image (mode m at m << 12, 1 to 16), never across them.
std::string processorRam(uint32_t address, unsigned count)
{
    if (address > kLastModeAddress)
        return "address " + hex(address) + " is beyond the processor's RAM (0 to 0xFFF the parameter block, " +
               "0x1000 to 0x10FFF user modes 1 to 16, 0x1000 each)";
    const unsigned offset = address & 0xFFF;
    if (offset + count <= kAreaSize)
        return std::string();
    const std::string area = address < 0x1000 ? std::string("the parameter block (0 to 0xFFF)")
                                              : "user mode " + to_string(address >> 12) + "'s image (" +
                                                    hex(address & ~0xFFFu) + " to " + hex(address | 0xFFF) + ")";
    return bytesCount(count) + " at " + to_string(address) + " (" + hex(address) + ") pass the end of " + area +
           ": at most " + to_string(kAreaSize - offset) + " from there";
}

// A RAM range of the sending card: the page in bits 12 to 19, the offset
// in bits 0 to 11; a transfer lies inside its page.
std::string cardRam(uint32_t address, unsigned count, bool write)
{
    const uint32_t page = address >> 12;
    unsigned size = 0;
    switch (page) {
    case 0x01: case 0x02: case 0x03: case 0x10: case 0x12: size = 1024; break;
    case 0x04: case 0x05: size = 136; break;
    case 0x11: size = 2048; break;
    case 0x13: size = write ? 0 : 131; break;
    default: break;
    }
    if (size == 0)
        return "address " + hex(address) + " is in page " + hex(page) + ", which the sending card " +
               (page == 0x13 ? "only reads out" : "does not have") +
               " (the page is in bits 12 to 19: 0x1000 the parameter page, 0x10000 the command page; " +
               "docs/protocol.md lists them)";
    const unsigned offset = address & 0xFFF;
    if (offset + count <= size)
        return std::string();
    return bytesCount(count) + " at " + hex(address) + " pass the end of page " + hex(page) + " (" +
           to_string(size) + " bytes): at most " + to_string(offset < size ? size - offset : 0) + " from there";
}

std::string fpgaRule(const Request& r)
{
    return r.card && r.fpga > 1 ? "FPGA " + to_string(r.fpga) + ": the sending card has FPGAs 0 and 1"
                                : std::string();
}

std::string registerWrites(const Request& r)
{
    const Bytes& p = r.payload;
    if (p.empty() || p.size() % 4 || p.size() / 4 > 64)
        return "the payload is " + bytesCount(static_cast<unsigned>(p.size())) +
               "; a register write takes 1 to 64 items of 4 bytes (register, mask, value)";
    const unsigned limit = r.card ? kCardRegisters : kProcessorRegisters;
    for (size_t k = 0; k < p.size(); k += 4) {
        const unsigned reg = le16(p.data(), k);
        if (reg >= limit)
            return "register " + to_string(reg) + ": the " + (r.card ? "sending card" : "processor") +
                   " takes writes to registers 0 to " + to_string(limit - 1);
    }
    return fpgaRule(r);
}

std::string registerReads(const Request& r)
{
    std::string why = length(r.payload, 4, "first register, count");
    if (!why.empty())
        return why;
    const unsigned first = le16(r.payload.data(), 0), count = le16(r.payload.data(), 2);
    why = countRule(count, "registers");
    if (!why.empty())
        return why;
    const unsigned end = r.card ? kCardRegisters : kStatusWindow;
    if (first + count > end)
        return "registers " + to_string(first) + " to " + to_string(first + count - 1) + " pass the last " +
               (r.card ? "register of the sending card (registers 0 to 170)"
                       : "byte of the processor's status window (registers 0 to 1063)");
    return fpgaRule(r);
}

std::string ramTransfer(const Request& r)
{
    const Bytes& p = r.payload;
    const bool write = r.command == 0x60;
    if (p.size() < 8)
        return length(p, 8, write ? "address, count, 2 spare bytes, then the bytes" : "address, count, 2 spare bytes");
    const uint32_t address = le32(p.data(), 0);
    const unsigned count = le16(p.data(), 4);
    std::string why = write ? length(p, 8 + count, "address, count, 2 spare bytes, then count bytes")
                            : length(p, 8, "address, count, 2 spare bytes");
    if (why.empty() && !write)
        why = countRule(count, "bytes");
    if (why.empty())
        why = r.card ? cardRam(address, count, write) : processorRam(address, count);
    return why.empty() ? fpgaRule(r) : why;
}

const char* const kItemNames = "1 brightness, 2 colour temperature, 3 window input, 4 load user mode, 5 black-out, "
                               "6 audio";

// One parameter item: what the processor refuses whatever its state.
std::string item(unsigned item, unsigned index, unsigned value)
{
    const std::string v = to_string(value);
    switch (item) {
    case 1: return value <= 100 ? "" : "item 1 (brightness) " + v + ": 0 to 100";
    case 2: return value <= 3 ? "" : "item 2 (colour temperature) " + v + ": 0 custom, 1 warm, 2 nature, 3 cool";
    case 3:
        if (index >= kWindows)
            return "item 3 (window input) of window " + to_string(index) + ": the windows are 0 to 15";
        if (value & 0x8000)
            return (value & 0x7FFF) < kCrops ? "" : "item 3 (window input) crop record " +
                                                        to_string(value & 0x7FFF) + ": the crop records are 0 to 39";
        return value < kInputs ? ""
                               : "item 3 (window input) " + v + ": 0 EXT, 1 DVI, 2 HDMI1, 3 HDMI2, 4 HDMI3, 5 HDMI4, "
                                                                "or 0x8000 + a crop record 0 to 39";
    case 4: return value >= 1 && value <= 16 ? "" : "item 4 (load user mode) " + v + ": the user modes are 1 to 16";
    case 5: return value <= 1 ? "" : "item 5 (black-out) " + v + ": 0 off, 1 on";
    case 6:
        if (index >= kWindows)
            return "item 6 (audio) of window " + to_string(index) + ": the windows are 0 to 15";
        return (value & 0xFF) <= 100 && (value & 0x7F00) == 0
                   ? ""
                   : "item 6 (audio) " + hex(value) + ": bits 0-7 the level 0 to 100, bit 15 sound on, bits 8-14 zero";
    default: return "item " + to_string(item) + " is no parameter item: the items are " + kItemNames;
    }
}

std::string items(const Bytes& p)
{
    if (p.empty() || p.size() % 4 || p.size() / 4 > 32)
        return "the payload is " + bytesCount(static_cast<unsigned>(p.size())) +
               "; a parameter write takes 1 to 32 items of 4 bytes (item, index, value)";
    for (size_t k = 0; k < p.size(); k += 4) {
        const std::string why = item(p[k], p[k + 1], le16(p.data(), k + 2));
        if (!why.empty())
            return why;
    }
    return std::string();
}

uint32_t quadValue(const unsigned char* b)
{
    return (uint32_t(b[0]) << 24) | (uint32_t(b[1]) << 16) | (uint32_t(b[2]) << 8) | b[3];
}

// A unicast address a host may have: first byte 1 to 223, not 127.
bool hostAddress(const unsigned char* b)
{
    return b[0] != 0 && b[0] != 127 && b[0] < 224;
}

std::string network(const Bytes& p)
{
    std::string why = length(p, 14, "address, mask, gateway, TCP port");
    if (!why.empty())
        return why;
    const unsigned char *ip = p.data(), *mask = ip + 4, *gw = ip + 8;
    const uint32_t m = quadValue(mask);
    const uint32_t inv = ~m;
    int bits = 0;
    for (uint32_t v = m; v; v <<= 1)
        ++bits;
    if ((inv & (inv + 1)) != 0)
        return "mask " + dotted(mask) + " is not contiguous: the processor takes a mask of 8 to 30 leading ones "
                                        "(255.0.0.0 to 255.255.255.252)";
    if (bits < 8 || bits > 30)
        return "mask " + dotted(mask) + " has " + to_string(bits) +
               " bits: the processor takes 8 to 30 (255.0.0.0 to 255.255.255.252)";
    if (!hostAddress(ip))
        return "address " + dotted(ip) + " is no host address (its first number must be 1 to 223, not 127)";
    const uint32_t host = quadValue(ip) & inv;
    if (host == 0 || host == inv)
        return "address " + dotted(ip) + " is the " + (host == 0 ? "network" : "broadcast") + " address of mask " +
               dotted(mask) + ": its host part may be neither all zeros nor all ones";
    if (!hostAddress(gw))
        return "gateway " + dotted(gw) + " is no host address (its first number must be 1 to 223, not 127)";
    return std::string();
}

std::string clock(const Bytes& p)
{
    std::string why = length(p, 7, "year, month, day, hour, minute, second");
    if (!why.empty())
        return why;
    const unsigned year = le16(p.data(), 0), month = p[2], day = p[3];
    if (year < calendar::kFirstYear || year > calendar::kLastYear)
        return "year " + to_string(year) + ": the processor takes " + to_string(calendar::kFirstYear) + " to " +
               to_string(calendar::kLastYear);
    if (month < 1 || month > 12)
        return "month " + to_string(month) + ": 1 to 12";
    const unsigned last = static_cast<unsigned>(calendar::days_in_month(static_cast<int>(year), month));
    if (day < 1 || day > last)
        return "day " + to_string(day) + ": " + to_string(year) + "-" + (month < 10 ? "0" : "") + to_string(month) +
               " has days 1 to " + to_string(last);
    if (p[4] > 23 || p[5] > 59 || p[6] > 59)
        return "time " + to_string(p[4]) + ":" + to_string(p[5]) + ":" + to_string(p[6]) +
               ": hours 0 to 23, minutes and seconds 0 to 59";
    return std::string();
}

std::string uploadEnd(const Bytes& p)
{
    if (p.size() != 32)
        return length(p, 32, "the MD5 as 32 hexadecimal characters");
    for (unsigned char c : p)
        if (!std::isxdigit(c))
            return "the MD5 holds the character '" + std::string(1, static_cast<char>(c)) +
                   "': it is 32 hexadecimal characters";
    return std::string();
}

int hexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
}

} // namespace

std::string uploadRefusal(unsigned type, const std::string& tag, unsigned long long size)
{
    static const struct {
        unsigned type;
        const char* tag;
    } kTypes[] = {{1, "APPL"}, {2, "KERN"}, {3, "LOGO"}, {5, "ALIS"}, {8, "OSDS"}, {9, "KQFX"}, {13, "KQFR"}};
    const std::string known = "(1 APPL, 2 KERN, 3 LOGO, 5 ALIS, 7 MO01 to MO10, 8 OSDS, 9 KQFX, 13 KQFR)";
    std::string want;
    for (const auto& t : kTypes)
        if (t.type == type)
            want = t.tag;
    if (type == 7) {
        const int hi = tag.size() == 4 ? hexDigit(tag[2]) : -1, lo = tag.size() == 4 ? hexDigit(tag[3]) : -1;
        const int mode = hi < 0 || lo < 0 ? 0 : hi * 16 + lo;
        if (tag.compare(0, 2, "MO") != 0 || mode < 1 || mode > 16)
            return "upload type 7 takes the tag MO and the user mode in two hexadecimal digits, MO01 to MO10, not " +
                   tag + " " + known;
    } else if (want.empty()) {
        return "upload type " + to_string(type) + " is no file type " + known;
    } else if (tag != want) {
        return "upload type " + to_string(type) + " takes the tag " + want + ", not " + tag + " " + known;
    }
    if (size == 0 || size > kMaxUpload)
        return "the file has " + std::to_string(size) + " bytes: an upload takes 1 to " + to_string(kMaxUpload);
    return std::string();
}

std::string refusal(const Request& r)
{
    const Bytes& p = r.payload;
    switch (r.command) {
    case 0x60:
    case 0x61: return ramTransfer(r);
    case 0xA0: return registerWrites(r);
    case 0xA1: return registerReads(r);
    case 0xB0: return items(p);
    case 0x80: return length(p, 0, "none");
    case 0x82: return network(p);
    case 0x87: return clock(p);
    case 0x90:
        if (p.size() != 9)
            return length(p, 9, "type, tag, size");
        return uploadRefusal(p[0], std::string(p.begin() + 1, p.begin() + 5), le32(p.data(), 5));
    case 0x91:
        return p.size() < 5 ? "the payload is " + bytesCount(static_cast<unsigned>(p.size())) +
                                  "; upload data takes the offset (4 bytes) and at least one byte"
                            : std::string();
    case 0x92: return uploadEnd(p);
    default: return std::string();
    }
}

std::string refusalNote(const Request& r)
{
    const std::string why = refusal(r);
    if (!why.empty())
        return why;
    const Bytes& p = r.payload;
    if (r.command == 0xB0) {
        // The items the processor checks against what it holds.
        for (size_t k = 0; k + 3 < p.size(); k += 4) {
            const unsigned value = le16(p.data(), k + 2);
            if (p[k] == 4)
                return "item 4 (load user mode) " + to_string(value) +
                       ": the processor loads a user mode only when it is saved";
            if (p[k] == 3 && (value & 0x8000))
                return "item 3 (window input) crop record " + to_string(value & 0x7FFF) +
                       ": the processor takes a crop record only while it is in use";
        }
    }
    if (r.command == 0x91 || r.command == 0x92)
        return "no upload of this PC is running (each start, data and end of one upload comes from the same PC; "
               "an upload another PC started is answered status 2), or a data block lies past the declared size "
               "or after a gap";
    if (r.card)
        return "a RAM transfer must lie inside one page (the page in bits 12 to 19 of the address, page 0 is none), "
               "a register write 0 to 170, --fpga 0 or 1 (docs/protocol.md lists the pages)";
    char command[8];
    std::snprintf(command, sizeof(command), "0x%02X", r.command);
    return std::string("docs/protocol.md gives the processor's rules for command ") + command;
}

} // namespace zdrlink
