// Hotplug end to end: the station window (offscreen, real dependencies: the
// Vasket it starts itself, its waits, libquorlink on a simulated rack) while
// ufd-rack plugs and unplugs drives.
#include "station/drive_pictures.h"
#include "support/sim_rack.h"
#include "support/station_window.h"

#include <QApplication>
#include <QTest>

#include <gtest/gtest.h>

#include <csignal>
#include <unistd.h>

namespace ufd {
namespace {

class Hotplug : public ::testing::Test {
protected:
    // Starts the station with only the given drives plugged.
    void Start(const std::vector<int>& plugged) {
        rack.Reset();
        for (int i = 1; i <= 7; ++i) {
            if (std::find(plugged.begin(), plugged.end(), i) == plugged.end()) {
                rack.Tool({"unplug", QString::number(i)});
            }
        }
        ASSERT_TRUE(window.Open(StationDependencies::Real()));
    }
    void TearDown() override { window.frm.reset(); }
    // Handles of USB drives given back since the trace was cleared (the PC's
    // own disk is given back at every discovery).
    std::vector<qint64> Closed() const {
        std::vector<qint64> closed;
        for (const auto& c : rack.Calls("CloseHandle")) {
            if (c.drive != 0) {
                closed.push_back(c.args[0]);
            }
        }
        return closed;
    }
    // The serial at the end of the slot's device line names its drive.
    QString Serial(int slot) const { return ctx.slots.DiskSlots[slot - 1].DeviceText.right(8); }

    test::SimRack& rack = test::SimRack::Shared("default.json");
    test::StationWindow window;
    const QString& channel = window.channel;
    StationContext& ctx = window.ctx;
    std::unique_ptr<TestFrm>& frm = window.frm;
};

TEST_F(Hotplug, PlugTurnsARowYellowAndPullingTheMiddleOneRenumbers) {
    Start({});
    EXPECT_EQ(ctx.slots.DiskCount, 0);
    EXPECT_FALSE(frm->GoCmd->isEnabled());

    rack.Tool({"plug", "2"});
    ASSERT_TRUE(window.WaitForDrives(1));
    EXPECT_EQ(frm->PictureOf(0), kPictureAttached);
    EXPECT_EQ(frm->PictureOf(1), kPictureNoDrive);
    EXPECT_TRUE(frm->GoCmd->isEnabled());

    // An arrival keeps the slots, but each probe hands out a new handle: the
    // one it replaces is closed.
    const qint64 first = ctx.slots.DiskSlots[0].Handle;
    rack.ClearTrace();
    rack.Tool({"plug", "3"});
    ASSERT_TRUE(window.WaitForDrives(2));
    EXPECT_NE(ctx.slots.DiskSlots[0].Handle, first);
    EXPECT_EQ(Closed(), std::vector<qint64>{first});
    rack.Tool({"plug", "4"});
    ASSERT_TRUE(window.WaitForDrives(3));
    std::vector<qint64> held;
    for (int n = 1; n <= 3; ++n) {
        held.push_back(ctx.slots.DiskSlots[n - 1].Handle);
    }
    rack.ClearTrace();
    rack.Tool({"unplug", "3"});
    ASSERT_TRUE(window.WaitForDrives(2));
    EXPECT_EQ(Closed(), held) << "every handle is released before rediscovery";
    EXPECT_EQ(Serial(1), "A2000002");
    EXPECT_EQ(Serial(2), "A4000004");
    EXPECT_EQ(frm->PictureOf(1), kPictureAttached);
    EXPECT_EQ(frm->PictureOf(2), kPictureNoDrive);

    // A second station on the same channel refuses before starting a
    // monitor of its own; this one keeps its channel and its monitor.
    QProcess second;
    second.start(QStringLiteral(UFD_BIN_DIR "/ufd-station"), {"--batch"});
    ASSERT_TRUE(second.waitForFinished(30000));
    EXPECT_EQ(second.exitCode(), 2);
    EXPECT_EQ(QString::fromLocal8Bit(second.readAllStandardOutput()).section('\n', 0, 0),
              "Message (style 16, \"UFD Manufacture Program\"): Another station is already "
              "running on the notice channel \"" +
                  channel +
                  "\". Close it first, or start this one with its own channel: set "
                  "UFD_NOTICE_CHANNEL to another name. -> OK");
    EXPECT_EQ(window.MonitorStation(), ::getpid());
    rack.Tool({"unplug", "4"});
    ASSERT_TRUE(window.WaitForDrives(1));
    EXPECT_EQ(Serial(1), "A2000002");
}

// Never deaf: a Vasket killed under the station is started again, the
// station says so, and the next plug is seen.
TEST_F(Hotplug, KilledMonitorIsStartedAgainAndSaidSo) {
    Start({});
    const std::optional<pid_t> first = ChannelMonitor(channel);
    ASSERT_TRUE(first.has_value());
    ASSERT_EQ(::kill(*first, SIGKILL), 0);
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            const auto now = ChannelMonitor(channel);
            return now && *now != *first && window.MonitorStation() == ::getpid();
        },
        15000))
        << "the monitor was not started again";
    ASSERT_NE(frm->StatusLab, nullptr);
    EXPECT_TRUE(frm->StatusLab->isVisible());
    EXPECT_TRUE(frm->StatusLab->text().contains("Vasket had ended; started again"));
    QTest::qWait(300); // the new Vasket reads the rack first
    rack.Tool({"plug", "2"});
    EXPECT_TRUE(window.WaitForDrives(1));
}

} // namespace
} // namespace ufd
