#include "device/block_pattern.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>

namespace ufd {

namespace {

constexpr uint64_t kMagic = 0x5446'4C41'5348'4446ULL; // names a pattern sector
constexpr size_t kHeader = 24;                        // magic, address, seed

// One store and one load per word: the sweep makes and judges every sector
// it moves, so these run for every 8 bytes of the drive.
uint64_t AsLe(uint64_t v) {
    return std::endian::native == std::endian::little ? v : __builtin_bswap64(v);
}

void PutLe64(uint8_t* p, uint64_t v) {
    v = AsLe(v);
    std::memcpy(p, &v, sizeof v);
}

uint64_t Le64(const uint8_t* p) {
    uint64_t v = 0;
    std::memcpy(&v, p, sizeof v);
    return AsLe(v);
}

uint64_t SplitMix(uint64_t x) {
    x = (x ^ (x >> 30)) * 0xBF58'476D'1CE4'E5B9ULL;
    x = (x ^ (x >> 27)) * 0x94D0'49BB'1331'11EBULL;
    return x ^ (x >> 31);
}

constexpr size_t kBodyWords = (kPatternSectorBytes - kHeader) / 8;

// The run's body: drawn once per seed. A sector's body is it XORed with one
// word drawn from the sector's address, so no two sectors share a body word,
// and making a sector costs about a copy (the sweep makes and judges every
// sector of the drive, at the drive's speed or better).
const std::array<uint64_t, kBodyWords>& BodyOf(uint64_t seed) {
    thread_local uint64_t madeFor = 0;
    thread_local bool made = false;
    thread_local std::array<uint64_t, kBodyWords> body{};
    if (!made || madeFor != seed) {
        uint64_t x = seed;
        for (uint64_t& w : body) {
            x += 0x9E37'79B9'7F4A'7C15ULL;
            w = SplitMix(x);
        }
        madeFor = seed;
        made = true;
    }
    return body;
}

void FillOne(uint8_t* p, uint64_t sector, uint64_t seed) {
    PutLe64(p, kMagic);
    PutLe64(p + 8, sector);
    PutLe64(p + 16, seed);
    const uint64_t key = SplitMix(seed ^ (sector * 0x9E37'79B9'7F4A'7C15ULL));
    const auto& body = BodyOf(seed);
    for (size_t i = 0; i < kBodyWords; ++i) {
        PutLe64(p + kHeader + 8 * i, body[i] ^ key);
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
