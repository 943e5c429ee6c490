#include "device/speed_test.h"

#include "device/block_pattern.h"

#include <algorithm>

namespace ufd {

std::vector<SweepChunk> SpeedChunks(uint64_t sectors, uint32_t chunkSectors) {
    std::vector<SweepChunk> chunks;
    const uint64_t stretch = std::min<uint64_t>(sectors, kSpeedBytes / kPatternSectorBytes);
    for (uint64_t at = 0; chunkSectors != 0 && at < stretch; at += chunkSectors) {
        chunks.push_back({at, std::min<uint64_t>(chunkSectors, stretch - at)});
    }
    return chunks;
}

double MegabytesPerSecond(uint64_t bytes, double seconds) {
    return static_cast<double>(bytes) / 1e6 / std::max(seconds, 1e-6);
}

} // namespace ufd
