// What the media test needs of a drive: sectors written and read back in
// large transfers. The station's is MediaIo over the transport; tests put a
// flash model behind it.
#pragma once

#include <cstdint>
#include <span>

namespace ufd {

class SectorIo {
public:
    virtual ~SectorIo() = default;
    // data.size() / 512 sectors from `first`; false: the drive failed it.
    virtual bool WriteSectors(uint64_t first, std::span<const uint8_t> data) = 0;
    virtual bool ReadSectors(uint64_t first, std::span<uint8_t> data) = 0;
    // The most sectors one call should move.
    virtual uint32_t ChunkSectors() const = 0;
    // Bracket a timed pass: the drive moves data alone on its hub meanwhile.
    virtual void BeginTimed() {}
    virtual void EndTimed() {}
};

} // namespace ufd
