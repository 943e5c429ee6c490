// The station window with real widgets, on a recording transport with fake
// device procedures or over the real libquorlink on the simulated fast rack
// (drive 5's chip list is too long, drive 6 is write protected). Pauses and
// beeps are recorded, not waited and sounded, unless a test wants them real.
#include "platform/beep.h"
#include "platform/clock.h"
#include "platform/message_box.h"
#include "platform/notice_channel.h"
#include "results/record_reader.h"
#include "results/results_store.h"
#include "results/status_reasons.h"
#include "station/batch.h"
#include "station/batch_json.h"
#include "station/drive_pictures.h"
#include "station/notice_receiver.h"
#include "station/operator_fields.h"
#include "station/run_recorder.h"
#include "station/station_form.h"
#include "station/twips.h"
#include "station/widget_helpers.h"
#include "support/null_sink.h"
#include "support/recording_transport.h"
#include "support/sim_rack.h"
#include "support/test_common.h"

#include <QApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLineEdit>
#include <QRegularExpression>
#include <QTest>

#include <atomic>
#include <mutex>

namespace ufd {
namespace {

// The window's report, a line per slot and the verdict, runs of spaces made one.
QStringList Rows(const TestFrm& frm) {
    const QString report = BatchReport(frm).replace(QRegularExpression(" +"), " ");
    return report.split('\n', Qt::SkipEmptyParts).mid(1);
}

// Which of Start, Clear and LED the operator may press.
std::string Buttons(const TestFrm& frm) {
    return {frm.GoCmd->isEnabled() ? 'G' : '-', frm.ClearCmd->isEnabled() ? 'C' : '-',
            frm.LedCmd->isEnabled() ? 'L' : '-'};
}

// The real library, but a capacity read can be made to fail as a drive that does not answer.
struct CapacityFails : QuorlinkTransport {
    uint16_t ReadCapacity(int32_t handle) override {
        return fail ? 0 : QuorlinkTransport::ReadCapacity(handle);
    }
    bool fail = false;
};

class Station : public ::testing::Test {
protected:
    void SetUp() override {
        ctx->replies = transport.files;
        // Every call succeeds but a probe of an index without a drive.
        transport.script = [this](const test::Call& c) {
            static const std::map<char, std::string> lines{
                {'P', "IDE\\DiskPC_System_Disk\r\n"},
                {'u', "usb\\UsbStor\r\n"},
                {'U', "USB\\VID_1234&PID_5678\\USBSTOR\\Disk\r\n"}};
            const bool probe = c.fn == "GetDiskHandle";
            const auto i = probe ? static_cast<size_t>(c.args[0]) : drives.size();
            const char k = i < drives.size() ? drives[i] : '.';
            const auto status = static_cast<uint16_t>(!probe ? 1 : k == '.' ? 0 : 100 + i);
            return test::Answer{status, lines.count(k) ? std::optional(lines.at(k)) : std::nullopt};
        };
        SetBeepHandler([this] { events << "beep"; });
        SetMessageBoxHandler([this](const MessageBoxRequest& r) {
            return boxes.push_back(r), onBox(r), r.style == kStyleYesNoInfo ? answer : kAnswerOk;
        });
    }
    void TearDown() override { SetBeepHandler({}), SetMessageBoxHandler({}); }

    // The window on the recording transport, with a product of our own.
    StartupResult Load() {
        StationDependencies d = Recorded({});
        d.readProductConfig = [this](ProductConfig& p) {
            return p = {"EF", "GH", "1234", "5678", "AB", "CD", 0, 0, apMode, "LABEL"}, kConfigGood;
        };
        d.device = device;
        d.results = results;
        frm = std::make_unique<TestFrm>(*ctx, d);
        return frm->Form_Load();
    }

    // The window on the rack's fresh drives with the sample Product.ini,
    // where any box is a fault.
    void Open(bool parallel, std::shared_ptr<RunRecorder> results = nullptr) {
        frm.reset();
        rack.Reset();
        ctx = std::make_unique<StationContext>(quorlink);
        ctx->Settings.Parallel = parallel;
        StationDependencies d = Recorded(StationDependencies::Real());
        d.readProductConfig = [](ProductConfig& p) {
            return ReadProductConfig(p, UFD_SOURCE_DIR "/examples/Product.ini");
        };
        d.pumpEvents = [this] {
            DefaultEventPump().ProcessPending();
            onPump();
        };
        d.noticeChannel = rack.Path("notices");
        d.results = results;
        d.startWorker = startWorker;
        onBox = [](const MessageBoxRequest& r) { ADD_FAILURE() << r.text.toStdString(); };
        frm = std::make_unique<TestFrm>(*ctx, d);
        ASSERT_TRUE(frm->Form_Load().ok);
        events.clear();
    }

    // The monitor never started; pauses recorded, the workers' apart
    // (any order), unless they are to be real.
    StationDependencies Recorded(StationDependencies d) {
        d.startMonitor = [](const QString&) { return 33; };
        if (!realPauses) {
            d.wait = [this](float s) { onWait((events << QString("wait %1").arg(s)).size()); };
            d.slotPause = [this](int row, float s) {
                std::lock_guard lock(mutex);
                workerPauses.push_back(s);
                onSlotPause(row);
            };
        }
        return d;
    }

    int Count(const std::string& fn) const { return static_cast<int>(transport.Calls(fn).size()); }
    // One character per item box: 1 where the state (ticked, enabled) holds.
    template <typename State> std::string Items(State state) const {
        std::string s;
        for (int i = 0; i < kItemCount; ++i) {
            s += std::invoke(state, frm->Check1(i)) ? '1' : '0';
        }
        return s;
    }
    // The drive and the arguments but the first of each traced read, each ended by a comma.
    QString Reads() const {
        QString reads;
        for (const auto& c : rack.Calls("Read")) {
            reads += QString("%1 %2 %3,").arg(c.drive).arg(c.args[1]).arg(c.args[2]);
        }
        return reads;
    }

    test::SimRack& rack = test::SimRack::Shared("fast.json");
    test::RecordingTransport transport;
    CapacityFails quorlink;
    std::unique_ptr<StationContext> ctx = std::make_unique<StationContext>(transport);
    std::unique_ptr<TestFrm> frm;
    // One letter per drive index, its handle 100 + index: U USB storage, u
    // "usbstor" in another case, P the PC's own disk, S USB storage that
    // leaves no reply file, . nothing.
    std::string drives;
    DeviceProcedures device;
    int16_t apMode = 1;
    int answer = kAnswerYes;
    std::vector<MessageBoxRequest> boxes;
    QStringList events;
    std::mutex mutex;
    std::vector<float> workerPauses;
    bool realPauses = false; // the run waits and sounds as on the line
    std::function<void(const MessageBoxRequest&)> onBox = [](const MessageBoxRequest&) {};
    std::function<void(int)> onWait = [](int) {}, onSlotPause = [](int) {};
    std::function<void()> onPump = [] {};
    std::function<std::thread(std::function<void()>)> startWorker;
    std::shared_ptr<RunRecorder> results; // Load()'s
};
using SimulatedRun = Station;

// A recorder of station line-9 on database, its journal in dir.
std::shared_ptr<RunRecorder> TempRecorder(const QTemporaryDir& dir, const QString& database) {
    return std::make_shared<RunRecorder>(
        std::make_shared<ResultsWriter>(ParseDatabaseSetting(database).target,
                                        dir.filePath("journal.jsonl")),
        RecorderIdentity{"line-9", "9.9", "ab"});
}
using BeepHeard = Station;

// [Window] Rows: sixteen drives all passing; every shown row inside the row
// area and apart, the window on the smallest line screen (1366 x 768 less a
// title bar and a panel).
TEST_F(Station, EveryRowShownWholeAndApartOnOneScreen) {
    drives = std::string(kMaxSlots, 'U');
    device.WriteIdentity = [](StationContext&, int16_t, int16_t) { return int16_t{1}; };
    device.CheckIdentity = [](StationContext&, int16_t) { return int16_t{2}; };
    auto rowRect = [this](int r) {
        const auto g = [](const QWidget* w) { return w->geometry(); };
        return g(frm->ThumbImage(r)) | g(frm->ItemLab(r)) | g(frm->ProgressBar(r)) | g(frm->FG(r)) |
               g(frm->FR(r)) | g(frm->LLG(r)) | g(frm->LLR(r)) | g(frm->CC1mG(r)) |
               g(frm->CC1mR(r)) | g(frm->CCG(r)) | g(frm->CCR(r));
    };
    for (int rows : {7, 8, 9, 12, 16}) {
        SCOPED_TRACE(rows);
        ctx->Settings.WindowRows = rows;
        ASSERT_TRUE(Load().ok);
        frm->GoCmd_Click();
        EXPECT_EQ(frm->size().boundedTo({1366, 768 - 80}), frm->size());
        for (int r = 0; r < kMaxSlots; ++r) {
            SCOPED_TRACE(r);
            const bool shown = r < rows;
            EXPECT_EQ(std::tuple(IsShown(frm->ItemLab(r)), IsShown(frm->ThumbImage(r)),
                                 IsShown(frm->FG(r)) && IsShown(frm->CC1mR(r))),
                      std::tuple(shown, shown, r <= rows));
            if (shown) {
                EXPECT_TRUE(frm->ScrollArea->rect().contains(rowRect(r)));
                for (int other = 0; other < r; ++other) {
                    EXPECT_FALSE(rowRect(r).intersects(rowRect(other))) << other;
                }
            }
        }
        // One hidden row past the shown ones, as the design has.
        EXPECT_TRUE(frm->ItemLab(rows) && !IsShown(frm->ItemLab(rows)));
        // Nothing else of the window lies on the rows.
        for (QWidget* w : std::initializer_list<QWidget*>{frm->Frame1, frm->GoCmd, frm->LedCmd,
                                                          frm->Image1, frm->UsbStrLab}) {
            EXPECT_TRUE(!w->geometry().intersects(frm->ScrollArea->geometry()) &&
                        frm->rect().contains(w->geometry()))
                << w->objectName().toStdString();
        }
    }
}

// Per mode, the items ticked and which the operator may change; Start with
// nothing ticked only says so. In mode 1 what start-up shows (the library's
// quorlink.conf notice on the status line without stopping it), then the item
// rule as the operator ticks.
TEST_F(Station, StartUpApModePresetsAndTheItemRule) {
    // Ticked, then enabled.
    const char* items[] = {"00000 00000", "11010 11011", "10000 00000", "01010 00000",
                           "00010 00000", "00001 00000", "00000 00000"};
    drives = "U";
    transport.notice = "No USB drive may be used: [Drives] Allow= in /x/quorlink.conf lists none.";
    for (apMode = 0; apMode <= 6; ++apMode) {
        ASSERT_TRUE(Load().ok);
        EXPECT_EQ(Items(&QCheckBox::isChecked) + " " + Items(&QCheckBox::isEnabled), items[apMode]);
    }
    frm->GoCmd_Click();
    EXPECT_EQ(Buttons(*frm), "G--");

    apMode = 1;
    ASSERT_TRUE(Load().ok);
    EXPECT_EQ(QStringList({frm->VidPidLab->text(), frm->UsbStrLab->text(), frm->ScsiStrLab->text(),
                           frm->DiskLabContent->text(), frm->StatusLab->text()}),
              QStringList({"VID = 1234  PID = 5678", "USB String = AB  CD", "SCSI String = EF  GH",
                           "LABEL", transport.notice}));
    // One box so far, of the run without items: start-up shows none.
    EXPECT_EQ(std::tuple(boxes.size(), Buttons(*frm)), std::tuple(1U, "G--"));
    // Rows one step apart, the hidden eighth one too (the rows test shows which
    // are shown); seven rows are the design's window.
    EXPECT_EQ(std::tuple(frm->ItemLab(7)->text(), TwipTop(frm->ItemLab(7)), TwipTop(frm->CCR(3)),
                         TwipLeft(frm->GoCmd), frm->size(), frm->ScrollArea->geometry()),
              std::tuple(QString("Disk 7"), 7264.5, 540 + 3 * 943.5, 8258.0,
                         QSize(TwipsToPixels(9945), TwipsToPixels(7695)), QRect(4, 32, 535, 451)));
    EXPECT_FALSE(frm->ItemLab(8) || frm->findChild<QLabel*>("Function1Lab_2"));
    // clang-format off
    const std::tuple<int, bool, const char*> steps[] = {
        {kItemCheckWP, true, "00001"}, {kItemFormat, true, "10000"},
        {kItemCheckConfig, true, "10010"}, {kItemFormat, false, "00010"}};
    // clang-format on
    for (const auto& [item, tick, after] : steps) {
        frm->Check1(item)->setChecked(tick);
        EXPECT_EQ(Items(&QCheckBox::isChecked), after) << item << tick;
    }
}

// Storage at 0, 3 and 4 with the PC's disk at 1; the handle at 5 leaves no
// reply file and must not pass on the line of the storage probe before it.
// Then the notices: only the exact bytes "IN" keep the handles, the last one
// stands, and the timer acts on it once.
TEST_F(Station, DiscoveryKeepsStorageInIndexOrderClosesTheRestAndFollowsTheLastNotice) {
    // Drives; handles kept, in slot order; handles given back. Seventeen: no slot for the last.
    const std::tuple<std::string, std::vector<int64_t>, std::vector<int64_t>> cases[] = {
        {"UP.uuS", {100, 103, 104}, {101, 105}},
        {std::string(kProbeCount, 'U'),
         {100, 101, 102, 103, 104, 105, 106, 107, 108, 109, 110, 111, 112, 113, 114, 115},
         {116}}};
    for (const auto& c : cases) {
        drives = std::get<0>(c);
        transport.calls.clear();
        ASSERT_TRUE(Load().ok);
        std::vector<int64_t> handles, closed;
        std::ranges::transform(std::span(ctx->slots.DiskSlots).first(ctx->slots.DiskCount),
                               std::back_inserter(handles), &DiskSlot::Handle);
        std::ranges::transform(transport.Calls("CloseHandle"), std::back_inserter(closed),
                               [](const test::Call& call) { return call.args[0]; });
        EXPECT_EQ(std::tuple(drives, handles, closed), c);
    }
    const std::pair<QByteArray, int16_t> kinds[] = {
        {"IN", 1}, {QByteArray("IN\0", 3), 3}, {"", 3}, {"OUT", 3}, {"in", 3}};
    for (const auto& [bytes, flag] : kinds) {
        frm->WndProc_CopyData(bytes);
        EXPECT_EQ(ctx->DiskStatusFlag, flag) << bytes.toStdString();
    }
    transport.calls.clear();
    frm->Timer1_Timer();
    frm->Timer1_Timer();
    EXPECT_EQ(std::pair(Count("KillEXE"), Count("GetDiskHandle")), std::pair(1, kProbeCount));
}

// [Window] RowPerSocket: a row per [Sockets] socket, in index order. After a
// run socket A2's stick is pulled: its row empties and turns grey, the others
// keep their place and results although the slots renumber. A failed box
// says why, and so does the status line when its row is clicked.
TEST_F(Station, SocketRowsKeepTheirPlaceWhenASocketIsEmptied) {
    drives = "PUUUU";
    ctx->Settings.RowPerSocket = true;
    ctx->Settings.Sockets = {{3, "A3"}, {1, "A1"}, {2, "A2"}};
    device.WriteIdentity = [](StationContext&, int16_t, int16_t) { return int16_t{1}; };
    device.CheckIdentity = [](StationContext& c, int16_t n) {
        c.slots.Slot(n)->Status = n == 3 ? 0xF4 : 0;
        return static_cast<int16_t>(n == 3 ? 0 : 2);
    };
    ASSERT_TRUE(Load().ok);
    frm->GoCmd_Click();
    const QString why = "Error Status = F4: " + StatusReasonText(0xF4);
    EXPECT_EQ(QStringList({frm->CC1mG(2)->toolTip(), frm->CC1mR(2)->toolTip(),
                           frm->CC1mR(1)->toolTip(), frm->FR(2)->toolTip()}),
              QStringList({why, why, "", ""}));
    frm->ItemLab_Click(1);
    EXPECT_TRUE(frm->StatusLab->text().startsWith("1 drive(s)")) << "a passed row says nothing";
    frm->ThumbImage_Click(2);
    EXPECT_EQ(frm->StatusLab->text(), "A3 failed. " + why);

    drives = "PU.UU";
    frm->WndProc_CopyData("OUT");
    frm->Timer1_Timer();
    EXPECT_EQ(
        std::tuple(IsShown(frm->FG(1)), frm->ThumbImage(1)->toolTip(), frm->ItemLab(2)->toolTip()),
        std::tuple(false, QString("Socket A2 (drive index 2)\nNo drive"),
                   QString("Socket A3 (drive index 3)\nSerial (unknown)\nPort (unknown)")));
}

// Found drives without a row are named on the status line with the setting
// that shows them, until they are gone; the verdict green with VerdictColours.
TEST_F(Station, DrivesWithoutARowAreNamedAndTheVerdictColoured) {
    device.WriteIdentity = [](StationContext&, int16_t, int16_t) { return int16_t{1}; };
    device.CheckIdentity = [](StationContext&, int16_t) { return int16_t{2}; };
    // clang-format off
    const std::tuple<bool, std::string, QString> cases[] = {
        {false, std::string(9, 'U'), "2 drive(s) have no row on the window; station.conf shows "
                                     "them with [Window] Rows=9"},
        {true, "PUUUUUUU.U", "2 drive(s) have no row on the window (drive index 7, 9); "
                             "station.conf shows them with [Window] Rows=10"}};
    // clang-format on
    for (const auto& [perSocket, found, warning] : cases) {
        drives = found;
        ctx->Settings.RowPerSocket = ctx->Settings.VerdictColours = perSocket;
        ASSERT_TRUE(Load().ok);
        frm->GoCmd_Click();
        EXPECT_EQ(std::tuple(frm->StatusLab->text(), frm->PassLab->text(),
                             frm->PassLab->palette().color(QPalette::WindowText)),
                  std::tuple(warning, kAllPass, perSocket ? kVerdictPassed : kVerdictFailed));
        drives = "PU";
        frm->WndProc_CopyData("OUT");
        frm->Timer1_Timer();
        EXPECT_TRUE(frm->StatusLab->isHidden());
    }
}

// One slot per case, run together, sequential and parallel: each outcome's
// row. In parallel the first slot finishes last, yet a caption the result
// leaves unset (an identity answer outside 0..2) is still the slot before's.
TEST_F(Station, RowOfEachOutcome) {
    // Status after the chip scan, LastSector after the low-level format,
    // WriteIdentity's result, Status set by a failing CheckIdentity (0: it passes).
    enum { kScan, kSectors, kWrite, kCheck };
    const std::array<int32_t, 4> cases[] = {
        {254, 0, 1, 0},      {255, 0, 1, 0},    {0x123, 0, 1, 0},  {0, 1000, 2, 0},
        {0, 5000, 0, 0},     {0, 2000, 3, 0},   {0, 7000, 1, 254}, {0, 65537000, 1, 255},
        {0, 65534000, 1, 0}, {0, 2000, 1, 0xF4}};
    // Megabytes round half to even; above 32,767 MB the true size.
    const QStringList rows = {
        "1 Disk 0 red X | Error Status = Missing Handle String = V | Write = V V | \"\" - | - 254 "
        "missing handle: no drive to talk to",
        "2 Disk 1 red X | Read or Write failed String = V | Write = V V | \"\" - | - 255 read or "
        "write failed: extended boot record",
        "3 Disk 2 red X | Error Status = 123 String = V | Write = V V | \"\" - | - 291 unknown "
        "status 123",
        "4 Disk 3 red V | 1 Chip(s) 0 MB String = X | Write = X V | \"\" - | - 243 root directory "
        "not written",
        "5 Disk 4 red V | 1 Chip(s) 2 MB String = V | Write = X V | \"\" - | - 243 root directory "
        "not written",
        "6 Disk 5 green V | 1 Chip(s) 1 MB String = V | Write = X V | \"\" - | - 0",
        "7 Disk 6 red V | 1 Chip(s) 4 MB String = V | Write = V X | Error Status = FE - | - 254 "
        "missing handle: no drive to talk to",
        "8 Disk 7 red V | 1 Chip(s) 32768 MB String = V | Write = V X | Error Status = FF - | - "
        "255 read or write failed: extended boot record",
        "9 (hidden row) - - - - - 0",
        "10 (no row) - - - - - 244 identity read back differs from the one written",
        "Verdict: " + kFailed};
    const int count = static_cast<int>(std::size(cases));
    drives = std::string(count, 'U');
    ctx->Settings.WindowRows = 8;
    auto of = [&](int16_t n, int field) { return static_cast<int16_t>(cases[n - 1][field]); };
    std::atomic<int> formats = 0, checks = 0;
    device.ScanChips = [&](StationContext& c, int16_t n) {
        c.slots.Slot(n)->ChipCount = 1;
        c.slots.Slot(n)->Status = of(n, kScan);
    };
    device.LowLevelFormat = [&](StationContext& c, int16_t n) {
        ++formats;
        c.slots.Slot(n)->LastSector = cases[n - 1][kSectors];
        return int16_t{1};
    };
    device.WriteIdentity = [&](StationContext& c, int16_t n, int16_t) {
        std::this_thread::sleep_for(n == 1 && ctx->Settings.Parallel ? 200ms : 0ms);
        // An even answer (0, 2) fails.
        c.slots.Slot(n)->Status = of(n, kWrite) % 2 ? c.slots.Slot(n)->Status : int16_t{0xF3};
        return of(n, kWrite);
    };
    device.CheckIdentity = [&](StationContext& c, int16_t n) {
        ++checks;
        c.slots.Slot(n)->Status = of(n, kCheck) == 0 ? c.slots.Slot(n)->Status : of(n, kCheck);
        return static_cast<int16_t>(of(n, kCheck) == 0 ? 2 : 0);
    };
    for (const bool parallel : {false, true}) {
        SCOPED_TRACE(parallel);
        ctx->Settings.Parallel = parallel;
        formats = checks = 0;
        ASSERT_TRUE(Load().ok);
        frm->GoCmd_Click();
        // A failed chip scan skips the low-level format; slots without rows still run.
        EXPECT_EQ(std::tuple(formats.load(), checks.load(), Rows(*frm), Buttons(*frm)),
                  std::tuple(count - 3, count, rows, "-CL"));
    }
}

TEST_F(Station, ClosingTheWindowDuringARunEndsItQuietly) {
    drives = "UU";
    int scans = 0;
    device.ScanChips = [&](StationContext&, int16_t) { ++scans; };
    ASSERT_TRUE(Load().ok);
    onWait = [this](int) { frm.reset(); };
    frm->GoCmd_Click();
    EXPECT_EQ(std::tuple(frm.get(), scans, ctx->TestRunning, ctx->progress),
              std::tuple(nullptr, 0, kFalse, nullptr));
}

// Keys go in through the window as the desktop delivers them and press the
// focused button. Clearing asks first: No keeps the report, Yes clears it,
// and a removal during the question waits for the clearing to finish.
TEST_F(Station, KeysPressTheFocusedButtonAndClearingAsksFirst) {
    drives = "U";
    device.CheckIdentity = [](StationContext& c, int16_t n) {
        c.slots.Slot(n)->Status = 0xF4;
        return int16_t{0};
    };
    ASSERT_TRUE(Load().ok);
    frm->Timer1->stop(); // ticked by hand: the events a key press lets run must not tick it
    frm->show();
    frm->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(frm.get()));
    auto press = [this](QWidget* focus, bool keypad) {
        focus->setFocus();
        QTest::keyClick(frm->windowHandle(), keypad ? Qt::Key_Enter : Qt::Key_Return,
                        keypad ? Qt::KeypadModifier : Qt::NoModifier);
    };
    press(frm->GoCmd, false);
    EXPECT_EQ(QApplication::focusWidget(), frm->ClearCmd) << "Start ran";
    answer = kAnswerNo;
    press(frm->ClearCmd, true);
    const MessageBoxRequest& box = boxes.at(0);
    EXPECT_EQ(std::tuple(boxes.size(), box.text, box.title, box.style, box.parent),
              std::tuple(1U, "This action will clear the test report, Do you want to continue ?",
                         "Clear Report", kStyleYesNoInfo, frm.get()));
    // The verdict hidden while asking, and not shown again.
    EXPECT_EQ(
        std::tuple(Buttons(*frm), Rows(*frm).join(",")),
        std::tuple("-CL",
                   "1 Disk 0 red V | 0 Chip(s) 0 MB String = V | Write = X X | "
                   "Error Status = F4 - | - 244 identity read back differs from the one written,"
                   "Verdict: (none)"));

    answer = kAnswerYes;
    onBox = [this](const MessageBoxRequest&) {
        frm->WndProc_CopyData("OUT");
        frm->Timer1_Timer();
    };
    press(frm->ClearCmd, false);
    EXPECT_EQ(std::tuple(boxes.size(), Count("KillEXE"), ctx->DiskStatusFlag, frm->CC1mG(0)->text(),
                         Buttons(*frm), Rows(*frm).join(",")),
              std::tuple(2U, 0, 3, "", "G--",
                         "1 Disk 0 yellow - | - - | - - | - - | - 0,Verdict: (none)"));
    frm->Timer1_Timer();
    EXPECT_EQ(Count("KillEXE"), 1);
}

TEST_F(SimulatedRun, BeepsAndTheLed) {
    Open(false);
    frm->Ch->setChecked(true);
    frm->GoCmd->click();
    // A pause per slot, the two between items, then five beeps with a pause
    // after each for each of the two failed drives.
    EXPECT_EQ(events.join(",") + ",", QString("wait 0.1,").repeated(7) + "wait 0.5,wait 0.1," +
                                          QString("beep,wait 0.1,").repeated(10));

    // A click on a row flashes that drive alone, and only a failed one,
    // and says why it failed; each row names its drive.
    rack.ClearTrace();
    frm->ItemLab_Click(0);
    frm->ThumbImage_Click(4);
    EXPECT_EQ(Reads(), QString("5 75 0,").repeated(kLedPasses));
    EXPECT_EQ(
        QStringList({frm->StatusLab->text(), frm->FR(4)->toolTip(), frm->ItemLab(4)->toolTip()}),
        QStringList({"Disk 4 failed. Error Status = 10: " + StatusReasonText(0x10),
                     "Error Status = 10: " + StatusReasonText(0x10),
                     "Drive index 5\nSerial A5000005\nPort 1-5"}));
    // Three passes of the LED loop, then a notice; the next tick disables
    // the button and the loop stops.
    rack.ClearTrace();
    int pumps = 0;
    onPump = [&] {
        if (++pumps == 3) {
            ASSERT_TRUE(DeliverNotice("OUT", rack.Path("notices"), 1000).delivered);
            EXPECT_TRUE(QTest::qWaitFor([&] { return !frm->LedCmd->isEnabled(); }, 5000));
        }
    };
    frm->LedCmd->click();
    EXPECT_EQ(std::pair(pumps, Reads()), std::pair(3, QString("5 75 0,6 75 0,").repeated(3)));
}

// Drive 3 pulled in the pause before its Format fails its own items; the
// others run on. The unplug runs on the window's thread, as the operator's
// hand would, and its notice waits for the end of the run; the report then
// stands until it is cleared.
TEST_F(SimulatedRun, DrivePulledMidRunFailsOnlyItsOwnItems) {
    // The fast rack's report after a run of the sample Product.ini, drive 3 pulled.
    const QStringList rows = {
        "1 Disk 0 green V | 2 Chip(s) 500 MB String = V | Write = V V | \"\" - | - 0",
        "2 Disk 1 green V | 4 Chip(s) 1000 MB String = V | Write = V V | \"\" - | - 0",
        "3 Disk 2 red X | Error Status = 75 String = V | Write = X X | Error Status = 82 - | - 130 "
        "configuration block not read back",
        "4 Disk 3 green V | 1 Chip(s) 32 MB String = V | Write = V V | \"\" - | - 0",
        "5 Disk 4 red X | Error Status = 10 String = V | Write = V V | \"\" - | - 16 a unit of "
        "chip 0 rejected: its "
        "unit list is too long",
        "6 Disk 5 red X | Error Status = F0 String = V | Write = V V | \"\" - | - 240 master boot "
        "record not written",
        "7 Disk 6 green V | 1 Chip(s) 128 MB String = V | Write = V V | \"\" - | - 0",
        "Verdict: ! FAILED !"};
    for (const bool parallel : {false, true}) {
        SCOPED_TRACE(parallel);
        auto pull = [this](bool now) {
            if (now) {
                rack.Tool({"unplug", "3"});
                EXPECT_TRUE(DeliverNotice("OUT", rack.Path("notices"), 1000).delivered);
                EXPECT_TRUE(QTest::qWaitFor([this] { return ctx->DiskStatusFlag != 0; }, 5000));
            }
        };
        onWait = [&](int wait) { pull(!parallel && wait == 3); };
        onSlotPause = [&](int row) {
            QMetaObject::invokeMethod(
                qApp, [&] { pull(row == 2); }, Qt::BlockingQueuedConnection);
        };
        Open(parallel);
        frm->GoCmd->click();
        // No discovery during the run; after it, one without drive 3. In
        // parallel the pause before each slot's format moved to the workers;
        // the rest stayed on the window's thread.
        EXPECT_EQ(
            std::tuple(Rows(*frm), ctx->DiskStatusFlag, workerPauses, events.join(",")),
            std::tuple(rows, 3, std::vector<float>(parallel ? 7 : 0, 0.1F),
                       QString("wait 0.1,").repeated(parallel ? 0 : 7) + "wait 0.5,wait 0.1"));
        // Drive 3 failed for being pulled (it no longer answers), the others for their own causes.
        QStringList causes;
        for (const DriveState& d : frm->State().drives) {
            causes << ShortReason(d);
        }
        EXPECT_EQ(causes.join(','), ",,pulled,,controller,write failed,");
        EXPECT_TRUE(QTest::qWaitFor([this] { return ctx->slots.DiskCount == 6; }, 5000) &&
                    !frm->GoCmd->isEnabled());
    }
}

// Closing the window while the workers format ends the run quietly: no
// verdict, no further item, not even the pause after Format, and the run is
// over when the click returns.
TEST_F(SimulatedRun, ClosingTheWindowDuringAParallelRunEndsItQuietly) {
    Open(true);
    onSlotPause = [this](int) {
        QMetaObject::invokeMethod(
            frm.get(), [this] { frm->close(); }, Qt::QueuedConnection);
    };
    frm->GoCmd->click();
    EXPECT_EQ(std::tuple(frm->Closing(), ctx->TestRunning, frm->PassLab->isVisible(), events),
              std::tuple(true, kFalse, false, QStringList()));
}

// Every third worker thread of a parallel run cannot be had: those slots run on the window's
// thread while the started workers report as ever, and the report is the sequential run's.
TEST_F(SimulatedRun, WorkerThreadsThatCannotStartLeaveNoSlotBehind) {
    QStringList sequential;
    int asked = 0;
    startWorker = [&asked](std::function<void()> work) {
        if (++asked % 3 == 0) {
            throw std::system_error(EAGAIN, std::generic_category(), "no thread");
        }
        return std::thread(std::move(work));
    };
    for (const bool parallel : {false, true}) {
        Open(parallel);
        frm->GoCmd->click();
        if (!parallel) {
            sequential = Rows(*frm);
        }
    }
    EXPECT_EQ(std::pair(Rows(*frm), asked > 6), std::pair(sequential, true));
}

// Every run leaves one record per slot with what the window showed; when
// the database cannot be written the window says so in its warning line.
TEST_F(SimulatedRun, EachRunRecordsEverySlotOrShowsWhyNot) {
    QTemporaryDir dir;
    // The second lies below a file: never writable.
    for (const QString& file : {dir.filePath("results.sqlite"), dir.filePath("results.sqlite/x")}) {
        SCOPED_TRACE(file.toStdString());
        const DatabaseTarget target = ParseDatabaseSetting(file).target;
        auto recorder = TempRecorder(dir, file);
        Open(false, recorder);
        recorder->Attach(*frm);
        frm->GoCmd->click();
        const bool stored = recorder->WaitStored().stored;
        EXPECT_EQ(stored, !file.endsWith("/x"));
        // The writer's word reaches the window through its event queue.
        const auto* bar = frm->findChild<QLabel*>(QStringLiteral("ResultsLab"));
        ASSERT_NE(bar, nullptr);
        EXPECT_TRUE(QTest::qWaitFor([&] { return bar->isHidden() == stored; }, 5000));
        if (!stored) {
            // All of its lines, inside the window.
            EXPECT_TRUE(bar->text().startsWith("Results not stored in "));
            EXPECT_TRUE(bar->height() >= bar->heightForWidth(bar->width()) &&
                        frm->rect().contains(bar->geometry()));
            continue;
        }
        QString error;
        const auto records = RecordReader(target).Records({}, &error).value();
        ASSERT_EQ(records.size(), 7U);
        const auto& [ok, failed] = std::tie(records[0], records[4]);
        // Check WP was not ticked; serials, verdicts and run ids the listing test reads back.
        EXPECT_EQ(QStringList({ok.PortPath, ok.Items[0].value().Lower, ok.Items[2].value().Upper,
                               ok.Items[2].value().Lower, failed.Items[0].value().Upper,
                               failed.Items[0].value().Lower}),
                  QStringList({"1-1", "2 Chip(s)   500 MB", "V", "", "X", "Error Status = 10"}));
        EXPECT_EQ(std::tuple(ok.DriveIndex, ok.CapacitySectors, ok.Items[3].has_value(),
                             failed.CapacitySectors, failed.Items[0].value().Status),
                  std::tuple(std::optional(1), std::optional<qint64>(1000000), false,
                             std::optional<qint64>(), 0x10));
    }
}

// A slot forgets its drive at rediscovery: when the next run cannot read the capacity, neither
// the record nor the volume takes the size the slot's drive had before the report was cleared
// (the sizes are 0, whose two areas cannot be laid out: the write's failure replaces 0x9A).
TEST_F(SimulatedRun, AFailedCapacityReadTakesNoSizeFromBefore) {
    QTemporaryDir dir;
    const DatabaseTarget target = ParseDatabaseSetting(dir.filePath("r.sqlite")).target;
    auto recorder = TempRecorder(dir, target.file);
    Open(false, recorder);
    frm->GoCmd->click();
    ASSERT_TRUE(recorder->WaitStored().stored);
    const QString laidOut = rack.Tool({"partitions", "1"});
    onBox = [](const MessageBoxRequest&) {}; // the clearing question, answered Yes
    frm->ClearCmd->click();                  // rediscovers
    quorlink.fail = true;
    frm->GoCmd->click();
    ASSERT_TRUE(recorder->WaitStored().stored);
    QString error;
    const auto records = RecordReader(target).Records({}, &error).value();
    ASSERT_EQ(records.size(), 14U) << error.toStdString();
    EXPECT_EQ(std::tuple(records[0].CapacitySectors, records[7].Slot, records[7].CapacitySectors,
                         records[7].Items[0].value().Lower,
                         rack.Tool({"partitions", "1"}) != laidOut),
              std::tuple(std::optional<qint64>(1000000), 1, std::optional<qint64>(),
                         QString("Read or Write failed"), true));
    quorlink.fail = false;
}

// The slots one after another or all at once leave the same state, and every
// output takes the root cause from it: slot 2's Format failed with 0x10 and
// its Check Config with 0xF4, so its records and --json say 0x10 beside 0xF4.
TEST_F(Station, SequentialAndParallelRunsLeaveOneStateWithTheRootCause) {
    drives = "UUU";
    device.ScanChips = [](StationContext& c, int16_t n) {
        c.slots.Slot(n)->Status = n == 2 ? 0x10 : 0;
    };
    device.WriteIdentity = [this](StationContext&, int16_t n, int16_t) {
        // In parallel the first slot finishes last.
        std::this_thread::sleep_for(n == 1 && ctx->Settings.Parallel ? 100ms : 0ms);
        return static_cast<int16_t>(n == 3 ? 0 : 1);
    };
    device.CheckIdentity = [](StationContext& c, int16_t n) {
        if (n == 2) {
            c.slots.Slot(n)->Status = 0xF4;
        }
        return static_cast<int16_t>(n == 2 ? 0 : 2);
    };
    QTemporaryDir dir;
    std::vector<DriveState> sequential;
    for (const bool parallel : {false, true}) {
        SCOPED_TRACE(parallel);
        ctx->Settings.Parallel = parallel;
        const auto recorder = results = TempRecorder(dir, dir.filePath("results.sqlite"));
        ASSERT_TRUE(Load().ok);
        frm->GoCmd_Click();
        std::vector<DriveState> states = frm->State().drives;
        for (DriveState& s : states) {
            for (ItemState& i : s.items) {
                i.ms = 0; // the one thing that may differ
            }
        }
        if (!parallel) {
            sequential = states;
        }
        EXPECT_TRUE(states.size() == 3U && states == sequential);

        const std::vector<DriveRecord>& records = recorder->LastRun();
        ASSERT_EQ(records.size(), 3U);
        EXPECT_EQ(std::tuple(records[1].FirstStatus, records[1].FirstReason, records[1].Status,
                             records[0].FirstStatus, records[0].FirstReason),
                  std::tuple(std::optional<int>(0x10), StatusReasonText(0x10), 0xF4,
                             std::optional<int>(), QString()));
        EXPECT_TRUE(recorder->WaitStored().stored);

        const QJsonObject o =
            QJsonDocument::fromJson(BatchJson(frm.get(), recorder.get(), 1, {})).object();
        const QJsonObject second = o["drives"].toArray()[1].toObject();
        EXPECT_EQ(std::tuple(second["first_status"].toInt(), second["status"].toInt(),
                             second["first_reason"].toString(), o["product"]["vid"].toString(),
                             o["verdict"].toString(),
                             o["ended_utc"].toString() >= o["started_utc"].toString()),
                  std::tuple(0x10, 0xF4, StatusReasonText(0x10), QString("1234"), kFailed, true));
    }
}

// [Window] KeepReport on a rack of four sockets: A2's stick is pulled during
// the run (its check reads nothing back), A3's fails its check. After the
// run the sockets are rediscovered. Without the setting, as ever: the
// pictures turn yellow, A2's row empties and the LED button goes off. With
// it the report stands: every row, picture and the LED button stay, A2 is
// marked and failed for being pulled, and the LED flashes A3 where it is
// now. No on Clear keeps the verdict only with it; Yes clears all.
// [Window] VerdictColours goes with it here: a passing row's lower boxes lose
// the light red, a failed cell names its cause in a word beside the design's
// text (the batch table keeps the design's), and Clear brings the design back.
TEST_F(Station, AKeptReportStandsUntilClear) {
    const QString pass = "V | 0 Chip(s) 0 MB String = V | Write = V V | \"\" - | - 0";
    const QString a3 = "V | 0 Chip(s) 0 MB String = V | Write = V X | Error Status = F4 - | - "
                       "244 " +
                       StatusReasonText(0xF4);
    const QString a2 = "V | 0 Chip(s) 0 MB String = V | Write = V X | Error Status = 82 - | - 130 ";
    const auto script = transport.script;
    transport.script = [this, script](const test::Call& c) {
        const bool gone = c.fn == "TestUnitReady" && c.args[0] == 102 && drives[2] == '.';
        return gone ? test::Answer{0, std::nullopt} : script(c);
    };
    device.WriteIdentity = [this](StationContext&, int16_t n, int16_t) {
        if (n == 2) {
            drives = "PU.UU";
            frm->WndProc_CopyData("OUT");
        }
        return int16_t{1};
    };
    device.CheckIdentity = [](StationContext& c, int16_t n) {
        const int16_t status = n == 2 ? 0x82 : n == 3 ? 0xF4 : 0;
        c.slots.Slot(n)->Status = status != 0 ? status : c.slots.Slot(n)->Status;
        return static_cast<int16_t>(status != 0 ? 0 : 2);
    };
    struct Case {
        bool keep;
        QString afterRun;    // A2's caption after the run
        QStringList rows;    // after the rediscovery
        std::string buttons; // after the rediscovery
        int a2Picture;
        QString verdictAfterNo;
    };
    const Case cases[] = {
        {false,
         "A2",
         {"1 A1 yellow " + pass, "2 A3 yellow " + a3.left(a3.indexOf(" 244")) + " 0",
          "3 A4 yellow " + pass, "Verdict: " + kFailed},
         "-C-",
         kPictureNoDrive,
         "(none)"},
        {true,
         "A2 pulled",
         {"1 A1 green " + pass, "2 A2 (removed) red " + a2 + "pulled during the run",
          "3 A3 red " + a3, "4 A4 green " + pass, "Verdict: " + kFailed},
         "-CL",
         kPictureFailed,
         kFailed},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.keep);
        drives = "PUUUU";
        ctx->Settings.RowPerSocket = true;
        ctx->Settings.KeepReport = ctx->Settings.VerdictColours = k.keep;
        ctx->Settings.Sockets = {{1, "A1"}, {2, "A2"}, {3, "A3"}, {4, "A4"}};
        ASSERT_TRUE(Load().ok);
        frm->GoCmd_Click();
        EXPECT_EQ(std::tuple(frm->State().drives.at(1).pulled, FirstReason(frm->State().drives[1]),
                             frm->State().drives.at(2).pulled, frm->ItemLab(1)->text()),
                  std::tuple(true, kPulledReason, false, k.afterRun));
        const auto red = [this](int row) {
            return frm->FR(row)->palette().color(QPalette::Window) == kLightRed;
        };
        EXPECT_EQ(std::tuple(red(0), red(2), frm->CC1mR(2)->text()),
                  std::tuple(!k.keep, true,
                             k.keep ? QString("Error Status = F4 \u2013 identity")
                                    : QString("Error Status = F4")));
        frm->Timer1_Timer();
        EXPECT_EQ(std::tuple(Rows(*frm), Buttons(*frm), frm->PictureOf(1)),
                  std::tuple(k.rows, k.buttons, k.a2Picture));
        EXPECT_EQ(frm->ExplainRow(1), k.keep);
        if (k.keep) {
            EXPECT_EQ(frm->StatusLab->text(), "A2 failed. pulled during the run (Error Status = "
                                              "82: " +
                                                  StatusReasonText(0x82) + ")");
            transport.calls.clear();
            frm->LedCmd_Click();
            const auto reads = transport.Calls("Read");
            EXPECT_EQ(std::pair(reads.size(), reads.empty() ? 0 : reads.front().args[0]),
                      std::pair(size_t{kLedPasses}, int64_t{103}));
        }
        answer = kAnswerNo;
        frm->ClearCmd_Click();
        EXPECT_EQ(Rows(*frm).back(), "Verdict: " + k.verdictAfterNo);
        answer = kAnswerYes;
        frm->ClearCmd_Click();
        EXPECT_EQ(
            std::tuple(Rows(*frm), Buttons(*frm), frm->ItemLab(1)->text(), frm->PictureOf(1),
                       frm->PassLab->isHidden(), red(0)),
            std::tuple(QStringList({"1 A1 yellow - | - - | - - | - - | - 0",
                                    "2 A3 yellow - | - - | - - | - - | - 0",
                                    "3 A4 yellow - | - - | - - | - - | - 0", "Verdict: (none)"}),
                       "G--", QString("A2"), kPictureNoDrive, true, true));
    }
}

// With a row per socket the slot's row is not the slot's number: the media
// test's share moves the bar of the drive's own row, as Format's steps do.
TEST_F(Station, TheMediaTestMovesItsOwnDrivesBar) {
    drives = ".U.U";
    ctx->Settings.RowPerSocket = true;
    std::vector<int> bars;
    device.LowLevelFormat = [&](StationContext& c, int16_t n) {
        c.progress->MediaProgress(n - 1, 0.5);
        for (int row = 0; row < 4; ++row) {
            bars.push_back(frm->ProgressBar(row)->value());
        }
        return int16_t{1};
    };
    ASSERT_TRUE(Load().ok);
    const int untouched = frm->ProgressBar(0)->value();
    frm->GoCmd_Click();
    // The second drive's format finds the first one's bar full and hidden.
    EXPECT_EQ(bars, std::vector<int>(
                        {untouched, 50, untouched, untouched, untouched, 100, untouched, 50}));
}

// [Records] RequireOperatorLot: Start stays off, and the status line says
// why, until both fields hold something.
TEST_F(Station, StartWaitsForTheOperatorAndTheLot) {
    drives = "U";
    ASSERT_TRUE(Load().ok);
    QTemporaryDir dir;
    const auto recorder = TempRecorder(dir, dir.filePath("results.sqlite"));
    AddOperatorFields(*frm, *recorder, QString("Ann"), std::nullopt, false, true);
    auto* lot = frm->findChild<QLineEdit*>("LotText");
    ASSERT_NE(lot, nullptr);
    const auto seen = [&] {
        return std::tuple(frm->GoCmd->isEnabled(),
                          frm->StatusLab->isHidden() ? QString() : frm->StatusLab->text());
    };
    const QString why = OperatorLotMissing("Ann", "");
    EXPECT_FALSE(why.isEmpty());
    EXPECT_EQ(seen(), std::tuple(false, why));
    lot->setText("L-1");
    EXPECT_EQ(std::tuple(seen(), recorder->Lot()), std::tuple(std::tuple(true, QString()), "L-1"));
    lot->setText(" ");
    EXPECT_EQ(seen(), std::tuple(false, why));
}

// The beep as the operator hears it: "Enable Beep" ticked, the run's real
// pauses and its real beep playing into a private sound server, recorded.
TEST_F(BeepHeard, FiveTonesPerFailedDrive) {
    test::NullSink sink;
    if (!sink.Ok()) {
        GTEST_SKIP() << "no private sound server (pulseaudio, pulseaudio-utils)";
    }
    // Before anything in this process opens the sound system.
    qputenv("PULSE_SERVER", sink.Server());
    SetBeepHandler({});
    realPauses = true;
    Open(false);
    frm->Ch->setChecked(true);
    ASSERT_TRUE(sink.StartRecording());
    frm->GoCmd->click();
    QTest::qWait(300); // the last tone plays out
    const auto tones = test::FindTones(sink.StopRecording(), 2000);
    ASSERT_EQ(tones.size(), 10U);
    for (size_t i = 0; i < tones.size(); ++i) {
        // A 60 ms tone at 880 Hz, then the run's pause of 0.1 s before the
        // next (longer on a busy machine).
        const double gap = i > 0 ? tones[i].start - tones[i - 1].start : 0.1;
        EXPECT_TRUE(std::abs(tones[i].length - 0.06) <= 0.015 &&
                    std::abs(tones[i].hz - 880) <= 30 && gap >= 0.085 && gap <= 0.3)
            << i;
    }
}

} // namespace
} // namespace ufd
