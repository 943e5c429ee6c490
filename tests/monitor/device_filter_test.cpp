// The udev side of Vasket: the filter on recorded properties, as udevadm
// shows them for the kinds of disk a line PC meets, and on libudev's own
// objects for this machine's block devices; the monitor's wiring with
// scripted drives and a scripted channel.
#include "monitor/device_filter.h"
#include "monitor/monitor.h"
#include "monitor/udev_events.h"

#include <QProcess>
#include <QTest>

#include <gtest/gtest.h>
#include <libudev.h>

#include <filesystem>

#include <unistd.h>

namespace ufd {
namespace {

using std::chrono::milliseconds;

DeviceNode Block(const std::string& devtype, std::map<std::string, std::string> properties = {}) {
    return {"block", devtype, "", std::move(properties)};
}
DeviceNode Scsi(const std::string& devtype, const std::string& driver = "") {
    return {"scsi", devtype, driver, {}};
}
DeviceNode UsbInterface(const std::string& driver) {
    return {"usb", "usb_interface", driver, {}};
}
const DeviceNode kUsbDevice = {"usb", "usb_device", "usb", {}};
const DeviceNode kPci = {"pci", "", "xhci_hcd", {}};

std::vector<DeviceNode> UsbStick(const std::string& driver, const std::string& devtype = "disk") {
    return {Block(devtype, {{"ID_BUS", "usb"}, {"ID_USB_DRIVER", driver}}),
            Scsi("scsi_device", "sd"),
            Scsi("scsi_target"),
            Scsi("scsi_host"),
            UsbInterface(driver),
            kUsbDevice,
            kUsbDevice,
            kPci};
}

const std::vector<DeviceNode> kSata = {Block("disk", {{"ID_BUS", "ata"}}),
                                       Scsi("scsi_device", "sd"),
                                       Scsi("scsi_host"),
                                       {"pci", "", "ahci", {}}};

TEST(DeviceFilter, OnlyWholeUsbStorageDisks) {
    const std::pair<std::vector<DeviceNode>, bool> cases[] = {
        {UsbStick("usb-storage"), true},
        {UsbStick("uas"), true},
        {UsbStick("usb-storage", "partition"), false},
        {kSata, false},
        {{Block("disk"), {"mmc", "", "mmcblk", {}}, {"pci", "", "sdhci-pci", {}}}, false},
        {{kUsbDevice, kPci}, false},
        {{UsbInterface("hub"), kUsbDevice, kPci}, false},
        {{Block("disk", {{"ID_USB_DRIVER", "usb-storage"}}), UsbInterface("usbfs"), kUsbDevice},
         false},
        // Removed: sysfs is gone and udev hands over the node's properties.
        {{Block("disk", {{"ID_USB_DRIVER", "usb-storage"}})}, true},
        {{Block("disk", {{"ID_USB_DRIVER", "uas"}}), Scsi("scsi_device")}, true},
        {{Block("disk", {{"ID_BUS", "ata"}})}, false},
        {{Block("partition", {{"ID_USB_DRIVER", "usb-storage"}})}, false},
        {{{"block", "", "", {}}, Scsi("scsi_device", "sr"), UsbInterface("usb-storage")}, false},
        {{}, false},
    };
    int i = 0;
    for (const auto& [chain, usbDisk] : cases) {
        EXPECT_EQ(IsUsbStorageDisk(chain), usbDisk) << "case " << i++;
    }
}

const std::string kStick =
    "/devices/pci0000:00/0000:00:14.0/usb1/1-2/1-2:1.0/host6/target6:0:0/6:0:0:0/block/sdb";

TEST(DeviceFilter, TrackerFollowsADiskThroughAddChangeAndBareRemove) {
    UsbDiskTracker tracker;
    for (const char* action : {"bind", "unbind", "move", "online", "offline", ""}) {
        EXPECT_FALSE(tracker.Classify({action, kStick, UsbStick("usb-storage")})) << action;
    }
    for (const char* action : {"add", "change", "remove"}) {
        EXPECT_FALSE(tracker.Classify({action, "/devices/pci0000:00/ata1/block/sda", kSata}));
        EXPECT_FALSE(tracker.Classify({action, kStick + "/sdb1", UsbStick("uas", "partition")}));
    }
    // A bare remove of a disk never seen is no USB drive.
    EXPECT_FALSE(tracker.Classify({"remove", "/devices/virtual/block/loop3", {Block("disk")}}));

    const auto added = tracker.Classify({"add", kStick, UsbStick("usb-storage")});
    ASSERT_TRUE(added);
    EXPECT_EQ(added->action, DiskAction::Added);
    EXPECT_EQ(added->devpath, kStick);
    EXPECT_EQ(tracker.Classify({"change", kStick, UsbStick("usb-storage")})->action,
              DiskAction::Changed);
    // By the time the remove event is read, udev may hand over nothing but
    // the block node itself.
    EXPECT_EQ(tracker.Classify({"remove", kStick, {Block("disk")}})->action, DiskAction::Removed);
    EXPECT_FALSE(tracker.Knows(kStick));
}

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

DeviceEvent Disk(const std::string& action, const std::string& devpath) {
    return {action, devpath, UsbStick("usb-storage")};
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
    devices.Push({{"add", "/sda", kSata}, {"remove", "/sda", kSata}});
    devices.Push({Disk("add", "/sdb"), {"add", "/sdb/sdb1", UsbStick("usb-storage", "partition")}});
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

// libudev's own objects for whatever block devices this machine has.
namespace fs = std::filesystem;

// An independent reading of sysfs: does any directory above the device hold
// a USB interface bound to a mass-storage driver?
bool SysfsShowsUsbStorage(const fs::path& device) {
    for (fs::path dir = device; dir.has_relative_path(); dir = dir.parent_path()) {
        std::error_code error;
        const fs::path driver = fs::read_symlink(dir / "driver", error);
        if (error) {
            continue;
        }
        const std::string name = driver.filename().string();
        if ((name == "usb-storage" || name == "uas") && fs::exists(dir / "bInterfaceNumber")) {
            return true;
        }
    }
    return false;
}

TEST(UdevDevices, DescribesEveryBlockDeviceOfThisMachineLikeSysfs) {
    const fs::path classBlock = "/sys/class/block";
    std::error_code error;
    if (!fs::is_directory(classBlock, error) || fs::is_empty(classBlock, error)) {
        GTEST_SKIP() << "no block devices under /sys/class/block on this machine";
    }
    const std::unique_ptr<udev, decltype(&udev_unref)> context(udev_new(), &udev_unref);
    ASSERT_TRUE(context);

    int described = 0;
    for (const fs::directory_entry& entry : fs::directory_iterator(classBlock)) {
        const fs::path real = fs::canonical(entry.path(), error);
        if (error) {
            continue;
        }
        const std::unique_ptr<udev_device, decltype(&udev_device_unref)> device(
            udev_device_new_from_syspath(context.get(), real.c_str()), &udev_device_unref);
        if (!device) {
            continue;
        }
        const DeviceEvent event = DescribeDevice(device.get());
        SCOPED_TRACE(real.string());
        ASSERT_FALSE(event.chain.empty());
        EXPECT_EQ(event.chain.front().subsystem, "block");
        const bool partition = fs::exists(real / "partition");
        EXPECT_EQ(event.chain.front().devtype, partition ? "partition" : "disk");
        EXPECT_EQ("/sys" + event.devpath, real.string());
        EXPECT_TRUE(event.action.empty()) << "a device read from sysfs carries no action";
        EXPECT_TRUE(DevicePresent(event.devpath));
        EXPECT_EQ(IsUsbStorageDisk(event.chain), !partition && SysfsShowsUsbStorage(real));
        ++described;
    }
    EXPECT_FALSE(DevicePresent("/devices/virtual/block/no-such-disk-here"));
    EXPECT_TRUE(DescribeDevice(nullptr).chain.empty());
    if (described == 0) {
        GTEST_SKIP() << "libudev could not open any block device here";
    }
}

} // namespace
} // namespace ufd
