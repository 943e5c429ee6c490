// Byte offsets and fixed values of the sectors a large area (above 4,096,000
// sectors) gets: the FAT32 boot sector and FSInfo sector, the exFAT boot
// region and the exFAT directory entries. All multi-byte fields are
// little-endian.
#pragma once

#include <cstddef>
#include <cstdint>

namespace ufd::layout {

// Partition types and the CHS end address of a partition beyond CHS reach.
inline constexpr uint8_t kTypeFat32Lba = 0x0C;
inline constexpr uint8_t kTypeExfat = 0x07;
inline constexpr uint8_t kChsBeyondReach[3] = {0xFE, 0xFF, 0xFF}; // head 254, sector 63, cyl 1023

// Flash media want the first cluster on a 4 MiB boundary of the drive.
inline constexpr int64_t kAlignSectors = 8192;

// Size thresholds, in sectors of the area.
inline constexpr double kAutoFat32Max =
    67108864; // 32 GiB: auto gives FAT32 up to here, exFAT above
inline constexpr double kGiB8 = 16777216;
inline constexpr double kGiB16 = 33554432;
inline constexpr double kGiB32 = 67108864;

// The largest block one write carries.
inline constexpr int32_t kLargeWriteSectors = 64; // 32,768 bytes

// FAT32 boot sector (the fields up to byte 35 are those of every FAT boot
// sector, see sector_layout.h).
namespace fat32 {
inline constexpr uint8_t kJump[3] = {0xEB, 0x58, 0x90};
inline constexpr size_t kSectorsPerFat32 = 36;  // uint32
inline constexpr size_t kExtFlags = 40;         // uint16, 0: both FATs mirrored
inline constexpr size_t kVersion = 42;          // uint16, 0
inline constexpr size_t kRootCluster = 44;      // uint32
inline constexpr size_t kFsInfoSector = 48;     // uint16
inline constexpr size_t kBackupBootSector = 50; // uint16
inline constexpr size_t kDriveNumber = 64;
inline constexpr size_t kExtendedSignature = 66;
inline constexpr size_t kVolumeSerial = 67;   // uint32
inline constexpr size_t kVolumeLabel = 71;    // 11 bytes
inline constexpr size_t kFileSystemType = 82; // "FAT32   "

inline constexpr int32_t kMinReserved = 32;
inline constexpr int32_t kFsInfoAt = 1; // sectors from the boot sector
inline constexpr int32_t kBackupAt = 6; // backup boot sector; its FSInfo follows
inline constexpr uint32_t kRootClusterNumber = 2;
inline constexpr uint32_t kMinClusters = 65525; // fewer would read as FAT16
inline constexpr uint32_t kMaxClusters = 0x0FFFFFF5;

// FSInfo sector.
inline constexpr size_t kLeadSignature = 0;     // 52 52 61 41
inline constexpr size_t kStructSignature = 484; // 72 72 41 61
inline constexpr size_t kFreeCount = 488;       // uint32
inline constexpr size_t kNextFree = 492;        // uint32
inline constexpr size_t kTrailSignature = 508;  // 00 00 55 AA
inline constexpr uint8_t kLeadSignatureBytes[4] = {0x52, 0x52, 0x61, 0x41};
inline constexpr uint8_t kStructSignatureBytes[4] = {0x72, 0x72, 0x41, 0x61};
inline constexpr uint8_t kTrailSignatureBytes[4] = {0x00, 0x00, 0x55, 0xAA};

// FAT entries 0 and 1 (media byte F8), and the end-of-chain mark.
inline constexpr uint32_t kEntry0 = 0x0FFFFFF8;
inline constexpr uint32_t kEntry1 = 0x0FFFFFFF;
inline constexpr uint32_t kEndOfChain = 0x0FFFFFFF;
} // namespace fat32

// exFAT boot sector and boot region.
namespace exfat {
inline constexpr uint8_t kJump[3] = {0xEB, 0x76, 0x90};
inline constexpr char kName[9] = "EXFAT   ";
inline constexpr size_t kFileSystemName = 3; // 8 bytes
inline constexpr size_t kMustBeZero = 11;    // 53 bytes
inline constexpr size_t kMustBeZeroEnd = 64;
inline constexpr size_t kPartitionOffset = 64;   // uint64
inline constexpr size_t kVolumeLength = 72;      // uint64
inline constexpr size_t kFatOffset = 80;         // uint32
inline constexpr size_t kFatLength = 84;         // uint32
inline constexpr size_t kClusterHeapOffset = 88; // uint32
inline constexpr size_t kClusterCount = 92;      // uint32
inline constexpr size_t kRootCluster = 96;       // uint32
inline constexpr size_t kVolumeSerial = 100;     // uint32
inline constexpr size_t kRevision = 104;         // uint16: 1.00
inline constexpr size_t kVolumeFlags = 106;      // uint16, left out of the checksum
inline constexpr size_t kBytesPerSectorShift = 108;
inline constexpr size_t kSectorsPerClusterShift = 109;
inline constexpr size_t kNumberOfFats = 110;
inline constexpr size_t kDriveSelect = 111;
inline constexpr size_t kPercentInUse = 112; // left out of the checksum
inline constexpr size_t kSignature = 510;    // 55 AA
inline constexpr uint16_t kRevisionValue = 0x0100;

// Boot region: boot sector, 8 extended boot sectors, OEM parameters, a
// reserved sector, the checksum sector; the backup region repeats it.
inline constexpr int32_t kBootRegionSectors = 12;
inline constexpr int32_t kExtendedBootSectors = 8; // sectors 1..8
inline constexpr int32_t kChecksumSector = 11;
inline constexpr size_t kExtendedSignature = 508; // 00 00 55 AA
inline constexpr int32_t kMinFatOffset = 2 * kBootRegionSectors;

// FAT entries 0 and 1, and the end-of-chain mark.
inline constexpr uint32_t kEntry0 = 0xFFFFFFF8;
inline constexpr uint32_t kEntry1 = 0xFFFFFFFF;
inline constexpr uint32_t kEndOfChain = 0xFFFFFFFF;
inline constexpr uint32_t kFirstCluster = 2;

// 32-byte directory entries of the root directory.
inline constexpr size_t kEntrySize = 32;
inline constexpr size_t kEntryType = 0;
inline constexpr uint8_t kTypeLabel = 0x83;
inline constexpr uint8_t kTypeBitmap = 0x81;
inline constexpr uint8_t kTypeUpcase = 0x82;
inline constexpr size_t kLabelLength = 1; // characters, at most 11
inline constexpr size_t kLabelText = 2;   // UTF-16LE
inline constexpr size_t kLabelMax = 11;
inline constexpr size_t kUpcaseChecksum = 4;     // uint32
inline constexpr size_t kEntryFirstCluster = 20; // uint32
inline constexpr size_t kEntryDataLength = 24;   // uint64
} // namespace exfat

} // namespace ufd::layout
