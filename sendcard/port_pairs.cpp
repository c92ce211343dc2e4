#include "sendcard/port_pairs.h"

#include "core/lock_check.h"
#include "core/logMsg.h"
#include "core/wait_bound.h"
#include "platform/clock.h"
#include "sendcard/fpga_manage.h"

#include <algorithm>
#include <string>

namespace {

// How often a waiter looks again: at the hold, or at a busy pair (the hold
// is let go between looks, so that other senders are not held meanwhile).
constexpr uint64_t kLookUs = 50;

} // namespace

PortPairs::Regs PortPairs::regs(unsigned p)
{
    static const unsigned txLen[8] = {26, 134, 136, 138, 154, 155, 156, 157};
    static const unsigned rxLen[8] = {24, 133, 135, 137, 149, 150, 151, 152};
    p &= 7;
    const bool high = p >= 4;
    Regs r;
    r.txBlock = 3 + 2 * p;
    r.rxBlock = 2 + 2 * p;
    r.txLen = txLen[p];
    r.rxLen = rxLen[p];
    r.txHighReg = high ? 158 : 27;
    r.rxHighReg = high ? 153 : 25;
    r.statusReg = high ? 145 : 129;
    r.ctrlReg = high ? 146 : 130;
    r.ackReg = high ? 147 : 131;
    r.selectReg = high ? 148 : 132;
    r.shift = static_cast<unsigned char>(2 * (p & 3));
    r.bit = static_cast<unsigned char>(1u << (p & 3));
    return r;
}

PortPairs::PortPairs(fpga_manage& m) : m_(m)
{
    pthread_mutexattr_t attr;
    pthread_mutexattr_init(&attr);
    pthread_mutexattr_settype(&attr, PTHREAD_MUTEX_RECURSIVE);
    pthread_mutex_init(&mutex_, &attr);
    pthread_mutexattr_destroy(&attr);
}

PortPairs::~PortPairs()
{
    pthread_mutex_destroy(&mutex_);
}

PortPairs::Hold::Hold(PortPairs& pairs, uint64_t untilUs) : pairs_(pairs)
{
    lock_check::short_lock_is_leaf("the port hold");
    uint64_t until = fpga_manage::SpiBusBound::untilUs();
    if (untilUs && (until == 0 || untilUs < until))
        until = untilUs;
    if (until == 0) {
        pthread_mutex_lock(&pairs_.mutex_);
        held_ = true;
        return;
    }
    const uint64_t now = platform::clock().nowUs();
    held_ = waitUntil(until > now ? until - now : 0, kLookUs,
                      [this] { return pthread_mutex_trylock(&pairs_.mutex_) == 0; });
}

PortPairs::Hold::~Hold()
{
    if (held_)
        pthread_mutex_unlock(&pairs_.mutex_);
}

int PortPairs::send(const unsigned char* frame, unsigned short length, unsigned short port, unsigned char fpga,
                    uint64_t deadlineUs)
{
    if (port > 15 || length == 0 || length > fpga_manage::kMaxPortFrame)
        return 0;
    const unsigned char i = fpga == 0 ? 0 : 1;
    // An FPGA held in reset takes nothing (and its status reads all ones:
    // busy); the frame is dropped rather than waited on.
    if (m_.fpga_rst_pending[i].load())
        return 0;
    const Regs r = regs(port >> 1);
    // A PC frame waits for the pair only as long as its time has left; the
    // SPI bus is not waited on meanwhile (a held chip write holds it).
    uint64_t waitUs = kSendReadyUs;
    if (deadlineUs) {
        const uint64_t now = platform::clock().nowUs();
        waitUs = std::min<uint64_t>(waitUs, deadlineUs > now ? deadlineUs - now : 0);
    }
    const bool bounded = waitUs < kSendReadyUs;
    // Each look at the busy bit and the fill it allows are one hold; the
    // looks go on for at most 3 s, measured on the board's clock. A reset
    // of the FPGA ends them (nothing is sent then).
    bool reset = false;
    bool sent = false;
    waitUntil(waitUs, kLookUs, [&] {
        const Hold hold(*this, deadlineUs);
        if (!hold.held())
            return false;
        if (m_.fpga_rst_pending[i].load()) {
            reset = true;
            return true;
        }
        if (!pair_free(r, i, bounded))
            return false;
        fill_and_start(r, frame, length, port, i);
        sent = true;
        return true;
    });
    if (reset)
        return 0;
    if (!sent) {
        if (bounded)
            return 0;   // the frame's time ran out first: given up
        // The frame goes out even when the pair never became free (a busy
        // buffer is overwritten): said once in the log, and counted.
        const Hold hold(*this, deadlineUs);
        if (!hold.held() || m_.fpga_rst_pending[i].load())
            return 0;
        if (busySends_.fetch_add(1) == 0)
            writeLogMsg(WARNING, "FPGA " + std::to_string(i) +
                                     ": a port's transmit buffer stayed busy; frame sent over it");
        fill_and_start(r, frame, length, port, i);
    }
    if (deadlineUs && fpga_manage::SpiBusBound::givenUp())
        return 0;   // the bus stayed held past the frame's end: not (wholly) sent
    return sent ? 1 : 2;
}

bool PortPairs::pair_free(const Regs& r, unsigned char fpga, bool bounded)
{
    // A shorter wait (a PC frame's time running out) does not block on a
    // held SPI bus: the bus counts as not free.
    if (bounded && !fpga_manage::spi_bus_free())
        return false;
    const unsigned char busy = static_cast<unsigned char>(2u << r.shift);
    unsigned char v = 0xFF;
    return m_.read_fpga_register(r.statusReg, &v, fpga) && !(v & busy);
}

void PortPairs::fill_and_start(const Regs& r, const unsigned char* frame, unsigned short length, unsigned short port,
                               unsigned char fpga)
{
    m_.write_to_register(r.selectReg, 0xFF, static_cast<unsigned char>(1u << (port & 7)), fpga);
    m_.write_fpga_ram(frame, 0, length, r.txBlock, fpga);
    const unsigned len1 = length - 1u;
    m_.write_to_register(r.txLen, 0xFF, static_cast<unsigned char>(len1 & 0xFF), fpga);
    m_.write_to_register(r.txHighReg, static_cast<unsigned char>(3u << r.shift),
                         static_cast<unsigned char>(((len1 >> 8) & 3) << r.shift), fpga);
    m_.write_to_register(r.ctrlReg, 0xF0, static_cast<unsigned char>(r.bit << 4), fpga);
}
