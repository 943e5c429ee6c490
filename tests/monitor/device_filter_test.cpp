// The udev filter on recorded properties, as udevadm shows them for the
// kinds of disk a line PC meets.
#include "monitor/device_filter.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace ufd {
namespace {

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

} // namespace
} // namespace ufd
