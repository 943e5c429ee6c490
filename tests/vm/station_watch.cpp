// The station's window on the real drives while tests/vm/cases/rediscovery.sh
// plugs and pulls a stick: prints "ready" once its Vasket watches, "row in"
// once the stick has its row, and ends after the row has gone again.
// $UFDVM_STICK_SERIAL names the stick. For cases/socket_rows.sh (Sockets.*)
// it prints "three in" once $UFDVM_STICK_SERIALS' three sticks have their
// socket rows, and ends after the second is pulled.
#include "support/test_common.h"

#include "station/drive_pictures.h"
#include "support/station_window.h"

#include <iostream>

using namespace ufd;

// Every step is bounded; the guest's plug-to-disk time is a few seconds.
constexpr int kLimitMs = 30000;

TEST(Rediscovery, PluggedStickGetsItsRowAndLosesItOnThePull) {
    const QString serial = qEnvironmentVariable("UFDVM_STICK_SERIAL");
    ASSERT_FALSE(serial.isEmpty()) << "UFDVM_STICK_SERIAL is not set";
    test::StationWindow w;
    const auto shown = [&] { return std::pair(w.frm->PictureOf(0), w.frm->GoCmd->isEnabled()); };
    ASSERT_TRUE(w.Open(StationDependencies::Real())) << "the window or its Vasket did not start";
    ASSERT_EQ(w.ctx.slots.DiskCount, 0) << "a drive before the plug";
    std::cout << "ready" << std::endl; // the case plugs the stick on this line

    ASSERT_TRUE(w.WaitForDrives(1, kLimitMs)) << "not one row within the limit after the plug";
    EXPECT_TRUE(w.ctx.slots.DiskSlots[0].DeviceText.endsWith(serial));
    EXPECT_EQ(shown(), std::pair(kPictureAttached, true));
    std::cout << "row in" << std::endl;

    ASSERT_TRUE(w.WaitForDrives(0, kLimitMs)) << "the row stayed past the limit after the pull";
    EXPECT_EQ(shown(), std::pair(kPictureNoDrive, false));
}

TEST(Sockets, PulledStickLeavesItsRowInPlace) {
    const QStringList serials =
        qEnvironmentVariable("UFDVM_STICK_SERIALS").split(' ', Qt::SkipEmptyParts);
    if (serials.size() != 3) {
        GTEST_SKIP() << "UFDVM_STICK_SERIALS does not name three sticks";
    }
    test::StationWindow w;
    w.ctx.Settings.RowPerSocket = true;
    w.ctx.Settings.Sockets = {{1, "A1"}, {2, "A2"}, {3, "A3"}};
    ASSERT_TRUE(w.Open(StationDependencies::Real())) << "the window or its Vasket did not start";
    ASSERT_TRUE(w.WaitForDrives(3, kLimitMs)) << "not three drives";
    const auto tip = [&](int row) { return w.frm->ItemLab(row)->toolTip(); };
    for (int row = 0; row < 3; ++row) {
        EXPECT_TRUE(tip(row).contains("\nSerial " + serials[row])) << tip(row).toStdString();
    }
    std::cout << "three in" << std::endl; // the case pulls the second stick on this line

    ASSERT_TRUE(w.WaitForDrives(2, kLimitMs)) << "the pull was not seen";
    EXPECT_EQ(std::tuple(w.frm->PictureOf(0), w.frm->PictureOf(1), w.frm->PictureOf(2)),
              std::tuple(kPictureAttached, kPictureNoDrive, kPictureAttached));
    EXPECT_EQ(std::tuple(w.frm->RowOfSlot(1), w.frm->ItemLab(1)->text(), tip(1)),
              std::tuple(2, QString("A2"), QString("Socket A2 (drive index 2)\nNo drive")));
    EXPECT_TRUE(tip(2).startsWith("Socket A3 (drive index 3)\nSerial " + serials[2]))
        << tip(2).toStdString();
}
