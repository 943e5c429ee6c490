#include "station/state_run_view.h"

namespace ufd {

void StateRunView::ShowResultPair(ResultColumn column, int slot) {
    state_.ShowPair(slot, column);
    rows_.ShowResultPair(column, slot);
}

void StateRunView::HideResultBox(ResultColumn column, ResultBox box, int slot) {
    state_.HideBox(slot, column, box);
    rows_.HideResultBox(column, box, slot);
}

void StateRunView::SetResultCaption(ResultColumn column, ResultBox box, int slot,
                                    const QString& text) {
    state_.SetCaption(slot, column, box, text);
    rows_.SetResultCaption(column, box, slot, text);
}

void StateRunView::SetPicture(int slot, int picture) {
    state_.SetPicture(slot, picture);
    rows_.SetPicture(slot, picture);
}

void StateRunView::ExplainFailure(ResultColumn column, int slot) {
    state_.ItemFailed(slot, column, statusOf_ ? statusOf_(slot) : 0);
    rows_.ExplainFailure(column, slot);
}

} // namespace ufd
