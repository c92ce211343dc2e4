// The sending card's command page (its rule: sendcard/command_page.h).
#include "sendcard/command_page.h"

#include "core/lock_check.h"

#include <cstring>

namespace {

// Holds the page's mutex, a leaf: nothing is taken while it is held.
class PageHold {
public:
    explicit PageHold(std::mutex& m) : m_(m)
    {
        lock_check::short_lock_is_leaf("the command page");
        m_.lock();
    }
    ~PageHold() { m_.unlock(); }
    PageHold(const PageHold&) = delete;
    PageHold& operator=(const PageHold&) = delete;

private:
    std::mutex& m_;
};

} // namespace

CommandPage::CommandPage()
{
    bytes_.fill(0);
}

bool CommandPage::pc_write(unsigned offset, const unsigned char* data, unsigned count)
{
    if (!fits(offset, count))
        return false;
    PageHold hold(mutex_);
    if (count)
        std::memcpy(bytes_.data() + offset, data, count);
    for (unsigned k = 0; k < kVersionSize; ++k) {
        if (kVersionAt + k >= offset && kVersionAt + k < offset + count)
            version_shown_ &= static_cast<unsigned char>(~(1u << k));
    }
    return true;
}

bool CommandPage::pc_read(unsigned offset, unsigned char* data, unsigned count) const
{
    if (!fits(offset, count))
        return false;
    PageHold hold(mutex_);
    if (count)
        std::memcpy(data, bytes_.data() + offset, count);
    for (unsigned k = 0; k < kVersionSize; ++k) {
        const unsigned at = kVersionAt + k;
        if ((version_shown_ & (1u << k)) && at >= offset && at < offset + count)
            data[at - offset] = version_[k];
    }
    return true;
}

void CommandPage::start_bytes(unsigned offset, const unsigned char* data, unsigned count)
{
    if (!fits(offset, count))
        return;
    PageHold hold(mutex_);
    if (count)
        std::memcpy(bytes_.data() + offset, data, count);
}

void CommandPage::fpga_version(const unsigned char version[kVersionSize])
{
    PageHold hold(mutex_);
    std::memcpy(version_, version, kVersionSize);
    version_shown_ = (1u << kVersionSize) - 1;
}

CommandPage::Bytes CommandPage::take() const
{
    PageHold hold(mutex_);
    return bytes_;
}
