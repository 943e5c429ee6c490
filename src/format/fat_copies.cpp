#include "format/fat_writers.h"
#include "format/reply_buffer.h"
#include "format/sector_layout.h"

#include <cstring>
#include <limits>

namespace ufd {

namespace {

using namespace layout;

constexpr size_t kFatWriteBytes = 32768; // cleared before every write

// Moves the first sector on; a step that would leave int32 leaves it as it was.
void Advance(int32_t& sector, int32_t by) {
    const int64_t next = int64_t{sector} + by;
    if (next >= std::numeric_limits<int32_t>::min() &&
        next <= std::numeric_limits<int32_t>::max()) {
        sector = static_cast<int32_t>(next);
    }
}

} // namespace

bool WriteFatCopies(StationContext& ctx, Transport& drive, int16_t slot, int32_t& firstSector,
                    int16_t FatKind) {
    const auto handle = SlotHandle(ctx, slot);
    if (!handle) {
        return false;
    }
    const bool fat16 = FatKind == kFat16;
    // FAT16 copies go out as 4 writes of 64 sectors, one sector more than a
    // copy; the second copy starts one sector back so it sits right behind
    // the first, and its own extra sector lands on the root directory's
    // first sector, which the root directory write replaces afterwards.
    const int32_t writes = fat16 ? kFat16WritesPerCopy : 1;
    const int32_t count = fat16 ? kFat16WriteSectors : kFat12Length;
    const uint8_t* head = fat16 ? kFat16Head : kFat12Head;

    uint8_t* out = OutgoingBuffer(ctx);
    for (int copy = 0; copy < 2; ++copy) {
        if (copy == 1 && fat16) {
            Advance(firstSector, -1);
        }
        for (int32_t w = 0; w < writes; ++w) {
            std::memset(out, 0, kFatWriteBytes);
            if (w == 0) {
                std::memcpy(out, head, 4);
            }
            if (drive.Write(*handle, count, firstSector, out) == 0) {
                return false;
            }
            Advance(firstSector, count);
        }
    }
    return true;
}

} // namespace ufd
