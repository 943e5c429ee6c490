// The capacity probe: how many sectors the flash behind the controller really
// keeps, to the sector, whatever the drive's size and whatever write cache
// hides the flash. Sector-numbered pattern sectors go to a top run, single
// sectors spaced m apart and a low run, then a flush that pushes them out of
// a cache; they are read back. The flush grows until the flash shows itself
// or the largest cache is out of the way, so a fake costs what its cache
// takes. A flash that wraps at K shows sectors holding patterns of sectors a
// multiple of K away, a flash that drops what lies past K shows lost sectors
// from K up, narrowed down to the sector by writing the gap before the low
// stretch's zeros. Every sector written is zero again at the end.
#pragma once

#include "device/media_progress.h"
#include "device/sector_io.h"

#include <cstdint>

namespace ufd {

struct ProbeResult {
    bool ioFailed = false;    // a transfer failed: nothing else is known
    uint64_t keptSectors = 0; // the drive's size when the flash keeps it all
    uint64_t tested = 0;      // sectors written and read back
    uint64_t lost = 0;        // of those below keptSectors, how many lost their pattern
    uint64_t bytesMoved = 0;  // written and read, the zeros included
};

// The largest write cache the probe pushes out of the way: 256 MiB (or half
// a smaller drive).
inline constexpr uint64_t kProbeCacheSectors = 524288;

ProbeResult ProbeFlash(SectorIo& io, uint64_t sectors, uint64_t seed,
                       const MediaProgressFn& progress = {},
                       uint64_t cacheMost = kProbeCacheSectors);

} // namespace ufd
