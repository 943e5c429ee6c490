// The controller's vendor codes and the failure codes the device procedures
// leave in a slot's Status, by their names in the one table of codes. A
// failing vendor command's code doubles as its failure code.
#pragma once

#include "base/status_codes.h"

#include <cstdint>

namespace ufd {

inline constexpr int32_t kVendorInformation = StatusNumber("VendorInformation");
inline constexpr int32_t kVendorWriteConfig = StatusNumber("VendorWriteConfig");
inline constexpr int32_t kVendorReadConfig = StatusNumber("VendorReadConfig");
inline constexpr int32_t kVendorChipList = StatusNumber("VendorChipList");
inline constexpr int32_t kVendorScanUnit = StatusNumber("VendorScanUnit");
inline constexpr int32_t kVendorFormatUnit = StatusNumber("VendorFormatUnit");
inline constexpr int32_t kVendorClose = StatusNumber("VendorClose");
inline constexpr int32_t kVendorScanEntry = StatusNumber("VendorScanEntry");
inline constexpr int32_t kVendorBoundary = StatusNumber("VendorBoundary");
inline constexpr int32_t kVendorFinish = StatusNumber("VendorFinish");
inline constexpr int32_t kVendorModeBlock = StatusNumber("VendorModeBlock");

inline constexpr int32_t kVendorLength = 512;
inline constexpr int32_t kExtendedScanParameter = 0xF1;

inline constexpr int16_t kStatusUnitRejected = StatusNumber("UnitRejected");
inline constexpr int16_t kStatusNoCapacity = StatusNumber("NoCapacity");
inline constexpr int16_t kStatusIdentityMismatch = StatusNumber("IdentityMismatch");
// Not 0xF3: 243 (0xF3) already says "root directory failed".
inline constexpr int16_t kStatusIdentityDoesNotFit = StatusNumber("IdentityDoesNotFit");
inline constexpr int16_t kStatusNotWriteProtected = StatusNumber("NotWriteProtected");
inline constexpr int16_t kStatusConfigWriteRefused = StatusNumber("ConfigWriteRefused");
inline constexpr int16_t kStatusIdentityIncomplete = StatusNumber("IdentityIncomplete");
inline constexpr int16_t kStatusMissingHandle = StatusNumber("MissingHandle");

// The media test's own codes, numbers the vendor set never uses.
inline constexpr int16_t kStatusFakeCapacity =
    StatusNumber("FakeCapacity"); // the flash keeps fewer sectors
inline constexpr int16_t kStatusReadBackFailed =
    StatusNumber("ReadBackFailed"); // sectors lost what was written
inline constexpr int16_t kStatusSlowWrite =
    StatusNumber("SlowWrite"); // below [MediaTest] MinWriteMBps
inline constexpr int16_t kStatusSlowRead =
    StatusNumber("SlowRead"); // below [MediaTest] MinReadMBps
inline constexpr int16_t kStatusMediaIoFailed =
    StatusNumber("MediaIoFailed"); // a transfer of the test failed
inline constexpr int16_t kStatusWriteProtected =
    StatusNumber("WriteProtected"); // its write refused: the switch is on

} // namespace ufd
