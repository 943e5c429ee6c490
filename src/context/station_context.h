// All program-wide state of the station in one object, created at start-up
// and handed to every procedure, so each test builds its own.
#pragma once

#include "config/product_config.h"
#include "config/reply_files.h"
#include "context/disk_slot.h"
#include "context/transport.h"
#include "settings/station_settings.h"

#include <array>
#include <cstdint>
#include <optional>

namespace ufd {

struct ChipEntry {
    uint8_t DeviceCode = 0;
    uint8_t Units = 0; // units of 256 blocks
    int16_t BlocksPerUnit = 0;
    int16_t PagesPerBlock = 0;
};

inline constexpr size_t kSectorSize = 512;
inline constexpr size_t kChipTableSize = 512;
using Sector = std::array<uint8_t, kSectorSize>;

// How the format reaches a slot's progress bar without knowing widgets.
// Rows without a bar answer nullopt and ignore advances.
class ProgressView {
public:
    virtual ~ProgressView() = default;
    virtual std::optional<double> ProgressMax(int row) = 0;
    virtual void AdvanceProgress(int row, int step) = 0;
    // The media test's share done (0..1) of the row's bar; on the window's
    // thread MediaProgress also lets it handle its events, as the run's
    // waits do, while ShowMediaShare (what a parallel run's workers reach)
    // only moves the bar.
    virtual void MediaProgress(int row, double share) { ShowMediaShare(row, share); }
    virtual void ShowMediaShare(int /*row*/, double /*share*/) {}
};

struct StationContext {
    explicit StationContext(Transport& t) : transport(&t) {}

    Transport* transport;
    ReplyFiles replies; // ReplyBuffer, DeviceLine, CapacityText
    ProductConfig Product;
    StationSettings Settings; // station.conf; the defaults keep the original
    SlotTable slots;

    Sector SectorBuffer{};
    Sector ConfigBlock{};
    std::array<ChipEntry, kChipTableSize> ChipTable{};
    int16_t ExtendedScan = kFalse;

    Sector MbrTemplate{};
    Sector Fat16BootTemplate{};

    int16_t DiskStatusFlag = 0;
    int16_t TestRunning = kFalse;
    int16_t ClearingReport = kFalse;

    ProgressView* progress = nullptr;
};

} // namespace ufd
