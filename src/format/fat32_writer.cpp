#include "format/label_bytes.h"
#include "format/large_area.h"
#include "format/region_writer.h"
#include "format/sector_layout.h"
#include "format/volume.h"

#include <algorithm>
#include <cstring>

namespace ufd {

using namespace layout;

namespace {

Sector Fat32BootSector(const StationContext& ctx, const LargeLayout& l,
                       const std::array<uint8_t, 11>& label) {
    // OEM name, bytes per sector, media, geometry and serial as every drive
    // of the station has them; the rest is FAT32's own.
    Sector s{};
    const Sector& t = ctx.Fat16BootTemplate;
    std::memcpy(s.data(), fat32::kJump, 3);
    std::copy(t.begin() + boot::kOemName, t.begin() + boot::kTotalSectors32,
              s.begin() + boot::kOemName);
    s[boot::kSectorsPerCluster] = static_cast<uint8_t>(l.sectorsPerCluster);
    PutLe16(&s[boot::kReservedSectors], static_cast<uint16_t>(l.fatOffset));
    s[boot::kFatCount] = 2;
    PutLe16(&s[boot::kRootEntries], 0);
    PutLe16(&s[boot::kTotalSectors16], 0);
    PutLe16(&s[boot::kSectorsPerFat], 0);
    PutLe32(&s[boot::kHiddenSectors], static_cast<uint32_t>(l.partitionStart));
    PutLe32(&s[boot::kTotalSectors32], static_cast<uint32_t>(l.partitionSectors));
    PutLe32(&s[fat32::kSectorsPerFat32], l.fatLength);
    PutLe32(&s[fat32::kRootCluster], fat32::kRootClusterNumber);
    PutLe16(&s[fat32::kFsInfoSector], fat32::kFsInfoAt);
    PutLe16(&s[fat32::kBackupBootSector], fat32::kBackupAt);
    s[fat32::kDriveNumber] = t[boot::kDriveNumber];
    s[fat32::kExtendedSignature] = t[boot::kExtendedSignature];
    std::copy_n(t.begin() + boot::kVolumeSerial, 4, s.begin() + fat32::kVolumeSerial);
    if (LabelIsBlank(label)) {
        std::memcpy(&s[fat32::kVolumeLabel], "NO NAME    ", 11);
    } else {
        std::ranges::copy(label, s.begin() + fat32::kVolumeLabel);
    }
    std::memcpy(&s[fat32::kFileSystemType], "FAT32   ", 8);
    s[boot::kSignature] = 0x55;
    s[boot::kSignature + 1] = 0xAA;
    return s;
}

Sector FsInfoSector(const LargeLayout& l) {
    Sector s{};
    std::memcpy(&s[fat32::kLeadSignature], fat32::kLeadSignatureBytes, 4);
    std::memcpy(&s[fat32::kStructSignature], fat32::kStructSignatureBytes, 4);
    PutLe32(&s[fat32::kFreeCount], l.clusters - l.UsedClusters());
    PutLe32(&s[fat32::kNextFree], fat32::kRootClusterNumber + 1);
    std::memcpy(&s[fat32::kTrailSignature], fat32::kTrailSignatureBytes, 4);
    return s;
}

} // namespace

int16_t WriteFat32FileSystem(StationContext& ctx, Transport& drive, int16_t slot,
                             const LargeLayout& l) {
    const auto handle = SlotHandle(ctx, slot);
    if (!handle) {
        return kBootSectorFailed;
    }
    const auto label = LabelAnsiBytes(ctx.Product.DiskLabel);
    const Sector bootSector = Fat32BootSector(ctx, l, label);
    const Sector fsInfo = FsInfoSector(l);

    // The whole reserved region, so nothing of an earlier file system stays.
    const bool reserved = WriteRegion(
        ctx, drive, *handle, l.partitionStart, l.fatOffset,
        [&](int64_t index, uint8_t* data, int32_t sectors) {
            for (int32_t i = 0; i < sectors; ++i) {
                const int64_t at = index + i;
                uint8_t* out = data + size_t(i) * kSectorSize;
                if (at == 0 || at == fat32::kBackupAt) {
                    std::ranges::copy(bootSector, out);
                } else if (at == fat32::kFsInfoAt || at == fat32::kBackupAt + fat32::kFsInfoAt) {
                    std::ranges::copy(fsInfo, out);
                }
            }
        });
    if (!reserved) {
        return kBootSectorFailed;
    }

    static constexpr std::array<uint32_t, 3> kHead = {fat32::kEntry0, fat32::kEntry1,
                                                      fat32::kEndOfChain}; // root: one cluster
    for (uint32_t copy = 0; copy < 2; ++copy) {
        if (!WriteRegion(ctx, drive, *handle,
                         l.partitionStart + l.fatOffset + int64_t{copy} * l.fatLength, l.fatLength,
                         [&](int64_t index, uint8_t* data, int32_t sectors) {
                             PutFatEntries(kHead, index, data, sectors);
                         })) {
            return kFatCopyFailed;
        }
    }

    const bool root = WriteRegion(ctx, drive, *handle, l.partitionStart + l.heapOffset,
                                  l.sectorsPerCluster, [&](int64_t index, uint8_t* data, int32_t) {
                                      if (index != 0 || LabelIsBlank(label)) {
                                          return;
                                      }
                                      std::ranges::copy(label, data + dir::kName);
                                      data[dir::kAttribute] = dir::kVolumeLabelAttribute;
                                      std::memcpy(data + dir::kWriteTime, kLabelTime, 2);
                                      std::memcpy(data + dir::kWriteDate, kLabelDate, 2);
                                  });
    return root ? kVolumeBuilt : kRootDirectoryFailed;
}

} // namespace ufd
