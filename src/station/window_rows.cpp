#include "station/window_rows.h"

#include "station/station_form.h"
#include "station/twips.h"

namespace ufd {

namespace {

void MoveBy(QWidget* w, double dx, double dy) {
    if (w != nullptr) {
        PlaceTwips(w, TwipLeft(w) + dx, TwipTop(w) + dy, TwipWidth(w), TwipHeight(w));
    }
}

void GrowBy(QWidget* w, double dw, double dh) {
    if (w != nullptr) {
        PlaceTwips(w, TwipLeft(w), TwipTop(w), TwipWidth(w) + dw, TwipHeight(w) + dh);
    }
}

// A copy of a column header over the second column.
void CopyHeader(QLabel* header, double dx) {
    auto* copy = new QLabel(header->text(), header->parentWidget());
    copy->setObjectName(header->objectName() + QStringLiteral("_2"));
    copy->setFont(header->font());
    copy->setPalette(header->palette());
    copy->setAutoFillBackground(header->autoFillBackground());
    copy->setAlignment(header->alignment());
    PlaceTwips(copy, TwipLeft(header) + dx, TwipTop(header), TwipWidth(header), TwipHeight(header));
}

} // namespace

void WidenForRows(TestFrm& frm, const RowLayout& layout) {
    const double dx = layout.columnStep;
    const double dy = layout.extraHeight;
    if (dx == 0 && dy == 0) {
        return;
    }
    GrowBy(frm.ScrollArea, dx, dy);
    for (QWidget* w :
         {static_cast<QWidget*>(frm.Image1), static_cast<QWidget*>(frm.Frame1),
          static_cast<QWidget*>(frm.TextDiskLab), static_cast<QWidget*>(frm.DiskLabContent),
          static_cast<QWidget*>(frm.GoCmd), static_cast<QWidget*>(frm.ClearCmd),
          static_cast<QWidget*>(frm.LedCmd), static_cast<QWidget*>(frm.TimLab)}) {
        MoveBy(w, dx, 0);
    }
    for (QWidget* w : {frm.VidPidLab, frm.ScsiStrLab, frm.UsbStrLab}) {
        MoveBy(w, 0, dy);
    }
    // The verdict stays across the middle of the first column's result
    // boxes, as in the design; centred over both columns it would hide the
    // picture of a drive in the second one.
    MoveBy(frm.PassLab, 0, dy / 2);
    if (dx != 0) {
        for (QLabel* header : {frm.Function1Lab, frm.Function2Lab, frm.function3Lab, frm.Label1}) {
            CopyHeader(header, dx);
        }
        for (int i = 0; i < frm.VLine1.Count(); ++i) {
            QFrame* line = frm.VLine1(i);
            auto* copy = new QFrame(frm.ScrollArea);
            copy->setObjectName(line->objectName() + QStringLiteral("_2"));
            copy->setFrameShape(line->frameShape());
            copy->setFrameShadow(line->frameShadow());
            PlaceTwips(copy, TwipLeft(line) + dx, TwipTop(line), TwipWidth(line), TwipHeight(line));
        }
    }
    const QSize size = frm.size();
    frm.setFixedSize(size.width() + TwipsToPixels(dx), size.height() + TwipsToPixels(dy));
}

void PlaceRowColumns(TestFrm& frm, const RowLayout& layout) {
    if (layout.columns < 2) {
        return;
    }
    // Each row of the second column level with its counterpart in the
    // first; the hidden row past the last stays where it was built.
    for (int k = layout.perColumn; k < frm.ItemLab.Count(); ++k) {
        const int level = k - layout.perColumn;
        if (layout.ColumnOf(k) == 0 || level >= layout.perColumn) {
            continue;
        }
        auto place = [&layout](QWidget* w, QWidget* ref) {
            if (w != nullptr && ref != nullptr) {
                PlaceTwips(w, TwipLeft(ref) + layout.columnStep, TwipTop(ref), TwipWidth(w),
                           TwipHeight(w));
            }
        };
        place(frm.ItemLab(k), frm.ItemLab(level));
        place(frm.ThumbImage(k), frm.ThumbImage(level));
        place(frm.ProgressBar(k), frm.ProgressBar(level));
        for (ControlArray<QLabel>* a :
             {&frm.LLG, &frm.LLR, &frm.FG, &frm.FR, &frm.CCG, &frm.CCR, &frm.CC1mG, &frm.CC1mR}) {
            place((*a)(k), (*a)(level));
        }
    }
}

} // namespace ufd
