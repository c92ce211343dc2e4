#include "sim/fpga_model.h"

#include "sim/c331_chip.h"
#include "sim/control_channel.h"
#include "sim/phys_mem.h"
#include "sim/sim_clock.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>

namespace sim {

const char* const kFpgaNodes[4] = {"/dev/spidev32766.1", "/dev/spidev32766.2", "/dev/spidev32766.3",
                                   "/dev/spidev32766.4"};

constexpr uint8_t FpgaModel::kVersion[4];

FpgaWiring fpgaWiring(int fpga)
{
    if (fpga == 0)
        return FpgaWiring{0x207810, {0x207838}, {0x207860}, 0x207858, 0x207800};
    return FpgaWiring{0x207900, {0x20794C, 0x207954}, {0x20790C, 0x207950}, 0x207864, 0x207908};
}

namespace {

uint32_t phys(uint32_t pad)
{
    return PhysMemModel::kRiuBase + pad;
}

// Registers whose written bits act once and clear themselves: 2 bit 0
// (apply the parameter page), 3 bit 2 (latch the brightness), 41 bit 0
// (link handshake request).
uint8_t triggerBits(unsigned r)
{
    switch (r) {
    case 2:
        return 0x01;
    case 3:
        return 0x04;
    case 41:
        return 0x01;
    default:
        return 0;
    }
}

} // namespace

FpgaModel::FpgaModel(int index, PhysMemModel& mem) : mem_(mem), wiring_(fpgaWiring(index))
{
    // Pull-ups: the lines idle high until the driver drives them.
    mem_.setResetValue(phys(wiring_.select), 0x0010);
    for (uint32_t pad : wiring_.flash)
        mem_.setResetValue(phys(pad), 0x0010);
    mem_.setResetValue(phys(wiring_.reset), 0x0010);
    mem_.onWrite(phys(wiring_.reset), [this](uint16_t v) { resetLine(v); });
    mem_.onRead(phys(wiring_.irq), [this]() -> uint16_t {
        return irq_.load() || waiting_.load() > 0 || SimClock::instance().nowUs() >= nextLateUs_.load() ? 1 : 0;
    });
    for (int p = 0; p < 16; ++p)
        chains_[p] = std::make_shared<RcvCardChain>(p);
    std::lock_guard<std::mutex> lock(mutex_);
    powerOn();
}

bool FpgaModel::allHigh(const std::vector<uint32_t>& pads) const
{
    for (uint32_t pad : pads)
        if (!mem_.padHigh(pad))
            return false;
    return true;
}

bool FpgaModel::allLow(const std::vector<uint32_t>& pads) const
{
    for (uint32_t pad : pads)
        if (mem_.padHigh(pad))
            return false;
    return true;
}

bool FpgaModel::listening() const
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (fault_ == Fault::Dead || inReset_)
            return false;
    }
    if (mem_.padHigh(wiring_.select) || allLow(wiring_.flash))
        return false;
    // Command lines half high and half low: nothing the FPGA understands.
    return allHigh(wiring_.command) || allLow(wiring_.command);
}

std::vector<uint8_t>& FpgaModel::block(unsigned b)
{
    auto& mem = ram_[b & 0xFF];
    if (mem.empty())
        mem.assign(kBlockSize, 0);
    return mem;
}

void FpgaModel::powerOn()
{
    regs_.fill(0);
    for (int i = 0; i < 3; ++i)
        regs_[28 + i] = kVersion[i];
    regs_[31] = year_;
    regs_[7] = 0x01;
    ram_.clear();
    for (auto& q : rxQueue_)
        q.clear();
    waiting_ = 0;
    late_.clear();
    nextLateUs_ = UINT64_MAX;
    pending_ = Pending();
    stampInput();
}

void FpgaModel::stampInput()
{
    std::vector<uint8_t>& page = block(1);
    const uint16_t w = hasInput_ ? inputW_ : 0;
    const uint16_t h = hasInput_ ? inputH_ : 0;
    const uint32_t p = hasInput_ ? inputPeriod_ : 0;
    page[116] = static_cast<uint8_t>(w);
    page[117] = static_cast<uint8_t>(w >> 8);
    page[118] = static_cast<uint8_t>(h);
    page[119] = static_cast<uint8_t>(h >> 8);
    for (int i = 0; i < 4; ++i)
        page[120 + i] = static_cast<uint8_t>(p >> (8 * i));
}

void FpgaModel::resetLine(uint16_t value)
{
    std::lock_guard<std::mutex> lock(mutex_);
    const bool high = (value & 0x0010) != 0;
    if (!high && !inReset_) {
        inReset_ = true;
        powerOn();
    } else if (high && inReset_) {
        inReset_ = false;
        ++counters_.resets;
        stampInput();
    }
}

bool FpgaModel::vboLocked() const
{
    return (regs_[3] & 0xC0) == 0xC0 && fault_ != Fault::NoLock;
}

uint8_t FpgaModel::readRegLocked(unsigned r) const
{
    r &= 0xFF;
    switch (r) {
    case 31:
        return fault_ == Fault::BadVersion ? 0x18 : regs_[31];
    case 22: {
        uint8_t v = regs_[22] & static_cast<uint8_t>(~(0x08 | 0x10 | 0x80));
        if (fault_ == Fault::InitError)
            v |= 0x08;
        if (vboLocked()) {
            v |= 0x10;
            if ((regs_[23] & 0x01) && fault_ != Fault::NoLink)
                v |= 0x80;
        }
        return v;
    }
    case 40:
        return static_cast<uint8_t>((regs_[40] & ~0x1C) | (vboLocked() ? 0x1C : 0));
    case 129:
    case 145: {
        uint8_t v = 0;
        const unsigned base = r == 129 ? 0 : 4;
        for (unsigned k = 0; k < 4; ++k)
            if (!rxQueue_[base + k].empty())
                v |= static_cast<uint8_t>(1u << (2 * k));
        return v;
    }
    case 24:
    case 25:
    case 133:
    case 135:
    case 137:
    case 149:
    case 150:
    case 151:
    case 152:
    case 153:
        return rxLengthReg(r);
    case 128:
        return static_cast<uint8_t>(links_ & 0xFF);
    case 144:
        return static_cast<uint8_t>(links_ >> 8);
    default:
        return regs_[r];
    }
}

void FpgaModel::writeRegLocked(unsigned r, uint8_t mask, uint8_t value)
{
    r &= 0xFF;
    if (r >= 28 && r <= 31)
        return;   // the version is read-only
    uint8_t v = static_cast<uint8_t>((regs_[r] & ~mask) | (value & mask));
    if (r == 130 || r == 146) {
        // Release and start bits act once.
        const unsigned base = r == 130 ? 0 : 4;
        const uint8_t set = value & mask;
        for (unsigned k = 0; k < 4; ++k) {
            if ((set & (1u << k)) && !rxQueue_[base + k].empty()) {
                rxQueue_[base + k].pop_front();
                --waiting_;
                showFront(base + k);
            }
        }
        for (unsigned k = 0; k < 4; ++k)
            if (set & (0x10u << k))
                sendPair(base + k);
        regs_[r] = 0;
        return;
    }
    const uint8_t trig = triggerBits(r) & v;
    if (r == 2 && (trig & 0x01))
        ++counters_.pageApplies;
    if (r == 3 && (trig & 0x04))
        ++counters_.brightnessLatches;
    regs_[r] = static_cast<uint8_t>(v & ~trig);
}

uint8_t FpgaModel::rxLengthReg(unsigned r) const
{
    auto length1 = [this](unsigned pair) -> unsigned {
        const auto& q = rxQueue_[pair];
        return q.empty() ? 0 : static_cast<unsigned>(q.front().size() - 1);
    };
    static const unsigned lowRegs[8] = {24, 133, 135, 137, 149, 150, 151, 152};
    if (r == 25 || r == 153) {
        uint8_t v = 0;
        const unsigned base = r == 25 ? 0 : 4;
        for (unsigned k = 0; k < 4; ++k)
            v |= static_cast<uint8_t>(((length1(base + k) >> 8) & 3) << (2 * k));
        return v;
    }
    for (unsigned p = 0; p < 8; ++p)
        if (lowRegs[p] == r)
            return static_cast<uint8_t>(length1(p) & 0xFF);
    return 0;
}

void FpgaModel::showFront(unsigned pair)
{
    const auto& q = rxQueue_[pair];
    if (q.empty())
        return;
    std::vector<uint8_t>& mem = block(2 + 2 * pair);
    std::copy(q.front().begin(), q.front().end(), mem.begin());
}

void FpgaModel::sendPair(unsigned pair)
{
    static const unsigned txLenRegs[8] = {26, 134, 136, 138, 154, 155, 156, 157};
    const unsigned highReg = pair < 4 ? 27 : 158;
    const unsigned length = (regs_[txLenRegs[pair]] | (((regs_[highReg] >> (2 * (pair & 3))) & 3) << 8)) + 1;
    const std::vector<uint8_t>& tx = block(3 + 2 * pair);
    const std::vector<uint8_t> frame(tx.begin(), tx.begin() + length);
    const uint8_t select = regs_[pair < 4 ? 132 : 148];
    for (unsigned port = 2 * pair; port <= 2 * pair + 1; ++port) {
        if (!(select & (1u << (port & 7))) || !(links_ & (1u << port)))
            continue;
        ++portFrames_[port];
        std::vector<uint8_t> answer = chains_[port]->request(frame);
        if (answer.empty())
            continue;
        const uint64_t delay = chains_[port]->delayUs();
        if (delay == 0) {
            queueAnswerLocked(pair, std::move(answer));
            continue;
        }
        const uint64_t at = SimClock::instance().nowUs() + delay;
        late_.push_back(Late{at, pair, std::move(answer)});
        if (at < nextLateUs_.load())
            nextLateUs_ = at;
    }
}

void FpgaModel::queueAnswerLocked(unsigned pair, std::vector<uint8_t> answer)
{
    // A pair holds at most 64 answers; the FPGA drops further ones.
    if (rxQueue_[pair].size() >= 64)
        return;
    rxQueue_[pair].push_back(std::move(answer));
    ++waiting_;
    if (rxQueue_[pair].size() == 1)
        showFront(pair);
}

void FpgaModel::deliverLateLocked()
{
    if (late_.empty())
        return;
    const uint64_t now = SimClock::instance().nowUs();
    uint64_t next = UINT64_MAX;
    for (auto it = late_.begin(); it != late_.end();) {
        if (it->atUs <= now) {
            queueAnswerLocked(it->pair, std::move(it->frame));
            it = late_.erase(it);
        } else {
            next = std::min(next, it->atUs);
            ++it;
        }
    }
    nextLateUs_ = next;
}

RcvCardChain& FpgaModel::cards(int port)
{
    return *chains_[port & 15];
}

uint64_t FpgaModel::portFrames(int port) const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return portFrames_[port & 15];
}

size_t FpgaModel::waitingAnswers(int pair) const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return rxQueue_[pair & 7].size();
}

void FpgaModel::transfer(const uint8_t* tx, uint8_t* rx, uint32_t len, uint32_t)
{
    std::lock_guard<std::mutex> lock(mutex_);
    deliverLateLocked();
    if (!inMessage_) {
        inMessage_ = true;
        commandPhase_ = allHigh(wiring_.command);
        position_ = 0;
        word_.clear();
        if (!commandPhase_ && !pending_.valid)
            ++counters_.protocolErrors;
    }
    for (uint32_t i = 0; i < len; ++i, ++position_) {
        uint8_t out = 0xFF;
        if (commandPhase_) {
            if (word_.size() < 8)
                word_.push_back(tx[i]);
        } else if (pending_.valid) {
            if (pending_.registerAccess) {
                if (pending_.read)
                    out = readRegLocked(pending_.address);
                else if (position_ == 0) {
                    written_ = tx[i];
                    writeRegLocked(pending_.address, pending_.mask, tx[i]);
                }
            } else {
                std::vector<uint8_t>& mem = block(pending_.block);
                const uint32_t a = (pending_.address + position_) & (kBlockSize - 1);
                if (pending_.read) {
                    out = mem[a];
                    if (fault_ == Fault::RamError && pending_.block == 1 && a == 8)
                        out ^= 0x01;
                } else {
                    mem[a] = tx[i];
                }
            }
        }
        if (rx)
            rx[i] = out;
    }
}

void FpgaModel::endMessage()
{
    std::function<void(unsigned, uint8_t, uint8_t)> hook;
    unsigned hookReg = 0;
    uint8_t hookMask = 0;
    uint8_t hookValue = 0;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!inMessage_)
            return;
        inMessage_ = false;
        if (commandPhase_) {
            pending_ = Pending();
            const bool ok = word_.size() == 4 && (word_[0] & 0xE0) == 0;
            const unsigned cmd = ok ? (word_[0] >> 1) & 0x0F : 0;
            if (ok && cmd == 1 && (word_[3] & 0xF0) == 0) {
                pending_.valid = true;
                pending_.block = word_[1];
                pending_.address = (word_[2] | (word_[3] << 8)) & 0x0FFF;
            } else if (ok && cmd == 2 && word_[1] == 0) {
                pending_.valid = true;
                pending_.registerAccess = true;
                pending_.address = word_[2];
                pending_.mask = word_[3];
            }
            pending_.read = (word_[0] & 0x01) != 0;
            if (pending_.valid)
                ++counters_.commands;
            else
                ++counters_.protocolErrors;
            return;
        }
        if (pending_.valid && !pending_.read) {
            if (pending_.registerAccess && position_ > 0) {
                hook = hook_;
                hookReg = pending_.address;
                hookMask = pending_.mask;
                hookValue = written_;
            }
            if (!pending_.registerAccess && pending_.block == 1)
                stampInput();   // the FPGA keeps its measurement current
        }
        pending_ = Pending();
    }
    if (hook)
        hook(hookReg, hookMask, hookValue);
}

uint8_t FpgaModel::reg(unsigned r) const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return readRegLocked(r);
}

uint8_t FpgaModel::storedReg(unsigned r) const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return regs_[r & 0xFF];
}

void FpgaModel::setReg(unsigned r, uint8_t value)
{
    std::lock_guard<std::mutex> lock(mutex_);
    regs_[r & 0xFF] = value;
}

std::vector<uint8_t> FpgaModel::ram(unsigned b, uint32_t address, uint32_t length) const
{
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<uint8_t> out(length, 0);
    auto it = ram_.find(b & 0xFF);
    if (it == ram_.end())
        return out;
    for (uint32_t i = 0; i < length; ++i)
        out[i] = it->second[(address + i) & (kBlockSize - 1)];
    return out;
}

void FpgaModel::setPortLink(int port, bool up)
{
    std::lock_guard<std::mutex> lock(mutex_);
    const uint16_t bit = static_cast<uint16_t>(1u << (port & 15));
    links_ = up ? (links_ | bit) : (links_ & ~bit);
}

uint16_t FpgaModel::portLinks() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return links_;
}

void FpgaModel::setFault(Fault f)
{
    std::lock_guard<std::mutex> lock(mutex_);
    fault_ = f;
}

FpgaModel::Fault FpgaModel::fault() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return fault_;
}

void FpgaModel::setInput(uint16_t width, uint16_t height, uint32_t period)
{
    std::lock_guard<std::mutex> lock(mutex_);
    hasInput_ = true;
    inputW_ = width;
    inputH_ = height;
    inputPeriod_ = period;
    stampInput();
}

void FpgaModel::setNoInput()
{
    std::lock_guard<std::mutex> lock(mutex_);
    hasInput_ = false;
    stampInput();
}

void FpgaModel::setVersionYear(uint8_t year)
{
    std::lock_guard<std::mutex> lock(mutex_);
    year_ = year;
    regs_[31] = year;
}

void FpgaModel::setIrq(bool raised)
{
    irq_ = raised;
}

bool FpgaModel::inReset() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return inReset_;
}

FpgaModel::Counters FpgaModel::counters() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return counters_;
}

void FpgaModel::onRegisterWrite(std::function<void(unsigned, uint8_t, uint8_t)> hook)
{
    std::lock_guard<std::mutex> lock(mutex_);
    hook_ = std::move(hook);
}

// ---------------------------------------------------------------------------

FpgaBoard::FpgaBoard(PhysMemModel& mem, SpiBusModel& bus, std::function<std::string(int)> flashFile)
{
    for (int i = 0; i < 2; ++i) {
        fpga_[i] = std::make_shared<FpgaModel>(i, mem);
        bus.attach(kFpgaNodes[i], fpga_[i]);
    }
    for (int i = 0; i < 2; ++i) {
        const FpgaWiring w = fpgaWiring(i);
        auto listen = [&mem, w]() {
            if (mem.padHigh(w.select))
                return false;
            for (uint32_t pad : w.flash)
                if (mem.padHigh(pad))
                    return false;
            return true;
        };
        // A distinct id per flash, as the parts have.
        std::array<uint8_t, 8> uid = {0xD2, 0x6C, 0x51, 0x0B, 0x17, 0x4E, 0x38, static_cast<uint8_t>(0x20 + i)};
        flash_[i] = std::make_shared<NorFlashModel>(flashFile ? flashFile(i + 2) : std::string(), uid, listen);
        bus.attach(kFpgaNodes[2 + i], flash_[i]);
    }
    busModel_ = &bus;
}

namespace {

using Args = std::vector<std::string>;

std::string hexText(const std::vector<uint8_t>& bytes)
{
    std::string s;
    char b[3];
    for (uint8_t v : bytes) {
        std::snprintf(b, sizeof(b), "%02x", v);
        s += b;
    }
    return s;
}

std::string hex2(unsigned v)
{
    char b[8];
    std::snprintf(b, sizeof(b), "0x%02X", v);
    return b;
}

const std::pair<const char*, FpgaModel::Fault> kFaults[] = {
    {"none", FpgaModel::Fault::None},         {"dead", FpgaModel::Fault::Dead},
    {"badversion", FpgaModel::Fault::BadVersion}, {"initerr", FpgaModel::Fault::InitError},
    {"nolock", FpgaModel::Fault::NoLock},     {"nolink", FpgaModel::Fault::NoLink},
    {"ramerr", FpgaModel::Fault::RamError},
};

} // namespace

void FpgaBoard::registerCommands(ControlChannel& c)
{
    std::shared_ptr<FpgaModel> fpgas[2] = {fpga_[0], fpga_[1]};
    std::shared_ptr<NorFlashModel> flashes[2] = {flash_[0], flash_[1]};
    // The FPGA (0 or 1), flash (chip 2 or 3) or port (1..32: FPGA 0 ports
    // 0..15, then FPGA 1 ports 0..15) a request names first.
    auto pickFpga = [fpgas](ArgReader& a) -> std::shared_ptr<FpgaModel> {
        unsigned long long i;
        return a.number(0, "fpga", 0, 1, i) ? fpgas[i] : nullptr;
    };
    auto pickFlash = [flashes](ArgReader& a) -> std::shared_ptr<NorFlashModel> {
        unsigned long long i;
        return a.number(0, "chip", 2, 3, i) ? flashes[i - 2] : nullptr;
    };
    auto pickChain = [fpgas](ArgReader& a, int& fpgaPort) -> std::shared_ptr<FpgaModel> {
        unsigned long long n;
        if (!a.number(0, "port", 1, 32, n))
            return nullptr;
        fpgaPort = static_cast<int>((n - 1) & 15);
        return fpgas[(n - 1) / 16];
    };

    c.add("fpga-reg", "<fpga> <reg> [value]: an FPGA register as a read answers it (and sets the latch)",
          [pickFpga](const Args& args, std::string& reply) {
              ArgReader a(args);
              auto f = a.count(2, 3) ? pickFpga(a) : nullptr;
              unsigned long long r, v = 0;
              if (!f || !a.number(1, "register", 0, 255, r) || (args.size() == 3 && !a.number(2, "value", 0, 255, v)))
                  return a.refuse("fpga-reg <0|1> <register> [value]", reply);
              if (args.size() == 3)
                  f->setReg(static_cast<unsigned>(r), static_cast<uint8_t>(v));
              reply = hex2(f->reg(static_cast<unsigned>(r)));
              return true;
          });
    c.add("fpga-ram", "<fpga> <block> <address> <length>: RAM block bytes in hex",
          [pickFpga](const Args& args, std::string& reply) {
              ArgReader a(args);
              auto f = a.count(4, 4) ? pickFpga(a) : nullptr;
              unsigned long long b, at, n;
              if (!f || !a.number(1, "block", 0, 255, b) || !a.number(2, "address", 0, 4095, at) ||
                  !a.number(3, "length", 0, 4096, n))
                  return a.refuse("fpga-ram <0|1> <block> <address> <length>", reply);
              reply = hexText(f->ram(static_cast<unsigned>(b), static_cast<uint32_t>(at), static_cast<uint32_t>(n)));
              return true;
          });
    c.add("fpga-link", "<fpga> <port 0..15|all> up|down: an Ethernet port's link",
          [pickFpga](const Args& args, std::string& reply) {
              ArgReader a(args);
              auto f = a.count(3, 3) ? pickFpga(a) : nullptr;
              unsigned long long p = 0;
              const bool all = args.size() == 3 && args[1] == "all";
              if (!f || (!all && !a.number(1, "port", 0, 15, p)) || !a.oneOf(2, "link", {"up", "down"}))
                  return a.refuse("fpga-link <0|1> <port 0..15|all> up|down", reply);
              for (int port = all ? 0 : static_cast<int>(p); port <= (all ? 15 : static_cast<int>(p)); ++port)
                  f->setPortLink(port, args[2] == "up");
              return true;
          });
    c.add("fpga-fault", "<fpga> none|dead|badversion|initerr|nolock|nolink|ramerr: holds an FPGA in a fault",
          [pickFpga](const Args& args, std::string& reply) {
              ArgReader a(args);
              auto f = a.count(2, 2) ? pickFpga(a) : nullptr;
              std::vector<std::string> names;
              for (const auto& n : kFaults)
                  names.push_back(n.first);
              if (!f || !a.oneOf(1, "fault", names))
                  return a.refuse("fpga-fault <0|1> none|dead|badversion|initerr|nolock|nolink|ramerr", reply);
              for (const auto& n : kFaults) {
                  if (args[1] == n.first)
                      f->setFault(n.second);
              }
              return true;
          });
    c.add("fpga-input", "<fpga> <width> <height> <period> | <fpga> none: the FPGA's input measurement",
          [pickFpga](const Args& args, std::string& reply) {
              const char* usage = "fpga-input <0|1> <width> <height> <period> | <0|1> none";
              ArgReader a(args);
              if (args.size() == 2 && args[1] == "none") {
                  auto f = pickFpga(a);
                  if (!f)
                      return a.refuse(usage, reply);
                  f->setNoInput();
                  return true;
              }
              auto f = a.count(4, 4) ? pickFpga(a) : nullptr;
              unsigned long long w, h, p;
              if (!f || !a.number(1, "width", 0, 0xFFFF, w) || !a.number(2, "height", 0, 0xFFFF, h) ||
                  !a.number(3, "period", 0, 0xFFFFFFFF, p))
                  return a.refuse(usage, reply);
              f->setInput(static_cast<uint16_t>(w), static_cast<uint16_t>(h), static_cast<uint32_t>(p));
              return true;
          });
    c.add("fpga-irq", "<fpga> on|off: the FPGA's interrupt input", [pickFpga](const Args& args, std::string& reply) {
        ArgReader a(args);
        auto f = a.count(2, 2) ? pickFpga(a) : nullptr;
        if (!f || !a.oneOf(1, "switch", {"on", "off"}))
            return a.refuse("fpga-irq <0|1> on|off", reply);
        f->setIrq(args[1] == "on");
        return true;
    });
    c.add("fpga-info", "<fpga>: resets, reset state, command words, protocol errors, links, fault",
          [pickFpga](const Args& args, std::string& reply) {
              ArgReader a(args);
              auto f = a.count(1, 1) ? pickFpga(a) : nullptr;
              if (!f)
                  return a.refuse("fpga-info <0|1>", reply);
              const FpgaModel::Counters k = f->counters();
              std::string fault = "?";
              for (const auto& n : kFaults)
                  if (n.second == f->fault())
                      fault = n.first;
              char links[8];
              std::snprintf(links, sizeof(links), "%04X", f->portLinks());
              reply = "resets " + std::to_string(k.resets) + "\nin-reset " + (f->inReset() ? "1" : "0") +
                      "\ncommands " + std::to_string(k.commands) + "\nprotocol-errors " +
                      std::to_string(k.protocolErrors) + "\npage-applies " + std::to_string(k.pageApplies) +
                      "\nlinks " + links + "\nfault " + fault;
              return true;
          });
    c.add("flash-read", "<chip 2|3> <address> <length>: FPGA flash bytes in hex",
          [pickFlash](const Args& args, std::string& reply) {
              ArgReader a(args);
              auto f = a.count(3, 3) ? pickFlash(a) : nullptr;
              unsigned long long at, n;
              if (!f || !a.number(1, "address", 0, NorFlashModel::kSize - 1, at) || !a.number(2, "length", 0, 4096, n))
                  return a.refuse("flash-read <2|3> <address> <length 0..4096>", reply);
              reply = hexText(f->peek(static_cast<uint32_t>(at), static_cast<uint32_t>(n)));
              return true;
          });
    c.add("flash-write", "<chip 2|3> <address> <hex bytes>: stores bytes into an FPGA flash (no erase needed)",
          [pickFlash](const Args& args, std::string& reply) {
              ArgReader a(args);
              auto f = a.count(3, 3) ? pickFlash(a) : nullptr;
              unsigned long long at;
              std::vector<uint8_t> bytes;
              if (!f || !a.number(1, "address", 0, NorFlashModel::kSize - 1, at) || !a.hexBytes(2, "bytes", bytes))
                  return a.refuse("flash-write <2|3> <address> <hex bytes>", reply);
              f->poke(static_cast<uint32_t>(at), bytes);
              return true;
          });
    c.add("flash-erases", "<chip 2|3> <address>: how often the 4 KiB sector holding the address was erased",
          [pickFlash](const Args& args, std::string& reply) {
              ArgReader a(args);
              auto f = a.count(2, 2) ? pickFlash(a) : nullptr;
              unsigned long long at;
              if (!f || !a.number(1, "address", 0, NorFlashModel::kSize - 1, at))
                  return a.refuse("flash-erases <2|3> <address>", reply);
              reply = std::to_string(f->sectorErases(static_cast<uint32_t>(at)));
              return true;
          });
    c.add("flash-busy", "<chip 2|3> stuck|normal: the flash stays busy for ever, or for its program and erase times",
          [pickFlash](const Args& args, std::string& reply) {
              ArgReader a(args);
              auto f = a.count(2, 2) ? pickFlash(a) : nullptr;
              if (!f || !a.oneOf(1, "busy", {"stuck", "normal"}))
                  return a.refuse("flash-busy <2|3> stuck|normal", reply);
              f->setStuckBusy(args[1] == "stuck");
              return true;
          });
    c.add("flash-uid", "<chip 2|3> [16 hex digits]: the flash's unique id", [pickFlash](const Args& args,
                                                                                         std::string& reply) {
        ArgReader a(args);
        auto f = a.count(1, 2) ? pickFlash(a) : nullptr;
        std::vector<uint8_t> id;
        if (!f || (args.size() == 2 && (!a.hexBytes(1, "id", id) ||
                                        (id.size() != 8 && !a.fail(1, "id", "is not 16 hex digits")))))
            return a.refuse("flash-uid <2|3> [16 hex digits]", reply);
        if (args.size() == 2) {
            std::array<uint8_t, 8> idBytes;
            std::copy(id.begin(), id.end(), idBytes.begin());
            f->setUniqueId(idBytes);
        }
        const std::array<uint8_t, 8> now = f->uniqueId();
        reply = hexText(std::vector<uint8_t>(now.begin(), now.end()));
        return true;
    });
    c.add("cards", "<port 1..32> <count> [mf]: receiving cards behind a port (a link comes up with cards)",
          [pickChain](const Args& args, std::string& reply) {
              int port = 0;
              ArgReader a(args);
              auto f = a.count(2, 3) ? pickChain(a, port) : nullptr;
              unsigned long long n;
              if (!f || !a.number(1, "count", 0, RcvCardChain::kMaxCards, n) ||
                  (args.size() == 3 && !a.oneOf(2, "kind", {"mf"})))
                  return a.refuse("cards <port 1..32> <count 0..4095> [mf]", reply);
              f->cards(port).setCards(static_cast<unsigned>(n));
              f->cards(port).setMultiFunction(args.size() == 3);
              if (n > 0)
                  f->setPortLink(port, true);
              return true;
          });
    c.add("card-log", "<port 1..32> [card]: frames a card took (hex, one a line) and the port's frame counts",
          [pickChain](const Args& args, std::string& reply) {
              int port = 0;
              ArgReader a(args);
              auto f = a.count(1, 2) ? pickChain(a, port) : nullptr;
              unsigned long long card = 0;
              if (!f || (args.size() == 2 && !a.number(1, "card", 0, RcvCardChain::kMaxCards, card)))
                  return a.refuse("card-log <port 1..32> [card]", reply);
              reply = "sent " + std::to_string(f->portFrames(port)) + "\nrequests " +
                      std::to_string(f->cards(port).requests());
              for (const auto& frame : f->cards(port).log(static_cast<unsigned>(card)))
                  reply += "\n" + hexText(frame);
              return true;
          });
    c.add("card-fault", "<port 1..32> none|silent|badcheck: the cards of a port answer nothing or a bad check byte",
          [pickChain](const Args& args, std::string& reply) {
              int port = 0;
              ArgReader a(args);
              auto f = a.count(2, 2) ? pickChain(a, port) : nullptr;
              const std::pair<const char*, RcvCardChain::Fault> kinds[] = {
                  {"none", RcvCardChain::Fault::None},
                  {"silent", RcvCardChain::Fault::Silent},
                  {"badcheck", RcvCardChain::Fault::BadCheck}};
              if (!f || !a.oneOf(1, "fault", {"none", "silent", "badcheck"}))
                  return a.refuse("card-fault <port 1..32> none|silent|badcheck", reply);
              for (const auto& k : kinds) {
                  if (args[1] == k.first)
                      f->cards(port).setFault(k.second);
              }
              return true;
          });
    c.add("card-silent", "<port 1..32> <card> on|off: one of the cards on a port takes its frames but answers nothing",
          [pickChain](const Args& args, std::string& reply) {
              int port = 0;
              ArgReader a(args);
              auto f = a.count(3, 3) ? pickChain(a, port) : nullptr;
              unsigned long long card = 0;
              if (!f || !a.number(1, "card", 0, RcvCardChain::kMaxCards - 1, card) ||
                  !a.oneOf(2, "switch", {"on", "off"}))
                  return a.refuse("card-silent <port 1..32> <card 0..4094> on|off", reply);
              unsigned cards = 0;
              if (f->cards(port).setCardSilent(static_cast<unsigned>(card), args[2] == "on", cards))
                  return true;
              reply = "card " + std::to_string(card) + " is not on port " + args[0] + ", which has " +
                      (cards == 0 ? std::string("no cards")
                                  : std::to_string(cards) + (cards == 1 ? " card (0)" : " cards (0 to " +
                                                                  std::to_string(cards - 1) + ")")) +
                      ": \"cards\" sets them";
              return false;
          });
    // A "<port 1..32> <number>" command that sets one value of the port's
    // chain.
    auto chainValue = [pickChain](const char* name, const char* what, unsigned long long most,
                                  void (*set)(RcvCardChain&, unsigned long long)) {
        const std::string usage =
            std::string(name) + " <port 1..32> <" + what + ", up to " + std::to_string(most) + ">";
        return [pickChain, usage, what, most, set](const Args& args, std::string& reply) {
            int port = 0;
            ArgReader a(args);
            auto f = a.count(2, 2) ? pickChain(a, port) : nullptr;
            unsigned long long n = 0;
            if (!f || !a.number(1, what, 0, most, n))
                return a.refuse(usage, reply);
            set(f->cards(port), n);
            return true;
        };
    };
    c.add("card-miss", "<port 1..32> <count>: the cards of a port answer none of the next <count> requests, then answer again",
          chainValue("card-miss", "count", 1000,
                     [](RcvCardChain& chain, unsigned long long n) { chain.setMissNext(static_cast<unsigned>(n)); }));
    c.add("card-delay", "<port 1..32> <ms>: the cards of a port answer that many milliseconds late (0: at once)",
          chainValue("card-delay", "ms", 60000,
                     [](RcvCardChain& chain, unsigned long long ms) { chain.setDelayUs(1000 * ms); }));
    c.add("card-faulty", "<port 1..32> <card>|none: the card a card check reports faulty until a restore writes it",
          [pickChain](const Args& args, std::string& reply) {
              int port = 0;
              ArgReader a(args);
              auto f = a.count(2, 2) ? pickChain(a, port) : nullptr;
              unsigned long long card = 0;
              if (f && args[1] == "none") {
                  f->cards(port).setFaultyCard(-1);
                  return true;
              }
              if (!f || !a.number(1, "card", 0, 254, card))
                  return a.refuse("card-faulty <port 1..32> <card 0..254>|none", reply);
              f->cards(port).setFaultyCard(static_cast<int>(card));
              return true;
          });
    c.add("card-sensor", "<port 1..32> <index 0..255> <value>: a byte of the multi-function card's sensor memory",
          [pickChain](const Args& args, std::string& reply) {
              int port = 0;
              ArgReader a(args);
              auto f = a.count(3, 3) ? pickChain(a, port) : nullptr;
              unsigned long long index = 0, value = 0;
              if (!f || !a.number(1, "index", 0, 255, index) || !a.number(2, "value", 0, 255, value))
                  return a.refuse("card-sensor <port 1..32> <index 0..255> <value 0..255>", reply);
              f->cards(port).setSensorByte(static_cast<unsigned>(index), static_cast<uint8_t>(value));
              return true;
          });
    SpiBusModel* bus = busModel_;
    // The board's nodes: the chip's, then those of FPGA 0, FPGA 1 and the
    // flash behind each.
    std::string nodes = C331ChipModel::kNode;
    for (const char* node : kFpgaNodes)
        nodes += std::string(" ") + node;
    c.add("spi-count",
          std::string("<node>: messages sent to a spidev node, and those nobody heard (the chip ") +
              C331ChipModel::kNode + ", FPGA 0 " + kFpgaNodes[0] + ", FPGA 1 " + kFpgaNodes[1] + ", their flashes " +
              kFpgaNodes[2] + " and " + kFpgaNodes[3] + ")",
          [bus, nodes](const Args& args, std::string& reply) {
              ArgReader a(args);
              if (!a.count(1, 1) || !(bus->hasNode(args[0]) || a.fail(0, "node", "is not one of " + nodes)))
                  return a.refuse("spi-count <node>", reply);
              reply = "messages " + std::to_string(bus->messageCount(args[0])) + "\nunheard " +
                      std::to_string(bus->unheardCount(args[0]));
              return true;
          });
}

} // namespace sim
