#include "device/media_test.h"

#include "device/block_pattern.h"
#include "device/flash_probe.h"
#include "device/media_io.h"
#include "device/speed_test.h"
#include "device/surface_sweep.h"
#include "device/vendor_codes.h"

#include <algorithm>
#include <chrono>
#include <random>

namespace ufd {

namespace {

// Each phase of the test fills its share of the row's bar; the window hears
// of it at most every 40 ms, so a sweep of small commands does not drown it.
class PhaseProgress {
public:
    PhaseProgress(StationContext& ctx, int16_t slot, int phases, int done)
        : ctx_(ctx), row_(slot - 1), phases_(std::max(phases, 1)), done_(done) {}

    MediaProgressFn Phase() {
        const int index = done_++;
        return [this, index](double share) {
            const auto now = std::chrono::steady_clock::now();
            if (ctx_.progress == nullptr ||
                (share < 1 && now - last_ < std::chrono::milliseconds(40))) {
                return;
            }
            last_ = now;
            ctx_.progress->MediaProgress(row_, (index + share) / phases_);
        };
    }

private:
    StationContext& ctx_;
    int row_;
    int phases_;
    int done_;
    std::chrono::steady_clock::time_point last_{};
};

// A seed of its own for every drive and run: a pattern left from an earlier
// run, or on another drive, is never taken for this one's.
uint64_t NewSeed() {
    std::random_device rd;
    return (uint64_t{rd()} << 32) ^ rd() ^
           static_cast<uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
}

bool SpeedWanted(const StationSettings& s) {
    return s.MinWriteMBps > 0 || s.MinReadMBps > 0;
}

int PhasesBefore(const StationSettings& s) {
    return (s.MediaProbe ? 1 : 0) + (s.MediaSurface > 0 || SpeedWanted(s) ? 1 : 0);
}

} // namespace

bool MediaTestWanted(const StationSettings& s) {
    return s.MediaProbe || s.MediaVerify || s.MediaSurface > 0 || SpeedWanted(s);
}

bool TestMediaBeforeVolume(StationContext& ctx, int16_t slot, SteadyClock* clock) {
    DiskSlot* s = ctx.slots.Slot(slot);
    if (s == nullptr || s->Handle == 0) {
        return true;
    }
    const StationSettings& set = ctx.Settings;
    MediaFindings& found = s->Media;
    found.Ran = true;
    const auto sectors = static_cast<uint64_t>(s->LastSector) + 1;
    found.ReportedSectors = static_cast<int64_t>(sectors);
    found.MinWriteMBps = set.MinWriteMBps;
    found.MinReadMBps = set.MinReadMBps;
    // In a parallel run the drives on one hub time their passes one at a time.
    MediaIo io(*ctx.transport, s->Handle, set.Parallel);
    const uint64_t seed = NewSeed();
    PhaseProgress progress(ctx, slot, PhasesBefore(set) + (set.MediaVerify ? 1 : 0), 0);
    auto fail = [&](int16_t code) {
        s->Status = code;
        return false;
    };
    // A transfer failed: a write refused for the switch has its own code; a
    // drive that stopped answering gets the run's one reset and the phase
    // once more.
    auto again = [&]() {
        if (io.WriteProtected() || found.ResetTried) {
            return false;
        }
        found.ResetTried = true;
        return ctx.transport->ResetDevice(s->Handle) != 0;
    };
    auto ioFailure = [&]() {
        return fail(io.WriteProtected() ? kStatusWriteProtected : kStatusMediaIoFailed);
    };

    if (set.MediaProbe) {
        ProbeResult probe = ProbeFlash(io, sectors, seed, progress.Phase());
        if (probe.ioFailed && again()) {
            probe = ProbeFlash(io, sectors, seed + 2, progress.Phase());
        }
        found.SectorsTested += static_cast<int64_t>(probe.tested);
        found.SectorsFailed += static_cast<int64_t>(probe.lost);
        if (probe.ioFailed) {
            return ioFailure();
        }
        found.RealSectors = static_cast<int64_t>(probe.keptSectors);
        if (probe.keptSectors < sectors) {
            return fail(kStatusFakeCapacity);
        }
        if (probe.lost > 0) {
            return fail(kStatusReadBackFailed);
        }
    }
    if (set.MediaSurface > 0 || SpeedWanted(set)) {
        const auto chunks =
            SweepChunks(sectors, set.MediaSurface, SpeedWanted(set), io.ChunkSectors());
        const SweepTiming timing{clock, set.MinWriteMBps, set.MinReadMBps};
        SweepResult sweep = SweepSurface(io, chunks, seed + 1, progress.Phase(), timing);
        if (sweep.ioFailed && again()) {
            sweep = SweepSurface(io, chunks, seed + 3, progress.Phase(), timing);
        }
        found.SectorsTested += static_cast<int64_t>(sweep.tested);
        found.SectorsFailed += static_cast<int64_t>(sweep.failed);
        if (sweep.ioFailed) {
            return ioFailure();
        }
        const SpeedFigures speed = JudgeSpeed(sweep, set.MinWriteMBps, set.MinReadMBps);
        found.WriteMBps = speed.writeMBps;
        found.ReadMBps = speed.readMBps;
        if (sweep.aliased > 0) {
            return fail(kStatusFakeCapacity);
        }
        if (sweep.failed > 0) {
            return fail(kStatusReadBackFailed);
        }
        if (speed.writeBelow) {
            return fail(kStatusSlowWrite);
        }
        if (speed.readBelow) {
            return fail(kStatusSlowRead);
        }
    }
    return true;
}

void VerifyVolume(StationContext& ctx, int16_t slot, const VolumeWriteLog& log) {
    DiskSlot* s = ctx.slots.Slot(slot);
    if (s == nullptr || s->Handle == 0) {
        return;
    }
    s->Media.Ran = true;
    MediaIo io(*ctx.transport, s->Handle);
    const StationSettings& set = ctx.Settings;
    const int before = PhasesBefore(set);
    PhaseProgress progress(ctx, slot, before + 1, before);
    const MediaProgressFn report = progress.Phase();
    const std::vector<LoggedWrite> writes = log.LastWrites();
    std::vector<uint8_t> buffer(static_cast<size_t>(io.ChunkSectors()) * kPatternSectorBytes);
    uint64_t failed = 0;
    for (size_t w = 0; w < writes.size(); ++w) {
        const LoggedWrite& lw = writes[w];
        for (size_t at = 0; at < lw.sectorHashes.size(); at += io.ChunkSectors()) {
            const size_t n = std::min<size_t>(io.ChunkSectors(), lw.sectorHashes.size() - at);
            const auto data = std::span(buffer).first(n * kPatternSectorBytes);
            if (!io.ReadSectors(lw.first + at, data)) {
                s->Status = kStatusMediaIoFailed;
                return;
            }
            for (size_t k = 0; k < n; ++k) {
                failed +=
                    SectorHash(data.data() + k * kPatternSectorBytes) != lw.sectorHashes[at + k]
                        ? 1
                        : 0;
            }
            s->Media.SectorsTested += static_cast<int64_t>(n);
        }
        report(static_cast<double>(w + 1) / static_cast<double>(writes.size()));
    }
    s->Media.SectorsFailed += static_cast<int64_t>(failed);
    if (failed > 0) {
        s->Status = kStatusReadBackFailed;
    }
}

} // namespace ufd
