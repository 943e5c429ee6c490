// The test run: the ticked items one after another, each over the slots in
// order (or, with [Run] Parallel, over all slots at once: parallel_run.cpp),
// then the verdict, the beeps for failed drives and the buttons. What an item
// does to one slot lives in slot_items.cpp and reaches the window only
// through a RunView.
#include "station/station_form.h"

#include "platform/beep.h"
#include "platform/message_box.h"
#include "station/drive_pictures.h"
#include "station/parallel_run.h"
#include "station/run_recorder.h"
#include "station/slot_items.h"
#include "station/state_run_view.h"
#include "station/station_language.h"
#include "station/widget_helpers.h"
#include "station/window_run_view.h"

#include <QDateTime>

#include <optional>

namespace ufd {

void TestFrm::GoCmd_Click() {
    QPointer<TestFrm> self(this);
    // Everything the run needs after a wait is taken from here, not from
    // the window, which may be gone by then.
    StationContext& ctx = ctx_;
    const std::shared_ptr<RunRecorder> results = deps_.results;
    const std::shared_ptr<RunState> state = state_;
    ItemClock& clock = clock_;
    const DeviceProcedures dev = clock.Timed(deps_.device);
    // A copy: the window, and its own copy, may be deleted inside the wait.
    const std::function<void(float)> waitFor = deps_.wait;
    auto Wait = [&waitFor](float seconds) {
        if (waitFor) {
            waitFor(seconds);
        }
    };
    WindowRunView rowsView(this);
    // Every result goes to the run's state first, then to the rows.
    StateRunView view(*state, rowsView, [&ctx](int slot) {
        const DiskSlot* record = ctx.slots.Slot(slot + 1);
        return record != nullptr ? int{record->Status} : 0;
    });
    const SlotWork work{ctx, dev, waitFor, view};
    SlotTable& table = ctx.slots;

    ctx.TestRunning = kTrue;
    GoCmd->setEnabled(false);
    ClearCmd->setEnabled(false);
    LedCmd->setEnabled(false);

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
        EnableStart();
        GoCmd->setFocus();
        ctx.TestRunning = kFalse;
        return;
    }

    if (results) {
        results->Begin();
    }
    BeginState();
    clock.Reset();
    PassLab->hide();
    verdictShown_ = false;
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
    auto slotDone = [&ctx](SlotOutcome outcome) {
        if (outcome == SlotOutcome::Gone) {
            ctx.TestRunning = kFalse;
            return false;
        }
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
        const int index = static_cast<int>(item);
        auto timed = [&](int slot) {
            const ItemClock::Timing t = clock.Of(slot, index);
            if (t.ran) {
                state->ItemRan(slot, index, t.status, t.ms);
            }
        };
        if (parallel) {
            return slotDone(parallel->Item(item, carried, timed));
        }
        for (int i = 0; i < table.DiskCount; ++i) {
            if (!slotDone(ItemSlot(item, work, i, carried))) {
                return false;
            }
            timed(i);
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
    FinishState();
    if (results) {
        results->Finish(*state, ctx);
    }
    PassLab->show();
    for (int i = 0; i < static_cast<int>(state->drives.size()); ++i) {
        if (!state->drives[static_cast<size_t>(i)].Failed()) {
            view.SetPicture(i, kPicturePassed);
            view.RepaintPicture(i);
        }
    }
    PassLab->raise();
    PassLab->setText(TrStation(state->Verdict()));
    if (ctx.Settings.VerdictColours) {
        // Readable at a glance from across the line; the design's is red either way.
        SetTextColour(PassLab, state->failed ? kVerdictFailed : kVerdictPassed);
        ShowVerdictColours();
    }
    PassLab->show();
    PassLab->raise();
    verdictShown_ = true;

    if (Ticked(Ch)) {
        for ([[maybe_unused]] const int slot : state->FailedSlots()) {
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
    if (!state->FailedSlots().empty()) {
        LedCmd->setEnabled(true);
    }
    reportStands_ = true;
    ctx.TestRunning = kFalse;
    ClearCmd->setFocus();
}

} // namespace ufd

namespace ufd {

void TestFrm::BeginState() {
    RunState& state = *state_;
    const SlotTable& table = ctx_.slots;
    const WindowRunView rows(this);
    reportStands_ = false;
    runRows_.clear();
    for (int i = 0; i < table.DiskCount; ++i) {
        runRows_.push_back(rows.Row(i));
    }
    state.Begin(table.DiskCount, QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs));
    for (int i = 0; i < table.DiskCount; ++i) {
        DriveState& d = state.drives[static_cast<size_t>(i)];
        const DriveIdentity id =
            ctx_.transport->Identity(table.DiskSlots[static_cast<size_t>(i)].Handle);
        d.driveIndex = id.DriveIndex;
        d.serial = id.Serial;
        d.port = id.PortPath;
        d.probeIndex = ProbeIndexOfSlot(i);
        d.socket = SocketOfSlot(i);
        d.picture = rows.Picture(i);
    }
}

void TestFrm::ShowVerdictColours() {
    // The verdict across the row area, larger than the design's.
    PassLab->setFont(SansFont(36, true));
    const QRect was = PassLab->geometry();
    const int height = std::max(was.height(), PassLab->sizeHint().height());
    PassLab->setGeometry(0, was.center().y() - height / 2, ScrollArea->width(), height);
    WindowRunView rows(this);
    for (int slot = 0; slot < static_cast<int>(state_->drives.size()); ++slot) {
        const DriveState& d = state_->drives[static_cast<size_t>(slot)];
        if (!d.Failed() && d.firstItem < 0) {
            // A passing row's lower boxes lose the design's light red.
            for (ResultColumn c : {ResultColumn::Format, ResultColumn::Identity,
                                   ResultColumn::Config, ResultColumn::WriteProtect}) {
                if (QLabel* box = rows.Box(slot, c, ResultBox::Red)) {
                    FillBackground(box, kLightGreen);
                }
            }
            continue;
        }
        // The failed cell says why in a word, beside the design's text.
        const int item = d.firstItem >= 0 ? d.firstItem : 0;
        const ResultColumn column[] = {ResultColumn::Format, ResultColumn::Identity,
                                       ResultColumn::Config, ResultColumn::WriteProtect};
        if (QLabel* box = rows.Box(slot, column[item], ResultBox::Red)) {
            box->setText(d.items[static_cast<size_t>(item)].lower.text +
                         QStringLiteral(" \u2013 ") + TrStation(ShortReason(d, TrMediaWords)));
        }
    }
}

void TestFrm::FinishState() {
    RunState& state = *state_;
    const SlotTable& table = ctx_.slots;
    std::vector<int> statuses;
    std::vector<MediaFindings> media;
    for (size_t i = 0; i < state.drives.size(); ++i) {
        statuses.push_back(table.DiskSlots[i].Status);
        media.push_back(table.DiskSlots[i].Media);
    }
    state.Finish(statuses, media, QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs));
    // A notice came during the run: a failed drive that no longer answers
    // was taken out, and that, not its last status, is why it failed.
    if (ctx_.DiskStatusFlag == 1 || ctx_.DiskStatusFlag == 3) {
        for (const int slot : state.FailedSlots()) {
            state.drives[static_cast<size_t>(slot)].pulled =
                ctx_.transport->TestUnitReady(table.DiskSlots[static_cast<size_t>(slot)].Handle) !=
                1;
            if (ctx_.Settings.KeepReport && state.drives[static_cast<size_t>(slot)].pulled) {
                MarkRow(WindowRunView(this).RunRow(slot));
            }
        }
    }
}

} // namespace ufd
