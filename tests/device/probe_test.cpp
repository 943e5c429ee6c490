// The capacity probe and the surface sweep against the simulator's flash
// model in memory: each kind of flash found for what it is, at any size,
// with a few MiB moved and every probed sector zero again.
#include "device/flash_probe.h"
#include "device/surface_sweep.h"
#include "flash_model.h"
#include "support/memory_flash.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>

namespace ufd {
namespace {

using quorlink::sim::FlashModel;
using quorlink::sim::FlashProfile;

// A drive of `sectors` reporting them all, whatever its flash keeps.
class FlashDrive final : public SectorIo {
public:
    FlashDrive(FlashProfile profile, uint64_t sectors, uint64_t failAt = UINT64_MAX)
        : model(std::move(profile)), sectors_(sectors), failAt_(failAt) {}
    bool WriteSectors(uint64_t first, std::span<const uint8_t> data) override {
        return Ok(first, data.size()) && model.write(store, first, data);
    }
    bool ReadSectors(uint64_t first, std::span<uint8_t> data) override {
        return Ok(first, data.size()) && model.read(store, first, data);
    }
    uint32_t ChunkSectors() const override { return 4096; }

    FlashModel model;
    test::MemoryFlash store;

private:
    bool Ok(uint64_t first, size_t bytes) const {
        return first + bytes / 512 <= sectors_ &&
               (first > failAt_ || first + bytes / 512 <= failAt_);
    }
    uint64_t sectors_, failAt_;
};

constexpr uint64_t k64GiB = 134217728, k1GiB = 2097152;

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
FlashProfile Bad(std::vector<uint64_t> sectors) {
    FlashProfile f;
    f.badSectors = std::move(sectors);
    return f;
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
        {"genuine 64 GiB", k64GiB, {}, k64GiB},
        {"64 GiB over 8 GiB", k64GiB, Keeps(k64GiB / 8), k64GiB / 8},
        {"1 GiB over 256 MiB", k1GiB, Keeps(k1GiB / 4), k1GiB / 4},
        {"wraps at an odd size", k1GiB, Keeps(1234567), 1234567},
        {"a few sectors short", k1GiB, Keeps(k1GiB - 3), k1GiB - 3},
        {"wraps inside the low run", k1GiB, Keeps(100), 100},
        {"drops past its end", k1GiB, Limbo(777777), 777777},
        {"tiny drive", 40, Keeps(17), 17},
        {"a bad sector it probes", k1GiB, Bad({5}), k1GiB, 1},
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
            EXPECT_TRUE(drive.store.AllZero()) << "a probed sector keeps its pattern";
        }
        // A few MiB whatever the size: under 64 MiB for 64 GiB, written and read.
        EXPECT_LT(r.bytesMoved, 64u << 20) << r.bytesMoved;
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
