#include "monitor/device_filter.h"

#include <algorithm>

namespace ufd {

namespace {

bool IsMassStorageDriver(const std::string& driver) {
    return driver == "usb-storage" || driver == "uas";
}

bool IsMassStorageInterface(const DeviceNode& node) {
    return node.subsystem == "usb" && node.devtype == "usb_interface" &&
           IsMassStorageDriver(node.driver);
}

std::string Property(const DeviceNode& node, const std::string& key) {
    const auto found = node.properties.find(key);
    return found == node.properties.end() ? std::string() : found->second;
}

} // namespace

bool IsUsbStorageDisk(const std::vector<DeviceNode>& chain) {
    if (chain.empty()) {
        return false;
    }
    const DeviceNode& self = chain.front();
    if (self.subsystem != "block" || self.devtype != "disk") {
        return false;
    }
    if (std::any_of(chain.begin() + 1, chain.end(), IsMassStorageInterface)) {
        return true;
    }
    // A removed disk's USB parents may already be gone from sysfs; then the
    // property udev recorded while it was there decides. A chain that still
    // shows USB nodes, none of them mass storage, is not overruled by it.
    const bool usbVisible = std::any_of(chain.begin() + 1, chain.end(), [](const DeviceNode& node) {
        return node.subsystem == "usb";
    });
    return !usbVisible && IsMassStorageDriver(Property(self, "ID_USB_DRIVER"));
}

void UsbDiskTracker::Know(const std::string& devpath) {
    known_.insert(devpath);
}

bool UsbDiskTracker::Knows(const std::string& devpath) const {
    return known_.count(devpath) != 0;
}

std::optional<DiskChange> UsbDiskTracker::Classify(const DeviceEvent& event) {
    const bool known = Knows(event.devpath);
    if (event.action == "add") {
        if (!IsUsbStorageDisk(event.chain)) {
            return std::nullopt;
        }
        known_.insert(event.devpath);
        return DiskChange{DiskAction::Added, event.devpath};
    }
    if (event.action == "remove") {
        if (!known && !IsUsbStorageDisk(event.chain)) {
            return std::nullopt;
        }
        known_.erase(event.devpath);
        return DiskChange{DiskAction::Removed, event.devpath};
    }
    if (event.action == "change") {
        if (!known && !IsUsbStorageDisk(event.chain)) {
            return std::nullopt;
        }
        known_.insert(event.devpath);
        return DiskChange{DiskAction::Changed, event.devpath};
    }
    return std::nullopt;
}

} // namespace ufd
