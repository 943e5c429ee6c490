// The speed figures: a sequential stretch at the drive's start, swept like
// the surface, when no surface sweep gives them; and the floors they are held to.
#pragma once

#include "device/surface_sweep.h"

#include <cstdint>
#include <vector>

namespace ufd {

// Enough to get past a drive's write cache, little enough to take seconds.
inline constexpr uint64_t kSpeedBytes = 32ULL * 1024 * 1024;

std::vector<SweepChunk> SpeedChunks(uint64_t sectors, uint32_t chunkSectors);

// MB/s of 10^6 bytes; a transfer too quick to time counts as 1 us.
double MegabytesPerSecond(uint64_t bytes, double seconds);

} // namespace ufd
