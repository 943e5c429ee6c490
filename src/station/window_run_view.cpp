#include "station/window_run_view.h"

#include "device/media_words.h"

#include "station/failure_reasons.h"
#include "station/station_language.h"

namespace ufd {

bool WindowRunView::Gone() {
    return !WindowAlive(window_);
}

// The run counts in slot records; each is shown on its slot's row. This is
// the one place that turns one into the other.

int WindowRunView::Row(int slot) const {
    return window_->RowOfSlot(slot);
}

int WindowRunView::RunRow(int slot) const {
    return window_->RunRowOfSlot(slot);
}

WindowRunView::Shown WindowRunView::ShownOf(int slot) const {
    const int row = window_->KeepingReport() ? RunRow(slot) : Row(slot);
    Shown shown;
    static_cast<TestFrm::RowShown&>(shown) = window_->Shown(row);
    shown.exists = window_->HasRow(row);
    shown.picture = window_->PictureOf(row);
    return shown;
}

QString WindowRunView::Label(int slot) const {
    return window_->Shown(Row(slot)).label;
}

int WindowRunView::Picture(int slot) const {
    return window_->PictureOf(Row(slot));
}

void WindowRunView::ResetPicture(int slot, int picture) {
    if (!window_->RowKept(Row(slot))) {
        window_->SetPicture(Row(slot), picture);
    }
}

QLabel* WindowRunView::Box(int slot, ResultColumn column, ResultBox box) {
    return window_->BoxLabel(Row(slot), column, box);
}

QProgressBar* WindowRunView::Bar(int slot) const {
    return window_->ProgressBar(Row(slot));
}

void WindowRunView::StartProgress(int slot) {
    if (QProgressBar* bar = window_->ProgressBar(Row(slot))) {
        bar->setValue(0);
        bar->show();
    }
}

void WindowRunView::EndProgress(int slot) {
    if (QProgressBar* bar = window_->ProgressBar(Row(slot))) {
        bar->setValue(bar->maximum());
        bar->hide();
    }
}

void WindowRunView::ShowResultPair(ResultColumn column, int slot) {
    for (ResultBox box : {ResultBox::Green, ResultBox::Red}) {
        window_->SetBox(Row(slot), column, box, true, std::nullopt);
    }
}

void WindowRunView::HideResultBox(ResultColumn column, ResultBox box, int slot) {
    window_->SetBox(Row(slot), column, box, false, std::nullopt);
}

void WindowRunView::SetResultCaption(ResultColumn column, ResultBox box, int slot,
                                     const QString& text) {
    const int row = Row(slot);
    window_->SetBox(row, column, box, std::nullopt, text);
    if (QLabel* label = window_->BoxLabel(row, column, box)) {
        label->setToolTip(QString()); // a new caption: the last run's reason is gone
    }
}

void WindowRunView::ExplainFailure(ResultColumn column, int slot) {
    const DiskSlot* record = window_->Context().slots.Slot(slot + 1);
    if (record == nullptr) {
        return;
    }
    QString why = FailureText(record->Status);
    if (const QString words = MediaFailureWords(record->Status, record->Media, TrMediaWords);
        !words.isEmpty()) {
        why += QStringLiteral(" (") + words + QLatin1Char(')');
    }
    for (ResultBox box : {ResultBox::Green, ResultBox::Red}) {
        if (QLabel* label = window_->BoxLabel(Row(slot), column, box)) {
            label->setToolTip(why);
        }
    }
}

void WindowRunView::SetPicture(int slot, int picture) {
    window_->SetPicture(Row(slot), picture);
}

void WindowRunView::RepaintPicture(int slot) {
    if (ClickLabel* thumb = window_->ThumbImage(Row(slot))) {
        thumb->repaint();
    }
}

} // namespace ufd
