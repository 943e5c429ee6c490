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

std::vector<SweepChunk> SweepChunks(uint64_t sectors, int percent, bool timed,
                                    uint32_t chunkSectors) {
    std::vector<SweepChunk> chunks = SurfaceChunks(sectors, percent, chunkSectors);
    uint64_t bytes = 0;
    for (const SweepChunk& c : chunks) {
        bytes += c.count * kPatternSectorBytes;
    }
    if (!timed || bytes >= std::min(kSpeedBytes, sectors * kPatternSectorBytes)) {
        return chunks;
    }
    // Both lists are of whole chunks from sector 0: merge them, each chunk once.
    for (const SweepChunk& c : SpeedChunks(sectors, chunkSectors)) {
        chunks.push_back(c);
    }
    std::sort(chunks.begin(), chunks.end(),
              [](const SweepChunk& a, const SweepChunk& b) { return a.first < b.first; });
    chunks.erase(
        std::unique(chunks.begin(), chunks.end(),
                    [](const SweepChunk& a, const SweepChunk& b) { return a.first == b.first; }),
        chunks.end());
    return chunks;
}

double MegabytesPerSecond(uint64_t bytes, double seconds) {
    return static_cast<double>(bytes) / 1e6 / std::max(seconds, 1e-6);
}

SpeedFigures JudgeSpeed(const SweepResult& sweep, double minWriteMBps, double minReadMBps) {
    SpeedFigures f;
    if (sweep.writtenBytes > 0) {
        f.writeMBps = MegabytesPerSecond(sweep.writtenBytes, sweep.writeSeconds);
        f.writeBelow = minWriteMBps > 0 && f.writeMBps < minWriteMBps;
    }
    if (sweep.readBytes > 0) {
        f.readMBps = MegabytesPerSecond(sweep.readBytes, sweep.readSeconds);
        f.readBelow = minReadMBps > 0 && f.readMBps < minReadMBps;
    }
    return f;
}

} // namespace ufd
