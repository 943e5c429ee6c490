#include "station/batch.h"

#include "device/media_words.h"
#include "platform/message_box.h"
#include "results/status_reasons.h"
#include "station/batch_json.h"
#include "station/drive_pictures.h"
#include "station/station_language.h"
#include "station/window_run_view.h"

#include <QStringList>

#include <algorithm>
#include <optional>
#include <vector>

namespace ufd {

namespace {

// A box's caption when it is shown, "-" when it is hidden or missing.
QString Box(const BoxState& box) {
    if (!box.shown) {
        return QStringLiteral("-");
    }
    return box.text.isEmpty() ? QStringLiteral("\"\"") : box.text;
}

QString Pair(const ItemState& item) {
    return Box(item.upper) + QStringLiteral(" | ") + Box(item.lower);
}

QString Tr(const char* english) {
    return QCoreApplication::translate(kStationContext, english);
}

// ReasonWithFindings in the language shown.
QString ReasonShown(int status, const MediaFindings& media) {
    const QString words = MediaFailureWords(status, media);
    if (words.isEmpty() || words == StatusReasonText(status)) {
        return TrStatusReason(status);
    }
    return TrStatusReason(status) + QStringLiteral(": ") +
           MediaFailureWords(status, media, TrMediaWords);
}

// Columns a terminal lines up: a wide character (Chinese, full-width forms)
// takes two.
qsizetype Width(const QString& text) {
    qsizetype width = 0;
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        const bool wide = (u >= 0x2E80 && u <= 0xA4CF) || (u >= 0xAC00 && u <= 0xD7A3) ||
                          (u >= 0xF900 && u <= 0xFAFF) || (u >= 0xFE30 && u <= 0xFE4F) ||
                          (u >= 0xFF00 && u <= 0xFF60) || (u >= 0xFFE0 && u <= 0xFFE6);
        width += c.isLowSurrogate() ? 0 : wide ? 2 : 1;
    }
    return width;
}

} // namespace

QString BatchRowCaption(const TestFrm& frm, int record) {
    // The socket's row with [Window] RowPerSocket, as in the table.
    const WindowRunView::Shown shown = WindowRunView::Of(frm).ShownOf(record);
    if (!shown.exists) {
        return Tr(QT_TRANSLATE_NOOP("TestFrm", "(no row)"));
    }
    return shown.shown ? shown.label : Tr(QT_TRANSLATE_NOOP("TestFrm", "(hidden row)"));
}

QString BatchReport(const TestFrm& frm) {
    const SlotTable& table = const_cast<TestFrm&>(frm).Context().slots;
    std::vector<QStringList> rows;
    rows.push_back(
        {Tr(QT_TRANSLATE_NOOP("TestFrm", "Slot")), Tr(QT_TRANSLATE_NOOP("TestFrm", "Row")),
         Tr(QT_TRANSLATE_NOOP("TestFrm", "Picture")), Tr(QT_TRANSLATE_NOOP("TestFrm", "Format")),
         Tr(QT_TRANSLATE_NOOP("TestFrm", "Config String")),
         Tr(QT_TRANSLATE_NOOP("TestFrm", "Check Config")),
         Tr(QT_TRANSLATE_NOOP("TestFrm", "Check WP")), Tr(QT_TRANSLATE_NOOP("TestFrm", "Status")),
         Tr(QT_TRANSLATE_NOOP("TestFrm", "Reason"))});
    // A standing report ([Window] KeepReport) lists the run's drives where
    // the run showed them, whatever discovery found since.
    const bool kept = frm.KeepingReport();
    const RunState& state = frm.State();
    const int count = kept ? static_cast<int>(state.drives.size()) : table.DiskCount;
    const WindowRunView rowsView = WindowRunView::Of(frm);
    for (int i = 0; i < count; ++i) {
        QStringList cells{QString::number(i + 1)};
        // The table prints the window: after a rediscovery or a Clear its
        // rows, as the operator sees them, not the run's state.
        const WindowRunView::Shown shown = rowsView.ShownOf(i);
        if (shown.exists && !shown.shown) {
            // The row exists but is off the window ([Window] Rows).
            cells << Tr("(hidden row)") << QStringLiteral("-") << QStringLiteral("-")
                  << QStringLiteral("-") << QStringLiteral("-") << QStringLiteral("-");
        } else if (shown.exists) {
            QString label = shown.label;
            if (shown.removed) {
                label += Tr(QT_TRANSLATE_NOOP("TestFrm", " (removed)"));
            }
            cells << label << Tr(DrivePictureName(shown.picture));
            for (const ItemState& item : shown.boxes) {
                cells << Pair(item);
            }
        } else {
            cells << Tr("(no row)") << QStringLiteral("-") << QStringLiteral("-")
                  << QStringLiteral("-") << QStringLiteral("-") << QStringLiteral("-");
        }
        if (kept) {
            const DriveState& d = state.drives[static_cast<size_t>(i)];
            cells << QString::number(d.status)
                  << (d.pulled ? TrStation(kPulledReason) : ReasonShown(d.status, d.media));
        } else {
            const DiskSlot& slot = table.DiskSlots[static_cast<size_t>(i)];
            cells << QString::number(slot.Status) << ReasonShown(slot.Status, slot.Media);
        }
        rows.push_back(cells);
    }
    std::vector<qsizetype> widths(rows.front().size(), 0);
    for (const QStringList& r : rows) {
        for (qsizetype c = 0; c < r.size(); ++c) {
            widths[static_cast<size_t>(c)] = std::max(widths[static_cast<size_t>(c)], Width(r[c]));
        }
    }
    QString out;
    for (const QStringList& r : rows) {
        QStringList padded;
        for (qsizetype c = 0; c < r.size(); ++c) {
            padded << r[c] + QString(widths[static_cast<size_t>(c)] - Width(r[c]), u' ');
        }
        out += padded.join(QStringLiteral("  ")).trimmed() + QLatin1Char('\n');
    }
    const QString verdict = frm.VerdictShown();
    // In the window's language, as the window shows it; the exit code reads
    // the run state's own verdict.
    out += Tr(QT_TRANSLATE_NOOP("TestFrm", "Verdict: ")) +
           (verdict.isEmpty() ? Tr(QT_TRANSLATE_NOOP("TestFrm", "(none)")) : TrStation(verdict)) +
           QLatin1Char('\n');
    return out;
}

int RunBatch(TestFrm& frm, const std::function<void(const QString&)>& print, RunRecorder* recorder,
             const std::function<void(const QByteArray&)>& json) {
    QPointer<TestFrm> self(&frm);
    std::optional<StoreOutcome> stored;
    bool ran = false;
    QString message;
    const int code = [&] {
        if (frm.Context().slots.DiskCount == 0 || !frm.GoCmd->isEnabled()) {
            message =
                Tr(QT_TRANSLATE_NOOP("TestFrm", "No drive attached: the run could not start."));
            return kExitNotRun;
        }
        frm.GoCmd_Click();
        if (!WindowAlive(self)) {
            message = Tr(QT_TRANSLATE_NOOP("TestFrm", "The window was closed during the run."));
            return kExitNotRun;
        }
        const QString verdict = frm.VerdictShown();
        if (verdict.isEmpty()) {
            message = Tr(QT_TRANSLATE_NOOP("TestFrm", "The run did not start."));
            return kExitNotRun;
        }
        ran = true;
        if (recorder != nullptr) {
            stored = recorder->WaitStored();
        }
        if (stored && !stored->stored) {
            message = stored->warning;
            return kExitNotStored;
        }
        if (verdict == kAllPass) {
            return kExitAllPass;
        }
        return verdict == kFailed ? kExitFailed : kExitNotRun;
    }();
    if (json) {
        // The lines a table would print beside the rows go to the messages
        // (stderr) and, joined, into the object's message.
        QStringList lines;
        if (ran && !frm.NoRowWarning().isEmpty()) {
            lines << frm.NoRowWarning();
        }
        if (!message.isEmpty()) {
            lines << message;
        }
        for (const QString& line : lines) {
            print(line);
        }
        json(BatchJson(ran ? &frm : nullptr, recorder, code, lines.join(QLatin1Char('\n'))));
        return code;
    }
    if (!ran) {
        print(message);
        return code;
    }
    if (recorder != nullptr) {
        print(recorder->RunId());
    }
    print(BatchReport(frm));
    if (!frm.NoRowWarning().isEmpty()) {
        print(frm.NoRowWarning());
    }
    if (!message.isEmpty()) {
        print(message);
    }
    return code;
}

void InstallBatchOperator(const std::function<void(const QString&)>& print) {
    SetMessageBoxHandler([print](const MessageBoxRequest& r) {
        QString line = Tr(QT_TRANSLATE_NOOP("TestFrm", "Message (style %1")).arg(r.style);
        if (r.title) {
            line += QStringLiteral(", \"") + *r.title + QLatin1Char('"');
        }
        line += QStringLiteral("): ") + r.text;
        const bool question = r.style == kStyleYesNoInfo;
        line += question ? Tr(QT_TRANSLATE_NOOP("TestFrm", " -> No"))
                         : Tr(QT_TRANSLATE_NOOP("TestFrm", " -> OK"));
        print(line);
        return question ? kAnswerNo : kAnswerOk;
    });
}

} // namespace ufd
