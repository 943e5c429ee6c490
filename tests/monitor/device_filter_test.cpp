#include "monitor/device_filter.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace ufd {
namespace {

// Property sets as udevadm shows them for the kinds of disk a line PC meets.
DeviceNode Block(const std::string& devtype, std::map<std::string, std::string> properties = {}) {
    return {"block", devtype, "", std::move(properties)};
}
DeviceNode Scsi(const std::string& devtype, const std::string& driver = "") {
    return {"scsi", devtype, driver, {}};
}
DeviceNode UsbInterface(const std::string& driver) {
    return {"usb", "usb_interface", driver, {}};
}
DeviceNode UsbDevice() {
    return {"usb", "usb_device", "usb", {}};
}
DeviceNode Pci() {
    return {"pci", "", "xhci_hcd", {}};
}

std::vector<DeviceNode> UsbStick(const std::string& driver, const std::string& devtype = "disk") {
    return {Block(devtype, {{"ID_BUS", "usb"}, {"ID_USB_DRIVER", driver}}),
            Scsi("scsi_device", "sd"),
            Scsi("scsi_target"),
            Scsi("scsi_host"),
            UsbInterface(driver),
            UsbDevice(),
            UsbDevice(),
            Pci()};
}

struct FilterCase {
    const char* name;
    std::vector<DeviceNode> chain;
    bool usbStorageDisk;
};

class UsbStorageDiskFilter : public ::testing::TestWithParam<FilterCase> {};

TEST_P(UsbStorageDiskFilter, Decides) {
    EXPECT_EQ(IsUsbStorageDisk(GetParam().chain), GetParam().usbStorageDisk);
}

INSTANTIATE_TEST_SUITE_P(
    RecordedDevices, UsbStorageDiskFilter,
    ::testing::Values(
        FilterCase{"UsbStorageDisk", UsbStick("usb-storage"), true},
        FilterCase{"UasDisk", UsbStick("uas"), true},
        FilterCase{"PartitionOfUsbDisk", UsbStick("usb-storage", "partition"), false},
        FilterCase{"SataDisk",
                   {Block("disk", {{"ID_BUS", "ata"}}),
                    Scsi("scsi_device", "sd"),
                    Scsi("scsi_target"),
                    Scsi("scsi_host"),
                    {"ata", "", "", {}},
                    {"pci", "", "ahci", {}}},
                   false},
        FilterCase{"MmcCard",
                   {Block("disk", {{"ID_NAME", "SD16G"}}),
                    {"mmc", "", "mmcblk", {}},
                    {"mmc_host", "", "", {}},
                    {"pci", "", "sdhci-pci", {}}},
                   false},
        FilterCase{"UsbHub", {UsbDevice(), Pci()}, false},
        FilterCase{"UsbHubInterface", {UsbInterface("hub"), UsbDevice(), Pci()}, false},
        FilterCase{
            "DiskBehindOtherUsbDriver",
            {Block("disk", {{"ID_USB_DRIVER", "usb-storage"}}), UsbInterface("usbfs"), UsbDevice()},
            false},
        FilterCase{"RemovedUsbDiskWithoutParents",
                   {Block("disk", {{"ID_USB_DRIVER", "usb-storage"}})},
                   true},
        FilterCase{"RemovedUasDiskWithScsiLeft",
                   {Block("disk", {{"ID_USB_DRIVER", "uas"}}), Scsi("scsi_device")},
                   true},
        FilterCase{"RemovedDiskWithoutUsbProperty", {Block("disk", {{"ID_BUS", "ata"}})}, false},
        FilterCase{"RemovedPartitionWithUsbProperty",
                   {Block("partition", {{"ID_USB_DRIVER", "usb-storage"}})},
                   false},
        FilterCase{"OpticalDriveIsNotADisk",
                   {{"block", "", "", {}}, Scsi("scsi_device", "sr"), UsbInterface("usb-storage")},
                   false},
        FilterCase{"NothingAtAll", {}, false}),
    [](const ::testing::TestParamInfo<FilterCase>& info) { return std::string(info.param.name); });

DeviceEvent Event(const std::string& action, const std::string& devpath,
                  std::vector<DeviceNode> chain) {
    return {action, devpath, std::move(chain)};
}

const std::string kStick =
    "/devices/pci0000:00/0000:00:14.0/usb1/1-2/1-2:1.0/host6/target6:0:0/6:0:0:0/block/sdb";

TEST(UsbDiskTracker, FollowsADiskThroughAddChangeAndBareRemove) {
    UsbDiskTracker tracker;
    const auto added = tracker.Classify(Event("add", kStick, UsbStick("usb-storage")));
    ASSERT_TRUE(added);
    EXPECT_EQ(added->action, DiskAction::Added);
    EXPECT_EQ(added->devpath, kStick);

    const auto changed = tracker.Classify(Event("change", kStick, UsbStick("usb-storage")));
    ASSERT_TRUE(changed);
    EXPECT_EQ(changed->action, DiskAction::Changed);

    // By the time the remove event is read, sysfs is gone and udev may hand
    // over nothing but the block node itself.
    const auto removed = tracker.Classify(Event("remove", kStick, {Block("disk")}));
    ASSERT_TRUE(removed);
    EXPECT_EQ(removed->action, DiskAction::Removed);
    EXPECT_FALSE(tracker.Knows(kStick));
}

TEST(UsbDiskTracker, BareRemoveOfAnUnknownDiskIsNotAUsbDrive) {
    UsbDiskTracker tracker;
    EXPECT_FALSE(
        tracker.Classify(Event("remove", "/devices/virtual/block/loop3", {Block("disk")})));
}

TEST(UsbDiskTracker, DisksPresentAtStartAreKnownForTheirRemoval) {
    UsbDiskTracker tracker;
    tracker.Know(kStick);
    const auto removed = tracker.Classify(Event("remove", kStick, {Block("disk")}));
    ASSERT_TRUE(removed);
    EXPECT_EQ(removed->action, DiskAction::Removed);
}

TEST(UsbDiskTracker, IgnoresActionsThatChangeNothingAndOtherDisks) {
    UsbDiskTracker tracker;
    for (const char* action : {"bind", "unbind", "move", "online", "offline", ""}) {
        EXPECT_FALSE(tracker.Classify(Event(action, kStick, UsbStick("usb-storage")))) << action;
    }
    const std::vector<DeviceNode> sata = {
        Block("disk"), Scsi("scsi_device", "sd"), {"pci", "", "ahci", {}}};
    for (const char* action : {"add", "change", "remove"}) {
        EXPECT_FALSE(tracker.Classify(Event(action, "/devices/pci0000:00/ata1/block/sda", sata)))
            << action;
    }
    EXPECT_FALSE(tracker.Knows(kStick));
}

TEST(UsbDiskTracker, PartitionEventsOfAUsbDiskAreDropped) {
    UsbDiskTracker tracker;
    for (const char* action : {"add", "change", "remove"}) {
        EXPECT_FALSE(
            tracker.Classify(Event(action, kStick + "/sdb1", UsbStick("usb-storage", "partition"))))
            << action;
    }
}

} // namespace
} // namespace ufd
