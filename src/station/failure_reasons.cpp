#include "station/failure_reasons.h"

#include "format/volume.h"
#include "results/status_reasons.h"
#include "station/reason_words.h"
#include "station/station_language.h"
#include "station/test_frm.h"

namespace ufd {

QString FailureText(int status) {
    return QCoreApplication::translate("TestFrm", "Error Status = ") + HexPad(status, 2, false) +
           QStringLiteral(": ") + TrStatusReason(status);
}

bool TestFrm::ExplainRow(int row) {
    const int record = SlotOfRow(row);
    if (record < 0 || record >= ctx_.slots.DiskCount || record >= kMaxSlots ||
        ItemLab(row) == nullptr) {
        return false;
    }
    const DiskSlot& slot = ctx_.slots.DiskSlots[static_cast<size_t>(record)];
    if (slot.Status == 0 || ctx_.TestRunning != kFalse) {
        return false;
    }
    ShowOnStatusLine(CaptionOf(ItemLab(row)) + QCoreApplication::translate("TestFrm", " failed. ") +
                     FailureText(slot.Status));
    return true;
}

} // namespace ufd
