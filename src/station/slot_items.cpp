#include "station/slot_items.h"

#include "format/volume.h"
#include "station/drive_pictures.h"

#include <cmath>
#include <optional>

namespace ufd {

QString StatusText(int16_t status) {
    if (status == 255) {
        return QStringLiteral("Read or Write failed");
    }
    if (status == 254) {
        return QStringLiteral("Error Status = ") + QStringLiteral("Missing Handle");
    }
    return QStringLiteral("Error Status = ") + HexPad(status, 2, false);
}

namespace {

bool FormatOnDrive(const SlotWork& work, int row) {
    StationContext& ctx = work.ctx;
    RunView& view = work.view;
    DiskSlot& slot = ctx.slots.DiskSlots[static_cast<size_t>(row)];
    const auto n = static_cast<int16_t>(row + 1);
    slot.Status = 0;
    if (work.wait) {
        work.wait(0.1F);
    }
    if (view.Gone()) {
        return false;
    }
    view.StartProgress(row);
    slot.ControllerCode = 0;
    if (work.dev.ScanChips) {
        work.dev.ScanChips(ctx, n);
    }
    if (view.Gone()) {
        return false;
    }
    if (slot.Status == 0 && work.dev.LowLevelFormat) {
        work.dev.LowLevelFormat(ctx, n);
        if (view.Gone()) {
            return false;
        }
    }
    return true;
}

SlotOutcome ShowFormat(RunView& view, const DiskSlot& slot, int row, CarriedCaptions& carried) {
    view.EndProgress(row);
    view.ShowResultPair(ResultColumn::Format, row);
    SlotOutcome outcome = SlotOutcome::Ok;
    if (slot.Status != 0) {
        view.SetPicture(row, kPictureFailed);
        carried.mark = QStringLiteral("X");
        carried.detail = StatusText(slot.Status);
        outcome = SlotOutcome::Failed;
    } else {
        carried.mark = QStringLiteral("V");
        // Halves to even, as the size has always been rounded; a drive
        // above 32,767 MB shows its true size instead of overflowing.
        const double mb = std::nearbyint(slot.LastSector / 2000.0);
        if (std::isfinite(mb)) {
            carried.detail = QString::number(slot.ChipCount) + QStringLiteral(" Chip(s)   ") +
                             QString::number(static_cast<qint64>(mb)) + QStringLiteral(" MB");
        }
    }
    view.SetResultCaption(ResultColumn::Format, ResultBox::Green, row, carried.mark);
    view.SetResultCaption(ResultColumn::Format, ResultBox::Red, row, carried.detail);
    if (outcome == SlotOutcome::Failed) {
        view.ExplainFailure(ResultColumn::Format, row);
    }
    return outcome;
}

std::optional<int16_t> WriteIdentityOnDrive(const SlotWork& work, int row) {
    const int16_t r = work.dev.WriteIdentity
                          ? work.dev.WriteIdentity(work.ctx, static_cast<int16_t>(row + 1), kTrue)
                          : 0;
    if (work.view.Gone()) {
        return std::nullopt;
    }
    return r;
}

SlotOutcome ShowManufacture(RunView& view, int row, int16_t r, CarriedCaptions& carried) {
    SlotOutcome outcome = SlotOutcome::Ok;
    if (r == 1) {
        carried.stringMark = QStringLiteral("V");
        carried.writeMark = QStringLiteral("V");
    } else if (r == 2) {
        carried.stringMark = QStringLiteral("X");
        carried.writeMark = QStringLiteral("X");
        view.SetPicture(row, kPictureFailed);
        outcome = SlotOutcome::Failed;
    } else if (r == 0) {
        carried.stringMark = QStringLiteral("V");
        carried.writeMark = QStringLiteral("X");
        view.SetPicture(row, kPictureFailed);
        outcome = SlotOutcome::Failed;
    }
    view.SetResultCaption(ResultColumn::Identity, ResultBox::Green, row,
                          QStringLiteral("String = ") + carried.stringMark);
    view.SetResultCaption(ResultColumn::Identity, ResultBox::Red, row,
                          QStringLiteral("Write = ") + carried.writeMark);
    if (outcome == SlotOutcome::Failed) {
        view.ExplainFailure(ResultColumn::Identity, row);
    }
    return outcome;
}

// One of the device's checks on drive row + 1; nullopt when the window went
// away meanwhile (its answer has nowhere to go).
std::optional<int16_t> CheckOnDrive(const SlotWork& work, int row,
                                    const std::function<int16_t(StationContext&, int16_t)>& check) {
    const int16_t r = check ? check(work.ctx, static_cast<int16_t>(row + 1)) : 0;
    if (work.view.Gone()) {
        return std::nullopt;
    }
    return r;
}

SlotOutcome ShowCheckConfig(RunView& view, const DiskSlot& slot, int row, int16_t r,
                            CarriedCaptions& carried) {
    SlotOutcome outcome = SlotOutcome::Ok;
    if (r == 2) {
        carried.mark = QStringLiteral("V");
        carried.detail.clear();
    } else {
        outcome = SlotOutcome::Failed;
        view.SetPicture(row, kPictureFailed);
        carried.mark = QStringLiteral("X");
        carried.detail = QStringLiteral("Error Status = ") + HexPad(slot.Status, 2, false);
    }
    view.SetResultCaption(ResultColumn::Config, ResultBox::Green, row, carried.mark);
    view.SetResultCaption(ResultColumn::Config, ResultBox::Red, row, carried.detail);
    if (outcome == SlotOutcome::Failed) {
        view.ExplainFailure(ResultColumn::Config, row);
    }
    return outcome;
}

SlotOutcome ShowWriteProtect(RunView& view, int row, int16_t r) {
    if (r == 0) {
        view.HideResultBox(ResultColumn::WriteProtect, ResultBox::Green, row);
        view.SetResultCaption(ResultColumn::WriteProtect, ResultBox::Red, row,
                              QStringLiteral("Not Write Protected"));
        view.SetPicture(row, kPictureFailed);
        view.ExplainFailure(ResultColumn::WriteProtect, row);
        return SlotOutcome::Failed;
    }
    view.HideResultBox(ResultColumn::WriteProtect, ResultBox::Red, row);
    view.SetResultCaption(ResultColumn::WriteProtect, ResultBox::Green, row,
                          QStringLiteral("Write Protected"));
    return SlotOutcome::Ok;
}

} // namespace

std::optional<ResultColumn> PairShownFirst(RunItem item) {
    switch (item) {
    case RunItem::Format:
        break;
    case RunItem::Manufacture:
        return ResultColumn::Identity;
    case RunItem::CheckConfig:
        return ResultColumn::Config;
    case RunItem::CheckWriteProtect:
        return ResultColumn::WriteProtect;
    }
    return std::nullopt;
}

std::optional<int16_t> ItemOnDrive(RunItem item, const SlotWork& work, int row) {
    switch (item) {
    case RunItem::Format:
        return FormatOnDrive(work, row) ? std::optional<int16_t>(0) : std::nullopt;
    case RunItem::Manufacture:
        return WriteIdentityOnDrive(work, row);
    case RunItem::CheckConfig:
        return CheckOnDrive(work, row, work.dev.CheckIdentity);
    case RunItem::CheckWriteProtect:
        return CheckOnDrive(work, row, work.dev.CheckWriteProtect);
    }
    return std::nullopt;
}

SlotOutcome ShowItem(RunItem item, RunView& view, const DiskSlot& slot, int row, int16_t answer,
                     CarriedCaptions& carried) {
    switch (item) {
    case RunItem::Format:
        return ShowFormat(view, slot, row, carried);
    case RunItem::Manufacture:
        return ShowManufacture(view, row, answer, carried);
    case RunItem::CheckConfig:
        return ShowCheckConfig(view, slot, row, answer, carried);
    case RunItem::CheckWriteProtect:
        return ShowWriteProtect(view, row, answer);
    }
    return SlotOutcome::Ok;
}

SlotOutcome ItemSlot(RunItem item, const SlotWork& work, int row, CarriedCaptions& carried) {
    if (const auto column = PairShownFirst(item)) {
        work.view.ShowResultPair(*column, row);
    }
    const auto answer = ItemOnDrive(item, work, row);
    return answer ? ShowItem(item, work.view, work.ctx.slots.DiskSlots[static_cast<size_t>(row)],
                             row, *answer, carried)
                  : SlotOutcome::Gone;
}

void Check1MSlot(const SlotWork& work, int row) {
    work.view.ShowResultPair(ResultColumn::Config, row);
}

} // namespace ufd
