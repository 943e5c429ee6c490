// Storing computed values into sector bytes. A value that does not fit its
// field leaves the field as it was, and the writers still send the sector (a
// failed calculation never stops a write): every drive gets the commands of
// the original station in its order, so a volume is laid down the same way
// on every station of the line.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

namespace ufd {

// A computed number, or nullopt when the computation itself failed.
using Calc = std::optional<int64_t>;

// Rounds to the nearest whole number, halves to even; nullopt when the result
// is not finite or outside int32.
std::optional<int32_t> RoundInt32(double value);

// Each stores only when the value fits the field (0..255, 0..65535,
// 0..4294967295); otherwise the bytes keep their value.
void StoreByte(std::span<uint8_t> bytes, size_t offset, Calc value);
void StoreLe16(std::span<uint8_t> bytes, size_t offset, Calc value);
void StoreLe32(std::span<uint8_t> bytes, size_t offset, Calc value);

} // namespace ufd
