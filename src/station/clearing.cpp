// Clearing the report: the rows emptied and the drives discovered again.
#include "station/station_form.h"

#include "platform/message_box.h"
#include "station/station_language.h"

namespace ufd {

void TestFrm::ClearCmd_Click() {
    QPointer<TestFrm> self(this);
    StationContext& ctx = ctx_;
    ctx.ClearingReport = kTrue;
    PassLab->hide();
    verdictShown_ = false;
    PassLab->lower();
    const int answer = ShowMessageBox(
        QCoreApplication::translate("TestFrm",
                                    "This action will clear the test report, Do you want to "
                                    "continue ?"),
        kStyleYesNoInfo, QCoreApplication::translate("TestFrm", "Clear Report"), this);
    if (!WindowAlive(self)) {
        ctx.ClearingReport = kFalse;
        return;
    }
    if (answer != kAnswerYes) {
        // A standing report keeps its verdict too ([Window] KeepReport).
        if (KeepingReport() && State().finished) {
            PassLab->show();
            PassLab->raise();
            verdictShown_ = true;
        }
        ctx.ClearingReport = kFalse;
        return;
    }
    reportStands_ = false;
    for (int16_t r = 0; r < rows_.shown; ++r) {
        ShowDiskRow(kFalse, r);
    }
    if (ctx.slots.DiskCount != 0) {
        EnableStart();
        GoCmd->setFocus();
    }
    ClearCmd->setEnabled(false);
    LedCmd->setEnabled(false);
    PollingDiskStatus(kTrue);
    ctx.ClearingReport = kFalse;
}

} // namespace ufd
