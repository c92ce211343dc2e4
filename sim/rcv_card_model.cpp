#include "sim/rcv_card_model.h"

#include "sim/sim_clock.h"

#include <atomic>

namespace sim {

namespace {

uint8_t xorOf(const std::vector<uint8_t>& f, size_t n)
{
    uint8_t x = 0;
    for (size_t i = 0; i < n; ++i)
        x ^= f[i];
    return x;
}

uint32_t le32At(const std::vector<uint8_t>& f, size_t at)
{
    return f[at] | (f[at + 1] << 8) | (f[at + 2] << 16) | (static_cast<uint32_t>(f[at + 3]) << 24);
}

} // namespace

void RcvCardChain::setCards(unsigned count)
{
    std::lock_guard<std::mutex> lock(mutex_);
    count_ = count > kMaxCards ? kMaxCards : count;
}

unsigned RcvCardChain::cards() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return count_;
}

void RcvCardChain::setMultiFunction(bool present)
{
    std::lock_guard<std::mutex> lock(mutex_);
    multiFunction_ = present;
}

void RcvCardChain::setFault(Fault f)
{
    std::lock_guard<std::mutex> lock(mutex_);
    fault_ = f;
}

RcvCardChain::Fault RcvCardChain::fault() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return fault_;
}

bool RcvCardChain::setCardSilent(unsigned card, bool silent, unsigned& cards)
{
    // Checked and switched in one hold: "cards" cannot take the card away
    // in between.
    std::lock_guard<std::mutex> lock(mutex_);
    cards = count_;
    if (card >= count_)
        return false;
    if (silent)
        silentCards_.insert(card);
    else
        silentCards_.erase(card);
    return true;
}

void RcvCardChain::setMissNext(unsigned count)
{
    std::lock_guard<std::mutex> lock(mutex_);
    missNext_ = count;
}

bool RcvCardChain::cardSilent(unsigned card) const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return silentCards_.count(card) != 0;
}

std::vector<uint8_t> RcvCardChain::request(const std::vector<uint8_t>& f)
{
    std::lock_guard<std::mutex> lock(mutex_);
    ++requests_;
    if (count_ == 0 || f.size() < 11 || f[4] != 0x10 || xorOf(f, f.size() - 1) != f.back())
        return {};
    const unsigned dest = f[0] | (f[1] << 8);
    if (dest >= 0x4000 && dest < 0x8000) {
        // The multi-function card: sensor memory reads only.
        if (!multiFunction_ || f[9] != 0x61 || f.size() < 19 || fault_ == Fault::Silent)
            return {};
        std::vector<uint8_t> a(f.begin(), f.begin() + 18);
        a[0] = f[2];
        a[1] = f[3];
        a[2] = f[0];
        a[3] = f[1];
        const unsigned n = f[14] | (f[15] << 8);
        for (unsigned k = 0; k < n && k < sensor_.size(); ++k)
            a.push_back(sensor_[k]);
        a.push_back(xorOf(a, a.size()));
        if (fault_ == Fault::BadCheck)
            a.back() ^= 0x5A;
        return a;
    }
    const unsigned index = dest & 0x0FFF;
    unsigned card;
    if (index == 0x0FFF || index == 0x0FFE) {
        card = 0;
    } else {
        if (((dest >> 12) & 3) != static_cast<unsigned>(port_ & 3) || index >= count_ || dest >= 0x4000)
            return {};
        card = index;
    }
    const bool everyCard = index == 0x0FFF;
    const bool ownIndex = !everyCard && index != 0x0FFE;
    const uint8_t opcode = f[9];
    const unsigned firstCard = everyCard ? 0 : card;
    const unsigned endCard = everyCard ? count_ : card + 1;
    static std::atomic<uint64_t> takenOnTheBoard{0};
    const uint64_t taken = ++takenOnTheBoard;
    const uint64_t takenUs = SimClock::instance().nowUs();
    for (unsigned c = firstCard; c < endCard; ++c) {
        log_[c].push_back(f);
        logOrder_[c].push_back(taken);
        logTimes_[c].push_back(takenUs);
    }
    if (opcode == 0x60 && f.size() >= 19) {
        const uint32_t address = le32At(f, 10);
        const unsigned n = f[14] | (f[15] << 8);
        for (unsigned c = firstCard; c < endCard; ++c) {
            std::vector<uint8_t>& ram = ramOf(c);
            // Only the bytes the frame carries are stored.
            for (size_t k = 0; k < n && 18 + k < f.size() - 1; ++k)
                ram[(address + k) % kCardRam] = f[18 + k];
        }
    } else if (opcode == 0xA0 && f.size() >= 15 && f[10] == 0x03 && f[11] == 0x0F && f[12] == 0x01) {
        mapping_ = f[13];
    } else if (opcode == 0x81) {
        for (unsigned c = firstCard; c < endCard; ++c)
            ++saves_[c];
    } else if (opcode == 0xB4) {
        ++activations_[card];
    }
    if ((opcode == 0x60 || opcode == 0xA0) && ownIndex && faulty_ == static_cast<int>(card))
        faulty_ = -1;
    if (fault_ == Fault::Silent || silentCards_.count(card) != 0)
        return {};
    if (missNext_ > 0) {
        --missNext_;
        return {};
    }

    std::vector<uint8_t> a(f.begin(), f.begin() + 10);
    a[0] = f[2];
    a[1] = f[3];
    const unsigned src = ((static_cast<unsigned>(port_) & 3) << 12) | card;
    a[2] = static_cast<uint8_t>(src);
    a[3] = static_cast<uint8_t>(src >> 8);
    if (opcode == 0x10) {
        a.push_back(0);   // status: good
        a.push_back(static_cast<uint8_t>(count_));
        a.push_back(static_cast<uint8_t>(count_ >> 8));
        a.push_back(multiFunction_ ? 1 : 0);
        a.push_back(0);
        if (f.size() >= 30 && (f[16] & 1)) {
            // Card check: config id low byte at 18, the result at 22.
            a.resize(18, 0);
            a.push_back(f[17]);
            a.push_back(0);
            a.push_back(0);
            a.push_back(0);
            a.push_back(faulty_ >= 0 && static_cast<unsigned>(faulty_) < count_ ? static_cast<uint8_t>(faulty_) : 255);
        }
    } else if ((opcode == 0x60 || opcode == 0x61) && f.size() >= 19) {
        const uint32_t address = le32At(f, 10);
        const unsigned n = f[14] | (f[15] << 8);
        std::vector<uint8_t>& ram = ramOf(card);
        if (opcode == 0x60) {
            a.push_back(0);
        } else {
            const unsigned take = n > 256 ? 256 : n;
            a.insert(a.end(), f.begin() + 10, f.begin() + 18);
            for (unsigned k = 0; k < take; ++k)
                a.push_back(ram[(address + k) % kCardRam]);
        }
    } else {
        a.push_back(0);
    }
    a.push_back(xorOf(a, a.size()));
    if (fault_ == Fault::BadCheck)
        a.back() ^= 0x5A;
    return a;
}

std::vector<uint8_t>& RcvCardChain::ramOf(unsigned card)
{
    std::vector<uint8_t>& ram = ram_[card];
    if (ram.empty())
        ram.assign(kCardRam, 0);
    return ram;
}

void RcvCardChain::setDelayUs(uint64_t us)
{
    std::lock_guard<std::mutex> lock(mutex_);
    delayUs_ = us;
}

uint64_t RcvCardChain::delayUs() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return delayUs_;
}

void RcvCardChain::setFaultyCard(int card)
{
    std::lock_guard<std::mutex> lock(mutex_);
    faulty_ = card < 0 ? -1 : card;
}

int RcvCardChain::faultyCard() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return faulty_;
}

unsigned RcvCardChain::saves(unsigned card) const
{
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = saves_.find(card);
    return it == saves_.end() ? 0 : it->second;
}

unsigned RcvCardChain::activations(unsigned card) const
{
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = activations_.find(card);
    return it == activations_.end() ? 0 : it->second;
}

void RcvCardChain::setSensorByte(unsigned index, uint8_t value)
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (index < sensor_.size())
        sensor_[index] = value;
}

int RcvCardChain::mappingValue() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return mapping_;
}

std::vector<std::vector<uint8_t>> RcvCardChain::log(unsigned card) const
{
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = log_.find(card);
    return it == log_.end() ? std::vector<std::vector<uint8_t>>() : it->second;
}

std::vector<uint64_t> RcvCardChain::logOrder(unsigned card) const
{
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = logOrder_.find(card);
    return it == logOrder_.end() ? std::vector<uint64_t>() : it->second;
}

std::vector<uint64_t> RcvCardChain::logTimes(unsigned card) const
{
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = logTimes_.find(card);
    return it == logTimes_.end() ? std::vector<uint64_t>() : it->second;
}

uint64_t RcvCardChain::requests() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return requests_;
}

std::vector<uint8_t> RcvCardChain::cardRam(unsigned card, uint32_t address, uint32_t length) const
{
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<uint8_t> out(length, 0);
    auto it = ram_.find(card);
    if (it != ram_.end())
        for (uint32_t k = 0; k < length; ++k)
            out[k] = it->second[(address + k) % kCardRam];
    return out;
}

} // namespace sim
