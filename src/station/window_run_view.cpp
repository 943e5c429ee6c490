#include "station/window_run_view.h"

#include "station/failure_reasons.h"

namespace ufd {

bool WindowRunView::Gone() {
    return !WindowAlive(window_);
}

// The run counts in slot records; each is shown on its slot's row.

void WindowRunView::StartProgress(int row) {
    if (QProgressBar* bar = window_->ProgressBar(window_->RowOfSlot(row))) {
        bar->setValue(0);
        bar->show();
    }
}

void WindowRunView::EndProgress(int row) {
    if (QProgressBar* bar = window_->ProgressBar(window_->RowOfSlot(row))) {
        bar->setValue(bar->maximum());
        bar->hide();
    }
}

QLabel* WindowRunView::Box(ResultColumn column, ResultBox box, int slot) const {
    TestFrm& w = *window_;
    const int row = w.RowOfSlot(slot);
    const bool green = box == ResultBox::Green;
    switch (column) {
    case ResultColumn::Format:
        return green ? w.FG(row) : w.FR(row);
    case ResultColumn::Identity:
        return green ? w.LLG(row) : w.LLR(row);
    case ResultColumn::Config:
        return green ? w.CC1mG(row) : w.CC1mR(row);
    case ResultColumn::WriteProtect:
        return green ? w.CCG(row) : w.CCR(row);
    }
    return nullptr;
}

void WindowRunView::ShowResultPair(ResultColumn column, int row) {
    TestFrm::ShowResultPair(Box(column, ResultBox::Green, row), Box(column, ResultBox::Red, row));
}

void WindowRunView::HideResultBox(ResultColumn column, ResultBox box, int row) {
    SetVisible(Box(column, box, row), false);
}

void WindowRunView::SetResultCaption(ResultColumn column, ResultBox box, int row,
                                     const QString& text) {
    QLabel* label = Box(column, box, row);
    SetCaption(label, text);
    if (label != nullptr) {
        label->setToolTip(QString()); // a new caption: the last run's reason is gone
    }
}

void WindowRunView::ExplainFailure(ResultColumn column, int row) {
    const DiskSlot* slot = window_->Context().slots.Slot(row + 1);
    if (slot == nullptr) {
        return;
    }
    const QString why = FailureText(slot->Status);
    for (ResultBox box : {ResultBox::Green, ResultBox::Red}) {
        if (QLabel* label = Box(column, box, row)) {
            label->setToolTip(why);
        }
    }
}

void WindowRunView::SetPicture(int row, int picture) {
    window_->SetPicture(window_->RowOfSlot(row), picture);
}

void WindowRunView::RepaintPicture(int row) {
    if (ClickLabel* thumb = window_->ThumbImage(window_->RowOfSlot(row))) {
        thumb->repaint();
    }
}

} // namespace ufd
