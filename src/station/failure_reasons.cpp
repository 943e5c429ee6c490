#include "station/failure_reasons.h"

#include "format/volume.h"
#include "results/status_reasons.h"
#include "station/station_form.h"
#include "station/station_language.h"
#include "station/window_run_view.h"

namespace ufd {

QString FailureText(int status) {
    return QCoreApplication::translate("TestFrm", "Error Status = ") + HexPad(status, 2, false) +
           QStringLiteral(": ") + TrStatusReason(status);
}

bool TestFrm::ExplainRow(int row) {
    if (KeepingReport()) {
        // The standing report's drive on that row, wherever it is now.
        const WindowRunView rows(this);
        for (int slot = 0; slot < static_cast<int>(State().drives.size()); ++slot) {
            const DriveState& d = State().drives[static_cast<size_t>(slot)];
            if (rows.RunRow(slot) != row || !d.Failed()) {
                continue;
            }
            const QString why = d.pulled ? TrStation(kPulledReason) + QStringLiteral(" (") +
                                               FailureText(d.status) + QLatin1Char(')')
                                         : FailureText(d.status);
            ShowOnStatusLine(Shown(row).label +
                             QCoreApplication::translate("TestFrm", " failed. ") + why);
            return true;
        }
        return false;
    }
    const int record = SlotOfRow(row);
    if (record < 0 || record >= ctx_.slots.DiskCount || record >= kMaxSlots ||
        ItemLab(row) == nullptr) {
        return false;
    }
    const DiskSlot& slot = ctx_.slots.DiskSlots[static_cast<size_t>(record)];
    if (slot.Status == 0 || ctx_.TestRunning != kFalse) {
        return false;
    }
    ShowOnStatusLine(Shown(row).label + QCoreApplication::translate("TestFrm", " failed. ") +
                     FailureText(slot.Status));
    return true;
}

} // namespace ufd
