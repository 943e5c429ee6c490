#include "station/window_run_view.h"

namespace ufd {

bool WindowRunView::Gone() {
    return !WindowAlive(window_);
}

void WindowRunView::StartProgress(int row) {
    if (QProgressBar* bar = window_->ProgressBar(row)) {
        bar->setValue(0);
        bar->show();
    }
}

void WindowRunView::EndProgress(int row) {
    if (QProgressBar* bar = window_->ProgressBar(row)) {
        bar->setValue(bar->maximum());
        bar->hide();
    }
}

QLabel* WindowRunView::Box(ResultColumn column, ResultBox box, int row) const {
    TestFrm& w = *window_;
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
    SetCaption(Box(column, box, row), text);
}

void WindowRunView::SetPicture(int row, int picture) {
    window_->SetPicture(row, picture);
}

void WindowRunView::RepaintPicture(int row) {
    if (ClickLabel* thumb = window_->ThumbImage(row)) {
        thumb->repaint();
    }
}

} // namespace ufd
