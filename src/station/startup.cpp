// Start-up and shutdown of the window, and the notices that arrive.
#include "station/station_form.h"

#include "config/ansi.h"
#include "config/program_directory.h"
#include "platform/message_box.h"
#include "station/notice_receiver.h"
#include "station/station_language.h"
#include "station/widget_helpers.h"
#include "station/window_rows.h"

#include <QCloseEvent>
#include <QDebug>

namespace ufd {

StartupResult TestFrm::Form_Load() {
    StartupResult result;
    // The window procedure's role: notices arrive from here on, also during
    // the message boxes below.
    if (!deps_.noticeChannel.isEmpty()) {
        QPointer<TestFrm> self(this);
        NoticeListener listener = ListenForNotices(
            deps_.noticeChannel,
            [self](const QByteArray& bytes) {
                if (!self.isNull()) {
                    self->WndProc_CopyData(bytes);
                }
            },
            [self](const QString& text) {
                if (!self.isNull()) {
                    self->SayOnStatusLine(text);
                }
            });
        if (!listener.refusal.isEmpty()) {
            // Replies and notices would pass through a directory another
            // user controls: no run is trustworthy.
            ShowMessageBox(listener.refusal, kStyleStop, TrStation(kWindowCaption));
            result.ok = false;
            result.reason = listener.refusal;
            return result;
        }
        if (listener.taken) {
            // Two stations on one channel would share one monitor's notices
            // and release each other's handles; the running one stays as is.
            const QString text =
                QCoreApplication::translate(
                    "TestFrm",
                    "Another station is already running on the notice channel \"%1\". Close it "
                    "first, or start this one with its own channel: set "
                    "UFD_NOTICE_CHANNEL to another name.")
                    .arg(deps_.noticeChannel);
            ShowMessageBox(text, kStyleStop, TrStation(kWindowCaption), this);
            result.ok = false;
            result.reason = text;
            return result;
        }
        if (!listener.receiver) {
            // Not fatal: a Clear still rediscovers; but the operator's
            // engineer should know why plugging in a drive shows nothing.
            SayOnStatusLine(QCoreApplication::translate(
                                "TestFrm", "Cannot listen on the notice channel \"%1\"; drives "
                                           "that come or go are seen only after Clear")
                                .arg(deps_.noticeChannel));
        }
        noticeReceiver_ = std::move(listener.receiver);
    }
    if (!InitStation(result)) {
        return result;
    }
    // Not fatal: the run goes on and finds no drive. Said here (and on
    // stderr, for --batch) so nobody hunts for a hardware fault.
    if (const QString notice = ctx_.transport->ConfigNotice(); !notice.isEmpty()) {
        SayOnStatusLine(notice);
    }
    const int started =
        deps_.startMonitor ? deps_.startMonitor(ProgramDirectory() + QStringLiteral("Vasket")) : 0;
    if (static_cast<int16_t>(started) < 32) {
        const QString text = QCoreApplication::translate(
            "TestFrm", "Missing important file, please reinstall the software");
        ShowMessageBox(text, kStyleStop, std::nullopt, this);
        result.ok = false;
        result.reason = text;
        return result;
    }
    WatchMonitor();
    PollingDiskStatus(kTrue);
    return result;
}

bool TestFrm::InitStation(StartupResult& result) {
    const int16_t r =
        deps_.readProductConfig ? deps_.readProductConfig(ctx_.Product) : kConfigUnreadable;
    if (r == kConfigSharesWrong || r == kConfigUnreadable) {
        const QString text =
            r == kConfigSharesWrong
                ? QCoreApplication::translate("TestFrm", "Partition Information error")
                : QCoreApplication::translate("TestFrm", "Open Product.ini failed");
        ShowMessageBox(text, kStyleStop, TrStation(kWindowCaption), this);
        result.ok = false;
        result.reason = text;
        return false;
    }
    const ProductConfig& p = ctx_.Product;
    VidPidLab->setText(QCoreApplication::translate("TestFrm", "VID = ") + p.Vid +
                       QCoreApplication::translate("TestFrm", "  PID = ") + p.Pid);
    UsbStrLab->setText(QCoreApplication::translate("TestFrm", "USB String = ") +
                       p.UsbManufactureString + QStringLiteral("  ") + p.UsbProductString);
    ScsiStrLab->setText(QCoreApplication::translate("TestFrm", "SCSI String = ") +
                        p.ScsiManufactureString + QStringLiteral("  ") + p.ScsiProductString);

    if (p.ApMode != 1) {
        for (int i = 0; i < kItemCount; ++i) {
            SetEnabled(Check1(i), false);
            SetTicked(Check1(i), false);
        }
        switch (p.ApMode) {
        case 2:
            SetTicked(Check1(kItemFormat), true);
            break;
        case 3:
            SetTicked(Check1(kItemManufacture), true);
            SetTicked(Check1(kItemCheckConfig), true);
            break;
        case 4:
            SetTicked(Check1(kItemCheckConfig), true);
            break;
        case 5:
            SetTicked(Check1(kItemCheckWP), true);
            break;
        default:
            break;
        }
    }
    DiskLabContent->setText(p.DiskLabel);
    if (deps_.buildSectorTemplates) {
        deps_.buildSectorTemplates(ctx_);
    }
    BuildDiskRows(static_cast<int16_t>(rows_.shown));
    PlaceRowColumns(*this, rows_);
    for (int16_t r0 = 0; r0 < rows_.shown; ++r0) {
        ShowDiskRow(kTrue, r0);
    }
    return true;
}

void TestFrm::Form_Unload() {
    // Stop receiving notices; the monitor keeps running, handles stay open.
    noticeReceiver_.reset();
    monitorKeeper_.reset();
}

void TestFrm::closeEvent(QCloseEvent* event) {
    closing_ = true;
    Form_Unload();
    ctx_.progress = nullptr;
    QWidget::closeEvent(event);
}

void TestFrm::WndProc_CopyData(const QByteArray& bytes) {
    // Exactly the bytes sent: "IN" with a terminator is another notice.
    ctx_.DiskStatusFlag = FromAnsi(bytes) == QStringLiteral("IN") ? 1 : 3;
}

} // namespace ufd
