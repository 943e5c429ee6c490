// The media test's sector contents: a sector read back is judged its own,
// another's of the same run, or lost, whatever part of it is wrong.
#include "device/block_pattern.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <cstring>
#include <vector>

namespace ufd {
namespace {

using Sector = std::array<uint8_t, kPatternSectorBytes>;

Sector Made(uint64_t sector, uint64_t seed) {
    Sector s{};
    FillPattern(s, sector, seed);
    return s;
}

TEST(BlockPattern, JudgesWhatCameBack) {
    constexpr uint64_t kAt = 5, kSeed = 9;
    Sector ones;
    ones.fill(0xFF);
    // A header naming another sector over this one's body: neither.
    Sector lying = Made(kAt, kSeed);
    std::memcpy(lying.data(), Made(7, kSeed).data(), 24);
    const struct {
        const char* name;
        Sector read;
        SectorVerdict::Kind kind;
        uint64_t other;
    } cases[] = {
        {"its own", Made(kAt, kSeed), SectorVerdict::Kept, 0},
        {"another sector's", Made(1u << 30, kSeed), SectorVerdict::Alias, 1u << 30},
        {"its own of another run", Made(kAt, kSeed + 1), SectorVerdict::Lost, 0},
        {"zeros", Sector{}, SectorVerdict::Lost, 0},
        {"ones", ones, SectorVerdict::Lost, 0},
        {"a header that lies", lying, SectorVerdict::Lost, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const SectorVerdict v = JudgeSector(c.read, kAt, kSeed);
        EXPECT_EQ(std::pair(v.kind, v.other), std::pair(c.kind, c.other));
    }
}

// One flipped bit anywhere, in its own pattern or in another's, and the
// sector is lost.
TEST(BlockPattern, ABitFlippedAnywhereIsLost) {
    for (const uint64_t named : {uint64_t{12}, uint64_t{99}}) {
        for (size_t byte = 0; byte < kPatternSectorBytes; ++byte) {
            Sector s = Made(named, 3);
            s[byte] ^= static_cast<uint8_t>(1u << (byte % 8));
            ASSERT_EQ(JudgeSector(s, 12, 3).kind, SectorVerdict::Lost) << named << " " << byte;
        }
    }
}

// A run made at once holds each of its sectors as made alone, and no body
// word repeats between neighbours (an alias must never pass for a keep).
TEST(BlockPattern, ARunIsItsSectors) {
    constexpr uint64_t kFirst = (uint64_t{1} << 32) - 3; // across a 32-bit edge
    std::vector<uint8_t> run(8 * kPatternSectorBytes);
    FillPattern(run, kFirst, 77);
    for (uint64_t k = 0; k < 8; ++k) {
        const Sector alone = Made(kFirst + k, 77);
        ASSERT_EQ(std::memcmp(run.data() + k * kPatternSectorBytes, alone.data(), alone.size()), 0)
            << k;
        if (k > 0) {
            for (size_t w = 24; w < kPatternSectorBytes; w += 8) {
                ASSERT_NE(std::memcmp(run.data() + k * kPatternSectorBytes + w,
                                      run.data() + (k - 1) * kPatternSectorBytes + w, 8),
                          0)
                    << k << " " << w;
            }
        }
    }
}

} // namespace
} // namespace ufd
