#include "format/fat_writers.h"
#include "format/reply_buffer.h"
#include "format/sector_bytes.h"
#include "format/sector_layout.h"

#include <cstring>
#include <span>

namespace ufd {

using namespace layout;

int16_t FatKindFor(double areaSectors) {
    return areaSectors > kSmallAreaMax ? kFat16 : kFat12;
}

int32_t FatAreaSectors(int16_t FatKind) {
    return 2 * (FatKind == kFat16 ? kFat16Length : kFat12Length);
}

uint8_t SectorsPerCluster(double S) {
    struct Step {
        double upTo;
        uint8_t sectors;
    };
    // Each bound belongs to its own row: 8,192 gives 2, 8,193 gives 4.
    static constexpr Step kFat12Table[] = {{2880, 1}, {8192, 2}, {14336, 4}, {32000, 8}};
    static constexpr Step kFat16Table[] = {{64000, 1},    {128000, 2},   {256000, 4},  {512000, 8},
                                           {1024000, 16}, {2048000, 32}, {4096000, 64}};
    const std::span<const Step> table = S <= kSmallAreaMax ? std::span<const Step>(kFat12Table)
                                                           : std::span<const Step>(kFat16Table);
    for (const Step& step : table) {
        if (S <= step.upTo) {
            return step.sectors;
        }
    }
    return 0; // beyond the table (or not a number)
}

bool WriteBootSector(StationContext& ctx, Transport& drive, int16_t slot, int32_t firstSector,
                     double S, int16_t FatKind) {
    const bool small = S <= kSmallAreaMax;
    const auto rounded = RoundInt32(S - 33);
    const Calc total = rounded ? Calc(*rounded) : std::nullopt;

    uint8_t* out = OutgoingBuffer(ctx);
    std::memcpy(out, ctx.Fat16BootTemplate.data(), kSectorSize);
    const std::span<uint8_t> b(out, kSectorSize);

    b[boot::kSectorsPerCluster] = SectorsPerCluster(S);
    b[boot::kSectorsPerFat] =
        static_cast<uint8_t>(FatKind != kFat16 || small ? kFat12Length : kFat16Length);
    if (S <= kTotal16Max || small) {
        StoreLe32(b, boot::kTotalSectors32, 0);
        // Only the low 16 bits: the field is 16 bits wide.
        StoreLe16(b, boot::kTotalSectors16, total ? Calc(*total & 0xFFFF) : std::nullopt);
        std::memcpy(out + boot::kFileSystemType, small ? "FAT12   " : "FAT16   ", 8);
    } else {
        StoreLe16(b, boot::kTotalSectors16, 0);
        StoreLe32(b, boot::kTotalSectors32, total);
        std::memcpy(out + boot::kFileSystemType, "FAT16   ", 8);
    }

    const auto handle = SlotHandle(ctx, slot);
    return handle && drive.Write(*handle, 1, firstSector, out) != 0;
}

} // namespace ufd
