// The media test's sector contents: each sector names itself (its address
// and the run's seed) and carries pseudo-random bytes drawn from both, so a
// sector read back is recognised as itself, as another sector of this run
// (the flash aliases addresses) or as neither (the flash lost it).
#pragma once

#include <cstdint>
#include <span>

namespace ufd {

inline constexpr uint32_t kPatternSectorBytes = 512;

// Fills each sector of `data` with the pattern of first, first + 1, ...
void FillPattern(std::span<uint8_t> data, uint64_t first, uint64_t seed);

struct SectorVerdict {
    enum Kind { Kept, Alias, Lost } kind = Kept;
    uint64_t other = 0; // Alias: the sector whose pattern came back
};

// Judges one 512-byte sector read back from address `sector`.
SectorVerdict JudgeSector(std::span<const uint8_t> read, uint64_t sector, uint64_t seed);

} // namespace ufd
