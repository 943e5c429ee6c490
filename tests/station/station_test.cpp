// The station window with real widgets, a scripted operator and a recording
// transport: start-up, discovery, notices, the item rule, the run's texts,
// clearing and the LED loop.
#include "platform/beep.h"
#include "platform/message_box.h"
#include "station/batch.h"
#include "station/drive_pictures.h"
#include "station/notice_receiver.h"
#include "station/test_frm.h"
#include "station/twips.h"
#include "support/recording_transport.h"

#include <QApplication>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <set>
#include <vector>

namespace ufd {
namespace {

using test::Answer;
using test::Call;
using test::RecordingTransport;

// Drive indexes with their device lines; handles are 100 + index.
struct Rack {
    std::map<int, std::string> lines;
    std::set<int> silent; // a handle but no reply file
};

class Station : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        files = std::make_unique<ReplyFiles>(dir.filePath("q.txt").toStdString(),
                                             dir.filePath("q.bin").toStdString());
        transport = std::make_unique<RecordingTransport>(*files);
        transport->script = [this](const Call& c) {
            Answer a;
            if (c.fn == "GetDiskHandle") {
                const int index = static_cast<int>(c.args[0]);
                if (!rack.lines.contains(index)) {
                    a.status = 0;
                    return a;
                }
                a.status = static_cast<uint16_t>(100 + index);
                if (!rack.silent.contains(index)) {
                    a.text = rack.lines[index] + "\r\n";
                }
            }
            return a;
        };
        ctx = std::make_unique<StationContext>(*transport);
        ctx->replies = *files;
        SetMessageBoxHandler([this](const MessageBoxRequest& r) {
            boxes.push_back(r);
            if (onBox) {
                onBox(r);
            }
            return r.style == kStyleYesNoInfo ? answer : kAnswerOk;
        });
        SetBeepHandler([this] { ++beeps; });
    }
    void TearDown() override {
        frm.reset();
        SetMessageBoxHandler({});
        SetBeepHandler({});
    }

    StationDependencies Deps() {
        StationDependencies d;
        d.readProductConfig = [this](ProductConfig& p) {
            p.Vid = "1234";
            p.Pid = "5678";
            p.UsbManufactureString = "AB";
            p.UsbProductString = "CD";
            p.ScsiManufactureString = "EF";
            p.ScsiProductString = "GH";
            p.ApMode = apMode;
            p.DiskLabel = "LABEL";
            return configResult;
        };
        d.buildSectorTemplates = [](StationContext&) {};
        d.startMonitor = [this](const QString& program) {
            monitorStarts.push_back(program);
            return monitorResult;
        };
        d.wait = [this](float s) {
            waits.push_back(s);
            if (onWait) {
                onWait();
            }
        };
        d.pumpEvents = [this] {
            ++pumps;
            if (onPump) {
                onPump();
            }
        };
        d.device = device;
        return d;
    }

    StartupResult Load() {
        frm = std::make_unique<TestFrm>(*ctx, Deps());
        return frm->Form_Load();
    }

    int Count(const std::string& fn) const { return static_cast<int>(transport->Calls(fn).size()); }

    QTemporaryDir dir;
    std::unique_ptr<ReplyFiles> files;
    std::unique_ptr<RecordingTransport> transport;
    std::unique_ptr<StationContext> ctx;
    std::unique_ptr<TestFrm> frm;
    Rack rack;
    DeviceProcedures device;
    int16_t configResult = kConfigGood;
    int16_t apMode = 1;
    int monitorResult = 33;
    int answer = kAnswerYes;
    std::vector<MessageBoxRequest> boxes;
    std::function<void(const MessageBoxRequest&)> onBox;
    std::vector<QString> monitorStarts;
    std::vector<float> waits;
    std::function<void()> onWait;
    std::function<void()> onPump;
    int pumps = 0;
    int beeps = 0;
};

// Device procedures that pass every item.
DeviceProcedures Passing() {
    DeviceProcedures d;
    d.ScanChips = [](StationContext& c, int16_t n) { c.slots.Slot(n)->ChipCount = 2; };
    d.LowLevelFormat = [](StationContext& c, int16_t n) {
        c.slots.Slot(n)->LastSector = 1000000;
        return int16_t{1};
    };
    d.WriteIdentity = [](StationContext&, int16_t, int16_t) { return int16_t{1}; };
    d.CheckIdentity = [](StationContext&, int16_t) { return int16_t{2}; };
    d.CheckWriteProtect = [](StationContext&, int16_t) { return int16_t{1}; };
    return d;
}

const std::string kUsb = "USB\\VID_1234&PID_5678\\USBSTOR\\Disk";

// ------------------------------------------------------------ start-up

TEST_F(Station, StartUpFailuresShowTheirBoxAndEndBeforeDiscovery) {
    struct Case {
        int16_t config;
        int monitor;
        QString text;
        std::optional<QString> title;
        int monitorStarts;
    };
    const Case cases[] = {
        {kConfigSharesWrong, 33, "Partition Information error", kWindowCaption, 0},
        {kConfigUnreadable, 33, "Open Product.ini failed", kWindowCaption, 0},
        {kConfigGood, 31, "Missing important file, please reinstall the software", std::nullopt, 1},
    };
    rack.lines[0] = kUsb;
    for (const Case& c : cases) {
        boxes.clear();
        monitorStarts.clear();
        transport->calls.clear();
        configResult = c.config;
        monitorResult = c.monitor;
        const StartupResult r = Load();
        EXPECT_FALSE(r.ok);
        EXPECT_EQ(r.reason, c.text);
        ASSERT_EQ(boxes.size(), 1U);
        EXPECT_EQ(boxes[0].text, c.text);
        EXPECT_EQ(boxes[0].style, kStyleStop);
        EXPECT_EQ(boxes[0].title, c.title);
        EXPECT_EQ(static_cast<int>(monitorStarts.size()), c.monitorStarts);
        EXPECT_EQ(Count("GetDiskHandle"), 0) << "no discovery after a start-up failure";
    }
}

TEST_F(Station, StartUpShowsIdentityStartsMonitorAndDiscovers) {
    rack.lines[0] = kUsb;
    ASSERT_TRUE(Load().ok);
    EXPECT_TRUE(boxes.empty());
    EXPECT_EQ(frm->VidPidLab->text(), "VID = 1234  PID = 5678");
    EXPECT_EQ(frm->UsbStrLab->text(), "USB String = AB  CD");
    EXPECT_EQ(frm->ScsiStrLab->text(), "SCSI String = EF  GH");
    EXPECT_EQ(frm->DiskLabContent->text(), "LABEL");
    ASSERT_EQ(monitorStarts.size(), 1U);
    EXPECT_TRUE(monitorStarts[0].endsWith("/Vasket"));
    EXPECT_EQ(Count("GetDiskHandle"), kProbeCount);
    EXPECT_EQ(frm->windowTitle(), kWindowCaption);
    EXPECT_EQ(frm->size(), QSize(663, 513));
    EXPECT_TRUE(frm->GoCmd->isEnabled());
    EXPECT_FALSE(frm->ClearCmd->isEnabled());
    EXPECT_FALSE(frm->LedCmd->isEnabled());
}

TEST_F(Station, ApModePresetsTickAndLock) {
    struct Case {
        int16_t mode;
        std::array<bool, 5> ticked;
        bool enabled;
    };
    const Case cases[] = {
        {0, {false, false, false, false, false}, false},
        {1, {true, true, false, true, false}, true},
        {2, {true, false, false, false, false}, false},
        {3, {false, true, false, true, false}, false},
        {4, {false, false, false, true, false}, false},
        {5, {false, false, false, false, true}, false},
        {6, {false, false, false, false, false}, false},
    };
    for (const Case& c : cases) {
        apMode = c.mode;
        ASSERT_TRUE(Load().ok);
        for (int i = 0; i < kItemCount; ++i) {
            EXPECT_EQ(frm->Check1(i)->isChecked(), c.ticked[static_cast<size_t>(i)])
                << "ApMode " << c.mode << " item " << i;
            const bool designEnabled = i != kItem1M;
            EXPECT_EQ(frm->Check1(i)->isEnabled(), c.enabled && designEnabled)
                << "ApMode " << c.mode << " item " << i;
        }
        EXPECT_TRUE(frm->Check1(kItem1M)->isHidden());
    }
}

// ------------------------------------------------------------ rows

TEST_F(Station, RowsAreBuiltOneStepApartAndRowSevenStaysHidden) {
    ASSERT_TRUE(Load().ok);
    for (int r = 0; r <= 7; ++r) {
        ASSERT_NE(frm->ItemLab(r), nullptr);
        EXPECT_EQ(frm->ItemLab(r)->text(), QString("Disk %1").arg(r));
        EXPECT_EQ(frm->PictureOf(r), kPictureNoDrive);
        EXPECT_EQ(IsShown(frm->ItemLab(r)), r < 7);
        EXPECT_EQ(IsShown(frm->ThumbImage(r)), r < 7);
        EXPECT_FALSE(IsShown(frm->FG(r)));
    }
    EXPECT_DOUBLE_EQ(TwipTop(frm->ItemLab(6)) + TwipHeight(frm->ItemLab(6)), 6576.0);
    EXPECT_DOUBLE_EQ(TwipTop(frm->ItemLab(7)), 7264.5);
    EXPECT_DOUBLE_EQ(TwipTop(frm->CCR(3)), 540 + 3 * 943.5);
    EXPECT_EQ(frm->ItemLab(8), nullptr);
    EXPECT_EQ(frm->PictureOf(8), 0);
}

TEST_F(Station, ShowDiskRowHidesAndEmptiesOnlyWithoutKeep) {
    ASSERT_TRUE(Load().ok);
    frm->FG(2)->setText("V");
    frm->CC1mR(2)->setText("x");
    TestFrm::ShowResultPair(frm->FG(2), frm->FR(2));
    TestFrm::ShowResultPair(frm->CC1mG(2), frm->CC1mR(2));
    frm->ShowDiskRow(kTrue, 2);
    EXPECT_TRUE(IsShown(frm->FG(2)));
    EXPECT_EQ(frm->FG(2)->text(), "V");
    frm->ShowDiskRow(kFalse, 2);
    for (QLabel* box : {frm->FG(2), frm->FR(2), frm->LLG(2), frm->LLR(2), frm->CC1mG(2),
                        frm->CC1mR(2), frm->CCG(2), frm->CCR(2)}) {
        EXPECT_FALSE(IsShown(box));
        EXPECT_TRUE(box->text().isEmpty());
    }
    EXPECT_TRUE(IsShown(frm->ItemLab(2)));
    frm->ShowDiskRow(kFalse, 12); // no such row: nothing happens
}

// ------------------------------------------------------------ discovery

TEST_F(Station, DiscoveryKeepsStorageInIndexOrderAndClosesTheRest) {
    rack.lines[0] = kUsb;
    rack.lines[1] = "IDE\\DiskPC_System_Disk";
    rack.lines[3] = "usb\\usbstor\\lower";
    rack.lines[4] = "SCSI\\Some UsbStor thing";
    ASSERT_TRUE(Load().ok);
    EXPECT_EQ(ctx->slots.DiskCount, 3);
    EXPECT_EQ(ctx->slots.DiskSlots[0].Handle, 100);
    EXPECT_EQ(ctx->slots.DiskSlots[1].Handle, 103);
    EXPECT_EQ(ctx->slots.DiskSlots[2].Handle, 104);
    EXPECT_EQ(ctx->slots.DiskSlots[1].DeviceText, "usb\\usbstor\\lower");
    for (int r = 0; r < 7; ++r) {
        EXPECT_EQ(frm->PictureOf(r), r < 3 ? kPictureAttached : kPictureNoDrive) << r;
    }
    const auto closes = transport->Calls("CloseHandle");
    ASSERT_EQ(closes.size(), 1U);
    EXPECT_EQ(closes[0].args[0], 101) << "the non-storage handle is given back";
    EXPECT_EQ(Count("KillEXE"), 0);
}

TEST_F(Station, HandleWithoutReplyFileIsNotJudgedByThePreviousLine) {
    rack.lines[0] = kUsb;
    rack.lines[2] = kUsb;
    rack.silent.insert(2);
    ASSERT_TRUE(Load().ok);
    EXPECT_EQ(ctx->slots.DiskCount, 1);
}

TEST_F(Station, SeventeenStorageDrivesFillSixteenSlots) {
    for (int i = 0; i < kProbeCount; ++i) {
        rack.lines[i] = kUsb;
    }
    ASSERT_TRUE(Load().ok);
    EXPECT_EQ(ctx->slots.DiskCount, kMaxSlots);
    const auto closes = transport->Calls("CloseHandle");
    ASSERT_EQ(closes.size(), 1U);
    EXPECT_EQ(closes[0].args[0], 116);
}

TEST_F(Station, RemovalNoticeClosesEverythingAndRenumbers) {
    rack.lines[0] = kUsb;
    rack.lines[3] = kUsb;
    rack.lines[4] = kUsb;
    ASSERT_TRUE(Load().ok);
    ctx->slots.DiskSlots[1].Status = 7;
    rack.lines.erase(0);
    transport->calls.clear();
    frm->WndProc_CopyData("OUT");
    frm->Timer1_Timer();
    EXPECT_EQ(ctx->DiskStatusFlag, 2);
    EXPECT_EQ(Count("KillEXE"), 1);
    std::vector<int64_t> closed;
    for (const Call& c : transport->Calls("CloseHandle")) {
        closed.push_back(c.args[0]);
    }
    EXPECT_EQ(closed, (std::vector<int64_t>{100, 103, 104}));
    EXPECT_EQ(ctx->slots.DiskCount, 2);
    EXPECT_EQ(ctx->slots.DiskSlots[0].Handle, 103);
    EXPECT_EQ(ctx->slots.DiskSlots[1].Handle, 104);
    EXPECT_EQ(ctx->slots.DiskSlots[1].Status, 0);
    EXPECT_EQ(ctx->slots.DiskSlots[2].Handle, 0);
    EXPECT_EQ(frm->PictureOf(2), kPictureNoDrive);
    EXPECT_EQ(frm->PictureOf(1), kPictureAttached);
}

TEST_F(Station, NoticeKindsAndOverwriting) {
    struct Case {
        QByteArray bytes;
        int16_t flag;
    };
    const Case cases[] = {{"IN", 1}, {QByteArray("IN\0", 3), 3}, {"", 3}, {"OUT", 3}, {"in", 3}};
    ASSERT_TRUE(Load().ok);
    for (const Case& c : cases) {
        frm->WndProc_CopyData(c.bytes);
        EXPECT_EQ(ctx->DiskStatusFlag, c.flag) << c.bytes.toStdString();
    }
    frm->WndProc_CopyData("IN");
    frm->WndProc_CopyData("OUT");
    transport->calls.clear();
    frm->Timer1_Timer();
    frm->Timer1_Timer();
    EXPECT_EQ(Count("KillEXE"), 1) << "two notices, one rediscovery of the later kind";
    EXPECT_EQ(Count("GetDiskHandle"), kProbeCount);
}

TEST_F(Station, NoticeThroughTheChannelSetsTheFlag) {
    ASSERT_TRUE(Load().ok);
    const QString channel = QString("station-test-%1").arg(QCoreApplication::applicationPid());
    StationDependencies d = Deps();
    d.noticeChannel = channel;
    frm = std::make_unique<TestFrm>(*ctx, d);
    ASSERT_TRUE(frm->Form_Load().ok);
    ASSERT_TRUE(SendStationNotice("IN", channel));
    for (int i = 0; i < 200 && ctx->DiskStatusFlag != 1; ++i) {
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 20);
    }
    EXPECT_EQ(ctx->DiskStatusFlag, 1);
}

TEST_F(Station, NoticesWaitWhileRunningOrClearing) {
    rack.lines[0] = kUsb;
    ASSERT_TRUE(Load().ok);
    transport->calls.clear();
    for (int16_t* flag : {&ctx->TestRunning, &ctx->ClearingReport}) {
        *flag = kTrue;
        frm->WndProc_CopyData("OUT");
        frm->Timer1_Timer();
        EXPECT_EQ(ctx->DiskStatusFlag, 3);
        EXPECT_EQ(Count("GetDiskHandle"), 0);
        *flag = kFalse;
    }
    frm->Timer1_Timer();
    EXPECT_EQ(ctx->DiskStatusFlag, 2);
    EXPECT_EQ(Count("GetDiskHandle"), kProbeCount);
}

TEST_F(Station, ArrivalAfterARunLeavesStartDisabledUntilCleared) {
    rack.lines[0] = kUsb;
    device = Passing();
    ASSERT_TRUE(Load().ok);
    frm->GoCmd_Click();
    ASSERT_TRUE(frm->ClearCmd->isEnabled());
    rack.lines[5] = kUsb;
    frm->WndProc_CopyData("IN");
    frm->Timer1_Timer();
    EXPECT_EQ(ctx->slots.DiskCount, 2);
    EXPECT_FALSE(frm->GoCmd->isEnabled());
    rack.lines.clear();
    frm->WndProc_CopyData("OUT");
    frm->Timer1_Timer();
    EXPECT_EQ(ctx->slots.DiskCount, 0);
    EXPECT_FALSE(frm->GoCmd->isEnabled());
}

// ------------------------------------------------------------ items

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

// ------------------------------------------------------------ test run

TEST_F(Station, NoItemsCheckedGivesStartBack) {
    rack.lines[0] = kUsb;
    apMode = 0;
    ASSERT_TRUE(Load().ok);
    frm->GoCmd_Click();
    ASSERT_EQ(boxes.size(), 1U);
    EXPECT_EQ(boxes[0].text, "No items checked");
    EXPECT_EQ(boxes[0].style, kStyleExclamation);
    EXPECT_FALSE(boxes[0].title.has_value());
    EXPECT_TRUE(frm->GoCmd->isEnabled());
    EXPECT_FALSE(frm->ClearCmd->isEnabled());
    EXPECT_EQ(ctx->TestRunning, kFalse);
    EXPECT_FALSE(IsShown(frm->PassLab));
}

TEST_F(Station, PassingRunShowsEveryColumnAndGreenPictures) {
    rack.lines[0] = kUsb;
    rack.lines[2] = kUsb;
    device = Passing();
    ASSERT_TRUE(Load().ok);
    frm->Check1(kItemCheckWP)->setChecked(true);
    frm->Check1(kItemFormat)->setChecked(true);
    frm->Check1(kItemManufacture)->setChecked(true);
    frm->Check1(kItemCheckConfig)->setChecked(true);
    frm->Ch->setChecked(true);
    frm->GoCmd_Click();
    for (int r = 0; r < 2; ++r) {
        EXPECT_EQ(frm->FG(r)->text(), "V");
        EXPECT_EQ(frm->FR(r)->text(), "2 Chip(s)   500 MB");
        EXPECT_EQ(frm->LLG(r)->text(), "String = V");
        EXPECT_EQ(frm->LLR(r)->text(), "Write = V");
        EXPECT_EQ(frm->CC1mG(r)->text(), "V");
        EXPECT_EQ(frm->CC1mR(r)->text(), "");
        EXPECT_FALSE(IsShown(frm->CCG(r))) << "Check WP was unticked by the rule";
        EXPECT_EQ(frm->PictureOf(r), kPicturePassed);
    }
    EXPECT_EQ(frm->PassLab->text(), kAllPass);
    EXPECT_TRUE(IsShown(frm->PassLab));
    EXPECT_EQ(beeps, 0);
    EXPECT_FALSE(frm->LedCmd->isEnabled());
    EXPECT_TRUE(frm->ClearCmd->isEnabled());
    EXPECT_FALSE(frm->GoCmd->isEnabled());
    EXPECT_EQ(waits, (std::vector<float>{0.1F, 0.1F, 0.5F, 0.1F}));
}

TEST_F(Station, FailureTextsPicturesBeepsAndLed) {
    for (int i = 0; i < 5; ++i) {
        rack.lines[i] = kUsb;
    }
    device = Passing();
    // Slot 1: chip scan fails 0x75; 2: missing handle; 3: 255; 4: 0x123; 5 passes.
    const std::map<int, int16_t> scanStatus{{1, 0x75}, {2, 254}, {3, 255}, {4, 0x123}};
    int formats = 0;
    device.ScanChips = [&](StationContext& c, int16_t n) {
        c.slots.Slot(n)->ChipCount = 1;
        if (scanStatus.contains(n)) {
            c.slots.Slot(n)->Status = scanStatus.at(n);
        }
    };
    device.LowLevelFormat = [&](StationContext& c, int16_t n) {
        ++formats;
        c.slots.Slot(n)->LastSector = 3001; // 1.5005 -> 2
        return int16_t{1};
    };
    device.WriteIdentity = [](StationContext&, int16_t n, int16_t) {
        return static_cast<int16_t>(n == 1 ? 0 : 1);
    };
    ASSERT_TRUE(Load().ok);
    frm->Ch->setChecked(true);
    frm->GoCmd_Click();
    EXPECT_EQ(formats, 1) << "a failed chip scan skips the low-level format";
    const char* details[] = {"Error Status = 75", "Error Status = Missing Handle",
                             "Read or Write failed", "Error Status = 123", "1 Chip(s)   2 MB"};
    for (int r = 0; r < 5; ++r) {
        EXPECT_EQ(frm->FG(r)->text(), r < 4 ? "X" : "V") << r;
        EXPECT_EQ(frm->FR(r)->text(), details[r]) << r;
        EXPECT_EQ(frm->PictureOf(r), r < 4 ? kPictureFailed : kPicturePassed) << r;
    }
    EXPECT_EQ(frm->LLR(0)->text(), "Write = X");
    EXPECT_EQ(frm->LLG(0)->text(), "String = V");
    EXPECT_EQ(frm->LLR(1)->text(), "Write = V");
    EXPECT_EQ(frm->PassLab->text(), kFailed);
    EXPECT_EQ(beeps, 4 * 5);
    EXPECT_TRUE(frm->LedCmd->isEnabled());
    EXPECT_FALSE(IsShown(frm->ProgressBar(0)));
    EXPECT_EQ(frm->ProgressBar(0)->value(), frm->ProgressBar(0)->maximum());
}

TEST_F(Station, CheckWriteProtectBothWays) {
    rack.lines[0] = kUsb;
    rack.lines[1] = kUsb;
    device = Passing();
    device.CheckWriteProtect = [](StationContext& c, int16_t n) {
        if (n == 2) {
            c.slots.Slot(n)->Status = 0x9B;
            return int16_t{0};
        }
        return int16_t{1};
    };
    apMode = 5;
    ASSERT_TRUE(Load().ok);
    frm->GoCmd_Click();
    EXPECT_EQ(frm->CCG(0)->text(), "Write Protected");
    EXPECT_FALSE(IsShown(frm->CCR(0)));
    EXPECT_TRUE(IsShown(frm->CCR(1)));
    EXPECT_EQ(frm->CCR(1)->text(), "Not Write Protected");
    EXPECT_FALSE(IsShown(frm->CCG(1)));
    EXPECT_EQ(frm->PictureOf(0), kPicturePassed);
    EXPECT_EQ(frm->PictureOf(1), kPictureFailed);
    EXPECT_EQ(frm->PassLab->text(), kFailed);
    const QString report = BatchReport(*frm);
    EXPECT_TRUE(report.contains("Verdict: ! FAILED !"));
    EXPECT_TRUE(report.contains("red"));
}

TEST_F(Station, SlotsWithoutRowsStillRunAndCount) {
    for (int i = 0; i < 10; ++i) {
        rack.lines[i] = kUsb;
    }
    device = Passing();
    int checks = 0;
    device.CheckIdentity = [&](StationContext& c, int16_t n) {
        ++checks;
        if (n == 10) {
            c.slots.Slot(n)->Status = 0xF4;
            return int16_t{0};
        }
        return int16_t{2};
    };
    ASSERT_TRUE(Load().ok);
    frm->GoCmd_Click();
    EXPECT_EQ(checks, 10);
    EXPECT_EQ(frm->PassLab->text(), kFailed);
    EXPECT_TRUE(frm->LedCmd->isEnabled());
    EXPECT_TRUE(BatchReport(*frm).contains("(no row)"));
}

TEST_F(Station, UntickingDuringTheRunLeavesTheItemOut) {
    rack.lines[0] = kUsb;
    device = Passing();
    int checks = 0;
    device.CheckIdentity = [&](StationContext&, int16_t) {
        ++checks;
        return int16_t{2};
    };
    ASSERT_TRUE(Load().ok);
    onWait = [this] { frm->Check1(kItemCheckConfig)->setChecked(false); };
    frm->GoCmd_Click();
    EXPECT_EQ(checks, 0);
    EXPECT_FALSE(IsShown(frm->CC1mG(0)));
}

TEST_F(Station, ClosingTheWindowDuringARunEndsItQuietly) {
    rack.lines[0] = kUsb;
    rack.lines[1] = kUsb;
    device = Passing();
    int scans = 0;
    device.ScanChips = [&](StationContext&, int16_t) { ++scans; };
    ASSERT_TRUE(Load().ok);
    onWait = [this] { frm.reset(); };
    ASSERT_TRUE(frm);
    frm->GoCmd_Click();
    EXPECT_FALSE(frm);
    EXPECT_EQ(scans, 0);
    EXPECT_EQ(ctx->TestRunning, kFalse);
    EXPECT_EQ(ctx->progress, nullptr);
}

// ------------------------------------------------------------ clearing

TEST_F(Station, ClearingYesAndNo) {
    rack.lines[0] = kUsb;
    device = Passing();
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
    EXPECT_FALSE(IsShown(frm->PassLab));
    EXPECT_EQ(frm->CC1mG(0)->text(), "X");
    EXPECT_EQ(frm->PictureOf(0), kPictureFailed);
    EXPECT_FALSE(frm->GoCmd->isEnabled());
    EXPECT_TRUE(frm->ClearCmd->isEnabled());

    answer = kAnswerYes;
    // A removal during the question waits for the clearing to finish.
    onBox = [this](const MessageBoxRequest&) {
        frm->WndProc_CopyData("OUT");
        frm->Timer1_Timer();
    };
    transport->calls.clear();
    frm->ClearCmd_Click();
    EXPECT_EQ(Count("KillEXE"), 0);
    EXPECT_EQ(ctx->DiskStatusFlag, 3);
    EXPECT_TRUE(frm->CC1mG(0)->text().isEmpty());
    EXPECT_FALSE(IsShown(frm->CC1mG(0)));
    EXPECT_TRUE(frm->GoCmd->isEnabled());
    EXPECT_FALSE(frm->ClearCmd->isEnabled());
    EXPECT_FALSE(frm->LedCmd->isEnabled());
    EXPECT_EQ(ctx->slots.DiskSlots[0].Status, 0);
    EXPECT_EQ(ctx->ClearingReport, kFalse);
    frm->Timer1_Timer();
    EXPECT_EQ(Count("KillEXE"), 1);
}

TEST_F(Station, ClearingWithNoDriveLeavesStartDisabled) {
    rack.lines[0] = kUsb;
    device = Passing();
    ASSERT_TRUE(Load().ok);
    frm->GoCmd_Click();
    rack.lines.clear();
    frm->ClearCmd_Click();
    EXPECT_FALSE(frm->GoCmd->isEnabled());
    EXPECT_EQ(ctx->slots.DiskCount, 0);
}

// ------------------------------------------------------------ LED

TEST_F(Station, LedLoopReadsFailedSlotsAndStopsWhenDisabled) {
    for (int i = 0; i < 3; ++i) {
        rack.lines[i] = kUsb;
    }
    ASSERT_TRUE(Load().ok);
    frm->LedCmd->setEnabled(true);
    frm->LedCmd_Click();
    EXPECT_EQ(Count("Read"), 0);
    EXPECT_EQ(pumps, kLedPasses);

    ctx->slots.DiskSlots[0].Status = 1;
    ctx->slots.DiskSlots[2].Status = 1;
    pumps = 0;
    frm->LedCmd_Click();
    const auto reads = transport->Calls("Read");
    ASSERT_EQ(reads.size(), 2U * kLedPasses);
    EXPECT_EQ(reads[0].args, (std::vector<int64_t>{100, 75, 0}));
    EXPECT_EQ(reads[1].args, (std::vector<int64_t>{102, 75, 0}));
    EXPECT_TRUE(frm->LedCmd->isEnabled());

    transport->calls.clear();
    onPump = [this] {
        if (pumps == 3) {
            frm->LedCmd->setEnabled(false);
        }
    };
    frm->LedCmd->setEnabled(true);
    pumps = 0;
    frm->LedCmd_Click();
    EXPECT_EQ(Count("Read"), 6);
}

TEST_F(Station, RowClicksFlashOneFailedSlot) {
    rack.lines[0] = kUsb;
    rack.lines[1] = kUsb;
    ASSERT_TRUE(Load().ok);
    ctx->slots.DiskSlots[1].Status = 5;
    ctx->slots.DiskSlots[5].Status = 5; // beyond DiskCount, no handle
    frm->ItemLab_Click(1);
    EXPECT_EQ(Count("Read"), 0) << "LED button disabled";
    frm->LedCmd->setEnabled(true);
    frm->ItemLab_Click(0);
    EXPECT_EQ(Count("Read"), 0) << "slot passed";
    frm->ThumbImage_Click(1);
    EXPECT_EQ(Count("Read"), kLedPasses);
    transport->calls.clear();
    frm->ThumbImage_Click(5);
    const auto reads = transport->Calls("Read");
    ASSERT_EQ(reads.size(), static_cast<size_t>(kLedPasses));
    EXPECT_EQ(reads[0].args[0], 0);
}

TEST(DrivePictures, FourColouredPicturesOfThirtyTwoPixels) {
    std::set<QRgb> bodies;
    for (int n = 1; n <= 4; ++n) {
        const QPixmap pm = DrivePicture(n);
        EXPECT_EQ(pm.size(), QSize(32, 32));
        bodies.insert(DriveBodyColour(n).rgb());
    }
    EXPECT_EQ(bodies.size(), 4U);
    EXPECT_TRUE(DrivePicture(0).isNull());
    EXPECT_TRUE(DrivePicture(5).isNull());
}

} // namespace
} // namespace ufd

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
