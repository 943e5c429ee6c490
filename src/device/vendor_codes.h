// The controller's vendor codes and the failure codes the device procedures
// leave in a slot's Status. A failing vendor command's code doubles as its
// failure code.
#pragma once

#include <cstdint>

namespace ufd {

inline constexpr int32_t kVendorInformation = 0x75;
inline constexpr int32_t kVendorWriteConfig = 0x81;
inline constexpr int32_t kVendorReadConfig = 0x82;
inline constexpr int32_t kVendorChipList = 0x93;
inline constexpr int32_t kVendorScanUnit = 0x94;
inline constexpr int32_t kVendorFormatUnit = 0x95;
inline constexpr int32_t kVendorClose = 0x96;
inline constexpr int32_t kVendorScanEntry = 0x98;
inline constexpr int32_t kVendorBoundary = 0x99;
inline constexpr int32_t kVendorFinish = 0x9B;
inline constexpr int32_t kVendorModeBlock = 0x9F;

inline constexpr int32_t kVendorLength = 512;
inline constexpr int32_t kExtendedScanParameter = 0xF1;

inline constexpr int16_t kStatusUnitRejected = 0x10;
inline constexpr int16_t kStatusNoCapacity = 0x9A;
inline constexpr int16_t kStatusIdentityMismatch = 0xF4;
// Not 0xF3: 243 (0xF3) already says "root directory failed".
inline constexpr int16_t kStatusIdentityDoesNotFit = 0xF9;
inline constexpr int16_t kStatusNotWriteProtected = 0xF5;
inline constexpr int16_t kStatusConfigWriteRefused = 0xF6;
inline constexpr int16_t kStatusIdentityIncomplete = 0xF7;
inline constexpr int16_t kStatusMissingHandle = 0xFE;

// The media test's own codes, numbers the vendor set never uses.
inline constexpr int16_t kStatusFakeCapacity = 0xE0;   // the flash keeps fewer sectors
inline constexpr int16_t kStatusReadBackFailed = 0xE1; // sectors lost what was written
inline constexpr int16_t kStatusSlowWrite = 0xE2;      // below [MediaTest] MinWriteMBps
inline constexpr int16_t kStatusSlowRead = 0xE3;       // below [MediaTest] MinReadMBps
inline constexpr int16_t kStatusMediaIoFailed = 0xE4;  // a transfer of the test failed
inline constexpr int16_t kStatusWriteProtected = 0xE5; // its write refused: switch on

} // namespace ufd
