#include "sim/c331_fonts.h"

#include "sim/sparse_image.h"

namespace sim {
namespace c331_fonts {

const FontArea kAreas[4] = {
    {0x000000, false, 32},
    {0x010000, true, 32},
    {0x410000, false, 64},
    {0x450000, true, 64},
};

namespace {
constexpr unsigned kAsciiFirst = 0x20;
constexpr unsigned kAsciiCount = 96;
constexpr unsigned kCjkFirst = 0x4E00;
} // namespace

std::vector<uint8_t> header(const FontArea& area)
{
    std::vector<uint8_t> h(kHeaderBytes, 0);
    h[0] = 'P';
    h[1] = 'Z';     // made by this board's generator
    h[5] = area.cjk ? 1 : 0;
    h[17] = static_cast<uint8_t>(area.pixels);
    h[18] = static_cast<uint8_t>(area.pixels);
    return h;
}

std::vector<uint8_t> glyph(unsigned pixels, unsigned code)
{
    const unsigned rowBytes = pixels / 8;
    std::vector<uint8_t> g(rowBytes * pixels, 0);
    if (code == 0x20)
        return g;     // the space is blank
    auto set = [&](unsigned row, unsigned col) { g[row * rowBytes + col / 8] |= static_cast<uint8_t>(1u << (col % 8)); };
    for (unsigned i = 0; i < pixels; ++i) {
        set(0, i);
        set(pixels - 1, i);
        set(i, 0);
        set(i, pixels - 1);
    }
    // The 16 bits of the code, most significant first, as blocks in a 4 x 4
    // grid inside the frame.
    const unsigned cell = (pixels - 8) / 4;
    for (unsigned bit = 0; bit < 16; ++bit) {
        if (!((code >> (15 - bit)) & 1))
            continue;
        const unsigned r0 = 4 + (bit / 4) * cell;
        const unsigned c0 = 4 + (bit % 4) * cell;
        for (unsigned r = 1; r + 1 < cell; ++r)
            for (unsigned c = 1; c + 1 < cell; ++c)
                set(r0 + r, c0 + c);
    }
    return g;
}

uint32_t glyphAddress(const FontArea& area, unsigned code)
{
    const unsigned first = area.cjk ? kCjkFirst : kAsciiFirst;
    const unsigned bytes = area.pixels * area.pixels / 8;
    return area.address + kHeaderBytes + (code - first) * bytes;
}

void writeAll(SparseImage& flash)
{
    for (const FontArea& area : kAreas) {
        const std::vector<uint8_t> h = header(area);
        flash.write(area.address, h.data(), static_cast<uint32_t>(h.size()));
        const unsigned first = area.cjk ? kCjkFirst : kAsciiFirst;
        const unsigned count = area.cjk ? kCjkGenerated : kAsciiCount;
        std::vector<uint8_t> all;
        for (unsigned code = first; code < first + count; ++code) {
            const std::vector<uint8_t> g = glyph(area.pixels, code);
            all.insert(all.end(), g.begin(), g.end());
        }
        flash.write(glyphAddress(area, first), all.data(), static_cast<uint32_t>(all.size()));
    }
}

} // namespace c331_fonts
} // namespace sim
