// The window's rows seen by slot record: the one place that turns a slot
// into the row that shows it. The test run reports through it as its RunView;
// discovery, the run's start and end, the batch table and the format's
// progress bar ask it too. It holds the window weakly: the window may close,
// and be deleted, inside any wait of the run.
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

    // For the outputs, which only read: the same adapter over a const window.
    static const WindowRunView Of(const TestFrm& window) {
        return WindowRunView(const_cast<TestFrm*>(&window));
    }

    // The row where discovery puts slot record s now ([Window] RowPerSocket:
    // its socket's), and the one that showed it in the last run; -1: none.
    int Row(int slot) const;
    int RunRow(int slot) const;
    // What the slot's row shows now, for the outputs that print the window
    // ([Window] KeepReport: the run's row, wherever its drive is now).
    struct Shown : TestFrm::RowShown {
        bool exists = false; // built, on the window or not
        int picture = 0;
    };
    Shown ShownOf(int slot) const;
    // The row's label, its picture; a new picture unless the row shows a
    // standing report ([Window] KeepReport).
    QString Label(int slot) const;
    int Picture(int slot) const;
    void ResetPicture(int slot, int picture);
    QLabel* Box(int slot, ResultColumn column, ResultBox box);
    QProgressBar* Bar(int slot) const;

private:
    QPointer<TestFrm> window_;
};

} // namespace ufd
