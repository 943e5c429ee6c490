// The slot rows: copies of row 0 one row step apart, their result boxes,
// pictures and progress bars.
#include "station/station_form.h"

#include "station/drive_pictures.h"
#include "station/station_language.h"
#include "station/twips.h"
#include "station/widget_helpers.h"
#include "station/window_run_view.h"

#include <QPalette>

#include <algorithm>
#include <cmath>

namespace ufd {

void TestFrm::BuildDiskRows(int16_t rowCount) {
    for (int k = 1; k <= rowCount; ++k) {
        // A new element copies element 0 and starts hidden.
        ClickLabel* thumb0 = ThumbImage(0);
        auto* thumb = new ClickLabel(ScrollArea);
        thumb->setObjectName(QStringLiteral("ThumbImage_%1").arg(k));
        thumb->setProperty("picture", thumb0->property("picture"));
        thumb->setPixmap(thumb0->pixmap());
        PlaceTwips(thumb, TwipLeft(thumb0), TwipTop(thumb0), TwipWidth(thumb0), TwipHeight(thumb0));
        thumb->hide();
        thumb->index = k;
        thumb->onClick = [this](int i) { ThumbImage_Click(static_cast<int16_t>(i)); };
        ThumbImage.Add(thumb);

        QProgressBar* bar0 = ProgressBar(0);
        auto* bar = new QProgressBar(ScrollArea);
        bar->setObjectName(QStringLiteral("ProgressBar_%1").arg(k));
        bar->setRange(bar0->minimum(), bar0->maximum());
        bar->setTextVisible(false);
        PlaceTwips(bar, TwipLeft(bar0), TwipTop(bar0), TwipWidth(bar0), TwipHeight(bar0));
        bar->hide();
        ProgressBar.Add(bar);

        ClickLabel* item0 = ItemLab(0);
        auto* item = new ClickLabel(item0->text(), ScrollArea);
        item->setObjectName(QStringLiteral("ItemLab_%1").arg(k));
        item->setFont(item0->font());
        PlaceTwips(item, TwipLeft(item0), TwipTop(item0), TwipWidth(item0), TwipHeight(item0));
        item->hide();
        item->index = k;
        item->onClick = [this](int i) { ItemLab_Click(static_cast<int16_t>(i)); };
        ItemLab.Add(item);

        struct BoxArray {
            ControlArray<QLabel>* array;
            const char* name;
        };
        const BoxArray boxes[] = {{&LLG, "LLG"},     {&LLR, "LLR"},    {&FG, "FG"},
                                  {&FR, "FR"},       {&CCG, "CCG"},    {&CCR, "CCR"},
                                  {&CC1mG, "CC1mG"}, {&CC1mR, "CC1mR"}};
        for (const BoxArray& b : boxes) {
            QLabel* box0 = (*b.array)(0);
            QLabel* box =
                MakeResultBox(ScrollArea, b.name, box0->palette().color(QPalette::Window),
                              TwipLeft(box0), TwipTop(box0), TwipWidth(box0), TwipHeight(box0));
            box->setObjectName(QStringLiteral("%1_%2").arg(QLatin1String(b.name)).arg(k));
            box->setText(box0->text());
            b.array->Add(box);
        }

        // Each element one row step below the one before, read back from it.
        const double rowStep = 3.7 * TwipHeight(ItemLab(0));
        auto moveDown = [rowStep](QWidget* w, QWidget* above) {
            if (w == nullptr || above == nullptr) {
                return;
            }
            PlaceTwips(w, TwipLeft(above), TwipTop(above) + rowStep, TwipWidth(w), TwipHeight(w));
        };
        moveDown(ItemLab(k), ItemLab(k - 1));
        moveDown(ThumbImage(k), ThumbImage(k - 1));
        moveDown(ProgressBar(k), ProgressBar(k - 1));
        for (ControlArray<QLabel>* a : {&LLG, &LLR, &FG, &FR, &CCG, &CCR, &CC1mG, &CC1mR}) {
            moveDown((*a)(k), (*a)(k - 1));
        }
        SetRowLabel(k, QStringLiteral("Disk %1").arg(k));
    }
}

void TestFrm::ShowDiskRow(int16_t keepResults, int16_t row) {
    SetVisible(ItemLab(row), true);
    SetVisible(ThumbImage(row), true);
    if (row >= 0) {
        if (static_cast<size_t>(row) >= shownRows_.size()) {
            shownRows_.resize(static_cast<size_t>(row) + 1);
        }
        shownRows_[static_cast<size_t>(row)].shown = ItemLab(row) != nullptr;
    }
    if (keepResults != 0) {
        return;
    }
    for (ResultColumn c : {ResultColumn::Identity, ResultColumn::Format, ResultColumn::WriteProtect,
                           ResultColumn::Config}) {
        for (ResultBox b : {ResultBox::Green, ResultBox::Red}) {
            SetBox(row, c, b, false, QString());
        }
        if (ctx_.Settings.VerdictColours) {
            if (QLabel* box = BoxLabel(row, c, ResultBox::Red)) {
                FillBackground(box, kLightRed); // the last run's passing row had lost it
            }
        }
    }
    if (row >= 0 && static_cast<size_t>(row) < shownRows_.size() &&
        shownRows_[static_cast<size_t>(row)].removed) {
        shownRows_[static_cast<size_t>(row)].removed = false;
        SetCaption(ItemLab(row), shownRows_[static_cast<size_t>(row)].label);
    }
}

QLabel* TestFrm::BoxLabel(int row, ResultColumn column, ResultBox box) {
    const bool green = box == ResultBox::Green;
    switch (column) {
    case ResultColumn::Format:
        return green ? FG(row) : FR(row);
    case ResultColumn::Identity:
        return green ? LLG(row) : LLR(row);
    case ResultColumn::Config:
        return green ? CC1mG(row) : CC1mR(row);
    case ResultColumn::WriteProtect:
        return green ? CCG(row) : CCR(row);
    }
    return nullptr;
}

void TestFrm::SetBox(int row, ResultColumn column, ResultBox box, std::optional<bool> visible,
                     const std::optional<QString>& text) {
    QLabel* label = BoxLabel(row, column, box);
    if (label == nullptr) {
        return;
    }
    if (static_cast<size_t>(row) >= shownRows_.size()) {
        shownRows_.resize(static_cast<size_t>(row) + 1);
    }
    ItemState& item =
        shownRows_[static_cast<size_t>(row)].boxes[static_cast<size_t>(ItemOfColumn(column))];
    BoxState& kept = box == ResultBox::Green ? item.upper : item.lower;
    if (text) {
        kept.text = *text;
        SetCaption(label, *text);
    }
    if (visible) {
        kept.shown = *visible;
        SetVisible(label, *visible);
    }
}

TestFrm::RowShown TestFrm::Shown(int row) const {
    if (row < 0 || static_cast<size_t>(row) >= shownRows_.size()) {
        return {};
    }
    return shownRows_[static_cast<size_t>(row)];
}

bool TestFrm::KeepingReport() const {
    return ctx_.Settings.KeepReport && reportStands_;
}

bool TestFrm::RowKept(int row) const {
    if (!KeepingReport()) {
        return false;
    }
    return std::find(runRows_.begin(), runRows_.end(), row) != runRows_.end();
}

void TestFrm::MarkRow(int row) {
    if (!HasRow(row)) {
        return;
    }
    const RowShown& shown = shownRows_[static_cast<size_t>(row)];
    QString caption = shown.label;
    QString why;
    const auto slot = std::find(runRows_.begin(), runRows_.end(), row);
    const DriveState* drive =
        slot != runRows_.end() ? state_->Drive(static_cast<int>(slot - runRows_.begin())) : nullptr;
    if (drive != nullptr && drive->pulled) {
        caption += QCoreApplication::translate("TestFrm", " pulled");
        why = TrStation(kPulledReason) +
              QCoreApplication::translate("TestFrm", " (status %1)").arg(drive->status);
    } else if (shown.removed) {
        caption += QCoreApplication::translate("TestFrm", " removed");
        why = QCoreApplication::translate("TestFrm",
                                          "Removed after the run; its result stands until Clear");
    }
    SetCaption(ItemLab(row), caption);
    if (!why.isEmpty()) {
        for (QLabel* w :
             {static_cast<QLabel*>(ItemLab(row)), static_cast<QLabel*>(ThumbImage(row))}) {
            if (w != nullptr) {
                w->setToolTip(why);
            }
        }
    }
}

void TestFrm::SetRowLabel(int row, const QString& label) {
    if (row < 0 || ItemLab(row) == nullptr) {
        return;
    }
    if (static_cast<size_t>(row) >= shownRows_.size()) {
        shownRows_.resize(static_cast<size_t>(row) + 1);
    }
    shownRows_[static_cast<size_t>(row)].label = label;
    SetCaption(ItemLab(row), label);
}

void TestFrm::ShowResultPair(QWidget* green, QWidget* red) {
    SetVisible(green, true);
    SetVisible(red, true);
}

void TestFrm::SetPicture(int row, int picture) {
    ClickLabel* thumb = ThumbImage(row);
    if (thumb == nullptr) {
        return;
    }
    thumb->setProperty("picture", picture);
    thumb->setPixmap(DrivePicture(picture));
}

int TestFrm::PictureOf(int row) const {
    const ClickLabel* thumb = ThumbImage(row);
    return thumb != nullptr ? thumb->property("picture").toInt() : 0;
}

// The format procedure and the media test count in slots; the bar is the
// slot's row's.
QProgressBar* TestFrm::SlotBar(int record) {
    return WindowRunView(this).Bar(record);
}

std::optional<double> TestFrm::ProgressMax(int slot) {
    const QProgressBar* bar = SlotBar(slot);
    if (bar == nullptr) {
        return std::nullopt;
    }
    return bar->maximum();
}

void TestFrm::AdvanceProgress(int slot, int step) {
    QProgressBar* bar = SlotBar(slot);
    if (bar == nullptr) {
        return;
    }
    // A value beyond the bar's range is refused, and the statement skipped.
    const long long value = static_cast<long long>(bar->value()) + step;
    if (value < bar->minimum() || value > bar->maximum()) {
        return;
    }
    bar->setValue(static_cast<int>(value));
}

void TestFrm::ShowMediaShare(int slot, double share) {
    if (QProgressBar* bar = SlotBar(slot)) {
        bar->setValue(bar->minimum() +
                      static_cast<int>(std::lround(std::clamp(share, 0.0, 1.0) *
                                                   (bar->maximum() - bar->minimum()))));
    }
}

void TestFrm::MediaProgress(int row, double share) {
    ShowMediaShare(row, share);
    // A sequential run tests on the window's thread: let it breathe here.
    if (deps_.pumpEvents) {
        deps_.pumpEvents();
    }
}

} // namespace ufd
