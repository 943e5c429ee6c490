// The monitor's wiring with scripted drives and a scripted channel.
#include "monitor/monitor.h"
#include "monitor/udev_events.h"

#include <QProcess>
#include <QTest>

#include <gtest/gtest.h>

#include <set>
#include <unistd.h>
#include <utility>
#include <vector>

namespace ufd {
namespace {

using std::chrono::milliseconds;

// Events written into a pipe, so the monitor's socket notifier wakes as it
// does for udev's netlink socket.
class ScriptedDevices final : public DeviceEventSource {
public:
    ScriptedDevices() { EXPECT_EQ(::pipe(fds_), 0); }
    ~ScriptedDevices() override {
        ::close(fds_[0]);
        ::close(fds_[1]);
    }
    void Push(std::vector<DeviceEvent> events) {
        queued_.insert(queued_.end(), events.begin(), events.end());
        [[maybe_unused]] const ssize_t n = ::write(fds_[1], "x", 1);
    }
    int Descriptor() const override { return fds_[0]; }
    std::vector<DeviceEvent> Drain() override {
        char buffer[64];
        [[maybe_unused]] const ssize_t n = ::read(fds_[0], buffer, sizeof buffer);
        return std::exchange(queued_, {});
    }
    std::vector<std::string> PresentUsbDisks() override { return atStart; }
    bool Present(const std::string& devpath) override { return present.count(devpath) != 0; }

    std::vector<std::string> atStart;
    std::set<std::string> present;

private:
    int fds_[2];
    std::vector<DeviceEvent> queued_;
};

std::vector<DeviceNode> UsbChain(const std::string& devtype) {
    return {{"block", devtype, "", {}},
            {"scsi", "scsi_device", "sd", {}},
            {"usb", "usb_interface", "usb-storage", {}},
            {"usb", "usb_device", "usb", {}}};
}

DeviceEvent Disk(const std::string& action, const std::string& devpath) {
    return {action, devpath, UsbChain("disk")};
}

// Every notice the monitor tried to send; the channel answers as told.
class MonitorTest : public ::testing::Test {
protected:
    MonitorTest() {
        monitor.SetSender([this](const QByteArray& text, std::optional<pid_t>* listener) {
            *listener = channelUp ? listenerPid : std::nullopt;
            if (channelUp) {
                delivered.push_back(text);
            }
            return channelUp;
        });
        monitor.SetListenerProbe([this] { return channelUp; });
    }
    static MonitorSettings Settings() {
        MonitorSettings settings; // grace 50 s: the listener rule cannot end a test
        settings.channel = QStringLiteral("unused");
        settings.presenceCheck = milliseconds(20);
        return settings;
    }
    bool channelUp = true;
    std::optional<pid_t> listenerPid;
    std::vector<QByteArray> delivered;
    ScriptedDevices devices;
    Monitor monitor{Settings()};
};

TEST_F(MonitorTest, UdevBurstsGiveOneNoticeAndOtherDisksNone) {
    devices.atStart = {"/sdc"};
    devices.present = {"/sdb"};
    monitor.WatchDevices(devices);
    const std::vector<DeviceNode> sata = {
        {"block", "disk", "", {}}, {"scsi", "scsi_device", "sd", {}}, {"pci", "", "ahci", {}}};
    devices.Push({{"add", "/sda", sata}, {"remove", "/sda", sata}});
    devices.Push({Disk("add", "/sdb"), {"add", "/sdb/sdb1", UsbChain("partition")}});
    devices.Push({Disk("change", "/sdb")});
    ASSERT_TRUE(QTest::qWaitFor([&] { return !delivered.empty(); }, 5000));
    QTest::qWait(300);
    EXPECT_EQ(delivered, std::vector<QByteArray>{"IN"});
    // The bare remove event of a disk there at the start names nothing USB.
    devices.Push({{"remove", "/sdc", {{"block", "disk", "", {}}}}});
    ASSERT_TRUE(QTest::qWaitFor([&] { return delivered.size() == 2; }, 5000));
    EXPECT_EQ(delivered.back(), "OUT");
}

TEST_F(MonitorTest, WithoutAPidItFollowsTheProcessThatTookANotice) {
    QProcess station;
    station.start(QStringLiteral("sleep"), {QStringLiteral("600")});
    ASSERT_TRUE(station.waitForStarted());
    listenerPid = static_cast<pid_t>(station.processId());
    devices.present = {"/sdb"};
    bool ended = false;
    QObject::connect(&monitor, &Monitor::Ended, [&] { ended = true; });
    monitor.WatchStation();
    monitor.WatchDevices(devices);
    devices.Push({Disk("add", "/sdb")});
    ASSERT_TRUE(QTest::qWaitFor([&] { return !delivered.empty(); }, 5000));
    QTest::qWait(100);
    EXPECT_FALSE(ended);
    station.kill();
    ASSERT_TRUE(station.waitForFinished());
    EXPECT_TRUE(QTest::qWaitFor([&] { return ended; }, 5000));
}

} // namespace
} // namespace ufd
