// The surface sweep: pattern chunks written over a spread of the drive, then
// read back and judged sector by sector, then zeroed. The same passes, timed,
// give the drive's sequential write and read speeds.
#pragma once

#include "device/media_progress.h"
#include "device/sector_io.h"
#include "platform/clock.h"

#include <cstdint>
#include <vector>

namespace ufd {

struct SweepChunk {
    uint64_t first = 0;
    uint64_t count = 0;
};

// `percent` of the drive's chunks of `chunkSectors`, spread evenly from the
// first sector to the last (100: every chunk).
std::vector<SweepChunk> SurfaceChunks(uint64_t sectors, int percent, uint32_t chunkSectors);

// How the passes are timed and held to their floors (MB/s of 10^6 bytes;
// 0: none). A pass stops as soon as its figure can no longer reach its floor
// even if the rest took no time at all.
struct SweepTiming {
    SteadyClock* clock = nullptr; // null: the system's
    double minWriteMBps = 0;
    double minReadMBps = 0;
};

struct SweepResult {
    bool ioFailed = false;
    bool tooSlow = false;      // a pass stopped below its floor; the figures so far
    uint64_t tested = 0;       // sectors written and read back
    uint64_t failed = 0;       // of those, sectors that did not keep their pattern
    uint64_t aliased = 0;      // of those, sectors that held another sector's pattern
    uint64_t patternBytes = 0; // of the chunks
    uint64_t writtenBytes = 0; // timed in the pattern pass, and in the read pass
    uint64_t readBytes = 0;
    double writeSeconds = 0;
    double readSeconds = 0;
};

SweepResult SweepSurface(SectorIo& io, const std::vector<SweepChunk>& chunks, uint64_t seed,
                         const MediaProgressFn& progress = {}, const SweepTiming& timing = {});

} // namespace ufd
