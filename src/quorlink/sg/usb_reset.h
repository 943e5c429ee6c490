// A USB reset for a drive that stopped answering: its USB device is found
// again through the port path the drive's sysfs ancestry gave at open (the
// device number may have changed since), reset through its usbfs node, and
// the drive's SCSI generic device is then looked for at the same port.
#pragma once

#include "quorlink_conf.h"
#include "sg_system.h"
#include "sysfs_device.h"

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <variant>

namespace quorlink::sg {

struct UsbDeviceNode {
    std::filesystem::path node; // /dev/bus/usb/BBB/DDD
    std::optional<UsbId> usbId;
    std::string serial;
};

// The USB device sysfs shows at `portPath` ("1-2.3") now; nullopt: nothing
// there, or no bus and device number to name its node.
std::optional<UsbDeviceNode> usbDeviceAtPort(const Roots& roots, const std::string& portPath);

// The disk at the port of `opened` with the same logical unit, once it has
// its block device again: its own sg device when that is still there.
std::optional<SgDeviceInfo> findDriveAtPort(const Roots& roots, const SgDeviceInfo& opened);

// Resets the USB device of the drive `opened` describes, then waits up to
// `wait` for its disk to be back. The drive as sysfs shows it after the
// reset, or why there was no reset (refused, failed, or the drive did not
// come back).
std::variant<SgDeviceInfo, std::string> resetUsbDevice(const Roots& roots, SgSystem& system,
                                                       const QuorlinkConf& conf,
                                                       const SgDeviceInfo& opened,
                                                       std::chrono::milliseconds wait);

} // namespace quorlink::sg
