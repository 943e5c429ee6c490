// The media test's SectorIo on a slot's drive: the transport's writes and
// data reads, each at most what the drive takes in one command.
#pragma once

#include "context/transport.h"
#include "device/hub_gate.h"
#include "device/sector_io.h"

namespace ufd {

// Large enough that command overhead vanishes, small enough for sixteen
// workers' buffers: 2 MiB, unless the drive takes less.
inline constexpr uint32_t kMediaChunkSectors = 4096;

class MediaIo final : public SectorIo {
public:
    // shareHub: a drive of a parallel run, which times alone on its hub.
    MediaIo(Transport& transport, int32_t handle, bool shareHub = false);
    ~MediaIo() override { EndTimed(); }
    bool WriteSectors(uint64_t first, std::span<const uint8_t> data) override;
    bool ReadSectors(uint64_t first, std::span<uint8_t> data) override;
    uint32_t ChunkSectors() const override { return chunk_; }
    void BeginTimed() override;
    void EndTimed() override;
    // The last transfer failed with the sense of a write-protected medium.
    bool WriteProtected() const { return writeProtected_; }

private:
    // Runs one transfer, waiting for the hub while another drive on it times.
    template <typename Move> bool Transfer(Move move);

    Transport& transport_;
    int32_t handle_;
    uint32_t chunk_;
    HubGate* gate_;
    bool timing_ = false;
    bool writeProtected_ = false;
};

} // namespace ufd
