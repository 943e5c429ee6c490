// A sparse in-memory flash for the flash model: only what was written takes
// room, the rest reads as zeros. Kept as runs of sectors, one per write, so a
// probe's flush costs a copy per command rather than a map entry per sector,
// and a run of zeros written over it gives its room back.
#pragma once

#include "flash_model.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <map>
#include <span>
#include <vector>

namespace ufd::test {

class MemoryFlash final : public quorlink::sim::BlockStore {
public:
    bool readSectors(uint64_t first, std::span<uint8_t> data) override {
        std::fill(data.begin(), data.end(), 0);
        const uint64_t end = first + data.size() / 512;
        for (auto it = FirstReaching(first); it != runs_.end() && it->first < end; ++it) {
            const uint64_t from = std::max(first, it->first);
            const uint64_t to = std::min(end, RunEnd(it));
            std::copy_n(it->second.begin() + static_cast<ptrdiff_t>((from - it->first) * 512),
                        (to - from) * 512,
                        data.begin() + static_cast<ptrdiff_t>((from - first) * 512));
        }
        ++reads;
        return true;
    }
    bool writeSectors(uint64_t first, std::span<const uint8_t> data) override {
        const uint64_t end = first + data.size() / 512;
        Cut(first, end);
        // Zero sectors at either end take no room, as holes in an image.
        size_t lead = 0, tail = data.size() / 512;
        while (lead < tail && IsZero(data.subspan(lead * 512, 512))) {
            ++lead;
        }
        while (tail > lead && IsZero(data.subspan((tail - 1) * 512, 512))) {
            --tail;
        }
        if (lead < tail) {
            runs_.emplace(first + lead, Bytes(data.subspan(lead * 512, (tail - lead) * 512)));
        }
        ++writes;
        return true;
    }
    bool AllZero() const {
        return std::all_of(runs_.begin(), runs_.end(), [](const auto& r) {
            return std::all_of(r.second.begin(), r.second.end(), [](uint8_t b) { return b == 0; });
        });
    }
    // Sectors holding something other than zeros at the ends of a write.
    uint64_t Held() const {
        uint64_t n = 0;
        for (const auto& r : runs_) {
            n += r.second.size() / 512;
        }
        return n;
    }

    uint64_t reads = 0, writes = 0;

private:
    using Runs = std::map<uint64_t, std::vector<uint8_t>>;

    static bool IsZero(std::span<const uint8_t> sector) {
        return std::memcmp(sector.data(), kZeros.data(), 512) == 0;
    }
    static uint64_t RunEnd(Runs::const_iterator it) { return it->first + it->second.size() / 512; }
    // The first run that ends past `at`.
    Runs::iterator FirstReaching(uint64_t at) {
        auto it = runs_.upper_bound(at);
        if (it != runs_.begin() && RunEnd(std::prev(it)) > at) {
            --it;
        }
        return it;
    }
    // Forgets [first, end): runs inside it go, runs across its edges keep
    // what lies outside.
    void Cut(uint64_t first, uint64_t end) {
        auto it = FirstReaching(first);
        while (it != runs_.end() && it->first < end) {
            const uint64_t runFirst = it->first, runEnd = RunEnd(it);
            std::vector<uint8_t> bytes = std::move(it->second);
            it = runs_.erase(it);
            if (runEnd > end) {
                it = runs_.emplace_hint(it, end,
                                        Bytes(std::span(bytes).subspan((end - runFirst) * 512)));
            }
            if (runFirst < first) {
                bytes.resize((first - runFirst) * 512);
                runs_.emplace_hint(it, runFirst, std::move(bytes));
            } else if (spare_.size() < kSpareMost) {
                spare_.push_back(std::move(bytes));
            }
        }
    }

    // A copy of `data`, in the room of a run given back if there is one: a
    // probe writes and zeros the same sizes over and over, and fresh room
    // costs the kernel a page fault per page.
    std::vector<uint8_t> Bytes(std::span<const uint8_t> data) {
        std::vector<uint8_t> bytes;
        if (!spare_.empty()) {
            bytes = std::move(spare_.back());
            spare_.pop_back();
        }
        bytes.assign(data.begin(), data.end());
        return bytes;
    }

    static constexpr size_t kSpareMost = 64;
    Runs runs_;
    std::vector<std::vector<uint8_t>> spare_;
    static constexpr std::array<uint8_t, 512> kZeros{};
};

} // namespace ufd::test
