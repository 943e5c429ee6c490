// Areas above 4,096,000 sectors, which the FAT12/16 layout cannot cover: the
// choice between FAT32 and exFAT, where each region of the file system goes,
// and the writers that lay them down.
#pragma once

#include "context/station_context.h"

#include <array>
#include <cstdint>
#include <optional>

namespace ufd {

enum class LargeKind { Fat32, Exfat };

// Where every region of one large file system sits. Sector numbers are the
// drive's; offsets (reserved, fatOffset, heapOffset) count from the
// partition's first sector, as the boot sector stores them.
struct LargeLayout {
    LargeKind kind = LargeKind::Fat32;
    int64_t partitionStart = 0; // the boot sector
    int64_t partitionSectors = 0;
    uint32_t sectorsPerCluster = 0;
    uint32_t fatOffset = 0;  // FAT32: the reserved sectors
    uint32_t fatLength = 0;  // sectors of one FAT
    uint32_t heapOffset = 0; // first sector of cluster 2
    uint32_t clusters = 0;
    // exFAT: clusters the allocation bitmap and the up-case table take; the
    // root directory follows them.
    uint32_t bitmapClusters = 0;
    uint32_t upcaseClusters = 0;

    uint32_t RootCluster() const;
    uint32_t UsedClusters() const; // clusters the empty file system allocates
};

// True when an area is beyond the FAT12/16 layout (and is a number).
bool IsLargeArea(double areaSectors);

// FAT32 or exFAT for an area of that many sectors, as station.conf asks.
LargeKind ChooseLargeKind(double areaSectors, LargeFileSystem setting);

// Cluster size in sectors for an area of the kind.
uint32_t LargeSectorsPerCluster(LargeKind kind, double areaSectors);

// The layout of a partition of partitionSectors sectors from partitionStart,
// in an area of areaSectors; nullopt when the partition cannot hold the file
// system or leaves the int32 sector range.
std::optional<LargeLayout> PlanLargeArea(LargeKind kind, double areaSectors, int64_t partitionStart,
                                         int64_t partitionSectors);

// Partition type byte (0x0C or 0x07).
uint8_t LargePartitionType(LargeKind kind);

// CHS end address of a large area: the geometry search's bytes where they
// fit, else FE FF FF.
std::array<uint8_t, 3> LargeEndAddress(double areaSectors);

// The writers. Each returns kVolumeBuilt, or the code of the first region
// whose write failed (boot region 241, FAT 242, root directory 243, exFAT
// bitmap or up-case table kBitmapOrUpcaseFailed); nothing is written after it.
int16_t WriteFat32FileSystem(StationContext& ctx, Transport& drive, int16_t slot,
                             const LargeLayout& l);
int16_t WriteExfatFileSystem(StationContext& ctx, Transport& drive, int16_t slot,
                             const LargeLayout& l);

// The standard up-case table in its compressed form, as it is stored.
const std::array<uint8_t, 5836>& UpcaseTable();
uint32_t UpcaseChecksum(); // of the stored bytes

// exFAT's boot checksum over sectors 0..10 of a boot region.
uint32_t ExfatBootChecksum(const uint8_t* region);

} // namespace ufd
