// The test run: the ticked items one after another, each over the slots in
// order (or, with [Run] Parallel, over all slots at once: parallel_run.cpp),
// then the verdict, the beeps for failed drives and the buttons. What an item
// does to one slot lives in slot_items.cpp and reaches the window only
// through a RunView.
#include "station/test_frm.h"

#include "platform/beep.h"
#include "platform/message_box.h"
#include "station/drive_pictures.h"
#include "station/parallel_run.h"
#include "station/run_recorder.h"
#include "station/slot_items.h"
#include "station/station_language.h"
#include "station/widget_helpers.h"
#include "station/window_run_view.h"

#include <optional>

namespace ufd {

void TestFrm::GoCmd_Click() {
    QPointer<TestFrm> self(this);
    // Everything the run needs after a wait is taken from here, not from
    // the window, which may be gone by then.
    StationContext& ctx = ctx_;
    const std::shared_ptr<RunRecorder> results = deps_.results;
    const DeviceProcedures dev = results ? results->Timed(deps_.device) : deps_.device;
    // A copy: the window, and its own copy, may be deleted inside the wait.
    const std::function<void(float)> waitFor = deps_.wait;
    auto Wait = [&waitFor](float seconds) {
        if (waitFor) {
            waitFor(seconds);
        }
    };
    WindowRunView view(this);
    const SlotWork work{ctx, dev, waitFor, view};
    SlotTable& table = ctx.slots;

    ctx.TestRunning = kTrue;
    GoCmd->setEnabled(false);
    ClearCmd->setEnabled(false);
    LedCmd->setEnabled(false);
    bool runFailed = false;

    bool anyTicked = false;
    for (int i = 0; i < kItemCount; ++i) {
        anyTicked = anyTicked || Ticked(Check1(i));
    }
    if (!anyTicked) {
        ShowMessageBox(QCoreApplication::translate("TestFrm", "No items checked"),
                       kStyleExclamation, std::nullopt, this);
        if (!WindowAlive(self)) {
            ctx.TestRunning = kFalse;
            return;
        }
        GoCmd->setEnabled(true);
        GoCmd->setFocus();
        ctx.TestRunning = kFalse;
        return;
    }

    if (results) {
        results->Begin();
    }
    PassLab->hide();
    PassLab->lower();
    for (int16_t r = 0; r < rows_.shown; ++r) {
        ShowDiskRow(kFalse, r);
    }

    // The window may close inside any wait or device call; from then on the
    // run ends without touching it.
    auto gone = [&view, &ctx] {
        if (!view.Gone()) {
            return false;
        }
        ctx.TestRunning = kFalse;
        return true;
    };
    // One item's work on one slot; false when the run must end.
    auto slotDone = [&ctx, &runFailed](SlotOutcome outcome) {
        if (outcome == SlotOutcome::Gone) {
            ctx.TestRunning = kFalse;
            return false;
        }
        runFailed = runFailed || outcome == SlotOutcome::Failed;
        return true;
    };

    // In parallel each slot has a worker and a context of its own; they
    // live until the run ends, however it ends.
    std::optional<ParallelRun> parallel;
    if (ctx.Settings.Parallel) {
        parallel.emplace(ctx, dev, view, deps_.slotPause, deps_.startWorker);
    }

    // One item over every slot, all at once or slot after slot; false when
    // the run must end.
    CarriedCaptions carried;
    auto runItem = [&](RunItem item) {
        if (parallel) {
            return slotDone(parallel->Item(item, carried));
        }
        for (int i = 0; i < table.DiskCount; ++i) {
            if (!slotDone(ItemSlot(item, work, i, carried))) {
                return false;
            }
        }
        return true;
    };

    if (Ticked(Check1(kItemFormat)) && !runItem(RunItem::Format)) {
        return;
    }
    Wait(0.5F);
    if (gone()) {
        return;
    }
    if (Ticked(Check1(kItemManufacture)) && !runItem(RunItem::Manufacture)) {
        return;
    }
    Wait(0.1F);
    if (gone()) {
        return;
    }
    if (Ticked(Check1(kItem1M))) {
        for (int i = 0; i < table.DiskCount; ++i) {
            Check1MSlot(work, i);
        }
    }
    if (Ticked(Check1(kItemCheckConfig)) && !runItem(RunItem::CheckConfig)) {
        return;
    }
    if (Ticked(Check1(kItemCheckWP)) && !runItem(RunItem::CheckWriteProtect)) {
        return;
    }

    if (parallel) {
        parallel->Finish();
    }
    if (results) {
        results->Finish(*this);
    }
    PassLab->show();
    for (int i = 0; i < table.DiskCount; ++i) {
        if (table.DiskSlots[static_cast<size_t>(i)].Status == 0) {
            view.SetPicture(i, kPicturePassed);
            view.RepaintPicture(i);
        }
    }
    PassLab->raise();
    PassLab->setText(TrStation(runFailed ? kFailed : kAllPass));
    if (ctx.Settings.VerdictColours) {
        // Readable at a glance from across the line; the design's is red either way.
        SetTextColour(PassLab, runFailed ? kVerdictFailed : kVerdictPassed);
    }
    PassLab->show();
    PassLab->raise();

    if (Ticked(Ch)) {
        for (int i = 0; i < table.DiskCount; ++i) {
            if (table.DiskSlots[static_cast<size_t>(i)].Status == 0) {
                continue;
            }
            for (int b = 0; b < 5; ++b) {
                Beep();
                Wait(0.1F);
                if (gone()) {
                    return;
                }
            }
        }
    }

    ClearCmd->setEnabled(true);
    for (int n = 1; n <= table.DiskCount; ++n) {
        if (table.DiskSlots[static_cast<size_t>(n - 1)].Status != 0) {
            LedCmd->setEnabled(true);
            break;
        }
    }
    ctx.TestRunning = kFalse;
    ClearCmd->setFocus();
}

} // namespace ufd
