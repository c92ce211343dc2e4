// Little-endian fields in byte arrays (the parameter block, user-mode slots,
// files and wire frames). Never cast a struct over such an array.
#pragma once

#include <cstddef>
#include <cstdint>

inline uint16_t le16(const unsigned char* base, size_t offset)
{
    return static_cast<uint16_t>(base[offset] | (base[offset + 1] << 8));
}

inline void setLe16(unsigned char* base, size_t offset, uint16_t value)
{
    base[offset] = static_cast<unsigned char>(value & 0xFF);
    base[offset + 1] = static_cast<unsigned char>(value >> 8);
}

inline uint32_t le32(const unsigned char* base, size_t offset)
{
    return static_cast<uint32_t>(base[offset]) | (static_cast<uint32_t>(base[offset + 1]) << 8) |
           (static_cast<uint32_t>(base[offset + 2]) << 16) | (static_cast<uint32_t>(base[offset + 3]) << 24);
}

inline void setLe32(unsigned char* base, size_t offset, uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        base[offset + i] = static_cast<unsigned char>(value >> (8 * i));
}
