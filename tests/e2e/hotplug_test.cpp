// Hotplug end to end: the station window (offscreen, real dependencies: the Vasket it starts
// itself, its waits, libquorlink on a simulated rack) while ufd-rack plugs and unplugs drives.
#include "station/drive_pictures.h"
#include "support/sim_rack.h"
#include "support/station_window.h"
#include "support/test_common.h"

#include <csignal>

namespace ufd {
namespace {

TEST(Hotplug, PlugsUnplugsAndAKilledMonitorAreSeenAndASecondStationRefused) {
    test::SimRack& rack = test::SimRack::Shared("default.json");
    rack.Reset();
    for (int i = 1; i <= 7; ++i) {
        rack.Tool({"unplug", QString::number(i)});
    }
    test::StationWindow window;
    ASSERT_TRUE(window.Open(StationDependencies::Real()));
    StationContext& ctx = window.ctx;
    TestFrm& frm = *window.frm;
    EXPECT_EQ(ctx.slots.DiskCount, 0);
    const auto handle = [&](int slot) { return ctx.slots.DiskSlots[slot - 1].Handle; };
    // The serial at the end of a slot's device line names its drive.
    const auto serial = [&](int slot) { return ctx.slots.DiskSlots[slot - 1].DeviceText.right(8); };
    // USB drives' handles given back since the trace was cleared (the PC's own disk is given
    // back at every discovery).
    const auto closed = [&] {
        std::vector<qint64> given;
        for (const auto& c : rack.Calls("CloseHandle")) {
            if (c.drive != 0) {
                given.push_back(c.args[0]);
            }
        }
        return given;
    };

    // Never deaf: a Vasket killed under the station is started again, and the station says so.
    const std::optional<pid_t> first = ChannelMonitor(window.channel);
    ASSERT_TRUE(first.has_value());
    ASSERT_EQ(::kill(*first, SIGKILL), 0);
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            const auto now = ChannelMonitor(window.channel);
            return now && *now != *first && window.MonitorStation() == ::getpid();
        },
        15000))
        << "the monitor was not started again";
    EXPECT_TRUE(frm.StatusLab->isVisible() &&
                frm.StatusLab->text().contains("Vasket had ended; started again"));
    QTest::qWait(300); // the new Vasket reads the rack first

    rack.Tool({"plug", "2"});
    ASSERT_TRUE(window.WaitForDrives(1));
    EXPECT_EQ(std::pair(frm.PictureOf(0), frm.PictureOf(1)),
              std::pair(kPictureAttached, kPictureNoDrive));
    // An arrival keeps the slots, but each probe hands out a new handle: the one it replaces is
    // closed.
    const qint64 before = handle(1);
    rack.ClearTrace();
    rack.Tool({"plug", "3"});
    ASSERT_TRUE(window.WaitForDrives(2));
    EXPECT_NE(handle(1), before);
    EXPECT_EQ(closed(), std::vector<qint64>{before});
    rack.Tool({"plug", "4"});
    ASSERT_TRUE(window.WaitForDrives(3));
    const std::vector<qint64> held = {handle(1), handle(2), handle(3)};
    rack.ClearTrace();
    rack.Tool({"unplug", "3"});
    ASSERT_TRUE(window.WaitForDrives(2));
    EXPECT_EQ(closed(), held) << "every handle is released before rediscovery";
    EXPECT_EQ(serial(1) + serial(2), "A2000002A4000004");
    EXPECT_EQ(std::pair(frm.PictureOf(1), frm.PictureOf(2)),
              std::pair(kPictureAttached, kPictureNoDrive));

    // A second station on the same channel refuses before starting a monitor of its own; this
    // one keeps its channel and its monitor.
    QProcess second;
    second.start(QStringLiteral(UFD_BIN_DIR "/ufd-station"), {"--batch"});
    ASSERT_TRUE(second.waitForFinished(30000));
    EXPECT_EQ(second.exitCode(), 2);
    EXPECT_EQ(QString::fromLocal8Bit(second.readAllStandardOutput()).section('\n', 0, 0),
              "Message (style 16, \"UFD Manufacture Program\"): Another station is already "
              "running on the notice channel \"" +
                  window.channel +
                  "\". Close it first, or start this one with its own channel: set "
                  "UFD_NOTICE_CHANNEL to another name. -> OK");
    EXPECT_EQ(window.MonitorStation(), ::getpid());
    rack.Tool({"unplug", "4"});
    ASSERT_TRUE(window.WaitForDrives(1));
    EXPECT_EQ(serial(1), "A2000002");
    window.frm.reset();
}

} // namespace
} // namespace ufd
