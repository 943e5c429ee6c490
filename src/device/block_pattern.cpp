#include "device/block_pattern.h"

#include <algorithm>
#include <cstring>

namespace ufd {

namespace {

constexpr uint64_t kMagic = 0x5446'4C41'5348'4446ULL; // names a pattern sector
constexpr size_t kHeader = 24;                        // magic, address, seed

void PutLe64(uint8_t* p, uint64_t v) {
    for (int i = 0; i < 8; ++i) {
        p[i] = static_cast<uint8_t>(v >> (8 * i));
    }
}

uint64_t Le64(const uint8_t* p) {
    uint64_t v = 0;
    for (int i = 7; i >= 0; --i) {
        v = (v << 8) | p[i];
    }
    return v;
}

void FillOne(uint8_t* p, uint64_t sector, uint64_t seed) {
    PutLe64(p, kMagic);
    PutLe64(p + 8, sector);
    PutLe64(p + 16, seed);
    // splitmix64 from address and seed: cheap, and never all zeros.
    uint64_t x = seed ^ (sector * 0x9E37'79B9'7F4A'7C15ULL);
    for (size_t at = kHeader; at < kPatternSectorBytes; at += 8) {
        x += 0x9E37'79B9'7F4A'7C15ULL;
        uint64_t z = x;
        z = (z ^ (z >> 30)) * 0xBF58'476D'1CE4'E5B9ULL;
        z = (z ^ (z >> 27)) * 0x94D0'49BB'1331'11EBULL;
        PutLe64(p + at, z ^ (z >> 31));
    }
}

bool IsPatternOf(std::span<const uint8_t> read, uint64_t sector, uint64_t seed) {
    uint8_t want[kPatternSectorBytes];
    FillOne(want, sector, seed);
    return std::memcmp(read.data(), want, kPatternSectorBytes) == 0;
}

} // namespace

void FillPattern(std::span<uint8_t> data, uint64_t first, uint64_t seed) {
    for (size_t at = 0; at + kPatternSectorBytes <= data.size(); at += kPatternSectorBytes) {
        FillOne(data.data() + at, first + at / kPatternSectorBytes, seed);
    }
}

SectorVerdict JudgeSector(std::span<const uint8_t> read, uint64_t sector, uint64_t seed) {
    if (read.size() < kPatternSectorBytes) {
        return {SectorVerdict::Lost, 0};
    }
    if (IsPatternOf(read, sector, seed)) {
        return {SectorVerdict::Kept, 0};
    }
    const uint64_t named = Le64(read.data() + 8);
    if (Le64(read.data()) == kMagic && Le64(read.data() + 16) == seed && named != sector &&
        IsPatternOf(read, named, seed)) {
        return {SectorVerdict::Alias, named};
    }
    return {SectorVerdict::Lost, 0};
}

} // namespace ufd
