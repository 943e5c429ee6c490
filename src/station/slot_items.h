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

// The items that call the device layer, in run order.
enum class RunItem { Format, Manufacture, CheckConfig, CheckWriteProtect };

// One item on one slot, as the sequential run does it. Row = slot number - 1.
// Gone: the view went away during a wait or device call, and the slot's
// results were not shown.
SlotOutcome ItemSlot(RunItem item, const SlotWork& work, int row, CarriedCaptions& carried);
void Check1MSlot(const SlotWork& work, int row);

// Each item is the three steps below, so a parallel run can do the drive
// half on a worker thread and the rest on the window's thread, in slot order
// (the captions carried from slot to slot stay as in a sequential run).
//
// The result pair an item shows before its drive half; none for Format,
// which shows its pair with its results.
std::optional<ResultColumn> PairShownFirst(RunItem item);
// The drive half: the item's answer (Format: 0), nullopt when the view went
// away. It touches the view only for Gone() and, in Format, the start of the
// progress bar.
std::optional<int16_t> ItemOnDrive(RunItem item, const SlotWork& work, int row);
// The show half: the row's captions and picture from the answer.
SlotOutcome ShowItem(RunItem item, RunView& view, const DiskSlot& slot, int row, int16_t answer,
                     CarriedCaptions& carried);

} // namespace ufd
