#include "device/flash_probe.h"

#include "device/block_pattern.h"

#include <algorithm>
#include <cmath>
#include <numeric>
#include <vector>

namespace ufd {

namespace {

// A command costs a drive about as much as moving this many sectors (a USB
// round trip against 30-60 MB/s), and the low run is never longer than 8 MiB.
constexpr double kCommandSectors = 64;
constexpr uint64_t kLowRunMost = 16384;
constexpr uint64_t kTopRunMost = 2048;

struct Run {
    uint64_t first = 0;
    uint64_t count = 0;
};

// What one sector read back said, and whether its word can be trusted: a
// sector still in the drive's cache reads back what was written whatever
// the flash did with it.
struct Seen {
    uint64_t at = 0;
    SectorVerdict verdict;
    bool trusted = true;
};

// The layout of the first pass. Written, highest first: the top run
// [N - t, N), single sectors every m from L up to the top run, then the low
// stretch [0, L) from the bottom up, whose part above m (the flush) pushes
// everything written before it out of a cache of up to `flush` sectors. Read:
// the low run [0, m), single sectors every m through the flush, the singles
// above it and the top run. On a flash that wraps at any K < N some single
// above K lands within m of a multiple of K below it, and every sector that
// reads another's pattern shows a multiple of K: their greatest common
// divisor is K. A flash that drops what lies past K shows the singles and the
// top run from K up lost; the last kept and the first lost are at most m apart.
struct Layout {
    uint64_t m = 0, t = 0, low = 0; // low = L, the low run and the flush
    uint64_t flush = 0;
    std::vector<uint64_t> singles; // above L, ascending
    bool whole = false;            // small drive: all of it, written and read
};

Layout Plan(uint64_t sectors, uint64_t cacheMost) {
    Layout p;
    const auto balanced = static_cast<uint64_t>(
        std::ceil(std::sqrt(static_cast<double>(sectors) * kCommandSectors / 3)));
    p.m = std::clamp<uint64_t>(balanced, 1, kLowRunMost);
    p.t = std::min(p.m, kTopRunMost);
    // A smaller drive gets a flush of at most half of it.
    p.flush = std::min(cacheMost, sectors / 2);
    p.low = p.m + p.flush;
    if (sectors <= p.low + p.t + 2 * p.m) {
        p.whole = true;
        p.low = sectors;
        p.t = 0;
        return p;
    }
    for (uint64_t at = p.low; at < sectors - p.t; at += p.m) {
        p.singles.push_back(at);
    }
    return p;
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

bool IsLost(const Seen& s) {
    return s.verdict.kind == SectorVerdict::Lost;
}

// The first lost sector that is not alone among kept ones: where the flash
// stops keeping what it is given. A lone lost sector is a bad one. Index
// into `seen` (sorted, trusted only); seen.size() when there is none.
size_t FirstDropped(const std::vector<Seen>& seen) {
    for (size_t k = 0; k < seen.size(); ++k) {
        if (!IsLost(seen[k])) {
            continue;
        }
        const bool before = k > 0 && IsLost(seen[k - 1]);
        const bool after = k + 1 < seen.size() && IsLost(seen[k + 1]);
        if (before || after) {
            return k;
        }
    }
    return seen.size();
}

} // namespace

ProbeResult ProbeFlash(SectorIo& io, uint64_t sectors, uint64_t seed,
                       const MediaProgressFn& progress, uint64_t cacheMost) {
    ProbeResult result;
    if (sectors == 0 || io.ChunkSectors() == 0) {
        return result;
    }
    const Layout plan = Plan(sectors, cacheMost);
    const Run top{sectors - plan.t, plan.t};
    const Run low{0, plan.low};
    const Run lowRead{0, plan.whole ? plan.low : plan.m};
    const uint64_t steps = 3 * (plan.low + plan.t + plan.singles.size()) + 2 * plan.m;
    Prober p(io, seed, progress, steps);

    // Zeros over every sector written, whatever was found; `skip` is a run
    // still to be read, zeroed after it.
    auto zeroSingles = [&] {
        bool ok = plan.t == 0 || p.Write(top, true);
        for (auto s = plan.singles.rbegin(); ok && s != plan.singles.rend(); ++s) {
            ok = p.Write({*s, 1}, true);
        }
        return ok;
    };
    auto zeroLow = [&](Run skip) {
        bool ok = p.Write({0, std::min(skip.first, low.count)}, true);
        if (ok && skip.first + skip.count < low.count) {
            ok = p.Write({skip.first + skip.count, low.count - skip.first - skip.count}, true);
        }
        return ok;
    };
    auto fail = [&] {
        zeroSingles();
        zeroLow({low.count, 0});
        result.ioFailed = true;
        result.bytesMoved = p.bytes;
        return result;
    };

    // Highest first: where the flash wraps, the lower sector written later
    // wins the shared place, and the higher one reads back its pattern.
    if ((plan.t > 0 && !p.Write(top, false))) {
        return fail();
    }
    for (auto s = plan.singles.rbegin(); s != plan.singles.rend(); ++s) {
        if (!p.Write({*s, 1}, false)) {
            return fail();
        }
    }
    if (!p.Write(low, false)) {
        return fail();
    }

    // Read back. A sector of the low stretch is trusted when at least the
    // flush was written after it, or when it lies below one that was lost
    // (a cache answers what was written, so that one had left it already).
    std::vector<Seen> seen;
    uint64_t gcd = 0;
    auto judge = [&](uint64_t at, SectorVerdict v) {
        if (v.kind == SectorVerdict::Alias) {
            gcd = std::gcd(gcd, at > v.other ? at - v.other : v.other - at);
        }
        seen.push_back({at, v, at < low.count ? at + plan.flush <= low.count : true});
    };
    bool ok = p.Read(lowRead, judge);
    for (uint64_t at = plan.m; ok && !plan.whole && at < low.count; at += plan.m) {
        ok = p.Read({at, 1}, judge);
    }
    for (size_t k = 0; ok && k < plan.singles.size(); ++k) {
        ok = p.Read({plan.singles[k], 1}, judge);
    }
    if (!ok || (plan.t > 0 && !p.Read(top, judge))) {
        return fail();
    }
    uint64_t highestLost = 0;
    bool anyLost = false;
    for (const Seen& s : seen) {
        if (IsLost(s) && s.at < low.count) {
            highestLost = std::max(highestLost, s.at);
            anyLost = true;
        }
    }
    std::vector<Seen> trusted;
    for (Seen s : seen) {
        s.trusted = s.trusted || (anyLost && s.at <= highestLost);
        if (s.trusted) {
            trusted.push_back(s);
        }
    }
    std::sort(trusted.begin(), trusted.end(),
              [](const Seen& a, const Seen& b) { return a.at < b.at; });
    result.tested = trusted.size();

    const uint64_t wrap = gcd != 0 ? std::min(gcd, sectors) : sectors;
    const size_t first = FirstDropped(trusted);
    uint64_t dropped = first < trusted.size() ? trusted[first].at : sectors;
    // Between the last sector kept and the first dropped lie up to m sectors
    // never read: write them, push them out of the cache with the zeros the
    // low stretch gets anyway, and read them back.
    Run gap{0, 0};
    if (dropped < wrap && first > 0 && trusted[first - 1].at + 1 < dropped) {
        gap = {trusted[first - 1].at + 1, dropped - trusted[first - 1].at - 1};
    }
    if (!zeroSingles() || (gap.count > 0 && !p.Write(gap, false)) || !zeroLow(gap)) {
        return fail();
    }
    if (gap.count > 0) {
        std::vector<Seen> refined;
        if (!p.Read(gap, [&](uint64_t at, SectorVerdict v) { refined.push_back({at, v, true}); })) {
            return fail();
        }
        result.tested += refined.size();
        // The first sector found lost is followed by the one known dropped.
        refined.push_back(trusted[first]);
        const size_t f = FirstDropped(refined);
        dropped = f < refined.size() ? refined[f].at : trusted[first].at;
        // What lies past the flash's end kept nothing of the pattern.
        if (dropped > gap.first && !p.Write({gap.first, dropped - gap.first}, true)) {
            return fail();
        }
        trusted.insert(trusted.end(), refined.begin(), refined.end() - 1);
    }
    result.keptSectors = std::min(wrap, dropped);
    for (const Seen& s : trusted) {
        result.lost += IsLost(s) && s.at < result.keptSectors ? 1 : 0;
    }
    result.bytesMoved = p.bytes;
    return result;
}

} // namespace ufd
