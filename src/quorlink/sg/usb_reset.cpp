#include "usb_reset.h"

#include "drive_map.h"

#include <charconv>
#include <cstdio>
#include <cstring>
#include <fstream>

namespace quorlink::sg {
namespace fs = std::filesystem;
namespace {

std::string firstLine(const fs::path& file) {
    std::ifstream in(file);
    std::string line;
    std::getline(in, line);
    while (!line.empty() && (line.back() == ' ' || line.back() == '\r')) {
        line.pop_back();
    }
    return line;
}

std::optional<unsigned> decimal(const std::string& text) {
    unsigned value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || ec != std::errc() || end != text.data() + text.size()) {
        return std::nullopt;
    }
    return value;
}

// "6:0:0:0" -> "0": the logical unit, which a reset keeps while the host
// number may change with a new SCSI host.
std::string lunOf(const std::string& scsiAddress) {
    const size_t at = scsiAddress.rfind(':');
    return at == std::string::npos ? scsiAddress : scsiAddress.substr(at + 1);
}

std::string idText(const std::optional<UsbId>& id) {
    return id ? usbIdText(*id) : "-";
}

} // namespace

std::optional<UsbDeviceNode> usbDeviceAtPort(const Roots& roots, const std::string& portPath) {
    // A port path is a sysfs name of its own: no separators, nothing relative.
    if (portPath.empty() || portPath.find('/') != std::string::npos || portPath[0] == '.') {
        return std::nullopt;
    }
    const fs::path dir = roots.sys / "bus" / "usb" / "devices" / portPath;
    const auto bus = decimal(firstLine(dir / "busnum"));
    const auto dev = decimal(firstLine(dir / "devnum"));
    if (!bus || !dev || *bus > 999 || *dev > 999) {
        return std::nullopt;
    }
    char name[16];
    std::snprintf(name, sizeof name, "%03u/%03u", *bus, *dev);
    UsbDeviceNode found;
    found.node = roots.dev / "bus" / "usb" / name;
    found.serial = firstLine(dir / "serial");
    unsigned vid = 0, pid = 0;
    const std::string v = firstLine(dir / "idVendor"), p = firstLine(dir / "idProduct");
    if (std::from_chars(v.data(), v.data() + v.size(), vid, 16).ec == std::errc() &&
        std::from_chars(p.data(), p.data() + p.size(), pid, 16).ec == std::errc() &&
        v.size() == 4 && p.size() == 4) {
        found.usbId = UsbId{static_cast<uint16_t>(vid), static_cast<uint16_t>(pid)};
    }
    return found;
}

std::optional<SgDeviceInfo> findDriveAtPort(const Roots& roots, const SgDeviceInfo& opened) {
    std::optional<SgDeviceInfo> found;
    for (const int n : sgNumbers(roots)) {
        SgDeviceInfo info = describeSgDevice(roots, n);
        if (!info.usbStorage || info.portPath != opened.portPath || info.blockName.empty() ||
            lunOf(info.scsiAddress) != lunOf(opened.scsiAddress)) {
            continue;
        }
        if (!found || n == opened.sg) {
            found = std::move(info);
        }
    }
    return found;
}

std::variant<SgDeviceInfo, std::string> resetUsbDevice(const Roots& roots, SgSystem& system,
                                                       const QuorlinkConf& conf,
                                                       const SgDeviceInfo& opened,
                                                       std::chrono::milliseconds wait) {
    const std::string sgName = "/dev/sg" + std::to_string(opened.sg);
    if (!opened.usbStorage || opened.portPath.empty()) {
        return "refused: " + sgName + " is not USB storage";
    }
    if (!onAllowList(conf, opened)) {
        const std::string file = conf.file.empty() ? "quorlink.conf" : conf.file.string();
        return "refused: USB " + idText(opened.usbId) + " is not in [Drives] Allow= of " + file;
    }
    const auto usb = usbDeviceAtPort(roots, opened.portPath);
    if (!usb) {
        return "no USB device at port " + opened.portPath + " to reset";
    }
    // Another stick plugged into the port since is not this drive's to reset.
    if (usb->usbId != opened.usbId || usb->serial != opened.serial) {
        return "refused: port " + opened.portPath + " holds another device now (USB " +
               idText(usb->usbId) + ", serial " + (usb->serial.empty() ? "-" : usb->serial) + ")";
    }
    const int err = system.resetUsb(usb->node.string());
    // ENODEV: the device came back as a new one (its descriptors changed),
    // which the search below finds as well as any.
    if (err != 0 && err != ENODEV) {
        return "USB reset of " + usb->node.string() + " failed: " + std::strerror(err);
    }
    const auto start = system.now();
    for (;;) {
        if (auto back = findDriveAtPort(roots, opened)) {
            return *back;
        }
        if (system.now() - start >= wait) {
            return "no disk at port " + opened.portPath + " within " +
                   std::to_string(std::chrono::duration_cast<std::chrono::seconds>(wait).count()) +
                   " s of the USB reset";
        }
        system.pause(std::chrono::milliseconds(100));
    }
}

} // namespace quorlink::sg
