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

// The chunks a sweep moves: `percent` of the drive, and where floors are to
// be judged at least the speed stretch, so that no figure rests on a few
// sectors (a small drive's few percent).
std::vector<SweepChunk> SweepChunks(uint64_t sectors, int percent, bool timed,
                                    uint32_t chunkSectors);

// MB/s of 10^6 bytes; a transfer too quick to time counts as 1 us.
double MegabytesPerSecond(uint64_t bytes, double seconds);

// A sweep's figures against the floors (0: none). A pass that moved nothing
// has no figure (0) and is never judged.
struct SpeedFigures {
    double writeMBps = 0;
    double readMBps = 0;
    bool writeBelow = false;
    bool readBelow = false;
};
SpeedFigures JudgeSpeed(const SweepResult& sweep, double minWriteMBps, double minReadMBps);

} // namespace ufd
