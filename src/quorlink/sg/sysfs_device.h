// What sysfs says about /dev/sgN: the SCSI identity, whether it sits behind a
// USB mass-storage interface (and which USB device that is), and its block
// device with partitions.
#pragma once

#include "quorlink_conf.h"

#include <cstdint>
#include <filesystem>
#include <optional>
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
    int sg = -1;             // N of /dev/sgN
    bool known = false;      // sysfs has an entry for this sg device
    bool usbStorage = false; // a usb-storage or uas interface above it
    std::string usbDriver;   // "usb-storage" or "uas"
    int peripheralType = -1; // SCSI peripheral device type; 0 = direct access
    std::string vendor, model, rev, serial;
    std::string portPath;          // the USB device's name in sysfs: bus-port[.port...], "1-2.3"
    std::optional<UsbId> usbId;    // idVendor:idProduct of that USB device
    std::string scsiAddress;       // "host:channel:target:lun", e.g. "6:0:0:0"
    std::string blockName;         // whole-disk block device ("sdb"); empty: none yet
    uint32_t logicalBlockSize = 0; // of that block device; 0: unknown
    uint32_t maxSectorsKb = 0;     // the most one command moves (queue/max_sectors_kb); 0: unknown
    std::vector<std::string> holders; // devices stacked on it ("dm-0"), as sysfs lists them
};

SgDeviceInfo describeSgDevice(const Roots& roots, int sg);

// Every /dev/sgN sysfs knows, in the order of N.
std::vector<int> sgNumbers(const Roots& roots);

// "USBSTOR\Disk&Ven_<vendor>&Prod_<product>&Rev_<rev>\<serial>" for USB
// storage the station may touch (`allowed`); a line without "usbstor" in any
// case for everything else, so discovery never makes it a slot.
std::string deviceLine(const SgDeviceInfo& info, bool allowed);

// The whole-disk block device(s) and every partition, read afresh each time:
// partitions come and go while the station formats.
std::vector<BlockNode> blockNodes(const Roots& roots, int sg);

// The kernel's count of the uevents it has sent (/sys/kernel/uevent_seqnum);
// nullopt when it cannot be read. Every device, partition or holder that
// comes, goes or changes in sysfs bumps it.
std::optional<uint64_t> ueventSeqnum(const Roots& roots);

// "1234:abcd", as lsusb and udev write it.
std::string usbIdText(UsbId id);

} // namespace quorlink::sg
