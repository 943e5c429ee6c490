#include "device/flash_probe.h"

#include "device/block_pattern.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace ufd {

namespace {

struct Run {
    uint64_t first = 0;
    uint64_t count = 0;
    bool written = true; // false: only read
};

// A command costs a drive about as much as moving this many sectors (a USB
// round trip against 30-60 MB/s), and the low run is never longer than 16 MiB.
constexpr double kCommandSectors = 64;
constexpr uint64_t kLowRunMost = 32768;
constexpr uint64_t kTopRunMost = 2048;

// A low run [0, m) and a top run [N - t, N), written, and single sectors at
// m, 2m, ... only read: every distance d < N lies between a sector of the
// low run and one of the others, so on a flash that wraps at any K < N some
// read sector shows the low run's pattern from K sectors below. The low run
// costs 3m sectors moved (pattern, read, zeros) and the single reads N / m
// commands: m = sqrt(N * kCommandSectors / 3) balances the two. 64 GiB:
// 53 MiB moved and 4,096 reads; 1 GiB: 13 MiB and 314 reads.
std::vector<Run> ProbeRuns(uint64_t sectors) {
    const auto balanced = static_cast<uint64_t>(
        std::ceil(std::sqrt(static_cast<double>(sectors) * kCommandSectors / 3)));
    const uint64_t m = std::clamp<uint64_t>(balanced, 1, kLowRunMost);
    const uint64_t t = std::min(m, kTopRunMost);
    if (sectors <= 3 * m) {
        return {{0, sectors}};
    }
    std::vector<Run> runs = {{0, m}};
    for (uint64_t at = m; at < sectors - t; at += m) {
        runs.push_back({at, 1, false});
    }
    runs.push_back({sectors - t, t});
    return runs;
}

class Prober {
public:
    Prober(SectorIo& io, uint64_t seed, const MediaProgressFn& progress, uint64_t steps)
        : io_(io), seed_(seed), progress_(progress), steps_(std::max<uint64_t>(steps, 1)),
          buffer_(static_cast<size_t>(io.ChunkSectors()) * kPatternSectorBytes) {}

    // Writes the pattern (or zeros) over a run, a chunk at a time.
    bool Write(const Run& r, bool zeros) {
        for (uint64_t at = r.first; at < r.first + r.count;) {
            const uint64_t n = std::min<uint64_t>(io_.ChunkSectors(), r.first + r.count - at);
            const auto data = std::span(buffer_).first(n * kPatternSectorBytes);
            if (zeros) {
                std::fill(data.begin(), data.end(), 0);
            } else {
                FillPattern(data, at, seed_);
            }
            if (!io_.WriteSectors(at, data)) {
                return false;
            }
            Moved(data.size());
            at += n;
        }
        return true;
    }

    // Reads a run back and judges each sector: judge(sector, verdict).
    template <typename Judge> bool Read(const Run& r, Judge judge) {
        for (uint64_t at = r.first; at < r.first + r.count;) {
            const uint64_t n = std::min<uint64_t>(io_.ChunkSectors(), r.first + r.count - at);
            const auto data = std::span(buffer_).first(n * kPatternSectorBytes);
            if (!io_.ReadSectors(at, data)) {
                return false;
            }
            Moved(data.size());
            for (uint64_t k = 0; k < n; ++k) {
                judge(at + k, JudgeSector(data.subspan(k * kPatternSectorBytes), at + k, seed_));
            }
            at += n;
        }
        return true;
    }

    uint64_t bytes = 0;

private:
    void Moved(size_t n) {
        bytes += n;
        if (progress_) {
            done_ += n / kPatternSectorBytes;
            progress_(std::min(1.0, static_cast<double>(done_) / static_cast<double>(steps_)));
        }
    }

    SectorIo& io_;
    uint64_t seed_;
    const MediaProgressFn& progress_;
    uint64_t steps_;
    uint64_t done_ = 0;
    std::vector<uint8_t> buffer_;
};

} // namespace

ProbeResult ProbeFlash(SectorIo& io, uint64_t sectors, uint64_t seed,
                       const MediaProgressFn& progress) {
    ProbeResult result;
    if (sectors == 0 || io.ChunkSectors() == 0) {
        return result;
    }
    std::vector<Run> runs = ProbeRuns(sectors);
    uint64_t steps = 0;
    for (const Run& r : runs) {
        steps += r.written ? 3 * r.count : r.count;
    }
    Prober p(io, seed, progress, steps);
    auto finish = [&](bool ok) {
        // Zeros over every sector written, whatever was found.
        for (const Run& r : runs) {
            ok = (!r.written || p.Write(r, true)) && ok;
        }
        result.ioFailed = !ok;
        result.bytesMoved = p.bytes;
        return result;
    };

    // Highest first: where the flash wraps, the lower sector written later
    // wins the shared place, and the higher one reads back its pattern.
    for (auto r = runs.rbegin(); r != runs.rend(); ++r) {
        if (r->written && !p.Write(*r, false)) {
            return finish(false);
        }
    }
    uint64_t wrap = sectors;
    std::vector<std::pair<uint64_t, bool>> seen; // written sector, lost
    for (const Run& r : runs) {
        const bool ok = p.Read(r, [&](uint64_t at, SectorVerdict v) {
            if (v.kind == SectorVerdict::Alias) {
                wrap = std::min(wrap, at > v.other ? at - v.other : v.other - at);
            }
            // What a sector never written holds (zeros, an older run) says nothing.
            if (r.written) {
                seen.emplace_back(at, v.kind == SectorVerdict::Lost);
            }
        });
        if (!ok) {
            return finish(false);
        }
    }
    result.tested = seen.size();

    // A tail of lost sectors: the flash keeps nothing past some sector.
    // Bisect between the last sector kept and the first of that tail.
    size_t tail = seen.size();
    while (tail > 0 && seen[tail - 1].second) {
        --tail;
    }
    uint64_t dropped = sectors;
    if (tail < seen.size()) {
        uint64_t kept = tail > 0 ? seen[tail - 1].first : 0;
        uint64_t lostAt = seen[tail].first;
        bool keptKnown = tail > 0;
        while (lostAt - kept > 1 || !keptKnown) {
            const uint64_t q = keptKnown ? kept + (lostAt - kept) / 2 : 0;
            const Run one{q, 1};
            runs.push_back(one);
            bool lost = true;
            if (!p.Write(one, false) || !p.Read(one, [&](uint64_t, SectorVerdict v) {
                    lost = v.kind != SectorVerdict::Kept;
                })) {
                return finish(false);
            }
            ++result.tested;
            if (q == 0 && lost) {
                lostAt = 0;
                break;
            }
            (lost ? lostAt : kept) = q;
            keptKnown = true;
        }
        dropped = lostAt;
    }
    result.keptSectors = std::min(wrap, dropped);
    for (size_t k = 0; k < tail; ++k) {
        result.lost += seen[k].second && seen[k].first < result.keptSectors ? 1 : 0;
    }
    return finish(true);
}

} // namespace ufd
