// The speed figures on a simulated drive whose transfers move a clock of the
// test's own: a slow drive takes no wall time, a drive just above its floor
// passes and one just below fails, a hopeless one stops early, and a small
// drive's few percent still give a figure.
#include "device/speed_figures.h"
#include "device/surface_sweep.h"
#include "flash_drive.h"

#include <gtest/gtest.h>

#include <chrono>

namespace ufd {
namespace {

using test::FlashDrive;
using test::TestClock;

TEST(SpeedFloors, JudgedOnTheDrivesOwnTimeAgainstTheFloor) {
    struct Case {
        const char* name;
        double write, read; // the drive's MB/s
        bool writeBelow, readBelow, stoppedEarly;
        uint64_t writtenMiB; // at most
    };
    // Floors of 10 MB/s write and 20 MB/s read, over the 32 MiB stretch. At 2 MB/s the pass
    // stops once 10 MB/s is out of reach, after a fifth of the stretch, not all of it.
    const Case cases[] = {
        {"just above both", 10.1, 20.2, false, false, false, 32},
        {"writes just below", 9.9, 20.2, true, false, true, 32},
        {"reads just below", 10.1, 19.8, false, true, true, 32},
        {"far below", 2, 40, true, false, true, 32 / 5 + 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TestClock clock;
        // A good drive whose transfers take their bytes at its rates on the test's clock.
        quorlink::sim::FlashProfile rates;
        rates.readMBps = c.read;
        rates.writeMBps = c.write;
        FlashDrive drive(rates, 131072, UINT64_MAX, &clock);
        const auto wall = std::chrono::steady_clock::now();
        const SweepResult sweep = SweepSurface(drive, SweepChunks(131072, 0, true, 4096), 3, {},
                                               SweepTiming{&clock, 10, 20});
        const SpeedFigures f = JudgeSpeed(sweep, 10, 20);
        EXPECT_EQ(f.writeBelow, c.writeBelow) << f.writeMBps;
        EXPECT_EQ(f.readBelow, c.readBelow) << f.readMBps;
        EXPECT_EQ(sweep.tooSlow, c.stoppedEarly);
        EXPECT_LE(sweep.writtenBytes, c.writtenMiB << 20);
        // The figure is the drive's rate, in MB of 10^6 bytes.
        EXPECT_NEAR(f.writeMBps, c.write, c.write * 0.01);
        if (!c.writeBelow) {
            EXPECT_NEAR(f.readMBps, c.read, c.read * 0.01);
        } else { // written, then zeroed: nothing more
            EXPECT_EQ(std::pair(f.readMBps, drive.moved), std::pair(0.0, 2 * sweep.writtenBytes));
        }
        // Seconds of the drive's time, none of the wall's.
        EXPECT_LT(std::chrono::steady_clock::now() - wall, std::chrono::seconds(5));
    }
}

// What a sweep times: a few percent of a small drive are topped up to the
// speed stretch (or the whole drive) when floors are set, never otherwise.
TEST(SpeedFloors, EveryFloorHasAFigureToJudge) {
    struct Case {
        uint64_t sectors;
        int percent;
        bool timed;
        uint64_t bytes;
    };
    const Case cases[] = {
        {65536, 2, true, 32u << 20},     // 32 MiB at 2 %: the whole drive
        {65536, 5, false, 0},            // no floors: the percent as it falls
        {16384, 2, true, 8u << 20},      // smaller than the stretch: all of it
        {4194304, 2, true, 40u << 20},   // 2 GiB: 20 chunks, 32 MiB of them at the start
        {4194304, 50, true, 1024u << 20} // plenty already
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.sectors << " sectors, " << c.percent << " %");
        uint64_t bytes = 0;
        for (const SweepChunk& k : SweepChunks(c.sectors, c.percent, c.timed, 4096)) {
            bytes += k.count * 512;
        }
        EXPECT_EQ(bytes, c.bytes);
    }
}

} // namespace
} // namespace ufd
