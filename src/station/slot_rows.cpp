// The slot rows: copies of row 0 one row step apart, their result boxes,
// pictures and progress bars.
#include "station/test_frm.h"

#include "station/drive_pictures.h"
#include "station/twips.h"
#include "station/widget_helpers.h"

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
        SetCaption(ItemLab(k), QStringLiteral("Disk %1").arg(k));
    }
}

void TestFrm::ShowDiskRow(int16_t keepResults, int16_t row) {
    SetVisible(ItemLab(row), true);
    SetVisible(ThumbImage(row), true);
    if (keepResults != 0) {
        return;
    }
    SetVisible(LLG(row), false);
    SetVisible(LLR(row), false);
    SetCaption(LLG(row), QString());
    SetCaption(LLR(row), QString());
    SetVisible(FG(row), false);
    SetCaption(FG(row), QString());
    SetVisible(FR(row), false);
    SetCaption(FR(row), QString());
    SetVisible(CCG(row), false);
    SetVisible(CCR(row), false);
    SetCaption(CCG(row), QString());
    SetCaption(CCR(row), QString());
    SetCaption(CC1mG(row), QString());
    SetCaption(CC1mR(row), QString());
    SetVisible(CC1mG(row), false);
    SetVisible(CC1mR(row), false);
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

// The format procedure counts in slots; the bar is the slot's row's.
std::optional<double> TestFrm::ProgressMax(int row) {
    const QProgressBar* bar = ProgressBar(RowOfSlot(row));
    if (bar == nullptr) {
        return std::nullopt;
    }
    return bar->maximum();
}

void TestFrm::AdvanceProgress(int row, int step) {
    QProgressBar* bar = ProgressBar(RowOfSlot(row));
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

void TestFrm::ShowMediaShare(int row, double share) {
    if (QProgressBar* bar = ProgressBar(row)) {
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
