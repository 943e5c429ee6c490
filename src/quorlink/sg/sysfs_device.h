// What sysfs says about /dev/sgN: the SCSI identity, whether it sits behind a
// USB mass-storage interface, and its block device with partitions.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace quorlink::sg {

// Where the executor looks; tests point them into a temp tree.
struct Roots {
    std::filesystem::path sys = "/sys";
    std::filesystem::path dev = "/dev";
    std::filesystem::path mountInfo = "/proc/self/mountinfo";
};

struct BlockNode {
    std::string name;  // "sdb", "sdb1"
    std::string devId; // "8:16", from the node's dev file; empty if unreadable
    bool partition = false;
};

struct SgDeviceInfo {
    bool known = false;      // sysfs has an entry for this sg device
    bool usbStorage = false; // a usb-storage or uas interface above it
    std::string usbDriver;   // "usb-storage" or "uas"
    int peripheralType = -1; // SCSI peripheral device type; 0 = direct access
    std::string vendor, model, rev, serial;
    std::string portPath; // the USB device's name in sysfs: bus-port[.port...], "1-2.3"
};

SgDeviceInfo describeSgDevice(const Roots& roots, int index);

// "USBSTOR\Disk&Ven_<vendor>&Prod_<product>&Rev_<rev>\<serial>" for USB
// storage; a line without "usbstor" in any case for everything else.
std::string deviceLine(const SgDeviceInfo& info);

// The whole-disk block device(s) and every partition, read afresh each time:
// partitions come and go while the station formats.
std::vector<BlockNode> blockNodes(const Roots& roots, int index);

} // namespace quorlink::sg
