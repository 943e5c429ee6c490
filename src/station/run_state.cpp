#include "station/run_state.h"

#include "device/media_words.h"
#include "results/status_reasons.h"

namespace ufd {

int ItemOfColumn(ResultColumn column) {
    switch (column) {
    case ResultColumn::Format:
        return 0;
    case ResultColumn::Identity:
        return 1;
    case ResultColumn::Config:
        return 2;
    case ResultColumn::WriteProtect:
        return 3;
    }
    return 0;
}

bool DriveState::operator==(const DriveState& o) const {
    const MediaFindings& a = media;
    const MediaFindings& b = o.media;
    const bool sameMedia = a.Ran == b.Ran && a.RealSectors == b.RealSectors &&
                           a.WriteMBps == b.WriteMBps && a.ReadMBps == b.ReadMBps &&
                           a.SectorsTested == b.SectorsTested && a.SectorsFailed == b.SectorsFailed;
    return sameMedia && driveIndex == o.driveIndex && probeIndex == o.probeIndex &&
           socket == o.socket && serial == o.serial && port == o.port && picture == o.picture &&
           items == o.items && status == o.status && firstItem == o.firstItem &&
           firstStatus == o.firstStatus && pulled == o.pulled;
}

void RunState::Begin(int count, const QString& started) {
    drives.assign(static_cast<size_t>(std::max(count, 0)), DriveState{});
    startedUtc = started;
    endedUtc.clear();
    running = true;
    finished = false;
    failed = false;
}

DriveState* RunState::Drive(int slot) {
    return slot >= 0 && slot < static_cast<int>(drives.size()) ? &drives[static_cast<size_t>(slot)]
                                                               : nullptr;
}

const DriveState* RunState::Drive(int slot) const {
    return const_cast<RunState*>(this)->Drive(slot);
}

namespace {

BoxState* Box(RunState& s, int slot, ResultColumn column, ResultBox box) {
    DriveState* d = s.Drive(slot);
    if (d == nullptr) {
        return nullptr;
    }
    ItemState& item = d->items[static_cast<size_t>(ItemOfColumn(column))];
    return box == ResultBox::Green ? &item.upper : &item.lower;
}

} // namespace

void RunState::ShowPair(int slot, ResultColumn column) {
    for (ResultBox b : {ResultBox::Green, ResultBox::Red}) {
        if (BoxState* box = Box(*this, slot, column, b)) {
            box->shown = true;
        }
    }
}

void RunState::HideBox(int slot, ResultColumn column, ResultBox box) {
    if (BoxState* b = Box(*this, slot, column, box)) {
        b->shown = false;
    }
}

void RunState::SetCaption(int slot, ResultColumn column, ResultBox box, const QString& text) {
    if (BoxState* b = Box(*this, slot, column, box)) {
        b->text = text;
    }
}

void RunState::SetPicture(int slot, int picture) {
    if (DriveState* d = Drive(slot)) {
        d->picture = picture;
    }
}

void RunState::ItemFailed(int slot, ResultColumn column, int status) {
    DriveState* d = Drive(slot);
    if (d == nullptr) {
        return;
    }
    const int item = ItemOfColumn(column);
    d->items[static_cast<size_t>(item)].failed = true;
    failed = true;
    if (d->firstItem < 0) {
        d->firstItem = item;
        d->firstStatus = status;
    }
}

void RunState::ItemRan(int slot, int item, int status, qint64 ms) {
    DriveState* d = Drive(slot);
    if (d == nullptr || item < 0 || item >= kStateItems) {
        return;
    }
    ItemState& i = d->items[static_cast<size_t>(item)];
    i.ticked = true;
    i.status = status;
    i.ms += ms;
}

void RunState::Finish(const std::vector<int>& statuses, const std::vector<MediaFindings>& media,
                      const QString& ended) {
    for (size_t i = 0; i < drives.size(); ++i) {
        DriveState& d = drives[i];
        d.status = i < statuses.size() ? statuses[i] : 0;
        d.media = i < media.size() ? media[i] : MediaFindings{};
    }
    endedUtc = ended;
    running = false;
    finished = true;
}

QString RunState::Verdict() const {
    if (!finished) {
        return {};
    }
    return failed ? kFailed : kAllPass;
}

std::vector<int> RunState::FailedSlots() const {
    std::vector<int> out;
    for (size_t i = 0; i < drives.size(); ++i) {
        if (drives[i].Failed()) {
            out.push_back(static_cast<int>(i));
        }
    }
    return out;
}

QString ShortReason(const DriveState& drive, MediaWordsTr tr) {
    if (drive.pulled) {
        return QStringLiteral(QT_TRANSLATE_NOOP("TestFrm", "pulled"));
    }
    const int status = drive.firstItem >= 0 ? drive.firstStatus : drive.status;
    if (drive.firstItem < 0 && status == 0) {
        return {};
    }
    if (const QString words = MediaFailureWords(status, drive.media, tr); !words.isEmpty()) {
        return words;
    }
    switch (status) {
    case 0:
        return drive.firstItem == 3 ? QStringLiteral(QT_TRANSLATE_NOOP("TestFrm", "writable"))
                                    : QStringLiteral(QT_TRANSLATE_NOOP("TestFrm", "failed"));
    case 0xE0:
        return QStringLiteral(QT_TRANSLATE_NOOP("TestFrm", "fake capacity"));
    case 0xE1:
        return QStringLiteral(QT_TRANSLATE_NOOP("TestFrm", "bad sectors"));
    case 0xE2:
        return QStringLiteral(QT_TRANSLATE_NOOP("TestFrm", "slow write"));
    case 0xE3:
        return QStringLiteral(QT_TRANSLATE_NOOP("TestFrm", "slow read"));
    case 0xF0:
    case 0xF1:
    case 0xF2:
    case 0xF3:
    case 0xFA:
    case 0xFF:
        return QStringLiteral(QT_TRANSLATE_NOOP("TestFrm", "write failed"));
    case 0xF5:
        return QStringLiteral(QT_TRANSLATE_NOOP("TestFrm", "writable"));
    case 0xFE:
        return QStringLiteral(QT_TRANSLATE_NOOP("TestFrm", "no drive"));
    case 0x81:
    case 0x82:
    case 0xF4:
    case 0xF6:
    case 0xF7:
    case 0xF9:
        return QStringLiteral(QT_TRANSLATE_NOOP("TestFrm", "identity"));
    default:
        break;
    }
    return status >= 0x81 && status <= 0x82
               ? QStringLiteral(QT_TRANSLATE_NOOP("TestFrm", "config"))
               : QStringLiteral(QT_TRANSLATE_NOOP("TestFrm", "controller"));
}

QString ReasonWithFindings(int status, const MediaFindings& media) {
    const QString reason = StatusReasonText(status);
    const QString words = MediaFailureWords(status, media);
    return words.isEmpty() || words == reason ? reason : reason + QStringLiteral(": ") + words;
}

QString FirstReason(const DriveState& drive) {
    if (drive.pulled) {
        return kPulledReason;
    }
    if (drive.firstItem < 0) {
        return drive.status != 0 ? StatusReasonText(drive.status) : QString();
    }
    if (drive.firstStatus != 0) {
        return StatusReasonText(drive.firstStatus);
    }
    // An item can fail a drive without a status of its own.
    static const std::array<QString, kStateItems> words = {
        QStringLiteral("format failed"), QStringLiteral("identity not written"),
        QStringLiteral("configuration check failed"), QStringLiteral("not write protected")};
    return words[static_cast<size_t>(drive.firstItem)];
}

} // namespace ufd
