// Discovery: the timer that acts on notices, and the probe of every drive
// index that fills the slot table.
#include "station/station_form.h"

#include "station/drive_pictures.h"
#include "station/window_run_view.h"

namespace ufd {

void TestFrm::Timer1_Timer() {
    if (closing_ || ctx_.TestRunning != kFalse || ctx_.ClearingReport != kFalse) {
        return;
    }
    if (ctx_.DiskStatusFlag == 1) {
        PollingDiskStatus(kTrue);
        ctx_.DiskStatusFlag = 2;
        // A standing report keeps its LED button ([Window] KeepReport).
        SetEnabled(LedCmd, KeepingReport() && LedCmd->isEnabled());
    } else if (ctx_.DiskStatusFlag == 3) {
        PollingDiskStatus(kFalse);
        ctx_.DiskStatusFlag = 2;
        SetEnabled(LedCmd, KeepingReport() && LedCmd->isEnabled());
    }
}

// ---------------------------------------------------------------- discovery

void TestFrm::PollingDiskStatus(int16_t keepOpen) {
    Transport& t = *ctx_.transport;
    SlotTable& table = ctx_.slots;
    WindowRunView rows(this);
    if (keepOpen == kFalse) {
        t.KillEXE();
        for (int n = 1; n <= table.DiskCount; ++n) {
            DiskSlot* slot = table.Slot(n);
            if (slot == nullptr) {
                continue;
            }
            t.CloseHandle(slot->Handle);
            slot->Handle = 0;
            slot->DeviceText.clear();
            rows.ResetPicture(n - 1, kPictureNoDrive);
        }
    }

    int next = 1;
    std::vector<int> driveIndexes;
    for (int32_t driveIndex = 0; driveIndex < kProbeCount; ++driveIndex) {
        const int32_t h = t.GetDiskHandle(driveIndex);
        if (h == 0) {
            continue;
        }
        // A handle that left no reply file must not be judged by the line
        // of the probe before it.
        ctx_.replies.DeviceLine.clear();
        ctx_.replies.ReadReplyLine(kDeviceLineSelector);
        const QString& line = ctx_.replies.DeviceLine;
        if (!line.contains(QStringLiteral("usbstor"), Qt::CaseInsensitive)) {
            // Not USB storage: the handle is a library resource, give it back.
            t.CloseHandle(h);
            continue;
        }
        if (next > kMaxSlots) {
            // A seventeenth drive has no slot to go to.
            t.CloseHandle(h);
            continue;
        }
        DiskSlot& found = table.FoundSlots[static_cast<size_t>(next - 1)];
        found.Handle = h;
        found.DeviceText = line;
        driveIndexes.push_back(driveIndex);
        ++next;
    }

    const int found = next - 1;
    sockets_.Place(driveIndexes);
    for (int n = 1; n <= found; ++n) {
        DiskSlot& slot = table.DiskSlots[static_cast<size_t>(n - 1)];
        const DiskSlot& source = table.FoundSlots[static_cast<size_t>(n - 1)];
        // A handle that is being replaced would otherwise stay open in the
        // library for good.
        if (slot.Handle != 0 && slot.Handle != source.Handle) {
            bool stillUsed = false;
            for (int m = 1; m <= found; ++m) {
                stillUsed =
                    stillUsed || table.FoundSlots[static_cast<size_t>(m - 1)].Handle == slot.Handle;
            }
            if (!stillUsed) {
                t.CloseHandle(slot.Handle);
            }
        }
        // The slot holds the drive found now: what the one before left in it
        // (its size, chips, controller) must never be laid out or recorded
        // for this one, even when a capacity read fails.
        slot = DiskSlot{};
        slot.Handle = source.Handle;
        slot.DeviceText = source.DeviceText;
        rows.ResetPicture(n - 1, kPictureAttached);
    }
    table.DiskCount = static_cast<int16_t>(found);
    probeIndexes_ = driveIndexes;
    ShowSockets(driveIndexes);

    if (table.DiskCount == 0) {
        GoCmd->setEnabled(false);
    } else if (!ClearCmd->isEnabled()) {
        EnableStart();
    }
}

int TestFrm::ProbeIndexOfSlot(int record) const {
    return record >= 0 && record < static_cast<int>(probeIndexes_.size())
               ? probeIndexes_[static_cast<size_t>(record)]
               : -1;
}

} // namespace ufd
