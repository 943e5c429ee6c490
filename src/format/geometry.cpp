#include "format/geometry.h"

#include <cmath>
#include <cstdint>

namespace ufd {

namespace {

// Half-to-even rounding in double, for values that may exceed int32.
double RoundHalfEven(double v) {
    double whole = std::floor(v);
    const double fraction = v - whole;
    if (fraction > 0.5 || (fraction == 0.5 && std::fmod(whole, 2.0) != 0.0)) {
        whole += 1.0;
    }
    return whole;
}

} // namespace

std::optional<EndAddress> GeometrySearch(double areaSectors) {
    if (std::isnan(areaSectors)) {
        return std::nullopt;
    }
    int heads = 2;
    double cylinders = 0;
    for (;;) {
        if (heads > kMaxHeads) {
            return std::nullopt;
        }
        cylinders = RoundHalfEven(areaSectors / (heads * 32));
        if (cylinders < 1024) {
            break;
        }
        ++heads;
    }

    EndAddress a;
    a.head = heads;
    // Integer division and remainder truncate toward zero, so a negative
    // cylinder count yields byte values that do not fit and are left alone.
    if (cylinders > INT32_MIN) {
        const auto c = static_cast<int64_t>(cylinders);
        a.sector = (c / 256) * 64 + 32;
        a.cylinder = c % 256;
    }
    return a;
}

} // namespace ufd
