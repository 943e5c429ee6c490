#include "station/scan_input.h"

#include "station/station_form.h"

#include <QAbstractButton>
#include <QApplication>
#include <QLineEdit>
#include <QWidget>

namespace ufd {

namespace {

constexpr double kSecondsPerDay = 24 * 60 * 60;

bool IsEnter(int key) {
    return key == Qt::Key_Return || key == Qt::Key_Enter;
}

} // namespace

ScanInput::ScanInput(ScanTargets targets, const StationSettings& settings, Clock& clock,
                     QObject* parent)
    : QObject(parent), targets_(targets), operatorPrefix_(settings.ScanOperatorPrefix),
      lotPrefix_(settings.ScanLotPrefix), startCode_(settings.ScanStartCode),
      gapSeconds_(settings.ScanKeyGapMs / 1000.0), clock_(clock) {
    stall_.setSingleShot(true);
    // Twice the gap: a hand that stops after a prefix's first key gets it
    // back well before it looks for it.
    stall_.setInterval(2 * settings.ScanKeyGapMs);
    connect(&stall_, &QTimer::timeout, this, [this] { Release(); });
}

bool ScanInput::Begins(const QString& text) const {
    for (const QString& code : {operatorPrefix_, lotPrefix_}) {
        if (!code.isEmpty() && (code.startsWith(text) || text.startsWith(code))) {
            return true;
        }
    }
    return !startCode_.isEmpty() && startCode_.startsWith(text);
}

bool ScanInput::eventFilter(QObject* watched, QEvent* event) {
    if (replaying_ || event->type() != QEvent::KeyPress || !watched->isWidgetType()) {
        return false;
    }
    auto* widget = static_cast<QWidget*>(watched);
    // Only the station's own window, and not while a message box waits for
    // its answer.
    if (targets_.window == nullptr || widget->window() != targets_.window ||
        (QApplication::activeModalWidget() != nullptr &&
         QApplication::activeModalWidget() != targets_.window)) {
        return false;
    }
    auto* key = static_cast<QKeyEvent*>(event);
    double now = clock_.SecondsSinceMidnight();
    double gap = now - last_;
    if (gap < 0) {
        gap += kSecondsPerDay; // past midnight
    }
    last_ = now;
    if (!held_.empty() && gap > gapSeconds_) {
        Release(); // a hand: what it typed so far goes where it typed it
    }
    if (IsEnter(key->key())) {
        if (!held_.empty() && Finish()) {
            return true;
        }
        Release();
        return false;
    }
    const QString text = key->text();
    const bool printable = text.size() == 1 && text.at(0).isPrint() &&
                           !(key->modifiers() & (Qt::ControlModifier | Qt::AltModifier));
    if (held_.empty() || !printable || !Begins(typed_ + text)) {
        Release();
        // A scanner's code starts after a pause: a key hard on the heels of
        // another is part of what a hand types.
        if (!printable || !Begins(text) || gap <= gapSeconds_) {
            return false;
        }
    }
    held_.push_back({watched, key->key(), key->modifiers(), text});
    typed_ += text;
    stall_.start();
    return true;
}

bool ScanInput::Finish() {
    const QString code = typed_;
    QLineEdit* field = nullptr;
    QString value;
    if (!operatorPrefix_.isEmpty() && code.startsWith(operatorPrefix_)) {
        field = targets_.operatorField;
        value = code.mid(operatorPrefix_.size()).trimmed();
    } else if (!lotPrefix_.isEmpty() && code.startsWith(lotPrefix_)) {
        field = targets_.lotField;
        value = code.mid(lotPrefix_.size()).trimmed();
    } else if (code != startCode_) {
        return false;
    }
    if (field != nullptr && value.isEmpty()) {
        return false; // a prefix alone names nobody
    }
    held_.clear();
    typed_.clear();
    stall_.stop();
    if (field != nullptr) {
        field->setText(value);
    } else if (code == startCode_ && targets_.start != nullptr && targets_.start->isEnabled() &&
               targets_.start->isVisible()) {
        targets_.start->click();
    }
    return true;
}

void ScanInput::Release() {
    stall_.stop();
    std::vector<Held> keys;
    keys.swap(held_);
    typed_.clear();
    replaying_ = true;
    for (const Held& k : keys) {
        if (k.receiver.isNull()) {
            continue;
        }
        QKeyEvent press(QEvent::KeyPress, k.key, k.modifiers, k.text);
        QCoreApplication::sendEvent(k.receiver, &press);
    }
    replaying_ = false;
}

void InstallScanInput(TestFrm& frm, const StationSettings& settings, Clock& clock) {
    if (!settings.ScanEnabled) {
        return;
    }
    ScanTargets targets{&frm, frm.findChild<QLineEdit*>(QStringLiteral("OperatorText")),
                        frm.findChild<QLineEdit*>(QStringLiteral("LotText")), frm.GoCmd};
    qApp->installEventFilter(new ScanInput(targets, settings, clock, &frm));
}

} // namespace ufd
