// The MTD partitions as files under the board root (/dev/mtd8 logo,
// /dev/mtd10 kernel): fixed geometry, erase to 0xFF, raw writes, and
// injectable failures of each request. As on real flash a write can only
// clear bits: what was written over unerased data reads back as the AND of
// the two.
#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <string>

namespace sim {

class MtdModel {
public:
    struct Partition {
        uint32_t size = 0;
        uint32_t erasesize = 0;
        uint32_t writesize = 0;
    };
    enum class Fault { None, GetInfo, Unlock, Erase, Write };

    MtdModel();

    // The partitions of the board by node ("/dev/mtd8").
    const std::map<std::string, Partition>& partitions() const { return parts_; }
    bool lookup(const std::string& node, Partition& out) const;
    // Creates the backing files (all 0xFF) when missing.
    bool createFiles() const;

    // Makes the given request fail on a node (Fault::None clears it).
    void setFault(const std::string& node, Fault fault);
    Fault fault(const std::string& node) const;

    // Counters of the requests that reached a node (for tests).
    uint32_t eraseCount(const std::string& node) const;
    void countErase(const std::string& node);

private:
    mutable std::mutex mutex_;
    std::map<std::string, Partition> parts_;
    std::map<std::string, Fault> faults_;
    std::map<std::string, uint32_t> erases_;
};

} // namespace sim
