// The product identity in the controller's 512-byte configuration block:
// built from Product.ini, written with 0x81, read back with 0x82.
#pragma once

#include "context/station_context.h"

#include <cstdint>

namespace ufd {

inline constexpr int16_t kIdentityWritten = 1;
inline constexpr int16_t kIdentityRefused = 0;
inline constexpr int16_t kIdentityIncomplete = 2;

inline constexpr int16_t kIdentityMatches = 2;
inline constexpr int16_t kIdentityDiffers = 1;
inline constexpr int16_t kIdentityUnreadable = 0;

// Builds ctx.ConfigBlock; with writeFlag -1 also writes it. Returns 1 when
// written, 0 when the drive refused it (or in build-only mode), 2 when the
// identity is incomplete (an empty text, Status 0xF7) or does not fit the
// block (Status 0xF9); then nothing is written.
int16_t WriteIdentity(StationContext& ctx, int16_t slot, int16_t writeFlag);
// 2 when the drive's block equals the expected one, 1 when it differs
// (Status 0xF4), 0 when it could not be read (Status 0x82).
int16_t CheckIdentity(StationContext& ctx, int16_t slot);

} // namespace ufd
