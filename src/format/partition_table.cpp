#include "format/partition_table.h"

#include "format/geometry.h"
#include "format/large_area.h"
#include "format/sector_bytes.h"
#include "format/sector_layout.h"

#include <algorithm>

namespace ufd {

namespace {

using namespace layout;

constexpr size_t kEntry1 = kPartitionTable;
constexpr size_t kEntry2 = kPartitionTable + kPartitionEntrySize;

// Every entry that begins at its partition's start: head 1, sector 1, cylinder 0.
void PutStartAtPartition(Sector& s, size_t e) {
    s[e + entry::kStartHead] = 1;
    s[e + entry::kStartSector] = 1;
    s[e + entry::kStartCylinder] = 0;
}

void PutEndAddress(Sector& s, size_t e, const std::optional<EndAddress>& end) {
    if (!end) {
        return;
    }
    StoreByte(s, e + entry::kEndHead, end->head);
    StoreByte(s, e + entry::kEndSector, end->sector);
    StoreByte(s, e + entry::kEndCylinder, end->cylinder);
}

void PutLargeEnd(Sector& s, size_t e, double areaSectors) {
    const auto end = LargeEndAddress(areaSectors);
    s[e + entry::kEndHead] = end[0];
    s[e + entry::kEndSector] = end[1];
    s[e + entry::kEndCylinder] = end[2];
}

Calc Minus(std::optional<int32_t> v, int64_t d) {
    return v ? Calc(int64_t{*v} - d) : std::nullopt;
}

} // namespace

uint8_t FirstAreaType(double areaSectors) {
    if (areaSectors <= kSmallAreaMax) {
        return kTypeFat16Small;
    }
    return areaSectors < kTotal16Max ? kTypeFat16Under32M : kTypeFat16Large;
}

bool WriteMasterBootRecord(StationContext& ctx, Transport& drive, int16_t slot, double FirstSectors,
                           double SecondSectors, const LargeTypes& large) {
    Sector& s = ctx.SectorBuffer;
    s = ctx.MbrTemplate;
    std::fill(s.begin() + kPartitionTable, s.begin() + kPartitionTableEnd, uint8_t{0});

    const auto first = RoundInt32(FirstSectors);
    s[kEntry1 + entry::kStatus] = kStatusActive;
    PutStartAtPartition(s, kEntry1);
    s[kEntry1 + entry::kType] = FirstAreaType(FirstSectors);
    PutEndAddress(s, kEntry1, GeometrySearch(FirstSectors));
    StoreLe32(s, kEntry1 + entry::kFirstSector, kBootSectorOffset);
    StoreLe32(s, kEntry1 + entry::kSectorCount, Minus(first, 33));
    if (large.first) {
        s[kEntry1 + entry::kType] = *large.first;
        PutLargeEnd(s, kEntry1, FirstSectors);
    }

    if (SecondSectors != 0) {
        // The extended entry's cylinders continue from the first partition's
        // end cylinder as it stands in the entry.
        const uint8_t firstEndCylinder = s[kEntry1 + entry::kEndCylinder];
        const auto end = GeometrySearch(SecondSectors);
        s[kEntry2 + entry::kStatus] = 0;
        s[kEntry2 + entry::kStartHead] = 0;
        s[kEntry2 + entry::kStartSector] = 1;
        s[kEntry2 + entry::kStartCylinder] = firstEndCylinder;
        s[kEntry2 + entry::kType] = kTypeExtended;
        if (end) {
            StoreByte(s, kEntry2 + entry::kEndHead, end->head);
            StoreByte(s, kEntry2 + entry::kEndSector, end->sector);
            if (end->cylinder) {
                StoreByte(s, kEntry2 + entry::kEndCylinder, firstEndCylinder + *end->cylinder);
            }
        }
        if (large.second) {
            PutLargeEnd(s, kEntry2, SecondSectors);
        }
        StoreLe32(s, kEntry2 + entry::kFirstSector, Minus(first, 1));
        StoreLe32(s, kEntry2 + entry::kSectorCount, Minus(RoundInt32(SecondSectors), 1));
    }

    DiskSlot* d = ctx.slots.Slot(slot);
    if (d == nullptr) {
        return false;
    }
    return drive.Write(d->Handle, 1, 0, s.data()) != 0;
}

void BuildExtendedBootRecord(StationContext& ctx, double SecondSectors, Calc partitionSectors,
                             std::optional<uint8_t> largeType) {
    Sector& s = ctx.SectorBuffer;
    s.fill(0);
    s[kEntry1 + entry::kStatus] = kStatusActive;
    PutStartAtPartition(s, kEntry1);
    s[kEntry1 + entry::kType] = kTypeFat16Large;
    PutEndAddress(s, kEntry1, GeometrySearch(SecondSectors));
    if (largeType) {
        s[kEntry1 + entry::kType] = *largeType;
        PutLargeEnd(s, kEntry1, SecondSectors);
    }
    // Counted from the extended boot record's own sector.
    StoreLe32(s, kEntry1 + entry::kFirstSector, kBootSectorOffset);
    StoreLe32(s, kEntry1 + entry::kSectorCount, partitionSectors);
    s[kSignature] = 0x55;
    s[kSignature + 1] = 0xAA;
}

} // namespace ufd
