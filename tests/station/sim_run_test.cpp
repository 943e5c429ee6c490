// The station window over the real libquorlink on a simulated rack: real
// device procedures, Product.ini sample, notice channel; only the pauses and
// the beep are recorded instead of waited and sounded.
#include "platform/beep.h"
#include "platform/clock.h"
#include "platform/message_box.h"
#include "station/drive_pictures.h"
#include "station/notice_receiver.h"
#include "station/run_recorder.h"
#include "station/test_frm.h"
#include "support/sim_rack.h"

#include "results/results_store.h"

#include <QApplication>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

namespace ufd {
namespace {

// The window on this process's copy of the fast rack (drive 5's chip list is
// too long, drive 6 is write protected), its pauses and beeps recorded.
class SimulatedRun : public ::testing::Test {
protected:
    void SetUp() override {
        rack.Reset();
        SetBeepHandler([this] { events.push_back("beep"); });
        SetMessageBoxHandler([](const MessageBoxRequest& r) {
            ADD_FAILURE() << "unexpected box: " << r.text.toStdString();
            return kAnswerOk;
        });
        StationDependencies d = StationDependencies::Real();
        d.readProductConfig = [](ProductConfig& p) {
            return ReadProductConfig(p, UFD_SOURCE_DIR "/examples/Product.ini");
        };
        d.startMonitor = [](const QString&) { return 33; }; // notices come from the test
        d.wait = [this](float s) {
            events.push_back(QString("wait %1").arg(s));
            onWait(++waits);
        };
        d.pumpEvents = [this] {
            DefaultEventPump().ProcessPending();
            onPump(++pumps);
        };
        d.noticeChannel = rack.Path("notices");
        deps = d;
        frm = std::make_unique<TestFrm>(ctx, d);
        ASSERT_TRUE(frm->Form_Load().ok);
        ASSERT_EQ(ctx.slots.DiskCount, 7);
    }
    void TearDown() override {
        frm.reset();
        SetBeepHandler({});
        SetMessageBoxHandler({});
    }

    // Picture and the run's three columns of a row, as the operator reads them.
    QString Row(int r) const {
        QStringList row{DrivePictureName(frm->PictureOf(r))};
        for (auto [g, red] : {std::pair{frm->FG(r), frm->FR(r)},
                              {frm->LLG(r), frm->LLR(r)},
                              {frm->CC1mG(r), frm->CC1mR(r)}}) {
            row << g->text() + "/" + red->text();
        }
        return row.join(" | ");
    }

    test::SimRack& rack = test::SimRack::Shared("fast.json");
    QuorlinkTransport transport;
    StationContext ctx{transport};
    std::unique_ptr<TestFrm> frm;
    StationDependencies deps;
    std::vector<QString> events;
    int waits = 0;
    int pumps = 0;
    std::function<void(int)> onWait = [](int) {};
    std::function<void(int)> onPump = [](int) {};
};

QString Passed(int chips, int megabytes) {
    return QString("green | V/%1 Chip(s)   %2 MB | String = V/Write = V | V/")
        .arg(chips)
        .arg(megabytes);
}

TEST_F(SimulatedRun, BeepsForFailedDrivesAndTheLedLoopReadsOnlyThemUntilDisabled) {
    frm->Ch->setChecked(true);
    frm->GoCmd->click();
    const QString expected[] = {Passed(2, 500),
                                Passed(4, 1000),
                                Passed(2, 2048),
                                Passed(1, 32),
                                "red | X/Error Status = 10 | String = V/Write = V | V/",
                                "red | X/Error Status = F0 | String = V/Write = V | V/",
                                Passed(1, 128)};
    for (int r = 0; r < 7; ++r) {
        EXPECT_EQ(Row(r), expected[r]) << r;
    }
    EXPECT_EQ(frm->PassLab->text(), kFailed);
    // A pause per slot, the two between items, then five beeps with a pause
    // after each for each of the two failed drives.
    std::vector<QString> pauses(7, "wait 0.1");
    pauses.insert(pauses.end(), {"wait 0.5", "wait 0.1"});
    for (int b = 0; b < 10; ++b) {
        pauses.insert(pauses.end(), {"beep", "wait 0.1"});
    }
    EXPECT_EQ(events, pauses);
    EXPECT_TRUE(frm->LedCmd->isEnabled());

    // A click on a row flashes that drive alone, and only a failed one.
    rack.ClearTrace();
    frm->ItemLab_Click(0);
    frm->ThumbImage_Click(4);
    const auto flashed = rack.Calls("Read");
    EXPECT_EQ(flashed.size(), static_cast<size_t>(kLedPasses));
    EXPECT_TRUE(std::all_of(flashed.begin(), flashed.end(), [](auto& c) { return c.drive == 5; }));

    // Three passes of the LED loop, then a notice; the next tick disables
    // the button and the loop stops.
    pumps = 0;
    rack.ClearTrace();
    onPump = [this](int pass) {
        if (pass == 3) {
            ASSERT_TRUE(SendStationNotice("OUT", rack.Path("notices")));
            EXPECT_TRUE(QTest::qWaitFor([&] { return !frm->LedCmd->isEnabled(); }, 5000));
        }
    };
    frm->LedCmd->click();
    EXPECT_EQ(pumps, 3);
    const auto reads = rack.Calls("Read");
    ASSERT_EQ(reads.size(), 6U);
    for (size_t i = 0; i < reads.size(); ++i) {
        EXPECT_EQ(reads[i].drive, i % 2 == 0 ? 5 : 6);
        EXPECT_EQ(reads[i].args, (std::vector<qint64>{reads[i].args[0], 75, 0}));
    }
}

// A drive pulled out in the pause before its Format fails its own items; the
// others run on as if nothing happened.
TEST_F(SimulatedRun, DrivePulledMidRunFailsOnlyItsOwnItems) {
    onWait = [this](int wait) {
        if (wait == 3) {
            rack.Tool({"unplug", "3"});
        }
    };
    frm->GoCmd->click();
    const QString expected[] = {
        Passed(2, 500), Passed(4, 1000),
        "red | X/Error Status = 75 | String = V/Write = X | X/Error Status = 82", Passed(1, 32)};
    for (int r = 0; r < 4; ++r) {
        EXPECT_EQ(Row(r), expected[r]) << r;
    }
    EXPECT_EQ(Row(6), Passed(1, 128));
    EXPECT_EQ(frm->PassLab->text(), kFailed);
}

// Every run leaves one record per slot with what the window showed; when
// the database cannot be written the window says so in its warning line.
TEST_F(SimulatedRun, EachRunRecordsEverySlotOrShowsWhyNot) {
    QTemporaryDir dir;
    DatabaseTarget good;
    good.file = dir.filePath("results.sqlite");
    DatabaseTarget bad;
    bad.file = dir.filePath("results.sqlite/not-a-file"); // below a file: never writable
    for (const DatabaseTarget* each : {&good, &bad}) {
        const DatabaseTarget& target = *each;
        SCOPED_TRACE(target.file.toStdString());
        frm.reset();
        rack.Reset();
        auto writer = std::make_shared<ResultsWriter>(target, dir.filePath("journal.jsonl"));
        StationDependencies d = deps;
        d.results = std::make_shared<RunRecorder>(writer, RecorderIdentity{"line-9", "9.9", "ab"});
        frm = std::make_unique<TestFrm>(ctx, d);
        d.results->Attach(*frm);
        ASSERT_TRUE(frm->Form_Load().ok);
        frm->GoCmd->click();
        const bool stored = d.results->WaitStored().stored;
        EXPECT_EQ(stored, &target == &good);
        // The writer's word reaches the window through its event queue.
        EXPECT_TRUE(
            QTest::qWaitFor([&] { return d.results->WarningLine()->isHidden() == stored; }, 5000));
        if (!stored) {
            EXPECT_TRUE(d.results->WarningLine()->text().startsWith("Results not stored in "));
            continue;
        }
        QString error;
        const auto records = ResultsStore(good).Read({}, &error).value();
        ASSERT_EQ(records.size(), 7U);
        const DriveRecord& ok = records[0];
        const DriveRecord& failed = records[4];
        EXPECT_EQ(ok.RunId, d.results->RunId());
        EXPECT_EQ(std::tuple(ok.Serial, ok.PortPath, ok.DriveIndex, ok.CapacitySectors, ok.Passed),
                  std::tuple(QString("A1000001"), QString("1-1"), std::optional(1),
                             std::optional<qint64>(1000000), true));
        EXPECT_EQ(std::tuple(failed.Serial, failed.Status, failed.Passed, failed.CapacitySectors),
                  std::tuple(QString("A5000005"), 0x10, false, std::optional<qint64>()));
        ASSERT_TRUE(ok.Items[0] && failed.Items[0] && ok.Items[2]);
        EXPECT_EQ(ok.Items[0]->Lower, "2 Chip(s)   500 MB");
        EXPECT_EQ(
            std::tuple(failed.Items[0]->Upper, failed.Items[0]->Lower, failed.Items[0]->Status),
            std::tuple(QString("X"), QString("Error Status = 10"), 0x10));
        EXPECT_EQ(std::tuple(ok.Items[2]->Upper, ok.Items[2]->Lower),
                  std::tuple(QString("V"), QString()));
        EXPECT_FALSE(ok.Items[3]) << "Check WP was not ticked";
    }
}

} // namespace
} // namespace ufd
