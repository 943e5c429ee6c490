#include "sysfs_device.h"

#include <algorithm>
#include <cctype>
#include <fstream>
#include <system_error>

namespace quorlink::sg {
namespace fs = std::filesystem;
namespace {

std::string trim(std::string s) {
    auto blank = [](unsigned char c) { return std::isspace(c) != 0 || c == 0; };
    while (!s.empty() && blank(static_cast<unsigned char>(s.back()))) {
        s.pop_back();
    }
    size_t i = 0;
    while (i < s.size() && blank(static_cast<unsigned char>(s[i]))) {
        ++i;
    }
    return s.substr(i);
}

std::string readAttribute(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    if (!in) {
        return {};
    }
    std::string line;
    std::getline(in, line);
    return trim(line);
}

// Device-line fields: the separators of the line itself and anything
// unprintable become '_', so one odd vendor string cannot change its shape.
std::string field(const std::string& raw) {
    std::string out = raw;
    for (char& c : out) {
        const auto u = static_cast<unsigned char>(c);
        if (u <= 0x20 || u >= 0x7F || c == '\\' || c == '&') {
            c = '_';
        }
    }
    return out;
}

std::string typeName(int peripheralType) {
    switch (peripheralType) {
    case -1:
    case 0:
        return "Disk";
    case 5:
        return "CdRom";
    default:
        return "Other";
    }
}

fs::path sgDeviceDir(const Roots& roots, int index) {
    return roots.sys / "class" / "scsi_generic" / ("sg" + std::to_string(index)) / "device";
}

// A non-USB device must never look like USB storage to the station, whatever
// its vendor strings say.
std::string withoutUsbStorageMark(std::string line) {
    for (;;) {
        std::string lower = line;
        std::transform(lower.begin(), lower.end(), lower.begin(),
                       [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
        const size_t at = lower.find("usbstor");
        if (at == std::string::npos) {
            return line;
        }
        line.replace(at, 7, "USB_STOR");
    }
}

} // namespace

SgDeviceInfo describeSgDevice(const Roots& roots, int index) {
    SgDeviceInfo info;
    std::error_code ec;
    const fs::path scsiDevice = fs::canonical(sgDeviceDir(roots, index), ec);
    if (ec) {
        return info;
    }
    info.known = true;
    info.vendor = readAttribute(scsiDevice / "vendor");
    info.model = readAttribute(scsiDevice / "model");
    info.rev = readAttribute(scsiDevice / "rev");
    const std::string type = readAttribute(scsiDevice / "type");
    if (!type.empty() && std::all_of(type.begin(), type.end(), ::isdigit) && type.size() < 4) {
        info.peripheralType = std::stoi(type);
    }

    const fs::path sysRoot = fs::weakly_canonical(roots.sys, ec);
    for (fs::path dir = scsiDevice.parent_path();
         !dir.empty() && dir != dir.root_path() && dir != sysRoot; dir = dir.parent_path()) {
        const fs::path driver = fs::canonical(dir / "driver", ec);
        if (ec) {
            continue;
        }
        const std::string name = driver.filename().string();
        if (name == "usb-storage" || name == "uas") {
            info.usbStorage = true;
            info.usbDriver = name;
            // The interface's parent is the USB device, which holds the serial.
            info.serial = readAttribute(dir.parent_path() / "serial");
            info.portPath = dir.parent_path().filename().string();
            break;
        }
    }
    return info;
}

std::string deviceLine(const SgDeviceInfo& info) {
    const std::string ids = typeName(info.peripheralType) + "&Ven_" + field(info.vendor) +
                            "&Prod_" + field(info.model) + "&Rev_" + field(info.rev);
    if (info.usbStorage) {
        const std::string serial = info.serial.empty() ? "0" : field(info.serial);
        return "USBSTOR\\" + ids + "\\" + serial;
    }
    return withoutUsbStorageMark("SCSI\\" + ids);
}

std::vector<BlockNode> blockNodes(const Roots& roots, int index) {
    std::vector<BlockNode> nodes;
    std::error_code ec;
    const fs::path blockDir = sgDeviceDir(roots, index) / "block";
    for (fs::directory_iterator disk(blockDir, ec), end; !ec && disk != end; disk.increment(ec)) {
        const std::string diskName = disk->path().filename().string();
        nodes.push_back({diskName, readAttribute(disk->path() / "dev"), false});
        std::error_code inner;
        for (fs::directory_iterator part(disk->path(), inner); !inner && part != end;
             part.increment(inner)) {
            std::error_code probe;
            if (fs::exists(part->path() / "partition", probe)) {
                nodes.push_back(
                    {part->path().filename().string(), readAttribute(part->path() / "dev"), true});
            }
        }
    }
    std::sort(nodes.begin(), nodes.end(),
              [](const BlockNode& a, const BlockNode& b) { return a.name < b.name; });
    return nodes;
}

} // namespace quorlink::sg
