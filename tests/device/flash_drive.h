// A drive over the simulator's flash model in memory, for the probe, the
// sweep and the speed figures: it reports all its sectors whatever its flash
// keeps, and on a clock of the test's own its transfers take the time the
// model gives them, so a slow drive takes no wall time.
#pragma once

#include "device/sector_io.h"
#include "flash_model.h"
#include "platform/clock.h"
#include "support/memory_flash.h"

#include <chrono>

namespace ufd::test {

class TestClock final : public SteadyClock {
public:
    std::chrono::steady_clock::time_point Now() override { return now; }
    std::chrono::steady_clock::time_point now{};
};

class FlashDrive final : public SectorIo {
public:
    // A transfer covering `failAt` fails, as a drive pulled there would.
    FlashDrive(quorlink::sim::FlashProfile profile, uint64_t sectors, uint64_t failAt = UINT64_MAX,
               TestClock* clock = nullptr)
        : model(std::move(profile)), sectors_(sectors), failAt_(failAt), clock_(clock) {}
    bool WriteSectors(uint64_t first, std::span<const uint8_t> data) override {
        Pass(true, data.size());
        return Ok(first, data.size()) && model.write(store, first, data);
    }
    bool ReadSectors(uint64_t first, std::span<uint8_t> data) override {
        Pass(false, data.size());
        return Ok(first, data.size()) && model.read(store, first, data);
    }
    uint32_t ChunkSectors() const override { return 4096; }

    quorlink::sim::FlashModel model;
    MemoryFlash store;
    uint64_t moved = 0; // bytes, both ways

private:
    bool Ok(uint64_t first, size_t bytes) const {
        return first + bytes / 512 <= sectors_ &&
               (first > failAt_ || first + bytes / 512 <= failAt_);
    }
    void Pass(bool write, size_t bytes) {
        moved += bytes;
        if (clock_ != nullptr) {
            clock_->now += model.transferTime(write, bytes);
        }
    }
    uint64_t sectors_, failAt_;
    TestClock* clock_;
};

} // namespace ufd::test
