// The barcode scanner as the window gets it: keys a few milliseconds apart,
// Enter at the end, sent to whatever has the focus. A badge fills the
// operator's field, a lot card the lot's, the start code presses Start; the
// same keys typed by a hand, or keys no code begins with, reach the focused
// widget as typed.
#include "support/test_common.h"

#include "station/operator_fields.h"
#include "station/run_recorder.h"
#include "station/scan_input.h"
#include "station/station_form.h"
#include "support/station_window.h"

#include <QApplication>
#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QVBoxLayout>

namespace ufd {
namespace {

class FakeClock final : public Clock {
public:
    float SecondsSinceMidnight() override { return static_cast<float>(now); }
    double now = 8 * 3600;
};

// Each character, then Enter, to the focused widget, `ms` apart.
void Type(FakeClock& clock, QWidget* focus, const QString& keys, int ms, bool enter = true) {
    focus->setFocus();
    for (const QChar c : keys) {
        clock.now += ms / 1000.0;
        QTest::keyClick(QApplication::focusWidget(), c.toLatin1());
    }
    if (enter) {
        clock.now += ms / 1000.0;
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
    }
}

struct Window {
    Window() {
        auto* layout = new QVBoxLayout(&w);
        for (QWidget* c : std::initializer_list<QWidget*>{who, lot, box, start}) {
            layout->addWidget(c);
        }
        lot->setText("L-1");
        QObject::connect(start, &QPushButton::clicked, [this] { ++starts; });
        StationSettings s;
        s.ScanEnabled = true;
        s.ScanOperatorPrefix = "#OP";
        s.ScanLotPrefix = "#LOT";
        s.ScanStartCode = "#GO";
        s.ScanKeyGapMs = 30;
        qApp->installEventFilter(new ScanInput({&w, who, lot, start}, s, clock, &w));
        w.show();
        QApplication::setActiveWindow(&w);
        EXPECT_TRUE(QTest::qWaitForWindowActive(&w));
    }
    QWidget w;
    QLineEdit* who = new QLineEdit;
    QLineEdit* lot = new QLineEdit;
    QCheckBox* box = new QCheckBox("Format");
    QPushButton* start = new QPushButton("Start");
    FakeClock clock;
    int starts = 0;
};

TEST(ScanInput, ScansFillTheirFieldWhereverTheFocusIsAndHandsTypeAsEver) {
    enum Focus { Who, Lot, Box, Start };
    const struct {
        const char* what;
        Focus focus;
        const char* keys;
        int ms;
        const char* who;
        const char* lot;
        int starts;
    } cases[] = {
        {"a badge scanned in the lot field", Lot, "#OPAnna Li", 4, "Anna Li", "L-1", 0},
        {"a lot card scanned on the check box", Box, "#LOTL-0412", 2, "", "L-0412", 0},
        {"the start code scanned in the operator's field", Who, "#GO", 4, "", "L-1", 1},
        {"a badge typed by hand in the lot field", Lot, "#OPAnna", 150, "", "L-1#OPAnna", 0},
        {"a hand typing fast, a prefix after another key", Lot, "x#OPAnna", 10, "", "L-1x#OPAnna",
         0},
        {"a prefix alone", Who, "#OP", 3, "#OP", "L-1", 0},
        {"an unknown code after a prefix's first key", Who, "#XY", 3, "#XY", "L-1", 0},
        {"the start code typed by hand on Start", Start, "#GO", 200, "", "L-1", 0},
    };
    for (const auto& c : cases) {
        Window t;
        QWidget* focus[] = {t.who, t.lot, t.box, t.start};
        Type(t.clock, focus[c.focus], c.keys, c.ms);
        EXPECT_EQ(t.who->text().toStdString(), c.who) << c.what;
        EXPECT_EQ(t.lot->text().toStdString(), c.lot) << c.what;
        EXPECT_EQ(t.starts, c.starts) << c.what;
        EXPECT_FALSE(t.box->isChecked()) << c.what; // no key of a scan reached the box
    }
}

// A scan that stops without Enter was typing after all: its keys reach the
// field once the scanner's pause is over; a disabled Start stays unpressed.
TEST(ScanInput, AStalledScanIsTypedAndADisabledStartIsNotPressed) {
    Window t;
    Type(t.clock, t.who, "#OP", 3, false);
    EXPECT_EQ(t.who->text(), "");
    EXPECT_TRUE(QTest::qWaitFor([&] { return t.who->text() == "#OP"; }, 1000));
    t.start->setEnabled(false);
    t.clock.now += 1; // the pause before the next scan
    Type(t.clock, t.lot, "#GO", 3);
    EXPECT_EQ(t.starts, 0);
    EXPECT_EQ(t.lot->text(), "L-1");
}

// Through the station's own window: its hook finds the "Operator" and "Lot"
// fields of [Window] OperatorLot, and what a scan puts there goes into the
// records of the runs that follow.
TEST(ScanInput, TheWindowsFieldsTakeTheScanIntoTheRecords) {
    QTemporaryDir home;
    qputenv("XDG_CONFIG_HOME", home.filePath("config").toUtf8());
    qputenv("XDG_DATA_HOME", home.filePath("data").toUtf8());
    StationSettings settings;
    settings.Database = home.filePath("results.sqlite");
    settings.OperatorLot = true;
    settings.ScanEnabled = true;
    settings.ScanOperatorPrefix = "#OP";
    settings.ScanLotPrefix = "#LOT";
    QString error;
    const auto recorder = MakeRunRecorder(settings, &error);
    ASSERT_TRUE(recorder) << error.toStdString();
    test::RecordedWindow window;
    ASSERT_TRUE(window.loaded);
    TestFrm& frm = *window.frm;
    AddOperatorFields(frm, *recorder, QString("Bo"), QString("L-1"));
    FakeClock clock;
    InstallScanInput(frm, settings, clock);
    frm.show();
    QApplication::setActiveWindow(&frm);
    ASSERT_TRUE(QTest::qWaitForWindowActive(&frm));
    for (const QString& code : {QString("#OPAnna Li"), QString("#LOTL-0412")}) {
        clock.now += 1;
        Type(clock, frm.Check1(0), code, 4);
    }
    EXPECT_EQ(std::pair(recorder->Operator(), recorder->Lot()),
              std::pair(QString("Anna Li"), QString("L-0412")));
    EXPECT_TRUE(frm.Check1(0)->isChecked()); // no key of the scans reached the box
}

} // namespace
} // namespace ufd
