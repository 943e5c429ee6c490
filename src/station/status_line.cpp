// The status line: where the station says what may cost it notices (a
// monitor started again, a channel listened on again). Hidden until there is
// something to say, so the window looks as designed otherwise.
#include "station/station_form.h"

#include "config/program_directory.h"
#include "station/monitor_keeper.h"
#include "station/twips.h"

#include <QDebug>
#include <QPalette>

namespace ufd {

void TestFrm::SayOnStatusLine(const QString& text) {
    qWarning("ufd-station: %s", qPrintable(text));
    ShowOnStatusLine(text);
}

void TestFrm::ShowOnStatusLine(const QString& text) {
    if (StatusLab == nullptr) {
        // Between the disk label and Start, where nothing else is drawn; the
        // disk label's column moves right when the rows take two columns.
        StatusLab = new QLabel(this);
        StatusLab->setObjectName(QStringLiteral("StatusLab"));
        StatusLab->setWordWrap(true);
        StatusLab->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        StatusLab->setFont(SansFont(7));
        QPalette palette = StatusLab->palette();
        palette.setColor(QPalette::WindowText, QColor(255, 0, 0));
        StatusLab->setPalette(palette);
        PlaceTwips(StatusLab, TwipLeft(TextDiskLab), 4410, 1785, 870);
    }
    StatusLab->setText(text);
    StatusLab->setToolTip(text);
    StatusLab->show();
}

void TestFrm::WatchMonitor() {
    if (!deps_.monitorAlive || !deps_.startMonitor || deps_.noticeChannel.isEmpty()) {
        return;
    }
    QPointer<TestFrm> self(this);
    const QString channel = deps_.noticeChannel;
    monitorKeeper_ = std::make_unique<MonitorKeeper>(
        [self] {
            return self.isNull()
                       ? 0
                       : self->deps_.startMonitor(ProgramDirectory() + QStringLiteral("Vasket"));
        },
        [self, channel] {
            return self.isNull() ? std::nullopt : self->deps_.monitorAlive(channel);
        },
        [self](const QString& text) {
            if (!self.isNull()) {
                self->SayOnStatusLine(text);
            }
        },
        MonitorKeeper::Settings{},
        [self, channel]() -> std::optional<int64_t> {
            return self.isNull() || !self->deps_.monitorBeat ? std::nullopt
                                                             : self->deps_.monitorBeat(channel);
        });
}

void TestFrm::EnableStart() {
    if (startRefused_.isEmpty()) {
        GoCmd->setEnabled(true);
        return;
    }
    GoCmd->setEnabled(false);
    ShowOnStatusLine(startRefused_);
}

void TestFrm::RefuseStart(const QString& why) {
    const QString before = startRefused_;
    startRefused_ = why;
    if (!why.isEmpty()) {
        GoCmd->setEnabled(false);
        ShowOnStatusLine(why);
        return;
    }
    if (StatusLab != nullptr && !before.isEmpty() && StatusLab->text() == before) {
        StatusLab->hide();
    }
    // Start is back where a run could start: drives found, no report standing.
    if (ctx_.slots.DiskCount != 0 && !ClearCmd->isEnabled() && ctx_.TestRunning == kFalse) {
        GoCmd->setEnabled(true);
    }
}

} // namespace ufd
