// The station's window on the real drives while tests/vm/cases/rediscovery.sh
// plugs and pulls a stick: prints "ready" once its Vasket watches, "row in"
// once the stick has its row, and ends after the row has gone again.
// $UFDVM_STICK_SERIAL names the stick.
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
