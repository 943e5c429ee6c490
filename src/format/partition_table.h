// The partition-table sectors: the master boot record at sector 0 and the
// extended boot record at the first sector of the second area. Both are built
// in ctx.SectorBuffer.
#pragma once

#include "context/station_context.h"

#include "format/sector_bytes.h"

#include <cstdint>

namespace ufd {

// Partition type of the first area by its size.
uint8_t FirstAreaType(double areaSectors);

// Builds the master boot record for areas F and S2 in ctx.SectorBuffer and
// writes it at sector 0. False when the write failed or the slot has no record.
bool WriteMasterBootRecord(StationContext& ctx, int16_t slot, double FirstSectors,
                           double SecondSectors);

// Builds the extended boot record of a second area of S2 sectors whose
// partition holds partitionSectors sectors, in ctx.SectorBuffer.
void BuildExtendedBootRecord(StationContext& ctx, double SecondSectors, Calc partitionSectors);

} // namespace ufd
