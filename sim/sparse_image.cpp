#include "sim/sparse_image.h"

#include <algorithm>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace sim {

SparseImage::SparseImage(uint32_t size, uint8_t fill, std::string file)
    : size_(size - size % kChunk), fill_(fill), file_(std::move(file)), looked_(size_ / kChunk, false)
{
    if (file_.empty())
        return;
    struct stat st {};
    fileExisted_ = ::stat(file_.c_str(), &st) == 0;
    fd_ = ::open(file_.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd_ >= 0 && ::ftruncate(fd_, static_cast<off_t>(size_)) != 0) {
        ::close(fd_);
        fd_ = -1;
    }
}

SparseImage::~SparseImage()
{
    if (fd_ >= 0)
        ::close(fd_);
}

uint32_t SparseImage::clip(uint32_t address, uint32_t length) const
{
    if (address >= size_)
        return 0;
    return std::min(length, size_ - address);
}

SparseImage::Chunk* SparseImage::chunk(uint32_t index, bool create)
{
    auto it = chunks_.find(index);
    if (it != chunks_.end())
        return it->second.get();
    if (!looked_[index]) {
        looked_[index] = true;
        if (fd_ >= 0 && fileExisted_) {
            auto c = std::make_unique<Chunk>();
            const ssize_t n = ::pread(fd_, c->data(), kChunk, static_cast<off_t>(index) * kChunk);
            if (n == static_cast<ssize_t>(kChunk) &&
                std::any_of(c->begin(), c->end(), [](uint8_t b) { return b != 0; })) {
                for (uint8_t& b : *c)
                    b ^= fill_;
                return (chunks_[index] = std::move(c)).get();
            }
        }
    }
    if (!create)
        return nullptr;
    auto c = std::make_unique<Chunk>();
    c->fill(fill_);
    return (chunks_[index] = std::move(c)).get();
}

void SparseImage::persist(uint32_t index)
{
    if (fd_ < 0)
        return;
    Chunk out;
    auto it = chunks_.find(index);
    if (it == chunks_.end())
        out.fill(0);
    else
        for (uint32_t i = 0; i < kChunk; ++i)
            out[i] = (*it->second)[i] ^ fill_;
    if (::pwrite(fd_, out.data(), kChunk, static_cast<off_t>(index) * kChunk) != static_cast<ssize_t>(kChunk))
        return;   // the image in memory stays right; the file lags
}

uint8_t SparseImage::get(uint32_t address)
{
    uint8_t b = fill_;
    read(address, &b, 1);
    return b;
}

uint32_t SparseImage::read(uint32_t address, uint8_t* out, uint32_t length)
{
    const uint32_t total = clip(address, length);
    for (uint32_t done = 0; done < total;) {
        const uint32_t a = address + done;
        const uint32_t n = std::min(total - done, kChunk - a % kChunk);
        const Chunk* c = chunk(a / kChunk, false);
        if (c)
            std::memcpy(out + done, c->data() + a % kChunk, n);
        else
            std::memset(out + done, fill_, n);
        done += n;
    }
    return total;
}

template <typename Change>
uint32_t SparseImage::change(uint32_t address, uint32_t length, Change apply)
{
    const uint32_t total = clip(address, length);
    for (uint32_t done = 0; done < total;) {
        const uint32_t a = address + done;
        const uint32_t n = std::min(total - done, kChunk - a % kChunk);
        Chunk* c = chunk(a / kChunk, true);
        apply(c->data() + a % kChunk, done, n);
        persist(a / kChunk);
        done += n;
    }
    return total;
}

uint32_t SparseImage::write(uint32_t address, const uint8_t* data, uint32_t length)
{
    return change(address, length,
                  [data](uint8_t* to, uint32_t done, uint32_t n) { std::memcpy(to, data + done, n); });
}

uint32_t SparseImage::andWrite(uint32_t address, const uint8_t* data, uint32_t length)
{
    return change(address, length, [data](uint8_t* to, uint32_t done, uint32_t n) {
        for (uint32_t i = 0; i < n; ++i)
            to[i] &= data[done + i];
    });
}

uint32_t SparseImage::fill(uint32_t address, uint32_t length, uint8_t value)
{
    const uint32_t total = clip(address, length);
    for (uint32_t done = 0; done < total;) {
        const uint32_t a = address + done;
        const uint32_t n = std::min(total - done, kChunk - a % kChunk);
        const uint32_t index = a / kChunk;
        if (value == fill_ && n == kChunk) {
            looked_[index] = true;
            chunks_.erase(index);     // a whole chunk back to the fill: a hole again
        } else {
            Chunk* c = chunk(index, true);
            std::memset(c->data() + a % kChunk, value, n);
        }
        persist(index);
        done += n;
    }
    return total;
}

uint32_t SparseImage::copyFrom(SparseImage& source, uint32_t from, uint32_t to, uint32_t length)
{
    const uint32_t total = std::min(source.clip(from, length), clip(to, length));
    uint8_t buf[kChunk];
    for (uint32_t done = 0; done < total;) {
        const uint32_t s = from + done;
        const uint32_t d = to + done;
        const uint32_t n = std::min({total - done, kChunk - s % kChunk, kChunk - d % kChunk});
        const bool sourceEmpty = source.chunk(s / kChunk, false) == nullptr;
        const bool targetEmpty = chunk(d / kChunk, false) == nullptr;
        if (!(sourceEmpty && targetEmpty && source.fill_ == fill_)) {
            source.read(s, buf, n);
            write(d, buf, n);
        }
        done += n;
    }
    return total;
}

} // namespace sim
