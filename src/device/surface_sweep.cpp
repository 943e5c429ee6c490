#include "device/surface_sweep.h"

#include "device/block_pattern.h"

#include <algorithm>
#include <chrono>

namespace ufd {

std::vector<SweepChunk> SurfaceChunks(uint64_t sectors, int percent, uint32_t chunkSectors) {
    std::vector<SweepChunk> chunks;
    if (chunkSectors == 0 || percent <= 0) {
        return chunks;
    }
    const uint64_t total = (sectors + chunkSectors - 1) / chunkSectors;
    const auto p = static_cast<uint64_t>(std::min(percent, 100));
    for (uint64_t i = 0; i < total; ++i) {
        // Bresenham: chunk i is taken when the running share passes a whole one.
        if ((i + 1) * p / 100 > i * p / 100) {
            const uint64_t first = i * chunkSectors;
            chunks.push_back({first, std::min<uint64_t>(chunkSectors, sectors - first)});
        }
    }
    return chunks;
}

SweepResult SweepSurface(SectorIo& io, const std::vector<SweepChunk>& chunks, uint64_t seed,
                         const MediaProgressFn& progress) {
    using Clock = std::chrono::steady_clock;
    SweepResult result;
    uint64_t most = 0;
    for (const SweepChunk& c : chunks) {
        most = std::max(most, c.count);
        result.patternBytes += c.count * kPatternSectorBytes;
    }
    std::vector<uint8_t> buffer(most * kPatternSectorBytes);
    const double steps = 3.0 * static_cast<double>(chunks.size());
    double done = 0;
    auto step = [&] {
        if (progress) {
            progress(std::min(1.0, ++done / steps));
        }
    };
    auto seconds = [](Clock::time_point since) {
        return std::chrono::duration<double>(Clock::now() - since).count();
    };
    auto zeros = [&] {
        std::fill(buffer.begin(), buffer.end(), 0);
        bool ok = true;
        for (const SweepChunk& c : chunks) {
            ok = io.WriteSectors(c.first, std::span(buffer).first(c.count * kPatternSectorBytes)) &&
                 ok;
            step();
        }
        result.ioFailed = result.ioFailed || !ok;
        return result;
    };

    // All written before any is read: a flash that wraps has overwritten the
    // lower chunks by the time they are read.
    // The drive's speed, not ours: making and judging patterns is left out.
    double ours = 0;
    auto t0 = Clock::now();
    for (const SweepChunk& c : chunks) {
        const auto data = std::span(buffer).first(c.count * kPatternSectorBytes);
        const auto f0 = Clock::now();
        FillPattern(data, c.first, seed);
        ours += seconds(f0);
        if (!io.WriteSectors(c.first, data)) {
            result.ioFailed = true;
            return zeros();
        }
        step();
    }
    result.writeSeconds = std::max(0.0, seconds(t0) - ours);
    double judging = 0;
    t0 = Clock::now();
    for (const SweepChunk& c : chunks) {
        const auto data = std::span(buffer).first(c.count * kPatternSectorBytes);
        if (!io.ReadSectors(c.first, data)) {
            result.ioFailed = true;
            return zeros();
        }
        const auto j0 = Clock::now();
        for (uint64_t k = 0; k < c.count; ++k) {
            const SectorVerdict v =
                JudgeSector(data.subspan(k * kPatternSectorBytes), c.first + k, seed);
            result.failed += v.kind != SectorVerdict::Kept ? 1 : 0;
            result.aliased += v.kind == SectorVerdict::Alias ? 1 : 0;
        }
        judging += seconds(j0);
        result.tested += c.count;
        step();
    }
    result.readSeconds = std::max(0.0, seconds(t0) - judging);
    return zeros();
}

} // namespace ufd
