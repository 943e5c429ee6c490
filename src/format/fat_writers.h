// The three writers of one empty FAT file system: boot sector, the two FAT
// copies and the root directory with the volume label. Each builds its data
// in ctx.replies.ReplyBuffer and writes it through drive to the slot's handle; each
// returns false when the write failed (a zero status) or the slot has no
// record, in which case nothing is sent.
#pragma once

#include "context/station_context.h"

#include <cstdint>

namespace ufd {

// File system kinds. Any value other than kFat16 is treated as FAT12.
inline constexpr int16_t kFat16 = 1;
inline constexpr int16_t kFat12 = 2;

// FAT kind for an area: FAT16 above 32,000 sectors.
int16_t FatKindFor(double areaSectors);
// Sectors both FAT copies take: 510 for FAT16, 24 for FAT12.
int32_t FatAreaSectors(int16_t FatKind);

// Sectors per cluster for an area of S sectors; 0 beyond the table.
uint8_t SectorsPerCluster(double areaSectors);

bool WriteBootSector(StationContext& ctx, Transport& drive, int16_t slot, int32_t firstSector,
                     double areaSectors, int16_t FatKind);
// firstSector advances by every write's count (and steps back one sector
// before the second FAT16 copy); after a failure it stays where it stopped.
bool WriteFatCopies(StationContext& ctx, Transport& drive, int16_t slot, int32_t& firstSector,
                    int16_t FatKind);
bool WriteRootDirectory(StationContext& ctx, Transport& drive, int16_t slot, int32_t firstSector);

} // namespace ufd
