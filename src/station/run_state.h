// The run as a plain value, one entry per slot record: which drive it was,
// what each item left in its two boxes, its status and time, the media
// figures, the first item that failed and whether the drive was pulled
// during the run. The run writes it as it goes (the parallel run from the
// window's thread, in slot order); the window, the batch table, --json, the
// records, the exit code, the LED and the beeps read it. No widget in here.
#pragma once

#include "context/disk_slot.h"
#include "device/media_words.h"
#include "station/run_view.h"

#include <QString>

#include <array>
#include <optional>
#include <vector>

namespace ufd {

// The result columns in record order (format, manufacture, check config,
// check WP): the index of an item's record.
inline constexpr int kStateItems = 4;
int ItemOfColumn(ResultColumn column);

struct BoxState {
    bool shown = false;
    QString text;
    bool operator==(const BoxState&) const = default;
};

struct ItemState {
    bool ticked = false; // its device procedure ran on this slot
    BoxState upper, lower;
    int status = 0; // the slot's Status after the item
    qint64 ms = 0;
    bool failed = false;
    bool operator==(const ItemState&) const = default;
};

struct DriveState {
    int driveIndex = -1; // as the library names it; -1: unknown
    int probeIndex = -1; // where discovery found it
    QString socket;      // the socket's row label ([Window] RowPerSocket); empty without
    QString serial;
    QString port;
    int picture = 0;
    std::array<ItemState, kStateItems> items{};
    MediaFindings media;
    int status = 0;     // the slot's Status at the end of the run
    int firstItem = -1; // the first item that failed it; -1: none
    int firstStatus = 0;
    bool pulled = false; // gone from its socket during the run

    bool Failed() const { return status != 0; }
    bool operator==(const DriveState& o) const;
};

// Marked for translation; the window shows them through TrStation.
inline const QString kAllPass = QStringLiteral(QT_TRANSLATE_NOOP("TestFrm", "! ALL PASS !"));
inline const QString kFailed = QStringLiteral(QT_TRANSLATE_NOOP("TestFrm", "! FAILED !"));

// The reason of a drive pulled during the run, beside its status.
inline const QString kPulledReason =
    QStringLiteral(QT_TRANSLATE_NOOP("TestFrm", "pulled during the run"));

struct RunState {
    std::vector<DriveState> drives; // slot records 0..DiskCount-1 of the run
    QString startedUtc, endedUtc;   // ISO 8601 with milliseconds
    bool running = false;
    bool finished = false; // the verdict was reached
    bool failed = false;   // some item failed a slot: the verdict

    // A new run over count slots: every entry empty.
    void Begin(int count, const QString& startedUtc);
    DriveState* Drive(int slot);
    const DriveState* Drive(int slot) const;

    // What the run tells its view, kept.
    void ShowPair(int slot, ResultColumn column);
    void HideBox(int slot, ResultColumn column, ResultBox box);
    void SetCaption(int slot, ResultColumn column, ResultBox box, const QString& text);
    void SetPicture(int slot, int picture);
    // The column's item failed the slot with this Status; the first one is the root cause.
    void ItemFailed(int slot, ResultColumn column, int status);
    // The item's device procedures ran: the slot's Status after them and their time (added up).
    void ItemRan(int slot, int item, int status, qint64 ms);

    // The verdict reached: every slot's final status and media figures.
    void Finish(const std::vector<int>& statuses, const std::vector<MediaFindings>& media,
                const QString& endedUtc);
    // The verdict's caption, empty before the run has one.
    QString Verdict() const;
    // The slots whose drives failed, in slot order.
    std::vector<int> FailedSlots() const;
};

// A failed drive's cause in a word or two, for a cell read from across the
// line: "pulled", the media test's finding ("fake: 256 MB real"), else its
// status's kind. Empty for a drive that did not fail.
// tr: the media test's finding in the window's language.
QString ShortReason(const DriveState& drive, MediaWordsTr tr = nullptr);

// A status's reason in words, with the media test's own finding beside it
// when it has one: "flash smaller than reported (fake capacity): fake: 256 MB
// real of 2.15 GB". For --batch, --json and the window's explanations.
QString ReasonWithFindings(int status, const MediaFindings& media);

// The first failure's short reason for an operator: "pulled", else the words
// the status code has.
QString FirstReason(const DriveState& drive);

} // namespace ufd
