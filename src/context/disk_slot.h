// The slot table: one record per attached drive, numbered from 1 in the order
// the transport's drive indexes found them.
#pragma once

#include <QString>

#include <array>
#include <cstdint>

namespace ufd {

// The station's truth values.
inline constexpr int16_t kTrue = -1;
inline constexpr int16_t kFalse = 0;

// What the media test found on the flash behind the controller; Ran stays
// false (and the rest zero) when [MediaTest] is off or never reached.
struct MediaFindings {
    bool Ran = false;
    int64_t RealSectors = 0; // sectors the probe found kept; 0: not probed
    double WriteMBps = 0;    // 0: not measured
    double ReadMBps = 0;
    int64_t SectorsTested = 0;
    int64_t SectorsFailed = 0;
    int64_t ReportedSectors = 0; // what the controller reports, beside RealSectors
    double MinWriteMBps = 0;     // the floors the figures were held to; 0: none
    double MinReadMBps = 0;
    bool ResetTried = false; // the one reset of the run was spent
};

struct DiskSlot {
    int32_t Handle = 0; // transport handle, 0 = none
    QString DeviceText; // device line read when the handle was opened
    int16_t ChipCount = 0;
    double LastSector = 0; // capacity in sectors minus 1
    int16_t UnitEntries = 0;
    int16_t Status = 0; // 0 = no failure, else the code of the step that last failed
    int16_t ControllerCode = 0;
    MediaFindings Media;
};

inline constexpr int kMaxSlots = 16;
inline constexpr int kProbeCount = 17; // drive indexes 0..16

struct SlotTable {
    std::array<DiskSlot, kMaxSlots> DiskSlots{};
    std::array<DiskSlot, kMaxSlots> FoundSlots{};
    int16_t DiskCount = 0;

    // Slot number n (1..16) is record n - 1; anything else has no record.
    DiskSlot* Slot(int slotNumber) {
        return slotNumber >= 1 && slotNumber <= kMaxSlots ? &DiskSlots[slotNumber - 1] : nullptr;
    }
    const DiskSlot* Slot(int slotNumber) const {
        return const_cast<SlotTable*>(this)->Slot(slotNumber);
    }
};

} // namespace ufd
