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
                         const MediaProgressFn& progress, const SweepTiming& timing) {
    SteadyClock& clock = timing.clock != nullptr ? *timing.clock : DefaultSteadyClock();
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
    auto seconds = [&](std::chrono::steady_clock::time_point since) {
        return std::chrono::duration<double>(clock.Now() - since).count();
    };
    // Certainly below the floor: even with the rest in no time at all, the
    // pass's figure could not reach it.
    auto hopeless = [&](double floor, double spent) {
        return floor > 0 && static_cast<double>(result.patternBytes) / 1e6 / floor < spent;
    };
    size_t written = 0; // chunks the pattern pass wrote (or tried)
    auto zeros = [&] {
        io.EndTimed();
        std::fill(buffer.begin(), buffer.end(), 0);
        bool ok = true;
        for (size_t k = 0; k < written; ++k) {
            const SweepChunk& c = chunks[k];
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
    io.BeginTimed();
    auto t0 = clock.Now();
    for (const SweepChunk& c : chunks) {
        const auto data = std::span(buffer).first(c.count * kPatternSectorBytes);
        const auto f0 = clock.Now();
        FillPattern(data, c.first, seed);
        ours += seconds(f0);
        ++written;
        if (!io.WriteSectors(c.first, data)) {
            result.ioFailed = true;
            return zeros();
        }
        result.writtenBytes += data.size();
        result.writeSeconds = std::max(0.0, seconds(t0) - ours);
        step();
        if (hopeless(timing.minWriteMBps, result.writeSeconds)) {
            result.tooSlow = true;
            return zeros();
        }
    }
    double judging = 0;
    t0 = clock.Now();
    for (const SweepChunk& c : chunks) {
        const auto data = std::span(buffer).first(c.count * kPatternSectorBytes);
        if (!io.ReadSectors(c.first, data)) {
            result.ioFailed = true;
            return zeros();
        }
        result.readBytes += data.size();
        const auto j0 = clock.Now();
        for (uint64_t k = 0; k < c.count; ++k) {
            const SectorVerdict v =
                JudgeSector(data.subspan(k * kPatternSectorBytes), c.first + k, seed);
            result.failed += v.kind != SectorVerdict::Kept ? 1 : 0;
            result.aliased += v.kind == SectorVerdict::Alias ? 1 : 0;
        }
        judging += seconds(j0);
        result.tested += c.count;
        result.readSeconds = std::max(0.0, seconds(t0) - judging);
        step();
        if (hopeless(timing.minReadMBps, result.readSeconds)) {
            result.tooSlow = true;
            return zeros();
        }
    }
    return zeros();
}

} // namespace ufd
