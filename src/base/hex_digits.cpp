#include "base/hex_digits.h"

#include <charconv>

namespace ufd {

std::string HexDigits(uint32_t value, int width) {
    char buf[8];
    const auto end = std::to_chars(buf, buf + sizeof buf, value, 16).ptr;
    std::string digits(buf, end);
    for (char& c : digits) {
        if (c >= 'a' && c <= 'f') {
            c = static_cast<char>(c - 'a' + 'A');
        }
    }
    if (static_cast<int>(digits.size()) < width) {
        digits.insert(0, static_cast<size_t>(width) - digits.size(), '0');
    }
    return digits;
}

} // namespace ufd
