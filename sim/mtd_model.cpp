#include "sim/mtd_model.h"

#include "platform/board_root.h"
#include "sim/board.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <algorithm>
#include <vector>

namespace sim {

MtdModel::MtdModel()
{
    // NAND partitions of the board: 128 KiB blocks, 2 KiB pages.
    parts_["/dev/mtd8"] = Partition{0x100000, 0x20000, 0x800};    // start-up logo
    parts_["/dev/mtd10"] = Partition{0x500000, 0x20000, 0x800};   // kernel
}

bool MtdModel::lookup(const std::string& node, Partition& out) const
{
    auto it = parts_.find(node);
    if (it == parts_.end())
        return false;
    out = it->second;
    return true;
}

bool MtdModel::createFiles() const
{
    if (!boardRootUsable())
        return false;   // never the machine's own /dev
    bool ok = true;
    for (const auto& p : parts_) {
        const std::string path = platform::boardPath(p.first);
        struct stat st;
        if (::lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode)
            && static_cast<uint64_t>(st.st_size) == p.second.size)
            continue;   // keep what an earlier run wrote
        if (::lstat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) {
            ok = false;   // a link or folder in the way: leave it alone
            continue;
        }
        const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0644);
        if (fd < 0) {
            ok = false;
            continue;
        }
        const std::vector<uint8_t> blank(0x10000, 0xFF);
        uint32_t done = 0;
        while (done < p.second.size) {
            const size_t chunk = std::min<size_t>(blank.size(), p.second.size - done);
            const ssize_t n = ::write(fd, blank.data(), chunk);
            if (n <= 0) {
                if (n < 0 && errno == EINTR)
                    continue;
                ok = false;
                break;
            }
            done += static_cast<uint32_t>(n);
        }
        if (::close(fd) < 0)
            ok = false;
    }
    return ok;
}

void MtdModel::setFault(const std::string& node, Fault fault)
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (fault == Fault::None)
        faults_.erase(node);
    else
        faults_[node] = fault;
}

MtdModel::Fault MtdModel::fault(const std::string& node) const
{
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = faults_.find(node);
    return it == faults_.end() ? Fault::None : it->second;
}

uint32_t MtdModel::eraseCount(const std::string& node) const
{
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = erases_.find(node);
    return it == erases_.end() ? 0 : it->second;
}

void MtdModel::countErase(const std::string& node)
{
    std::lock_guard<std::mutex> lock(mutex_);
    ++erases_[node];
}

} // namespace sim
