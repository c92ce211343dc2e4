#include "sim/c331_osd_engine.h"

#include "sim/sparse_image.h"

#include <algorithm>

namespace sim {
namespace {

constexpr uint8_t kCommand = 0x08;
constexpr uint8_t kFillValue = 0x0B;
constexpr uint8_t kSource = 0x0D;
constexpr uint8_t kDest = 0x11;
constexpr uint8_t kStatus = 0x17;
constexpr uint8_t kDestPitch = 0x1B;
constexpr uint8_t kSourcePitch = 0x1C;
constexpr uint8_t kWidth = 0x1E;
constexpr uint8_t kHeight = 0x20;
constexpr uint8_t kPitchScale = 0x22;
constexpr uint8_t kFirstEntry = 0x23;
constexpr uint8_t kLastEntry = 0x24;
constexpr uint8_t kPointer = 0x27;
constexpr uint8_t kPointerHigh = 0x28;
constexpr uint8_t kData = 0x29;
constexpr uint8_t kGlyphSize = 0x2A;
constexpr uint8_t kColourIndex = 0x1F;
constexpr uint8_t kColourData = 0x20;
constexpr uint8_t kColourAccess = 0x01;
constexpr uint32_t kGlyphHeightAt = 0x0A00;
constexpr uint32_t kEntrySize = 5;

uint32_t regN(uint8_t (*regs)[128], uint8_t addr, int bytes)
{
    uint32_t v = 0;
    for (int i = bytes - 1; i >= 0; --i)
        v = (v << 8) | regs[C331OsdEngine::kBank][(addr + i) & 0x7F];
    return v;
}

} // namespace

void C331OsdEngine::written(uint8_t (*regs)[128], uint8_t bank, uint8_t addr, uint8_t value, SparseImage& memory,
                            std::vector<uint8_t>& glyphs, std::vector<uint8_t>& colours)
{
    if (bank == kColourBank) {
        if (addr == kColourIndex) {
            colourIndex_ = value;
            colourPart_ = 0;
        } else if (addr == kColourData && regs[kColourAccessBank][kColourAccess] == 1) {
            const size_t at = colourIndex_ * kEntryBytes + colourPart_;
            if (at < colours.size())
                colours[at] = value;
            if (++colourPart_ == 3) {
                colourPart_ = 0;
                ++colourIndex_;
            }
        }
        return;
    }
    if (bank != kBank)
        return;
    switch (addr) {
    case kPointer:
    case kPointerHigh:
        pointer_ = regN(regs, kPointer, 2);
        break;
    case kData:
        if (!glyphs.empty()) {
            glyphs[pointer_ % glyphs.size()] = value;
            pointer_ = (pointer_ + 1) % static_cast<uint32_t>(glyphs.size());
        }
        break;
    case kCommand:
        if (value >= 1 && value <= 3) {
            busy_ = stuck ? ~0u : busyPolls;
            if (!stuck)
                run(regs, value, memory, glyphs);
        }
        break;
    default:
        break;
    }
}

bool C331OsdEngine::read(uint8_t bank, uint8_t addr, uint8_t& value)
{
    if (bank != kBank || addr != kStatus)
        return false;
    value = busy_ ? 1 : 0;
    if (busy_ && busy_ != ~0u)
        --busy_;
    return true;
}

void C331OsdEngine::run(uint8_t (*regs)[128], int command, SparseImage& memory, const std::vector<uint8_t>& glyphs)
{
    const uint8_t scale = regs[kBank][kPitchScale];
    const uint32_t destPitch = regs[kBank][kDestPitch] * 128u * ((scale & 0x10) ? 4u : 1u);
    const uint32_t sourcePitch = regs[kBank][kSourcePitch] * 128u * ((scale & 0x20) ? 4u : 1u);
    const uint32_t dest = regN(regs, kDest, 4);
    const uint32_t source = regN(regs, kSource, 4);
    const uint32_t w = regN(regs, kWidth, 2) + 1;
    const uint32_t h = regN(regs, kHeight, 2) + 1;
    if (command == 1) {
        const uint8_t fill = static_cast<uint8_t>(regN(regs, kFillValue, 2));
        for (uint32_t y = 0; y < h; ++y)
            memory.fill(dest + y * destPitch, w, fill);
        ops_.push_back({1, 0, dest, w, h});
        return;
    }
    if (command == 2) {
        std::vector<uint8_t> line(w);
        for (uint32_t y = 0; y < h; ++y) {
            memory.read(source + y * sourcePitch, line.data(), w);
            memory.write(dest + y * destPitch, line.data(), w);
        }
        ops_.push_back({2, source, dest, w, h});
        return;
    }
    // Glyph string.
    const unsigned size = (regs[kBank][kGlyphSize] & 0x40) ? 64 : 32;
    const uint32_t glyphBytes = size * size / 8;
    const unsigned rowBytes = size / 8;
    auto at = [&](uint32_t i) { return i < glyphs.size() ? glyphs[i] : uint8_t{0}; };
    const unsigned height = std::min<unsigned>(at(kGlyphHeightAt), size);
    const unsigned first = regs[kBank][kFirstEntry];
    const unsigned last = regs[kBank][kLastEntry];
    uint32_t x = 0;
    std::vector<uint8_t> bits(glyphBytes);
    std::vector<uint8_t> row;
    for (unsigned e = first; e <= last; ++e) {
        const uint32_t p = e * kEntrySize;
        const uint32_t index = at(p) | (at(p + 1) << 8);
        const uint8_t fg = at(p + 2), bg = at(p + 3);
        const unsigned advance = at(p + 4);
        memory.read(source + index * glyphBytes, bits.data(), glyphBytes);
        row.assign(advance, bg);
        for (unsigned y = 0; y < height; ++y) {
            for (unsigned c = 0; c < advance && c < size; ++c)
                row[c] = (bits[y * rowBytes + c / 8] >> (c % 8)) & 1 ? fg : bg;
            if (advance)
                memory.write(dest + y * destPitch + x, row.data(), advance);
        }
        x += advance;
    }
    ops_.push_back({3, source, dest, last >= first ? last - first + 1 : 0, height});
}

} // namespace sim
