// The capacity probe: how many sectors the flash behind the controller really
// keeps, found by moving a few MiB whatever the drive's size. Sector-numbered
// pattern sectors go to a low run and a top run, highest first; they and
// single sectors spaced by the runs' length between them are read back. A
// flash that wraps at K sectors shows a sector holding the pattern of the
// sector K below it, and a flash that drops what lies past its end shows a
// tail of lost sectors, whose start a bisection narrows down to the sector.
// Every sector written is zero again at the end.
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

ProbeResult ProbeFlash(SectorIo& io, uint64_t sectors, uint64_t seed,
                       const MediaProgressFn& progress = {});

} // namespace ufd
