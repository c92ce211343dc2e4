#include "sim/numbers.h"

#include <cerrno>
#include <climits>
#include <cstdlib>

namespace sim {
namespace {

bool isDigitOf(char c, int base)
{
    if (c >= '0' && c <= '9')
        return c - '0' < base;
    if (base != 16)
        return false;
    return (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

} // namespace

NumberRead readUnsigned(const std::string& text, unsigned long long max, unsigned long long& out, int base)
{
    const bool hexPrefix = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
    size_t from = 0;
    int digits = base;
    if (base == 0) {
        digits = hexPrefix ? 16 : 10;
        from = hexPrefix ? 2 : 0;
    } else if (base == 16 && hexPrefix) {
        from = 2;
    }
    if (text.size() <= from)
        return NumberRead::notANumber;
    for (size_t i = from; i < text.size(); ++i) {
        if (!isDigitOf(text[i], digits))
            return NumberRead::notANumber;
    }
    errno = 0;
    const unsigned long long v = std::strtoull(text.c_str() + from, nullptr, digits);
    if (errno != 0 || v > max)
        return NumberRead::tooLarge;
    out = v;
    return NumberRead::taken;
}

bool parseUnsigned(const std::string& text, unsigned long long max, unsigned long long& out, int base)
{
    return readUnsigned(text, max, out, base) == NumberRead::taken;
}

bool parseSigned(const std::string& text, long long min, long long max, long long& out, int base)
{
    const bool negative = !text.empty() && text[0] == '-';
    unsigned long long magnitude = 0;
    // The magnitude of the lowest long long is one above the highest.
    if (!parseUnsigned(text.substr(negative ? 1 : 0), 1ull << 63, magnitude, base))
        return false;
    if (!negative && magnitude > static_cast<unsigned long long>(LLONG_MAX))
        return false;
    const long long v = negative ? static_cast<long long>(0 - magnitude) : static_cast<long long>(magnitude);
    if (v < min || v > max)
        return false;
    out = v;
    return true;
}

bool parseHexBytes(const std::string& text, std::vector<unsigned char>& out)
{
    if (text.size() % 2)
        return false;
    std::vector<unsigned char> bytes;
    for (size_t i = 0; i < text.size(); i += 2) {
        unsigned long long v = 0;
        if (!parseUnsigned(text.substr(i, 2), 0xFF, v, 16))
            return false;
        bytes.push_back(static_cast<unsigned char>(v));
    }
    out.insert(out.end(), bytes.begin(), bytes.end());
    return true;
}

} // namespace sim
