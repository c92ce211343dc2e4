#include "sim/nor_flash.h"

#include "sim/sim_clock.h"

#include <algorithm>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace sim {
namespace {

constexpr uint8_t kWriteEnable = 0x06;
constexpr uint8_t kWriteDisable = 0x04;
constexpr uint8_t kReadStatus = 0x05;
constexpr uint8_t kPageProgram = 0x02;
constexpr uint8_t kRead = 0x03;
constexpr uint8_t kFastRead = 0x0B;
constexpr uint8_t kErase4K = 0x20;
constexpr uint8_t kErase32K = 0x52;
constexpr uint8_t kErase64K = 0xD8;
constexpr uint8_t kReadUid = 0x4B;
constexpr uint8_t kJedecId = 0x9F;
const uint8_t kJedec[3] = {0xEF, 0x40, 0x17};

uint32_t eraseUnit(uint8_t opcode)
{
    switch (opcode) {
    case kErase4K:
        return 0x1000;
    case kErase32K:
        return 0x8000;
    case kErase64K:
        return 0x10000;
    default:
        return 0;
    }
}

} // namespace

NorFlashModel::NorFlashModel(std::string file, std::array<uint8_t, 8> uid, std::function<bool()> listen)
    : file_(std::move(file)), listen_(std::move(listen)), uid_(uid)
{
    load();
}

bool NorFlashModel::listening() const
{
    return listen_ ? listen_() : true;
}

uint8_t NorFlashModel::byteAt(uint32_t address) const
{
    address %= kSize;
    auto it = sectors_.find(address / kSectorSize);
    return it == sectors_.end() ? 0xFF : (*it->second)[address % kSectorSize];
}

void NorFlashModel::setByte(uint32_t address, uint8_t value)
{
    address %= kSize;
    auto& sector = sectors_[address / kSectorSize];
    if (!sector) {
        sector = std::make_unique<std::array<uint8_t, kSectorSize>>();
        sector->fill(0xFF);
    }
    (*sector)[address % kSectorSize] = value;
}

bool NorFlashModel::busyLocked() const
{
    return stuckBusy_ || SimClock::instance().nowUs() < busyUntil_;
}

uint8_t NorFlashModel::status() const
{
    uint8_t s = 0;
    if (busyLocked())
        s |= 0x01;
    if (wel_)
        s |= 0x02;
    return s;
}

void NorFlashModel::transfer(const uint8_t* tx, uint8_t* rx, uint32_t len, uint32_t)
{
    std::lock_guard<std::mutex> lock(mutex_);
    for (uint32_t i = 0; i < len; ++i, ++position_) {
        const uint8_t in = tx[i];
        uint8_t out = 0xFF;
        if (position_ < 5)
            head_.push_back(in);
        const uint8_t op = head_[0];
        const bool busyNow = busyLocked();
        auto address = [this]() {
            return (static_cast<uint32_t>(head_[1]) << 16) | (static_cast<uint32_t>(head_[2]) << 8) | head_[3];
        };
        if (op == kReadStatus) {
            if (position_ >= 1)
                out = status();
        } else if (busyNow) {
            // A busy flash answers nothing but its status.
        } else if (op == kJedecId) {
            if (position_ >= 1 && position_ <= 3)
                out = kJedec[position_ - 1];
        } else if (op == kFastRead) {
            if (position_ >= 5)
                out = byteAt(address() + (position_ - 5));
        } else if (op == kRead) {
            if (position_ >= 4)
                out = byteAt(address() + (position_ - 4));
        } else if (op == kReadUid) {
            if (position_ >= 5 && position_ < 13)
                out = uid_[position_ - 5];
        } else if (op == kPageProgram) {
            if (position_ >= 4) {
                const uint32_t a = address();
                const uint32_t page = a & ~(kPageSize - 1);
                programData_[page | ((a + (position_ - 4)) & (kPageSize - 1))] = in;
            }
        }
        if (rx)
            rx[i] = out;
    }
}

void NorFlashModel::endMessage()
{
    std::lock_guard<std::mutex> lock(mutex_);
    commit();
    head_.clear();
    programData_.clear();
    position_ = 0;
}

void NorFlashModel::commit()
{
    if (head_.empty())
        return;
    const uint8_t op = head_[0];
    const bool busyNow = busyLocked();
    if (op == kReadStatus) {
        ++counters_.statusReads;
        return;
    }
    if (op == kWriteEnable) {
        if (!busyNow)
            wel_ = true;
        return;
    }
    if (op == kWriteDisable) {
        if (!busyNow)
            wel_ = false;
        return;
    }
    const uint32_t unit = eraseUnit(op);
    if (op != kPageProgram && unit == 0)
        return;
    // A program or erase needs the address complete (an erase exactly
    // that), write enable, and an idle flash.
    if (head_.size() < 4 || busyNow || !wel_ || (unit && position_ != 4)) {
        ++counters_.refused;
        return;
    }
    const uint32_t a = ((static_cast<uint32_t>(head_[1]) << 16) | (static_cast<uint32_t>(head_[2]) << 8) | head_[3]) % kSize;
    if (op == kPageProgram) {
        if (programData_.empty()) {
            wel_ = false;
            return;
        }
        for (const auto& d : programData_)
            setByte(d.first, static_cast<uint8_t>(byteAt(d.first) & d.second));
        const uint32_t page = a & ~(kPageSize - 1);
        persist(page, kPageSize);
        ++counters_.programs;
        busyUntil_ = SimClock::instance().nowUs() + times_.pageUs;
    } else {
        const uint32_t start = a & ~(unit - 1);
        for (uint32_t s = start; s < start + unit; s += kSectorSize) {
            sectors_.erase(s / kSectorSize);
            ++sectorErases_[s / kSectorSize];
        }
        persist(start, unit);
        ++counters_.erases;
        busyUntil_ = SimClock::instance().nowUs() +
                     (unit <= 0x1000 ? times_.erase4kUs : unit <= 0x8000 ? times_.erase32kUs : times_.erase64kUs);
    }
    wel_ = false;
}

uint64_t NorFlashModel::sectorErases(uint32_t address) const
{
    std::lock_guard<std::mutex> lock(mutex_);
    const auto it = sectorErases_.find((address % kSize) / kSectorSize);
    return it == sectorErases_.end() ? 0 : it->second;
}

std::vector<uint8_t> NorFlashModel::peek(uint32_t address, uint32_t length) const
{
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<uint8_t> out(length);
    for (uint32_t i = 0; i < length; ++i)
        out[i] = byteAt(address + i);
    return out;
}

void NorFlashModel::poke(uint32_t address, const std::vector<uint8_t>& bytes)
{
    std::lock_guard<std::mutex> lock(mutex_);
    for (size_t i = 0; i < bytes.size(); ++i)
        setByte(static_cast<uint32_t>(address + i), bytes[i]);
    // Persist in pieces that do not run past the end of the flash.
    uint32_t done = 0;
    const uint32_t total = static_cast<uint32_t>(std::min<size_t>(bytes.size(), kSize));
    while (done < total) {
        const uint32_t a = (address + done) % kSize;
        const uint32_t n = std::min(total - done, kSize - a);
        persist(a, n);
        done += n;
    }
}

void NorFlashModel::setStuckBusy(bool stuck)
{
    std::lock_guard<std::mutex> lock(mutex_);
    stuckBusy_ = stuck;
}

void NorFlashModel::setTimes(const Times& times)
{
    std::lock_guard<std::mutex> lock(mutex_);
    times_ = times;
}

void NorFlashModel::setUniqueId(const std::array<uint8_t, 8>& uid)
{
    std::lock_guard<std::mutex> lock(mutex_);
    uid_ = uid;
}

std::array<uint8_t, 8> NorFlashModel::uniqueId() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return uid_;
}

NorFlashModel::Counters NorFlashModel::counters() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return counters_;
}

bool NorFlashModel::writeEnabled() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return wel_;
}

bool NorFlashModel::busy() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return busyLocked();
}

// The file is an image of the whole flash, made (erased) the first time
// something is written, so that a flash never written needs no file.
void NorFlashModel::persist(uint32_t address, uint32_t length)
{
    if (file_.empty() || length == 0)
        return;
    const int fd = ::open(file_.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0)
        return;
    if (!fileReady_) {
        struct stat st;
        if (::fstat(fd, &st) != 0 || st.st_size != static_cast<off_t>(kSize)) {
            std::vector<uint8_t> erased(0x10000, 0xFF);
            for (uint32_t off = 0; off < kSize; off += 0x10000) {
                if (::pwrite(fd, erased.data(), erased.size(), off) != static_cast<ssize_t>(erased.size())) {
                    ::close(fd);
                    return;
                }
            }
        }
        fileReady_ = true;
    }
    std::vector<uint8_t> bytes(length);
    for (uint32_t i = 0; i < length; ++i)
        bytes[i] = byteAt(address + i);
    const ssize_t written = ::pwrite(fd, bytes.data(), length, address);
    (void)written;
    ::close(fd);
}

void NorFlashModel::load()
{
    if (file_.empty())
        return;
    const int fd = ::open(file_.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return;
    std::vector<uint8_t> sector(kSectorSize);
    for (uint32_t s = 0; s < kSize / kSectorSize; ++s) {
        const ssize_t n = ::pread(fd, sector.data(), kSectorSize, static_cast<off_t>(s) * kSectorSize);
        if (n <= 0)
            break;
        if (std::all_of(sector.begin(), sector.begin() + n, [](uint8_t b) { return b == 0xFF; }))
            continue;
        auto copy = std::make_unique<std::array<uint8_t, kSectorSize>>();
        copy->fill(0xFF);
        std::memcpy(copy->data(), sector.data(), static_cast<size_t>(n));
        sectors_[s] = std::move(copy);
    }
    struct stat st;
    fileReady_ = ::fstat(fd, &st) == 0 && st.st_size == static_cast<off_t>(kSize);
    ::close(fd);
}

} // namespace sim
