// TestFrm, the station window: start-up and shutdown, insertion notices,
// drive discovery, the slot rows, the test run, item selection, report
// clearing and the LED flashing of failed drives, one file each
// (window_design, startup, discovery, slot_rows, start_run, item_selection,
// clearing, led_flash). Everything runs on the window's thread; other
// handlers get in only where the run waits.
#pragma once

#include "station/click_label.h"
#include "station/control_array.h"
#include "station/dependencies.h"
#include "station/item_clock.h"
#include "station/row_layout.h"
#include "station/run_state.h"
#include "station/socket_rows.h"

#include <QCheckBox>
#include <QFont>
#include <QFrame>
#include <QGroupBox>
#include <QLabel>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QString>
#include <QTimer>
#include <QWidget>

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

namespace ufd {

// Marked for translation; shown through TrStation (station_language.h).
inline const QString kWindowCaption =
    QStringLiteral(QT_TRANSLATE_NOOP("TestFrm", "UFD Manufacture Program"));
inline const QString kStartCaption = QStringLiteral(QT_TRANSLATE_NOOP("TestFrm", "Start (&S)"));
inline const QString kClearCaption = QStringLiteral(QT_TRANSLATE_NOOP("TestFrm", "Clear (&C)"));
// Two lines; the button shows the line break as one.
inline const QString kLedCaption =
    QStringLiteral(QT_TRANSLATE_NOOP("TestFrm", "Flash  LED  on\r\nDefect Device"));

inline constexpr int kItemFormat = 0;
inline constexpr int kItemManufacture = 1;
inline constexpr int kItem1M = 2;
inline constexpr int kItemCheckConfig = 3;
inline constexpr int kItemCheckWP = 4;
inline constexpr int kItemCount = 5;

// The face of every caption when the machine has it, else the platform's sans.
inline const QString kCaptionFamily = QStringLiteral("Liberation Sans Narrow");
QFont SansFont(double points, bool bold = false);

inline constexpr int kLedPasses = 40;

// How start-up ended; on failure the program must end (exit code 2).
struct StartupResult {
    bool ok = true;
    QString reason;
};

class TestFrm : public QWidget, public ProgressView {
public:
    TestFrm(StationContext& ctx, StationDependencies deps, QWidget* parent = nullptr);
    ~TestFrm() override;

    // Life cycle.
    StartupResult Form_Load();
    void Form_Unload();
    void Timer1_Timer();
    // The window procedure's part: the bytes of one notice, exactly.
    void WndProc_CopyData(const QByteArray& bytes);

    // Discovery.
    void PollingDiskStatus(int16_t keepOpen);

    // Event handlers.
    void GoCmd_Click();
    void Check1_Click(int16_t index);
    void ClearCmd_Click();
    void LedCmd_Click();
    void ItemLab_Click(int16_t index);
    void ThumbImage_Click(int16_t index);

    // Slot rows.
    void BuildDiskRows(int16_t rowCount);
    void ShowDiskRow(int16_t keepResults, int16_t row);
    static void ShowResultPair(QWidget* green, QWidget* red);
    void SetPicture(int row, int picture);

    // ProgressView for the format procedure.
    std::optional<double> ProgressMax(int row) override;
    void AdvanceProgress(int row, int step) override;
    void MediaProgress(int row, double share) override;
    void ShowMediaShare(int row, double share) override;

    // The picture number a row shows (0 when the row does not exist).
    int PictureOf(int row) const;

    // What a row shows, kept as values beside its widgets: shown or not,
    // its label and its result boxes. The batch table reads this.
    struct RowShown {
        bool shown = false;
        QString label;
        std::array<ItemState, kStateItems> boxes{};
        bool removed = false; // [Window] KeepReport: its drive left the socket after the run
    };
    RowShown Shown(int row) const;
    // The row that showed slot s of the last run; -1: none.
    int RunRowOfSlot(int slot) const {
        return slot >= 0 && slot < static_cast<int>(runRows_.size())
                   ? runRows_[static_cast<size_t>(slot)]
                   : -1;
    }
    // Whether the row exists at all (built, shown or not).
    bool HasRow(int row) const { return row >= 0 && row < static_cast<int>(shownRows_.size()); }
    // The verdict's caption while it is shown; empty while it is not.
    QString VerdictShown() const { return verdictShown_ ? State().Verdict() : QString(); }
    // A result box of a row: shown or hidden, and its caption; nullopt leaves either as it is.
    void SetBox(int row, ResultColumn column, ResultBox box, std::optional<bool> visible,
                const std::optional<QString>& text);
    QLabel* BoxLabel(int row, ResultColumn column, ResultBox box);
    // The last run, as the run wrote it; every output reads it.
    const RunState& State() const { return *state_; }
    // [Window] KeepReport and a report that stands: rediscovery keeps the rows.
    bool KeepingReport() const;
    // A row that shows a standing report ([Window] KeepReport).
    bool RowKept(int row) const;
    // Where slot record i is shown: its own row, or with [Window]
    // RowPerSocket its socket's row (-1: none); and back.
    int RowOfSlot(int record) const { return sockets_.RowOfSlot(record); }
    int SlotOfRow(int row) const { return sockets_.SlotOfRow(row); }
    // The drive index discovery found in slot record i; -1 when none.
    int ProbeIndexOfSlot(int record) const;
    // The socket label of slot record i for its record; empty without sockets.
    QString SocketOfSlot(int record) const;
    // A click on a failed row: its failure in words on the status line;
    // false when the row shows no failed drive.
    bool ExplainRow(int row);
    // Found drives without a row and the setting that shows them; empty when none.
    QString NoRowWarning() const { return noRowWarning_; }
    bool Closing() const { return closing_; }
    StationContext& Context() { return ctx_; }

    // Controls, by the window design's names.
    ControlArray<ClickLabel> ThumbImage;
    ControlArray<ClickLabel> ItemLab;
    ControlArray<QProgressBar> ProgressBar;
    ControlArray<QLabel> FG, FR, LLG, LLR, CC1mG, CC1mR, CCG, CCR;
    ControlArray<QCheckBox> Check1;
    ControlArray<QFrame> VLine1;
    ControlArray<QFrame> HLine1; // elements 5..15; 0..4 have no control
    QFrame* ScrollArea = nullptr;
    QLabel* Function1Lab = nullptr;
    QLabel* Function2Lab = nullptr;
    QLabel* function3Lab = nullptr;
    QLabel* Label1 = nullptr;
    QLabel* PassLab = nullptr;
    QLabel* Image1 = nullptr;
    QGroupBox* Frame1 = nullptr;
    QCheckBox* Ch = nullptr;
    QLabel* TextDiskLab = nullptr;
    QLabel* DiskLabContent = nullptr;
    QPushButton* GoCmd = nullptr;
    QPushButton* ClearCmd = nullptr;
    QPushButton* LedCmd = nullptr;
    QLabel* TimLab = nullptr;
    QLabel* VidPidLab = nullptr;
    QLabel* ScsiStrLab = nullptr;
    QLabel* UsbStrLab = nullptr;
    QTimer* Timer1 = nullptr;

    // Start enabled, unless the run may not start yet: then the line says why
    // ([Records] RequireOperatorLot). Empty: nothing holds it back.
    void EnableStart();
    void RefuseStart(const QString& why);

    // A warning for the operator: on the status line (shown from the first
    // one on) and on stderr.
    void SayOnStatusLine(const QString& text);
    // The same without stderr: what the window alone shows.
    void ShowOnStatusLine(const QString& text);
    QLabel* StatusLab = nullptr;

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    bool InitStation(StartupResult& result);
    void WatchMonitor();
    void BuildDesign();
    void BuildRowZero();
    void FlashSlot(int recordIndex);
    // After discovery: which drive each row shows, the rows' labels and
    // tooltips, empty sockets emptied, and the no-row warning.
    void ShowSockets(const std::vector<int>& driveIndexes);
    void SetRowLabel(int row, const QString& label);
    // The row's caption with its marks ([Window] KeepReport): removed, pulled.
    void MarkRow(int row);
    QProgressBar* SlotBar(int record);
    // The run's end: each slot's final status and media figures, and which
    // drives left their sockets during the run.
    void FinishState();
    void BeginState();
    // [Window] VerdictColours at the end of a run: passing rows without red,
    // failed cells with their short reason, the verdict across the window.
    void ShowVerdictColours();

    StationContext& ctx_;
    StationDependencies deps_;
    RowLayout rows_;
    SocketRows sockets_;
    std::vector<QString> occupants_; // per row: who its socket held at the last discovery
    std::vector<QString> ports_;     // per row: the port last seen in its socket
    std::vector<RowShown> shownRows_;
    std::vector<int> probeIndexes_; // per slot record: its drive index at the last discovery
    // Shared with the run, which may outlive the window by a few statements.
    std::shared_ptr<RunState> state_ = std::make_shared<RunState>();
    ItemClock clock_;
    std::vector<int> runRows_; // per slot of the last run: the row that showed it
    bool verdictShown_ = false;
    QString startRefused_;
    bool reportStands_ = false; // a finished run's report, not yet cleared
    QString noRowWarning_;
    std::unique_ptr<QObject> noticeReceiver_;
    std::unique_ptr<QObject> monitorKeeper_;
    bool closing_ = false;
};

// True while the window behind self still exists and is not closing: the
// run and the LED loop check it after every point where events ran.
bool WindowAlive(const QPointer<TestFrm>& self);

} // namespace ufd
