// zdrlink: sends one command of the control protocol and prints the reply.
//
//   zdrlink [--udp PORT | --tcp PORT | --serial PATH | --at PORT] [--root BOARD_ROOT]
//           [--host ADDR] [--card [--fpga N]] [--timeout MS] [--remote] COMMAND [ARGS...]
//
// Commands:
//   read-ram ADDR COUNT            write-ram ADDR HEXBYTES
//   read-reg FIRST COUNT           write-reg REG MASK VALUE [REG MASK VALUE...]
//   flag VALUE                     (processor register 11)
//   items ITEM INDEX VALUE [...]   info
//   set-network IP MASK GATEWAY [TCPPORT]
//   set-clock YYYY-MM-DD HH:MM:SS
//   upload TYPE TAG FILE [MD5]     raw COMMAND [HEXPAYLOAD]
//   help                           AT+... (with --at: one AT command line)
// Numbers may be decimal or 0x-hexadecimal and must fit their field (a
// value that does not is refused, never wrapped). The host is 127.0.0.1
// unless --host is given (localhost is 127.0.0.1); an address other than a
// loopback one also needs --remote. A PORT given as "board" is the port the
// program on a simulated board listens on (its control channel's
// link-ports), the board of --root or else the one zdrsim uses; --root
// alone chooses that board's UDP port. "zdrlink help" (or --help, -h) prints
// the whole usage. Every argument is checked before anything is sent, and
// every request but "raw" against the rules by which the device refuses
// one (zdrlink_rules.h); a refusal that comes back is named by them.
#include "pcclient/pc_client.h"
#include "sim/control_client.h"
#include "sim/default_board_root.h"
#include "sim/numbers.h"
#include "zdrlink_rules.h"

#include <arpa/inet.h>
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <strings.h>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

using namespace pcclient;

namespace {

const char* const kUsage =
    "usage: zdrlink [--udp PORT | --tcp PORT | --serial PATH | --at PORT] [--root BOARD_ROOT]\n"
    "               [--host ADDR] [--card [--fpga N]] [--timeout MS] [--remote] COMMAND [ARGS...]\n"
    "commands:\n"
    "  read-ram ADDR COUNT            write-ram ADDR HEXBYTES\n"
    "  read-reg FIRST COUNT           write-reg REG MASK VALUE [REG MASK VALUE...]\n"
    "  flag VALUE                     (processor register 11)\n"
    "  items ITEM INDEX VALUE [...]   info\n"
    "  set-network IP MASK GATEWAY [TCPPORT]\n"
    "  set-clock YYYY-MM-DD HH:MM:SS\n"
    "  upload TYPE TAG FILE [MD5]     raw COMMAND [HEXPAYLOAD]\n"
    "  help                           AT+... (with --at: one AT command line)\n"
    "Numbers may be decimal or 0x-hexadecimal and must fit their field: ports\n"
    "1 to 65535, ITEM, INDEX, MASK, flag and byte values 0 to 255, registers,\n"
    "counts and item values 0 to 65535, addresses 0 to 0xFFFFFFFF, --fpga 0 or\n"
    "1, --timeout 1 to 600000 ms. The link is UDP 5008 unless an option\n"
    "chooses another. A simulated board started with ZDR_SIM_EPHEMERAL_PORTS=1\n"
    "listens on the ports \"zdrsim link-ports\" names: a PORT given as \"board\"\n"
    "is that port of the board at BOARD_ROOT (default: ZDR_BOARD_ROOT, or else\n"
    "the build's board, as for zdrsim), and --root alone chooses its UDP port\n"
    "(e.g. zdrlink --root /tmp/b info, zdrlink --root /tmp/b --tcp board info).\n"
    "The host is 127.0.0.1\n"
    "unless --host is given (an IPv4 address, or localhost for 127.0.0.1); an\n"
    "address other than a loopback one also needs --remote. The commands go to\n"
    "the processor (0xF001) unless --card sends them to the sending card (0xF000,\n"
    "--fpga chooses FPGA 0 or 1): its registers 0 to 170 and its RAM pages, whose\n"
    "addresses hold the page in bits 12 to 19 (0x1000 the parameter page, 0x10000\n"
    "the command page; docs/protocol.md lists them). A request the device would\n"
    "refuse (a range beyond its RAM or registers, a count of 0, an item, mask,\n"
    "date or upload type it does not take) is refused here, saying why; \"raw\"\n"
    "sends its payload as it is. A refusal (status 1) is explained on stderr.\n"
    "Exit status: 0 reply with status 0 (with --at: a reply ending in OK), 1\n"
    "another status (with --at: ERROR), no reply or no link, 2 wrong arguments\n"
    "(nothing is sent then).\n";

// After a request that got no answer over UDP or TCP.
const char* const kEphemeralHint =
    "zdrlink: (a simulated board started with ZDR_SIM_EPHEMERAL_PORTS=1 listens on other ports:\n"
    "zdrlink: \"zdrsim link-ports\" names them; --root BOARD_ROOT finds them)\n";

[[noreturn]] void usage(const std::string& why)
{
    std::fprintf(stderr, "zdrlink: %s\nzdrlink: nothing was sent; \"zdrlink help\" prints the usage\n", why.c_str());
    std::exit(2);
}

// A number of a field that holds min..max, decimal or 0x-hexadecimal; a
// value that does not fit is refused, never wrapped, with the field's range.
unsigned long number(const std::string& text, unsigned long max, const char* what, unsigned long min = 0)
{
    unsigned long long v = 0;
    const sim::NumberRead read = sim::readUnsigned(text, max, v);
    if (read == sim::NumberRead::notANumber)
        usage(std::string("not a number: ") + what + " " + text);
    if (read == sim::NumberRead::tooLarge || v < min)
        usage(std::string(what) + " " + text + " is out of range (" + std::to_string(min) + " to " +
              std::to_string(max) + ")");
    return static_cast<unsigned long>(v);
}

// "a-b-c" or "a:b:c": three decimal fields, each within its range.
void dateFields(const std::string& text, char separator, const unsigned long low[3], const unsigned long high[3],
                const char* const names[3], unsigned long out[3])
{
    size_t pos = 0;
    for (int k = 0; k < 3; ++k) {
        const size_t end = k < 2 ? text.find(separator, pos) : text.size();
        if (end == std::string::npos)
            usage("set-clock YYYY-MM-DD HH:MM:SS");
        out[k] = number(text.substr(pos, end - pos), high[k], names[k], low[k]);
        pos = end + 1;
    }
}

unsigned short portNumber(const std::string& text, const char* what)
{
    return static_cast<unsigned short>(number(text, 65535, what, 1));
}

Bytes hexBytes(const std::string& text, size_t maxCount)
{
    if (text.empty() || text.size() % 2)
        usage("hex bytes need an even number of digits: " + text);
    Bytes b;
    if (!sim::parseHexBytes(text, b))
        usage("not hexadecimal bytes: " + text);
    if (b.size() > maxCount)
        usage("too many bytes (at most " + std::to_string(maxCount) + ")");
    return b;
}

void quad(const std::string& text, unsigned char out[4])
{
    in_addr a{};
    if (::inet_pton(AF_INET, text.c_str(), &a) != 1)
        usage("not an address: " + text);
    std::memcpy(out, &a.s_addr, 4);
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

// The device information's fields, as the protocol lays them out: each on
// a line of its own, named.
constexpr size_t kInfoSize = 56;

void printInfo(const unsigned char* d)
{
    auto quadText = [d](size_t at) {
        return std::to_string(d[at]) + "." + std::to_string(d[at + 1]) + "." + std::to_string(d[at + 2]) + "." +
               std::to_string(d[at + 3]);
    };
    std::printf("device id:     %.32s\n", reinterpret_cast<const char*>(d));
    std::printf("IP address:    %s\n", quadText(32).c_str());
    std::printf("subnet mask:   %s\n", quadText(36).c_str());
    std::printf("gateway:       %s\n", quadText(40).c_str());
    std::printf("TCP port:      %u\n", static_cast<unsigned>(d[44] | (d[45] << 8)));
    std::printf("WiFi address:  %s\n", quadText(46).c_str());
    std::printf("MAC address:   %02x:%02x:%02x:%02x:%02x:%02x%s\n", d[50], d[51], d[52], d[53], d[54], d[55],
                std::all_of(d + 50, d + 56, [](unsigned char b) { return b == 0xFF; }) ? " (not set)" : "");
}

void printReply(const Reply& r)
{
    std::printf("reply from 0x%04X command 0x%02X status %u (%s)\n", r.src, r.command, r.status, statusText(r.status));
    if (r.command == 0x80 && r.status == 0 && r.data.size() == kInfoSize)
        return printInfo(r.data.data());
    for (size_t i = 0; i < r.data.size(); ++i)
        std::printf("%02x%s", r.data[i], (i % 32 == 31 || i + 1 == r.data.size()) ? "\n" : " ");
}

} // namespace

int main(int argc, char** argv)
{
    std::vector<std::string> args(argv + 1, argv + argc);
    std::string host = "127.0.0.1", serial;
    unsigned short udp = 5008, tcp = 0, at = 0;
    unsigned long fpga = 0, timeout = 3000;
    bool card = false, remote = false, fpgaGiven = false;
    std::string transport; // the option that chose the link, if any
    // The simulated board whose program's port the link takes ("board").
    std::string root = sim::boardRootSetting();
    bool rootGiven = false, portOfBoard = false;
    size_t i = 0;
    for (; i < args.size() && args[i].compare(0, 1, "-") == 0; ++i) {
        const std::string& o = args[i];
        if (o == "--help" || o == "-h") {
            std::fputs(kUsage, stdout);
            return 0;
        }
        auto value = [&]() -> const std::string& {
            if (i + 1 >= args.size())
                usage("missing value of " + o);
            return args[++i];
        };
        auto choose = [&]() {
            if (!transport.empty())
                usage(o + " and " + transport + " both choose the link: give one of them");
            transport = o;
        };
        // A port, or "board": the board's, found before the request is sent.
        auto port = [&](const char* what) -> unsigned short {
            const std::string& v = value();
            if (v != "board")
                return portNumber(v, what);
            portOfBoard = true;
            return 1;
        };
        if (o == "--udp") choose(), udp = port("UDP port");
        else if (o == "--tcp") choose(), tcp = port("TCP port");
        else if (o == "--serial") choose(), serial = value();
        else if (o == "--at") choose(), at = port("AT port");
        else if (o == "--root") {
            root = value();
            rootGiven = true;
            if (root.empty())
                usage("--root needs a board root folder");
        }
        else if (o == "--host") host = value();
        else if (o == "--card") card = true;
        else if (o == "--fpga") fpga = number(value(), 1, "FPGA"), fpgaGiven = true;
        else if (o == "--timeout") timeout = number(value(), 600000, "time-out (ms)", 1);
        else if (o == "--remote") remote = true;
        else usage("unknown option " + o);
    }
    if (i >= args.size())
        usage("no command");
    // "localhost" is this machine's 127.0.0.1, whatever a resolver says.
    if (::strcasecmp(host.c_str(), "localhost") == 0)
        host = "127.0.0.1";
    in_addr hostAddress{};
    if (::inet_pton(AF_INET, host.c_str(), &hostAddress) != 1)
        usage("not an IPv4 address: " + host);
    if ((ntohl(hostAddress.s_addr) >> 24) != 127 && !remote)
        usage("a device other than this machine needs --remote");
    if (serial.empty() && transport == "--serial")
        usage("--serial needs a device path");
    if (fpgaGiven && !card)
        usage("--fpga goes with --card");
    if (rootGiven && transport.empty())
        portOfBoard = true;   // the board's UDP port
    else if (rootGiven && !portOfBoard)
        usage("--root finds the board's ports: give " + transport + " board, or leave --root out");
    // The ports the board's program listens on, once every argument is
    // checked: its control channel's link-ports ("udp <n> tcp <n> at <n>").
    auto findBoardPorts = [&]() {
        if (!portOfBoard)
            return;
        std::string answer, why;
        if (!sim::askControl(root, "link-ports", answer, why)) {
            std::fprintf(stderr, "zdrlink: cannot find the ports of the board at %s: %s\n", root.c_str(),
                         why.c_str());
            std::exit(1);
        }
        unsigned ports[3] = {0, 0, 0};
        if (!sim::answerOk(answer) ||
            std::sscanf(answer.c_str(), "udp %u tcp %u at %u", &ports[0], &ports[1], &ports[2]) != 3) {
            std::fprintf(stderr, "zdrlink: cannot find the ports of the board at %s: link-ports answered %s",
                         root.c_str(), answer.c_str());
            std::exit(1);
        }
        unsigned short* const chosen = transport == "--tcp" ? &tcp : transport == "--at" ? &at : &udp;
        const unsigned found = ports[transport == "--tcp" ? 1 : transport == "--at" ? 2 : 0];
        if (found == 0 || found > 65535) {
            std::fprintf(stderr, "zdrlink: the program on the board at %s has no %s port open\n", root.c_str(),
                         transport == "--tcp" ? "TCP" : transport == "--at" ? "AT" : "UDP");
            std::exit(1);
        }
        *chosen = static_cast<unsigned short>(found);
    };
    const std::string cmd = args[i++];
    const std::vector<std::string> rest(args.begin() + static_cast<long>(i), args.end());
    const int timeoutMs = static_cast<int>(timeout);
    if (cmd == "help") {
        if (!rest.empty())
            usage("help takes no arguments");
        std::fputs(kUsage, stdout);
        return 0;
    }

    if (at) {
        if (card)
            usage("--card does not go with --at");
        if (!rest.empty())
            usage("one AT command line: quote it as one argument");
        findBoardPorts();
        const std::string reply = atCommand(host, at, cmd, timeoutMs);
        if (reply.empty()) {
            std::fprintf(stderr, "zdrlink: no reply from %s UDP port %u (the AT channel) within %lu ms\n",
                         host.c_str(), at, timeout);
            return 1;
        }
        std::fwrite(reply.data(), 1, reply.size(), stdout);
        // The channel ends a reply with a line "OK" or answers "ERROR".
        const bool ok = reply.size() >= 4 && reply.compare(reply.size() - 4, 4, "OK\r\n") == 0 &&
                        (reply.size() == 4 || reply[reply.size() - 5] == '\n');
        return ok ? 0 : 1;
    }

    // Every argument is checked before anything is sent.
    unsigned char command = 0;
    Bytes payload, uploadData;
    unsigned char uploadType = 0;
    auto need = [&](size_t least, size_t most) {
        if (rest.size() < least || rest.size() > most) {
            const std::string count = least == most ? std::to_string(least)
                                                    : std::to_string(least) + " or " + std::to_string(most);
            usage(cmd + " takes " + count + " argument" + (most == 1 ? "" : "s") + ", not " +
                  std::to_string(rest.size()));
        }
    };
    if (cmd == "read-ram") {
        need(2, 2);
        command = 0x61;
        payload = ramReadPayload(static_cast<uint32_t>(number(rest[0], 0xFFFFFFFFul, "address")),
                                 static_cast<uint16_t>(number(rest[1], 65535, "count")));
    } else if (cmd == "write-ram") {
        need(2, 2);
        command = 0x60;
        const uint32_t address = static_cast<uint32_t>(number(rest[0], 0xFFFFFFFFul, "address"));
        payload = ramWritePayload(address, hexBytes(rest[1], 65535));
    } else if (cmd == "read-reg") {
        need(2, 2);
        command = 0xA1;
        payload = regReadPayload(static_cast<uint16_t>(number(rest[0], 65535, "register")),
                                 static_cast<uint16_t>(number(rest[1], 65535, "count")));
    } else if (cmd == "write-reg" || cmd == "flag") {
        std::vector<RegItem> items;
        if (cmd == "flag") {
            need(1, 1);
            items.push_back({11, 0xFF, static_cast<unsigned char>(number(rest[0], 255, "flag"))});
        } else {
            if (rest.empty() || rest.size() % 3)
                usage("write-reg takes REG MASK VALUE triples");
            for (size_t k = 0; k < rest.size(); k += 3)
                items.push_back({static_cast<uint16_t>(number(rest[k], 65535, "register")),
                                 static_cast<unsigned char>(number(rest[k + 1], 255, "mask")),
                                 static_cast<unsigned char>(number(rest[k + 2], 255, "value"))});
        }
        command = 0xA0;
        payload = regWritePayload(items);
    } else if (cmd == "items") {
        if (rest.empty() || rest.size() % 3)
            usage("items takes ITEM INDEX VALUE triples");
        std::vector<ParaItem> items;
        for (size_t k = 0; k < rest.size(); k += 3)
            items.push_back({static_cast<unsigned char>(number(rest[k], 255, "item")),
                             static_cast<unsigned char>(number(rest[k + 1], 255, "index")),
                             static_cast<uint16_t>(number(rest[k + 2], 65535, "value"))});
        command = 0xB0;
        payload = itemsPayload(items);
    } else if (cmd == "info") {
        need(0, 0);
        command = 0x80;
    } else if (cmd == "set-network") {
        need(3, 4);
        unsigned char ip[4], mask[4], gw[4];
        quad(rest[0], ip);
        quad(rest[1], mask);
        quad(rest[2], gw);
        command = 0x82;
        payload = networkPayload(ip, mask, gw, rest.size() > 3 ? portNumber(rest[3], "TCP port") : 0);
    } else if (cmd == "set-clock") {
        need(2, 2);
        static const unsigned long dateLow[3] = {0, 1, 1}, dateHigh[3] = {65535, 12, 31};
        static const unsigned long timeLow[3] = {0, 0, 0}, timeHigh[3] = {23, 59, 59};
        static const char* const dateNames[3] = {"year", "month", "day"};
        static const char* const timeNames[3] = {"hour", "minute", "second"};
        unsigned long date[3], time[3];
        dateFields(rest[0], '-', dateLow, dateHigh, dateNames, date);
        dateFields(rest[1], ':', timeLow, timeHigh, timeNames, time);
        command = 0x87;
        payload = clockPayload(static_cast<int>(date[0]), static_cast<int>(date[1]), static_cast<int>(date[2]),
                               static_cast<int>(time[0]), static_cast<int>(time[1]), static_cast<int>(time[2]));
    } else if (cmd == "upload") {
        need(3, 4);
        uploadType = static_cast<unsigned char>(number(rest[0], 255, "type"));
        if (rest[1].size() != 4)
            usage("the tag is 4 characters: " + rest[1]);
        if (rest.size() > 3) {
            Bytes md5;
            if (!sim::parseHexBytes(rest[3], md5) || md5.size() != 16)
                usage("the MD5 is 32 hexadecimal characters: " + rest[3]);
        }
        std::ifstream in(rest[2], std::ios::binary);
        if (!in)
            usage("cannot read " + rest[2]);
        uploadData.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        const std::string why = zdrlink::uploadRefusal(uploadType, rest[1], uploadData.size());
        if (!why.empty())
            usage(why);
    } else if (cmd == "raw") {
        need(1, 2);
        command = static_cast<unsigned char>(number(rest[0], 255, "command"));
        if (rest.size() > 1)
            payload = hexBytes(rest[1], 65535);
    } else {
        usage("unknown command " + cmd);
    }
    const zdrlink::Request request{card, static_cast<unsigned char>(fpga), command, payload};
    if (cmd != "raw" && cmd != "upload") {
        const std::string why = zdrlink::refusal(request);
        if (!why.empty())
            usage(cmd + ": " + why);
    }
    const char* const refuser = card ? "the sending card" : "the processor";
    findBoardPorts();

    std::unique_ptr<Link> link;
    std::string where;
    if (!serial.empty()) {
        auto s = std::make_unique<SerialLink>();
        if (!s->open(serial)) {
            std::fprintf(stderr, "zdrlink: cannot open %s: %s\n", serial.c_str(), std::strerror(errno));
            return 1;
        }
        link = std::move(s);
        where = serial;
    } else if (tcp) {
        auto t = std::make_unique<TcpLink>();
        if (!t->open(host, tcp, timeoutMs)) {
            std::fprintf(stderr, "zdrlink: cannot connect to %s TCP port %u: %s\n", host.c_str(), tcp,
                         std::strerror(errno));
            std::fprintf(stderr, "%s", kEphemeralHint);
            return 1;
        }
        link = std::move(t);
        where = host + " TCP port " + std::to_string(tcp);
    } else {
        auto u = std::make_unique<UdpLink>();
        if (!u->open(host, udp)) {
            std::fprintf(stderr, "zdrlink: cannot open a UDP socket to %s port %u: %s\n", host.c_str(), udp,
                         std::strerror(errno));
            return 1;
        }
        link = std::move(u);
        where = host + " UDP port " + std::to_string(udp);
    }
    auto noReply = [&]() {
        if (link->lost() && link->lostErrno() == 0)
            std::fprintf(stderr, "zdrlink: %s closed the connection without a reply\n", where.c_str());
        else if (link->lost())
            std::fprintf(stderr, "zdrlink: no reply from %s: %s\n", where.c_str(), std::strerror(link->lostErrno()));
        else
            std::fprintf(stderr, "zdrlink: no reply from %s within %lu ms\n", where.c_str(), timeout);
        if (serial.empty())
            std::fprintf(stderr, "%s", kEphemeralHint);
        return 1;
    };

    if (cmd == "upload") {
        const unsigned char s = uploadFile(*link, uploadType, rest[1], uploadData, rest.size() > 3 ? rest[3] : "");
        if (s == 0xFF)
            return noReply();
        std::printf("upload status %u (%s)\n", s, statusText(s));
        std::fflush(stdout);
        if (s == 1)
            std::fprintf(stderr, "zdrlink: the processor refused the upload: the type and tag must name a file it "
                                 "takes and the size be 1 to 5242880 bytes; or another PC's upload took over after "
                                 "30 s without data from this one\n");
        return s == 0 ? 0 : 1;
    }

    const uint16_t dest = card ? kSendingCard : kProcessor;
    Reply reply;
    if (!link->request(dest, command, payload, reply, timeoutMs, static_cast<unsigned char>(fpga)))
        return noReply();
    printReply(reply);
    std::fflush(stdout);
    if (reply.status == 1)
        std::fprintf(stderr, "zdrlink: %s refused it: %s\n", refuser, zdrlink::refusalNote(request).c_str());
    return reply.status == 0 ? 0 : 1;
}
