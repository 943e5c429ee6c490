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
    test::StationWindow window;
    ASSERT_TRUE(window.Open(StationDependencies::Real()))
        << "the window or its Vasket did not start";
    ASSERT_EQ(window.ctx.slots.DiskCount, 0) << "a drive before the plug";
    std::cout << "ready" << std::endl; // the case plugs the stick on this line

    ASSERT_TRUE(window.WaitForDrives(1, kLimitMs))
        << "not one row within " << kLimitMs
        << " ms of the plug; rows: " << window.ctx.slots.DiskCount;
    EXPECT_TRUE(window.ctx.slots.DiskSlots[0].DeviceText.endsWith(serial))
        << window.ctx.slots.DiskSlots[0].DeviceText.toStdString();
    EXPECT_EQ(window.frm->PictureOf(0), kPictureAttached);
    EXPECT_TRUE(window.frm->GoCmd->isEnabled());
    std::cout << "row in" << std::endl;

    ASSERT_TRUE(window.WaitForDrives(0, kLimitMs))
        << "the row stayed " << kLimitMs << " ms after the pull";
    EXPECT_EQ(window.frm->PictureOf(0), kPictureNoDrive);
    EXPECT_FALSE(window.frm->GoCmd->isEnabled());
}
