// The one way a code or a byte is written in hexadecimal for a person: upper
// case, zero-padded to a width but never cut.
#pragma once

#include <cstdint>
#include <string>

namespace ufd {

// "9A" for (0x9A, 2), "0007" for (7, 4), "1234" for (0x1234, 2).
std::string HexDigits(uint32_t value, int width);

} // namespace ufd
