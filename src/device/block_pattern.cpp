#include "device/block_pattern.h"

#include <array>
#include <bit>
#include <cstring>

namespace ufd {

namespace {

constexpr uint64_t kMagic = 0x5446'4C41'5348'4446ULL; // names a pattern sector
constexpr size_t kWords = kPatternSectorBytes / 8;
constexpr size_t kHeaderWords = 3; // magic, address, seed

uint64_t AsLe(uint64_t v) {
    return std::endian::native == std::endian::little ? v : __builtin_bswap64(v);
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

// A sector of the run as words in drive order: the run's fixed words, XORed
// with the sector's key where `key` is set and with its address where
// `address` is. The body is drawn once per seed and each sector XORs it with
// one word drawn from its address, so no two sectors share a body word. The
// sweep makes and judges every sector of the drive, at the drive's speed or
// better: a sector is a few vector operations over words held in registers,
// made or compared in one pass without a copy in between.
struct Run {
    std::array<uint64_t, kWords> fixed{};
    std::array<uint64_t, kWords> key{};
    std::array<uint64_t, kWords> address{};
    uint64_t seed = 0;
};

Run MakeRun(uint64_t seed) {
    Run r;
    r.seed = seed;
    r.fixed[0] = AsLe(kMagic);
    r.fixed[2] = AsLe(seed);
    r.address[1] = ~uint64_t{0};
    uint64_t x = seed;
    for (size_t i = kHeaderWords; i < kWords; ++i) {
        x += 0x9E37'79B9'7F4A'7C15ULL;
        r.fixed[i] = AsLe(SplitMix(x));
        r.key[i] = ~uint64_t{0};
    }
    return r;
}

const Run& RunOf(uint64_t seed) {
    thread_local Run run = MakeRun(0);
    if (run.seed != seed) {
        run = MakeRun(seed);
    }
    return run;
}

uint64_t KeyOf(uint64_t sector, uint64_t seed) {
    return AsLe(SplitMix(seed ^ (sector * 0x9E37'79B9'7F4A'7C15ULL)));
}

// The restrict pointers let the compiler keep the run's words apart from the
// sector's bytes, so both loops vectorise.
void MakeOne(uint8_t* __restrict out, const Run& __restrict r, uint64_t sector) {
    const uint64_t key = KeyOf(sector, r.seed), address = AsLe(sector);
    for (size_t i = 0; i < kWords; ++i) {
        const uint64_t w = r.fixed[i] ^ (key & r.key[i]) ^ (address & r.address[i]);
        std::memcpy(out + 8 * i, &w, sizeof w);
    }
}

bool IsPatternOf(const uint8_t* __restrict read, const Run& __restrict r, uint64_t sector) {
    const uint64_t key = KeyOf(sector, r.seed), address = AsLe(sector);
    uint64_t diff = 0;
    for (size_t i = 0; i < kWords; ++i) {
        uint64_t w = 0;
        std::memcpy(&w, read + 8 * i, sizeof w);
        diff |= w ^ r.fixed[i] ^ (key & r.key[i]) ^ (address & r.address[i]);
    }
    return diff == 0;
}

} // namespace

void FillPattern(std::span<uint8_t> data, uint64_t first, uint64_t seed) {
    const Run& r = RunOf(seed);
    for (size_t at = 0; at + kPatternSectorBytes <= data.size(); at += kPatternSectorBytes) {
        MakeOne(data.data() + at, r, first + at / kPatternSectorBytes);
    }
}

SectorVerdict JudgeSector(std::span<const uint8_t> read, uint64_t sector, uint64_t seed) {
    if (read.size() < kPatternSectorBytes) {
        return {SectorVerdict::Lost, 0};
    }
    const Run& r = RunOf(seed);
    if (IsPatternOf(read.data(), r, sector)) {
        return {SectorVerdict::Kept, 0};
    }
    const uint64_t named = Le64(read.data() + 8);
    if (Le64(read.data()) == kMagic && Le64(read.data() + 16) == seed && named != sector &&
        IsPatternOf(read.data(), r, named)) {
        return {SectorVerdict::Alias, named};
    }
    return {SectorVerdict::Lost, 0};
}

} // namespace ufd
