#include "device/low_level_format.h"

#include "config/leading_number.h"
#include "device/chip_scan.h"
#include "device/media_check.h"
#include "device/vendor_codes.h"
#include "format/volume.h"

#include <cmath>

namespace ufd {
namespace {

constexpr int32_t kPreSequenceController = 0x27;
constexpr int32_t kCountingController = 0x26; // codes above it count entries
constexpr int16_t kLimitsController = 0x29;
constexpr int kJudgedUnits = 4;
constexpr int16_t kLimits29[kJudgedUnits] = {3, 4, 3, 3};
constexpr int16_t kLimitsOther[kJudgedUnits] = {1, 3, 2, 3};

// The slot's progress step: the bar's maximum, rounded, over the units.
// No bar, or no unit to divide by, leaves the step 0.
int16_t ProgressStep(StationContext& ctx, int16_t slot, int totalUnits) {
    if (ctx.progress == nullptr || totalUnits == 0) {
        return 0;
    }
    const auto max = ctx.progress->ProgressMax(slot - 1);
    if (!max) {
        return 0;
    }
    const double step = std::trunc(std::nearbyint(*max) / totalUnits);
    return step >= INT16_MIN && step <= INT16_MAX ? static_cast<int16_t>(step) : 0;
}

} // namespace

int16_t UnitVerdict(int16_t chip, int16_t unit, int16_t entries, int16_t controllerCode) {
    if (chip != 0 || unit < 0 || unit >= kJudgedUnits) {
        return 1;
    }
    const int16_t* limits = controllerCode == kLimitsController ? kLimits29 : kLimitsOther;
    return entries <= limits[unit] ? 1 : 0;
}

void EraseUnits(StationContext& ctx, int16_t slot, int16_t code) {
    DiskSlot* s = SlotWithHandle(ctx, slot);
    if (s == nullptr) {
        return;
    }
    Transport& t = *ctx.transport;
    const int32_t h = s->Handle;
    if (s->ControllerCode == kPreSequenceController) {
        // This controller wants its format state reset first; nothing here is judged.
        t.VendorR(h, kVendorChipList, 0, kVendorLength);
        t.Vendor(h, kVendorFormatUnit, 0, 0, kVendorLength);
        t.VendorR(h, kVendorClose, 0, kVendorLength);
        t.TestUnitReady(h);
    }
    if (!ReadChipList(ctx, slot)) {
        return;
    }

    int totalUnits = 0;
    for (int c = 0; c < s->ChipCount; ++c) {
        totalUnits += ctx.ChipTable[static_cast<size_t>(c)].Units;
    }
    const int16_t step = ProgressStep(ctx, slot, totalUnits);

    for (int c = 0; c < s->ChipCount; ++c) {
        const int units = ctx.ChipTable[static_cast<size_t>(c)].Units;
        for (int u = 0; u < units; ++u) {
            const uint16_t ok =
                ctx.ExtendedScan != kFalse
                    ? t.VendorScan(h, code, c, u, kExtendedScanParameter, 0, 0, kVendorLength)
                    : t.Vendor(h, code, c, u, kVendorLength);
            if (ok == 0) {
                s->Status = code;
                return;
            }
            ctx.replies.ReadReplyBlock();
            s->UnitEntries = 0;
            if (s->ControllerCode > kCountingController) {
                s->UnitEntries =
                    static_cast<int16_t>(UnitListEntries(ctx.replies.ReplyBuffer).size());
            }
            if (UnitVerdict(static_cast<int16_t>(c), static_cast<int16_t>(u), s->UnitEntries,
                            s->ControllerCode) == 0) {
                s->Status = kStatusUnitRejected;
                t.VendorR(h, kVendorClose, 0, kVendorLength);
                return;
            }
            if (ctx.progress != nullptr) {
                ctx.progress->AdvanceProgress(slot - 1, step);
            }
        }
    }

    ctx.SectorBuffer.fill(0);
    ctx.SectorBuffer[0] = ctx.SectorBuffer[1] = ctx.SectorBuffer[2] = ctx.SectorBuffer[3] = 0xFF;
    t.VendorW(h, kVendorBoundary, kVendorLength, ctx.SectorBuffer.data());
    if (t.VendorR(h, kVendorClose, 0, kVendorLength) == 0) {
        s->Status = kVendorClose;
        return;
    }
    ctx.SectorBuffer.fill(0);
    t.TestUnitReady(h);
}

void ReadDiskCapacity(StationContext& ctx, int16_t slot) {
    DiskSlot* s = ctx.slots.Slot(slot);
    if (s == nullptr) {
        return;
    }
    const uint16_t status = ctx.transport->ReadCapacity(s->Handle);
    if (status == 0) {
        s->Status = kStatusNoCapacity;
        return;
    }
    // The status itself selects the capacity line: it is never the device
    // line's selector.
    const auto capacityLine = static_cast<int16_t>(status);
    ctx.replies.ReadReplyLine(capacityLine);
    // A capacity too large for a double is no number the drive could mean.
    s->LastSector = LeadingNumber(ctx.replies.CapacityText).value_or(0) - 1;
    ctx.replies.CapacityText.clear();
}

void FinishFormat(StationContext& ctx, int16_t slot) {
    DiskSlot* s = ctx.slots.Slot(slot);
    if (s == nullptr) {
        return;
    }
    ReadDiskCapacity(ctx, slot);
    if (s->LastSector == 0) {
        s->Status = kStatusNoCapacity; // recorded; the steps below still run
    }
    ctx.SectorBuffer.fill(0);
    ctx.SectorBuffer[0] = 1;
    if (ctx.transport->VendorW(s->Handle, kVendorFinish, kVendorLength, ctx.SectorBuffer.data()) ==
        0) {
        s->Status = kVendorFinish;
    }
    // The media test only where the format left a drive of known size.
    const bool media = MediaTestWanted(ctx.Settings) && s->Status == 0;
    if (media && !TestMediaBeforeVolume(ctx, slot)) {
        return;
    }
    const double first = std::nearbyint(s->LastSector * ctx.Product.FirstShare);
    const double second = s->LastSector - first;
    // Verify reads back what the volume writers sent: they write through the log.
    const bool verify = media && ctx.Settings.MediaVerify;
    VolumeWriteLog log(*ctx.transport);
    Transport& drive = verify ? static_cast<Transport&>(log) : *ctx.transport;
    if (const int16_t built = BuildVolume(ctx, drive, slot, first, second); built != kVolumeBuilt) {
        s->Status = built;
        return;
    }
    if (ctx.transport->VendorR(s->Handle, kVendorClose, 0, kVendorLength) == 0) {
        s->Status = kVendorClose;
    }
    if (verify && s->Status == 0) {
        VerifyVolume(ctx, slot, log);
    }
}

int16_t LowLevelFormat(StationContext& ctx, int16_t slot) {
    DiskSlot* s = ctx.slots.Slot(slot);
    if (s == nullptr) {
        return 1;
    }
    s->Media = {};
    EraseUnits(ctx, slot, kVendorFormatUnit);
    if (s->Status != 0) {
        return 1;
    }
    FinishFormat(ctx, slot);
    return s->Status != 0 ? 1 : 0;
}

} // namespace ufd
