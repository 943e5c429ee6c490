// Which block-device events concern a USB flash drive. Plain records in,
// verdicts out, so recorded udev property sets can be fed to it.
#pragma once

#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace ufd {

// One sysfs device as udev describes it.
struct DeviceNode {
    std::string subsystem;
    std::string devtype;
    std::string driver;
    std::map<std::string, std::string> properties;
};

// One event: the device itself first in the chain, then its parents outward.
struct DeviceEvent {
    std::string action; // "add", "remove", "change", "bind", ...
    std::string devpath;
    std::vector<DeviceNode> chain;
};

enum class DiskAction { Added, Removed, Changed };

struct DiskChange {
    DiskAction action;
    std::string devpath;
};

// True for the whole disk (not a partition) of a device behind a USB
// interface driven by usb-storage or uas. When no USB parent is readable
// any more (a remove event), udev's own ID_USB_DRIVER property decides.
bool IsUsbStorageDisk(const std::vector<DeviceNode>& chain);

// Remembers the USB disks it has seen, because a remove event arrives after
// sysfs is gone and may carry nothing that still names USB.
class UsbDiskTracker {
public:
    // A disk that was already there when the monitor started.
    void Know(const std::string& devpath);
    bool Knows(const std::string& devpath) const;

    // The change this event means for a USB disk, or nothing when it is
    // not about one (or is an action such as "bind" that changes nothing).
    std::optional<DiskChange> Classify(const DeviceEvent& event);

private:
    std::set<std::string> known_;
};

} // namespace ufd
