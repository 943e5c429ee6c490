// The station window over the real libquorlink on a simulated rack: real
// device procedures, Product.ini sample, notice channel; only the pauses and
// the beep are recorded instead of waited and sounded.
#include "platform/beep.h"
#include "platform/clock.h"
#include "platform/message_box.h"
#include "station/drive_pictures.h"
#include "station/notice_receiver.h"
#include "station/test_frm.h"
#include "support/sim_rack.h"

#include <QApplication>
#include <QTest>

#include <gtest/gtest.h>

namespace ufd {
namespace {

// The fast rack: drive 5's chip list is too long, drive 6 is write protected.
TEST(SimulatedRun, BeepsForFailedDrivesAndTheLedLoopReadsOnlyThemUntilDisabled) {
    test::SimRack& rack = test::SimRack::Shared("fast.json");
    std::vector<QString> events;
    int pumps = 0;
    std::function<void(int)> onPump = [](int) {};
    SetBeepHandler([&] { events.push_back("beep"); });
    SetMessageBoxHandler([](const MessageBoxRequest& r) {
        ADD_FAILURE() << "unexpected box: " << r.text.toStdString();
        return kAnswerOk;
    });
    StationDependencies d = StationDependencies::Real();
    d.readProductConfig = [](ProductConfig& p) {
        return ReadProductConfig(p, UFD_SOURCE_DIR "/examples/Product.ini");
    };
    d.startMonitor = [](const QString&) { return 33; }; // notices come from the test
    d.wait = [&](float s) { events.push_back(QString("wait %1").arg(s)); };
    d.pumpEvents = [&] {
        DefaultEventPump().ProcessPending();
        onPump(++pumps);
    };
    d.noticeChannel = rack.Path("notices");
    QuorlinkTransport transport;
    StationContext ctx(transport);
    TestFrm frm(ctx, d);
    ASSERT_TRUE(frm.Form_Load().ok);
    ASSERT_EQ(ctx.slots.DiskCount, 7);

    frm.Ch->setChecked(true);
    frm.GoCmd->click();
    // Picture and the run's three columns of each row, as the operator reads them.
    const QString passed = "green | V/%1 Chip(s)   %2 MB | String = V/Write = V | V/";
    const QString expected[] = {passed.arg(2).arg(500),
                                passed.arg(4).arg(1000),
                                passed.arg(2).arg(2048),
                                passed.arg(1).arg(32),
                                "red | X/Error Status = 10 | String = V/Write = V | V/",
                                "red | X/Error Status = F0 | String = V/Write = V | V/",
                                passed.arg(1).arg(128)};
    for (int r = 0; r < 7; ++r) {
        QStringList row{DrivePictureName(frm.PictureOf(r))};
        for (auto [g, red] : {std::pair{frm.FG(r), frm.FR(r)},
                              {frm.LLG(r), frm.LLR(r)},
                              {frm.CC1mG(r), frm.CC1mR(r)}}) {
            row << g->text() + "/" + red->text();
        }
        EXPECT_EQ(row.join(" | "), expected[r]) << r;
    }
    EXPECT_EQ(frm.PassLab->text(), kFailed);
    // A pause per slot, the two between items, then five beeps with a pause
    // after each for each of the two failed drives.
    std::vector<QString> pauses(7, "wait 0.1");
    pauses.insert(pauses.end(), {"wait 0.5", "wait 0.1"});
    for (int b = 0; b < 10; ++b) {
        pauses.insert(pauses.end(), {"beep", "wait 0.1"});
    }
    EXPECT_EQ(events, pauses);
    EXPECT_TRUE(frm.LedCmd->isEnabled());

    // A click on a row flashes that drive alone, and only a failed one.
    rack.ClearTrace();
    frm.ItemLab_Click(0);
    frm.ThumbImage_Click(4);
    const auto flashed = rack.Calls("Read");
    EXPECT_EQ(flashed.size(), static_cast<size_t>(kLedPasses));
    EXPECT_TRUE(std::all_of(flashed.begin(), flashed.end(), [](auto& c) { return c.drive == 5; }));

    // Three passes of the LED loop, then a notice; the next tick disables
    // the button and the loop stops.
    pumps = 0;
    rack.ClearTrace();
    onPump = [&](int pass) {
        if (pass == 3) {
            ASSERT_TRUE(SendStationNotice("OUT", rack.Path("notices")));
            EXPECT_TRUE(QTest::qWaitFor([&] { return !frm.LedCmd->isEnabled(); }, 5000));
        }
    };
    frm.LedCmd->click();
    EXPECT_EQ(pumps, 3);
    const auto reads = rack.Calls("Read");
    ASSERT_EQ(reads.size(), 6U);
    for (size_t i = 0; i < reads.size(); ++i) {
        EXPECT_EQ(reads[i].drive, i % 2 == 0 ? 5 : 6);
        EXPECT_EQ(reads[i].args, (std::vector<qint64>{reads[i].args[0], 75, 0}));
    }
    SetBeepHandler({});
    SetMessageBoxHandler({});
}

} // namespace
} // namespace ufd
