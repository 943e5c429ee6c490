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
        keys_.assign(places, kNone);
        slots_.assign(places, 0);
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
            if (keys_[at] == lba) {
                return slots_[at];
            }
            if (keys_[at] == kNone) {
                return kNone;
            }
        }
    }
    // `lba` must not be in the table; there must be room (reserve).
    void insert(uint64_t lba, uint64_t slot) {
        uint64_t at = home(lba);
        while (keys_[at] != kNone) {
            at = next(at);
        }
        keys_[at] = lba;
        slots_[at] = slot;
        ++size_;
    }
    void erase(uint64_t lba) {
        uint64_t at = home(lba);
        while (keys_[at] != lba) {
            if (keys_[at] == kNone) {
                return;
            }
            at = next(at);
        }
        // Shift back the entries after it that would no longer be found
        // past the hole, so no tombstones pile up.
        for (uint64_t from = next(at);; from = next(from)) {
            if (keys_[from] == kNone) {
                break;
            }
            const uint64_t want = home(keys_[from]);
            // Moves when its home is not in the cyclic range (at, from].
            if ((from > at && (want <= at || want > from)) ||
                (from < at && want <= at && want > from)) {
                keys_[at] = keys_[from];
                slots_[at] = slots_[from];
                at = from;
            }
        }
        keys_[at] = kNone;
        --size_;
    }

private:
    uint64_t home(uint64_t lba) const { return (lba * 0x9E3779B97F4A7C15ULL) >> shift_; }
    uint64_t next(uint64_t at) const { return (at + 1) & (keys_.size() - 1); }

    std::vector<uint64_t> keys_;
    std::vector<uint64_t> slots_;
    uint64_t size_ = 0;
    unsigned shift_ = 60;
};

} // namespace quorlink::sim
