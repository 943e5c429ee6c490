// The cylinder/head/sector end address of a partition entry. The geometry
// always has 32 sectors per track; the head count grows from 2 until the
// cylinder count fits in 10 bits.
#pragma once

#include "format/sector_bytes.h"

#include <optional>

namespace ufd {

// The raw byte values of an end address. A value may still not fit its byte
// (a negative area, or more than 255 heads); the writer then leaves the byte.
struct EndAddress {
    Calc head;
    Calc sector;   // sector number in bits 0..5, cylinder bits 8..9 in bits 6..7
    Calc cylinder; // cylinder bits 0..7
};

inline constexpr int kMaxHeads = 1023; // heads x 32 must fit an int16

// nullopt when the search would need more than kMaxHeads heads (from
// 33,505,296 sectors on) or the size is not a number.
std::optional<EndAddress> GeometrySearch(double areaSectors);

} // namespace ufd
