// Volume formatting: the two sector templates, the hexadecimal status text and
// the writer that lays a fresh volume (partition tables, one or two FAT file
// systems with the label) onto a slot's drive.
#pragma once

#include "base/status_codes.h"
#include "context/station_context.h"

#include <QString>

#include <cstdint>

namespace ufd {

// Results of BuildVolume.
inline constexpr int16_t kVolumeBuilt = 1;
inline constexpr int16_t kMasterBootRecordFailed = StatusNumber("MasterBootRecordFailed");
inline constexpr int16_t kBootSectorFailed = StatusNumber("BootSectorFailed");
inline constexpr int16_t kFatCopyFailed = StatusNumber("FatCopyFailed");
inline constexpr int16_t kRootDirectoryFailed = StatusNumber("RootDirectoryFailed");
inline constexpr int16_t kExtendedBootRecordFailed = StatusNumber("ExtendedBootRecordFailed");
// exFAT only: the allocation bitmap or the up-case table was not written.
// 244 to 249 are taken by the identity and write-protect codes.
inline constexpr int16_t kBitmapOrUpcaseFailed = StatusNumber("BitmapOrUpcaseFailed");
// The controller refused the boundary block; its vendor code doubles as the
// failure code, as for every other vendor command.
inline constexpr int16_t kBoundaryRefused = StatusNumber("VendorBoundary");
// An area that cannot hold the file system chosen for it (beyond what the
// cluster table and the geometry cover, or a large area past the int32
// sector range): nothing is written, because such a layout would carry
// wrong bytes.
inline constexpr int16_t kAreaTooLarge = StatusNumber("AreaDoesNotFit");
// An area below 0 sectors (the other half of one past the drive) or too
// small for its own file system (a second area counts only when there is
// one): nothing is written either. The line knows both by one code.
inline constexpr int16_t kAreaTooSmall = StatusNumber("AreaDoesNotFit");

inline constexpr int32_t kBoundaryCode = StatusNumber("VendorBoundary");

// Fills ctx.MbrTemplate and ctx.Fat16BootTemplate; done once at start-up.
void BuildSectorTemplates(StationContext& ctx);

// Upper-case hex digits of value (a negative value gives the eight digits of
// its two's complement), zero-padded to width digits but never cut, with
// "0x" in front when prefix is set.
QString HexPad(int32_t value, int16_t width, bool prefix);

// Writes the master boot record, the first area's file system (FAT12/16 up
// to 4,096,000 sectors, FAT32 or exFAT above, as ctx.Settings asks) and, unless
// ctx.Product.FirstShare is exactly 1.0, the extended boot record and the
// second file system, then sends the boundary block. Returns kVolumeBuilt or
// one of the failure codes above; a failing write stops the sequence there.
// Every write and the boundary block go through drive: ctx.transport itself,
// or a decorator of it that keeps what was written (Verify's write log).
int16_t BuildVolume(StationContext& ctx, Transport& drive, int16_t slot, double FirstSectors,
                    double SecondSectors);

} // namespace ufd
