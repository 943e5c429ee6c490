#include "config/ansi.h"
#include "format/label_bytes.h"
#include "format/large_area.h"
#include "format/region_writer.h"
#include "format/sector_layout.h"
#include "format/volume.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace ufd {

using namespace layout;

namespace {

// Bytes of a region starting at byte `from` of sectors index.. get src.
void PutBytesAt(const uint8_t* src, size_t length, int64_t from, int64_t index, uint8_t* data,
                int32_t sectors) {
    const int64_t begin = index * int64_t{kSectorSize};
    const int64_t end = begin + int64_t{sectors} * int64_t{kSectorSize};
    const int64_t lo = std::max(begin, from);
    const int64_t hi = std::min(end, from + static_cast<int64_t>(length));
    if (lo < hi) {
        std::memcpy(data + (lo - begin), src + (lo - from), static_cast<size_t>(hi - lo));
    }
}

int Log2(uint32_t v) {
    int n = 0;
    while ((v >>= 1) != 0) {
        ++n;
    }
    return n;
}

uint64_t BitmapBytes(const LargeLayout& l) {
    return (uint64_t{l.clusters} + 7) / 8;
}

// Boot sector, extended boot sectors, OEM parameters, reserved sector and
// the checksum sector: one boot region, which the backup repeats.
std::vector<uint8_t> BootRegion(const StationContext& ctx, const LargeLayout& l) {
    using namespace exfat;
    std::vector<uint8_t> r(size_t{kBootRegionSectors} * kSectorSize, 0);
    uint8_t* s = r.data();
    std::memcpy(s, kJump, 3);
    std::memcpy(s + kFileSystemName, kName, 8);
    PutLe64(s + kPartitionOffset, static_cast<uint64_t>(l.partitionStart));
    PutLe64(s + kVolumeLength, static_cast<uint64_t>(l.partitionSectors));
    PutLe32(s + kFatOffset, l.fatOffset);
    PutLe32(s + kFatLength, l.fatLength);
    PutLe32(s + kClusterHeapOffset, l.heapOffset);
    PutLe32(s + kClusterCount, l.clusters);
    PutLe32(s + kRootCluster, l.RootCluster());
    // The serial every drive of the station carries.
    std::copy_n(ctx.Fat16BootTemplate.begin() + boot::kVolumeSerial, 4, s + kVolumeSerial);
    PutLe16(s + kRevision, kRevisionValue);
    s[kBytesPerSectorShift] = 9;
    s[kSectorsPerClusterShift] = static_cast<uint8_t>(Log2(l.sectorsPerCluster));
    s[kNumberOfFats] = 1;
    s[kDriveSelect] = 0x80;
    s[kPercentInUse] = static_cast<uint8_t>(uint64_t{l.UsedClusters()} * 100 / l.clusters);
    s[exfat::kSignature] = 0x55;
    s[exfat::kSignature + 1] = 0xAA;
    for (int32_t i = 1; i <= kExtendedBootSectors; ++i) {
        uint8_t* e = s + size_t(i) * kSectorSize + kExtendedSignature;
        e[2] = 0x55;
        e[3] = 0xAA;
    }
    const uint32_t sum = ExfatBootChecksum(s);
    for (size_t at = 0; at < kSectorSize; at += 4) {
        PutLe32(s + size_t{kChecksumSector} * kSectorSize + at, sum);
    }
    return r;
}

// Entry 0 and 1, then one chain each for the bitmap, the up-case table and
// the root directory, which lie in that order from cluster 2.
std::vector<uint32_t> FatHead(const LargeLayout& l) {
    std::vector<uint32_t> e = {exfat::kEntry0, exfat::kEntry1};
    for (const uint32_t length : {l.bitmapClusters, l.upcaseClusters, 1u}) {
        const auto first = static_cast<uint32_t>(e.size());
        for (uint32_t k = 1; k < length; ++k) {
            e.push_back(first + k);
        }
        e.push_back(exfat::kEndOfChain);
    }
    return e;
}

std::vector<uint8_t> RootEntries(const StationContext& ctx, const LargeLayout& l) {
    using namespace exfat;
    std::vector<uint8_t> r;
    auto entry = [&](uint8_t type) {
        r.resize(r.size() + kEntrySize, 0);
        uint8_t* e = r.data() + r.size() - kEntrySize;
        e[kEntryType] = type;
        return e;
    };
    // The label in UTF-16: what has a code in the ANSI code page is taken,
    // the rest keeps a blank, as the FAT label does.
    const QString& label = ctx.Product.DiskLabel;
    if (!LabelIsBlank(LabelAnsiBytes(label))) {
        const qsizetype n = std::min<qsizetype>(label.size(), kLabelMax);
        uint8_t* e = entry(kTypeLabel);
        e[kLabelLength] = static_cast<uint8_t>(n);
        for (qsizetype i = 0; i < n; ++i) {
            const char16_t c = AnsiCode(label[i]) ? label[i].unicode() : u' ';
            PutLe16(e + kLabelText + 2 * size_t(i), c);
        }
    }
    uint8_t* bitmap = entry(kTypeBitmap);
    PutLe32(bitmap + kEntryFirstCluster, kFirstCluster);
    PutLe64(bitmap + kEntryDataLength, BitmapBytes(l));
    uint8_t* upcase = entry(kTypeUpcase);
    PutLe32(upcase + kUpcaseChecksum, UpcaseChecksum());
    PutLe32(upcase + kEntryFirstCluster, kFirstCluster + l.bitmapClusters);
    PutLe64(upcase + kEntryDataLength, UpcaseTable().size());
    return r;
}

} // namespace

int16_t WriteExfatFileSystem(StationContext& ctx, Transport& drive, int16_t slot,
                             const LargeLayout& l) {
    using namespace exfat;
    const auto handle = SlotHandle(ctx, slot);
    if (!handle) {
        return kBootSectorFailed;
    }
    const int64_t P = l.partitionStart;
    const int64_t clusterSectors = l.sectorsPerCluster;

    // Main and backup boot regions in one block, with zeros behind them to
    // the block's end. The rest of the gap before the FAT holds no structure
    // and is left as it is: clearing up to 4 MiB there would double the time.
    const std::vector<uint8_t> region = BootRegion(ctx, l);
    const auto regionBytes = static_cast<int64_t>(region.size());
    const int64_t bootBlock = std::min<int64_t>(l.fatOffset, kLargeWriteSectors);
    if (!WriteRegion(ctx, drive, *handle, P, bootBlock,
                     [&](int64_t index, uint8_t* data, int32_t n) {
                         PutBytesAt(region.data(), region.size(), 0, index, data, n);
                         PutBytesAt(region.data(), region.size(), regionBytes, index, data, n);
                     })) {
        return kBootSectorFailed;
    }

    const std::vector<uint32_t> head = FatHead(l);
    if (!WriteRegion(ctx, drive, *handle, P + l.fatOffset, l.fatLength,
                     [&](int64_t index, uint8_t* data, int32_t n) {
                         PutFatEntries(head, index, data, n);
                     })) {
        return kFatCopyFailed;
    }

    // The bitmap marks the clusters the empty file system uses; the up-case
    // table follows it from the next cluster.
    const uint32_t used = l.UsedClusters();
    std::vector<uint8_t> bits((used + 7) / 8, 0);
    for (uint32_t k = 0; k < used; ++k) {
        bits[k / 8] |= static_cast<uint8_t>(1u << (k % 8));
    }
    const int64_t upcaseFrom = int64_t{l.bitmapClusters} * clusterSectors * int64_t{kSectorSize};
    if (!WriteRegion(ctx, drive, *handle, P + l.heapOffset,
                     int64_t{l.bitmapClusters + l.upcaseClusters} * clusterSectors,
                     [&](int64_t index, uint8_t* data, int32_t n) {
                         PutBytesAt(bits.data(), bits.size(), 0, index, data, n);
                         PutBytesAt(UpcaseTable().data(), UpcaseTable().size(), upcaseFrom, index,
                                    data, n);
                     })) {
        return kBitmapOrUpcaseFailed;
    }

    const std::vector<uint8_t> root = RootEntries(ctx, l);
    const int64_t rootSector =
        P + l.heapOffset + int64_t{l.RootCluster() - kFirstCluster} * clusterSectors;
    if (!WriteRegion(ctx, drive, *handle, rootSector, clusterSectors,
                     [&](int64_t index, uint8_t* data, int32_t n) {
                         PutBytesAt(root.data(), root.size(), 0, index, data, n);
                     })) {
        return kRootDirectoryFailed;
    }
    return kVolumeBuilt;
}

} // namespace ufd
