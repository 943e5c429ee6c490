// Where each cached address sits in a flash model's cache: an open-addressed
// table, one probe per sector in the common case. A cache of 256 MiB turns
// over half a million sectors per flush, and a node-based map spent most of
// a simulated drive's time allocating and hashing.
#pragma once

#include <cstdint>
#include <vector>

namespace quorlink::sim {

class SlotIndex {
public:
    static constexpr uint64_t kNone = UINT64_MAX;

    // Room for `most` addresses at once, at most half full.
    void reserve(uint64_t most) {
        uint64_t places = 16;
        shift_ = 60;
        while (places < 2 * most) {
            places *= 2;
            --shift_;
        }
        places_.assign(places, Place{});
        size_ = 0;
    }
    uint64_t size() const { return size_; }
    bool empty() const { return size_ == 0; }

    // The slot of `lba`, or kNone.
    uint64_t find(uint64_t lba) const {
        if (size_ == 0) {
            return kNone;
        }
        for (uint64_t at = home(lba);; at = next(at)) {
            if (places_[at].lba == lba) {
                return places_[at].slot;
            }
            if (places_[at].lba == kNone) {
                return kNone;
            }
        }
    }
    // `lba` must not be in the table; there must be room (reserve).
    void insert(uint64_t lba, uint64_t slot) {
        uint64_t at = home(lba);
        while (places_[at].lba != kNone) {
            at = next(at);
        }
        places_[at] = {lba, slot};
        ++size_;
    }
    void erase(uint64_t lba) {
        uint64_t at = home(lba);
        while (places_[at].lba != lba) {
            if (places_[at].lba == kNone) {
                return;
            }
            at = next(at);
        }
        // Shift back the entries after it that would no longer be found
        // past the hole, so no tombstones pile up.
        for (uint64_t from = next(at);; from = next(from)) {
            if (places_[from].lba == kNone) {
                break;
            }
            const uint64_t want = home(places_[from].lba);
            // Moves when its home is not in the cyclic range (at, from].
            if ((from > at && (want <= at || want > from)) ||
                (from < at && want <= at && want > from)) {
                places_[at] = places_[from];
                at = from;
            }
        }
        places_[at].lba = kNone;
        --size_;
    }

private:
    uint64_t home(uint64_t lba) const { return (lba * 0x9E3779B97F4A7C15ULL) >> shift_; }
    uint64_t next(uint64_t at) const { return (at + 1) & (places_.size() - 1); }

    // An address and its slot side by side: one cache line per look-up.
    struct Place {
        uint64_t lba = kNone;
        uint64_t slot = 0;
    };
    std::vector<Place> places_;
    uint64_t size_ = 0;
    unsigned shift_ = 60;
};

} // namespace quorlink::sim
