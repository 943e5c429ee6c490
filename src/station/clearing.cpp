// Clearing the report: the rows emptied and the drives discovered again.
#include "station/test_frm.h"

#include "platform/message_box.h"
#include "station/station_language.h"

namespace ufd {

void TestFrm::ClearCmd_Click() {
    QPointer<TestFrm> self(this);
    StationContext& ctx = ctx_;
    ctx.ClearingReport = kTrue;
    PassLab->hide();
    PassLab->lower();
    const int answer = ShowMessageBox(
        QCoreApplication::translate("TestFrm",
                                    "This action will clear the test report, Do you want to "
                                    "continue ?"),
        kStyleYesNoInfo, QCoreApplication::translate("TestFrm", "Clear Report"), this);
    if (!WindowAlive(self) || answer != kAnswerYes) {
        ctx.ClearingReport = kFalse;
        return;
    }
    for (int16_t r = 0; r < rows_.shown; ++r) {
        ShowDiskRow(kFalse, r);
    }
    if (ctx.slots.DiskCount != 0) {
        GoCmd->setEnabled(true);
        GoCmd->setFocus();
    }
    ClearCmd->setEnabled(false);
    LedCmd->setEnabled(false);
    PollingDiskStatus(kTrue);
    ctx.ClearingReport = kFalse;
}

} // namespace ufd
