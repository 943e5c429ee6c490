#include "format/large_area.h"

#include "format/geometry.h"
#include "format/large_layout.h"
#include "format/sector_layout.h"

#include <cmath>
#include <limits>

namespace ufd {

namespace {

using namespace layout;

constexpr int64_t kInt32Max = std::numeric_limits<int32_t>::max();

int64_t DivUp(int64_t a, int64_t b) {
    return (a + b - 1) / b;
}

// Smallest offset >= least that puts partitionStart + offset on a 4 MiB
// boundary of the drive.
int64_t AlignedOffset(int64_t partitionStart, int64_t least) {
    return DivUp(partitionStart + least, kAlignSectors) * kAlignSectors - partitionStart;
}

// Sectors of one FAT for that many clusters (4 bytes an entry, two reserved).
int64_t FatSectors(int64_t clusters) {
    return DivUp((clusters + 2) * 4, int64_t{kSectorSize});
}

} // namespace

uint32_t LargeLayout::RootCluster() const {
    return kind == LargeKind::Fat32 ? fat32::kRootClusterNumber
                                    : exfat::kFirstCluster + bitmapClusters + upcaseClusters;
}

uint32_t LargeLayout::UsedClusters() const {
    return kind == LargeKind::Fat32 ? 1 : bitmapClusters + upcaseClusters + 1;
}

bool IsLargeArea(double areaSectors) {
    return std::isfinite(areaSectors) && areaSectors > kMaxAreaSectors;
}

LargeKind ChooseLargeKind(double areaSectors, LargeFileSystem setting) {
    switch (setting) {
    case LargeFileSystem::Fat32:
        return LargeKind::Fat32;
    case LargeFileSystem::Exfat:
        return LargeKind::Exfat;
    case LargeFileSystem::Auto:
        break;
    }
    return areaSectors <= kAutoFat32Max ? LargeKind::Fat32 : LargeKind::Exfat;
}

uint32_t LargeSectorsPerCluster(LargeKind kind, double S) {
    if (kind == LargeKind::Exfat) {
        return S <= kGiB32 ? 64 : 256; // 32 KiB, 128 KiB
    }
    if (S <= kGiB8) {
        return 8;
    }
    if (S <= kGiB16) {
        return 16;
    }
    return S <= kGiB32 ? 32 : 64;
}

std::optional<LargeLayout> PlanLargeArea(LargeKind kind, double areaSectors, int64_t partitionStart,
                                         int64_t partitionSectors) {
    if (partitionStart < 0 || partitionSectors <= 0 ||
        partitionStart + partitionSectors - 1 > kInt32Max) {
        return std::nullopt;
    }
    LargeLayout l;
    l.kind = kind;
    l.partitionStart = partitionStart;
    l.partitionSectors = partitionSectors;
    l.sectorsPerCluster = LargeSectorsPerCluster(kind, areaSectors);
    const int64_t spc = l.sectorsPerCluster;
    const int64_t N = partitionSectors;

    int64_t fatOffset = 0;
    int64_t fatLength = 0;
    int64_t heap = 0;
    if (kind == LargeKind::Fat32) {
        // The FAT is sized for every cluster the partition could hold past
        // the least reserved region; the reserved sectors then grow until
        // the data region starts on a boundary. The FAT may end up a few
        // sectors longer than the clusters need, never shorter.
        fatLength = FatSectors((N - fat32::kMinReserved) / spc);
        fatOffset = AlignedOffset(partitionStart + 2 * fatLength, fat32::kMinReserved);
        heap = fatOffset + 2 * fatLength;
    } else {
        fatOffset = AlignedOffset(partitionStart, exfat::kMinFatOffset);
        fatLength = FatSectors((N - fatOffset) / spc);
        heap = AlignedOffset(partitionStart, fatOffset + fatLength);
    }
    if (heap >= N) {
        return std::nullopt;
    }
    const int64_t clusters = (N - heap) / spc;
    l.fatOffset = static_cast<uint32_t>(fatOffset);
    l.fatLength = static_cast<uint32_t>(fatLength);
    l.heapOffset = static_cast<uint32_t>(heap);
    l.clusters = static_cast<uint32_t>(clusters);
    if (kind == LargeKind::Fat32) {
        if (clusters < fat32::kMinClusters || clusters > fat32::kMaxClusters) {
            return std::nullopt;
        }
        return l;
    }
    const int64_t clusterBytes = spc * int64_t{kSectorSize};
    l.bitmapClusters = static_cast<uint32_t>(DivUp(DivUp(clusters, 8), clusterBytes));
    l.upcaseClusters =
        static_cast<uint32_t>(DivUp(static_cast<int64_t>(UpcaseTable().size()), clusterBytes));
    if (clusters <= int64_t{l.UsedClusters()}) {
        return std::nullopt;
    }
    return l;
}

uint8_t LargePartitionType(LargeKind kind) {
    return kind == LargeKind::Fat32 ? kTypeFat32Lba : kTypeExfat;
}

std::array<uint8_t, 3> LargeEndAddress(double areaSectors) {
    const auto end = GeometrySearch(areaSectors);
    auto fits = [](const Calc& v) { return v && *v >= 0 && *v <= 255; };
    if (end && fits(end->head) && fits(end->sector) && fits(end->cylinder)) {
        return {static_cast<uint8_t>(*end->head), static_cast<uint8_t>(*end->sector),
                static_cast<uint8_t>(*end->cylinder)};
    }
    return {kChsBeyondReach[0], kChsBeyondReach[1], kChsBeyondReach[2]};
}

} // namespace ufd
