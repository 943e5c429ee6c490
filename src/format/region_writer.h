// Sends one region of a large file system (reserved sectors, a FAT, the
// bitmap, the root directory) in blocks of at most 32,768 bytes from the
// shared reply buffer, stopping at the first failed write.
#pragma once

#include "format/large_layout.h"
#include "format/reply_buffer.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

namespace ufd {

// fill(index, data, sectors): puts the bytes of the region's sectors index to
// index + sectors - 1 into data, which arrives cleared to zero.
template <class Fill>
bool WriteRegion(StationContext& ctx, Transport& drive, int32_t handle, int64_t first,
                 int64_t count, Fill&& fill) {
    uint8_t* out = OutgoingBuffer(ctx);
    for (int64_t done = 0; done < count;) {
        const auto n =
            static_cast<int32_t>(std::min<int64_t>(count - done, layout::kLargeWriteSectors));
        std::memset(out, 0, static_cast<size_t>(n) * kSectorSize);
        fill(done, out, n);
        if (drive.Write(handle, n, static_cast<int32_t>(first + done), out) == 0) {
            return false;
        }
        done += n;
    }
    return true;
}

// Little-endian stores into a raw buffer.
inline void PutLe16(uint8_t* p, uint16_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}
inline void PutLe32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i) {
        p[i] = static_cast<uint8_t>(v >> (8 * i));
    }
}
inline void PutLe64(uint8_t* p, uint64_t v) {
    for (int i = 0; i < 8; ++i) {
        p[i] = static_cast<uint8_t>(v >> (8 * i));
    }
}

// Puts FAT entries (4 bytes each, entry 0 first) where they fall into the
// sectors index.. of a FAT region.
template <class Entries>
void PutFatEntries(const Entries& entries, int64_t index, uint8_t* data, int32_t sectors) {
    const int64_t from = index * int64_t{kSectorSize} / 4;
    const int64_t to = from + int64_t{sectors} * int64_t{kSectorSize} / 4;
    for (int64_t e = from; e < to && e < static_cast<int64_t>(entries.size()); ++e) {
        PutLe32(data + (e - from) * 4, entries[static_cast<size_t>(e)]);
    }
}

} // namespace ufd
