// zdrlink: sends one command of the control protocol and prints the reply.
//
//   zdrlink [--udp PORT | --tcp PORT | --serial PATH | --at PORT] [--host ADDR]
//           [--card [--fpga N]] [--timeout MS] [--remote] COMMAND [ARGS...]
//
// Commands:
//   read-ram ADDR COUNT            write-ram ADDR HEXBYTES
//   read-reg FIRST COUNT           write-reg REG MASK VALUE [REG MASK VALUE...]
//   flag VALUE                     (processor register 11)
//   items ITEM INDEX VALUE [...]   info
//   set-network IP MASK GATEWAY [TCPPORT]
//   set-clock YYYY-MM-DD HH:MM:SS
//   upload TYPE TAG FILE [MD5]     raw COMMAND HEXPAYLOAD
//   AT+...                         (with --at: one AT command line)
// Numbers may be decimal or 0x-hexadecimal. The host is 127.0.0.1 unless
// --host is given; an address other than a loopback one also needs --remote.
#include "pcclient/pc_client.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

using namespace pcclient;

namespace {

const char* const kUsage =
    "usage: zdrlink [--udp PORT | --tcp PORT | --serial PATH | --at PORT] [--host ADDR]\n"
    "               [--card [--fpga N]] [--timeout MS] [--remote] COMMAND [ARGS...]\n"
    "commands:\n"
    "  read-ram ADDR COUNT            write-ram ADDR HEXBYTES\n"
    "  read-reg FIRST COUNT           write-reg REG MASK VALUE [REG MASK VALUE...]\n"
    "  flag VALUE                     (processor register 11)\n"
    "  items ITEM INDEX VALUE [...]   info\n"
    "  set-network IP MASK GATEWAY [TCPPORT]\n"
    "  set-clock YYYY-MM-DD HH:MM:SS\n"
    "  upload TYPE TAG FILE [MD5]     raw COMMAND HEXPAYLOAD\n"
    "  AT+...                         (with --at: one AT command line)\n"
    "Numbers may be decimal or 0x-hexadecimal. The host is 127.0.0.1 unless --host\n"
    "is given; an address other than a loopback one also needs --remote.\n";

[[noreturn]] void usage(const char* why)
{
    std::fprintf(stderr, "zdrlink: %s\n%s", why, kUsage);
    std::exit(2);
}

unsigned long number(const std::string& text)
{
    char* end = nullptr;
    const unsigned long v = std::strtoul(text.c_str(), &end, 0);
    if (text.empty() || *end)
        usage(("not a number: " + text).c_str());
    return v;
}

Bytes hexBytes(const std::string& text)
{
    if (text.size() % 2)
        usage("hex bytes need an even number of digits");
    Bytes b;
    for (size_t i = 0; i < text.size(); i += 2)
        b.push_back(static_cast<unsigned char>(number("0x" + text.substr(i, 2))));
    return b;
}

void quad(const std::string& text, unsigned char out[4])
{
    unsigned a, b, c, d;
    char tail;
    if (std::sscanf(text.c_str(), "%u.%u.%u.%u%c", &a, &b, &c, &d, &tail) != 4 || a > 255 || b > 255 || c > 255 ||
        d > 255)
        usage(("not an address: " + text).c_str());
    out[0] = static_cast<unsigned char>(a);
    out[1] = static_cast<unsigned char>(b);
    out[2] = static_cast<unsigned char>(c);
    out[3] = static_cast<unsigned char>(d);
}

const char* statusText(unsigned char s)
{
    switch (s) {
    case 0: return "ok";
    case 1: return "refused";
    case 2: return "busy";
    case 3: return "failed";
    case 4: return "not available";
    case 5: return "unknown command";
    default: return "?";
    }
}

void printReply(const Reply& r)
{
    std::printf("reply from 0x%04X command 0x%02X status %u (%s)\n", r.src, r.command, r.status, statusText(r.status));
    for (size_t i = 0; i < r.data.size(); ++i)
        std::printf("%02x%s", r.data[i], (i % 32 == 31 || i + 1 == r.data.size()) ? "\n" : " ");
}

} // namespace

int main(int argc, char** argv)
{
    std::vector<std::string> args(argv + 1, argv + argc);
    std::string host = "127.0.0.1", serial;
    unsigned long udp = 5008, tcp = 0, at = 0, fpga = 0, timeout = 3000;
    bool card = false, remote = false;
    size_t i = 0;
    for (; i < args.size() && args[i].compare(0, 2, "--") == 0; ++i) {
        const std::string& o = args[i];
        if (o == "--help") {
            std::fputs(kUsage, stdout);
            return 0;
        }
        auto value = [&]() -> const std::string& {
            if (i + 1 >= args.size())
                usage(("missing value of " + o).c_str());
            return args[++i];
        };
        if (o == "--udp") udp = number(value()), tcp = 0;
        else if (o == "--tcp") tcp = number(value());
        else if (o == "--serial") serial = value();
        else if (o == "--at") at = number(value());
        else if (o == "--host") host = value();
        else if (o == "--card") card = true;
        else if (o == "--fpga") fpga = number(value());
        else if (o == "--timeout") timeout = number(value());
        else if (o == "--remote") remote = true;
        else usage(("unknown option " + o).c_str());
    }
    if (i >= args.size())
        usage("no command");
    if (host.compare(0, 4, "127.") != 0 && !remote)
        usage("a device other than this machine needs --remote");
    const std::string cmd = args[i++];
    const std::vector<std::string> rest(args.begin() + static_cast<long>(i), args.end());

    if (at) {
        const std::string reply = atCommand(host, static_cast<unsigned short>(at), cmd, static_cast<int>(timeout));
        if (reply.empty()) {
            std::fprintf(stderr, "zdrlink: no reply\n");
            return 1;
        }
        std::fwrite(reply.data(), 1, reply.size(), stdout);
        return 0;
    }

    std::unique_ptr<Link> link;
    if (!serial.empty()) {
        auto s = std::make_unique<SerialLink>();
        if (!s->open(serial))
            usage(("cannot open " + serial).c_str());
        link = std::move(s);
    } else if (tcp) {
        auto t = std::make_unique<TcpLink>();
        if (!t->open(host, static_cast<unsigned short>(tcp)))
            usage("cannot connect");
        link = std::move(t);
    } else {
        auto u = std::make_unique<UdpLink>();
        if (!u->open(host, static_cast<unsigned short>(udp)))
            usage("cannot open the UDP socket");
        link = std::move(u);
    }

    const uint16_t dest = card ? kSendingCard : kProcessor;
    unsigned char command = 0;
    Bytes payload;
    auto need = [&](size_t n, bool exact) {
        if (rest.size() < n || (exact && rest.size() != n))
            usage(("wrong arguments for " + cmd).c_str());
    };
    if (cmd == "read-ram") {
        need(2, true);
        command = 0x61;
        payload = ramReadPayload(static_cast<uint32_t>(number(rest[0])), static_cast<uint16_t>(number(rest[1])));
    } else if (cmd == "write-ram") {
        need(2, true);
        command = 0x60;
        payload = ramWritePayload(static_cast<uint32_t>(number(rest[0])), hexBytes(rest[1]));
    } else if (cmd == "read-reg") {
        need(2, true);
        command = 0xA1;
        payload = regReadPayload(static_cast<uint16_t>(number(rest[0])), static_cast<uint16_t>(number(rest[1])));
    } else if (cmd == "write-reg" || cmd == "flag") {
        std::vector<RegItem> items;
        if (cmd == "flag") {
            need(1, true);
            items.push_back({11, 0xFF, static_cast<unsigned char>(number(rest[0]))});
        } else {
            if (rest.empty() || rest.size() % 3)
                usage("write-reg takes REG MASK VALUE triples");
            for (size_t k = 0; k < rest.size(); k += 3)
                items.push_back({static_cast<uint16_t>(number(rest[k])), static_cast<unsigned char>(number(rest[k + 1])),
                                 static_cast<unsigned char>(number(rest[k + 2]))});
        }
        command = 0xA0;
        payload = regWritePayload(items);
    } else if (cmd == "items") {
        if (rest.empty() || rest.size() % 3)
            usage("items takes ITEM INDEX VALUE triples");
        std::vector<ParaItem> items;
        for (size_t k = 0; k < rest.size(); k += 3)
            items.push_back({static_cast<unsigned char>(number(rest[k])), static_cast<unsigned char>(number(rest[k + 1])),
                             static_cast<uint16_t>(number(rest[k + 2]))});
        command = 0xB0;
        payload = itemsPayload(items);
    } else if (cmd == "info") {
        command = 0x80;
    } else if (cmd == "set-network") {
        need(3, false);
        unsigned char ip[4], mask[4], gw[4];
        quad(rest[0], ip);
        quad(rest[1], mask);
        quad(rest[2], gw);
        command = 0x82;
        payload = networkPayload(ip, mask, gw, rest.size() > 3 ? static_cast<uint16_t>(number(rest[3])) : 0);
    } else if (cmd == "set-clock") {
        need(2, true);
        int y, mo, d, h, mi, s;
        if (std::sscanf(rest[0].c_str(), "%d-%d-%d", &y, &mo, &d) != 3 ||
            std::sscanf(rest[1].c_str(), "%d:%d:%d", &h, &mi, &s) != 3)
            usage("set-clock YYYY-MM-DD HH:MM:SS");
        command = 0x87;
        payload = clockPayload(y, mo, d, h, mi, s);
    } else if (cmd == "upload") {
        need(3, false);
        std::ifstream in(rest[2], std::ios::binary);
        if (!in)
            usage(("cannot read " + rest[2]).c_str());
        const Bytes data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        const unsigned char s = uploadFile(*link, static_cast<unsigned char>(number(rest[0])), rest[1], data,
                                           rest.size() > 3 ? rest[3] : std::string());
        std::printf("upload status %u (%s)\n", s, statusText(s));
        return s == 0 ? 0 : 1;
    } else if (cmd == "raw") {
        need(1, false);
        command = static_cast<unsigned char>(number(rest[0]));
        if (rest.size() > 1)
            payload = hexBytes(rest[1]);
    } else {
        usage(("unknown command " + cmd).c_str());
    }

    Reply reply;
    if (!link->request(dest, command, payload, reply, static_cast<int>(timeout), static_cast<unsigned char>(fpga))) {
        std::fprintf(stderr, "zdrlink: no reply\n");
        return 1;
    }
    printReply(reply);
    return reply.status == 0 ? 0 : 1;
}
