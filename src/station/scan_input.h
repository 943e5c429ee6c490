// A barcode scanner on the line ([Scan]): it types like a keyboard, faster
// than any hand, and ends with Enter. An event filter on the application
// watches the window's keys: a code that begins with the badge's prefix
// fills the operator's field, the lot card's prefix the lot's, the start
// code presses Start, wherever the focus is. Keys too slow for a scanner, or
// that no code begins with, reach their widget as typed.
#pragma once

#include "platform/clock.h"
#include "settings/station_settings.h"

#include <QKeyEvent>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>

#include <memory>
#include <vector>

class QAbstractButton;
class QLineEdit;
class QWidget;

namespace ufd {

class TestFrm;

struct ScanTargets {
    QWidget* window = nullptr;          // keys to other windows are left alone
    QLineEdit* operatorField = nullptr; // may be null: badges then fill nothing
    QLineEdit* lotField = nullptr;      // may be null: lot cards then fill nothing
    QAbstractButton* start = nullptr;   // pressed by the start code while enabled
};

class ScanInput : public QObject {
public:
    ScanInput(ScanTargets targets, const StationSettings& settings, Clock& clock,
              QObject* parent = nullptr);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    struct Held {
        QPointer<QObject> receiver;
        int key;
        Qt::KeyboardModifiers modifiers;
        QString text;
    };
    // Could `text` still grow into a code, or is it one with its value?
    bool Begins(const QString& text) const;
    bool Finish();  // the held keys as a scan; false when they are none
    void Release(); // the held keys to their widgets, as typed

    ScanTargets targets_;
    QString operatorPrefix_, lotPrefix_, startCode_;
    double gapSeconds_;
    Clock& clock_;
    std::vector<Held> held_;
    QString typed_;
    double last_ = 0;
    bool replaying_ = false;
    QTimer stall_; // a scan that stops without Enter was typed after all
};

// The one hook of the window: with [Scan] Enabled, the filter on the
// application for frm's fields ("Operator", "Lot" of [Window] OperatorLot)
// and its Start button; nothing without.
void InstallScanInput(TestFrm& frm, const StationSettings& settings, Clock& clock);

} // namespace ufd
