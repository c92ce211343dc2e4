// Concurrent soak of the running program on a simulated board: for a
// bounded time every transport is driven at once, as PCs, tools and a user
// at the screen would: several UDP and TCP PCs reading and writing the
// parameter block and the user-mode slots, set-network and device
// information, the WiFi AT channel (address changes included), frames on
// the RS-485 link, pass-throughs to receiving cards beside reads of the
// sending card's registers, LED size changes now and then (each resets
// both FPGAs and brings them up again), a chip register write held now and
// then (c331-hold), TCP connections that come and go (pipelined requests
// ended with a FIN, a reset mid-stream, a PC that never reads), taps
// through the pages (a card check among them), source changes, cards that
// fall silent or answer late now and then, a user-mode slot marked
// and emptied with flag 2 after each (it must stay empty, its file gone),
// and two PCs writing the sending card's command page at once (one stores
// records and strobes each, the other writes pages only shown over the
// same bytes, strobed now and then): the on/off and brightness records the
// flash holds after the load must each be one a PC asked to store, whole.
// Beside it, in the soak's own process, a randomized round of the
// pass-through line with an oracle (tests/support/passthrough_oracle.h)
// runs with a random seed, printed at its start and with any failure.
//
// Not part of the test command: scripts/soak.sh builds it with a sanitizer
// and runs it. The run fails when the program reported anything (the
// runner reads its sanitizer reports when it stops), when it died, when
// device information reported an address nobody set, when a read of a
// record the PCs write whole (the LED size, a window rectangle) showed a
// mix of two writes, when an answer came later than its bound (the table
// of bounds below) or never, when the program closed the connection of a
// PC that reads or kept that of a PC that never reads (its replies
// stalled), or when a driver never got its work done: a
// kind of work (a PC's answered request, a set-network, a
// device-information answer, an AT command, a pass-through, a read of the
// sending card, an LED size change, a held chip write, a churned
// connection, a posted card check, a source change, a command page stored
// and one shown) that did not happen
// once in the whole run fails it, since a soak in which a driver was shut
// out tested nothing of that driver.
//
//   ZDR_SOAK_SECONDS   length of the run (default 60; soak.sh passes its
//                      seconds)
// soak.sh's own settings: ZDR_SOAK_BUILD_DIR the build folder (default
// build-<kind>/, build/ for none), ZDR_SOAK_JOBS the build's jobs at once
// (default ZDR_JOBS, else every processor).
#include "support/app_runner.h"
#include "support/packed_card_file.h"
#include "support/passthrough_oracle.h"
#include "support/wait_for.h"

#include "pcclient/pc_client.h"

#include <QDir>
#include <QFile>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <gtest/gtest.h>
#include <mutex>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace pcclient;

namespace {

using Ports = AppRunner::LinkPorts;
using SteadyClock = std::chrono::steady_clock;

// ---- How long an answer may take ----
//
// The PCs of a transport take turns, one request each, in the order their
// requests arrived, and a transport that carries an open pass-through
// serves nothing else until it is answered or given up. So a request waits
// for at most one request of every other PC ahead of it, then takes its
// own time. Most requests are served in milliseconds; the slow ones this
// soak sends come from different PCs and may all be ahead at once:
//   - the open pass-through (one at a time over all transports), its
//     opcode's wait: kPassThroughWaitMs;
//   - a write waiting for the chip pass in progress, held or not:
//     kHoldMs + kChipPassMs;
//   - over TCP, the replies stalled on the PC that never reads: kReplyTakeMs.

// docs/protocol.md, the pass-through table: RAM and register reads and
// writes (the soak's pass-throughs are register writes, opcode 0xA0) are
// waited for 5 s.
constexpr int kPassThroughWaitMs = 5000;
// docs/protocol.md, TCP: the replies to what the device read in one go
// must be taken within 3 s (the time spent writing them), else the
// connection is closed.
constexpr int kReplyTakeMs = 3000;
// The soak's own chip hold (c331-hold, see holdLoop): a write waits for
// the pass that holds the chip; a read never does.
constexpr int kHoldMs = 2000;
// A change pass of the simulated chip without a hold (a full window
// re-layout, the panel set-up after an LED size change): well under a
// second on an idle PC.
constexpr int kChipPassMs = 1500;
// The cards of a port answer up to this late now and then (card-delay, see
// cardFaultLoop): a pass-through to them is still answered within its
// opcode's wait, so it is no later than the open pass-through every bound
// below already allows for. A card made silent (card-silent) is never the
// one the pass-throughs ask, so the share of them that must come back holds.
constexpr int kCardDelayMaxMs = 1500;
static_assert(2 * kCardDelayMaxMs < 5000, "a late card answers well within a pass-through's wait");
// A request's own time: a 4 KiB read takes 0.36 s on the RS-485 link
// (115200 baud); over UDP and TCP a few milliseconds.
constexpr int kOwnMs = 500;
// A busy machine: five helpers' builds beside the soak. A sanitizer build
// runs the program several times slower (ThreadSanitizer the most), so the
// margin is scaled by kSlowdown.
constexpr int kBusyMarginMs = 2000;
#if defined(__SANITIZE_THREAD__)
constexpr int kSlowdown = 5;
#elif defined(__SANITIZE_ADDRESS__)
constexpr int kSlowdown = 3;
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
constexpr int kSlowdown = 5;
#elif __has_feature(address_sanitizer)
constexpr int kSlowdown = 3;
#else
constexpr int kSlowdown = 1;
#endif
#else
constexpr int kSlowdown = 1;
#endif

// The kinds of request and their own time.
enum Kind { kRead, kWrite, kPassThrough, kKindCount };
struct OwnTime {
    const char* name;
    int ms;
};
const OwnTime kOwn[kKindCount] = {
    // A read is answered from the block (or the sending card's image) as
    // it stands: it never waits for a chip pass.
    {"read", kOwnMs},
    // A write (RAM, registers, items, set-network) may wait for the pass
    // in progress, held or not.
    {"write", kOwnMs + kHoldMs + kChipPassMs},
    // A pass-through waits for the cards as long as its opcode asks.
    {"pass-through", kPassThroughWaitMs},
};

// What the other PCs may have served ahead of a request (see above).
int aheadMs(bool tcp)
{
    return kPassThroughWaitMs + kHoldMs + kChipPassMs + (tcp ? kReplyTakeMs : 0);
}

// The bound of a request of kind k over TCP or another transport, and the
// bound of the n-th of n requests sent at once on one connection (each
// waits its own turn).
int boundMs(Kind k, bool tcp, int nth = 1)
{
    return nth * (aheadMs(tcp) + kOwn[k].ms) + kSlowdown * kBusyMarginMs;
}

// How long a request is waited for at all: an answer after its bound is
// late, none within twice its bound is missing.
int giveUpMs(Kind k, bool tcp)
{
    return 2 * boundMs(k, tcp);
}

// A PC that never reads sends kSilentRequests whole-block reads: 8 MiB of
// replies, more than the socket buffers of both ends hold (Linux lets a
// sending buffer grow to 4 MiB), so that the program's writes stall. It is
// watched for the program letting it go for kSilentWatchMs: its requests
// served a turn at a time beside the other PCs' until the buffers are
// full, then the stall (kReplyTakeMs).
constexpr int kSilentRequests = 2000;
constexpr long kSilentWatchMs = kReplyTakeMs + 20000L * kSlowdown;

long msSince(SteadyClock::time_point t)
{
    return static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(SteadyClock::now() - t).count());
}

// The time since the driver started, for the lines that tell when
// something happened ("12.3 s").
const SteadyClock::time_point gStart = SteadyClock::now();
std::string stamp()
{
    char t[32];
    std::snprintf(t, sizeof(t), "%.1f s", static_cast<double>(msSince(gStart)) / 1000.0);
    return t;
}

std::string quad(const unsigned char* b)
{
    return std::to_string(b[0]) + "." + std::to_string(b[1]) + "." + std::to_string(b[2]) + "." +
           std::to_string(b[3]);
}

std::string hex(const Bytes& b)
{
    std::string s;
    char t[4];
    for (unsigned char c : b) {
        std::snprintf(t, sizeof(t), "%02x", c);
        s += t;
    }
    return s;
}

Bytes le16s(std::initializer_list<unsigned> words)
{
    Bytes b;
    for (unsigned w : words) {
        b.push_back(static_cast<unsigned char>(w & 0xFF));
        b.push_back(static_cast<unsigned char>(w >> 8));
    }
    return b;
}

// What the drivers did, for the summary.
struct Counts {
    std::atomic<long> requests{0};
    std::atomic<long> answered{0};
    std::atomic<long> setNetwork{0};
    std::atomic<long> deviceInfo{0};
    std::atomic<long> atCommands{0};
    std::atomic<long> passThroughs{0};
    std::atomic<long> passThroughsToCards{0};   // to the card that answers
    std::atomic<long> passThroughsAnswered{0};
    std::atomic<long> recordReads{0};
    std::atomic<long> recordWrites{0};
    std::atomic<long> ledSizes{0};
    std::atomic<long> cardReads{0};
    std::atomic<long> cardReadsAnswered{0};
    std::atomic<long> cardReadsBringUp{0};      // answered while an FPGA was not running
    std::atomic<long> cardReadsRefused{0};
    std::atomic<long> holdsArmed{0};
    std::atomic<long> holdsTaken{0};
    std::atomic<long> finConnections{0};
    std::atomic<long> finAnswered{0};
    std::atomic<long> resetConnections{0};
    std::atomic<long> silentConnections{0};
    std::atomic<long> silentLetGo{0};
    std::atomic<long> silentLetGoMaxMs{0};
    std::atomic<long> silentHeld{0};            // still connected after kSilentWatchMs
    std::atomic<long> linksLost{0};             // connections the program closed on a PC that reads
    std::atomic<long> taps{0};
    std::atomic<long> sources{0};
    std::atomic<long> cardChecks{0};
    std::atomic<long> cardsSilenced{0};
    std::atomic<long> fpgasSilenced{0};
    std::atomic<long> cardDelays{0};
    std::atomic<long> sliderStores{0};          // the slider PC's changes, each applied and stored
    std::atomic<long> slotRounds{0};            // slot 16 marked, flag 2, emptied, flag 2
    std::atomic<long> slotsRevived{0};          // marked again after it was emptied
    std::atomic<long> slotFilesKept{0};         // its file still there after it was emptied
    std::atomic<long> cmdPagesStored{0};        // command pages a PC stored, strobed
    std::atomic<long> cmdPagesShown{0};         // command pages only shown, written
    std::atomic<long> cmdPageStrobes{0};        // of those, strobed
};

// The command page's records (the on/off table at 0x6CD000, 8 + 17 bytes;
// the brightness record at 0x6CE000, 8 + 49 bytes, in the flash behind
// FPGA 0): the ones a PC asked to store, and what the flash held before.
// The brightness record is also stored by the device itself from a percent
// (item 1): a manual level of 8-bit levels, its 48 level bytes the same.
class CommandPageBook {
public:
    static constexpr unsigned kOnOffSize = 8 + 17;
    static constexpr unsigned kBrightSize = 8 + 49;
    static constexpr uint32_t kOnOffAt = 0x6CD000;
    static constexpr uint32_t kBrightAt = 0x6CE000;

    void asked(const Bytes& page)
    {
        std::lock_guard<std::mutex> l(m_);
        const unsigned size = page[1] == 2 ? kOnOffSize : kBrightSize;
        (page[1] == 2 ? onOff_ : bright_).insert(hex(Bytes(page.begin(), page.begin() + size)));
    }
    void before(const std::string& onOff, const std::string& bright)
    {
        std::lock_guard<std::mutex> l(m_);
        onOff_.insert(onOff);
        bright_.insert(bright);
    }
    // Whether the record read (in hex) is one asked for, whole.
    bool onOffAsked(const std::string& record)
    {
        std::lock_guard<std::mutex> l(m_);
        return onOff_.count(record) != 0;
    }
    bool brightAsked(const std::string& record)
    {
        std::lock_guard<std::mutex> l(m_);
        if (bright_.count(record) != 0)
            return true;
        // The device's own manual record of a percent.
        const std::string head = "aa03aa0000003100" "10";
        if (record.size() != 2 * kBrightSize || record.compare(0, head.size(), head) != 0)
            return false;
        for (size_t k = head.size(); k < record.size(); k += 2) {
            if (record.compare(k, 2, record, head.size(), 2) != 0)
                return false;
        }
        return true;
    }

private:
    std::mutex m_;
    std::set<std::string> onOff_;
    std::set<std::string> bright_;
};

// Answers that came after their bound, or never; the worst are kept.
class LateBook {
public:
    void late(const std::string& what, long ms, long bound)
    {
        std::lock_guard<std::mutex> l(m_);
        ++late_;
        add(what + ": answered after " + std::to_string(ms) + " ms (bound " + std::to_string(bound) + " ms)",
            ms - bound);
    }
    void none(const std::string& what, long waited, long bound)
    {
        std::lock_guard<std::mutex> l(m_);
        ++none_;
        add(what + ": no answer within " + std::to_string(waited) + " ms", waited - bound);
    }
    void onTime(const std::string& what, long ms)
    {
        std::lock_guard<std::mutex> l(m_);
        if (ms > worstOnTime_) {
            worstOnTime_ = ms;
            worstOnTimeWhat_ = what + " (at " + stamp() + ")";
        }
    }
    std::string worstOnTimeWhat()
    {
        std::lock_guard<std::mutex> l(m_);
        return worstOnTimeWhat_;
    }
    long lateCount()
    {
        std::lock_guard<std::mutex> l(m_);
        return late_;
    }
    long noneCount()
    {
        std::lock_guard<std::mutex> l(m_);
        return none_;
    }
    long worstOnTime()
    {
        std::lock_guard<std::mutex> l(m_);
        return worstOnTime_;
    }
    std::vector<std::string> worst()
    {
        std::lock_guard<std::mutex> l(m_);
        std::vector<std::string> out;
        for (const auto& w : worst_)
            out.push_back(w.second);
        return out;
    }

private:
    void add(const std::string& what, long over)
    {
        worst_.emplace_back(over, what + " (at " + stamp() + ")");
        std::sort(worst_.begin(), worst_.end(), [](const auto& a, const auto& b) { return a.first > b.first; });
        if (worst_.size() > 8)
            worst_.resize(8);
    }
    std::mutex m_;
    long late_ = 0;
    long none_ = 0;
    long worstOnTime_ = 0;
    std::string worstOnTimeWhat_;
    std::vector<std::pair<long, std::string>> worst_;
};

// Records the PCs write whole, in one RAM write each, choosing among a few
// whole values: every read of one must show one of them, never a mix.
struct Record {
    const char* name;
    uint32_t at;
    std::vector<Bytes> values;
};

class RecordBook {
public:
    RecordBook()
    {
        // The LED screen size: width and height at block offsets 1378 and
        // 1380.
        records_.push_back({"LED size", 1378, {le16s({1920, 1080}), le16s({1280, 720}), le16s({1600, 900})}});
        // Window 0's rectangle: x, y, w, h of layer record 0 (2272 + 10).
        records_.push_back({"window 0 rectangle",
                            2282,
                            {le16s({0, 0, 1920, 1080}), le16s({0, 0, 1280, 720}), le16s({100, 50, 800, 600}),
                             le16s({960, 540, 960, 540})}});
    }
    size_t count() const { return records_.size(); }
    const Record& record(size_t i) const { return records_[i]; }
    uint16_t size(size_t i) const { return static_cast<uint16_t>(records_[i].values.front().size()); }
    // The value a board starts with, when it is none of the chosen ones.
    void allow(size_t i, const Bytes& start)
    {
        std::lock_guard<std::mutex> l(m_);
        Record& r = records_[i];
        if (std::find(r.values.begin(), r.values.end(), start) == r.values.end())
            r.values.push_back(start);
    }
    // A read of record i over a link; data of another size is another
    // request's reply and is not judged.
    void check(size_t i, const Bytes& data, const char* link)
    {
        std::lock_guard<std::mutex> l(m_);
        const Record& r = records_[i];
        if (data.size() != r.values.front().size())
            return;
        if (std::find(r.values.begin(), r.values.end(), data) != r.values.end())
            return;
        ++mixed_;
        if (seen_.size() < 10)
            seen_.push_back(std::string(r.name) + " read " + hex(data) + " over " + link);
    }
    long mixedCount()
    {
        std::lock_guard<std::mutex> l(m_);
        return mixed_;
    }
    std::vector<std::string> mixed()
    {
        std::lock_guard<std::mutex> l(m_);
        return seen_;
    }

private:
    std::mutex m_;
    std::vector<Record> records_;
    long mixed_ = 0;
    std::vector<std::string> seen_;
};

// The addresses set so far (set-network and the AT channel); device
// information must report one of them.
class AddressBook {
public:
    void add(const std::string& a)
    {
        std::lock_guard<std::mutex> l(m_);
        set_.insert(a);
    }
    bool has(const std::string& a)
    {
        std::lock_guard<std::mutex> l(m_);
        return set_.count(a) != 0;
    }
    void badReport(const std::string& what)
    {
        std::lock_guard<std::mutex> l(m_);
        if (bad_.size() < 20)
            bad_.push_back(what);
        ++badCount_;
    }
    long badCount()
    {
        std::lock_guard<std::mutex> l(m_);
        return badCount_;
    }
    std::vector<std::string> bad()
    {
        std::lock_guard<std::mutex> l(m_);
        return bad_;
    }

private:
    std::mutex m_;
    std::set<std::string> set_;
    std::vector<std::string> bad_;
    long badCount_ = 0;
};

// A TCP connection the churn drivers end in their own ways.
class ChurnLink : public TcpLink {
public:
    // A connection to 127.0.0.1 whose receive buffer is small from the
    // start, so that the program's replies stall soon when nobody reads.
    bool openSmall(unsigned short port)
    {
        closeFd();
        m_fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (m_fd < 0)
            return false;
        const int small = 4096;
        ::setsockopt(m_fd, SOL_SOCKET, SO_RCVBUF, &small, sizeof(small));
        const timeval tv{3, 0};
        ::setsockopt(m_fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof(tv));
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_port = htons(port);
        to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (::connect(m_fd, reinterpret_cast<sockaddr*>(&to), sizeof(to)) != 0) {
            closeFd();
            return false;
        }
        return true;
    }
    // FIN: no more requests, the replies are still read.
    void finish() { ::shutdown(m_fd, SHUT_WR); }
    // Reset: closed with SO_LINGER 0, whatever is in flight.
    void reset()
    {
        const linger lg{1, 0};
        ::setsockopt(m_fd, SOL_SOCKET, SO_LINGER, &lg, sizeof(lg));
        closeFd();
    }
    // The connection's state on this side: still established, or the
    // program closed (FIN) or reset it.
    bool established() const
    {
        tcp_info ti{};
        socklen_t len = sizeof(ti);
        if (::getsockopt(m_fd, IPPROTO_TCP, TCP_INFO, &ti, &len) != 0)
            return false;
        return ti.tcpi_state == TCP_ESTABLISHED;
    }
};

class Soak : public ::testing::Test {
protected:
    void SetUp() override
    {
        const char* s = std::getenv("ZDR_SOAK_SECONDS");
        seconds = s && *s ? std::atoi(s) : 60;
        if (seconds < 1)
            seconds = 1;
        // A sanitizer build starts slowly.
        ASSERT_TRUE(app.start(180000)) << app.output().toStdString();
        ports = app.linkPorts();
        ASSERT_NE(ports.udp, 0);
        ASSERT_NE(ports.tcp, 0);
        ASSERT_NE(ports.at, 0);
        // The settings a fresh board starts with.
        for (const char* a : {"192.168.1.199", "255.255.255.0", "192.168.1.1", "192.168.22.101"})
            book.add(a);
    }

    bool running() const { return !stop.load(); }

    // One request, timed against the bound of its kind: true when it was
    // answered (late or not). A late or missing answer is recorded.
    bool timed(Link& link, Kind kind, const std::string& what, uint16_t dest, unsigned char command,
               const Bytes& payload, Reply& r, unsigned char port = 0)
    {
        const bool tcp = dynamic_cast<TcpLink*>(&link) != nullptr;
        const std::string name = what + (tcp ? " over TCP" : "") + " (a " + kOwn[kind].name + ")";
        const int bound = boundMs(kind, tcp);
        const auto t = SteadyClock::now();
        const bool ok = link.request(dest, command, payload, r, giveUpMs(kind, tcp), port);
        const long ms = msSince(t);
        if (ok) {
            if (ms > bound)
                late.late(name, ms, bound);
            else
                late.onTime(name, ms);
        } else if (link.lost()) {
            ++counts.linksLost;
        } else if (running()) {
            late.none(name, ms, bound);
        }
        return ok;
    }

    // A read of record i; the data must be one of its whole values.
    bool readRecord(Link& link, size_t i, Reply& r, const char* linkName)
    {
        const Record& rec = records.record(i);
        if (!timed(link, kRead, std::string("read of the ") + rec.name, kProcessor, 0x61,
                   ramReadPayload(rec.at, records.size(i)), r))
            return false;
        ++counts.recordReads;
        if (r.status == 0)
            records.check(i, r.data, linkName);
        return true;
    }

    // A write of record i with one of its whole values, in one RAM write.
    bool writeRecord(Link& link, size_t i, std::mt19937& rng, Reply& r)
    {
        const Record& rec = records.record(i);
        const Bytes& value = rec.values[rng() % rec.values.size()];
        ++counts.recordWrites;
        return timed(link, kWrite, std::string("write of the ") + rec.name, kProcessor, 0x60,
                     ramWritePayload(rec.at, value), r);
    }

    // One PC: RAM reads and writes of the block's unused tail, picture
    // words and window 0's rectangle (read back whole), of the slots'
    // uninterpreted tail, parameter items, the flag register, and now and
    // then a whole slot read.
    void pcLoop(Link& link, unsigned seed, bool networkToo, const char* linkName)
    {
        std::mt19937 rng(seed);
        Reply r;
        // Three requests in a row without an answer end the loop: the caller
        // opens the link again (a TCP connection the program closed).
        int misses = 0;
        while (running() && misses < 3 && !link.lost()) {
            bool ok = false;
            switch (rng() % 12) {
            case 0: {   // the block's unused tail, 2880 to 4095
                Bytes data(1 + rng() % 200);
                for (auto& b : data)
                    b = static_cast<unsigned char>(rng());
                const uint32_t at = 2880 + rng() % static_cast<uint32_t>(4096 - 2880 - data.size() + 1);
                ok = timed(link, kWrite, "RAM write of the block's tail", kProcessor, 0x60, ramWritePayload(at, data),
                           r);
                break;
            }
            case 1:   // contrast and saturation, in range (a held chip write is the contrast's)
                ok = timed(link, kWrite, "RAM write of contrast and saturation", kProcessor, 0x60,
                           ramWritePayload(2178, Bytes{static_cast<unsigned char>(rng() % 100), 0, 0x0A, 0,
                                                       static_cast<unsigned char>(rng() % 100), 0}),
                           r);
                break;
            case 2:   // the whole block, input signal records included
                ok = timed(link, kRead, "read of the whole block", kProcessor, 0x61, ramReadPayload(0, 4096), r);
                if (ok && r.status == 0 && r.data.size() == 4096) {
                    for (size_t i = 0; i < records.count(); ++i) {
                        const Record& rec = records.record(i);
                        records.check(i, Bytes(r.data.begin() + rec.at, r.data.begin() + rec.at + records.size(i)),
                                      linkName);
                    }
                }
                break;
            case 3: {   // a slot's tail (bytes 3202 to 4095 are carried unchanged)
                const uint32_t slot = 1 + rng() % 16;
                Bytes data(64);
                for (auto& b : data)
                    b = static_cast<unsigned char>(rng());
                ok = timed(link, kWrite, "RAM write of a slot's tail", kProcessor, 0x60,
                           ramWritePayload((slot << 12) + 3300 + rng() % 700, data), r);
                break;
            }
            case 4:   // a whole slot
                ok = timed(link, kRead, "read of a whole slot", kProcessor, 0x61,
                           ramReadPayload(((1 + rng() % 16) << 12), 4096), r);
                break;
            case 5:   // brightness or colour temperature items
                ok = timed(link, kWrite, "parameter items", kProcessor, 0xB0,
                           itemsPayload({{1, 0, static_cast<uint16_t>(rng() % 101)},
                                         {2, 0, static_cast<uint16_t>(rng() % 4)}}),
                           r);
                break;
            case 6:   // the change flag: the chip applies, the page refreshes, the block is persisted
                ok = timed(link, kWrite, "flag register", kProcessor, 0xA0, regWritePayload({{11, 0xFF, 1}}), r);
                break;
            case 7:
                ok = deviceInfo(link, r);
                break;
            case 8:
                if (networkToo)
                    ok = setNetwork(link, rng, r);
                else
                    ok = timed(link, kRead, "register read", kProcessor, 0xA1, regReadPayload(0, 64), r);
                break;
            case 9:
            case 10:
                ok = readRecord(link, rng() % records.count(), r, linkName);
                break;
            case 11:   // window 0's rectangle (the LED size has a driver of its own)
                ok = writeRecord(link, 1, rng, r);
                break;
            }
            ++counts.requests;
            if (ok)
                ++counts.answered;
            misses = ok ? 0 : misses + 1;
        }
    }

    bool deviceInfo(Link& link, Reply& r)
    {
        if (!timed(link, kRead, "device information", kProcessor, 0x80, Bytes{}, r))
            return false;
        checkDeviceInfo(r);
        return true;
    }

    void checkDeviceInfo(const Reply& r)
    {
        ++counts.deviceInfo;
        if (r.status != 0 || r.data.size() != 56) {
            book.badReport("device information of " + std::to_string(r.data.size()) + " bytes");
            return;
        }
        const char* names[4] = {"address", "mask", "gateway", "WiFi address"};
        const size_t at[4] = {32, 36, 40, 46};
        for (int i = 0; i < 4; ++i) {
            const std::string a = quad(r.data.data() + at[i]);
            if (!book.has(a))
                book.badReport(std::string(names[i]) + " " + a);
        }
    }

    bool setNetwork(Link& link, std::mt19937& rng, Reply& r)
    {
        const unsigned char ip[4] = {10, static_cast<unsigned char>(rng() % 4), static_cast<unsigned char>(rng() % 250),
                                     static_cast<unsigned char>(2 + rng() % 250)};
        const unsigned char mask[4] = {255, 255, 0, 0};
        const unsigned char gw[4] = {ip[0], ip[1], 0, 1};
        book.add(quad(ip));
        book.add(quad(mask));
        book.add(quad(gw));
        ++counts.setNetwork;
        return timed(link, kWrite, "set-network", kProcessor, 0x82, networkPayload(ip, mask, gw, 0), r);
    }

    // A register write to card 2 of port 5 (the cards answer it) or to a
    // card that does not exist (nobody answers). The card's answer counts
    // when it came back: card 2's register write, to the PC, port 5, and
    // within the pass-through's bound. A request to the absent card holds
    // the links for 5 s; the present card's answer is waited for longer,
    // so that it is not taken for the next request's.
    bool passThrough(Link& link, bool present)
    {
        Bytes req = {static_cast<unsigned char>(present ? 0x02 : 0x09), 0x00, 0x10, 0xF0, 0x10, 0x67, 0x01, 0x05,
                     0x00, 0xA0, 0x01, 0x08, 0x00, 0x08};
        unsigned char x = 0;
        for (unsigned char c : req)
            x ^= c;
        req.push_back(x);
        ++counts.passThroughs;
        const std::string fpga0 = present ? fpga0Running() : std::string();
        const auto t = SteadyClock::now();
        if (!link.sendRaw(frameBody(req)))
            return false;
        Reply r;
        // A missing answer only counts against the share that must come
        // back (an FPGA reset drops some), and only when FPGA 0, behind
        // port 5, ran throughout (a frame to an FPGA that is silent or
        // coming up again is dropped): a late one is caught up to 2 s past
        // the bound.
        const bool tcp = dynamic_cast<TcpLink*>(&link) != nullptr;
        const int bound = boundMs(kPassThrough, tcp);
        const bool received = link.receive(r, present ? bound + 2000 : 300);
        if (present && (received || (!fpga0.empty() && fpga0Running() == fpga0)))
            ++counts.passThroughsToCards;
        if (!received)
            return false;
        const long ms = msSince(t);
        const bool answer = r.dest == kPc && r.src == 0x0002 && r.body.size() >= 11 && r.body[7] == 0x05 &&
                            r.body[9] == 0xA0;
        if (answer) {
            ++counts.passThroughsAnswered;
            if (ms > bound)
                late.late(std::string("pass-through register write to card 2 of port 5") + (tcp ? " over TCP" : ""),
                          ms, bound);
            else
                late.onTime("pass-through register write to card 2 of port 5", ms);
        }
        return answer;
    }

    // FPGA 0's resets so far while it runs and answers; empty while it is
    // silent, held in reset or coming up.
    std::string fpga0Running()
    {
        const std::string status = app.control("fpga-status");
        const std::string info = app.control("fpga-info 0");
        const size_t at = info.find("resets ");
        if (status.find("fpga0 state 7 link 18 reg80 3 reset 0") == std::string::npos || at == std::string::npos ||
            info.find("in-reset 0") == std::string::npos || info.find("fault none") == std::string::npos)
            return std::string();
        return info.substr(at, info.find('\n', at) - at);
    }

    // Reads of the sending card's registers (destination 0xF000, FPGA 0 or
    // 1 in byte 7), beside the pass-throughs and through the FPGAs'
    // resets and bring-ups after an LED size change.
    void cardRegisterLoop(Link& link)
    {
        for (unsigned n = 0; running() && !link.lost(); ++n) {
            Reply r;
            const unsigned char fpga = static_cast<unsigned char>(n % 2);
            ++counts.cardReads;
            if (timed(link, kRead, "sending card register read", kSendingCard, 0xA1,
                      regReadPayload(0, 256), r, fpga)) {
                ++counts.cardReadsAnswered;
                if (r.status != 0 || r.data.size() != 256)
                    ++counts.cardReadsRefused;
                else if (r.data[80] != 3)
                    ++counts.cardReadsBringUp;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    }

    // Now and then a new LED size (one RAM write of width and height, then
    // the flag): the chip sets up the panel and both FPGAs are reset and
    // brought up again.
    void ledSizeLoop(Link& link, unsigned seed)
    {
        std::mt19937 rng(seed);
        while (running()) {
            Reply r;
            const Record& rec = records.record(0);
            const Bytes& value = rec.values[rng() % rec.values.size()];
            if (timed(link, kWrite, "write of the LED size", kProcessor, 0x60, ramWritePayload(rec.at, value), r) &&
                r.status == 0 &&
                timed(link, kWrite, "flag register after the LED size", kProcessor, 0xA0,
                      regWritePayload({{11, 0xFF, 1}}), r)) {
                ++counts.ledSizes;
                std::printf("soak: %s LED size %u x %u\n", stamp().c_str(), value[0] | (value[1] << 8),
                            value[2] | (value[3] << 8));
            }
            ++counts.recordWrites;
            readRecord(link, 0, r, "UDP");
            for (int i = 0; i < 80 && running(); ++i)
                std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
    }

    // Now and then the chip's bus is held at the contrast register, the
    // next time a pass writes it (the PCs write contrast often): writes
    // wait for that pass, reads do not.
    void holdLoop()
    {
        // The first 5 s into the load, then every 20 s.
        for (int i = 0; i < 50 && running(); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        while (running()) {
            if (app.control("c331-hold 0C2802 " + std::to_string(kHoldMs)) != "")
                continue;
            ++counts.holdsArmed;
            if (waitFor([&] { return app.control("c331-hold") != "armed" || !running(); }, 10000) &&
                app.control("c331-hold") != "armed") {
                ++counts.holdsTaken;
                std::printf("soak: %s chip write held\n", stamp().c_str());
            }
            app.control("c331-hold 0C2802 0");
            for (int i = 0; i < 200 && running(); ++i)
                std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
    }

    // A burst of read requests in one write: records, device information
    // and the sending card's registers.
    Bytes pipelined(int n, std::vector<std::pair<unsigned char, int>>& expected)
    {
        Bytes wire;
        for (int i = 0; i < n; ++i) {
            Bytes body;
            switch (i % 4) {
            case 0: body = buildBody(kProcessor, 0x61, ramReadPayload(records.record(0).at, records.size(0))); break;
            case 1: body = buildBody(kProcessor, 0x61, ramReadPayload(records.record(1).at, records.size(1))); break;
            case 2: body = buildBody(kProcessor, 0x80, Bytes{}); break;
            default: body = buildBody(kSendingCard, 0xA1, regReadPayload(0, 128), static_cast<unsigned char>(i % 2)); break;
            }
            const Bytes f = frameBody(body);
            wire.insert(wire.end(), f.begin(), f.end());
            expected.emplace_back(body[9], i % 4);
        }
        return wire;
    }

    // TCP connections that send pipelined requests and end with a FIN (all
    // are answered, in order, each within its turn), and connections reset
    // mid-stream.
    void churnLoop(unsigned seed)
    {
        std::mt19937 rng(seed);
        for (unsigned n = 0; running(); ++n) {
            ChurnLink tcp;
            if (!tcp.open("127.0.0.1", ports.tcp)) {
                std::this_thread::sleep_for(std::chrono::milliseconds(100));
                continue;
            }
            std::vector<std::pair<unsigned char, int>> expected;
            const int k = 2 + static_cast<int>(rng() % 6);
            const Bytes wire = pipelined(k, expected);
            if (n % 3 == 2) {
                // Reset mid-stream: a part of the burst, maybe cut inside a
                // frame, a reply or two perhaps read.
                tcp.sendRaw(wire.data(), 1 + rng() % wire.size());
                if (rng() % 2) {
                    Reply r;
                    tcp.receive(r, 50);
                }
                std::this_thread::sleep_for(std::chrono::milliseconds(rng() % 20));
                tcp.reset();
                ++counts.resetConnections;
                continue;
            }
            const auto t = SteadyClock::now();
            if (!tcp.sendRaw(wire))
                continue;
            tcp.finish();
            ++counts.finConnections;
            int got = 0;
            for (int i = 0; i < k; ++i) {
                // Each request of the burst waits for its own turn.
                const int bound = boundMs(kRead, true, i + 1);
                Reply r;
                const long left = 2L * bound - msSince(t);
                const std::string what = "reply " + std::to_string(i + 1) + " of " + std::to_string(k) +
                                         " requests pipelined before a FIN";
                if (left <= 0 || !tcp.receive(r, static_cast<int>(left))) {
                    if (running())
                        late.none(what + (tcp.lost() ? " (the program closed the connection)" : ""), msSince(t), bound);
                    break;
                }
                const long ms = msSince(t);
                if (ms > bound)
                    late.late(what, ms, bound);
                else
                    late.onTime(what, ms);
                if (r.command != expected[i].first) {
                    late.none(what + ": another request's reply came in its place", ms, bound);
                    break;
                }
                ++got;
                const int request = expected[i].second;
                if (request < 2 && r.status == 0)
                    records.check(static_cast<size_t>(request), r.data, "TCP before a FIN");
                else if (request == 2)
                    checkDeviceInfo(r);
            }
            if (got == k)
                ++counts.finAnswered;
        }
    }

    // A PC that sends whole-block reads and never reads the replies: once
    // its replies stall (8 MiB of them fill any socket buffers), the
    // program must let the connection go within 3 s of writing, and
    // meanwhile answer the other PCs within their bounds.
    void silentLoop()
    {
        while (running()) {
            ChurnLink tcp;
            if (!tcp.openSmall(ports.tcp)) {
                std::this_thread::sleep_for(std::chrono::milliseconds(100));
                continue;
            }
            Bytes wire;
            const Bytes f = frameBody(buildBody(kProcessor, 0x61, ramReadPayload(0, 4096)));
            for (int i = 0; i < kSilentRequests; ++i)
                wire.insert(wire.end(), f.begin(), f.end());
            const auto t = SteadyClock::now();
            if (!tcp.sendRaw(wire))
                continue;
            ++counts.silentConnections;
            while (running() && tcp.established() && msSince(t) < kSilentWatchMs)
                std::this_thread::sleep_for(std::chrono::milliseconds(100));
            const long ms = msSince(t);
            if (!tcp.established()) {
                ++counts.silentLetGo;
                long prev = counts.silentLetGoMaxMs.load();
                while (ms > prev && !counts.silentLetGoMaxMs.compare_exchange_weak(prev, ms)) {
                }
            } else if (ms >= kSilentWatchMs) {
                ++counts.silentHeld;
                late.none("a PC that never reads still connected", ms, kSilentWatchMs);
            }
            tcp.reset();
            for (int i = 0; i < 20 && running(); ++i)
                std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
    }

    void atLoop(unsigned seed)
    {
        std::mt19937 rng(seed);
        while (running()) {
            std::string line;
            switch (rng() % 4) {
            case 0:
            case 1: {
                const std::string ip = "192.168." + std::to_string(20 + rng() % 10) + "." + std::to_string(1 + rng() % 254);
                book.add(ip);
                line = "AT+SETDATA=3," + ip;
                break;
            }
            case 2: line = "AT+CHECKDATA"; break;
            default: line = "AT+GETVER"; break;
            }
            atCommand("127.0.0.1", ports.at, line, 3000);
            ++counts.atCommands;
        }
    }

    // Taps through the pages: the home page, the device status page (the
    // network settings), input choice, the output and network settings
    // pages, and a card check from the advanced settings page.
    void tapLoop()
    {
        auto focus = [&] { return app.control("page-focus"); };
        auto tap = [&](int x, int y) {
            app.control("tap " + std::to_string(x) + " " + std::to_string(y));
            ++counts.taps;
        };
        auto reach = [&](const std::string& page) { return waitFor([&] { return focus() == page; }, 20000); };
        auto home = [&] {
            for (int i = 0; i < 4 && running(); ++i) {
                const std::string f = focus();
                if (f == "1")
                    return true;
                if (f == "0")
                    tap(400, 240);
                else
                    tap(36, 36);
                waitFor([&] { return focus() != f; }, 3000);
            }
            return focus() == "1";
        };
        // Opens a page from the one shown and comes back.
        auto visit = [&](int x, int y, const std::string& page, const std::string& from) {
            tap(x, y);
            if (!reach(page))
                return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
            tap(36, 36);
            return reach(from);
        };
        while (running()) {
            if (!home())
                continue;
            // The card check first: under load the pages take their time.
            tap(495, 180);               // settings
            if (!reach("5"))
                continue;
            tap(681, 310);               // advanced settings
            if (reach("12")) {
                const std::string before = app.control("card-job");
                tap(290, 112);           // the card check
                // Counted once the job is posted. It pauses while the PCs
                // are active, as every card job does, and goes on between
                // their bursts.
                if (waitFor([&] { return app.control("card-job") != before || !running(); }, 20000)) {
                    checkStarted = true;
                    ++counts.cardChecks;
                    waitFor([&] { return app.control("card-job").rfind("job 0", 0) == 0 || !running(); }, 30000);
                }
                tap(36, 36);
                if (!reach("5"))
                    continue;
            }
            visit(489, 150, "6", "5");   // output settings
            visit(681, 150, "10", "5");  // network settings
            tap(36, 36);
            if (!reach("1"))
                continue;
            visit(685, 180, "2", "1");   // device status
            visit(115, 180, "3", "1");   // input choice
        }
    }

    // Now and then a card of port 3 or one of the first two cards of port
    // 5 stops answering (card 2 of port 5 takes the pass-throughs and stays
    // up), and the cards of port 3 or 5 answer late, up to kCardDelayMaxMs:
    // the card checks and the pass-throughs meet them.
    void cardFaultLoop(unsigned seed)
    {
        std::mt19937 rng(seed);
        for (int i = 0; i < 30 && running(); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        while (running()) {
            const std::string port = rng() % 2 ? "3" : "5";
            const std::string card = std::to_string(port == "5" ? rng() % 2 : rng() % 3);
            if (app.control("card-silent " + port + " " + card + " on") == "")
                ++counts.cardsSilenced;
            const std::string latePort = rng() % 2 ? "3" : "5";
            if (app.control("card-delay " + latePort + " " + std::to_string(rng() % (kCardDelayMaxMs + 1))) == "")
                ++counts.cardDelays;
            for (int i = 0, n = 20 + static_cast<int>(rng() % 30); i < n && running(); ++i)
                std::this_thread::sleep_for(std::chrono::milliseconds(100));
            app.control("card-silent " + port + " " + card + " off");
            if (rng() % 2)
                app.control("card-delay " + latePort + " 0");
            for (int i = 0, n = 10 + static_cast<int>(rng() % 30); i < n && running(); ++i)
                std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        app.control("card-delay 3 0");
        app.control("card-delay 5 0");
    }

    // A PC marks user-mode slot 16 saved (AA AA) and sends flag 2, then 0
    // to 60 ms later empties it (FF FF) and sends flag 2 again. Once both
    // are answered the slot stays empty and its file goes: the rewrite the
    // first flag asked for, however late it runs, never marks it again.
    void slotLoop(Link& link, unsigned seed)
    {
        std::mt19937 rng(seed);
        const uint32_t marker = 16u << 12;
        const std::string file = app.hostPath("/data/modes/custom_mode16");
        auto write = [&](const std::string& what, const Bytes& payload, unsigned char command, Reply& r) {
            return timed(link, kWrite, what, kProcessor, command, payload, r) && r.status == 0;
        };
        for (int i = 0; i < 20 && running(); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        while (running() && !link.lost()) {
            Reply r;
            if (!write("write of slot 16's marker (saved)", ramWritePayload(marker, Bytes{0xAA, 0xAA}), 0x60, r) ||
                !write("flag register 2 after a slot saved", regWritePayload({{11, 0xFF, 2}}), 0xA0, r))
                continue;
            std::this_thread::sleep_for(std::chrono::milliseconds(rng() % 61));
            if (!write("write of slot 16's marker (empty)", ramWritePayload(marker, Bytes{0xFF, 0xFF}), 0x60, r) ||
                !write("flag register 2 after a slot emptied", regWritePayload({{11, 0xFF, 2}}), 0xA0, r))
                continue;
            ++counts.slotRounds;
            // The refresh the flag asked for runs in the program's own
            // time: the file is waited for, then the marker read.
            if (!waitFor([&] { return !QFile::exists(QString::fromStdString(file)) || !running(); },
                         5000 * kSlowdown)) {
                ++counts.slotFilesKept;
                std::printf("soak: %s slot 16 emptied, its file still there\n", stamp().c_str());
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(500));
            if (timed(link, kRead, "read of slot 16's marker", kProcessor, 0x61, ramReadPayload(marker, 2), r) &&
                r.status == 0 && r.data != Bytes({0xFF, 0xFF})) {
                ++counts.slotsRevived;
                std::printf("soak: %s slot 16 emptied, marked %s again\n", stamp().c_str(), hex(r.data).c_str());
            }
            for (int i = 0, n = 5 + static_cast<int>(rng() % 20); i < n && running(); ++i)
                std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
    }

    // Silent and late cards; a user-mode slot marked and emptied.
    void addCardAndSlotDrivers(std::vector<std::thread>& drivers)
    {
        drivers.emplace_back([this] { cardFaultLoop(800); });
        drivers.emplace_back([this] { fpgaSilenceLoop(850); });
        drivers.emplace_back([this] {
            UdpLink udp;
            if (udp.open("127.0.0.1", ports.udp))
                slotLoop(udp, 900);
        });
    }

    // A PC whose slider is dragged: 64 bytes of the block from the contrast
    // on, the contrast changed, then the flag register, ten times a second;
    // it goes on through the checks after the load, until sliderStop.
    void sliderLoop()
    {
        UdpLink udp;
        Reply r;
        if (!udp.open("127.0.0.1", ports.udp) ||
            !timed(udp, kRead, "read of the picture words", kProcessor, 0x61, ramReadPayload(2178, 64), r) ||
            r.data.size() != 64)
            return;
        Bytes bytes = r.data;
        for (unsigned k = 0; !sliderStop.load(); ++k) {
            const auto next = SteadyClock::now() + std::chrono::milliseconds(100);
            bytes[0] = static_cast<unsigned char>(k % 100);
            if (timed(udp, kWrite, "slider's write of the picture words", kProcessor, 0x60,
                      ramWritePayload(2178, bytes), r) &&
                timed(udp, kWrite, "slider's flag register", kProcessor, 0xA0, regWritePayload({{11, 0xFF, 1}}), r))
                ++counts.sliderStores;
            std::this_thread::sleep_until(next);
        }
    }

    // Now and then FPGA 0 or 1 falls silent for 0.2 to 2 s: it answers no
    // read and takes no write while the load goes on.
    void fpgaSilenceLoop(unsigned seed)
    {
        std::mt19937 rng(seed);
        auto pause = [&](int tenths) {
            for (int i = 0; i < tenths && running(); ++i)
                std::this_thread::sleep_for(std::chrono::milliseconds(100));
        };
        pause(50);
        while (running()) {
            const std::string fpga = std::to_string(rng() % 2);
            if (app.control("fpga-fault " + fpga + " dead") == "")
                ++counts.fpgasSilenced;
            std::this_thread::sleep_for(std::chrono::milliseconds(200 + rng() % 1801));
            app.control("fpga-fault " + fpga + " none");
            pause(100 + static_cast<int>(rng() % 100));
        }
    }

    // After the load: the FPGA thread is not stuck. Both FPGAs come up, an
    // LED request completes, and each FPGA holds what the PC reads of it
    // (black-out, outputs on, the brightness).
    void checkFpgasAnswerAgain()
    {
        auto up = [&] {
            const std::string s = app.control("fpga-status");
            return s.find("status 1") != std::string::npos && s.find("led-para 0 0") != std::string::npos;
        };
        if (!app.waitFor(up, 60000)) {
            ADD_FAILURE() << "the FPGAs did not come up after the load: " << app.control("fpga-status");
            for (const char* f : {"0", "1"}) {
                std::printf("fpga-info %s:\n%s\n", f, app.control(std::string("fpga-info ") + f).c_str());
                for (const char* r : {"0", "3", "22", "23", "31", "40"})
                    std::printf("  reg %s held %s image %s\n", r,
                                app.control(std::string("fpga-reg ") + f + " " + r).c_str(),
                                app.control(std::string("fpga-image ") + f + " " + r).c_str());
            }
            std::printf("c331-hold: %s\n", app.control("c331-hold").c_str());
            QFile log(QString::fromStdString(app.hostPath("/data/velmokq/log/prqEnglneLog")));
            if (log.open(QIODevice::ReadOnly))
                std::printf("program log (end):\n%s\n", log.readAll().right(6000).constData());
        }
        UdpLink udp;
        ASSERT_TRUE(udp.open("127.0.0.1", ports.udp));
        Reply r;
        // Two LED sizes in turn: at least one is a change.
        const Record& rec = records.record(0);
        for (size_t k = 0; k < 2 && k < rec.values.size(); ++k) {
            ASSERT_TRUE(udp.request(kProcessor, 0x60, ramWritePayload(rec.at, rec.values[k]), r, 10000));
            ASSERT_TRUE(udp.request(kProcessor, 0xA0, regWritePayload({{11, 0xFF, 1}}), r, 10000));
            app.waitFor([] { return false; }, 500);
            EXPECT_TRUE(app.waitFor(up, 60000)) << "an LED request did not complete: " << app.control("fpga-status");
        }
        app.waitFor([] { return false; }, 1000);
        for (unsigned char fpga = 0; fpga < 2; ++fpga) {
            ASSERT_TRUE(udp.request(kSendingCard, 0xA1, regReadPayload(0, 8), r, 10000, fpga));
            ASSERT_EQ(r.data.size(), 8u);
            for (unsigned reg : {0u, 6u}) {
                const std::string held = app.control("fpga-reg " + std::to_string(fpga) + " " + std::to_string(reg));
                EXPECT_EQ(std::stoul(held, nullptr, 16), r.data[reg])
                    << "FPGA " << int(fpga) << " register " << reg << ": the PC reads what it does not hold";
            }
            const std::string r3 = app.control("fpga-reg " + std::to_string(fpga) + " 3");
            EXPECT_EQ(std::stoul(r3, nullptr, 16) & 0x20, 0x20u) << "FPGA " << int(fpga) << " outputs off";
            EXPECT_EQ(r.data[3] & 0x20, 0x20) << "FPGA " << int(fpga) << " outputs off as the PC reads it";
        }
        std::printf("soak: %ld FPGA silences, %ld changes stored by the slider PC\n", counts.fpgasSilenced.load(),
                    counts.sliderStores.load());
        EXPECT_GT(counts.fpgasSilenced.load(), 0) << "no FPGA was made silent";
        EXPECT_GT(counts.sliderStores.load(), 0) << "the slider PC stored no change";
    }

    // What the card and slot drivers did, and whether they got their work
    // done.
    void checkCardAndSlotDrivers()
    {
        std::printf("soak: %ld cards made silent, %ld ports made late; slot 16 marked and emptied %ld times (%ld "
                    "marked again, %ld times its file kept)\n",
                    counts.cardsSilenced.load(), counts.cardDelays.load(), counts.slotRounds.load(),
                    counts.slotsRevived.load(), counts.slotFilesKept.load());
        EXPECT_GT(counts.cardsSilenced.load(), 0) << "no card was made silent";
        EXPECT_GT(counts.cardDelays.load(), 0) << "no port's cards were made late";
        EXPECT_GT(counts.slotRounds.load(), 0) << "slot 16 was never marked and emptied";
        EXPECT_EQ(counts.slotsRevived.load(), 0) << "a slot the PC emptied was marked saved again";
        EXPECT_EQ(counts.slotFilesKept.load(), 0) << "a slot the PC emptied kept its file";
    }

    // A command page of type 2 (an on/off table of no entries: the schedule
    // never acts on it) or 3 (a manual level of 8-bit levels, 0x40 up),
    // stored or only shown; the rest of its record is random, so that each
    // page is told from every other, and a record mixed of two from both.
    static Bytes commandPage(unsigned char type, bool store, std::mt19937& rng)
    {
        Bytes p(64);
        for (auto& b : p)
            b = static_cast<unsigned char>(rng());
        p[0] = 0xAA;
        p[1] = type;
        p[2] = store ? 0xAA : 0x00;
        p[3] = p[4] = p[5] = 0;
        p[6] = type == 2 ? 17 : 49;
        p[7] = 0;
        if (type == 2) {
            p[8] = 0;
        } else {
            p[8] = 0x10;
            p[9] = static_cast<unsigned char>(0x40 + rng() % 0xC0);
            p[10] = static_cast<unsigned char>(p[9] ^ 0x5A);   // never the device's own record
        }
        return p;
    }

    // One PC on the command page: the storer stores on/off tables and
    // manual levels in turn, each written whole in one RAM write and then
    // strobed (register 2 bit 2); the other writes pages only shown, of
    // both types, over the same bytes, strobing every third.
    void commandPageLoop(Link& link, bool storer, unsigned seed)
    {
        std::mt19937 rng(seed);
        for (unsigned n = 0; running() && !link.lost(); ++n) {
            Reply r;
            const Bytes page = commandPage(static_cast<unsigned char>(2 + n % 2), storer, rng);
            if (storer)
                cmdPages.asked(page);
            if (!timed(link, kWrite, storer ? "command page to store" : "command page to show", kSendingCard, 0x60,
                       ramWritePayload(0x10000, page), r))
                continue;
            if (!storer)
                ++counts.cmdPagesShown;
            if (storer || n % 3 == 2) {
                // Status 3 when FPGA 0 is silent at that moment; the page
                // runs all the same.
                if (timed(link, kWrite, "command page strobe", kSendingCard, 0xA0, regWritePayload({{2, 0x04, 0x04}}),
                          r)) {
                    ++(storer ? counts.cmdPagesStored : counts.cmdPageStrobes);
                }
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(storer ? 30 : 5));
        }
    }

    // A flash record as it stands (read until two reads agree: the device
    // may be storing one again).
    std::string flashRecord(uint32_t at, unsigned size)
    {
        const std::string command = "flash-read 2 " + std::to_string(at) + " " + std::to_string(size);
        std::string last = app.control(command);
        for (int k = 0; k < 20; ++k) {
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            const std::string now = app.control(command);
            if (now == last)
                break;
            last = now;
        }
        return last;
    }

    void checkCommandPage()
    {
        std::printf("soak: command page: %ld stored, %ld only shown (%ld strobed)\n", counts.cmdPagesStored.load(),
                    counts.cmdPagesShown.load(), counts.cmdPageStrobes.load());
        EXPECT_GT(counts.cmdPagesStored.load(), 0) << "no command page was stored";
        EXPECT_GT(counts.cmdPageStrobes.load(), 0) << "no command page was only shown";
        const std::string onOff = flashRecord(CommandPageBook::kOnOffAt, CommandPageBook::kOnOffSize);
        const std::string bright = flashRecord(CommandPageBook::kBrightAt, CommandPageBook::kBrightSize);
        EXPECT_TRUE(cmdPages.onOffAsked(onOff)) << "an on/off record nobody stored: " << onOff;
        EXPECT_TRUE(cmdPages.brightAsked(bright)) << "a brightness record nobody stored: " << bright;
    }

    void sourceLoop(unsigned seed)
    {
        std::mt19937 rng(seed);
        const char* const shapes[4] = {"1920 1080 60", "1280 720 60", "3840 2160 30", "none"};
        while (running()) {
            app.control("source " + std::to_string(rng() % 6) + " " + shapes[rng() % 4]);
            ++counts.sources;
            std::this_thread::sleep_for(std::chrono::milliseconds(150));
        }
    }

    AppRunner app;
    Ports ports;
    int seconds = 60;
    std::atomic<bool> stop{false};
    std::atomic<bool> sliderStop{false};
    std::atomic<bool> checkStarted{false};
    Counts counts;
    AddressBook book;
    RecordBook records;
    LateBook late;
    CommandPageBook cmdPages;
};

TEST_F(Soak, EveryTransportAtOnce)
{
    // Cards behind FPGA 0 port 2 and port 4 (pass-throughs go to port 5,
    // 1-based), with a card-parameter file for the check.
    EXPECT_EQ(app.control("cards 3 3"), "");
    EXPECT_EQ(app.control("cards 5 3"), "");
    {
        const std::string bytes = testfiles::threeCardFile();
        QDir().mkpath(QString::fromStdString(app.hostPath("/data/rcvrecovery")));
        QFile f(QString::fromStdString(app.hostPath("/data/rcvrecovery/KQFX")));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(bytes.data(), static_cast<qint64>(bytes.size()));
    }
    waitFor([&] { return app.control("fpga-status").find("status 1") != std::string::npos; }, 60000);
    // The records as the board starts: a whole value too.
    {
        UdpLink udp;
        ASSERT_TRUE(udp.open("127.0.0.1", ports.udp));
        for (size_t i = 0; i < records.count(); ++i) {
            Reply r;
            ASSERT_TRUE(udp.request(kProcessor, 0x61, ramReadPayload(records.record(i).at, records.size(i)), r, 10000));
            ASSERT_EQ(r.status, 0);
            records.allow(i, r.data);
        }
    }

    std::thread slider([this] { sliderLoop(); });
    std::vector<std::thread> drivers;
    // The taps first: under load (and under a sanitizer) the pages answer
    // slowly, and the first card check is to run while the load comes on.
    drivers.emplace_back([this] { tapLoop(); });
    app.waitFor([&] { return checkStarted.load(); }, 120000);
    // Two UDP and two TCP PCs; one of each also sets the network.
    for (unsigned i = 0; i < 2; ++i) {
        drivers.emplace_back([this, i] {
            UdpLink udp;
            if (!udp.open("127.0.0.1", ports.udp))
                return;
            for (unsigned round = 0; running(); ++round)
                pcLoop(udp, 100 + i + 10 * round, i == 0, "UDP");
        });
        drivers.emplace_back([this, i] {
            for (unsigned round = 0; running(); ++round) {
                TcpLink tcp;
                if (!tcp.open("127.0.0.1", ports.tcp)) {
                    std::this_thread::sleep_for(std::chrono::milliseconds(100));
                    continue;
                }
                pcLoop(tcp, 200 + i + 10 * round, i == 0, "TCP");
            }
        });
    }
    // Two device-information PCs over UDP.
    for (unsigned i = 0; i < 2; ++i) {
        drivers.emplace_back([this] {
            UdpLink udp;
            if (!udp.open("127.0.0.1", ports.udp))
                return;
            Reply r;
            while (running())
                deviceInfo(udp, r);
        });
    }
    // Two tools on the WiFi AT channel.
    for (unsigned i = 0; i < 2; ++i)
        drivers.emplace_back([this, i] { atLoop(300 + i); });
    // The RS-485 link.
    drivers.emplace_back([this] {
        SerialLink rs485;
        if (!rs485.open(app.hostPath("/dev/ttyS2")))
            return;
        for (unsigned round = 0; running(); ++round)
            pcLoop(rs485, 400 + round, false, "RS-485");
    });
    // Pass-throughs over UDP and TCP, to a present and an absent card.
    drivers.emplace_back([this] {
        UdpLink udp;
        if (!udp.open("127.0.0.1", ports.udp))
            return;
        // Spaced out: a link serves one request at a time, and a card that
        // does not answer holds it for the pass-through's bound.
        for (unsigned n = 0; running(); ++n) {
            passThrough(udp, n % 8 != 7);
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
        }
    });
    drivers.emplace_back([this] {
        while (running()) {
            TcpLink tcp;
            if (!tcp.open("127.0.0.1", ports.tcp)) {
                std::this_thread::sleep_for(std::chrono::milliseconds(100));
                continue;
            }
            for (unsigned n = 0; running() && n < 50 && !tcp.lost(); ++n) {
                passThrough(tcp, n % 8 != 7);
                std::this_thread::sleep_for(std::chrono::milliseconds(300));
            }
        }
    });
    // The sending card's registers beside them, over UDP and TCP.
    drivers.emplace_back([this] {
        UdpLink udp;
        if (udp.open("127.0.0.1", ports.udp))
            cardRegisterLoop(udp);
    });
    drivers.emplace_back([this] {
        while (running()) {
            TcpLink tcp;
            if (tcp.open("127.0.0.1", ports.tcp))
                cardRegisterLoop(tcp);
            else
                std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
    });
    // An LED size now and then, a held chip write now and then.
    drivers.emplace_back([this] {
        UdpLink udp;
        if (udp.open("127.0.0.1", ports.udp))
            ledSizeLoop(udp, 600);
    });
    drivers.emplace_back([this] { holdLoop(); });
    // TCP connections that come and go.
    drivers.emplace_back([this] { churnLoop(700); });
    drivers.emplace_back([this] { silentLoop(); });
    drivers.emplace_back([this] { sourceLoop(500); });
    addCardAndSlotDrivers(drivers);
    // Two PCs on the command page at once, over UDP and TCP.
    cmdPages.before(flashRecord(CommandPageBook::kOnOffAt, CommandPageBook::kOnOffSize),
                    flashRecord(CommandPageBook::kBrightAt, CommandPageBook::kBrightSize));
    drivers.emplace_back([this] {
        UdpLink udp;
        if (udp.open("127.0.0.1", ports.udp))
            commandPageLoop(udp, true, 1000);
    });
    drivers.emplace_back([this] {
        for (unsigned round = 0; running(); ++round) {
            TcpLink tcp;
            if (tcp.open("127.0.0.1", ports.tcp))
                commandPageLoop(tcp, false, 1100 + round);
            else
                std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
    });

    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    bool alive = true;
    while (std::chrono::steady_clock::now() < until) {
        // The program's console output is drained meanwhile, so that it
        // never blocks on a full pipe.
        if (!app.waitFor([] { return false; }, 200) && !app.running()) {
            alive = false;
            break;
        }
    }
    stop = true;
    // The drivers finish what they were doing (a card check may take a
    // while): the console is drained meanwhile, as in every wait below.
    std::atomic<bool> joined{false};
    std::thread joiner([&] {
        for (auto& t : drivers)
            t.join();
        joined = true;
    });
    app.waitFor([&] { return joined.load(); }, 600000);
    joiner.join();
    alive = alive && app.running();

    std::printf("soak: %d s, %ld requests (%ld answered), %ld set-network, %ld device information, %ld AT "
                "commands, %ld pass-throughs (%ld to the card that answers, %ld answered), %ld taps, %ld card checks, %ld source changes\n",
                seconds, counts.requests.load(), counts.answered.load(), counts.setNetwork.load(),
                counts.deviceInfo.load(), counts.atCommands.load(), counts.passThroughs.load(),
                counts.passThroughsToCards.load(), counts.passThroughsAnswered.load(), counts.taps.load(),
                counts.cardChecks.load(), counts.sources.load());
    std::printf("soak: %ld record reads, %ld record writes, %ld LED size changes, %ld sending card register reads "
                "(%ld answered, %ld during an FPGA bring-up, %ld not status 0), %ld chip holds armed (%ld taken)\n",
                counts.recordReads.load(), counts.recordWrites.load(), counts.ledSizes.load(), counts.cardReads.load(),
                counts.cardReadsAnswered.load(), counts.cardReadsBringUp.load(), counts.cardReadsRefused.load(),
                counts.holdsArmed.load(), counts.holdsTaken.load());
    std::printf("soak: TCP churn: %ld connections ended with a FIN (%ld with every reply), %ld reset, %ld never read "
                "(%ld let go by the program, after %ld ms at most; %ld still held); %ld connections of PCs that read "
                "closed by the program\n",
                counts.finConnections.load(), counts.finAnswered.load(), counts.resetConnections.load(),
                counts.silentConnections.load(), counts.silentLetGo.load(), counts.silentLetGoMaxMs.load(),
                counts.silentHeld.load(), counts.linksLost.load());
    std::printf("soak: bounds (ms, over UDP and RS-485 / TCP): read %d / %d, write %d / %d, pass-through %d / %d; "
                "slowest answer in bound %ld ms (%s); %ld late, %ld missing\n",
                boundMs(kRead, false), boundMs(kRead, true), boundMs(kWrite, false), boundMs(kWrite, true),
                boundMs(kPassThrough, false), boundMs(kPassThrough, true), late.worstOnTime(),
                late.worstOnTimeWhat().c_str(), late.lateCount(), late.noneCount());
    for (const std::string& w : late.worst())
        std::printf("soak: late: %s\n", w.c_str());
    for (const std::string& m : records.mixed())
        std::printf("soak: mixed: %s\n", m.c_str());
    EXPECT_TRUE(alive) << "the program died:\n" << app.output().toStdString();
    // Every driver did its work: a soak in which one of them never got
    // through proves nothing of it.
    EXPECT_GT(counts.answered.load(), 0);
    EXPECT_GT(counts.setNetwork.load(), 0);
    EXPECT_GT(counts.deviceInfo.load(), 0);
    EXPECT_GT(counts.atCommands.load(), 0);
    EXPECT_GT(counts.passThroughs.load(), 0);
    // A pass-through counts once the card's answer came back; the card
    // answers every one sent to it, and only a reply lost under load (a
    // sanitizer's slowness) or to an FPGA's reset after an LED size change
    // may go missing: most must come back (those that went while FPGA 0 was
    // silent or coming up again after it are not counted).
    EXPECT_GT(counts.passThroughsAnswered.load(), 0) << "no pass-through was answered";
    EXPECT_GE(2 * counts.passThroughsAnswered.load(), counts.passThroughsToCards.load())
        << "fewer than half of the pass-throughs to the card that answers were answered";
    EXPECT_GT(counts.recordReads.load(), 0);
    EXPECT_GT(counts.ledSizes.load(), 0) << "no LED size change was made";
    EXPECT_GT(counts.cardReadsAnswered.load(), 0) << "no read of the sending card's registers was answered";
    EXPECT_GT(counts.holdsTaken.load(), 0) << "no chip write was held";
    EXPECT_EQ(counts.cardReadsRefused.load(), 0) << "the sending card refused reads of its registers";
    EXPECT_GT(counts.finAnswered.load(), 0) << "no connection ended with a FIN got every reply";
    EXPECT_GT(counts.resetConnections.load(), 0);
    EXPECT_GT(counts.silentConnections.load(), 0);
    EXPECT_GT(counts.cardChecks.load(), 0) << "no card check was posted";
    EXPECT_GT(counts.sources.load(), 0);
    checkCardAndSlotDrivers();
    checkCommandPage();
    const unsigned long ticksBefore = std::stoul(app.control("ticks"));
    const auto checksBegin = SteadyClock::now();
    checkFpgasAnswerAgain();
    // The 10 ms tick kept time while the slider PC stored its changes.
    const unsigned long ticks = std::stoul(app.control("ticks")) - ticksBefore;
    const long checksMs = msSince(checksBegin);
    sliderStop = true;
    slider.join();
    std::printf("soak: %lu ticks in the %ld ms of the checks after the load\n", ticks, checksMs);
    EXPECT_GE(ticks * 10 * 2, static_cast<unsigned long>(checksMs)) << "the tick fell behind the time";
    EXPECT_EQ(records.mixedCount(), 0) << "a record read back mixed from two writes, e.g. "
                                       << (records.mixed().empty() ? std::string() : records.mixed().front());
    EXPECT_EQ(counts.linksLost.load(), 0) << "the program closed the connection of a PC that reads its replies";
    EXPECT_EQ(late.lateCount() + late.noneCount(), 0)
        << "answers came after their bound or never, e.g. "
        << (late.worst().empty() ? std::string() : late.worst().front());
    EXPECT_EQ(book.badCount(), 0) << "device information reported addresses nobody set, e.g. "
                                  << (book.bad().empty() ? std::string() : book.bad().front());
    for (const std::string& b : book.bad())
        std::printf("soak: reported %s\n", b.c_str());
    // The runner fails the test on any sanitizer report of the program.
    app.stop();
}

// The pass-through line's randomized round (see passthrough_oracle.h) in
// the soak's process, with a seed of its own each run: printed at the
// start, and with every failure; ZDR_PASSTHROUGH_SEED in the unit test
// runs it again. Longer soaks send more requests.
TEST_F(PassThroughLineTest, ARandomRoundWithARandomSeed)
{
    int seconds = 60;
    if (const char* s = std::getenv("ZDR_SOAK_SECONDS"))
        seconds = std::max(1, std::atoi(s));
    const uint64_t seed = (static_cast<uint64_t>(std::random_device()()) << 32) | std::random_device()();
    std::printf("soak: pass-through round, seed %llu\n", static_cast<unsigned long long>(seed));
    std::fflush(stdout);
    runRandomRound(seed, std::min(40, std::max(5, seconds / 10)), 10.0 / kSlowdown);
}

} // namespace
