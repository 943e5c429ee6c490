#include "format/sector_bytes.h"

#include <cmath>
#include <limits>

namespace ufd {

std::optional<int32_t> RoundInt32(double value) {
    if (!std::isfinite(value)) {
        return std::nullopt;
    }
    double whole = std::floor(value);
    const double fraction = value - whole;
    if (fraction > 0.5 || (fraction == 0.5 && std::fmod(whole, 2.0) != 0.0)) {
        whole += 1.0;
    }
    if (whole < std::numeric_limits<int32_t>::min() ||
        whole > std::numeric_limits<int32_t>::max()) {
        return std::nullopt;
    }
    return static_cast<int32_t>(whole);
}

namespace {

void StoreLe(std::span<uint8_t> bytes, size_t offset, Calc value, int width) {
    const auto count = static_cast<size_t>(width);
    if (!value || *value < 0 || offset + count > bytes.size()) {
        return;
    }
    const auto v = static_cast<uint64_t>(*value);
    if (width < 8 && (v >> (8 * width)) != 0) {
        return;
    }
    for (size_t i = 0; i < count; ++i) {
        bytes[offset + i] = static_cast<uint8_t>(v >> (8 * i));
    }
}

} // namespace

void StoreByte(std::span<uint8_t> bytes, size_t offset, Calc value) {
    StoreLe(bytes, offset, value, 1);
}
void StoreLe16(std::span<uint8_t> bytes, size_t offset, Calc value) {
    StoreLe(bytes, offset, value, 2);
}
void StoreLe32(std::span<uint8_t> bytes, size_t offset, Calc value) {
    StoreLe(bytes, offset, value, 4);
}

} // namespace ufd
