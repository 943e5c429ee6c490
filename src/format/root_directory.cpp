#include "config/ansi.h"
#include "format/fat_writers.h"
#include "format/reply_buffer.h"
#include "format/sector_layout.h"

#include <cstring>

namespace ufd {

using namespace layout;

bool WriteRootDirectory(StationContext& ctx, Transport& drive, int16_t slot, int32_t firstSector) {
    const auto handle = SlotHandle(ctx, slot);
    if (!handle) {
        return false;
    }
    constexpr size_t kRootBytes = kRootDirectorySectors * kSectorSize;
    uint8_t* out = OutgoingBuffer(ctx);
    std::memset(out, 0, kRootBytes);

    // The station has always left the label out of a root directory that
    // starts at sector 511.
    if (firstSector != kUnlabelledRootSector) {
        std::memset(out + dir::kName, ' ', dir::kNameLength);
        // Taken as it is: no case change, no character check. A character
        // without a single-byte code (a surrogate half included) keeps its
        // blank; beyond eleven characters nothing is taken.
        const QString& label = ctx.Product.DiskLabel;
        const qsizetype n = std::min<qsizetype>(label.size(), dir::kNameLength);
        for (qsizetype i = 0; i < n; ++i) {
            if (const auto code = AnsiCode(label[i])) {
                out[dir::kName + static_cast<size_t>(i)] = *code;
            }
        }
        out[dir::kAttribute] = dir::kVolumeLabelAttribute;
        std::memcpy(out + dir::kWriteTime, kLabelTime, 2);
        std::memcpy(out + dir::kWriteDate, kLabelDate, 2);
    }
    return drive.Write(*handle, kRootDirectorySectors, firstSector, out) != 0;
}

} // namespace ufd
