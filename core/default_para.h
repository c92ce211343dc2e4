// The built-in default parameter image, laid out as /data/ram_device_info:
// bytes 0 and 1 are 0xAA 0xAA, byte j (2 to 3329) is the default of block
// offset j + 766, bytes 3330 to 4095 are 0.
#pragma once

#include <array>

using DefaultParaImage = std::array<unsigned char, 4096>;

const DefaultParaImage& defaultParaImage();

// Block offset b of the default parameters sits at image byte b - 766.
constexpr int kDefaultImageShift = 766;
