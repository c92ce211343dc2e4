// A byte image of a memory or flash, held in 4 KiB chunks that exist only
// once something other than the fill byte was stored in them. With a file
// the image is written through on every change; the file keeps every byte
// XOR the fill byte, so that the holes of a sparse file read back as the
// fill and an image that is mostly untouched costs almost no disk.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace sim {

class SparseImage {
public:
    static constexpr uint32_t kChunk = 0x1000;

    // size: bytes (a multiple of kChunk); file: "" for an image in memory.
    SparseImage(uint32_t size, uint8_t fill, std::string file = std::string());
    ~SparseImage();
    SparseImage(const SparseImage&) = delete;
    SparseImage& operator=(const SparseImage&) = delete;

    uint32_t size() const { return size_; }
    uint8_t fillByte() const { return fill_; }
    // Whether the image file existed when the image was made.
    bool fileExisted() const { return fileExisted_; }

    // Every operation stays inside the image: the part of a range beyond
    // the end is ignored. They return the bytes handled.
    uint8_t get(uint32_t address);
    uint32_t read(uint32_t address, uint8_t* out, uint32_t length);
    uint32_t write(uint32_t address, const uint8_t* data, uint32_t length);
    // NOR programming: every stored byte becomes byte AND data.
    uint32_t andWrite(uint32_t address, const uint8_t* data, uint32_t length);
    uint32_t fill(uint32_t address, uint32_t length, uint8_t value);
    // Copies from another image (chunks that hold only the fill byte on both
    // sides are skipped, so copying an untouched area costs nothing).
    uint32_t copyFrom(SparseImage& source, uint32_t from, uint32_t to, uint32_t length);

private:
    using Chunk = std::array<uint8_t, kChunk>;
    // The chunk of an address, loaded from the file if present; null when
    // it holds only the fill byte and create is false.
    Chunk* chunk(uint32_t index, bool create);
    void persist(uint32_t index);
    uint32_t clip(uint32_t address, uint32_t length) const;
    // Applies apply(bytes, offset in the range, count) chunk by chunk and
    // writes each chunk through.
    template <typename Change>
    uint32_t change(uint32_t address, uint32_t length, Change apply);

    uint32_t size_;
    uint8_t fill_;
    std::string file_;
    int fd_ = -1;
    bool fileExisted_ = false;
    std::map<uint32_t, std::unique_ptr<Chunk>> chunks_;
    std::vector<bool> looked_;     // chunk index: the file was consulted
};

} // namespace sim
