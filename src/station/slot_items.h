// The test items as work on one slot: the device procedures for that slot,
// and their results turned into the row's captions, picture and status. The
// run calls them slot after slot; they touch no widget, only a RunView.
#pragma once

#include "context/station_context.h"
#include "station/dependencies.h"
#include "station/run_view.h"

#include <QString>

#include <functional>
#include <optional>

namespace ufd {

// Everything one slot's items need besides the slot itself.
struct SlotWork {
    StationContext& ctx;
    const DeviceProcedures& dev;
    // The run's pause (seconds); empty: no pause.
    const std::function<void(float)>& wait;
    RunView& view;
};

// The captions a slot leaves for the next: where a result sets no text (a
// Format size that is no number, an identity answer outside 0..2) the row
// shows the text of the slot before. One per run, starting empty.
struct CarriedCaptions {
    QString mark;
    QString detail;
    QString stringMark;
    QString writeMark;
};

// Ok: the item did not fail the slot (its results are shown either way).
enum class SlotOutcome { Ok, Failed, Gone };

// The detail text of a failed Format.
QString StatusText(int16_t status);

// Row = slot number - 1. Gone: the view went away during a wait or device
// call, and the slot's results were not shown.
SlotOutcome FormatSlot(const SlotWork& work, int row, CarriedCaptions& carried);
SlotOutcome ManufactureSlot(const SlotWork& work, int row, CarriedCaptions& carried);
void Check1MSlot(const SlotWork& work, int row);
SlotOutcome CheckConfigSlot(const SlotWork& work, int row, CarriedCaptions& carried);
SlotOutcome CheckWriteProtectSlot(const SlotWork& work, int row);

// Each item above is its drive half and its show half, so a parallel run can
// do the first on a worker thread and the second on the window's thread, in
// slot order (the captions carried from slot to slot stay as in a sequential
// run). The drive halves touch the view only for Gone() and, in Format, the
// start of the progress bar; they answer nullopt/false when the view went
// away. The item's ShowResultPair before the drive half is the caller's.
bool FormatOnDrive(const SlotWork& work, int row);
SlotOutcome ShowFormat(RunView& view, const DiskSlot& slot, int row, CarriedCaptions& carried);
std::optional<int16_t> WriteIdentityOnDrive(const SlotWork& work, int row);
SlotOutcome ShowManufacture(RunView& view, int row, int16_t r, CarriedCaptions& carried);
std::optional<int16_t> CheckIdentityOnDrive(const SlotWork& work, int row);
SlotOutcome ShowCheckConfig(RunView& view, const DiskSlot& slot, int row, int16_t r,
                            CarriedCaptions& carried);
std::optional<int16_t> CheckWriteProtectOnDrive(const SlotWork& work, int row);
SlotOutcome ShowWriteProtect(RunView& view, int row, int16_t r);

} // namespace ufd
