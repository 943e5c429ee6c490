// [Run] Parallel=true over the real libquorlink on the simulated rack: the
// rows, the verdict, the pauses and every drive's commands are those of a
// sequential run of the same drives; a drive pulled mid-run fails alone.
#include "platform/beep.h"
#include "platform/clock.h"
#include "platform/message_box.h"
#include "station/drive_pictures.h"
#include "station/notice_receiver.h"
#include "station/test_frm.h"
#include "support/sim_rack.h"

#include <QApplication>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMetaObject>
#include <QTest>

#include <gtest/gtest.h>

#include <future>
#include <map>
#include <mutex>

namespace ufd {
namespace {

class ParallelRun : public ::testing::Test {
protected:
    void SetUp() override {
        rack.Reset();
        SetBeepHandler([this] { events.push_back("beep"); });
        SetMessageBoxHandler([](const MessageBoxRequest& r) {
            ADD_FAILURE() << "unexpected box: " << r.text.toStdString();
            return kAnswerOk;
        });
    }
    void TearDown() override {
        frm.reset();
        SetBeepHandler({});
        SetMessageBoxHandler({});
    }

    // A window on fresh drives, in the given mode; the run's pauses are
    // recorded, those of the workers apart (they come in any order).
    void Open(bool parallel) {
        frm.reset();
        rack.Reset();
        ctx = std::make_unique<StationContext>(transport);
        ctx->Settings.Parallel = parallel;
        StationDependencies d = StationDependencies::Real();
        d.readProductConfig = [](ProductConfig& p) {
            return ReadProductConfig(p, UFD_SOURCE_DIR "/examples/Product.ini");
        };
        d.startMonitor = [](const QString&) { return 33; };
        d.wait = [this](float s) { events.push_back(QString("wait %1").arg(s)); };
        d.slotPause = [this](int row, float s) {
            {
                std::lock_guard lock(mutex);
                workerPauses.push_back(s);
            }
            onSlotPause(row);
        };
        d.noticeChannel = rack.Path("notices");
        frm = std::make_unique<TestFrm>(*ctx, d);
        ASSERT_TRUE(frm->Form_Load().ok);
        ASSERT_EQ(ctx->slots.DiskCount, 7);
        rack.ClearTrace();
        events.clear();
        workerPauses.clear();
    }

    std::vector<std::string> Rows() const {
        std::vector<std::string> rows;
        for (int r = 0; r < 7; ++r) {
            QStringList row{DrivePictureName(frm->PictureOf(r))};
            for (auto [g, red] : {std::pair{frm->FG(r), frm->FR(r)},
                                  {frm->LLG(r), frm->LLR(r)},
                                  {frm->CC1mG(r), frm->CC1mR(r)},
                                  {frm->CCG(r), frm->CCR(r)}}) {
                row << (IsShown(g) ? g->text() : "-") + "/" + (IsShown(red) ? red->text() : "-");
            }
            row << QString::number(ctx->slots.DiskSlots[r].Status);
            rows.push_back(row.join(" | ").toStdString());
        }
        rows.push_back(frm->PassLab->text().toStdString());
        return rows;
    }

    // Each drive's calls in order: function, arguments but the handle, and
    // the status; a write's data with it.
    std::map<int, QStringList> TraceByDrive() const {
        std::map<int, QStringList> drives;
        QFile f(rack.Path("trace.jsonl"));
        EXPECT_TRUE(f.open(QIODevice::ReadOnly));
        while (!f.atEnd()) {
            QJsonObject o = QJsonDocument::fromJson(f.readLine()).object();
            o.remove("time");
            o.remove("handle");
            QJsonArray args = o.value("args").toArray();
            if (!args.isEmpty() && o.value("fn").toString() != "fnQuorbus_GetDiskHandle") {
                args.removeFirst();
            }
            o.insert("args", args);
            const int drive = o.value("drive").toInt(-1);
            o.remove("drive");
            drives[drive] << QString::fromUtf8(QJsonDocument(o).toJson(QJsonDocument::Compact));
        }
        return drives;
    }

    test::SimRack& rack = test::SimRack::Shared("fast.json");
    QuorlinkTransport transport;
    std::unique_ptr<StationContext> ctx;
    std::unique_ptr<TestFrm> frm;
    std::vector<QString> events;
    std::mutex mutex;
    std::vector<float> workerPauses;
    std::function<void(int)> onSlotPause = [](int) {};
};

TEST_F(ParallelRun, GivesTheRowsVerdictPausesAndPerDriveCommandsOfASequentialRun) {
    Open(false);
    frm->Ch->setChecked(true);
    frm->GoCmd->click();
    const auto sequentialRows = Rows();
    const auto sequentialTrace = TraceByDrive();
    const auto sequentialEvents = events;
    ASSERT_TRUE(workerPauses.empty());
    ASSERT_EQ(sequentialRows.back(), kFailed.toStdString());

    Open(true);
    frm->Ch->setChecked(true);
    frm->GoCmd->click();
    EXPECT_EQ(Rows(), sequentialRows);
    const auto parallelTrace = TraceByDrive();
    ASSERT_EQ(parallelTrace.size(), sequentialTrace.size());
    for (const auto& [drive, calls] : sequentialTrace) {
        ASSERT_TRUE(parallelTrace.contains(drive)) << drive;
        EXPECT_EQ(parallelTrace.at(drive), calls) << "drive " << drive;
    }
    // The pause before each slot's format moved to the workers; the rest,
    // beeps included, stayed on the window's thread in order.
    EXPECT_EQ(workerPauses, std::vector<float>(7, 0.1F));
    const std::vector<QString> rest(sequentialEvents.begin() + 7, sequentialEvents.end());
    EXPECT_EQ(events, rest);
    EXPECT_TRUE(frm->LedCmd->isEnabled());
    EXPECT_TRUE(frm->ClearCmd->isEnabled());
    EXPECT_FALSE(frm->GoCmd->isEnabled());
    EXPECT_EQ(ctx->TestRunning, kFalse);
}

// Drive 3 is pulled while its worker pauses before the format (the unplug
// itself runs on the window's thread, as the operator's hand would), and the
// monitor's notice of it waits for the end of the run.
TEST_F(ParallelRun, DrivePulledMidRunFailsOnlyItsOwnItems) {
    Open(true);
    onSlotPause = [this](int row) {
        if (row != 2) {
            return;
        }
        std::promise<void> unplugged;
        QMetaObject::invokeMethod(
            qApp,
            [this, &unplugged] {
                rack.Tool({"unplug", "3"});
                EXPECT_TRUE(SendStationNotice("OUT", rack.Path("notices")));
                EXPECT_TRUE(QTest::qWaitFor([this] { return ctx->DiskStatusFlag != 0; }, 5000));
                unplugged.set_value();
            },
            Qt::QueuedConnection);
        unplugged.get_future().wait();
    };
    frm->GoCmd->click();
    auto passed = [](int chips, int mb) {
        return QString("green | V/%1 Chip(s)   %2 MB | String = V/Write = V | V/ | -/- | 0")
            .arg(chips)
            .arg(mb)
            .toStdString();
    };
    const auto rows = Rows();
    EXPECT_EQ(rows[0], passed(2, 500));
    EXPECT_EQ(rows[1], passed(4, 1000));
    EXPECT_EQ(rows[2], "red | X/Error Status = 75 | String = V/Write = X | X/Error Status = 82 | "
                       "-/- | 130");
    EXPECT_EQ(rows[3], passed(1, 32));
    EXPECT_EQ(rows[6], passed(1, 128));
    EXPECT_EQ(rows.back(), kFailed.toStdString());
    EXPECT_EQ(ctx->DiskStatusFlag, 3); // still pending: no discovery during the run
}

// Closing the window while the workers format ends the run quietly: no
// verdict, no further item, and the run is over when the click returns.
TEST_F(ParallelRun, ClosingTheWindowEndsTheRunQuietly) {
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

} // namespace
} // namespace ufd
