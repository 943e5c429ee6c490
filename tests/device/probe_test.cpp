// The capacity probe and the surface sweep against the simulator's flash
// model in memory: each kind of flash found for what it is, at any size,
// with a few MiB moved and every probed sector zero again.
#include "device/flash_probe.h"
#include "device/surface_sweep.h"
#include "flash_drive.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
#include <map>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

namespace ufd {
namespace {

using quorlink::sim::FlashModel;
using quorlink::sim::FlashProfile;

using test::FlashDrive;

constexpr uint64_t k64GiB = 134217728, k1GiB = 2097152, k1TiB = uint64_t{1} << 31;

FlashProfile Keeps(uint64_t sectors) {
    FlashProfile f;
    f.flashSectors = sectors;
    return f;
}
FlashProfile Limbo(uint64_t sectors) {
    FlashProfile f;
    f.flashSectors = sectors;
    f.fake = quorlink::sim::FakeKind::Limbo;
    return f;
}
FlashProfile Behind(FlashProfile f, uint64_t cache) {
    f.cacheSectors = cache;
    return f;
}
FlashProfile Bad(std::vector<uint64_t> sectors) {
    FlashProfile f;
    f.badSectors = std::move(sectors);
    return f;
}

// What the probe may move: twice the cache it pushes out of the way, plus
// 64 MiB for every 64 GiB (or part of them) of the drive.
uint64_t CostBound(uint64_t sectors) {
    const uint64_t parts = (sectors + k64GiB - 1) / k64GiB;
    return 2 * kProbeCacheSectors * 512 + parts * (64u << 20);
}

TEST(FlashProbe, FindsWhatTheFlashKeeps) {
    struct Case {
        const char* name;
        uint64_t sectors;
        FlashProfile flash;
        uint64_t kept, lost = 0;
        uint64_t failAt = UINT64_MAX; // a transfer covering it fails
    };
    const Case cases[] = {
        {"64 GiB over 8 GiB", k64GiB, Keeps(k64GiB / 8), k64GiB / 8},
        {"1 GiB over 256 MiB", k1GiB, Keeps(k1GiB / 4), k1GiB / 4},
        {"wraps at an odd size", k1GiB, Keeps(1234567), 1234567},
        {"wraps between two single sectors", k1GiB, Keeps(1050330), 1050330},
        {"a few sectors short", k1GiB, Keeps(k1GiB - 3), k1GiB - 3},
        {"wraps inside the low run", k1GiB, Keeps(100), 100},
        {"drops past its end", k1GiB, Limbo(777777), 777777},
        {"drops inside the top run", k1GiB, Limbo(k1GiB - 5), k1GiB - 5},
        {"drops inside the low run", k1GiB, Limbo(1000), 1000},
        // The top run leaves a cache a little over a flush stage before the
        // low run does: the flush goes on until that has left too.
        {"drops low, cache just over a stage", k1GiB, Behind(Limbo(1000), 72000), 1000},
        {"wraps low, cache just over a stage", k1GiB, Behind(Keeps(5000), 72536), 5000},
        {"tiny drive", 40, Keeps(17), 17},
        {"a bad sector it probes", k1GiB, Bad({5}), k1GiB, 1},
        // A last sector that does not keep its data is a bad sector, not a
        // flash one sector short, also where the station's addresses end.
        {"a bad last sector", k1GiB, Bad({k1GiB - 1}), k1GiB, 1},
        {"a bad last sector of 2^31", k1TiB, Bad({k1TiB - 1}), k1TiB, 1},
        {"pulled mid-probe", k1GiB, {}, 0, 0, k1GiB - 10},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FlashDrive drive(c.flash, c.sectors, c.failAt);
        const ProbeResult r = ProbeFlash(drive, c.sectors, 42);
        EXPECT_EQ(r.ioFailed, c.failAt != UINT64_MAX);
        EXPECT_EQ(r.keptSectors, c.kept);
        EXPECT_EQ(r.lost, c.lost);
        if (!r.ioFailed && c.flash.badSectors.empty()) { // a bad sector keeps no zeros either
            EXPECT_TRUE(drive.model.flush(drive.store) && drive.store.AllZero())
                << "a probed sector keeps its pattern";
        }
        EXPECT_LE(r.bytesMoved, CostBound(c.sectors)) << r.bytesMoved;
    }
}

using quorlink::sim::FakeKind;
using quorlink::sim::PastEnd;

struct Kind {
    const char* name; // also the repeats' test names
    FakeKind fake;
    PastEnd pastEnd;
    bool genuine = false;
};

constexpr Kind kKinds[] = {
    {"genuine", FakeKind::Wrap, PastEnd::Zeros, true},
    {"wrap", FakeKind::Wrap, PastEnd::Zeros},
    {"limbo_zeros", FakeKind::Limbo, PastEnd::Zeros},
    {"limbo_ones", FakeKind::Limbo, PastEnd::Ones},
    {"limbo_stale", FakeKind::Limbo, PastEnd::Stale},
    {"limbo_noise", FakeKind::Limbo, PastEnd::Noise},
    {"chain", FakeKind::Chain, PastEnd::Zeros},
};

// Probes one drive of `sectors` whose flash is of kind `k` (a little over a
// quarter of the drive) behind `cache`, `runs` times in a row with a new
// seed each time, as a line tests a stick again: the real size to the
// sector every time, within the cost bound, every probed sector zero again
// once the cache is written out.
void ProbeInARow(const Kind& k, uint64_t sectors, uint64_t cache, int runs,
                 uint64_t cacheMost = kProbeCacheSectors, int firstRun = 0) {
    const uint64_t real = k.genuine ? sectors : sectors / 4 + 12345 % (sectors / 8);
    FlashProfile flash;
    flash.flashSectors = k.genuine ? 0 : real;
    flash.fake = k.fake;
    flash.pastEnd = k.pastEnd;
    flash.cacheSectors = cache;
    FlashDrive drive(flash, sectors);
    for (int run = firstRun; run < firstRun + runs; ++run) {
        SCOPED_TRACE(testing::Message() << k.name << ", " << sectors << " sectors, cache " << cache
                                        << ", run " << run);
        const ProbeResult r = ProbeFlash(drive, sectors, 1000 + run, {}, cacheMost);
        ASSERT_FALSE(r.ioFailed);
        ASSERT_EQ(r.keptSectors, real);
        ASSERT_EQ(r.lost, 0u);
        ASSERT_LE(r.bytesMoved, CostBound(sectors));
    }
    SCOPED_TRACE(k.name);
    ASSERT_TRUE(drive.model.flush(drive.store));
    // A chain's wrapping stretches land the zeros of higher sectors on lower ones.
    ASSERT_TRUE(k.fake == FakeKind::Chain || drive.store.AllZero());
}

// Every kind of fake behind every cache size, at every capacity.
TEST(FlashProbe, EveryKindBehindEveryCache) {
    // 3 MB, 31 MB and 256 MiB caches have been seen on real fakes; a cache of
    // more than a quarter of the drive hides any flash behind it.
    const uint64_t caches[] = {0, 6144, 63488, kProbeCacheSectors};
#ifdef UFD_SANITIZED_BUILD
    // Instrumented, writing a 256 MiB cache out takes minutes per drive: the
    // plain build runs the whole table, this one every kind behind caches of
    // up to 31 MB, with the flush sized for them.
    constexpr uint64_t kCacheMost = 63488;
#else
    constexpr uint64_t kCacheMost = kProbeCacheSectors;
#endif
    for (const uint64_t sectors : {uint64_t{65536}, k1GiB, k64GiB, k1TiB}) {
        for (const uint64_t cache : caches) {
            for (const Kind& k : kKinds) {
                if (cache <= sectors / 4 && cache <= kCacheMost) {
                    ProbeInARow(k, sectors, cache, 1, kCacheMost);
                }
            }
        }
    }
}

// A drive the line wrote before (a volume, another tool's test) holds some of
// it in its cache when the probe starts, at low sectors and at their aliases
// on the flash; a cache that keeps a sector written again in its old place
// sends the probe's low run out ahead of the stale alias, which lands on it.
// The real size and no lost sector all the same, for every kind.
TEST(FlashProbe, ACacheHoldingEarlierWritesMisleadsNothing) {
    for (const Kind& k : kKinds) {
        for (const uint64_t stale : {uint64_t{1}, uint64_t{64}, uint64_t{4096}}) {
            SCOPED_TRACE(testing::Message() << k.name << ", " << stale << " stale sectors");
            const uint64_t real = k.genuine ? k1GiB : k1GiB / 4 + 12345;
            FlashProfile flash = Behind(k.genuine ? FlashProfile{} : Keeps(real), 65536);
            flash.fake = k.fake;
            flash.pastEnd = k.pastEnd;
            FlashDrive drive(flash, k1GiB);
            const std::vector<uint8_t> earlier(stale * 512, 0x5A);
            for (const uint64_t at : {uint64_t{32}, 2 * real + 32}) {
                ASSERT_TRUE(at + stale > k1GiB || drive.WriteSectors(at, earlier));
            }
            const ProbeResult r = ProbeFlash(drive, k1GiB, 7, {}, kProbeCacheSectors);
            EXPECT_FALSE(r.ioFailed);
            EXPECT_EQ(r.keptSectors, real);
            EXPECT_EQ(r.lost, 0u);
        }
    }
}

// The same verdict and real size a hundred times in a row (instrumented, ten
// times and below 64 GiB: a hundred outlast the test's time, and
// EveryKindBehindEveryCache has the large sizes once), every kind behind
// every cache that fits. Small drives take one case per cache; from 1 GiB up,
// where a probe moves up to 750 MiB, one case per cache and kind, and behind
// a 256 MiB cache (which every probe writes through twice) one case per fifty
// seeds, so that two test processes share the work evenly.
#ifdef UFD_SANITIZED_BUILD
constexpr int kRuns = 10;
#else
constexpr int kRuns = 100;
#endif

struct Repeat {
    uint64_t sectors, cache;
    int kind;      // into kKinds; -1: every fake kind (and genuine below 1 GiB)
    int half = -1; // 0, 1: the first or second fifty seeds; -1: all of them
};

void PrintTo(const Repeat& r, std::ostream* os) {
    *os << r.sectors << " sectors, cache " << r.cache << ", kind " << r.kind << ", half " << r.half;
}

class ProbeRepeats : public testing::TestWithParam<Repeat> {};

TEST_P(ProbeRepeats, TheSameAnswerAHundredTimes) {
    const Repeat r = GetParam();
#ifdef UFD_SANITIZED_BUILD
    // Instrumented, a 256 MiB cache or a drive of 64 GiB and up probed again
    // and again takes hours: EveryKindBehindEveryCache has them once.
    if (r.cache > 63488 || r.sectors >= k64GiB) {
        GTEST_SKIP() << "repeated in the plain build";
    }
#endif
    if (r.kind >= 0) {
        const int runs = r.half < 0 ? kRuns : kRuns / 2;
        ProbeInARow(kKinds[r.kind], r.sectors, r.cache, runs, kProbeCacheSectors,
                    std::max(r.half, 0) * runs);
        return;
    }
    for (const Kind& k : kKinds) {
        if (!k.genuine || r.sectors < k1GiB) {
            ProbeInARow(k, r.sectors, r.cache, kRuns);
        }
    }
}

std::string RepeatName(const testing::TestParamInfo<Repeat>& info) {
    const Repeat& r = info.param;
    std::string name = r.sectors == k1TiB    ? "1TiB"
                       : r.sectors == k64GiB ? "64GiB"
                       : r.sectors == k1GiB  ? "1GiB"
                                             : "32MiB";
    name += "_cache" + std::to_string(r.cache);
    if (r.kind >= 0) {
        name += std::string("_") + kKinds[r.kind].name;
    }
    if (r.half >= 0) {
        name += r.half == 0 ? "_seeds1" : "_seeds2";
    }
    return name;
}

INSTANTIATE_TEST_SUITE_P(FlashProbe, ProbeRepeats,
                         testing::Values(Repeat{65536, 0, -1}, Repeat{65536, 6144, -1},
                                         Repeat{65536, 16384, -1}),
                         RepeatName);

std::vector<Repeat> LargeRepeats() {
    std::vector<Repeat> all;
    // A genuine 1 GiB drive gets the whole flush whatever its cache, as the
    // larger ones do: it is repeated from 64 GiB up.
    for (const uint64_t cache : {uint64_t{0}, uint64_t{6144}, uint64_t{63488}}) {
        for (int kind = 1; kind < static_cast<int>(std::size(kKinds)); ++kind) {
            all.push_back({k1GiB, cache, kind});
        }
    }
    for (const uint64_t sectors : {k64GiB, k1TiB}) {
        for (const uint64_t cache :
             {uint64_t{0}, uint64_t{6144}, uint64_t{63488}, kProbeCacheSectors}) {
            for (int kind = 0; kind < static_cast<int>(std::size(kKinds)); ++kind) {
                if (cache == kProbeCacheSectors) {
                    all.push_back({sectors, cache, kind, 0});
                    all.push_back({sectors, cache, kind, 1});
                } else {
                    all.push_back({sectors, cache, kind});
                }
            }
        }
    }
    return all;
}

INSTANTIATE_TEST_SUITE_P(FlashProbeLarge, ProbeRepeats, testing::ValuesIn(LargeRepeats()),
                         RepeatName);

// Every real size across a window of more than twice the single sectors'
// spacing, wrapping or dropping, without a flush, with one and with one cut
// short by what a cache let through: no size slips between two sectors the
// probe looks at.
TEST(FlashProbe, EveryRealSizeAcrossTwoSpacings) {
    constexpr uint64_t kSectors = 8192; // single sectors every 418
    const std::pair<uint64_t, uint64_t> flushes[] = {
        {0, 0}, {kProbeCacheSectors, 0}, {kProbeCacheSectors, 1000}}; // flush up to, cache
    for (const auto& [cacheMost, cache] : flushes) {
        for (uint64_t real = 2000; real < 2000 + 2 * 418 + 7; ++real) {
            for (FlashProfile flash : {Keeps(real), Limbo(real)}) {
                SCOPED_TRACE(testing::Message() << "real " << real << ", flush up to " << cacheMost
                                                << ", cache " << cache << ", limbo "
                                                << (flash.fake != quorlink::sim::FakeKind::Wrap));
                flash.cacheSectors = cache;
                FlashDrive drive(flash, kSectors);
                const ProbeResult r = ProbeFlash(drive, kSectors, 5, {}, cacheMost);
                ASSERT_EQ(r.keptSectors, real);
            }
        }
    }
}

// A fake gives itself away once the flush has pushed its cache out, and the
// probe stops flushing there: what it moves follows the cache it met. A
// drive that shows nothing gets the whole flush, however small its cache.
TEST(FlashProbe, MovesWhatTheCacheItMeetsTakes) {
    const uint64_t real = k1GiB / 4;
    const struct {
        const char* name;
        FlashProfile flash;
        uint64_t cache;
        uint64_t leastMiB, mostMiB;
    } cases[] = {
        {"wrap, no cache", Keeps(real), 0, 0, 64},
        {"limbo, 3 MB cache", Limbo(real), 6144, 0, 64},
        {"wrap, 32 MiB cache", Keeps(real), 65536, 64, 128},
        {"limbo, 64 MiB cache", Limbo(real), 131072, 128, 256},
        {"genuine, 3 MB cache", {}, 6144, 512, 576},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        FlashProfile flash = c.flash;
        flash.cacheSectors = c.cache;
        FlashDrive drive(flash, k1GiB);
        const ProbeResult r = ProbeFlash(drive, k1GiB, 3);
        EXPECT_EQ(r.keptSectors, c.flash.flashSectors == 0 ? k1GiB : real);
        EXPECT_GE(r.bytesMoved, c.leastMiB << 20);
        EXPECT_LE(r.bytesMoved, c.mostMiB << 20);
    }
}

// The sweep finds a lost sector and a wrapped flash, and zeros what it wrote.
TEST(SurfaceSweep, JudgesEverySectorAndLeavesZeros) {
    const std::tuple<const char*, FlashProfile, int, uint64_t, uint64_t, uint64_t> cases[] = {
        // name, flash, percent, tested, failed, aliased (drive of 16 MiB, chunks of 2 MiB)
        {"good, all", {}, 100, 32768, 0, 0},
        {"good, a quarter", {}, 25, 2 * 4096, 0, 0},
        {"two bad sectors", Bad({9, 20000}), 100, 32768, 2, 0},
        {"half the flash", Keeps(16384), 100, 32768, 16384, 16384},
    };
    for (const auto& [name, flash, percent, tested, failed, aliased] : cases) {
        SCOPED_TRACE(name);
        FlashDrive drive(flash, 32768);
        const SweepResult r =
            SweepSurface(drive, SurfaceChunks(32768, percent, drive.ChunkSectors()), 7);
        EXPECT_EQ(std::tuple(r.ioFailed, r.tested, r.failed, r.aliased),
                  std::tuple(false, tested, failed, aliased));
        EXPECT_TRUE(drive.store.AllZero() || failed == 2);
    }
}

} // namespace
} // namespace ufd
