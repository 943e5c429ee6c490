#pragma once

#include "context/station_context.h"

#include <cstdint>

namespace ufd {

// 1 when the drive reports write protection; 0 (Status 0xF5) when it does
// not, or gives no answer: a missing reply reads as not protected.
int16_t CheckWriteProtect(StationContext& ctx, int16_t slot);

} // namespace ufd
