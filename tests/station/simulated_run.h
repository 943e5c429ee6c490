// The station window over the real libquorlink on the simulated fast rack
// (drive 5's chip list is too long, drive 6 is write protected): real device
// procedures, the Product.ini sample, the notice channel. Pauses and beeps are
// recorded, not waited and sounded, unless a test wants them real.
#pragma once

#include "platform/beep.h"
#include "platform/clock.h"
#include "platform/message_box.h"
#include "station/drive_pictures.h"
#include "station/run_recorder.h"
#include "station/test_frm.h"
#include "support/sim_rack.h"

#include <QApplication>
#include <QTest>

#include <gtest/gtest.h>

#include <mutex>

namespace ufd {

class SimulatedRun : public ::testing::Test {
protected:
    void SetUp() override {
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

    // A window on fresh drives; the workers' pauses apart (any order).
    void Open(bool parallel, std::shared_ptr<RunRecorder> results = nullptr) {
        frm.reset();
        rack.Reset();
        ctx = std::make_unique<StationContext>(transport);
        ctx->Settings.Parallel = parallel;
        StationDependencies d = StationDependencies::Real();
        d.readProductConfig = [](ProductConfig& p) {
            return ReadProductConfig(p, UFD_SOURCE_DIR "/examples/Product.ini");
        };
        d.startMonitor = [](const QString&) { return 33; }; // notices come from the test
        if (!realPauses) {
            d.wait = [this](float s) {
                events.push_back(QString("wait %1").arg(s));
                onWait(++waits);
            };
            d.pumpEvents = [this] {
                DefaultEventPump().ProcessPending();
                onPump(++pumps);
            };
            d.slotPause = [this](int row, float s) {
                std::lock_guard lock(mutex);
                workerPauses.push_back(s);
                onSlotPause(row);
            };
        }
        d.noticeChannel = rack.Path("notices");
        d.results = results;
        frm = std::make_unique<TestFrm>(*ctx, d);
        if (results) {
            results->Attach(*frm);
        }
        ASSERT_TRUE(frm->Form_Load().ok);
        ASSERT_EQ(ctx->slots.DiskCount, 7);
        rack.ClearTrace();
        events.clear();
        workerPauses.clear();
        waits = 0;
    }

    // Picture, the four columns ("-" hidden) and Status of each row; the verdict.
    std::vector<QString> Rows() const {
        std::vector<QString> rows;
        for (int r = 0; r < 7; ++r) {
            QStringList row{DrivePictureName(frm->PictureOf(r))};
            for (auto [g, red] : {std::pair{frm->FG(r), frm->FR(r)},
                                  {frm->LLG(r), frm->LLR(r)},
                                  {frm->CC1mG(r), frm->CC1mR(r)},
                                  {frm->CCG(r), frm->CCR(r)}}) {
                row << (IsShown(g) ? g->text() : "-") + "/" + (IsShown(red) ? red->text() : "-");
            }
            rows.push_back(row.join(" | ") + " | " +
                           QString::number(ctx->slots.DiskSlots[r].Status));
        }
        rows.push_back(frm->PassLab->text());
        return rows;
    }

    // Each drive's calls in order, without handle and time.
    std::map<int, QStringList> TraceByDrive() const {
        std::map<int, QStringList> drives;
        QFile f(rack.Path("trace.jsonl"));
        EXPECT_TRUE(f.open(QIODevice::ReadOnly));
        while (!f.atEnd()) {
            QJsonObject o = QJsonDocument::fromJson(f.readLine()).object();
            QJsonArray args = o.value("args").toArray();
            if (!args.isEmpty() && o.value("fn").toString() != "fnQuorbus_GetDiskHandle") {
                args.removeFirst();
            }
            o.insert("args", args);
            const int drive = o.take("drive").toInt(-1);
            o.remove("time");
            o.remove("handle");
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
    bool realPauses = false; // the run waits and sounds as on the line
    int waits = 0;
    int pumps = 0;
    std::function<void(int)> onWait = [](int) {};
    std::function<void(int)> onPump = [](int) {};
    std::function<void(int)> onSlotPause = [](int) {};
};

} // namespace ufd
