// The window's rows as the test run's RunView. It holds the window weakly:
// the window may close, and be deleted, inside any wait of the run.
#pragma once

#include "station/run_view.h"
#include "station/test_frm.h"

#include <QPointer>

namespace ufd {

class WindowRunView final : public RunView {
public:
    explicit WindowRunView(TestFrm* window) : window_(window) {}

    bool Gone() override;
    void StartProgress(int row) override;
    void EndProgress(int row) override;
    void ShowResultPair(ResultColumn column, int row) override;
    void HideResultBox(ResultColumn column, ResultBox box, int row) override;
    void SetResultCaption(ResultColumn column, ResultBox box, int row,
                          const QString& text) override;
    void SetPicture(int row, int picture) override;
    void ExplainFailure(ResultColumn column, int row) override;
    void RepaintPicture(int row) override;

private:
    QLabel* Box(ResultColumn column, ResultBox box, int slot) const;

    QPointer<TestFrm> window_;
};

} // namespace ufd
