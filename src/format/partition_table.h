// The partition-table sectors: the master boot record at sector 0 and the
// extended boot record at the first sector of the second area. Both are built
// in ctx.SectorBuffer.
#pragma once

#include "context/station_context.h"

#include "format/sector_bytes.h"

#include <cstdint>
#include <optional>

namespace ufd {

// Partition type of the first area by its size.
uint8_t FirstAreaType(double areaSectors);

// Partition types of areas above 4,096,000 sectors (FAT32 or exFAT), which
// also take the large CHS end address; nullopt keeps the FAT12/16 entry.
struct LargeTypes {
    std::optional<uint8_t> first;
    std::optional<uint8_t> second;
};

// Builds the master boot record for areas F and S2 in ctx.SectorBuffer and
// writes it at sector 0 through drive. False when the write failed or the slot has no record.
bool WriteMasterBootRecord(StationContext& ctx, Transport& drive, int16_t slot, double FirstSectors,
                           double SecondSectors, const LargeTypes& large = {});

// Builds the extended boot record of a second area of S2 sectors whose
// partition holds partitionSectors sectors, in ctx.SectorBuffer.
void BuildExtendedBootRecord(StationContext& ctx, double SecondSectors, Calc partitionSectors,
                             std::optional<uint8_t> largeType = std::nullopt);

} // namespace ufd
