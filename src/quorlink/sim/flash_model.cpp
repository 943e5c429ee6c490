#include "flash_model.h"

#include <algorithm>
#include <cmath>
#include <utility>

namespace quorlink::sim {

namespace {

constexpr std::pair<FakeKind, const char*> kFakeNames[] = {
    {FakeKind::Wrap, "wrap"}, {FakeKind::Limbo, "limbo"}, {FakeKind::Chain, "chain"}};
constexpr std::pair<PastEnd, const char*> kPastEndNames[] = {{PastEnd::Zeros, "zeros"},
                                                             {PastEnd::Ones, "ones"},
                                                             {PastEnd::Stale, "stale"},
                                                             {PastEnd::Noise, "noise"}};

template <typename E, size_t N>
bool parseName(const std::pair<E, const char*> (&names)[N], std::string_view name, E& out) {
    for (const auto& [value, text] : names) {
        if (name == text) {
            out = value;
            return true;
        }
    }
    return false;
}

template <typename E, size_t N>
const char* nameOf(const std::pair<E, const char*> (&names)[N], E v) {
    for (const auto& [value, text] : names) {
        if (value == v) {
            return text;
        }
    }
    return "?";
}

// A bad sector keeps the inverse of what it was given: never what was
// written, and never a block of zeros that could pass for an erased one.
void spoil(std::span<uint8_t> sector) {
    std::transform(sector.begin(), sector.end(), sector.begin(),
                   [](uint8_t b) { return static_cast<uint8_t>(~b); });
}

} // namespace

bool parseFakeKind(std::string_view name, FakeKind& kind) {
    return parseName(kFakeNames, name, kind);
}
bool parsePastEnd(std::string_view name, PastEnd& pastEnd) {
    return parseName(kPastEndNames, name, pastEnd);
}
const char* fakeKindName(FakeKind kind) {
    return nameOf(kFakeNames, kind);
}
const char* pastEndName(PastEnd pastEnd) {
    return nameOf(kPastEndNames, pastEnd);
}

FlashModel::FlashModel(FlashProfile profile) : profile_(std::move(profile)) {
    std::sort(profile_.badSectors.begin(), profile_.badSectors.end());
    profile_.badSectors.erase(std::unique(profile_.badSectors.begin(), profile_.badSectors.end()),
                              profile_.badSectors.end());
}

bool FlashModel::physical(uint64_t lba, uint64_t& sector) const {
    const uint64_t k = profile_.flashSectors;
    if (k == 0 || lba < k) {
        sector = lba;
        return true;
    }
    const bool dropped = profile_.fake == FakeKind::Limbo ||
                         (profile_.fake == FakeKind::Chain && (lba / k) % 2 == 1);
    sector = lba % k;
    return !dropped;
}

bool FlashModel::answers() {
    if (hung_) {
        return false;
    }
    ++commands_;
    if (profile_.hangAfter != 0 && commands_ == profile_.hangAfter + 1) {
        hung_ = true;
    }
    return !hung_;
}

bool FlashModel::reset(BlockStore& store) {
    hung_ = false;
    return flush(store);
}

std::span<uint8_t> FlashModel::slot(uint64_t index) {
    return std::span(slots_).subspan(index * kSectorBytes, kSectorBytes);
}

bool FlashModel::write(BlockStore& store, uint64_t lba, std::span<const uint8_t> data) {
    const uint64_t count = data.size() / kSectorBytes;
    const uint64_t cap = profile_.cacheSectors;
    if (cap == 0) {
        return writeThrough(store, lba, data);
    }
    if (slots_.empty()) {
        slots_.resize(cap * kSectorBytes);
        slotLba_.resize(cap);
        cache_.reserve(cap);
    }
    // New sectors go to consecutive slots: copied a stretch at a time.
    uint64_t copyFrom = 0, copyTo = 0, copyCount = 0;
    auto copy = [&] {
        std::copy_n(data.begin() + static_cast<ptrdiff_t>(copyFrom * kSectorBytes),
                    copyCount * kSectorBytes, slots_.data() + copyTo * kSectorBytes);
        copyCount = 0;
    };
    for (uint64_t k = 0; k < count; ++k) {
        if (const uint64_t cached = cache_.find(lba + k); cached != SlotIndex::kNone) {
            const auto sector = data.subspan(k * kSectorBytes, kSectorBytes);
            std::copy(sector.begin(), sector.end(), slot(cached).begin());
            continue;
        }
        if (used_ == cap) {
            copy(); // the slots about to be written out hold it
            // Room for the rest of this write at once, so the flash sees long runs.
            if (!flushOldest(store, std::min(cap, count - k))) {
                return false;
            }
        }
        const uint64_t at = (head_ + used_) % cap;
        ++used_;
        slotLba_[at] = lba + k;
        cache_.insert(lba + k, at);
        if (copyCount > 0 && (copyFrom + copyCount != k || copyTo + copyCount != at)) {
            copy();
        }
        if (copyCount == 0) {
            copyFrom = k;
            copyTo = at;
        }
        ++copyCount;
    }
    copy();
    return true;
}

bool FlashModel::flushOldest(BlockStore& store, uint64_t count) {
    const uint64_t cap = profile_.cacheSectors;
    count = std::min(count, used_);
    // A run goes out straight from its slots: consecutive addresses in
    // consecutive slots (a flush of a long write is one run per ring turn).
    uint64_t runFirst = 0, runSlot = 0, runCount = 0;
    auto writeRun = [&] {
        const bool ok =
            runCount == 0 || writeThrough(store, runFirst,
                                          std::span(slots_).subspan(runSlot * kSectorBytes,
                                                                    runCount * kSectorBytes));
        runCount = 0;
        return ok;
    };
    for (uint64_t k = 0; k < count; ++k) {
        const uint64_t at = head_;
        const uint64_t lba = slotLba_[at];
        if (runCount > 0 && (lba != runFirst + runCount || at != runSlot + runCount) &&
            !writeRun()) {
            return false;
        }
        if (runCount == 0) {
            runFirst = lba;
            runSlot = at;
        }
        ++runCount;
        cache_.erase(lba);
        head_ = (head_ + 1) % cap;
        --used_;
    }
    return writeRun();
}

bool FlashModel::flush(BlockStore& store) {
    return flushOldest(store, used_);
}

bool FlashModel::read(BlockStore& store, uint64_t lba, std::span<uint8_t> data) {
    const uint64_t count = data.size() / kSectorBytes;
    if (!readThrough(store, lba, data)) {
        return false;
    }
    if (!cache_.empty()) {
        for (uint64_t k = 0; k < count; ++k) {
            if (const uint64_t cached = cache_.find(lba + k); cached != SlotIndex::kNone) {
                const auto s = slot(cached);
                std::copy(s.begin(), s.end(),
                          data.begin() + static_cast<ptrdiff_t>(k * kSectorBytes));
            }
        }
    }
    return true;
}

bool FlashModel::writeThrough(BlockStore& store, uint64_t lba, std::span<const uint8_t> data) {
    const uint64_t count = data.size() / kSectorBytes;
    std::vector<uint8_t> spoiled;
    for (uint64_t done = 0; done < count;) {
        uint64_t phys = 0;
        const bool kept = physical(lba + done, phys);
        // The stretch that stays contiguous on the flash (or stays dropped).
        uint64_t run = 1;
        for (uint64_t p = 0; done + run < count; ++run) {
            if (physical(lba + done + run, p) != kept || (kept && p != phys + run)) {
                break;
            }
        }
        if (kept) {
            auto part = data.subspan(done * kSectorBytes, run * kSectorBytes);
            auto bad =
                std::lower_bound(profile_.badSectors.begin(), profile_.badSectors.end(), phys);
            if (bad != profile_.badSectors.end() && *bad < phys + run) {
                spoiled.assign(part.begin(), part.end());
                for (; bad != profile_.badSectors.end() && *bad < phys + run; ++bad) {
                    spoil(std::span(spoiled).subspan((*bad - phys) * kSectorBytes, kSectorBytes));
                }
                part = spoiled;
            }
            if (!store.writeSectors(phys, part)) {
                return false;
            }
        }
        done += run;
    }
    return true;
}

bool FlashModel::readThrough(BlockStore& store, uint64_t lba, std::span<uint8_t> data) {
    const uint64_t count = data.size() / kSectorBytes;
    for (uint64_t done = 0; done < count;) {
        uint64_t phys = 0;
        const bool kept = physical(lba + done, phys);
        uint64_t run = 1;
        for (uint64_t p = 0; done + run < count; ++run) {
            if (physical(lba + done + run, p) != kept || p != phys + run) {
                break;
            }
        }
        const auto part = data.subspan(done * kSectorBytes, run * kSectorBytes);
        if (kept || profile_.pastEnd == PastEnd::Stale) {
            if (!store.readSectors(phys, part)) {
                return false;
            }
        } else if (profile_.pastEnd == PastEnd::Noise) {
            for (auto& b : part) {
                noise_ ^= noise_ << 13;
                noise_ ^= noise_ >> 7;
                noise_ ^= noise_ << 17;
                b = static_cast<uint8_t>(noise_);
            }
        } else {
            std::fill(part.begin(), part.end(), profile_.pastEnd == PastEnd::Ones ? 0xFF : 0x00);
        }
        done += run;
    }
    return true;
}

std::chrono::microseconds FlashModel::transferTime(bool write, uint64_t bytes) const {
    const double mbps = write ? profile_.writeMBps : profile_.readMBps;
    if (mbps <= 0) {
        return std::chrono::microseconds(0);
    }
    return std::chrono::microseconds(
        static_cast<int64_t>(std::llround(static_cast<double>(bytes) / mbps)));
}

} // namespace quorlink::sim
