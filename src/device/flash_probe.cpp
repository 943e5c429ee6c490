#include "device/flash_probe.h"

#include "device/block_pattern.h"

#include <algorithm>
#include <cmath>
#include <numeric>
#include <optional>
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

// What one sector read back said.
struct Seen {
    uint64_t at = 0;
    SectorVerdict verdict;
};

// The layout of the first pass. Written, in this order: the top run
// [N - t, N), single sectors at m, 2m, ... below it (highest first), the
// low run [0, m), then the flush from m up around the singles, which pushes
// everything written before it out of a cache. Read: the low run, the
// singles and the top run. On a flash that wraps at any K < N some single
// lands within m above K (or the top run does) and reads the pattern of a
// low sector written later, and every sector that reads another's pattern
// shows a multiple of K: their greatest common divisor is K. A flash that
// drops what lies past K shows the singles and the top run from K up lost;
// the last kept and the first lost are at most m apart. Every sector is
// written once, so the order they first reach a write cache is the order
// written (Entry).
struct Layout {
    uint64_t sectors = 0, m = 0, t = 0;
    uint64_t flushMost = 0; // the largest cache pushed out of the way
    uint64_t singles = 0;   // at m, 2m, ..., singles * m
    bool whole = false;     // small drive: all of it, written and read

    uint64_t TopFirst() const { return sectors - t; }
    bool IsSingle(uint64_t at) const { return at % m == 0 && at != 0 && at / m <= singles; }
    // Sectors of the first pass written before `at` (flushEnd: where the
    // flush has got to), or nothing for a sector not written.
    std::optional<uint64_t> Entry(uint64_t at, uint64_t flushEnd) const {
        if (at >= sectors) {
            return std::nullopt;
        }
        if (at >= TopFirst()) {
            return at - TopFirst();
        }
        if (at < m) {
            return t + singles + at;
        }
        if (IsSingle(at)) {
            return t + singles - at / m;
        }
        if (at < flushEnd) {
            // The flush sectors below it: those above m, less the singles.
            return t + singles + m + (at - m - 1) - ((at - 1) / m - 1);
        }
        return std::nullopt;
    }
};

Layout Plan(uint64_t sectors, uint64_t cacheMost) {
    Layout p;
    p.sectors = sectors;
    const auto balanced = static_cast<uint64_t>(
        std::ceil(std::sqrt(static_cast<double>(sectors) * kCommandSectors / 3)));
    p.m = std::clamp<uint64_t>(balanced, 1, kLowRunMost);
    p.t = std::min(p.m, kTopRunMost);
    // A smaller drive gets a flush of at most half of it.
    p.flushMost = std::min(cacheMost, sectors / 2);
    if (sectors <= 3 * p.m + p.flushMost + p.t) {
        p.whole = true;
        p.t = 0;
        return p;
    }
    p.singles = (sectors - p.t - 1) / p.m;
    return p;
}

// The flush is written in stages of doubling size, the first one large
// enough that a look between stages (the top run and a single every half
// stage, one command each) costs a small part of the stage.
uint64_t FirstStage(uint64_t sectors) {
    const double least = std::sqrt(8 * kCommandSectors * static_cast<double>(sectors));
    uint64_t stage = 1;
    while (static_cast<double>(stage) < least) {
        stage *= 2;
    }
    return stage;
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
            if (!zeros) {
                FillPattern(data, at, seed_);
                zeroed_ = 0;
            } else if (zeroed_ < data.size()) {
                std::fill(data.begin(), data.end(), 0);
                zeroed_ = data.size();
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
            zeroed_ = 0;
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

    // The bar full, however early the flush stopped.
    void Finished() {
        if (progress_) {
            progress_(1.0);
        }
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
    size_t zeroed_ = 0; // bytes at the buffer's start known to be zeros
};

bool IsLost(const Seen& s) {
    return s.verdict.kind == SectorVerdict::Lost;
}

// The first lost sector that is not alone among kept ones: where the flash
// stops keeping what it is given. A lone lost sector is a bad one. Index
// into `seen` (ascending); seen.size() when there is none.
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

// In the low run (seen[0, low), each at its own sector), the lost sectors
// with a kept one above them: no end of the flash, which drops all it holds
// past its end, but bad sectors, or what a write cached before the probe did
// when it left the cache after the low run, over the same flash place (a
// cache that keeps a sector written again in its old place sends the low run
// out ahead of it). From the first such sector to the last; empty if none.
Run Overwritten(const std::vector<Seen>& seen, size_t low) {
    size_t last = low;
    while (last > 0 && IsLost(seen[last - 1])) {
        --last;
    }
    while (last > 0 && !IsLost(seen[last - 1])) {
        --last;
    }
    if (last == 0) {
        return {};
    }
    size_t first = 0;
    while (!IsLost(seen[first])) {
        ++first;
    }
    return {seen[first].at, seen[last - 1].at - seen[first].at + 1};
}

} // namespace

ProbeResult ProbeFlash(SectorIo& io, uint64_t sectors, uint64_t seed,
                       const MediaProgressFn& progress, uint64_t cacheMost) {
    ProbeResult result;
    if (sectors == 0 || io.ChunkSectors() == 0) {
        return result;
    }
    const Layout plan = Plan(sectors, cacheMost);
    const uint64_t m = plan.m;
    const Run top{plan.TopFirst(), plan.t};
    const uint64_t steps = 3 * (m + plan.flushMost + plan.t + plan.singles) + 2 * m;
    Prober p(io, seed, progress, steps);
    // The low stretch [0, next): the low run and as much flush as was written.
    uint64_t next = plan.whole ? sectors : m;
    uint64_t flushed = 0;

    // Zeros over every sector written, whatever was found; `skip` is a run
    // still to be read, zeroed after it.
    auto zeroSingles = [&] {
        bool ok = plan.t == 0 || p.Write(top, true);
        for (uint64_t j = plan.singles; ok && j * m >= next && j > 0; --j) {
            ok = p.Write({j * m, 1}, true);
        }
        return ok;
    };
    auto zeroLow = [&](Run skip) {
        bool ok = p.Write({0, std::min(skip.first, next)}, true);
        if (ok && skip.first + skip.count < next) {
            ok = p.Write({skip.first + skip.count, next - skip.first - skip.count}, true);
        }
        return ok;
    };
    auto fail = [&] {
        zeroSingles();
        zeroLow({next, 0});
        result.ioFailed = true;
        result.bytesMoved = p.bytes;
        return result;
    };
    // The flush, `count` sectors more from `next` up, around the singles.
    auto flush = [&](uint64_t count) {
        while (count > 0 && next < plan.TopFirst()) {
            if (plan.IsSingle(next)) {
                ++next;
                continue;
            }
            const uint64_t run = std::min(count, m - next % m);
            if (!p.Write({next, run}, false)) {
                return false;
            }
            next += run;
            count -= run;
            flushed += run;
        }
        return true;
    };

    // Highest first: where the flash wraps, the lower sector written later
    // wins the shared place, and the higher one reads back its pattern.
    if ((plan.t > 0 && !p.Write(top, false))) {
        return fail();
    }
    for (uint64_t j = plan.singles; j > 0; --j) {
        if (!p.Write({j * m, 1}, false)) {
            return fail();
        }
    }
    if (!p.Write({0, next}, false)) {
        return fail();
    }

    uint64_t gcd = 0;
    auto foldAlias = [&](uint64_t at, SectorVerdict v) {
        if (v.kind == SectorVerdict::Alias) {
            gcd = std::gcd(gcd, at > v.other ? at - v.other : v.other - at);
        }
    };
    // The flush grows in stages until it has pushed out the largest cache,
    // or until a look shows the flash itself: a sector read as lost, or as
    // another's, came from the flash, so it and everything written before it
    // (a cache writes out oldest first) has left the cache. The cache is then
    // no larger than what was written after it, and the flush only needs to
    // reach that past the low run.
    uint64_t want = plan.whole ? 0 : plan.flushMost;
    bool seenFlash = false;
    for (uint64_t stage = FirstStage(sectors); flushed < want; stage *= 2) {
        if (!flush(std::min(stage, want) - flushed)) {
            return fail();
        }
        if (next >= plan.TopFirst()) {
            break;
        }
        if (seenFlash || flushed >= want) {
            continue;
        }
        const uint64_t every = std::max<uint64_t>(1, stage / 2 / m);
        std::optional<uint64_t> left;
        auto look = [&](uint64_t at, SectorVerdict v) {
            foldAlias(at, v);
            if (v.kind == SectorVerdict::Kept) {
                return;
            }
            auto entry = plan.Entry(at, next);
            if (const auto other = plan.Entry(v.other, next);
                v.kind == SectorVerdict::Alias && other && entry) {
                entry = std::max(*entry, *other);
            }
            if (entry) {
                left = std::max(left.value_or(0), *entry);
            }
        };
        bool ok = p.Read(top, look);
        for (uint64_t j = every; ok && j <= plan.singles; j += every) {
            ok = p.Read({j * m, 1}, look);
        }
        if (!ok) {
            return fail();
        }
        if (left) {
            seenFlash = true;
            const uint64_t written = plan.t + plan.singles + m + flushed;
            want = std::clamp(written - *left - 1, flushed, plan.flushMost);
        }
    }

    // Read back, in ascending order: the low run (the whole drive, when
    // small), the singles, the top run.
    std::vector<Seen> seen;
    auto judge = [&](uint64_t at, SectorVerdict v) {
        foldAlias(at, v);
        seen.push_back({at, v});
    };
    bool ok = p.Read({0, plan.whole ? sectors : m}, judge);
    for (uint64_t j = 1; ok && j <= plan.singles; ++j) {
        ok = p.Read({j * m, 1}, judge);
    }
    if (!ok || (plan.t > 0 && !p.Read(top, judge))) {
        return fail();
    }
    result.tested = seen.size();

    // On a fake, sectors a stale cached write overwrote are written again
    // now that everything cached before the probe has left the cache (the
    // flush pushed it out), pushed out in turn by the low stretch's zeros, and
    // read again. A genuine drive's bad sectors are not worth that pass.
    const size_t low = plan.whole ? sectors : m;
    const bool fake = gcd != 0 || FirstDropped(seen) < seen.size();
    if (const Run again = Overwritten(seen, low); fake && again.count > 0) {
        if (!p.Write(again, false) || !zeroLow(again) ||
            !p.Read(again, [&](uint64_t at, SectorVerdict v) {
                foldAlias(at, v);
                seen[at].verdict = v;
            })) {
            return fail();
        }
    }

    const uint64_t wrap = gcd != 0 ? std::min(gcd, sectors) : sectors;
    const size_t first = FirstDropped(seen);
    uint64_t dropped = first < seen.size() ? seen[first].at : sectors;
    // Between the last sector kept and the first dropped lie up to m sectors
    // never read: write them, push them out of the cache with the zeros the
    // low stretch gets anyway, and read them back.
    Run gap{0, 0};
    if (dropped < wrap && first > 0 && seen[first - 1].at + 1 < dropped) {
        gap = {seen[first - 1].at + 1, dropped - seen[first - 1].at - 1};
    }
    if (!zeroSingles() || (gap.count > 0 && !p.Write(gap, false)) || !zeroLow(gap)) {
        return fail();
    }
    if (gap.count > 0) {
        std::vector<Seen> refined;
        if (!p.Read(gap, [&](uint64_t at, SectorVerdict v) { refined.push_back({at, v}); })) {
            return fail();
        }
        result.tested += refined.size();
        // The first sector found lost is followed by the one known dropped.
        refined.push_back(seen[first]);
        const size_t f = FirstDropped(refined);
        dropped = f < refined.size() ? refined[f].at : seen[first].at;
        // What lies past the flash's end kept nothing of the pattern.
        if (dropped > gap.first && !p.Write({gap.first, dropped - gap.first}, true)) {
            return fail();
        }
        seen.insert(seen.end(), refined.begin(), refined.end() - 1);
    }
    result.keptSectors = std::min(wrap, dropped);
    for (const Seen& s : seen) {
        result.lost += IsLost(s) && s.at < result.keptSectors ? 1 : 0;
    }
    result.bytesMoved = p.bytes;
    p.Finished();
    return result;
}

} // namespace ufd
