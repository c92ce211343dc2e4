// Numbers and hex bytes typed by a person: the arguments of the simulated
// board's control channel and of the command-line tools (zdrlink), read
// strictly and alike everywhere.
#pragma once

#include <string>
#include <vector>

namespace sim {

// How a number was read: taken, not a number of its base at all, or a
// number beyond the largest the field holds.
enum class NumberRead { taken, notANumber, tooLarge };

// A number without a sign: digits of the base only (no sign, no blank,
// nothing after them), at most max. Base 0 reads 0x.. as hex and the rest
// as decimal (a leading 0 is no octal: "010" is ten); base 16 takes hex
// digits with or without 0x.
// out is left untouched unless the number is taken.
NumberRead readUnsigned(const std::string& text, unsigned long long max, unsigned long long& out, int base = 0);

// The same as a yes or no: false for anything but a number within 0..max.
bool parseUnsigned(const std::string& text, unsigned long long max, unsigned long long& out, int base = 0);
// The same with an optional leading '-', within min..max.
bool parseSigned(const std::string& text, long long min, long long max, long long& out, int base = 10);
// Pairs of hex digits into bytes ("0a1B" -> 0x0A 0x1B), appended to out;
// false (out untouched) for an odd count or a digit that is not hex.
bool parseHexBytes(const std::string& text, std::vector<unsigned char>& out);

} // namespace sim
