// The flash behind a simulated drive's controller: how many sectors it
// really keeps, which sectors lose what was written, and how fast it moves
// data. Free of the rack's file format, so that every program that serves a
// simulated drive (the simulator, the user-space stick) answers the same.
#pragma once

#include <chrono>
#include <cstdint>
#include <span>
#include <vector>

namespace quorlink::sim {

// What a rack file says about a drive's flash. Defaults: a good drive.
struct FlashProfile {
    uint64_t flashSectors = 0;        // sectors kept; 0: every sector the drive reports
    std::vector<uint64_t> badSectors; // sectors of the flash that spoil what they keep
    double readMBps = 0;              // 10^6 bytes per second; 0: no limit
    double writeMBps = 0;
};

// Where sectors are kept: byte offsets of a backing image. False: I/O failed.
class BlockStore {
public:
    virtual ~BlockStore() = default;
    virtual bool readAt(uint64_t offset, std::span<uint8_t> data) = 0;
    virtual bool writeAt(uint64_t offset, std::span<const uint8_t> data) = 0;
};

class FlashModel {
public:
    static constexpr uint32_t kSectorBytes = 512;

    explicit FlashModel(FlashProfile profile);

    const FlashProfile& profile() const { return profile_; }
    // The sector of the backing store that host sector `lba` lands on.
    uint64_t physical(uint64_t lba) const;

    // Moves count sectors at lba between `data` (count * 512 bytes) and the
    // store, through the flash's wrap-around and bad sectors.
    bool write(BlockStore& store, uint64_t lba, std::span<const uint8_t> data) const;
    bool read(BlockStore& store, uint64_t lba, std::span<uint8_t> data) const;

    // How long the flash takes to move `bytes`; the caller waits it out.
    std::chrono::microseconds transferTime(bool write, uint64_t bytes) const;

private:
    // Calls io(store offset, first byte of data, bytes) for each stretch of
    // host sectors that is contiguous in the store.
    template <typename Io> bool eachRun(uint64_t lba, uint64_t count, Io io) const;

    FlashProfile profile_;
};

} // namespace quorlink::sim
