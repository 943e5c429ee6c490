// The low-level format: erase and judge every unit, close the format, read
// the capacity, split it into the product's areas and build the volume.
#pragma once

#include "context/station_context.h"

#include <cstdint>

namespace ufd {

// 0 when the slot passed, 1 when it failed (the code is in Status).
int16_t LowLevelFormat(StationContext& ctx, int16_t slot);
// The per-unit pass with the given per-unit vendor code (0x95).
void EraseUnits(StationContext& ctx, int16_t slot, int16_t code);
// 1 accepts the unit, 0 rejects it (only units 0..3 of chip 0 are judged).
int16_t UnitVerdict(int16_t chip, int16_t unit, int16_t entries, int16_t controllerCode);
// Capacity, area split and volume build.
void FinishFormat(StationContext& ctx, int16_t slot);
// Sets the slot's LastSector from the capacity the drive reports.
void ReadDiskCapacity(StationContext& ctx, int16_t slot);

} // namespace ufd
