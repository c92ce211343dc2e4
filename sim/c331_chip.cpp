#include "sim/c331_chip.h"

#include "sim/control_channel.h"
#include "sim/phys_mem.h"
#include "sim/sim_clock.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

namespace sim {
namespace {

// Registers that model hardware.
constexpr uint8_t kSyncBank = 0x05;
constexpr uint8_t kInputSyncLatch = 0x08;
constexpr uint8_t kOutputSyncLatch = 0x09;
constexpr uint8_t kInputSyncStatus = 0x22;
constexpr uint8_t kOutputSyncStatus = 0x23;
constexpr uint8_t kFieldBank = 0xAB;
constexpr uint8_t kFieldFirst = 0x47;     // 16 field status registers
constexpr uint8_t kVboLockBank = 0xB2;
constexpr uint8_t kVboLockAddr = 0x63;
constexpr uint8_t kVboLocked = 0xA0;      // both receivers locked (bits 5 and 7)
constexpr uint8_t kIchStatusBank = 0xA8;
constexpr uint8_t kIchStatusAddr = 0x3F;  // + 5 x channel
constexpr uint8_t kNoInput = 0xFF;
constexpr uint8_t kFieldSizeAddr = 0x08;  // + 6 x channel: width - 1, lines - 1
constexpr uint8_t kFlashBank = 0x04;

bool ichStatus(uint8_t bank, uint8_t addr)
{
    return bank == kIchStatusBank && addr >= kIchStatusAddr && (addr - kIchStatusAddr) % 5 == 0 &&
           (addr - kIchStatusAddr) / 5 < 8;
}

std::string hex(unsigned long v, int digits)
{
    char buf[24];
    std::snprintf(buf, sizeof(buf), "0x%0*lX", digits < 0 ? 0 : (digits > 16 ? 16 : digits), v);
    return buf;
}

} // namespace

C331ChipModel::C331ChipModel(PhysMemModel* mem)
    : mem_(mem)
{
    powerOn();
}

void C331ChipModel::powerOn()
{
    std::memset(regs_, 0, sizeof(regs_));
    regs_[kIdentityBank][kIdentityAddr] = kIdentity;
    regs_[kVboLockBank][kVboLockAddr] = kVboLocked;
    for (int ch = 0; ch < 8; ++ch)
        regs_[kIchStatusBank][kIchStatusAddr + 5 * ch] = kNoInput;
    bank_ = 0;
    applySourcesLocked();
}

namespace {

// Chip port of each input (the table is its own inverse).
const int kPortOfInput[6] = {3, 2, 1, 0, 5, 4};

void putCount(uint8_t (&regs)[256][128], uint8_t bank, unsigned addr, unsigned bytes, uint32_t value)
{
    for (unsigned i = 0; i < bytes; ++i)
        regs[bank][(addr + i) & 0x7F] = static_cast<uint8_t>(value >> (8 * i));
}

} // namespace

void C331ChipModel::applySourcesLocked()
{
    // The register map overlaps in places (a V-by-One receiver's lane
    // counts share addresses with other ports' counts): every port first
    // reads "no input", then the present sources write their counts, so
    // that an absent source never hides a present one.
    for (int pass = 0; pass < 2; ++pass) {
        for (int port = 0; port < 6; ++port) {
            const VideoSource& s = sources_[kPortOfInput[port]];
            const bool on = s.present && s.width > 0 && s.height > 0 && s.hz > 0;
            if (pass == 1 && !on)
                continue;
            const bool live = pass == 1;
            const uint32_t h = live ? static_cast<uint32_t>(s.width - 1) : 0xFFFF;
            const uint32_t h2 = live ? static_cast<uint32_t>(s.width) : 0xFFFF;
            const uint32_t v = live ? static_cast<uint32_t>(s.height - 1) : 0xFFFF;
            const uint32_t f = live ? static_cast<uint32_t>(200000000 / s.hz - 1) & 0xFFFFFF : 0xFFFFFF;
            const unsigned p = static_cast<unsigned>(port);
            const bool vbo = port >= 4;
            const unsigned q = vbo ? p - 4 : 0;
            if (vbo) {
                for (unsigned i = 0; i < 4; ++i) {
                    putCount(regs_, 0xAE, 0x3E + 2 * i + 8 * q, 2, h);
                    putCount(regs_, 0xAE, 0x5C + 3 * i + 12 * q, 3, f);
                }
            }
            putCount(regs_, 0xAE, vbo ? 0x10 + 8 * q : 0x08 + 2 * p, 2, h);
            putCount(regs_, 0xAE, vbo ? 0x28 + 8 * q : 0x20 + 2 * p, 2, h2);
            putCount(regs_, 0xAE, vbo ? 0x40 + 8 * q : 0x38 + 2 * p, 2, v);
            putCount(regs_, 0xAE, vbo ? 0x5C + 12 * q : 0x50 + 3 * p, 3, f);
            putCount(regs_, 0xAF, vbo ? 0x10 + 8 * q : 0x08 + 2 * p, 2, 0);
        }
    }
}

void C331ChipModel::setSource(int input, const VideoSource& source)
{
    if (input < 0 || input > 5)
        return;
    std::lock_guard<std::mutex> lock(mutex_);
    sources_[input] = source;
    applySourcesLocked();
}

C331ChipModel::VideoSource C331ChipModel::source(int input) const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return input >= 0 && input <= 5 ? sources_[input] : VideoSource{};
}

bool C331ChipModel::listening() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return !silent_;
}

// The source an input channel takes: its source selection (0x001001 +
// 0x100 x channel) names a port (codes 0..7: port code / 2; 8..11 the first
// V-by-One receiver's port 4, 12..15 port 5); null when that port's source
// is absent.
const C331ChipModel::VideoSource* C331ChipModel::channelSourceLocked(unsigned ch) const
{
    const unsigned code = regs_[0x00][(0x10 + ch) & 0x7F];
    const unsigned port = code < 8 ? code / 2 : (code < 12 ? 4 : (code < 16 ? 5 : 99));
    if (port > 5)
        return nullptr;
    const VideoSource& s = sources_[kPortOfInput[port]];
    return s.present && s.width > 0 && s.height > 0 && s.hz > 0 ? &s : nullptr;
}

uint8_t C331ChipModel::readLocked(uint8_t bank, uint8_t addr) const
{
    const uint64_t frame = SimClock::instance().nowUs() / frameUs_;
    // An input channel's status: 0xFF while its source is absent; and the
    // field size it measures (width - 1 and lines - 1, 2 bytes each).
    if (ichStatus(bank, addr))
        return channelSourceLocked(static_cast<unsigned>(addr - kIchStatusAddr) / 5) ? 0x00 : kNoInput;
    if (bank == kIchStatusBank && addr >= kFieldSizeAddr && addr < kFieldSizeAddr + 6 * 8) {
        const unsigned ch = static_cast<unsigned>(addr - kFieldSizeAddr) / 6;
        const unsigned at = static_cast<unsigned>(addr - kFieldSizeAddr) % 6;
        const VideoSource* s = channelSourceLocked(ch);
        if (!s || at >= 4)
            return regs_[bank][addr];
        const unsigned v = static_cast<unsigned>((at < 2 ? s->width : s->height) - 1);
        return static_cast<uint8_t>(at % 2 ? v >> 8 : v);
    }
    // The requested syncs come with the next frame after the latch.
    if (bank == kSyncBank && addr == kInputSyncStatus)
        return syncStuck_ || frame <= inputLatchAt_ / frameUs_ ? 0 : regs_[kSyncBank][kInputSyncLatch];
    if (bank == kSyncBank && addr == kOutputSyncStatus)
        return syncStuck_ || frame <= outputLatchAt_ / frameUs_ ? 0 : regs_[kSyncBank][kOutputSyncLatch];
    if (bank == kFieldBank && addr >= kFieldFirst && addr < kFieldFirst + 16) {
        // Every channel runs in the same field phase, which counts the
        // frames: input bits 2-3, output bits 0-1.
        const uint8_t phase = static_cast<uint8_t>(frame & 3);
        return static_cast<uint8_t>((regs_[kFieldBank][addr] & 0xF0) | (phase << 2) | phase);
    }
    if ((addr & 0x7F) == 0)
        return bank_;     // the bank register
    return regs_[bank][addr & 0x7F];
}

void C331ChipModel::writeLocked(uint8_t bank, uint8_t addr, uint8_t value)
{
    addr &= 0x7F;
    if ((bank == kIdentityBank && addr == kIdentityAddr) || (bank == kVboLockBank && addr == kVboLockAddr) ||
        ichStatus(bank, addr))
        return;   // read-only
    if (bank == kSyncBank && addr == kInputSyncLatch && value)
        inputLatchAt_ = SimClock::instance().nowUs();
    if (bank == kSyncBank && addr == kOutputSyncLatch && value)
        outputLatchAt_ = SimClock::instance().nowUs();
    regs_[bank][addr] = value;
}

void C331ChipModel::transfer(const uint8_t* tx, uint8_t* rx, uint32_t len, uint32_t speedHz)
{
    Frame f{};
    unsigned holdMs = 0;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        f.bank = bank_;
        f.b0 = len > 0 ? tx[0] : 0;
        f.b1 = len > 1 ? tx[1] : 0;
        f.speedHz = speedHz;
        f.selectsHigh = mem_ ? (mem_->padHigh(kFpga0SelectPad) && mem_->padHigh(kFpga1SelectPad)) : true;
        uint8_t answer = 0xFF;
        if (len >= 2) {
            if (f.write()) {
                if (f.addr() == 0)
                    bank_ = f.b1;
                else
                    writeLocked(bank_, f.addr(), f.b1);
                if (bank_ == kFlashBank && f.addr() != 0)
                    flash_.written(regs_, f.addr(), f.b1);
                if (f.addr() != 0 && (bank_ == C331OsdEngine::kBank || bank_ == C331OsdEngine::kColourBank))
                    osd_.written(regs_, bank_, f.addr(), f.b1, flash_.memory(), flash_.glyphMemory(),
                                 flash_.colourTable());
            } else if (!osd_.read(bank_, f.addr(), answer) &&
                       (bank_ != kFlashBank || !flash_.read(regs_, f.addr(), answer))) {
                answer = readLocked(bank_, f.addr());
            }
        }
        f.answer = f.write() ? 0xFF : answer;
        if (rx) {
            for (uint32_t i = 0; i < len; ++i)
                rx[i] = 0xFF;
            if (len >= 2 && !f.write())
                rx[1] = answer;
        }
        ++count_;
        log_.push_back(f);
        while (log_.size() > capacity_)
            log_.pop_front();
        if (watching_ && len >= 2 && f.write() && f.addr() != 0 && f.bank == watchBank_ && f.addr() == watchAddr_) {
            watched_.push_back(Write{f.b1, SimClock::instance().nowUs()});
            while (watched_.size() > 4096)
                watched_.pop_front();
        }
        if (hold_ == Hold::Armed && len >= 2 && f.write() && f.addr() != 0 && f.bank == holdBank_ &&
            f.addr() == holdAddr_) {
            hold_ = Hold::Holding;
            holdMs = holdMs_;
        }
    }
    if (holdMs) {
        // The bus stays busy; the model itself answers its back doors.
        std::this_thread::sleep_for(std::chrono::milliseconds(holdMs));
        std::lock_guard<std::mutex> lock(mutex_);
        hold_ = Hold::Done;
    }
}

void C331ChipModel::armHold(uint8_t bank, uint8_t addr, unsigned ms)
{
    std::lock_guard<std::mutex> lock(mutex_);
    holdBank_ = bank;
    holdAddr_ = static_cast<uint8_t>(addr & 0x7F);
    holdMs_ = ms;
    hold_ = ms ? Hold::Armed : Hold::Off;
}

void C331ChipModel::watch(uint8_t bank, uint8_t addr)
{
    std::lock_guard<std::mutex> lock(mutex_);
    watching_ = true;
    watchBank_ = bank;
    watchAddr_ = static_cast<uint8_t>(addr & 0x7F);
    watched_.clear();
}

std::vector<C331ChipModel::Write> C331ChipModel::watched() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return std::vector<Write>(watched_.begin(), watched_.end());
}

void C331ChipModel::setFrameRate(unsigned hz)
{
    std::lock_guard<std::mutex> lock(mutex_);
    frameUs_ = 1000000 / (hz ? std::min(hz, 1000u) : 60u);
}

uint64_t C331ChipModel::frameUs() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return frameUs_;
}

uint64_t C331ChipModel::frame() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return SimClock::instance().nowUs() / frameUs_;
}

std::string C331ChipModel::holdState() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    switch (hold_) {
    case Hold::Armed: return "armed";
    case Hold::Holding: return "holding";
    case Hold::Done: return "done";
    default: return "off";
    }
}

uint32_t C331ChipModel::reg(uint32_t desc, uint32_t bankOffset) const
{
    std::lock_guard<std::mutex> lock(mutex_);
    const uint8_t bank = static_cast<uint8_t>(((desc >> 16) & 0xFF) + bankOffset);
    const unsigned addr = (desc >> 8) & 0xFF;
    const unsigned count = desc & 0xFF;
    uint32_t v = 0;
    for (unsigned i = 0; i < count && i < 4; ++i)
        v |= static_cast<uint32_t>(readLocked(bank, static_cast<uint8_t>((addr + i) & 0x7F))) << (8 * i);
    return v;
}

uint8_t C331ChipModel::byte(uint8_t bank, uint8_t addr) const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return readLocked(bank, static_cast<uint8_t>(addr & 0x7F));
}

void C331ChipModel::setReg(uint32_t desc, uint32_t value, uint32_t bankOffset)
{
    std::lock_guard<std::mutex> lock(mutex_);
    const uint8_t bank = static_cast<uint8_t>(((desc >> 16) & 0xFF) + bankOffset);
    const unsigned addr = (desc >> 8) & 0xFF;
    for (unsigned i = 0; i < (desc & 0xFF) && i < 4; ++i)
        regs_[bank][(addr + i) & 0x7F] = static_cast<uint8_t>(value >> (8 * i));
}

uint8_t C331ChipModel::selectedBank() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return bank_;
}

std::vector<C331ChipModel::Frame> C331ChipModel::frames() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return std::vector<Frame>(log_.begin(), log_.end());
}

void C331ChipModel::clearFrames()
{
    std::lock_guard<std::mutex> lock(mutex_);
    log_.clear();
}

void C331ChipModel::setLogCapacity(size_t frames)
{
    std::lock_guard<std::mutex> lock(mutex_);
    capacity_ = frames ? frames : 1;
    while (log_.size() > capacity_)
        log_.pop_front();
}

uint64_t C331ChipModel::frameCount() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return count_;
}

void C331ChipModel::setSilent(bool silent)
{
    std::lock_guard<std::mutex> lock(mutex_);
    silent_ = silent;
}

void C331ChipModel::setSyncStuck(bool stuck)
{
    std::lock_guard<std::mutex> lock(mutex_);
    syncStuck_ = stuck;
}

bool C331ChipModel::silent() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return silent_;
}

void C331ChipModel::setFlashFile(const std::string& file)
{
    std::lock_guard<std::mutex> lock(mutex_);
    flash_.setFile(file);
}

std::vector<uint8_t> C331ChipModel::flashRead(uint32_t address, uint32_t length)
{
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<uint8_t> out(length, 0xFF);
    out.resize(flash_.flash().read(address, out.data(), length));
    return out;
}

void C331ChipModel::flashWrite(uint32_t address, const std::vector<uint8_t>& bytes)
{
    std::lock_guard<std::mutex> lock(mutex_);
    flash_.flash().write(address, bytes.data(), static_cast<uint32_t>(bytes.size()));
}

void C331ChipModel::flashErase(uint32_t address, uint32_t length)
{
    std::lock_guard<std::mutex> lock(mutex_);
    flash_.flash().fill(address, length, 0xFF);
}

std::vector<uint8_t> C331ChipModel::memoryRead(uint32_t address, uint32_t length)
{
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<uint8_t> out(length, 0xFF);
    out.resize(flash_.memory().read(address, out.data(), length));
    return out;
}

std::vector<uint8_t> C331ChipModel::glyphMemory()
{
    std::lock_guard<std::mutex> lock(mutex_);
    return flash_.glyphMemory();
}

std::vector<uint8_t> C331ChipModel::colourTable()
{
    std::lock_guard<std::mutex> lock(mutex_);
    return flash_.colourTable();
}

std::vector<C331FlashController::Op> C331ChipModel::flashOps()
{
    std::lock_guard<std::mutex> lock(mutex_);
    return flash_.ops();
}

void C331ChipModel::clearFlashOps()
{
    std::lock_guard<std::mutex> lock(mutex_);
    flash_.clearOps();
}

void C331ChipModel::setFlashStuck(bool stuck)
{
    std::lock_guard<std::mutex> lock(mutex_);
    flash_.stuck = stuck;
}

void C331ChipModel::setFlashWelLeft(bool left)
{
    std::lock_guard<std::mutex> lock(mutex_);
    flash_.welLeft = left;
}

std::vector<C331OsdEngine::Op> C331ChipModel::osdOps()
{
    std::lock_guard<std::mutex> lock(mutex_);
    return osd_.ops();
}

void C331ChipModel::clearOsdOps()
{
    std::lock_guard<std::mutex> lock(mutex_);
    osd_.clearOps();
}

void C331ChipModel::setOsdStuck(bool stuck)
{
    std::lock_guard<std::mutex> lock(mutex_);
    osd_.stuck = stuck;
}

void C331ChipModel::registerCommands(ControlChannel& control)
{
    using Args = std::vector<std::string>;
    control.add("c331-flash-read", "<address hex> <length hex, up to 0x1000>: bytes of the c331 serial flash",
                [this](const Args& args, std::string& reply) {
                    unsigned long long address = 0, length = 0;
                    ArgReader a(args);
                    if (!a.count(2, 2) || !a.number(0, "address", 0, C331FlashController::kFlashSize - 1, address, 16) ||
                        !a.number(1, "length", 0, 0x1000, length, 16))
                        return a.refuse("c331-flash-read <address hex> <length hex, up to 0x1000>", reply);
                    for (uint8_t b : flashRead(static_cast<uint32_t>(address), static_cast<uint32_t>(length))) {
                        char two[3];
                        std::snprintf(two, sizeof(two), "%02X", b);
                        reply += two;
                    }
                    return true;
                });
    control.add("c331-flash-erase", "<address hex> <length hex>: erases bytes of the c331 serial flash (back door)",
                [this](const Args& args, std::string& reply) {
                    unsigned long long address = 0, length = 0;
                    ArgReader a(args);
                    if (!a.count(2, 2) || !a.number(0, "address", 0, C331FlashController::kFlashSize - 1, address, 16) ||
                        !a.number(1, "length", 0, C331FlashController::kFlashSize, length, 16))
                        return a.refuse("c331-flash-erase <address hex> <length hex>", reply);
                    flashErase(static_cast<uint32_t>(address), static_cast<uint32_t>(length));
                    return true;
                });
    control.add("c331-reg", "<desc hex 0xBBAANN> [bank offset]: a c331 register as the chip holds it",
                [this](const Args& args, std::string& reply) {
                    unsigned long long desc = 0, off = 0;
                    ArgReader a(args);
                    if (!a.count(1, 2) || !a.number(0, "desc", 0, 0xFFFFFF, desc, 16) ||
                        (((desc & 0xFF) < 1 || (desc & 0xFF) > 4) && !a.fail(0, "desc", "does not end in 1..4 bytes")) ||
                        (args.size() == 2 && !a.number(1, "bank offset", 0, 0xFF, off, 16)))
                        return a.refuse("c331-reg <desc hex 0xBBAANN, 1..4 bytes> [bank offset hex]", reply);
                    reply = hex(reg(static_cast<uint32_t>(desc), static_cast<uint32_t>(off)),
                                2 * static_cast<int>(desc & 0xFF));
                    return true;
                });
    control.add("c331-set", "<desc hex> <value hex> [bank offset]: sets a c331 register (back door)",
                [this](const Args& args, std::string& reply) {
                    unsigned long long desc = 0, value = 0, off = 0;
                    ArgReader a(args);
                    if (!a.count(2, 3) || !a.number(0, "desc", 0, 0xFFFFFF, desc, 16) ||
                        !a.number(1, "value", 0, 0xFFFFFFFF, value, 16) ||
                        (args.size() == 3 && !a.number(2, "bank offset", 0, 0xFF, off, 16)))
                        return a.refuse("c331-set <desc hex> <value hex> [bank offset hex]", reply);
                    setReg(static_cast<uint32_t>(desc), static_cast<uint32_t>(value), static_cast<uint32_t>(off));
                    return true;
                });
    control.add("c331-dump", "<bank hex>: the 128 registers of a c331 bank", [this](const Args& args, std::string& reply) {
        unsigned long long bank = 0;
        ArgReader a(args);
        if (!a.count(1, 1) || !a.number(0, "bank", 0, 0xFF, bank, 16))
            return a.refuse("c331-dump <bank hex>", reply);
        for (unsigned row = 0; row < 128; row += 16) {
            char line[96];
            int n = std::snprintf(line, sizeof(line), "%02X:", row);
            for (unsigned i = 0; i < 16; ++i)
                n += std::snprintf(line + n, sizeof(line) - static_cast<size_t>(n), " %02X",
                                   byte(static_cast<uint8_t>(bank), static_cast<uint8_t>(row + i)));
            reply += std::string(line) + (row + 16 < 128 ? "\n" : "");
        }
        return true;
    });
    control.add("c331-log", "[n]: the last n frames the c331 chip received (default 32, at most 4096)",
                [this](const Args& args, std::string& reply) {
                    unsigned long long n = 32;
                    ArgReader a(args);
                    // A reply of at most 4096 lines (about 80 kB).
                    if (!a.count(0, 1) || (args.size() == 1 && !a.number(0, "count", 0, 4096, n)))
                        return a.refuse("c331-log [count 0..4096]", reply);
                    const std::vector<Frame> all = frames();
                    const size_t from = all.size() > n ? all.size() - n : 0;
                    for (size_t i = from; i < all.size(); ++i) {
                        const Frame& f = all[i];
                        char line[64];
                        if (f.bankSelect())
                            std::snprintf(line, sizeof(line), "bank %02X", f.b1);
                        else if (f.write())
                            std::snprintf(line, sizeof(line), "W %02X%02X = %02X", f.bank, f.addr(), f.b1);
                        else
                            std::snprintf(line, sizeof(line), "R %02X%02X -> %02X", f.bank, f.addr(), f.answer);
                        reply += std::string(line) + (i + 1 < all.size() ? "\n" : "");
                    }
                    return true;
                });
    control.add("source", "<input 0..5> <width> <height> <hz> [i|p [lanes]]|none: the video source at an input of the c331 chip",
                [this](const Args& args, std::string& reply) {
                    const char* usage = "source <input 0..5> <width> <height> <hz> [i|p [lanes]]|none";
                    long long input = 0, w = 0, h = 0, hz = 0;
                    ArgReader a(args);
                    if (args.size() == 2 && args[1] == "none") {
                        if (!a.signedNumber(0, "input", 0, 5, input))
                            return a.refuse(usage, reply);
                        setSource(static_cast<int>(input), VideoSource{});
                        return true;
                    }
                    long long lanes = 0;
                    if (!a.count(4, 6) || !a.signedNumber(0, "input", 0, 5, input) ||
                        !a.signedNumber(1, "width", 1, 65535, w) || !a.signedNumber(2, "height", 1, 65535, h) ||
                        !a.signedNumber(3, "hz", 1, 240, hz) || (args.size() >= 5 && !a.oneOf(4, "scan", {"i", "p"})) ||
                        (args.size() == 6 && !a.signedNumber(5, "lanes", 0, 8, lanes)))
                        return a.refuse(usage, reply);
                    VideoSource s{true, static_cast<int>(w), static_cast<int>(h), static_cast<int>(hz)};
                    s.interlaced = args.size() >= 5 && args[4] == "i";
                    s.lanes = static_cast<int>(lanes);
                    setSource(static_cast<int>(input), s);
                    return true;
                });
    // A fault switch: "on" or "off".
    auto onOff = [](const char* command, void (C331ChipModel::*set)(bool), C331ChipModel* self) {
        return [command, set, self](const Args& args, std::string& reply) {
            ArgReader a(args);
            if (!a.count(1, 1) || !a.oneOf(0, "switch", {"on", "off"}))
                return a.refuse(std::string(command) + " on|off", reply);
            (self->*set)(args[0] == "on");
            return true;
        };
    };
    control.add("c331-hold",
                "[<desc hex 0xBBAANN> <ms>]: the next write to that register holds the bus for ms milliseconds "
                "(0 disarms; what else reads over SPI meanwhile, such as the device status page's port tiles, "
                "waits); without arguments: off, armed, holding or done",
                [this](const Args& args, std::string& reply) {
                    if (args.empty()) {
                        reply = holdState();
                        return true;
                    }
                    unsigned long long desc = 0;
                    unsigned long long ms = 0;
                    ArgReader a(args);
                    if (!a.count(2, 2) || !a.number(0, "desc", 0, 0xFFFFFF, desc, 16) ||
                        !a.number(1, "ms", 0, 60000, ms))
                        return a.refuse("c331-hold [<desc hex 0xBBAANN> <ms, up to 60000>]", reply);
                    armHold(static_cast<uint8_t>(desc >> 16), static_cast<uint8_t>(desc >> 8),
                            static_cast<unsigned>(ms));
                    return true;
                });
    control.add("c331-watch",
                "[<desc hex 0xBBAANN>]: watch the writes to one register from now on; without arguments: the "
                "values written since, in hex",
                [this](const Args& args, std::string& reply) {
                    unsigned long long desc = 0;
                    ArgReader a(args);
                    if (!a.count(0, 1) || (args.size() == 1 && !a.number(0, "desc", 0, 0xFFFFFF, desc, 16)))
                        return a.refuse("c331-watch [<desc hex 0xBBAANN>]", reply);
                    if (args.size() == 1) {
                        watch(static_cast<uint8_t>(desc >> 16), static_cast<uint8_t>(desc >> 8));
                        return true;
                    }
                    for (const Write& w : watched()) {
                        char two[4];
                        std::snprintf(two, sizeof(two), "%02X", w.value);
                        reply += (reply.empty() ? "" : " ") + std::string(two);
                    }
                    return true;
                });
    control.add("c331-frame-hz", "<hz 1..1000>: the chip's frame clock (60 at power-on)",
                [this](const Args& args, std::string& reply) {
                    unsigned long long hz = 0;
                    ArgReader a(args);
                    if (!a.count(1, 1) || !a.number(0, "hz", 1, 1000, hz))
                        return a.refuse("c331-frame-hz <1..1000>", reply);
                    setFrameRate(static_cast<unsigned>(hz));
                    return true;
                });
    control.add("c331-sync-stuck", "on|off: the c331 sync status registers stay 0",
                onOff("c331-sync-stuck", &C331ChipModel::setSyncStuck, this));
    control.add("c331-flash-stuck", "on|off: the c331 serial flash stays busy and changes nothing",
                onOff("c331-flash-stuck", &C331ChipModel::setFlashStuck, this));
    control.add("c331-flash-wel-left", "on|off: the c331 serial flash leaves its write-enable latch set",
                onOff("c331-flash-wel-left", &C331ChipModel::setFlashWelLeft, this));
    control.add("c331-osd-stuck", "on|off: the c331 OSD drawing engine stays busy and draws nothing",
                onOff("c331-osd-stuck", &C331ChipModel::setOsdStuck, this));
    control.add("c331-silent", "on|off: the c331 chip does not answer at all",
                onOff("c331-silent", &C331ChipModel::setSilent, this));
}

} // namespace sim
