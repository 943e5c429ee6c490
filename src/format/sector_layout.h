// Byte offsets and fixed sizes of every sector the volume writers build: the
// partition-table sectors, the FAT boot sector and the directory entry. All
// multi-byte fields are little-endian.
#pragma once

#include <cstddef>
#include <cstdint>

namespace ufd::layout {

// Partition-table sector (master and extended boot record).
inline constexpr size_t kBootCodeEnd = 440;   // bytes 0..439 are boot code
inline constexpr size_t kDiskSignature = 440; // 4 bytes
inline constexpr size_t kPartitionTable = 446;
inline constexpr size_t kPartitionEntrySize = 16;
inline constexpr size_t kPartitionTableEnd = 510;
inline constexpr size_t kSignature = 510; // 55 AA

// Fields of one 16-byte partition entry, relative to its start.
namespace entry {
inline constexpr size_t kStatus = 0;
inline constexpr size_t kStartHead = 1;
inline constexpr size_t kStartSector = 2;
inline constexpr size_t kStartCylinder = 3;
inline constexpr size_t kType = 4;
inline constexpr size_t kEndHead = 5;
inline constexpr size_t kEndSector = 6;
inline constexpr size_t kEndCylinder = 7;
inline constexpr size_t kFirstSector = 8;  // uint32
inline constexpr size_t kSectorCount = 12; // uint32
} // namespace entry

// FAT boot sector.
namespace boot {
inline constexpr size_t kJump = 0;               // 3 bytes
inline constexpr size_t kOemName = 3;            // 8 bytes
inline constexpr size_t kBytesPerSector = 11;    // uint16
inline constexpr size_t kSectorsPerCluster = 13; // patched
inline constexpr size_t kReservedSectors = 14;   // uint16
inline constexpr size_t kFatCount = 16;
inline constexpr size_t kRootEntries = 17;    // uint16
inline constexpr size_t kTotalSectors16 = 19; // uint16, patched
inline constexpr size_t kMedia = 21;
inline constexpr size_t kSectorsPerFat = 22;   // uint16; only the low byte is patched
inline constexpr size_t kSectorsPerTrack = 24; // uint16
inline constexpr size_t kHeads = 26;           // uint16
inline constexpr size_t kHiddenSectors = 28;   // uint32
inline constexpr size_t kTotalSectors32 = 32;  // uint32, patched
inline constexpr size_t kDriveNumber = 36;
inline constexpr size_t kReserved = 37;
inline constexpr size_t kExtendedSignature = 38;
inline constexpr size_t kVolumeSerial = 39;   // 4 bytes
inline constexpr size_t kVolumeLabel = 43;    // 11 bytes
inline constexpr size_t kFileSystemType = 54; // 8 bytes, patched
inline constexpr size_t kBootCode = 62;       // up to the signature
inline constexpr size_t kSignature = 510;
} // namespace boot

// 32-byte directory entry.
namespace dir {
inline constexpr size_t kEntrySize = 32;
inline constexpr size_t kName = 0; // 11 bytes
inline constexpr size_t kNameLength = 11;
inline constexpr size_t kAttribute = 11;
inline constexpr size_t kWriteTime = 22;    // uint16
inline constexpr size_t kWriteDate = 24;    // uint16
inline constexpr size_t kFirstCluster = 26; // uint16
inline constexpr size_t kSize = 28;         // uint32
inline constexpr uint8_t kVolumeLabelAttribute = 0x08;
} // namespace dir

// Partition types.
inline constexpr uint8_t kTypeFat16Small = 0x01; // really FAT12, up to 32,000 sectors
inline constexpr uint8_t kTypeFat16Under32M = 0x04;
inline constexpr uint8_t kTypeFat16Large = 0x06;
inline constexpr uint8_t kTypeExtended = 0x05;
inline constexpr uint8_t kStatusActive = 0x80;

// Fixed shape of every file system the station lays down.
inline constexpr int32_t kBootSectorOffset = 32; // from the partition-table sector
inline constexpr int32_t kFat16Length = 255;     // sectors per FAT copy
inline constexpr int32_t kFat12Length = 12;
inline constexpr int32_t kFat16WriteSectors = 64; // one FAT16 write
inline constexpr int32_t kFat16WritesPerCopy = 4; // 256 sectors: one more than a copy
inline constexpr int32_t kRootDirectorySectors = 32;
inline constexpr int32_t kUnlabelledRootSector = 511; // root written there gets no label

// Area-size bounds.
inline constexpr double kSmallAreaMax = 32000;     // up to this: FAT12
inline constexpr double kTotal16Max = 64000;       // up to this: 16-bit total field
inline constexpr double kMaxAreaSectors = 4096000; // largest area the cluster table covers

// FAT's first two entries (media byte, then end-of-chain marks).
inline constexpr uint8_t kFat16Head[4] = {0xF8, 0xFF, 0xFF, 0xFF};
inline constexpr uint8_t kFat12Head[4] = {0xF8, 0xFF, 0xFF, 0x00};

// The label entry's fixed write time and date (17:29:16, 10 July 2002).
inline constexpr uint8_t kLabelTime[2] = {0xA8, 0x8B};
inline constexpr uint8_t kLabelDate[2] = {0xEA, 0x2C};

} // namespace ufd::layout
