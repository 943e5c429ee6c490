#include "format/volume.h"

#include "format/fat_writers.h"
#include "format/geometry.h"
#include "format/large_area.h"
#include "format/partition_table.h"
#include "format/reply_buffer.h"
#include "format/sector_bytes.h"
#include "format/sector_layout.h"

#include <cmath>

namespace ufd {

namespace {

using namespace layout;

// The layout is defined for areas up to kMaxAreaSectors sectors: beyond
// that the cluster table has no value (the boot sector would say 0 sectors
// per cluster) and the geometry heads run out. Refusing it before the first
// write keeps the drive as it was rather than give it a volume with wrong
// bytes.
bool AreaFits(double sectors) {
    return std::isfinite(sectors) && sectors <= kMaxAreaSectors &&
           GeometrySearch(sectors).has_value();
}

// The smallest area that holds its file system: the sectors before the boot
// sector, the boot sector, both FATs, the root directory and one cluster of
// data (one sector at this size). Smaller, the boot sector and the FATs would
// run into the next area or past the drive.
bool AreaHoldsItsFileSystem(double sectors) {
    return sectors >=
           kBootSectorOffset + 1 + FatAreaSectors(FatKindFor(sectors)) + kRootDirectorySectors + 1;
}

// Sizes of exactly 0 keep the layout the station has always written for
// them: a drive whose capacity read 0 (0x9A is recorded already and stays its
// code) gets the steps with both sizes 0, and a second area of 0 gets an
// extended partition of F - 33 sectors. Any other area must hold its file
// system, else its boot sector and FATs would run into the next area or past
// the drive.
// A negative area is the other half of one larger than the drive (shares
// such as 1.5 and -0.5; the two areas always add up to the drive), whose
// partition would end past the drive's last sector.
bool SizesHoldTheirFileSystems(const StationContext& ctx, double F, double S2) {
    if (F < 0 || S2 < 0) {
        return false;
    }
    if (F == 0 && S2 == 0) {
        return true;
    }
    if (!AreaHoldsItsFileSystem(F)) {
        return false;
    }
    return ctx.Product.FirstShare == 1.0 || S2 == 0 || AreaHoldsItsFileSystem(S2);
}

// One file system: boot sector at first, FATs behind it, then the root.
int16_t WriteFileSystem(StationContext& ctx, Transport& drive, int16_t slot, int32_t bootSector,
                        double S, int16_t kind) {
    if (!WriteBootSector(ctx, drive, slot, bootSector, S, kind)) {
        return kBootSectorFailed;
    }
    int32_t fatSector = bootSector + 1;
    if (!WriteFatCopies(ctx, drive, slot, fatSector, kind)) {
        return kFatCopyFailed;
    }
    if (!WriteRootDirectory(ctx, drive, slot, bootSector + 1 + FatAreaSectors(kind))) {
        return kRootDirectoryFailed;
    }
    return kVolumeBuilt;
}

// The FAT32 or exFAT layout of an area above 4,096,000 sectors whose
// partition starts at partitionStart; nullopt for any other area.
std::optional<LargeLayout> PlanIfLarge(const StationContext& ctx, double area,
                                       double partitionStart) {
    // The partition tables store the area's size as an int32 too.
    if (!IsLargeArea(area) || !RoundInt32(area) || !std::isfinite(partitionStart)) {
        return std::nullopt;
    }
    const LargeKind kind = ChooseLargeKind(area, ctx.Settings.LargeFs);
    return PlanLargeArea(kind, area, std::llround(partitionStart), std::llround(area) - 33);
}

// A large area needs its layout; any other keeps the original bounds.
bool Fits(double area, const std::optional<LargeLayout>& large) {
    return IsLargeArea(area) ? large.has_value() : AreaFits(area);
}

std::optional<uint8_t> TypeOf(const std::optional<LargeLayout>& large) {
    return large ? std::optional<uint8_t>(LargePartitionType(large->kind)) : std::nullopt;
}

int16_t WriteLarge(StationContext& ctx, Transport& drive, int16_t slot, const LargeLayout& l) {
    return l.kind == LargeKind::Fat32 ? WriteFat32FileSystem(ctx, drive, slot, l)
                                      : WriteExfatFileSystem(ctx, drive, slot, l);
}

} // namespace

int16_t BuildVolume(StationContext& ctx, Transport& drive, int16_t slot, double FirstSectors,
                    double SecondSectors) {
    const double F = FirstSectors;
    const double S2 = SecondSectors;
    const auto large1 = PlanIfLarge(ctx, F, kBootSectorOffset);
    const auto large2 = PlanIfLarge(ctx, S2, F - 1 + kBootSectorOffset);
    if (!SizesHoldTheirFileSystems(ctx, F, S2)) {
        return kAreaTooSmall;
    }
    if (!Fits(F, large1) || !Fits(S2, large2)) {
        return kAreaTooLarge;
    }
    if (!WriteMasterBootRecord(ctx, drive, slot, F, S2, {TypeOf(large1), TypeOf(large2)})) {
        return kMasterBootRecordFailed;
    }
    if (const int16_t r =
            large1 ? WriteLarge(ctx, drive, slot, *large1)
                   : WriteFileSystem(ctx, drive, slot, kBootSectorOffset, F, FatKindFor(F));
        r != kVolumeBuilt) {
        return r;
    }

    // Both fit int32: AreaFits and PlanLargeArea bound them.
    const int32_t B = *RoundInt32(F - 1);
    int32_t boundary = 0;
    if (ctx.Product.FirstShare != 1.0) {
        const int16_t kind2 = FatKindFor(S2);
        // A FAT12 partition counts one sector more than its file system; the
        // drives have always been laid out so.
        const int64_t N2 = large2    ? large2->partitionSectors
                           : S2 == 0 ? int64_t{*RoundInt32(F)} - 33
                                     : int64_t{*RoundInt32(S2)} - (kind2 == kFat16 ? 33 : 32);
        BuildExtendedBootRecord(ctx, S2, N2, TypeOf(large2));
        const auto handle = SlotHandle(ctx, slot);
        if (!handle || drive.Write(*handle, 1, B, ctx.SectorBuffer.data()) == 0) {
            return kExtendedBootRecordFailed;
        }
        if (const int16_t r =
                large2 ? WriteLarge(ctx, drive, slot, *large2)
                       : WriteFileSystem(ctx, drive, slot, B + kBootSectorOffset, S2, kind2);
            r != kVolumeBuilt) {
            return r;
        }
        boundary = B;
    }

    // Tells the controller where the second area begins (0: there is none).
    ctx.SectorBuffer.fill(0);
    StoreLe32(ctx.SectorBuffer, 0, boundary);
    const auto handle = SlotHandle(ctx, slot);
    if (!handle || drive.VendorW(*handle, kBoundaryCode, static_cast<int32_t>(kSectorSize),
                                 ctx.SectorBuffer.data()) == 0) {
        return kBoundaryRefused;
    }
    return kVolumeBuilt;
}

} // namespace ufd
