// The run's view that keeps what it is told in the run's state and passes
// it on to the window's rows. Every result reaches the state through here,
// in the sequential run and, from the window's thread, in the parallel one.
#pragma once

#include "station/run_state.h"
#include "station/run_view.h"

#include <functional>

namespace ufd {

class StateRunView final : public RunView {
public:
    // statusOf: the slot's Status as the run has it now (the reason of a failure).
    StateRunView(RunState& state, RunView& rows, std::function<int(int)> statusOf)
        : state_(state), rows_(rows), statusOf_(std::move(statusOf)) {}

    bool Gone() override { return rows_.Gone(); }
    void StartProgress(int slot) override { rows_.StartProgress(slot); }
    void EndProgress(int slot) override { rows_.EndProgress(slot); }
    void ShowResultPair(ResultColumn column, int slot) override;
    void HideResultBox(ResultColumn column, ResultBox box, int slot) override;
    void SetResultCaption(ResultColumn column, ResultBox box, int slot,
                          const QString& text) override;
    void SetPicture(int slot, int picture) override;
    void ExplainFailure(ResultColumn column, int slot) override;
    void RepaintPicture(int slot) override { rows_.RepaintPicture(slot); }

private:
    RunState& state_;
    RunView& rows_;
    std::function<int(int)> statusOf_;
};

} // namespace ufd
