// Parallel runs must equal sequential ones; a drive pulled, a window
// closed mid-run and the results records.
#include "results/results_store.h"
#include "simulated_run.h"
#include "station/notice_receiver.h"

#include <QTemporaryDir>

#include <future>

namespace ufd {
namespace {

QString Passed(int chips, int megabytes) {
    return QString("green | V/%1 Chip(s)   %2 MB | String = V/Write = V | V/ | -/- | 0")
        .arg(chips)
        .arg(megabytes);
}

TEST_F(SimulatedRun, RowsBeepsLedAndTheSameInParallel) {
    Open(false);
    frm->Ch->setChecked(true);
    frm->GoCmd->click();
    const std::vector<QString> rows = Rows();
    const auto trace = TraceByDrive();
    const auto sequentialEvents = events;
    EXPECT_EQ(rows, (std::vector<QString>{
                        Passed(2, 500), Passed(4, 1000), Passed(2, 2048), Passed(1, 32),
                        "red | X/Error Status = 10 | String = V/Write = V | V/ | -/- | 16",
                        "red | X/Error Status = F0 | String = V/Write = V | V/ | -/- | 240",
                        Passed(1, 128), kFailed}));
    // A pause per slot, the two between items, then five beeps with a pause
    // after each for each of the two failed drives.
    std::vector<QString> pauses(7, "wait 0.1");
    pauses.insert(pauses.end(), {"wait 0.5", "wait 0.1"});
    for (int b = 0; b < 10; ++b) {
        pauses.insert(pauses.end(), {"beep", "wait 0.1"});
    }
    EXPECT_EQ(events, pauses);
    ASSERT_TRUE(workerPauses.empty());

    // A click on a row flashes that drive alone, and only a failed one.
    rack.ClearTrace();
    frm->ItemLab_Click(0);
    frm->ThumbImage_Click(4);
    const auto flashed = rack.Calls("Read");
    EXPECT_EQ(flashed.size(), static_cast<size_t>(kLedPasses));
    EXPECT_TRUE(std::all_of(flashed.begin(), flashed.end(), [](auto& c) { return c.drive == 5; }));
    // Three passes of the LED loop, then a notice; the next tick disables
    // the button and the loop stops.
    rack.ClearTrace();
    onPump = [this](int pass) {
        if (pass == 3) {
            ASSERT_TRUE(SendStationNotice("OUT", rack.Path("notices")));
            EXPECT_TRUE(QTest::qWaitFor([&] { return !frm->LedCmd->isEnabled(); }, 5000));
        }
    };
    pumps = 0;
    frm->LedCmd->click();
    EXPECT_EQ(pumps, 3);
    const auto reads = rack.Calls("Read");
    ASSERT_EQ(reads.size(), 6U);
    for (size_t i = 0; i < reads.size(); ++i) {
        EXPECT_EQ(reads[i].drive, i % 2 == 0 ? 5 : 6);
        EXPECT_EQ(reads[i].args, (std::vector<qint64>{reads[i].args[0], 75, 0}));
    }

    Open(true);
    frm->Ch->setChecked(true);
    frm->GoCmd->click();
    EXPECT_EQ(Rows(), rows);
    EXPECT_EQ(TraceByDrive(), trace);
    // The pause before each slot's format moved to the workers; the rest,
    // beeps included, stayed on the window's thread in order.
    EXPECT_EQ(workerPauses, std::vector<float>(7, 0.1F));
    EXPECT_EQ(events, std::vector<QString>(sequentialEvents.begin() + 7, sequentialEvents.end()));
    EXPECT_TRUE(frm->LedCmd->isEnabled() && frm->ClearCmd->isEnabled());
    EXPECT_FALSE(frm->GoCmd->isEnabled());
    EXPECT_EQ(ctx->TestRunning, kFalse);
}

// Drive 3 pulled in the pause before its Format fails its own items; the
// others run on. The unplug runs on the window's thread, as the operator's
// hand would, and its notice waits for the end of the run; the report then
// stands until it is cleared.
TEST_F(SimulatedRun, DrivePulledMidRunFailsOnlyItsOwnItems) {
    for (const bool parallel : {false, true}) {
        SCOPED_TRACE(parallel);
        auto pull = [this] {
            rack.Tool({"unplug", "3"});
            EXPECT_TRUE(SendStationNotice("OUT", rack.Path("notices")));
            EXPECT_TRUE(QTest::qWaitFor([this] { return ctx->DiskStatusFlag != 0; }, 5000));
        };
        onWait = [&](int wait) {
            if (!parallel && wait == 3) {
                pull();
            }
        };
        onSlotPause = [&](int row) {
            if (row == 2) {
                std::promise<void> done;
                QMetaObject::invokeMethod(
                    qApp, [&] { pull(), done.set_value(); }, Qt::QueuedConnection);
                done.get_future().wait();
            }
        };
        Open(parallel);
        frm->GoCmd->click();
        const auto rows = Rows();
        EXPECT_EQ(std::vector<QString>(rows.begin(), rows.begin() + 4),
                  (std::vector<QString>{Passed(2, 500), Passed(4, 1000),
                                        "red | X/Error Status = 75 | String = V/Write = X | "
                                        "X/Error Status = 82 | -/- | 130",
                                        Passed(1, 32)}));
        EXPECT_EQ(rows[6], Passed(1, 128));
        EXPECT_EQ(rows.back(), kFailed);
        EXPECT_EQ(ctx->DiskStatusFlag, 3) << "no discovery during the run";
        EXPECT_TRUE(QTest::qWaitFor([this] { return ctx->slots.DiskCount == 6; }, 5000));
        EXPECT_FALSE(frm->GoCmd->isEnabled());
    }
}

// Closing the window while the workers format ends the run quietly: no
// verdict, no further item, and the run is over when the click returns.
TEST_F(SimulatedRun, ClosingTheWindowDuringAParallelRunEndsItQuietly) {
    Open(true);
    onSlotPause = [this](int row) {
        if (row == 0) {
            QMetaObject::invokeMethod(
                qApp, [this] { frm->close(); }, Qt::QueuedConnection);
        }
    };
    frm->GoCmd->click();
    EXPECT_TRUE(frm->Closing());
    EXPECT_EQ(ctx->TestRunning, kFalse);
    EXPECT_FALSE(frm->PassLab->isVisible());
    EXPECT_TRUE(events.empty()); // not even the pause after Format
}

// Every run leaves one record per slot with what the window showed; when
// the database cannot be written the window says so in its warning line.
TEST_F(SimulatedRun, EachRunRecordsEverySlotOrShowsWhyNot) {
    QTemporaryDir dir;
    DatabaseTarget good;
    good.file = dir.filePath("results.sqlite");
    DatabaseTarget bad;
    bad.file = dir.filePath("results.sqlite/not-a-file"); // below a file: never writable
    for (const DatabaseTarget* target : {&good, &bad}) {
        SCOPED_TRACE(target->file.toStdString());
        auto writer = std::make_shared<ResultsWriter>(*target, dir.filePath("journal.jsonl"));
        auto recorder =
            std::make_shared<RunRecorder>(writer, RecorderIdentity{"line-9", "9.9", "ab"});
        Open(false, recorder);
        frm->GoCmd->click();
        const bool stored = recorder->WaitStored().stored;
        EXPECT_EQ(stored, target == &good);
        // The writer's word reaches the window through its event queue.
        EXPECT_TRUE(
            QTest::qWaitFor([&] { return recorder->WarningLine()->isHidden() == stored; }, 5000));
        if (!stored) {
            EXPECT_TRUE(recorder->WarningLine()->text().startsWith("Results not stored in "));
            continue;
        }
        QString error;
        const auto records = ResultsStore(good).Read({}, &error).value();
        ASSERT_EQ(records.size(), 7U);
        const DriveRecord& ok = records[0];
        const DriveRecord& failed = records[4];
        EXPECT_EQ(ok.RunId, recorder->RunId());
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
