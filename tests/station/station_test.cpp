// The station window with real widgets, a scripted operator and a recording
// transport: start-up, discovery, notices, the item rule, the run's texts,
// clearing; the items' calls to the view of one slot.
#include "config/program_directory.h"
#include "platform/message_box.h"
#include "station/batch.h"
#include "station/drive_pictures.h"
#include "station/slot_items.h"
#include "station/test_frm.h"
#include "station/twips.h"
#include "support/recording_transport.h"

#include <QApplication>
#include <QFontDatabase>
#include <QStyleOptionButton>
#include <QTest>

#include <gtest/gtest.h>

#include <chrono>
#include <numeric>
#include <thread>

namespace ufd {
namespace {

using test::Answer;
using test::Call;
using test::RecordingTransport;

class Station : public ::testing::Test {
protected:
    void SetUp() override {
        ctx.replies = transport.files;
        // Every call succeeds but a probe of an index without a drive.
        transport.script = [this](const Call& c) {
            if (c.fn != "GetDiskHandle") {
                return Answer{};
            }
            const auto i = static_cast<size_t>(c.args[0]);
            const char k = i < drives.size() ? drives[i] : '.';
            Answer a{static_cast<uint16_t>(k == '.' ? 0 : 100 + i), {}};
            if (k != '.' && k != 'S') {
                a.text = k == 'P'   ? "IDE\\DiskPC_System_Disk\r\n"
                         : k == 'u' ? "usb\\UsbStor\r\n"
                                    : "USB\\VID_1234&PID_5678\\USBSTOR\\Disk\r\n";
            }
            return a;
        };
        SetMessageBoxHandler([this](const MessageBoxRequest& r) {
            boxes.push_back(r);
            onBox ? onBox(r) : void();
            return r.style == kStyleYesNoInfo ? answer : kAnswerOk;
        });
    }
    void TearDown() override {
        frm.reset();
        SetMessageBoxHandler({});
    }

    StationDependencies Deps() {
        StationDependencies d;
        d.readProductConfig = [this](ProductConfig& p) {
            p = {"EF", "GH", "1234", "5678", "AB", "CD", 0, 0, apMode, "LABEL"};
            return kConfigGood;
        };
        d.buildSectorTemplates = [](StationContext&) {};
        d.startMonitor = [this](const QString& program) {
            monitorStarts.push_back(program);
            return 33;
        };
        d.wait = [this](float) { onWait ? onWait() : void(); };
        d.pumpEvents = [] {};
        d.device = device;
        return d;
    }

    StartupResult Load() {
        frm = std::make_unique<TestFrm>(ctx, Deps());
        return frm->Form_Load();
    }

    int Count(const std::string& fn) const { return static_cast<int>(transport.Calls(fn).size()); }

    RecordingTransport transport;
    StationContext ctx{transport};
    std::unique_ptr<TestFrm> frm;
    // One letter per drive index, its handle 100 + index: U USB storage, u
    // "usbstor" in another case, P the PC's own disk, S USB storage that
    // leaves no reply file, . nothing.
    std::string drives;
    DeviceProcedures device;
    int16_t apMode = 1;
    int answer = kAnswerYes;
    std::vector<MessageBoxRequest> boxes;
    std::function<void(const MessageBoxRequest&)> onBox;
    std::vector<QString> monitorStarts;
    std::function<void()> onWait;
};

// ------------------------------------------------------------ start-up

TEST_F(Station, StartUpShowsIdentityBuildsTheRowsAndStartsTheMonitor) {
    drives = "U";
    ASSERT_TRUE(Load().ok);
    EXPECT_TRUE(boxes.empty());
    EXPECT_EQ(frm->VidPidLab->text(), "VID = 1234  PID = 5678");
    EXPECT_EQ(frm->UsbStrLab->text(), "USB String = AB  CD");
    EXPECT_EQ(frm->ScsiStrLab->text(), "SCSI String = EF  GH");
    EXPECT_EQ(frm->DiskLabContent->text(), "LABEL");
    EXPECT_EQ(monitorStarts, std::vector<QString>{ProgramDirectory() + "Vasket"});
    EXPECT_TRUE(frm->GoCmd->isEnabled());
    EXPECT_FALSE(frm->ClearCmd->isEnabled() || frm->LedCmd->isEnabled());
    // Rows one step apart, the hidden eighth one too (the rows test shows which are shown).
    EXPECT_EQ(frm->ItemLab(7)->text(), "Disk 7");
    EXPECT_DOUBLE_EQ(TwipTop(frm->ItemLab(7)), 7264.5);
    EXPECT_DOUBLE_EQ(TwipTop(frm->CCR(3)), 540 + 3 * 943.5);
    EXPECT_EQ(frm->ItemLab(8), nullptr);
    // Seven rows are the design's window.
    EXPECT_EQ(frm->size(), QSize(TwipsToPixels(9945), TwipsToPixels(7695)));
    EXPECT_EQ(frm->ScrollArea->geometry(), QRect(4, 32, 535, 451));
    EXPECT_DOUBLE_EQ(TwipLeft(frm->GoCmd), 8258);
    EXPECT_EQ(frm->findChild<QLabel*>("Function1Lab_2"), nullptr);
}

// [Window] Rows: sixteen drives all passing; every shown row inside the row
// area and apart, the window on the smallest line screen (1366 x 768 less a
// title bar and a panel), and the batch report printing the rows it shows.
TEST_F(Station, EveryRowShownWholeAndApartOnOneScreen) {
    drives = std::string(kMaxSlots, 'U');
    device.WriteIdentity = [](StationContext&, int16_t, int16_t) { return int16_t{1}; };
    device.CheckIdentity = [](StationContext&, int16_t) { return int16_t{2}; };
    auto rowRect = [this](int r) {
        QRect rect = frm->ThumbImage(r)->geometry() | frm->ItemLab(r)->geometry() |
                     frm->ProgressBar(r)->geometry();
        for (auto* a : {&frm->FG, &frm->FR, &frm->LLG, &frm->LLR, &frm->CC1mG, &frm->CC1mR,
                        &frm->CCG, &frm->CCR}) {
            rect |= (*a)(r)->geometry();
        }
        return rect;
    };
    for (int rows : {7, 8, 9, 12, 16}) {
        SCOPED_TRACE(rows);
        ctx.Settings.WindowRows = rows;
        ASSERT_TRUE(Load().ok);
        frm->GoCmd_Click();
        ASSERT_EQ(frm->PassLab->text(), kAllPass);
        EXPECT_LE(frm->width(), 1366);
        EXPECT_LE(frm->height(), 768 - 80);
        for (int r = 0; r < kMaxSlots; ++r) {
            SCOPED_TRACE(r);
            const bool shown = r < rows;
            EXPECT_EQ(IsShown(frm->ItemLab(r)), shown);
            EXPECT_EQ(IsShown(frm->ThumbImage(r)), shown);
            EXPECT_EQ(IsShown(frm->FG(r)) && IsShown(frm->CC1mR(r)), r <= rows);
            if (shown) {
                EXPECT_EQ(frm->ItemLab(r)->text(), QString("Disk %1").arg(r));
                EXPECT_TRUE(frm->ScrollArea->rect().contains(rowRect(r)));
                for (int other = 0; other < r; ++other) {
                    EXPECT_FALSE(rowRect(r).intersects(rowRect(other))) << other;
                }
            }
        }
        // One hidden row past the shown ones, as the design has.
        ASSERT_NE(frm->ItemLab(rows), nullptr);
        EXPECT_FALSE(IsShown(frm->ItemLab(rows)));
        // Nothing else of the window lies on the rows.
        for (QWidget* w : std::initializer_list<QWidget*>{frm->Frame1, frm->GoCmd, frm->LedCmd,
                                                          frm->Image1, frm->UsbStrLab}) {
            EXPECT_FALSE(w->geometry().intersects(frm->ScrollArea->geometry()))
                << w->objectName().toStdString();
            EXPECT_TRUE(frm->rect().contains(w->geometry())) << w->objectName().toStdString();
        }
        const QString report = BatchReport(*frm);
        EXPECT_EQ(report.count("Disk "), rows) << report.toStdString();
        EXPECT_EQ(report.count("(hidden row)"), rows < kMaxSlots ? 1 : 0);
        EXPECT_EQ(report.count("(no row)"), std::max(0, kMaxSlots - rows - 1));
    }
}

TEST_F(Station, ConfigNoticeGoesOnTheStatusLineWithoutStoppingStartUp) {
    transport.notice = "No USB drive may be used: [Drives] Allow= in /x/quorlink.conf lists none.";
    ASSERT_TRUE(Load().ok);
    EXPECT_TRUE(boxes.empty());
    ASSERT_NE(frm->StatusLab, nullptr);
    EXPECT_EQ(frm->StatusLab->text(), transport.notice);
    EXPECT_EQ(monitorStarts.size(), 1u);
}

TEST_F(Station, ApModePresetsTickAndLock) {
    // Per mode, items 0..4 ticked; only mode 1 leaves them to the operator.
    const char* ticked[] = {"00000", "11010", "10000", "01010", "00010", "00001", "00000"};
    drives = "U";
    for (int16_t mode = 0; mode <= 6; ++mode) {
        apMode = mode;
        ASSERT_TRUE(Load().ok);
        for (int i = 0; i < kItemCount; ++i) {
            EXPECT_EQ(frm->Check1(i)->isChecked(), ticked[mode][i] == '1') << mode << " " << i;
            EXPECT_EQ(frm->Check1(i)->isEnabled(), mode == 1 && i != kItem1M) << mode << " " << i;
        }
    }
    // With nothing ticked Start only says so and comes back.
    frm->GoCmd_Click();
    ASSERT_EQ(boxes.size(), 1U);
    EXPECT_EQ(boxes[0].style, kStyleExclamation);
    EXPECT_TRUE(frm->GoCmd->isEnabled());
    EXPECT_EQ(ctx.TestRunning, kFalse);
}

// ------------------------------------------------------------ rows, captions

TEST_F(Station, CaptionsAndBoxesShowWholeAtTheirDesignSize) {
    if (!QFontDatabase::hasFamily(kCaptionFamily)) {
        GTEST_SKIP() << kCaptionFamily.toStdString() << " is not installed (fonts-liberation)";
    }
    ASSERT_TRUE(Load().ok);
    // The design's own captions, then the longest texts a run writes.
    std::vector<std::pair<QWidget*, QString>> cases;
    for (QWidget* w : std::initializer_list<QWidget*>{
             frm->Function1Lab, frm->Function2Lab, frm->function3Lab, frm->Label1, frm->Ch,
             frm->TextDiskLab, frm->GoCmd, frm->ClearCmd, frm->LedCmd, frm->ItemLab(0),
             frm->Check1(0), frm->Check1(1), frm->Check1(3), frm->Check1(4)}) {
        cases.emplace_back(w, w->property("text").toString().remove('&'));
    }
    cases.insert(cases.end(), {{frm->FR(0), "4 Chip(s)   1000 MB"},
                               {frm->CC1mR(0), "Error Status = F4"},
                               {frm->CCR(0), "Not Write Protected"},
                               {frm->DiskLabContent, "LABEL"},
                               {frm->VidPidLab, "VID = 1234  PID = 5678"},
                               {frm->PassLab, kAllPass}});
    for (const auto& [control, text] : cases) {
        SCOPED_TRACE(control->objectName().toStdString() + " \"" + text.toStdString() + "\"");
        // Where the style draws the caption: beside a check box's square,
        // inside a button's bevel.
        QRect room = control->contentsRect();
        if (auto* box = qobject_cast<QCheckBox*>(control)) {
            QStyleOptionButton option;
            option.initFrom(box);
            room = box->style()->subElementRect(QStyle::SE_CheckBoxContents, &option, box);
            const QRect square =
                box->style()->subElementRect(QStyle::SE_CheckBoxIndicator, &option, box);
            EXPECT_TRUE(box->rect().contains(square))
                << square.height() << " px square in a " << box->height() << " px box";
        } else if (auto* button = qobject_cast<QPushButton*>(control)) {
            QStyleOptionButton option;
            option.initFrom(button);
            room = button->style()->subElementRect(QStyle::SE_PushButtonContents, &option, button);
        }
        const QSize needed = QFontMetrics(control->font()).size(0, text);
        EXPECT_LE(needed.width(), room.width());
        EXPECT_LE(needed.height(), room.height());
    }
}

// ------------------------------------------------------------ discovery, notices

// Storage at 0, 3 and 4 with the PC's disk at 1; the handle at 5 leaves no
// reply file and must not pass on the line of the storage probe before it.
TEST_F(Station, DiscoveryKeepsStorageInIndexOrderAndClosesTheRest) {
    struct Case {
        std::string drives;
        std::vector<int64_t> handles;
        std::vector<int64_t> closed;
    };
    Case seventeen{std::string(kProbeCount, 'U'), std::vector<int64_t>(kMaxSlots), {116}};
    std::iota(seventeen.handles.begin(), seventeen.handles.end(), 100); // no slot for the last
    for (const Case& c : {Case{"UP.uuS", {100, 103, 104}, {101, 105}}, seventeen}) {
        drives = c.drives;
        transport.calls.clear();
        ASSERT_TRUE(Load().ok);
        std::vector<int64_t> handles;
        for (int n = 1; n <= ctx.slots.DiskCount; ++n) {
            handles.push_back(ctx.slots.DiskSlots[n - 1].Handle);
        }
        EXPECT_EQ(handles, c.handles) << c.drives;
        std::vector<int64_t> closed;
        for (const Call& call : transport.Calls("CloseHandle")) {
            closed.push_back(call.args[0]);
        }
        EXPECT_EQ(closed, c.closed) << c.drives;
        for (int r = 0; r < 7; ++r) {
            EXPECT_EQ(frm->PictureOf(r),
                      r < int(c.handles.size()) ? kPictureAttached : kPictureNoDrive);
        }
    }
}

TEST_F(Station, NoticeKindsAndOverwriting) {
    const std::pair<QByteArray, int16_t> cases[] = {
        {"IN", 1}, {QByteArray("IN\0", 3), 3}, {"", 3}, {"OUT", 3}, {"in", 3}};
    ASSERT_TRUE(Load().ok);
    for (const auto& [bytes, flag] : cases) {
        frm->WndProc_CopyData(bytes);
        EXPECT_EQ(ctx.DiskStatusFlag, flag) << bytes.toStdString();
    }
    frm->WndProc_CopyData("IN");
    frm->WndProc_CopyData("OUT");
    transport.calls.clear();
    frm->Timer1_Timer();
    frm->Timer1_Timer();
    EXPECT_EQ(Count("KillEXE"), 1) << "two notices, one rediscovery of the later kind";
    EXPECT_EQ(Count("GetDiskHandle"), kProbeCount);
}

// ------------------------------------------------------------ items, run

TEST_F(Station, ItemRule) {
    ASSERT_TRUE(Load().ok);
    frm->Check1(kItemCheckWP)->setChecked(true);
    for (int i = 0; i < 4; ++i) {
        EXPECT_FALSE(frm->Check1(i)->isChecked()) << i;
    }
    frm->Check1(kItemFormat)->setChecked(true);
    EXPECT_FALSE(frm->Check1(kItemCheckWP)->isChecked());
    frm->Check1(kItemCheckConfig)->setChecked(true);
    EXPECT_TRUE(frm->Check1(kItemFormat)->isChecked());
    frm->Check1(kItemFormat)->setChecked(false);
    EXPECT_TRUE(frm->Check1(kItemCheckConfig)->isChecked()) << "unticking changes nothing else";
}

// One slot per case, run together: the detail texts of every outcome.
TEST_F(Station, CaptionsOfEachOutcome) {
    // Status after the chip scan, LastSector after the low-level format,
    // WriteIdentity's result, Status set by a failing CheckIdentity (0: it
    // passes); then the three captions.
    struct Case {
        int16_t scan;
        int32_t sectors;
        int16_t write, check;
        QString format, identity, checkDetail;
    };
    const Case cases[] = {
        {0x75, 0, 1, 0, "X|Error Status = 75", "String = V|Write = V", "V|"},
        {254, 0, 1, 0, "X|Error Status = Missing Handle", "String = V|Write = V", "V|"},
        {255, 0, 1, 0, "X|Read or Write failed", "String = V|Write = V", "V|"},
        {0x123, 0, 1, 0, "X|Error Status = 123", "String = V|Write = V", "V|"},
        // Megabytes round half to even.
        {0, 1000, 2, 0, "V|1 Chip(s)   0 MB", "String = X|Write = X", "V|"},
        {0, 5000, 0, 0, "V|1 Chip(s)   2 MB", "String = V|Write = X", "V|"},
        {0, 7000, 1, 254, "V|1 Chip(s)   4 MB", "String = V|Write = V", "X|Error Status = FE"},
        // Above 32,767 MB the true size, still rounded half to even.
        {0, 65537000, 1, 255, "V|1 Chip(s)   32768 MB", "String = V|Write = V",
         "X|Error Status = FF"},
        {0, 65534000, 1, 0, "", "", ""}, // no row from here on
        {0, 2000, 1, 0xF4, "", "", ""},
    };
    const int count = static_cast<int>(std::size(cases));
    drives = std::string(count, 'U');
    auto of = [&](int16_t n) { return cases[n - 1]; };
    device.ScanChips = [&](StationContext& c, int16_t n) {
        c.slots.Slot(n)->ChipCount = 1;
        c.slots.Slot(n)->Status = of(n).scan;
    };
    int formats = 0;
    device.LowLevelFormat = [&](StationContext& c, int16_t n) {
        ++formats;
        c.slots.Slot(n)->LastSector = of(n).sectors;
        return int16_t{1};
    };
    device.WriteIdentity = [&](StationContext& c, int16_t n, int16_t) {
        c.slots.Slot(n)->Status = of(n).write == 1 ? c.slots.Slot(n)->Status : int16_t{0xF3};
        return of(n).write;
    };
    int checks = 0;
    device.CheckIdentity = [&](StationContext& c, int16_t n) {
        ++checks;
        c.slots.Slot(n)->Status = of(n).check == 0 ? c.slots.Slot(n)->Status : of(n).check;
        return static_cast<int16_t>(of(n).check == 0 ? 2 : 0);
    };
    ASSERT_TRUE(Load().ok);
    frm->GoCmd_Click();
    EXPECT_EQ(formats, count - 4) << "a failed chip scan skips the low-level format";
    EXPECT_EQ(checks, count) << "slots without rows still run";
    for (int r = 0; r < 8; ++r) {
        const Case& c = cases[r];
        EXPECT_EQ(frm->FG(r)->text() + "|" + frm->FR(r)->text(), c.format) << r;
        EXPECT_EQ(frm->LLG(r)->text() + "|" + frm->LLR(r)->text(), c.identity) << r;
        EXPECT_EQ(frm->CC1mG(r)->text() + "|" + frm->CC1mR(r)->text(), c.checkDetail) << r;
        const bool failed = c.scan != 0 || c.write != 1 || c.check != 0;
        EXPECT_EQ(frm->PictureOf(r), failed ? kPictureFailed : kPicturePassed) << r;
    }
    EXPECT_EQ(frm->PassLab->text(), kFailed);
    EXPECT_TRUE(frm->LedCmd->isEnabled());
    EXPECT_TRUE(BatchReport(*frm).contains("(no row)"));
}

// In parallel the slots finish in any order (here the first one last), yet
// a caption the result leaves unset (an identity answer outside 0..2) is
// still the slot before's.
TEST_F(Station, ParallelRunCarriesCaptionsFromTheSlotBefore) {
    struct Case {
        int32_t sectors;
        int16_t write;
        QString format, identity;
        int picture;
    };
    const Case cases[] = {
        {7000, 1, "V|1 Chip(s)   4 MB", "String = V|Write = V", kPicturePassed},
        {65536000, 0, "V|1 Chip(s)   32768 MB", "String = V|Write = X", kPictureFailed},
        {2000, 3, "V|1 Chip(s)   1 MB", "String = V|Write = X", kPicturePassed},
    };
    drives = "UUU";
    device.ScanChips = [](StationContext& c, int16_t n) {
        if (n == 1) {
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
        }
        c.slots.Slot(n)->ChipCount = 1;
    };
    device.LowLevelFormat = [&](StationContext& c, int16_t n) {
        c.slots.Slot(n)->LastSector = cases[n - 1].sectors;
        return int16_t{1};
    };
    device.WriteIdentity = [&](StationContext& c, int16_t n, int16_t) {
        if (n == 1) {
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
        }
        if (cases[n - 1].write == 0) {
            c.slots.Slot(n)->Status = 0x81;
        }
        return cases[n - 1].write;
    };
    device.CheckIdentity = [](StationContext&, int16_t) { return int16_t{2}; };
    ctx.Settings.Parallel = true;
    ASSERT_TRUE(Load().ok);
    frm->GoCmd_Click();
    for (int r = 0; r < 3; ++r) {
        const Case& c = cases[r];
        EXPECT_EQ(frm->FG(r)->text() + "|" + frm->FR(r)->text(), c.format) << r;
        EXPECT_EQ(frm->LLG(r)->text() + "|" + frm->LLR(r)->text(), c.identity) << r;
        EXPECT_EQ(frm->PictureOf(r), c.picture) << r;
    }
    EXPECT_EQ(frm->PassLab->text(), kFailed);
}

TEST_F(Station, ClosingTheWindowDuringARunEndsItQuietly) {
    drives = "UU";
    int scans = 0;
    device.ScanChips = [&](StationContext&, int16_t) { ++scans; };
    ASSERT_TRUE(Load().ok);
    onWait = [this] { frm.reset(); };
    frm->GoCmd_Click();
    EXPECT_FALSE(frm);
    EXPECT_EQ(scans, 0);
    EXPECT_EQ(ctx.TestRunning, kFalse);
    EXPECT_EQ(ctx.progress, nullptr);
}

// ------------------------------------------------------------ clearing, LED

TEST_F(Station, ClearingYesAndNo) {
    drives = "U";
    device.CheckIdentity = [](StationContext& c, int16_t n) {
        c.slots.Slot(n)->Status = 0xF4;
        return int16_t{0};
    };
    ASSERT_TRUE(Load().ok);
    frm->GoCmd_Click();
    ASSERT_TRUE(frm->LedCmd->isEnabled());

    answer = kAnswerNo;
    frm->ClearCmd_Click();
    ASSERT_EQ(boxes.size(), 1U);
    EXPECT_EQ(boxes[0].text, "This action will clear the test report, Do you want to continue ?");
    EXPECT_EQ(boxes[0].title, QString("Clear Report"));
    EXPECT_EQ(boxes[0].style, kStyleYesNoInfo);
    EXPECT_FALSE(IsShown(frm->PassLab)) << "hidden while asking, and not shown again";
    EXPECT_EQ(frm->CC1mG(0)->text(), "X");
    EXPECT_FALSE(frm->GoCmd->isEnabled());

    answer = kAnswerYes;
    // A removal during the question waits for the clearing to finish.
    onBox = [this](const MessageBoxRequest&) {
        frm->WndProc_CopyData("OUT");
        frm->Timer1_Timer();
    };
    transport.calls.clear();
    frm->ClearCmd_Click();
    EXPECT_EQ(Count("KillEXE"), 0);
    EXPECT_EQ(ctx.DiskStatusFlag, 3);
    EXPECT_TRUE(frm->CC1mG(0)->text().isEmpty());
    EXPECT_FALSE(IsShown(frm->CC1mG(0)));
    EXPECT_TRUE(frm->GoCmd->isEnabled());
    EXPECT_FALSE(frm->ClearCmd->isEnabled() || frm->LedCmd->isEnabled());
    EXPECT_EQ(ctx.slots.DiskSlots[0].Status, 0);
    frm->Timer1_Timer();
    EXPECT_EQ(Count("KillEXE"), 1);
}

// ------------------------------------------------------------ keyboard

// Keys go in through the window as the desktop delivers them, and reach
// whatever button holds the focus.
TEST_F(Station, EnterAndReturnPressTheFocusedButton) {
    drives = "U";
    ASSERT_TRUE(Load().ok);
    frm->show();
    frm->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(frm.get()));
    const std::pair<Qt::Key, Qt::KeyboardModifiers> keys[] = {{Qt::Key_Return, Qt::NoModifier},
                                                              {Qt::Key_Enter, Qt::KeypadModifier}};
    for (const auto& [key, modifiers] : keys) {
        SCOPED_TRACE(key);
        boxes.clear();
        frm->GoCmd->setFocus();
        QTest::keyClick(frm->windowHandle(), key, modifiers);
        EXPECT_TRUE(IsShown(frm->PassLab)) << "Start ran";
        ASSERT_EQ(QApplication::focusWidget(), frm->ClearCmd);
        QTest::keyClick(frm->windowHandle(), key, modifiers);
        ASSERT_EQ(boxes.size(), 1U) << "Clear asked";
        EXPECT_EQ(boxes[0].parent, frm.get());
        EXPECT_FALSE(frm->ClearCmd->isEnabled());
        EXPECT_TRUE(frm->GoCmd->isEnabled());
    }
    // A check box keeps Enter to itself: nothing runs, nothing changes.
    frm->Check1(kItemFormat)->setFocus();
    QTest::keyClick(frm->windowHandle(), Qt::Key_Return);
    EXPECT_TRUE(frm->Check1(kItemFormat)->isChecked());
    EXPECT_TRUE(frm->GoCmd->isEnabled());
}

// The items' work on one slot without any window: what it tells the view, in
// order, and that a view gone during the device call hears nothing more.
class RecordingView final : public RunView {
public:
    std::vector<std::string> seen;
    bool goneAfterDevice = false;
    bool deviceCalled = false;

    bool Gone() override { return goneAfterDevice && deviceCalled; }
    void StartProgress(int row) override { Say("start", row); }
    void EndProgress(int row) override { Say("end", row); }
    void ShowResultPair(ResultColumn c, int row) override { Say("show", row, c); }
    void HideResultBox(ResultColumn c, ResultBox b, int row) override {
        Say(b == ResultBox::Green ? "hide green" : "hide red", row, c);
    }
    void SetResultCaption(ResultColumn c, ResultBox b, int row, const QString& text) override {
        Say((b == ResultBox::Green ? "green " : "red ") + text.toStdString(), row, c);
    }
    void SetPicture(int row, int picture) override {
        Say("picture " + std::to_string(picture), row);
    }
    void RepaintPicture(int row) override { Say("repaint", row); }

private:
    // "row:column what"; pictures have no column and say 0.
    void Say(const std::string& what, int row, ResultColumn c = ResultColumn::Format) {
        seen.push_back(std::to_string(row) + ":" + std::to_string(static_cast<int>(c)) + " " +
                       what);
    }
};

TEST(SlotItems, ReportToTheViewInOrderAndStopWhenItIsGone) {
    test::RecordingTransport transport;
    const std::string failed = "picture " + std::to_string(kPictureFailed);

    struct Case {
        const char* name;
        std::function<SlotOutcome(const SlotWork&, CarriedCaptions&)> run;
        SlotOutcome outcome;
        std::vector<std::string> seen;
    };
    const Case cases[] = {
        {"format fails on the chip scan",
         [](const SlotWork& w, CarriedCaptions& c) { return FormatSlot(w, 1, c); },
         SlotOutcome::Failed,
         {"1:0 start", "1:0 end", "1:0 show", "1:0 " + failed, "1:0 green X",
          "1:0 red Error Status = 75"}},
        {"identity written",
         [](const SlotWork& w, CarriedCaptions& c) { return ManufactureSlot(w, 1, c); },
         SlotOutcome::Ok,
         {"1:1 show", "1:1 green String = V", "1:1 red Write = V"}},
        {"config check fails",
         [](const SlotWork& w, CarriedCaptions& c) { return CheckConfigSlot(w, 1, c); },
         SlotOutcome::Failed,
         {"1:2 show", "1:0 " + failed, "1:2 green X", "1:2 red Error Status = 75"}},
        {"write protected",
         [](const SlotWork& w, CarriedCaptions&) { return CheckWriteProtectSlot(w, 1); },
         SlotOutcome::Ok,
         {"1:3 show", "1:3 hide red", "1:3 green Write Protected"}},
    };
    for (const Case& c : cases) {
        for (const bool gone : {false, true}) {
            StationContext ctx{transport};
            ctx.slots.DiskCount = 2;
            RecordingView view;
            view.goneAfterDevice = gone;
            // Every procedure fails with 0x75 where it can; Manufacture and
            // Check WP pass.
            auto fail = [&](StationContext& x, int16_t n) {
                view.deviceCalled = true;
                x.slots.Slot(n)->Status = 0x75;
                return int16_t{0};
            };
            DeviceProcedures dev;
            dev.ScanChips = [&](StationContext& x, int16_t n) { fail(x, n); };
            dev.CheckIdentity = fail;
            dev.WriteIdentity = [&](StationContext&, int16_t, int16_t) {
                return int16_t{view.deviceCalled = true};
            };
            dev.CheckWriteProtect = [&](StationContext&, int16_t) {
                return int16_t{view.deviceCalled = true};
            };
            const std::function<void(float)> wait;
            CarriedCaptions carried;
            const SlotOutcome outcome = c.run(SlotWork{ctx, dev, wait, view}, carried);
            EXPECT_EQ(outcome, gone ? SlotOutcome::Gone : c.outcome) << c.name;
            // Gone: only what came before the device call (Format's bar start,
            // a pair shown) may have reached the view.
            std::vector<std::string> expected = c.seen;
            if (gone) {
                expected.resize(1);
            }
            EXPECT_EQ(view.seen, expected) << c.name << (gone ? ", gone" : "");
        }
    }
}

} // namespace
} // namespace ufd
