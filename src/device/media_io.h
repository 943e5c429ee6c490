// The media test's SectorIo on a slot's drive: the transport's writes and
// data reads, each at most what the drive takes in one command.
#pragma once

#include "context/transport.h"
#include "device/sector_io.h"

namespace ufd {

// Large enough that command overhead vanishes, small enough for sixteen
// workers' buffers: 2 MiB, unless the drive takes less.
inline constexpr uint32_t kMediaChunkSectors = 4096;

class MediaIo final : public SectorIo {
public:
    MediaIo(Transport& transport, int32_t handle);
    bool WriteSectors(uint64_t first, std::span<const uint8_t> data) override;
    bool ReadSectors(uint64_t first, std::span<uint8_t> data) override;
    uint32_t ChunkSectors() const override { return chunk_; }

private:
    Transport& transport_;
    int32_t handle_;
    uint32_t chunk_;
};

} // namespace ufd
