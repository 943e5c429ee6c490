// A sparse in-memory flash for the flash model: only what was written takes
// room, the rest reads as zeros. Kept as pieces of writes, so a probe's flush
// costs a copy per command rather than a map entry per sector, and a run of
// zeros written over it gives its room back.
#pragma once

#include "flash_model.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <map>
#include <span>
#include <unordered_map>
#include <vector>

namespace ufd::test {

class MemoryFlash final : public quorlink::sim::BlockStore {
public:
    // Kept in cells of `cellSectors`, each found by its number and holding
    // the pieces of writes that fall in it: a drive's map of pieces grows to
    // a hundred thousand single sectors, and a search down one tree costs a
    // cache miss per level. A piece never crosses a cell's edge, so a write
    // that falls inside one copies at most that much of what it keeps.
    explicit MemoryFlash(uint64_t cellSectors = 1024) : cellSectors_(cellSectors) {}

    bool readSectors(uint64_t first, std::span<uint8_t> data) override {
        const uint64_t end = first + data.size() / 512;
        uint64_t at = first; // data before it is filled
        auto fill = [&](uint64_t to, const uint8_t* from) {
            const auto out = data.begin() + static_cast<ptrdiff_t>((at - first) * 512);
            if (from == nullptr) {
                std::fill_n(out, (to - at) * 512, 0);
            } else {
                std::copy_n(from, (to - at) * 512, out);
            }
            at = to;
        };
        for (uint64_t c = first / cellSectors_; c * cellSectors_ < end; ++c) {
            const auto cell = cells_.find(c);
            if (cell == cells_.end()) {
                continue;
            }
            Runs& runs = cell->second;
            for (auto it = FirstReaching(runs, first); it != runs.end() && it->first < end; ++it) {
                const uint64_t from = std::max(first, it->first);
                fill(from, nullptr);
                fill(std::min(end, RunEnd(it)), it->second.Data() + (from - it->first) * 512);
            }
        }
        fill(end, nullptr);
        return true;
    }
    bool writeSectors(uint64_t first, std::span<const uint8_t> data) override {
        const uint64_t end = first + data.size() / 512;
        for (uint64_t at = first; at < end;) {
            const uint64_t to = std::min(end, (at / cellSectors_ + 1) * cellSectors_);
            Write(at, data.subspan((at - first) * 512, (to - at) * 512));
            at = to;
        }
        return true;
    }
    bool AllZero() const {
        return std::all_of(cells_.begin(), cells_.end(), [](const auto& cell) {
            return std::all_of(cell.second.begin(), cell.second.end(), [](const auto& r) {
                const Piece& p = r.second;
                return std::all_of(p.Data(), p.Data() + p.Sectors() * 512,
                                   [](uint8_t b) { return b == 0; });
            });
        });
    }
    // Sectors holding something other than zeros at the ends of a write.
    uint64_t Held() const {
        uint64_t n = 0;
        for (const auto& cell : cells_) {
            for (const auto& r : cell.second) {
                n += r.second.Sectors();
            }
        }
        return n;
    }

private:
    // Sectors kept from `skip` on: a write over a piece's start moves `skip`
    // rather than copying the rest (a cache writes its runs out wherever
    // they end, and the probe's zeros cut them again at other places).
    struct Piece {
        std::vector<uint8_t> bytes;
        size_t skip = 0;
        const uint8_t* Data() const { return bytes.data() + skip; }
        uint64_t Sectors() const { return (bytes.size() - skip) / 512; }
    };
    using Runs = std::map<uint64_t, Piece>;

    static bool IsZero(std::span<const uint8_t> sector) {
        return std::memcmp(sector.data(), kZeros.data(), 512) == 0;
    }
    static uint64_t RunEnd(Runs::const_iterator it) { return it->first + it->second.Sectors(); }
    // The first run that ends past `at`.
    static Runs::iterator FirstReaching(Runs& runs, uint64_t at) {
        auto it = runs.upper_bound(at);
        if (it != runs.begin() && RunEnd(std::prev(it)) > at) {
            --it;
        }
        return it;
    }
    // Writes `data` at `first`, all of it inside one cell: what it covers is
    // forgotten, and what it holds kept less the zero sectors at either end,
    // which take no room, as holes in an image. A cell once made stays, empty
    // or not: a probe writes the same places again with the next seed.
    void Write(uint64_t first, std::span<const uint8_t> data) {
        size_t lead = 0, tail = data.size() / 512;
        while (lead < tail && IsZero(data.subspan(lead * 512, 512))) {
            ++lead;
        }
        while (tail > lead && IsZero(data.subspan((tail - 1) * 512, 512))) {
            --tail;
        }
        auto cell = cells_.find(first / cellSectors_);
        if (cell == cells_.end()) {
            if (lead == tail) {
                return;
            }
            cell = cells_.try_emplace(first / cellSectors_).first;
        }
        Runs& runs = cell->second;
        const auto hint = Cut(runs, first, first + data.size() / 512);
        if (lead < tail) {
            runs.emplace_hint(hint, first + lead,
                              Piece{Bytes(data.subspan(lead * 512, (tail - lead) * 512)), 0});
        }
    }
    // Forgets [first, end): runs inside it go, runs across its edges keep
    // what lies outside. Where runs of [first, end) go in.
    Runs::iterator Cut(Runs& runs, uint64_t first, uint64_t end) {
        auto it = FirstReaching(runs, first);
        while (it != runs.end() && it->first < end) {
            const uint64_t runFirst = it->first, runEnd = RunEnd(it);
            if (runFirst < first && runEnd > end) { // the write falls inside it
                Piece upper{Bytes(std::span(it->second.Data() + (end - runFirst) * 512,
                                            (runEnd - end) * 512)),
                            0};
                it->second.bytes.resize(it->second.skip + (first - runFirst) * 512);
                return runs.emplace_hint(std::next(it), end, std::move(upper));
            }
            if (runFirst < first) {
                it->second.bytes.resize(it->second.skip + (first - runFirst) * 512);
                ++it;
            } else if (runEnd > end) {
                auto node = runs.extract(it++);
                node.key() = end;
                node.mapped().skip += (end - runFirst) * 512;
                return runs.insert(it, std::move(node));
            } else {
                GiveBack(std::move(it->second.bytes));
                it = runs.erase(it);
            }
        }
        return it;
    }

    // A copy of `data`, in the room of a run given back if one fits: a probe
    // writes and zeros the same sizes over and over, and fresh room costs the
    // kernel a page fault per page (the allocator hands large blocks back to
    // it as soon as they are freed). Room comes in powers of two, each size
    // kept apart, so a fit is found at once.
    std::vector<uint8_t> Bytes(std::span<const uint8_t> data) {
        const auto k = static_cast<size_t>(std::bit_width(std::max<size_t>(data.size(), 1) - 1));
        std::vector<uint8_t> bytes;
        if (!spare_[k].empty()) {
            bytes = std::move(spare_[k].back());
            spare_[k].pop_back();
            spareBytes_ -= bytes.capacity();
        } else {
            bytes.reserve(size_t{1} << k);
        }
        bytes.assign(data.begin(), data.end());
        return bytes;
    }
    void GiveBack(std::vector<uint8_t> bytes) {
        if (bytes.capacity() > 0 && spareBytes_ + bytes.capacity() <= kSpareMostBytes) {
            spareBytes_ += bytes.capacity();
            spare_[std::bit_width(bytes.capacity()) - 1].push_back(std::move(bytes));
        }
    }

    static constexpr size_t kSpareMostBytes = size_t{1} << 30;
    uint64_t cellSectors_;
    std::unordered_map<uint64_t, Runs> cells_;                // by cell number
    std::array<std::vector<std::vector<uint8_t>>, 64> spare_; // by the power of two they hold
    size_t spareBytes_ = 0;
    static constexpr std::array<uint8_t, 512> kZeros{};
};

} // namespace ufd::test
