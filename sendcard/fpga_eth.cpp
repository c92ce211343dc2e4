// Ethernet port transport of the two FPGAs: frames to and from the
// receiving cards, and the PC's pass-through.
#include "sendcard/fpga_manage.h"

#include "core/global.h"
#include "core/le_bytes.h"
#include "core/logMsg.h"
#include "core/utils.h"
#include "core/wait_bound.h"
#include "platform/clock.h"
#include "link/link_global.h"
#include "link/link_transport.h"

#include <QMutexLocker>
#include <algorithm>
#include <cstdio>
#include <cstring>

namespace {

unsigned char sel(unsigned char fpga)
{
    return fpga == 0 ? 0 : 1;
}

// XORs a changed byte into the check byte of a frame of length len.
void patch(unsigned char* f, int len, int at, unsigned char value)
{
    f[len - 1] ^= static_cast<unsigned char>(f[at] ^ value);
    f[at] = value;
}

} // namespace

void fpga_manage::Send_to_port(const unsigned char* frame, unsigned short length, unsigned short port,
                               unsigned char fpga)
{
    port_pairs.send(frame, length, port, fpga, 0);
}

int fpga_manage::send_to_port_until(const unsigned char* frame, unsigned short length, unsigned short port,
                                    unsigned char fpga, uint64_t deadlineUs)
{
    return port_pairs.send(frame, length, port, fpga, deadlineUs);
}

bool fpga_manage::spi_bus_free()
{
    if (!Utils::_spi_mutex.tryLock())
        return false;
    Utils::_spi_mutex.unlock();
    return true;
}

void fpga_manage::check_fpga_net_data_status(unsigned char fpga)
{
    const unsigned char st = reg_image(sel(fpga), 80);
    if (st == 2 || st == 3) {
        read_from_register(129, fpga);
        read_from_register(145, fpga);
    }
}

void fpga_manage::reg_IRQ_Dealwith(unsigned char fpga, unsigned char force)
{
    const unsigned char i = sel(fpga);
    unsigned char* reg = MCU_REG_func[i];
    const unsigned char state = reg_image(i, 80);
    if (state != 2 && state != 3)
        return;
    // The answers' read-out shares the port pairs' registers with their
    // senders: one hold with them (sendcard/port_pairs.h).
    const PortPairs::Hold hold(port_pairs);
    if (!hold.held())
        return;
    if (force == 1 || (fpga_irq_line(i) & 1)) {
        poll_state[i] = 0;
        write_to_register(22, 0x20, 0, i);
        read_from_register(22, i);
        if (reg[22] & 0x40) {
            write_to_register(22, 0x60, 0, i);
            read_from_register(31, i);
            if (!version_alive(reg[31])) {
                // The FPGA has lost its configuration: brought up again from
                // the version read (the year kept in the image is not alive).
                restart_bring_up(i);
                // What the FPGA holds now is what the PC reads until its
                // bring-up sets the screen again.
                for (unsigned r : {0u, 3u, 6u})
                    read_from_register(r, i);
                {
                    FpgaMutexHold hold(fpga_reg_mutex);
                    screen_state_from_images();
                }
                g_change.fpga_power_time[i] = G_timeTicks.load();
                writeLogMsg(WARNING, "FPGA " + std::to_string(i) + ": version lost during an interrupt; brought up again");
            }
        }
        read_from_register(129, i);
        read_from_register(145, i);
        if ((reg[129] & 0x55) || (reg[145] & 0x55))
            Rcv_data_from_eth(i);
        update_eth_state(i);
        return;
    }
    if (pc_cmd_valid.load() == 1 && multicast_pending.load() == 1) {
        if (poll_state[i] == 0) {
            poll_time[i] = G_timeTicks.load();
            poll_state[i] = 1;
        } else if (Utils::getTimeSpace(poll_time[i]) > 1) {
            check_fpga_net_data_status(i);
            poll_state[i] = 0;
        }
    }
}

namespace {

// Reads the frame waiting in receive channel p of an FPGA into buf (room
// for kMaxPortFrame bytes); its length, or 0 when it cannot be read.
int readChannel(fpga_manage& m, unsigned p, unsigned char fpga, unsigned char* buf)
{
    const PortPairs::Regs r = PortPairs::regs(p);
    const unsigned char* reg = m.MCU_REG_func[fpga == 0 ? 0 : 1];
    m.read_from_register(r.rxLen, fpga);
    m.read_from_register(r.rxHighReg, fpga);
    const int length = (reg[r.rxLen] | (((reg[r.rxHighReg] >> r.shift) & 3) << 8)) + 1;
    if (!m.read_fpga_ram(buf, 0, length, r.rxBlock, fpga))
        return 0;
    return length;
}

void releaseChannel(fpga_manage& m, unsigned p, unsigned char fpga)
{
    const PortPairs::Regs r = PortPairs::regs(p);
    m.write_to_register(r.ctrlReg, r.bit, r.bit, fpga);
    m.write_to_register(r.ackReg, r.bit, 0, fpga);
}

// The first receive channel whose ready bit is set, or -1.
int readyChannel(const unsigned char* reg)
{
    for (unsigned p = 0; p < 8; ++p) {
        const unsigned char status = reg[p < 4 ? 129 : 145];
        if (status & (1u << (2 * (p & 3))))
            return static_cast<int>(p);
    }
    return -1;
}

bool isSearchAnswer(const unsigned char* f, int len)
{
    return len >= 11 && f[9] == 0x10 && le16(f, 0) == fpga_manage::kAddrSelf;
}

// Whether a card's answer f (len bytes) fits a PC request in every field
// the card echoes of it (see fpga_manage::PassbyEcho).
bool fitsEcho(const fpga_manage::PassbyEcho& e, const unsigned char* f, int len)
{
    if (le16(f, 0) != fpga_manage::kAddrPc || f[5] != e.kind || f[7] != e.portByte || f[9] != e.opcode)
        return false;
    const unsigned index = e.dest & 0x0FFFu;
    if (index != fpga_manage::kAddrAllCards && index != fpga_manage::kAddrSearch &&
        (le16(f, 2) & ~0x3000u) != (e.dest & ~0x3000u))
        return false;
    return !e.readSpan || (len >= 17 && std::memcmp(f + 10, e.span, sizeof(e.span)) == 0);
}

fpga_manage::PassbyEcho echoOf(const unsigned char* f, int length)
{
    fpga_manage::PassbyEcho e;
    e.dest = le16(f, 0);
    e.kind = f[5];
    e.portByte = f[7];
    e.opcode = f[9];
    // A whole read (address, count and two spare bytes) is answered with
    // its address and count.
    e.readSpan = f[9] == 0x61 && length >= 19;
    if (e.readSpan)
        std::memcpy(e.span, f + 10, sizeof(e.span));
    return e;
}

} // namespace

void fpga_manage::Rcv_data_from_eth(unsigned char fpga)
{
    const unsigned char i = sel(fpga);
    const PortPairs::Hold hold(port_pairs);
    if (!hold.held())
        return;
    deal_with_search_concurrent(i);
    for (unsigned r : {129u, 25u, 145u, 153u})
        read_from_register(r, i);
    const int p = readyChannel(MCU_REG_func[i]);
    if (p < 0)
        return;
    unsigned char f[kMaxPortFrame];
    const int len = readChannel(*this, static_cast<unsigned>(p), i, f);
    if (len < 11) {
        // Shorter than a frame header (or unreadable): nothing to route.
        releaseChannel(*this, static_cast<unsigned>(p), i);
        return;
    }
    const bool good = Utils::BCC(f, static_cast<unsigned>(len - 1)) == f[len - 1];
    if (isSearchAnswer(f, len)) {
        deal_with_search_concurrent(i);
        return;
    }
    releaseChannel(*this, static_cast<unsigned>(p), i);
    const unsigned short dest = le16(f, 0);
    const unsigned short src = le16(f, 2);
    const unsigned inGroup = (src >> 12) & 3;
    const unsigned port = inGroup + 4 * (static_cast<unsigned>(p) >> 1);
    const unsigned char P = f[7];
    const bool fits = answers_open_passby(f, len, port + 16u * i);

    if (good) {
        if (f[9] == 0x10 && dest == kAddrPc) {
            if (len > 13 && f[10] == 0) {
                unsigned q = port;
                if (P != 0) {
                    q = P - 1u;
                    if (P > 16 * i)
                        q = P - 1u - 16u * i;
                }
                update_eth_rcv_num(f, static_cast<unsigned short>(q), i);
            }
        } else if (fits && multicast_passby.load()) {
            multicast_reply_mask |= 1u << (port + 16u * i);
        }
    }
    if (dest >= 0xF000 && dest <= 0xF00F && src < 0xF000 && (f[5] == kKindPara || f[5] == kKindBright)) {
        if (f[5] == kKindPara)
            g_send_para.flag = 1;
        return;
    }
    if ((f[9] == 0x61 || f[9] == 0xA0) && dest == kAddrSelf) {
        QMutexLocker lock(&card_result_mutex);
        std::memset(card_result, 0, sizeof(card_result));
        const int n = len - 9 < static_cast<int>(sizeof(card_result)) ? len - 9 : static_cast<int>(sizeof(card_result));
        std::memcpy(card_result, f + 9, static_cast<size_t>(n));
        card_result_status = good ? 0 : 1;
        card_result_flag = 1;
        ++card_result_fills;
        return;
    }

    // Anything that does not fit the open request (a late answer to an
    // earlier request that asked something else) is dropped, as an answer
    // after its request ended is.
    if (!fits)
        return;
    if (!multicast_passby.load()) {
        if (P == 0)
            patch(f, len, 7, static_cast<unsigned char>(inGroup + 1 + 16u * i + 4u * (static_cast<unsigned>(p) >> 1)));
        patch(f, len, 3, static_cast<unsigned char>(f[3] & ~0x30));
    } else {
        // Complete once every port the multicast went to has answered it.
        const uint32_t expected = passby_ports.load();
        if (expected == 0 || (multicast_reply_mask.load() & expected) != expected)
            return;
        const unsigned short from = multicast_all_addr ? kAddrSearch : kAddrAllCards;
        multicast_all_addr = 0;
        patch(f, len, 2, static_cast<unsigned char>(from & 0xFF));
        patch(f, len, 3, static_cast<unsigned char>(from >> 8));
        patch(f, len, 7, 0xFF);
        if (multicast_pending.load() == 1) {
            QMutexLocker lock(&Utils::_system_mutex);
            multicast_reply_mask = 0;
            multicast_pending = 0;
        }
    }
    const unsigned char code = g_passby_trans_port.load();
    if (link_queue_passby_reply(code, f, len)) {
        g_passby_trans_port = kPassbyNone;
        fpga_passby_reply = 1;
    }
}

bool fpga_manage::answers_open_passby(const unsigned char* f, int len, unsigned port)
{
    QMutexLocker lock(&passby_open_mutex);
    return port < 32 && (passby_open.sent & (1u << port)) && fitsEcho(passby_open.echo, f, len);
}

uint32_t fpga_manage::multicast_ports()
{
    unsigned char flag;
    uint32_t target;
    {
        QMutexLocker lock(&Utils::_fpga_multicast_mutex);
        flag = multicast_flag;
        target = multicast_target;
    }
    if (flag)
        return target & 0x00FF00FFu;
    uint32_t ports = 0;
    for (unsigned char i = 0; i < 2; ++i) {
        read_from_register(128, i);
        read_from_register(144, i);
        if (reg_image(i, 80) != 3)
            continue;
        const uint32_t links = reg_image(i, 128) | (reg_image(i, 144) << 8);
        for (unsigned port = 0; port < 16; ++port)
            if ((links & (1u << port)) && get_port_card_num(port + 16u * i) != 0)
                ports |= 1u << (port + 16u * i);
    }
    return ports;
}

uint32_t fpga_manage::send_to_ports(const unsigned char* in, unsigned short length, uint32_t ports,
                                    PortBits bits, uint64_t deadlineUs)
{
    uint32_t sent = 0;
    // An FPGA one of whose pairs never became free (one that does not
    // answer) is not waited for again in this frame.
    bool stalled[2] = {false, false};
    unsigned char f[kMaxPortFrame];
    for (unsigned pair = 0; pair < 8; ++pair) {
        for (unsigned char i = 0; i < 2; ++i) {
            for (unsigned port = 2 * pair; port <= 2 * pair + 1; ++port) {
                if (!(ports & (1u << (port + 16u * i))))
                    continue;
                std::memcpy(f, in, length);
                const unsigned char placed = static_cast<unsigned char>((port & 3) << 4);
                if (bits == PortBits::Add)
                    patch(f, length, 1, static_cast<unsigned char>(f[1] | placed));
                else if (bits == PortBits::Replace)
                    patch(f, length, 1, static_cast<unsigned char>((f[1] & ~0x30) | placed));
                const uint64_t until = deadlineUs && stalled[i] ? 1 : deadlineUs;
                const int result = send_to_port_until(f, length, static_cast<unsigned short>(port), i, until);
                if (result != 0)
                    sent |= 1u << (port + 16u * i);
                if (result != 1)
                    stalled[i] = true;
            }
        }
    }
    return sent;
}

int fpga_manage::Dealwith1_PC_to_eth(int length, const unsigned char* in, uint64_t takenUs)
{
    const uint64_t now = platform::clock().nowUs();
    if (takenUs == 0 || takenUs > now)
        takenUs = now;
    passby_begin(takenUs);
    return passby_forward(length, in, takenUs);
}

int fpga_manage::passby_forward(int length, const unsigned char* in, uint64_t takenUs)
{
    if (length < 11 || length >= static_cast<int>(kMaxPortFrame))
        return 1;
    unsigned char f[kMaxPortFrame];
    std::memcpy(f, in, static_cast<size_t>(length));

    // Everything below reads or writes the FPGAs over the SPI bus, which a
    // held chip write may keep for long: it is waited for no longer than
    // any frame's time (5 s, the least a frame that is waited for is
    // given), else the request is given up unsent.
    const uint64_t busUntil = takenUs + kCardFrameUs;
    const SpiBusBound bus(busUntil);
    if (!passby_wait_bus(busUntil))
        return 1;
    passby_clear_acks();
    const PassbyRoute route = passby_route(f);
    multicast_passby = route.multicast ? 1 : 0;
    multicast_all_addr = route.searchAddr ? 1 : 0;
    passby_ports = route.ports;
    const uint64_t deadlineUs = takenUs + (route.ports ? passby_answer_bound_us(f, length) : 0);
    passby_deadline_us = deadlineUs;
    if (route.ports)
        passby_send(f, static_cast<unsigned short>(length), route, deadlineUs);
    return 1;
}

void fpga_manage::passby_begin(uint64_t takenUs)
{
    // Every request starts with nothing answered and nothing open: an
    // answer that comes before it is sent is no one's. The ports of this
    // request only: a dropped request went to none, and nothing is waited
    // for.
    passby_ports = 0;
    passby_deadline_us = takenUs;
    multicast_passby = 0;
    {
        QMutexLocker lock(&Utils::_system_mutex);
        multicast_reply_mask = 0;
        multicast_pending = 0;
    }
    QMutexLocker lock(&passby_open_mutex);
    passby_open = PassbyOpen{};
}

bool fpga_manage::passby_wait_bus(uint64_t untilUs)
{
    const uint64_t now = platform::clock().nowUs();
    if (waitUntil(untilUs > now ? untilUs - now : 0, 100, [] { return spi_bus_free(); }))
        return true;
    writeLogMsg(WARNING, "Pass-through: the SPI bus stayed busy; request dropped");
    return false;
}

void fpga_manage::passby_clear_acks()
{
    for (unsigned char i = 0; i < 2; ++i) {
        write_to_register(147, 0x0F, 0, i);
        write_to_register(131, 0x0F, 0, i);
    }
}

fpga_manage::PassbyRoute fpga_manage::passby_route(const unsigned char* f)
{
    const unsigned char S = f[6];
    const unsigned char P = f[7];
    PassbyRoute route;
    auto numbered = [&]() -> uint32_t {
        if (P >= 1 && P <= 16)
            return 1u << (P - 1u);
        if (P >= 17 && P <= 32)
            return 1u << (P - 17u + 16u);
        return 0;   // 33..48 name no port
    };
    if (S == 1 || S == 3 || S == 0xFF) {
        if (P == 0xFF) {
            route.multicast = true;
            route.searchAddr = le16(f, 0) == kAddrSearch;
            route.ports = multicast_ports();
            route.bits = PortBits::Replace;
        } else if (P == 0) {
            const unsigned port = (le16(f, 0) >> 12) & 3;
            if (traceOn())
                std::printf("FRAME_NETPORT : %d   port_num : %d\n", P, port);
            route.ports = 1u << port;
        } else {
            route.ports = numbered();
        }
    } else if (S == 0) {
        if (P == 0) {
            route.ports = 1u | (1u << 16);
            route.bits = PortBits::Keep;
        } else if (P != 0xFF) {
            route.ports = numbered();
        }
    }
    return route;
}

void fpga_manage::passby_send(const unsigned char* f, unsigned short length, const PassbyRoute& route,
                              uint64_t deadlineUs)
{
    uint32_t sent;
    {
        // The ports' transfers take the bus by the frame's end or not at
        // all.
        const SpiBusBound sendBus(deadlineUs);
        sent = send_to_ports(f, length, route.ports, route.bits, deadlineUs);
    }
    {
        // A port given up never had the frame: nothing it sends answers it.
        QMutexLocker lock(&passby_open_mutex);
        passby_open = PassbyOpen{echoOf(f, length), sent};
    }
    if (route.multicast)
        multicast_pending = 1;
}

uint32_t fpga_manage::port_link_image()
{
    FpgaMutexHold hold(fpga_reg_mutex);
    return MCU_REG_func[0][128] | (MCU_REG_func[0][144] << 8) | (static_cast<uint32_t>(MCU_REG_func[1][128]) << 16) |
           (static_cast<uint32_t>(MCU_REG_func[1][144]) << 24);
}

uint64_t fpga_manage::passby_answer_bound_us(const unsigned char* frame, int length)
{
    const uint32_t sent = passby_ports.load();
    bool linked = false;
    unsigned most = 1;
    for (unsigned char i = 0; i < 2; ++i) {
        // An FPGA held in reset answers nothing (its image still says
        // running until the reset ends).
        const unsigned char st = reg_image(i, 80);
        if (!(sent >> (16u * i) & 0xFFFFu) || (st != 2 && st != 3) || fpga_rst_pending[i].load())
            continue;
        read_from_register(128, i);
        read_from_register(144, i);
        const uint32_t links = reg_image(i, 128) | (reg_image(i, 144) << 8);
        for (unsigned port = 0; port < 16; ++port) {
            if (!(sent & (1u << (port + 16u * i))) || !(links & (1u << port)))
                continue;
            linked = true;
            most = std::max<unsigned>(most, get_port_card_num(port + 16u * i));
        }
    }
    if (!linked || !frame || length < 11)
        return 0;
    uint64_t bound = kCardFrameUs;
    switch (frame[9]) {
    case 0x81:   // save to flash
        bound = kCardSaveUs + most * kCardAnswerUs;
        break;
    case 0xB4:   // activate firmware
    case 0x84: { // reconfigure
        const bool everyCard = (le16(frame, 0) & 0x0FFF) == kAddrAllCards;
        bound = kCardSaveUs + (everyCard ? most : 1u) * kCardAnswerUs;
        break;
    }
    default:
        break;
    }
    return std::min(bound, kPassbyLongestUs);
}

void fpga_manage::update_eth_rcv_num(const unsigned char* frame, unsigned short port, unsigned char fpga)
{
    if (port > 15)
        return;
    const unsigned char i = sel(fpga);
    const unsigned c = kCardCountOffset[port];
    const unsigned s = kCardStatusOffset[port];
    change_page_image(i, c, s - c + 1, true, [&](unsigned char* page) {
        page[c] = frame[11];
        page[c + 1] = frame[12];
        page[s] = frame[13];
    });
}

unsigned short fpga_manage::get_port_card_num(unsigned int index)
{
    if (index > 31)
        return 0;
    const unsigned char* page = MCU_RAM_PARA_func[index >= 16 ? 1 : 0];
    // A card search answer updates the count under the image mutex (on a
    // link thread while a pass-through waits).
    FpgaMutexHold hold(fpga_reg_mutex);
    return le16(page, kCardCountOffset[index & 15]);
}

unsigned short fpga_manage::check_netport_card(unsigned char fpga)
{
    unsigned short sum = 0;
    for (unsigned port = 0; port < 16; ++port)
        sum = static_cast<unsigned short>(sum + get_port_card_num(port + 16u * sel(fpga)));
    return sum;
}

void fpga_manage::card_result_view(unsigned char* out, bool take)
{
    QMutexLocker lock(&card_result_mutex);
    out[0] = take ? card_result_flag.exchange(0) : card_result_flag.load();
    std::memcpy(out + 1, card_result, kCardResultPcBytes);
}
