// The window's rows as the test run's RunView. It holds the window weakly:
// the window may close, and be deleted, inside any wait of the run.
#pragma once

#include "station/run_view.h"
#include "station/station_form.h"

#include <QPointer>

namespace ufd {

class WindowRunView final : public RunView {
public:
    explicit WindowRunView(TestFrm* window) : window_(window) {}

    bool Gone() override;
    void StartProgress(int slot) override;
    void EndProgress(int slot) override;
    void ShowResultPair(ResultColumn column, int slot) override;
    void HideResultBox(ResultColumn column, ResultBox box, int slot) override;
    void SetResultCaption(ResultColumn column, ResultBox box, int slot,
                          const QString& text) override;
    void SetPicture(int slot, int picture) override;
    void ExplainFailure(ResultColumn column, int slot) override;
    void RepaintPicture(int slot) override;

private:
    int Row(int slot) const;

    QPointer<TestFrm> window_;
};

} // namespace ufd
