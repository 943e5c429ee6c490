// The flash behind a simulated drive's controller: how many sectors it
// really keeps and what becomes of the others (wrap, limbo, chain), which
// sectors lose what was written, a write-back cache that hides all of it for
// a while, a controller that stops answering, and how fast it moves data.
// Free of the rack's file format and of anything beyond the standard
// library, so that every program that serves a simulated drive (the
// simulator, the user-space stick) answers the same.
#pragma once

#include "slot_index.h"

#include <chrono>
#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

namespace quorlink::sim {

// What a host address at or past the flash's end does.
enum class FakeKind {
    Wrap,  // lands on the address modulo the flash: high sectors overwrite low ones
    Limbo, // writes are dropped, reads answer as `PastEnd` says
    Chain, // stretches of the flash's size, alternately limbo and wrap (limbo first)
};

// What a read of a dropped (limbo) address answers.
enum class PastEnd {
    Zeros,
    Ones,  // every byte 0xFF, as erased flash
    Stale, // what the flash holds at the address modulo its size
    Noise, // bytes that differ at every read
};

// Names as rack files write them; false for a name not known.
bool parseFakeKind(std::string_view name, FakeKind& kind);
bool parsePastEnd(std::string_view name, PastEnd& pastEnd);
const char* fakeKindName(FakeKind kind);
const char* pastEndName(PastEnd pastEnd);

// What a rack file says about a drive's flash. Defaults: a good drive.
struct FlashProfile {
    uint64_t flashSectors = 0;        // sectors kept; 0: every sector the drive reports
    FakeKind fake = FakeKind::Wrap;   // what the addresses past flashSectors do
    PastEnd pastEnd = PastEnd::Zeros; // what a dropped address reads
    uint64_t cacheSectors = 0;        // write-back cache by host address; 0: none
    uint64_t hangAfter = 0;           // stops answering after this many commands, once; 0: never
    std::vector<uint64_t> badSectors; // sectors of the flash that spoil what they keep
    double readMBps = 0;              // 10^6 bytes per second; 0: no limit
    double writeMBps = 0;
};

// Where the flash keeps its sectors: physical sectors of 512 bytes, data
// holding whole sectors. False: I/O failed.
class BlockStore {
public:
    virtual ~BlockStore() = default;
    virtual bool readSectors(uint64_t first, std::span<uint8_t> data) = 0;
    virtual bool writeSectors(uint64_t first, std::span<const uint8_t> data) = 0;
};

// One drive's flash and controller state (cache, commands seen). Not
// thread-safe: the caller serialises the commands of one drive.
class FlashModel {
public:
    static constexpr uint32_t kSectorBytes = 512;

    explicit FlashModel(FlashProfile profile);

    const FlashProfile& profile() const { return profile_; }

    // Where host sector `lba` lives on the flash; false: nowhere (limbo).
    bool physical(uint64_t lba, uint64_t& sector) const;

    // Counts one command; false once the controller has stopped answering
    // (after `hangAfter` commands, until reset(); it hangs once).
    bool answers();
    // A USB reset: the controller answers again, and writes its cache out
    // to the flash (a reset does not cut power).
    bool reset(BlockStore& store);

    // Moves data.size() / 512 sectors at lba between `data` and the flash,
    // through the cache, the wrap or limbo, and the bad sectors.
    bool write(BlockStore& store, uint64_t lba, std::span<const uint8_t> data);
    bool read(BlockStore& store, uint64_t lba, std::span<uint8_t> data);
    // Writes every cached sector out to the flash, oldest first.
    bool flush(BlockStore& store);
    uint64_t cachedSectors() const { return cache_.size(); }

    // How long the flash takes to move `bytes`; the caller waits it out.
    std::chrono::microseconds transferTime(bool write, uint64_t bytes) const;

private:
    bool writeThrough(BlockStore& store, uint64_t lba, std::span<const uint8_t> data);
    bool readThrough(BlockStore& store, uint64_t lba, std::span<uint8_t> data);
    // Writes the `count` oldest cached sectors out, in runs of consecutive
    // addresses, and frees their places.
    bool flushOldest(BlockStore& store, uint64_t count);
    std::span<uint8_t> slot(uint64_t index);

    FlashProfile profile_;
    uint64_t commands_ = 0;
    bool hung_ = false;
    uint64_t noise_ = 0x9E3779B97F4A7C15ULL;
    // The cache: a ring of sectors in the order they first came in (a sector
    // written again while cached keeps its place), and where each address sits.
    std::vector<uint8_t> slots_;
    std::vector<uint64_t> slotLba_;
    uint64_t head_ = 0;
    uint64_t used_ = 0;
    SlotIndex cache_;
};

} // namespace quorlink::sim
