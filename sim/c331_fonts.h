// The OSD fonts of the simulated chip flash. They are made here, not taken
// from any font file: each glyph is a frame with the bits of its character
// code drawn inside, so that a test can tell glyphs apart and check where
// each one landed. A font area starts with its 35-byte header (type mark
// "P" in byte 0, encoding in byte 5, width and height in bytes 17 and 18);
// the glyphs follow at byte 35, 1 bit per pixel, least significant bit
// leftmost. The ASCII fonts are complete (U+0020 to U+007F); of the CJK
// fonts only the first kCjkGenerated glyphs are written, the rest of their
// areas stays erased.
#pragma once

#include <cstdint>
#include <vector>

namespace sim {

class SparseImage;

namespace c331_fonts {

constexpr uint32_t kHeaderBytes = 35;
constexpr unsigned kCjkGenerated = 256;

struct FontArea {
    uint32_t address;     // flash address of the header
    bool cjk;
    unsigned pixels;      // 32 or 64
};
// In flash order: 32-pixel ASCII, 32-pixel CJK, 64-pixel ASCII, 64-pixel CJK.
extern const FontArea kAreas[4];

std::vector<uint8_t> header(const FontArea& area);
// The glyph of a character code (U+0020.. for ASCII, U+4E00.. for CJK).
std::vector<uint8_t> glyph(unsigned pixels, unsigned code);
// Flash address of a glyph of an area.
uint32_t glyphAddress(const FontArea& area, unsigned code);
// Writes the four fonts into a flash image.
void writeAll(SparseImage& flash);

} // namespace c331_fonts
} // namespace sim
