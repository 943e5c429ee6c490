// The media test inside Format: after the low-level format the probe, the
// surface sweep and the speed figures, with every sector they wrote zero
// again before the volume is built; after the volume, Verify reads the
// volume's writes back. A failure leaves its code (0xE0..0xE4) in Status.
#pragma once

#include "context/station_context.h"
#include "device/volume_write_log.h"
#include "platform/clock.h"

#include <cstdint>

namespace ufd {

// Any of [MediaTest] switched on.
bool MediaTestWanted(const StationSettings& s);

// Probe, surface and speed on a slot whose capacity is known. False: the
// slot failed (its code is in Status) and the Format ends there.
// The speed figures are timed on `clock` (null: the system's).
bool TestMediaBeforeVolume(StationContext& ctx, int16_t slot, SteadyClock* clock = nullptr);

// Reads back what the volume writers wrote.
void VerifyVolume(StationContext& ctx, int16_t slot, const VolumeWriteLog& log);

} // namespace ufd
