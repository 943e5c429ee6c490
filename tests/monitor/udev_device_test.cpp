// libudev's own objects for whatever block devices this machine has.
#include "monitor/device_filter.h"
#include "monitor/udev_events.h"

#include <gtest/gtest.h>
#include <libudev.h>

#include <filesystem>

namespace ufd {
namespace {

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
